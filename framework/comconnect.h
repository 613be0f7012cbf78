// A reusable connection point for one outgoing dispatch interface, for objects that fire
// events, and an enumerator over an object's connection points.
//
//   class CMyControl : public IDispatch, public IConnectionPointContainer {
//       CComConnectionPoint events_{this, DIID_MyEvents};
//       ...
//       HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
//           if (riid != DIID_MyEvents) { *point = nullptr; return CONNECT_E_NOCONNECTION; }
//           *point = &events_; events_.AddRef(); return S_OK;
//       }
//   };
//   events_.Fire(3, &params);   // to every sink, in the order they connected
//
// The connection point lives inside its owner and shares the owner's reference count: AddRef
// and Release go to the owner, so a client holding the point keeps the object alive.
//
// Threads: any thread may Advise, Unadvise and Fire; the list of sinks is locked while it is
// read or changed, never while a sink runs, so a sink may connect or disconnect sinks (itself
// included) from inside an event. Fire calls the sinks on the thread that calls Fire.
#pragma once

#include <mutex>
#include <vector>

#include "platform/ocidl.h"

class CComConnectionPoint final : public IConnectionPoint {
  public:
    // owner: the object that holds this point; it outlives the point. iid: the outgoing
    // interface, a dispatch interface.
    CComConnectionPoint(IConnectionPointContainer* owner, REFIID iid);
    // Releases the sinks still connected.
    ~CComConnectionPoint();
    CComConnectionPoint(const CComConnectionPoint&) = delete;
    CComConnectionPoint& operator=(const CComConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** container) override;
    // Connects the sink through its outgoing interface, else through IDispatch
    // (CONNECT_E_CANNOTCONNECT when it has neither). Cookies are non-zero and never reused.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    // CONNECT_E_NOCONNECTION for a cookie that is not connected.
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    // A snapshot of the connections; each CONNECTDATA's pUnk is a counted reference that the
    // caller releases.
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

    // Delivers one event: IDispatch::Invoke(id, IID_NULL, 0, DISPATCH_METHOD, params) on each
    // sink connected when Fire begins, in the order they connected. A sink that fails is
    // skipped (its exception record freed) and delivery goes on. Returns how many sinks took
    // the event; with no sink it does nothing and returns 0.
    UINT Fire(DISPID id, DISPPARAMS* params);
    // Disconnects every sink, for an owner that is closing.
    void UnadviseAll();
    UINT ConnectionCount() const;

  private:
    struct Connection {
        DWORD cookie;
        IDispatch* sink;  // counted
    };

    IConnectionPointContainer* const owner_;
    const IID iid_;
    mutable std::mutex mutex_;  // guards connections_ and nextCookie_
    std::vector<Connection> connections_;
    DWORD nextCookie_ = 1;
};

// An enumerator over a fixed list of connection points (each one counted while listed), for
// IConnectionPointContainer::EnumConnectionPoints.
HRESULT CreateConnectionPointEnum(IConnectionPoint* const* points, ULONG count,
                                  IEnumConnectionPoints** enumerator);
