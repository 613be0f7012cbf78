// The connection point: delivery order, failing sinks, cookies and reference counts.
#include "framework/comconnect.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/oleauto.h"

namespace {

constexpr IID kEvents = {0x0E0E0E0E, 0x1, 0x2, {0x3, 0x4, 0x5, 0x6, 0x7, 0x8, 0x9, 0xA}};

// The object that owns the point; counts its references.
struct Owner : IConnectionPointContainer {
    ULONG refs = 1;
    CComConnectionPoint point{this, kEvents};
    HRESULT QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** e) override {
        IConnectionPoint* points[] = {&point};
        return CreateConnectionPointEnum(points, 1, e);
    }
    HRESULT FindConnectionPoint(REFIID, IConnectionPoint**) override { return E_NOTIMPL; }
};

// A sink that records what it receives into a shared log.
struct Sink : IDispatch {
    std::string name;
    std::vector<std::string>* log;
    HRESULT answer = S_OK;
    bool dispatchOnly = false;  // answers IDispatch but not the events interface
    bool nothing = false;       // answers neither
    ULONG refs = 1;
    std::function<void()> during;

    Sink(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
    HRESULT QueryInterface(REFIID riid, void** out) override {
        bool ok = !nothing && (riid == IID_IUnknown || riid == IID_IDispatch ||
                               (riid == kEvents && !dispatchOnly));
        *out = ok ? static_cast<IDispatch*>(this) : nullptr;
        if (ok) AddRef();
        return ok ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                   EXCEPINFO* excep, UINT*) override {
        std::string entry = name + ":" + std::to_string(id);
        if (params->cArgs == 1 && params->rgvarg[0].vt == VT_BSTR) {
            BSTR b = params->rgvarg[0].bstrVal;
            entry += ":" + std::string(b, b + SysStringLen(b));
        }
        EXPECT_EQ(flags, DISPATCH_METHOD);
        log->push_back(entry);
        if (during) during();
        if (FAILED(answer) && excep != nullptr) {
            excep->bstrDescription = SysAllocString(u"sink failed");  // must be freed by Fire
            return DISP_E_EXCEPTION;
        }
        return answer;
    }
};

TEST(ConnectionPoint, DeliversInOrderSkippingAFailingSink) {
    std::vector<std::string> log;
    Sink a("a", &log), b("b", &log), c("c", &log);
    Owner owner;  // after the sinks: it releases those still connected when it goes
    b.answer = E_FAIL;
    DWORD ca, cb, cc;
    ASSERT_EQ(owner.point.Advise(&a, &ca), S_OK);
    ASSERT_EQ(owner.point.Advise(&b, &cb), S_OK);
    ASSERT_EQ(owner.point.Advise(&c, &cc), S_OK);
    EXPECT_NE(ca, 0u);
    EXPECT_NE(ca, cb);
    EXPECT_NE(cb, cc);

    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(u"record-start");
    DISPPARAMS params{&arg, nullptr, 1, 0};
    EXPECT_EQ(owner.point.Fire(3, &params), 2u);
    EXPECT_EQ(log, (std::vector<std::string>{"a:3:record-start", "b:3:record-start",
                                             "c:3:record-start"}));
    VariantClear(&arg);

    log.clear();
    ASSERT_EQ(owner.point.Unadvise(ca), S_OK);
    EXPECT_EQ(owner.point.Unadvise(ca), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(owner.point.Fire(2, nullptr), 1u);
    EXPECT_EQ(log, (std::vector<std::string>{"b:2", "c:2"}));
    EXPECT_EQ(a.refs, 1u) << "released on Unadvise";
    EXPECT_EQ(b.refs, 2u);
}

TEST(ConnectionPoint, NoSinkIsANoOpAndSinksMayDisconnectDuringAnEvent) {
    Owner owner;
    EXPECT_EQ(owner.point.Fire(1, nullptr), 0u);
    std::vector<std::string> log;
    Sink a("a", &log), b("b", &log);
    DWORD ca, cb;
    ASSERT_EQ(owner.point.Advise(&a, &ca), S_OK);
    ASSERT_EQ(owner.point.Advise(&b, &cb), S_OK);
    // a disconnects both sinks from inside the event: delivery goes on to the sinks that were
    // connected when it began, and nothing is used after release.
    a.during = [&] {
        owner.point.Unadvise(ca);
        owner.point.Unadvise(cb);
    };
    EXPECT_EQ(owner.point.Fire(4, nullptr), 2u);
    EXPECT_EQ(log, (std::vector<std::string>{"a:4", "b:4"}));
    EXPECT_EQ(owner.point.ConnectionCount(), 0u);
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);
}

TEST(ConnectionPoint, WhatConnectsAndWhoHoldsWhom) {
    Owner owner;
    std::vector<std::string> log;
    Sink viaDispatch("d", &log), none("n", &log);
    viaDispatch.dispatchOnly = true;
    none.nothing = true;
    DWORD cookie = 99;
    EXPECT_EQ(owner.point.Advise(&none, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(owner.point.Advise(nullptr, &cookie), E_POINTER);
    ASSERT_EQ(owner.point.Advise(&viaDispatch, &cookie), S_OK) << "an IDispatch sink will do";
    EXPECT_EQ(viaDispatch.refs, 2u);

    // The point shares its owner's count.
    owner.point.AddRef();
    EXPECT_EQ(owner.refs, 2u);
    owner.point.Release();
    IConnectionPointContainer* back = nullptr;
    ASSERT_EQ(owner.point.GetConnectionPointContainer(&back), S_OK);
    EXPECT_EQ(back, &owner);
    back->Release();
    IID iid;
    owner.point.GetConnectionInterface(&iid);
    EXPECT_EQ(iid, kEvents);

    IEnumConnections* e = nullptr;
    ASSERT_EQ(owner.point.EnumConnections(&e), S_OK);
    CONNECTDATA data[2];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(2, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(data[0].dwCookie, cookie);
    EXPECT_EQ(viaDispatch.refs, 4u) << "held by the point, the enumerator and the caller";
    data[0].pUnk->Release();
    e->Release();
    EXPECT_EQ(viaDispatch.refs, 2u);

    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(owner.EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* p = nullptr;
    ASSERT_EQ(points->Next(1, &p, &fetched), S_OK);
    EXPECT_EQ(p, &owner.point);
    p->Release();
    points->Release();
    EXPECT_EQ(owner.refs, 1u);

    owner.point.UnadviseAll();
    EXPECT_EQ(viaDispatch.refs, 1u);
}

}  // namespace
