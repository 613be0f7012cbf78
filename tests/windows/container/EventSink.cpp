#include "EventSink.h"

#include "Text.h"

namespace {

// The coclass's [default, source] interface.
HRESULT DefaultSource(IUnknown* control, ITypeInfo** events) {
    *events = nullptr;
    IProvideClassInfo* provide = nullptr;
    HRESULT hr = control->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&provide));
    if (FAILED(hr)) return hr;
    ITypeInfo* coclass = nullptr;
    hr = provide->GetClassInfo(&coclass);
    provide->Release();
    if (FAILED(hr)) return hr;
    TYPEATTR* attr = nullptr;
    hr = coclass->GetTypeAttr(&attr);
    if (SUCCEEDED(hr)) {
        hr = E_NOINTERFACE;
        for (UINT i = 0; i < attr->cImplTypes && hr == E_NOINTERFACE; ++i) {
            INT flags = 0;
            HREFTYPE ref = 0;
            if (FAILED(coclass->GetImplTypeFlags(i, &flags))) continue;
            const INT wanted = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
            if ((flags & wanted) != wanted) continue;
            if (SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref))) {
                hr = coclass->GetRefTypeInfo(ref, events);
            }
        }
        coclass->ReleaseTypeAttr(attr);
    }
    coclass->Release();
    return hr;
}

}  // namespace

EventSink::~EventSink() {
    Disconnect();
    if (eventsInfo_ != nullptr) eventsInfo_->Release();
}

bool EventSink::Connect(IUnknown* control, std::string& error) {
    HRESULT hr = DefaultSource(control, &eventsInfo_);
    if (FAILED(hr)) {
        error = "no default source interface through IProvideClassInfo: " + HresultText(hr);
        return false;
    }
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(eventsInfo_->GetTypeAttr(&attr))) {
        eventsIid_ = attr->guid;
        eventsInfo_->ReleaseTypeAttr(attr);
    }
    IConnectionPointContainer* container = nullptr;
    hr = control->QueryInterface(IID_IConnectionPointContainer,
                                 reinterpret_cast<void**>(&container));
    if (FAILED(hr)) {
        error = "no IConnectionPointContainer: " + HresultText(hr);
        return false;
    }
    hr = container->FindConnectionPoint(eventsIid_, &point_);
    container->Release();
    if (FAILED(hr)) {
        error = "FindConnectionPoint: " + HresultText(hr);
        return false;
    }
    hr = point_->Advise(static_cast<IDispatch*>(this), &cookie_);
    if (FAILED(hr)) {
        point_->Release();
        point_ = nullptr;
        error = "Advise: " + HresultText(hr);
        return false;
    }
    return true;
}

void EventSink::Disconnect() {
    if (point_ == nullptr) return;
    point_->Unadvise(cookie_);
    point_->Release();
    point_ = nullptr;
}

HRESULT EventSink::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == eventsIid_) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT EventSink::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

std::string EventSink::NameOf(DISPID id) const {
    BSTR name = nullptr;
    UINT found = 0;
    if (eventsInfo_ != nullptr && SUCCEEDED(eventsInfo_->GetNames(id, &name, 1, &found)) &&
        found == 1) {
        std::string text = Narrow(name);
        SysFreeString(name);
        return text;
    }
    return "event#" + std::to_string(id);
}

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                          UINT*) {
    EventRecord record{NameOf(id), {}};
    std::string line = "event " + record.name + "(";
    if (params != nullptr) {
        for (UINT i = 0; i < params->cArgs; ++i) {
            // rgvarg holds the arguments last first.
            std::string arg = VariantText(params->rgvarg[params->cArgs - 1 - i]);
            line += (i ? ", " : "") + arg;
            record.args.push_back(std::move(arg));
        }
    }
    if (quiet_.count(record.name) == 0) Say(line + ")");
    log_.push_back(std::move(record));
    return S_OK;
}
