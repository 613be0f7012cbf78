#include <windows.h>
// (windows.h comes first: the other SDK headers rely on it.)
#include <olectl.h>

#include "Host.h"
#include "Text.h"

namespace {

// One object is the client site, the in-place site, the frame and the ambient-property
// dispatch; it lives as long as the host, so its count only guards against misuse.
class OwnSite final : public Host,
                      public IOleClientSite,
                      public IOleInPlaceSite,
                      public IOleInPlaceFrame,
                      public IDispatch {
  public:
    explicit OwnSite(bool trace) : trace_(trace) {}
    ~OwnSite() override { Close(); }

    HRESULT Create(const std::wstring& progId, HWND window, IUnknown** control) override;
    void Close() override;
    bool LeftInPlace() const override { return inPlace_; }

    // IUnknown, shared by all the interfaces.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return Note("SaveObject", S_OK); }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return Note("GetMoniker", E_NOTIMPL);
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return Note("GetContainer", E_NOINTERFACE);
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return Note("ShowObject", S_OK); }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return Note("OnShowWindow", S_OK); }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override {
        return Note("RequestNewObjectLayout", E_NOTIMPL);
    }

    // IOleWindow (shared by the in-place site and the frame)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        *window = window_;
        return Note("GetWindow", S_OK);
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override {
        return Note("CanInPlaceActivate", S_OK);
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
        inPlace_ = true;
        return Note("OnInPlaceActivate", S_OK);
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return Note("OnUIActivate", S_OK); }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame,
                                               IOleInPlaceUIWindow** document, LPRECT position,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return Note("OnUIDeactivate", S_OK); }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
        inPlace_ = false;
        return Note("OnInPlaceDeactivate", S_OK);
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override {
        return Note("OnPosRectChange", S_OK);
    }

    // IOleInPlaceUIWindow / IOleInPlaceFrame: no borders, menus or accelerators.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
        return INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
        return Note("SetActiveObject", S_OK);
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDispatch: the ambient properties a control asks for; the others are not there.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

  private:
    HRESULT Note(const char* call, HRESULT hr) {
        if (trace_) Say(std::string("site: ") + call + " -> " + HresultText(hr));
        return hr;
    }

    bool trace_;
    ULONG refs_ = 1;
    HWND window_ = nullptr;
    IOleObject* object_ = nullptr;
    bool inPlace_ = false;
};

HRESULT OwnSite::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
        *object = static_cast<IOleClientSite*>(this);
    } else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) {
        *object = static_cast<IOleInPlaceSite*>(this);
    } else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow) {
        *object = static_cast<IOleInPlaceFrame*>(this);
    } else if (riid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
    }
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT OwnSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                  LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    GetClientRect(window_, position);
    *clip = *position;
    if (info != nullptr) {
        info->fMDIApp = FALSE;
        info->hwndFrame = window_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
    }
    return Note("GetWindowContext", S_OK);
}

HRESULT OwnSite::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                        UINT*) {
    VARIANT value;
    VariantInit(&value);
    switch (id) {
        case DISPID_AMBIENT_USERMODE:
            V_VT(&value) = VT_BOOL;
            V_BOOL(&value) = VARIANT_TRUE;
            break;
        case DISPID_AMBIENT_UIDEAD:
        case DISPID_AMBIENT_SHOWHATCHING:
        case DISPID_AMBIENT_SHOWGRABHANDLES:
            V_VT(&value) = VT_BOOL;
            V_BOOL(&value) = VARIANT_FALSE;
            break;
        default:
            if (trace_) Say("site: ambient " + std::to_string(id) + " -> not there");
            return DISP_E_MEMBERNOTFOUND;
    }
    if (trace_) Say("site: ambient " + std::to_string(id));
    if (result != nullptr) *result = value;
    return S_OK;
}

HRESULT OwnSite::Create(const std::wstring& progId, HWND window, IUnknown** control) {
    *control = nullptr;
    window_ = window;
    CLSID clsid;
    HRESULT hr = progId.front() == L'{' ? CLSIDFromString(progId.c_str(), &clsid)
                                        : CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                          reinterpret_cast<void**>(&object_));
    if (FAILED(hr)) return hr;
    DWORD misc = 0;
    object_->GetMiscStatus(DVASPECT_CONTENT, &misc);
    IOleClientSite* site = static_cast<IOleClientSite*>(this);
    const bool siteFirst = (misc & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (siteFirst) object_->SetClientSite(site);
    IPersistStreamInit* persist = nullptr;
    if (SUCCEEDED(
            object_->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)))) {
        persist->InitNew();
        persist->Release();
    }
    if (!siteFirst) object_->SetClientSite(site);
    object_->SetHostNames(L"talrec test container", nullptr);
    RECT rect;
    GetClientRect(window, &rect);
    // HIMETRIC at 96 dots per inch: 2540 units to the inch.
    SIZEL extent = {MulDiv(rect.right, 2540, 96), MulDiv(rect.bottom, 2540, 96)};
    object_->SetExtent(DVASPECT_CONTENT, &extent);
    hr = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, window, &rect);
    if (FAILED(hr)) {
        Close();
        return hr;
    }
    return object_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(control));
}

void OwnSite::Close() {
    if (object_ == nullptr) return;
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
    object_->Release();
    object_ = nullptr;
}

}  // namespace

std::unique_ptr<Host> MakeOwnSite(bool traceCalls) {
    return std::make_unique<OwnSite>(traceCalls);
}
