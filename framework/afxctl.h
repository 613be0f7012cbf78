// COleControl: the framework base of an in-process control. It gives the derived control
//  - its COM identity: IUnknown, IDispatch over a dispatch table (argument counts and types
//    checked, framework exceptions turned into DISP_E_EXCEPTION), IConnectionPointContainer
//    with one event connection point, IOleObject (in-place activation creates the window,
//    Close destroys it), IPersistPropertyBag, ISpecifyPropertyPages, IProvideClassInfo;
//  - a window of its own on the creating thread's message loop, with OnCreate, OnDestroy,
//    OnTimer and a hook for further messages, and SetTimer / KillTimer on it;
//  - event firing to every connected sink, a modified flag, a persistence hook and the
//    application message box.
// Threads: everything here runs on the thread that created the control (the container's
// user-interface thread), except that PostMessageA to its window may come from any thread.
#pragma once

#include <atomic>
#include <optional>
#include <span>
#include <string>

#include "framework/comconnect.h"
#include "platform/oleidl.h"
#include "platform/winuser.h"

// Counts a module's live objects and locks, for its DllCanUnloadNow.
struct CModuleLock {
    std::atomic<long> objects{0};
    std::atomic<long> locks{0};
    bool CanUnload() const { return objects.load() == 0 && locks.load() == 0; }
};

// One persisted value exchange, loading or saving through a property bag.
class CPropExchange {
  public:
    CPropExchange(IPropertyBag* bag, bool loading) : bag_(bag), loading_(loading) {}
    bool IsLoading() const { return loading_; }
    DWORD GetVersion() const { return version_; }
    void SetVersion(DWORD version) { version_ = version; }

    // Loading: the stored value, else the default. Saving: writes the value.
    bool ExchangeLong(const char* name, LONG& value, LONG defaultValue);

  private:
    IPropertyBag* bag_;
    bool loading_;
    DWORD version_ = 0;
};

// What the control's dispatch table says of one member.
struct AFX_DISPMAP_ENTRY {
    const char* name;
    DISPID id;
    bool property;          // a property with get and put, else a method
    VARTYPE result;         // VT_EMPTY for none; the property's type
    const VARTYPE* params;  // the parameters' types, in the caller's order
    UINT paramCount;
};

// The window procedure of every control window.
LRESULT ControlWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

class COleControl : public IDispatch,
                    public IConnectionPointContainer,
                    public IOleObject,
                    public IPersistPropertyBag,
                    public ISpecifyPropertyPages,
                    public IProvideClassInfo {
  public:
    struct Identity {
        CLSID clsid;
        IID dispatchIid;
        IID eventsIid;
        GUID libid;
        WORD libMajor, libMinor;
        DWORD miscStatus;
        const char* userTypeName;
        const CLSID* propertyPage;  // null for none
        const char* appName;        // the message box's caption
    };

    COleControl(const Identity& identity, CModuleLock& module);
    COleControl(const COleControl&) = delete;
    COleControl& operator=(const COleControl&) = delete;

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IDispatch
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                          DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override;

    // IConnectionPointContainer
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // IOleObject
    HRESULT SetClientSite(IOleClientSite* site) override;
    HRESULT GetClientSite(IOleClientSite** site) override;
    HRESULT SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT Close(DWORD saveOption) override;
    HRESULT SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    HRESULT DoVerb(LONG verb, MSG* msg, IOleClientSite* site, LONG index, HWND parent,
                   LPCRECT rect) override;
    HRESULT EnumVerbs(IEnumOLEVERB**) override { return OLEOBJ_E_NOVERBS; }
    HRESULT Update() override { return S_OK; }
    HRESULT IsUpToDate() override { return S_OK; }
    HRESULT GetUserClassID(CLSID* clsid) override;
    HRESULT GetUserType(DWORD form, LPOLESTR* userType) override;
    HRESULT SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT Unadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IPersistPropertyBag
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT InitNew() override;
    HRESULT Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAllProperties) override;

    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pages) override;

    // IProvideClassInfo
    HRESULT GetClassInfo(ITypeInfo** info) override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL IsModified() const { return modified_; }

  protected:
    virtual ~COleControl();

    // The window: creation and destruction come as OnCreate and OnDestroy after the base's
    // own step; ticks as OnTimer; any other message goes to OnWindowMessage (return false to
    // leave it to the default handling). All on the control's thread.
    virtual int OnCreate(CREATESTRUCTA* create);
    virtual void OnDestroy();
    virtual void OnTimer(UINT_PTR id);
    virtual bool OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Paints nothing unless a control overrides it.
    virtual void OnDraw() {}
    // The property page verb; the base shows the page's caption in a message box.
    virtual void OnProperties();

    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc);
    BOOL KillTimer(UINT_PTR id);

    // Delivers an event to every connected sink in order; args in the caller's order.
    void FireEvent(DISPID id, std::span<const VARIANT> args);
    void SetModifiedFlag(BOOL modified = TRUE) { modified_ = modified; }
    int AfxMessageBox(const char* text, UINT type = MB_OK);

    // The control's dispatch table, and the call of one member with its arguments already
    // counted and converted to the table's types (in the caller's order). The result is
    // written into *result when the caller wants one. Framework exceptions thrown here reach
    // the caller as DISP_E_EXCEPTION.
    virtual std::span<const AFX_DISPMAP_ENTRY> GetDispatchMap() const = 0;
    virtual HRESULT InvokeMember(const AFX_DISPMAP_ENTRY& entry, WORD flags,
                                 std::span<VARIANT> args, VARIANT* result) = 0;

    // Persistence hook: the base exchanges the extent and the stock-property mask.
    virtual void DoPropExchange(CPropExchange* px);
    // Version exchange: saving writes `version`; loading reads the stored one (`version`
    // when absent) into the exchange.
    void ExchangeVersion(CPropExchange* px, DWORD version);

  private:
    friend LRESULT ControlWindowProc(HWND, UINT, WPARAM, LPARAM);
    HRESULT CreateControlWindow(HWND parent);
    void DestroyControlWindow();
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    const AFX_DISPMAP_ENTRY* FindEntry(DISPID id) const;
    HRESULT NamesFromTable(LPOLESTR* names, UINT count, DISPID* ids) const;
    HRESULT LoadTypeInfo(LCID lcid, REFGUID guid, ITypeInfo** info) const;

    Identity identity_;
    CModuleLock& module_;
    std::atomic<ULONG> refs_{1};
    HWND m_hWnd = nullptr;
    BOOL modified_ = FALSE;
    SIZEL extent_;  // HIMETRIC
    CComConnectionPoint events_;
};
