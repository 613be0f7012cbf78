// Fuzz target for the JSON-RPC session that `talrec host` and `talrec serve` share: arbitrary
// bytes as one message (a line, a frame) through parsing, name lookup, the conversion of the
// arguments to VARIANTs, Invoke and the reply. The object called is a small fake with a type
// description of its own (methods and a property), so no control module is needed. Beyond what
// the sanitizers catch (and the leak checker, for every BSTR and VARIANT), it checks the
// session's promises: at most one message out, always one JSON-RPC 2.0 object; a request with an
// id gets exactly one reply carrying that id, with a result or an error of integer code.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/rpc/RpcSession.h"
#include "platform/ext/oletlbdata.h"
#include "platform/oleauto.h"

namespace {

void Require(bool condition, const char* what, const std::string& detail = {}) {
    if (condition) return;
    std::fprintf(stderr, "JSON-RPC session broke its promise: %s\n%s\n", what, detail.c_str());
    std::abort();
}

constexpr GUID kIid = {
    0x6d1bfa21, 0x3c5e, 0x4a0b, {0x9e, 0x12, 0x41, 0x7a, 0x55, 0x02, 0xc3, 0x8f}};
constexpr GUID kLibid = {
    0x6d1bfa22, 0x3c5e, 0x4a0b, {0x9e, 0x12, 0x41, 0x7a, 0x55, 0x02, 0xc3, 0x8f}};

enum : DISPID { kEcho = 1, kJoin = 2, kText = 3, kFail = 4, kNumber = 5 };

const TLIBPARAMDATA kOne[] = {{"value", VT_VARIANT}};
const TLIBPARAMDATA kTwo[] = {{"first", VT_BSTR}, {"second", VT_BSTR}};
const TLIBPARAMDATA kLong[] = {{"number", VT_I4}};
const TLIBMEMBERDATA kMembers[] = {
    {kEcho, TLIBMEMBER_METHOD, "Echo", VT_VARIANT, kOne, 1, "", 0},
    {kJoin, TLIBMEMBER_METHOD, "Join", VT_BSTR, kTwo, 2, "", 0},
    {kText, TLIBMEMBER_PROPERTY, "Text", VT_BSTR, nullptr, 0, "", 0},
    {kFail, TLIBMEMBER_METHOD, "Fail", VT_I4, nullptr, 0, "", 0},
    {kNumber, TLIBMEMBER_METHOD, "Number", VT_I4, kLong, 1, "", 0},
};
const TLIBTYPEDATA kTypes[] = {
    {TKIND_DISPATCH, kIid, "_DFake", "", 0, kMembers, 5, nullptr, 0},
};
const TLIBDATA kLibrary = {TLIBDATA_VERSION, kLibid, 0x0409, 1, 0,      0,
                           "FakeLib",        "",     "",     0, kTypes, 1};

// Members found through the type description, arguments checked and coerced as automation
// does, results of every kind the session converts back.
class FakeControl final : public IDispatch {
  public:
    FakeControl() {
        ITypeLib* lib = nullptr;
        Require(SUCCEEDED(CreateTypeLibFromData(&kLibrary, &lib)), "the fake's type library");
        lib->GetTypeInfoOfGuid(kIid, &info_);
        lib->Release();
        VariantInit(&text_);
    }
    ~FakeControl() {
        VariantClear(&text_);
        info_->Release();
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        info_->AddRef();
        *info = info_;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return DispGetIDsOfNames(info_, names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr) override {
        VARIANT a, b;
        VariantInit(&a);
        VariantInit(&b);
        HRESULT hr = S_OK;
        switch (id) {
            case kEcho:
                if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
                return VariantCopy(result, &params->rgvarg[0]);
            case kJoin:
                if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
                if (FAILED(hr = DispGetParam(params, 0, VT_BSTR, &a, argErr)) ||
                    FAILED(hr = DispGetParam(params, 1, VT_BSTR, &b, argErr))) {
                    break;
                }
                {
                    std::u16string joined(a.bstrVal, SysStringLen(a.bstrVal));
                    joined.append(b.bstrVal, SysStringLen(b.bstrVal));
                    result->vt = VT_BSTR;
                    result->bstrVal =
                        SysAllocStringLen(joined.data(), static_cast<UINT>(joined.size()));
                }
                break;
            case kText:
                if (flags & DISPATCH_PROPERTYPUT) {
                    if (params->cArgs != 1 || params->cNamedArgs != 1) return DISP_E_BADPARAMCOUNT;
                    if (FAILED(hr = VariantChangeType(&a, &params->rgvarg[0], 0, VT_BSTR))) break;
                    VariantClear(&text_);
                    text_ = a;
                    VariantInit(&a);
                    return S_OK;
                }
                if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
                return VariantCopy(result, &text_);
            case kFail:
                if (excep != nullptr) {
                    excep->scode = E_FAIL;
                    excep->bstrSource = SysAllocString(u"Fake");
                    excep->bstrDescription = SysAllocString(u"\xd55c\xae00 failure \xdc00");
                }
                return DISP_E_EXCEPTION;
            case kNumber:
                if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
                if (FAILED(hr = DispGetParam(params, 0, VT_I4, &a, argErr))) break;
                result->vt = VT_I4;
                result->lVal = a.lVal;
                break;
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
        VariantClear(&a);
        VariantClear(&b);
        return hr;
    }

  private:
    ITypeInfo* info_ = nullptr;
    VARIANT text_;
    ULONG refs_ = 1;
};

struct Harness {
    std::vector<std::string> out;
    std::unique_ptr<talrec::host::RpcSession> session;
    Harness() {
        session = std::make_unique<talrec::host::RpcSession>(
            talrec::host::ComContainer::Adopt(new FakeControl), 0x0409,
            [this](const std::string& message) { out.push_back(message); });
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness* harness = new Harness;  // one control for every input, as a connection has
    const std::string message(reinterpret_cast<const char*>(data), size);
    harness->out.clear();
    harness->session->Handle(message);

    Require(harness->out.size() <= 1, "more than one message for one request", message);
    nlohmann::json request = nlohmann::json::parse(message, nullptr, false);
    const bool wantsReply =
        !request.is_discarded() && request.is_object() && request.contains("id") &&
        request.contains("jsonrpc") && request["jsonrpc"] == "2.0" && request.contains("method") &&
        request["method"].is_string() && (request["id"].is_string() || request["id"].is_number());
    if (wantsReply) Require(harness->out.size() == 1, "no reply to a request", message);
    if (harness->out.empty()) return 0;
    nlohmann::json reply = nlohmann::json::parse(harness->out[0], nullptr, false);
    Require(reply.is_object() && reply.contains("jsonrpc") && reply["jsonrpc"] == "2.0",
            "reply not JSON-RPC 2.0", harness->out[0]);
    Require(reply.contains("result") != reply.contains("error"), "neither result nor error",
            harness->out[0]);
    if (reply.contains("error")) {
        Require(reply["error"]["code"].is_number_integer() && reply["error"]["message"].is_string(),
                "error without an integer code and a message", harness->out[0]);
    }
    if (wantsReply) Require(reply["id"] == request["id"], "reply to another id", harness->out[0]);
    return 0;
}
