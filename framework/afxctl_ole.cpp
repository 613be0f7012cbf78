// COleControl's COM identity: interfaces, connection points, the site and in-place
// activation, persistence and property pages. On the control's thread.
#include <cstring>
#include <utility>

#include "framework/afxconv.h"
#include "framework/afxctl.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"
#include "platform/wrl/client.h"

namespace {

using Microsoft::WRL::ComPtr;

// The framework's default extent: 100 by 50 pixels at 96 dots per inch, in HIMETRIC.
constexpr LONG kDefaultExtentX = 2646;
constexpr LONG kDefaultExtentY = 1323;

template <class Interface>
void Replace(Interface*& held, Interface* next) {
    if (next != nullptr) next->AddRef();
    Interface* old = held;
    held = next;
    if (old != nullptr) old->Release();
}

}  // namespace

bool CPropExchange::ExchangeLong(const char* name, LONG& value, LONG defaultValue) {
    if (bag_ == nullptr && stream_ == nullptr) {  // counting
        bytes_ += sizeof(DWORD);
        return true;
    }
    if (stream_ != nullptr) {
        BYTE bytes[4];
        ULONG done = 0;
        if (loading_) {
            value = defaultValue;
            if (FAILED(stream_->Read(bytes, sizeof bytes, &done)) || done != sizeof bytes) {
                return false;
            }
            value = static_cast<LONG>(static_cast<DWORD>(bytes[0]) | bytes[1] << 8 |
                                      bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24);
            return true;
        }
        const auto raw = static_cast<DWORD>(value);
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(raw >> (8 * i));
        return SUCCEEDED(stream_->Write(bytes, sizeof bytes, &done)) && done == sizeof bytes;
    }
    OleString wideName = AfxAnsiToWide(name);
    VARIANT v;
    VariantInit(&v);
    if (loading_) {
        value = defaultValue;
        if (FAILED(bag_->Read(wideName.c_str(), &v, nullptr))) return false;
        bool ok = SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4));
        if (ok) value = v.lVal;
        VariantClear(&v);
        return ok;
    }
    v.vt = VT_I4;
    v.lVal = value;
    return SUCCEEDED(bag_->Write(wideName.c_str(), &v));
}

COleControl::COleControl(const Identity& identity, CModuleLock& module)
    : identity_(identity),
      module_(module),
      extent_{kDefaultExtentX, kDefaultExtentY},
      events_(this, identity.eventsIid) {
    module_.AddObject();
}

