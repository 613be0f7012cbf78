#include "host/common/ComContainer.h"

#include <vector>

#include "host/common/ControlClass.h"
#include "host/common/StatusText.h"
#include "host/common/VariantJson.h"
#include "platform/comcat.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"
#include "platform/winuser.h"
#include "platform/wrl/client.h"

namespace talrec::host {
namespace {

using Microsoft::WRL::ComPtr;

std::string FirstName(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    UINT count = 0;
    std::string out;
    if (SUCCEEDED(info->GetNames(id, &name, 1, &count)) && count == 1) {
        out = WideToUtf8(name, SysStringLen(name));
    }
    SysFreeString(name);
    return out;
}

}  // namespace

std::unique_ptr<ComContainer> ComContainer::Create(const std::string& progId, std::string& error) {
    OleString wide = Utf8ToWide(progId);
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(wide.c_str(), &clsid))) {
        error = "the control " + progId + " is not registered (run 'talrec register')";
        return nullptr;
    }
    // Script hosts refuse a control that is not marked safe for scripting.
    std::optional<std::vector<SafetyMark>> missing = MissingSafetyMarks(clsid);
    if (!missing || (!missing->empty() && missing->front().category == CATID_SafeForScripting)) {
        error = "the control " + progId + " is not marked safe for scripting";
        return nullptr;
    }
    IDispatch* control = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&control));
    if (FAILED(hr)) {
        error = "the control " + progId + " cannot be created: " + StatusText(hr);
        return nullptr;
    }
    return Adopt(control);
}

std::unique_ptr<ComContainer> ComContainer::Adopt(IDispatch* control) {
    std::unique_ptr<ComContainer> container(new ComContainer(control));
    container->LoadTypeDescriptions();
    return container;
}

// Reads the event interface's names and the dispatch interface's properties from the
// control's class description.
void ComContainer::LoadTypeDescriptions() {
    ComPtr<IProvideClassInfo> provide;
    ComPtr<ITypeInfo> coclass;
    if (SUCCEEDED(control_->QueryInterface(IID_IProvideClassInfo,
                                           reinterpret_cast<void**>(provide.GetAddressOf())))) {
        provide->GetClassInfo(coclass.GetAddressOf());
    }
    if (coclass) {
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(coclass->GetTypeAttr(&attr))) {
            for (UINT i = 0; i < attr->cImplTypes; ++i) {
                INT flags = 0;
                HREFTYPE ref = 0;
                ComPtr<ITypeInfo> source;
                if (FAILED(coclass->GetImplTypeFlags(i, &flags)) ||
                    (flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) !=
                        (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE) ||
                    FAILED(coclass->GetRefTypeOfImplType(i, &ref)) ||
                    FAILED(coclass->GetRefTypeInfo(ref, source.GetAddressOf()))) {
                    continue;
                }
                TYPEATTR* sourceAttr = nullptr;
                if (SUCCEEDED(source->GetTypeAttr(&sourceAttr))) {
                    eventsIid_ = sourceAttr->guid;
                    for (UINT f = 0; f < sourceAttr->cFuncs; ++f) {
                        FUNCDESC* desc = nullptr;
                        if (FAILED(source->GetFuncDesc(f, &desc))) continue;
                        eventNames_[desc->memid] = FirstName(source.Get(), desc->memid);
                        source->ReleaseFuncDesc(desc);
                    }
                    source->ReleaseTypeAttr(sourceAttr);
                }
            }
            coclass->ReleaseTypeAttr(attr);
        }
    }
    ComPtr<ITypeInfo> dispatch;
    if (SUCCEEDED(control_->GetTypeInfo(0, 0, dispatch.GetAddressOf())) && dispatch) {
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(dispatch->GetTypeAttr(&attr))) {
            for (UINT v = 0; v < attr->cVars; ++v) {
                VARDESC* desc = nullptr;
                if (FAILED(dispatch->GetVarDesc(v, &desc))) continue;
                properties_.insert(desc->memid);
                dispatch->ReleaseVarDesc(desc);
            }
            dispatch->ReleaseTypeAttr(attr);
        }
    }
}

