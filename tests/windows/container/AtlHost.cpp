#include "Host.h"
#include "Text.h"

namespace {

// GetProcAddress gives a FARPROC; through void* the cast to the real type draws no warning.
template <typename Fn>
Fn Entry(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// atl.dll's entry points, resolved once.
using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxCreateControlExFn = HRESULT(WINAPI*)(LPCOLESTR name, HWND window, IStream* stream,
                                                IUnknown** container, IUnknown** control,
                                                REFIID sinkIid, IUnknown* sink);

class AtlHost final : public Host {
  public:
    AtlHost(HMODULE atl, AtlAxCreateControlExFn create) : atl_(atl), create_(create) {}
    ~AtlHost() override {
        Close();
        FreeLibrary(atl_);
    }

    HRESULT Create(const std::wstring& progId, HWND window, IUnknown** control) override {
        window_ = window;
        return create_(progId.c_str(), window, nullptr, &container_, control, IID_NULL, nullptr);
    }

    // The host lets the control go when its window is destroyed (Close(OLECLOSE_NOSAVE),
    // SetClientSite(nullptr), Release): releasing the container alone does not, since the
    // control holds the site.
    void Close() override {
        if (container_ == nullptr) return;
        DestroyWindow(window_);
        container_->Release();
        container_ = nullptr;
    }

  private:
    HMODULE atl_;
    AtlAxCreateControlExFn create_;
    HWND window_ = nullptr;
    IUnknown* container_ = nullptr;
};

}  // namespace

std::unique_ptr<Host> MakeAtlHost(std::string& error) {
    HMODULE atl = LoadLibraryW(L"atl.dll");
    if (atl == nullptr) {
        error = "atl.dll not found";
        return nullptr;
    }
    auto init = Entry<AtlAxWinInitFn>(atl, "AtlAxWinInit");
    auto create = Entry<AtlAxCreateControlExFn>(atl, "AtlAxCreateControlEx");
    if (init == nullptr || create == nullptr) {
        error = "atl.dll lacks AtlAxWinInit or AtlAxCreateControlEx";
        FreeLibrary(atl);
        return nullptr;
    }
    if (!init()) {
        error = "AtlAxWinInit failed";
        FreeLibrary(atl);
        return nullptr;
    }
    return std::make_unique<AtlHost>(atl, create);
}