IUnknown* COleControl::Interface(REFIID riid) {
    if (riid == IID_IDispatch || riid == identity_.dispatchIid) {
        return static_cast<IDispatch*>(this);
    }
    if (riid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
    if (riid == IID_IOleObject) return static_cast<IOleObject*>(this);
    if (riid == IID_IOleInPlaceObject || riid == IID_IOleWindow) {
        return static_cast<IOleInPlaceObject*>(this);
    }
    if (riid == IID_IOleControl) return static_cast<IOleControl*>(this);
    if (riid == IID_IViewObject || riid == IID_IViewObject2)
        return static_cast<IViewObject2*>(this);
    if (riid == IID_IPersistStreamInit) return static_cast<IPersistStreamInit*>(this);
    if (riid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
    if (riid == IID_IPersist) return static_cast<IPersistPropertyBag*>(this);
    if (riid == IID_ISpecifyPropertyPages && identity_.propertyPage != nullptr) {
        return static_cast<ISpecifyPropertyPages*>(this);
    }
    if (riid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo*>(this);
    return nullptr;
}

void COleControl::OnFinalRelease() {
    if (releasing_) return;  // a Release from inside the teardown
    releasing_ = true;
    AddRef();  // the count stays above zero while the window, the sinks and the site go
    InPlaceDeactivate();
    DestroyControlWindow();  // a window made without a site
    events_.UnadviseAll();
    Replace<IAdviseSink>(viewSink_, nullptr);
    Replace<IOleClientSite>(clientSite_, nullptr);
    delete this;
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

// The site is held until the container clears it (or the control goes); Close keeps it, as
// containers clear it after Close and so break the reference cycle themselves.
HRESULT COleControl::SetClientSite(IOleClientSite* site) {
    Replace(clientSite_, site);
    return S_OK;
}

HRESULT COleControl::GetClientSite(IOleClientSite** site) {
    if (site == nullptr) return E_POINTER;
    *site = clientSite_;
    if (clientSite_ != nullptr) clientSite_->AddRef();
    return S_OK;
}

HRESULT COleControl::Close(DWORD) {
    InPlaceDeactivate();
    DestroyControlWindow();
    return S_OK;
}

HRESULT COleControl::DoVerb(LONG verb, MSG*, IOleClientSite* site, LONG, HWND parent,
                            LPCRECT rect) {
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_OPEN:
        case OLEIVERB_UIACTIVATE:
        case OLEIVERB_INPLACEACTIVATE:
            return InPlaceActivate(site != nullptr ? site : clientSite_, parent, rect);
        case OLEIVERB_HIDE:
            if (m_hWnd != nullptr) ShowWindow(m_hWnd, SW_HIDE);
            return S_OK;
        case OLEIVERB_PROPERTIES:
            OnProperties();
            return S_OK;
        default:
            return OLEOBJ_S_INVALIDVERB;
    }
}

// In-place activation as a site expects it: the site agrees, hears of it, gives its window as
// the parent and its window context as the position; the window is made there and the site
// asked to show the object. Without an in-place site the window is made under `parent`.
HRESULT COleControl::InPlaceActivate(IOleClientSite* site, HWND parent, LPCRECT rect) {
    if (m_hWnd != nullptr) return S_OK;
    RECT position = rect != nullptr ? *rect : RECT{0, 0, 0, 0};
    ComPtr<IOleInPlaceSite> inPlace;
    if (site == nullptr ||
        FAILED(site->QueryInterface(IID_IOleInPlaceSite,
                                    reinterpret_cast<void**>(inPlace.GetAddressOf())))) {
        return CreateControlWindow(parent, position);
    }
    if (inPlace->CanInPlaceActivate() != S_OK) return E_FAIL;
    inPlace->OnInPlaceActivate();
    HWND siteWindow = nullptr;
    if (FAILED(inPlace->GetWindow(&siteWindow))) siteWindow = nullptr;
    ComPtr<IOleInPlaceFrame> frame;  // asked for with the position; not kept
    ComPtr<IOleInPlaceUIWindow> document;
    RECT clip = position;
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof frameInfo;
    inPlace->GetWindowContext(frame.GetAddressOf(), document.GetAddressOf(), &position, &clip,
                              &frameInfo);
    HRESULT hr = CreateControlWindow(siteWindow != nullptr ? siteWindow : parent, position);
    if (FAILED(hr)) {
        inPlace->OnInPlaceDeactivate();
        return hr;
    }
    inPlaceSite_ = inPlace.Detach();
    if (m_hWnd != nullptr) ShowWindow(m_hWnd, SW_SHOW);
    site->ShowObject();
    return S_OK;
}

HRESULT COleControl::InPlaceDeactivate() {
    if (inPlaceSite_ == nullptr) return S_OK;
    DestroyControlWindow();
    ComPtr<IOleInPlaceSite> site;
    site.Attach(std::exchange(inPlaceSite_, nullptr));
    site->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT COleControl::GetWindow(HWND* window) {
    if (window == nullptr) return E_POINTER;
    *window = m_hWnd;
    return m_hWnd != nullptr ? S_OK : E_FAIL;
}

HRESULT COleControl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (position == nullptr) return E_POINTER;
    if (m_hWnd != nullptr) {
        MoveWindow(m_hWnd, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, TRUE);
    }
    return S_OK;
}

HRESULT COleControl::GetControlInfo(CONTROLINFO* info) {
    if (info == nullptr) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT COleControl::FreezeEvents(BOOL freeze) {
    if (freeze) {
        ++freezeCount_;
    } else if (freezeCount_ > 0) {
        --freezeCount_;
    }
    return S_OK;
}

HRESULT COleControl::SetAdvise(DWORD, DWORD, IAdviseSink* sink) {
    Replace(viewSink_, sink);
    return S_OK;
}

HRESULT COleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects != nullptr) *aspects = DVASPECT_CONTENT;
    if (flags != nullptr) *flags = 0;
    if (sink != nullptr) {
        *sink = viewSink_;
        if (viewSink_ != nullptr) viewSink_->AddRef();
    }
    return S_OK;
}

HRESULT COleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
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

HRESULT COleControl::Load(LPSTREAM stream) {
    if (stream == nullptr) return E_POINTER;
    CPropExchange px(stream, true);
    DoPropExchange(&px);
    modified_ = FALSE;
    return S_OK;
}

HRESULT COleControl::Save(LPSTREAM stream, BOOL clearDirty) {
    if (stream == nullptr) return E_POINTER;
    CPropExchange px(stream, false);
    DoPropExchange(&px);
    if (clearDirty) modified_ = FALSE;
    return S_OK;
}

HRESULT COleControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (size == nullptr) return E_POINTER;
    CPropExchange count;
    DoPropExchange(&count);
    size->QuadPart = count.ByteCount();
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
    return LoadTypeInfo(identity_.libLocale, identity_.clsid, info);
}
