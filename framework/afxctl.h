// COleControl: the framework base of an in-process control. It gives the derived control
//  - its COM identity: IDispatch over a dispatch table (argument counts checked, arguments
//    coerced to the table's types, framework exceptions turned into DISP_E_EXCEPTION),
//    IConnectionPointContainer with one event connection point, IProvideClassInfo,
//    ISpecifyPropertyPages, persistence through a property bag or a stream, and the OLE
//    embedding a container's site expects: IOleObject, IOleInPlaceObject, IOleControl and
//    IViewObject2 (drawn as nothing);
//  - a window of its own on the creating thread's message loop, with OnCreate, OnDestroy,
//    OnTimer and a hook for further messages, and SetTimer / KillTimer on it;
//  - event firing to every connected sink, a modified flag, a persistence hook and the
//    application message box.
// Activation: with a client site that is an in-place site, DoVerb follows the in-place
// protocol (the site's window is the parent, its window context the position, the site is
// told of activation and deactivation); without a site the window is made under the parent
// DoVerb is given, as a container without sites does it.
// Threads: everything here runs on the thread that created the control (the container's
// user-interface thread), except that PostMessageA to its window may come from any thread.
#pragma once

#include <atomic>
#include <span>
#include <string>

#include "framework/comconnect.h"
#include "platform/ext/comobject.h"
#include "platform/oleidl.h"
#include "platform/winuser.h"

// Counts a module's live objects and locks, for its DllCanUnloadNow. Any thread.
class CModuleLock {
  public:
    void AddObject() { ++objects_; }
    void RemoveObject() { --objects_; }
    void Lock(BOOL lock) { lock ? ++locks_ : --locks_; }
    bool CanUnload() const { return objects_.load() == 0 && locks_.load() == 0; }

  private:
    std::atomic<long> objects_{0};
    std::atomic<long> locks_{0};
};

// One exchange of persisted values, loading or saving, through a property bag (by name) or a
// stream (the values in the order exchanged, 4 bytes each, little-endian), or only counting
// the bytes a stream would take.
class CPropExchange {
  public:
    CPropExchange(IPropertyBag* bag, bool loading) : bag_(bag), loading_(loading) {}
    CPropExchange(IStream* stream, bool loading) : stream_(stream), loading_(loading) {}
    // Counts what saving to a stream writes (ByteCount), writing nothing.
    CPropExchange() = default;

    bool IsLoading() const { return loading_; }
    DWORD GetVersion() const { return version_; }
    void SetVersion(DWORD version) { version_ = version; }
    ULONG ByteCount() const { return bytes_; }

    // Loading: the stored value, else the default. Saving: writes the value.
    bool ExchangeLong(const char* name, LONG& value, LONG defaultValue);

  private:
    IPropertyBag* bag_ = nullptr;
    IStream* stream_ = nullptr;
    bool loading_ = false;
    DWORD version_ = 0;
    ULONG bytes_ = 0;
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
LRESULT CALLBACK ControlWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

class COleControl
    : public ComObject<IDispatch, IConnectionPointContainer, IOleObject, IOleInPlaceObject,
                       IOleControl, IViewObject2, IPersistStreamInit, IPersistPropertyBag,
                       ISpecifyPropertyPages, IProvideClassInfo> {
  public:
    struct Identity {
        CLSID clsid;
        IID dispatchIid;
        IID eventsIid;
        GUID libid;
        WORD libMajor, libMinor;
        LCID libLocale;  // the locale the library is registered under
        DWORD miscStatus;
        const char* userTypeName;
        const CLSID* propertyPage;  // null for none
        const char* appName;        // the message box's caption
    };

    COleControl(const Identity& identity, CModuleLock& module);

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                     UINT* argErr) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, MSG* msg, IOleClientSite* site, LONG index,
                                     HWND parent, LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return OLEOBJ_E_NOVERBS; }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* userType) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }

    // IOleControl: no mnemonics; the control uses no ambient property, so a change of one
    // needs nothing; frozen events are dropped.
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

    // IViewObject, IViewObject2: there is nothing to draw.
    HRESULT STDMETHODCALLTYPE Draw(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC, LPCRECTL,
                                   LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                   ULONG_PTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                          LOGPALETTE**) override {
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device,
                                        LPSIZEL size) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag: the same exchange either way.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override { return modified_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override;
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty,
                                   BOOL saveAllProperties) override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IProvideClassInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL IsModified() const { return modified_; }

  protected:
    ~COleControl() override;

    // The window: creation and destruction come as OnCreate and OnDestroy after the base's
    // own step; ticks as OnTimer; any other message goes to OnWindowMessage (return false to
    // leave it to the default handling). All on the control's thread.
    virtual int OnCreate(CREATESTRUCTA* create);
    virtual void OnDestroy();
    virtual void OnTimer(UINT_PTR id);
    virtual bool OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // The property page verb; the base shows the page's caption in a message box.
    virtual void OnProperties();

    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc);
    BOOL KillTimer(UINT_PTR id);

    // Delivers an event to every connected sink in order; args in the caller's order. While
    // the container has the events frozen (IOleControl::FreezeEvents) they are dropped.
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
    friend LRESULT CALLBACK ControlWindowProc(HWND, UINT, WPARAM, LPARAM);
    IUnknown* Interface(REFIID riid) override;
    // The window goes while the whole object still exists, so that its destruction handler
    // runs in the derived control; then the sinks and the site are let go.
    void OnFinalRelease() override;
    HRESULT InPlaceActivate(IOleClientSite* site, HWND parent, LPCRECT rect);
    HRESULT CreateControlWindow(HWND parent, const RECT& position);
    void DestroyControlWindow();
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    const AFX_DISPMAP_ENTRY* FindEntry(DISPID id) const;
    HRESULT NamesFromTable(LPOLESTR* names, UINT count, DISPID* ids) const;
    HRESULT LoadTypeInfo(LCID lcid, REFGUID guid, ITypeInfo** info) const;

    Identity identity_;
    CModuleLock& module_;
    HWND m_hWnd = nullptr;
    bool usesWindowClass_ = false;  // this control counts toward the window class's users
    bool releasing_ = false;        // OnFinalRelease is under way
    BOOL modified_ = FALSE;
    SIZEL extent_;  // HIMETRIC
    int freezeCount_ = 0;
    IOleClientSite* clientSite_ = nullptr;    // counted
    IOleInPlaceSite* inPlaceSite_ = nullptr;  // counted, while in-place active
    IAdviseSink* viewSink_ = nullptr;         // counted
    CComConnectionPoint events_;
};