ComContainer::~ComContainer() {
    if (point_) {
        point_->Unadvise(cookie_);
        point_.Reset();
    }
    DestroyControlWindow();
}

HRESULT ComContainer::Connect(EventSink::Handler handler) {
    ComPtr<IConnectionPointContainer> points;
    HRESULT hr = control_->QueryInterface(IID_IConnectionPointContainer,
                                          reinterpret_cast<void**>(points.GetAddressOf()));
    if (FAILED(hr)) return hr;
    hr = points->FindConnectionPoint(eventsIid_, point_.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    // The sink is made with one reference, which the connection point's own replaces.
    ComPtr<EventSink> sink;
    sink.Attach(new EventSink(eventsIid_, eventNames_, std::move(handler)));
    return point_->Advise(static_cast<IDispatch*>(sink.Get()), &cookie_);
}

HRESULT ComContainer::CreateControlWindow() {
    ComPtr<IOleObject> object;
    HRESULT hr =
        control_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(object.GetAddressOf()));
    if (FAILED(hr)) return hr;
    // The host shows nothing: the control's window is a message-only window (on Windows a
    // child window needs a parent).
    return object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, HWND_MESSAGE, nullptr);
}

HRESULT ComContainer::DestroyControlWindow() {
    ComPtr<IOleObject> object;
    HRESULT hr =
        control_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(object.GetAddressOf()));
    if (FAILED(hr)) return hr;
    return object->Close(OLECLOSE_NOSAVE);
}

DISPID ComContainer::DispatchId(const std::string& name, LCID lcid) const {
    DISPID id = DISPID_UNKNOWN;
    if (name.size() > 1 && name[0] == '#') {
        try {
            return std::stoi(name.substr(1));
        } catch (const std::exception&) {
            return DISPID_UNKNOWN;
        }
    }
    OleString wide = Utf8ToWide(name);
    LPOLESTR names[] = {wide.data()};
    return SUCCEEDED(control_->GetIDsOfNames(IID_NULL, names, 1, lcid, &id)) ? id : DISPID_UNKNOWN;
}

CallResult ComContainer::Call(const std::string& name, const nlohmann::json& params, LCID lcid) {
    CallResult out;
    const DISPID id = DispatchId(name, lcid);
    if (id == DISPID_UNKNOWN) out.hr = DISP_E_UNKNOWNNAME;
    if (FAILED(out.hr)) {
        out.message = "unknown name " + name;
        return out;
    }
    out.dispid = id;

    std::vector<VARIANT> args;  // last argument first, as automation passes them
    for (auto it = params.rbegin(); it != params.rend(); ++it) {
        std::optional<VARIANT> value = JsonToVariant(*it);
        if (!value) {
            for (VARIANT& arg : args) VariantClear(&arg);
            out.badParams = true;
            out.message = "arguments must be strings, numbers, booleans or null";
            return out;
        }
        args.push_back(*value);
    }
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS dp{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    WORD flags = DISPATCH_METHOD;
    if (properties_.count(id) != 0) {
        if (args.empty()) {
            flags = DISPATCH_PROPERTYGET;
        } else {
            flags = DISPATCH_PROPERTYPUT;
            dp.rgdispidNamedArgs = &putId;
            dp.cNamedArgs = 1;
        }
    }
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT argErr = 0;
    out.hr = control_->Invoke(id, IID_NULL, lcid, flags, &dp, &result, &excep, &argErr);
    for (VARIANT& arg : args) VariantClear(&arg);
    if (SUCCEEDED(out.hr)) {
        out.result = VariantToJson(result);
    } else if (out.hr == DISP_E_EXCEPTION) {
        out.message = excep.bstrDescription != nullptr
                          ? WideToUtf8(excep.bstrDescription, SysStringLen(excep.bstrDescription))
                          : StatusText(out.hr);
    } else {
        out.message = StatusText(out.hr);
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    VariantClear(&result);
    return out;
}

}  // namespace talrec::host
