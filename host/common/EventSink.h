// The host's event sink: an IDispatch that the control calls for each event, on the thread
// that fires it (the host's user-interface thread). Each event is handed on by name with its
// arguments in the caller's order.
#pragma once

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/ext/comobject.h"
#include "platform/oaidl.h"

namespace talrec::host {

class EventSink final : public ComObject<IDispatch> {
  public:
    using Handler = std::function<void(const std::string& name, const nlohmann::json& args)>;

    // `events`: the source interface's id and its members' names by dispatch id.
    EventSink(const IID& events, std::map<DISPID, std::string> names, Handler handler);

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                     UINT* argErr) override;

  private:
    ~EventSink() override = default;
    IUnknown* Interface(REFIID riid) override {
        return riid == IID_IDispatch || riid == events_ ? static_cast<IDispatch*>(this) : nullptr;
    }

    IID events_;
    std::map<DISPID, std::string> names_;
    Handler handler_;
};

}  // namespace talrec::host
