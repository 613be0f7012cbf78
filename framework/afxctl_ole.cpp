// COleControl's COM identity: reference counting, interfaces, connection points, in-place
// activation, persistence and property pages. On the control's thread.
#include <cstring>

#include "framework/afxconv.h"
#include "framework/afxctl.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"

namespace {

// The framework's default extent: 100 by 50 pixels at 96 dots per inch, in HIMETRIC.
constexpr LONG kDefaultExtentX = 2646;
constexpr LONG kDefaultExtentY = 1323;

}  // namespace

bool CPropExchange::ExchangeLong(const char* name, LONG& value, LONG defaultValue) {
    std::u16string wideName = AfxAnsiToWide(name);
    VARIANT v;
    VariantInit(&v);
    if (loading_) {
        value = defaultValue;
        if (bag_ == nullptr || FAILED(bag_->Read(wideName.c_str(), &v, nullptr))) return false;
        bool ok = SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4));
        if (ok) value = v.lVal;
        VariantClear(&v);
        return ok;
    }
    v.vt = VT_I4;
    v.lVal = value;
    return bag_ != nullptr && SUCCEEDED(bag_->Write(wideName.c_str(), &v));
}

COleControl::COleControl(const Identity& identity, CModuleLock& module)
    : identity_(identity),
      module_(module),
      extent_{kDefaultExtentX, kDefaultExtentY},
      events_(this, identity.eventsIid) {
    ++module_.objects;
}

COleControl::~COleControl() {
    --module_.objects;
}

HRESULT COleControl::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == identity_.dispatchIid) {
        *object = static_cast<IDispatch*>(this);
    } else if (riid == IID_IConnectionPointContainer) {
        *object = static_cast<IConnectionPointContainer*>(this);
    } else if (riid == IID_IOleObject) {
        *object = static_cast<IOleObject*>(this);
    } else if (riid == IID_IPersistPropertyBag || riid == IID_IPersist) {
        *object = static_cast<IPersistPropertyBag*>(this);
    } else if (riid == IID_ISpecifyPropertyPages && identity_.propertyPage != nullptr) {
        *object = static_cast<ISpecifyPropertyPages*>(this);
    } else if (riid == IID_IProvideClassInfo) {
        *object = static_cast<IProvideClassInfo*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG COleControl::AddRef() {
    return ++refs_;
}

ULONG COleControl::Release() {
    ULONG left = --refs_;
    if (left == 0) {
        // The window goes while the whole object still exists, so its destruction handler
        // runs in the derived control; then the sinks are let go and the object deleted.
        refs_ = 1;  // guards against a Release from inside the teardown
        DestroyControlWindow();
        events_.UnadviseAll();
        delete this;
    }
    return left;
}

HRESULT COleControl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    IConnectionPoint* list[] = {&events_};
    return CreateConnectionPointEnum(list, 1, points);
}

HRESULT COleControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    if (riid != identity_.eventsIid) {
        *point = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

// The control asks nothing of its site (no ambient properties, no in-place frame).
HRESULT COleControl::SetClientSite(IOleClientSite*) {
    return S_OK;
}

HRESULT COleControl::GetClientSite(IOleClientSite** site) {
    if (site == nullptr) return E_POINTER;
    *site = nullptr;
    return E_NOTIMPL;
}

HRESULT COleControl::Close(DWORD) {
    DestroyControlWindow();
    return S_OK;
}

HRESULT COleControl::DoVerb(LONG verb, MSG*, IOleClientSite*, LONG, HWND parent, LPCRECT) {
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_OPEN:
        case OLEIVERB_UIACTIVATE:
        case OLEIVERB_INPLACEACTIVATE:
            return CreateControlWindow(parent);
        case OLEIVERB_HIDE:
            return S_OK;
        case OLEIVERB_PROPERTIES:
            OnProperties();
            return S_OK;
        default:
            return OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT COleControl::GetUserClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = identity_.clsid;
    return S_OK;
}

HRESULT COleControl::GetUserType(DWORD, LPOLESTR* userType) {
    if (userType == nullptr) return E_POINTER;
    *userType = AfxAllocTaskString(identity_.userTypeName);
    return *userType != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT COleControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return E_INVALIDARG;
    extent_ = *size;
    SetModifiedFlag();
    return S_OK;
}

HRESULT COleControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return E_INVALIDARG;
    *size = extent_;
    return S_OK;
}

HRESULT COleControl::GetMiscStatus(DWORD, DWORD* status) {
    if (status == nullptr) return E_POINTER;
    *status = identity_.miscStatus;
    return S_OK;
}

HRESULT COleControl::GetClassID(CLSID* clsid) {
    return GetUserClassID(clsid);
}

HRESULT COleControl::InitNew() {
    modified_ = FALSE;
    return S_OK;
}

HRESULT COleControl::Load(IPropertyBag* bag, IErrorLog*) {
    if (bag == nullptr) return E_POINTER;
    CPropExchange px(bag, true);
    DoPropExchange(&px);
    modified_ = FALSE;
    return S_OK;
}

HRESULT COleControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
    if (bag == nullptr) return E_POINTER;
    CPropExchange px(bag, false);
    DoPropExchange(&px);
    if (clearDirty) modified_ = FALSE;
    return S_OK;
}

void COleControl::DoPropExchange(CPropExchange* px) {
    px->ExchangeLong("_ExtentX", extent_.cx, kDefaultExtentX);
    px->ExchangeLong("_ExtentY", extent_.cy, kDefaultExtentY);
    LONG stockProps = 0;  // no stock property in use, so none follows
    px->ExchangeLong("_StockProps", stockProps, 0);
}

void COleControl::ExchangeVersion(CPropExchange* px, DWORD version) {
    LONG value = static_cast<LONG>(version);
    px->ExchangeLong("_Version", value, static_cast<LONG>(version));
    px->SetVersion(px->IsLoading() ? static_cast<DWORD>(value) : version);
}

HRESULT COleControl::GetPages(CAUUID* pages) {
    if (pages == nullptr) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    if (identity_.propertyPage == nullptr) return S_OK;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pages->pElems == nullptr) return E_OUTOFMEMORY;
    pages->pElems[0] = *identity_.propertyPage;
    pages->cElems = 1;
    return S_OK;
}

HRESULT COleControl::GetClassInfo(ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    return LoadTypeInfo(0, identity_.clsid, info);
}
