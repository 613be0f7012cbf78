#include "host/common/EventSink.h"

#include "host/common/VariantJson.h"
#include "platform/oleauto.h"

namespace talrec::host {

EventSink::EventSink(const IID& events, std::map<DISPID, std::string> names, Handler handler)
    : events_(events), names_(std::move(names)), handler_(std::move(handler)) {}

HRESULT STDMETHODCALLTYPE EventSink::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

// On the thread that fires the event.
HRESULT STDMETHODCALLTYPE EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                            VARIANT*, EXCEPINFO*, UINT*) {
    auto name = names_.find(id);
    std::string event = name != names_.end() ? name->second : "#" + std::to_string(id);
    nlohmann::json args = nlohmann::json::array();
    if (params != nullptr) {
        for (UINT i = params->cArgs; i > 0; --i) {
            VARIANT value;
            VariantInit(&value);
            VariantCopyInd(&value, &params->rgvarg[i - 1]);
            args.push_back(VariantToJson(value));
            VariantClear(&value);
        }
    }
    handler_(event, args);
    return S_OK;
}

}  // namespace talrec::host
