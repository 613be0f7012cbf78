// The container's event sink: connects to the control's default source interface, found
// through IProvideClassInfo, and logs every event with its name from the type library and its
// arguments as text. Threads: the control fires on the container's thread (an apartment
// control), so the log needs no lock; everything here runs on that thread.
#pragma once

#include <windows.h>
// (windows.h comes first: the other SDK headers rely on it.)
#include <ocidl.h>

#include <set>
#include <string>
#include <vector>

struct EventRecord {
    std::string name;
    std::vector<std::string> args;  // in the caller's order
};

class EventSink final : public IDispatch {
  public:
    EventSink() = default;
    EventSink(const EventSink&) = delete;
    EventSink& operator=(const EventSink&) = delete;

    // Connects to the control's event interface; false with a reason when it cannot.
    bool Connect(IUnknown* control, std::string& error);
    void Disconnect();

    // Events whose arrival is not printed (they are still logged and counted).
    void Quiet(const std::string& name) { quiet_.insert(name); }
    const std::vector<EventRecord>& Log() const { return log_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    // The sink lives on the container's stack; its count only guards against misuse.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                     UINT* argErr) override;

    ~EventSink();

  private:
    std::string NameOf(DISPID id) const;

    ULONG refs_ = 1;
    IID eventsIid_ = IID_NULL;
    ITypeInfo* eventsInfo_ = nullptr;
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
    std::set<std::string> quiet_;
    std::vector<EventRecord> log_;
};
