#include "framework/comconnect.h"

#include <atomic>

#include "platform/ext/comobject.h"
#include "platform/oleauto.h"
#include "platform/wrl/client.h"

namespace {

using Microsoft::WRL::ComPtr;

// The enumerators hold a reference on each sink or point they hand out.
struct UnknownOfItem {
    IUnknown* operator()(const CONNECTDATA& d) const { return d.pUnk; }
    IUnknown* operator()(IConnectionPoint* p) const { return p; }
};
template <class Interface, class Item>
using CountedEnum = SnapshotEnum<Interface, Item, CountedItems<UnknownOfItem>>;

}  // namespace

CComConnectionPoint::CComConnectionPoint(IConnectionPointContainer* owner, REFIID iid)
    : owner_(owner), iid_(iid) {}

CComConnectionPoint::~CComConnectionPoint() {
    UnadviseAll();
}

HRESULT CComConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CComConnectionPoint::AddRef() {
    return owner_->AddRef();
}
ULONG CComConnectionPoint::Release() {
    return owner_->Release();
}

HRESULT CComConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT CComConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    owner_->AddRef();
    *container = owner_;
    return S_OK;
}

HRESULT CComConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie == nullptr) return E_POINTER;
    *cookie = 0;
    if (sink == nullptr) return E_POINTER;
    void* object = nullptr;
    if (FAILED(sink->QueryInterface(iid_, &object)) &&
        FAILED(sink->QueryInterface(IID_IDispatch, &object)))
        return CONNECT_E_CANNOTCONNECT;
    std::lock_guard lock(mutex_);
    *cookie = nextCookie_++;
    connections_.push_back({*cookie, static_cast<IDispatch*>(object)});
    return S_OK;
}

HRESULT CComConnectionPoint::Unadvise(DWORD cookie) {
    ComPtr<IDispatch> sink;  // released outside the lock: the sink's destruction may call back
    {
        std::lock_guard lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            if (it->cookie == cookie) {
                sink.Attach(it->sink);
                connections_.erase(it);
                break;
            }
        }
    }
    return sink ? S_OK : CONNECT_E_NOCONNECTION;
}

HRESULT CComConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections == nullptr) return E_POINTER;
    std::vector<CONNECTDATA> items;
    {
        std::lock_guard lock(mutex_);
        for (const Connection& c : connections_) items.push_back({c.sink, c.cookie});
        // The enumerator counts its own references before the lock is left.
        *connections =
            new CountedEnum<IEnumConnections, CONNECTDATA>(std::move(items), IID_IEnumConnections);
    }
    return S_OK;
}

UINT CComConnectionPoint::Fire(DISPID id, DISPPARAMS* params) {
    std::vector<ComPtr<IDispatch>> sinks;  // each with a reference of its own
    {
        std::lock_guard lock(mutex_);
        for (const Connection& c : connections_) sinks.emplace_back(c.sink);
    }
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    UINT delivered = 0;
    for (const ComPtr<IDispatch>& sink : sinks) {
        EXCEPINFO excep{};
        UINT argErr = 0;
        HRESULT hr = sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, params ? params : &none,
                                  nullptr, &excep, &argErr);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        if (SUCCEEDED(hr)) ++delivered;
    }
    return delivered;
}

void CComConnectionPoint::UnadviseAll() {
    std::vector<Connection> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(connections_);
    }
    for (const Connection& c : dropped) c.sink->Release();
}

UINT CComConnectionPoint::ConnectionCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<UINT>(connections_.size());
}

HRESULT CreateConnectionPointEnum(IConnectionPoint* const* points, ULONG count,
                                  IEnumConnectionPoints** enumerator) {
    if (enumerator == nullptr) return E_POINTER;
    if (count > 0 && points == nullptr) return E_INVALIDARG;
    *enumerator = new CountedEnum<IEnumConnectionPoints, IConnectionPoint*>(
        std::vector<IConnectionPoint*>(points, points + count), IID_IEnumConnectionPoints);
    return S_OK;
}
