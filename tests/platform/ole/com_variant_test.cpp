// VARIANT ownership and the coercions applied to arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/oleauto.h"

namespace {

std::u16string Text(BSTR b) {
    return std::u16string(b ? b : u"", SysStringLen(b));
}

// A VARIANT of type `vt` whose value `set` stores.
template <class Set>
VARIANT Make(VARTYPE vt, Set set) {
    VARIANT x;
    VariantInit(&x);
    x.vt = vt;
    set(x);
    return x;
}
VARIANT Long(LONG v) {
    return Make(VT_I4, [v](VARIANT& x) { x.lVal = v; });
}
VARIANT Real(double v) {
    return Make(VT_R8, [v](VARIANT& x) { x.dblVal = v; });
}
VARIANT Str(const char16_t* s) {
    return Make(VT_BSTR, [s](VARIANT& x) { x.bstrVal = SysAllocString(s); });
}

// Converts and returns the result code; out holds the result.
struct Converted {
    HRESULT hr;
    VARIANT v;
    Converted(const VARIANT& src, VARTYPE vt, USHORT flags = 0) {
        VariantInit(&v);
        hr = VariantChangeType(&v, &src, flags, vt);
    }
    ~Converted() { VariantClear(&v); }
};

// An object whose reference count is visible and whose value property answers 7.
struct Counted : IDispatch {
    ULONG refs = 1;
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                   UINT*) override {
        if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || result == nullptr)
            return DISP_E_MEMBERNOTFOUND;
        *result = Long(7);
        return S_OK;
    }
};

TEST(VariantCoercion, NumbersBecomeTheirText) {
    EXPECT_EQ(Text(Converted(Long(-42), VT_BSTR).v.bstrVal), u"-42");
    EXPECT_EQ(Text(Converted(Real(2.5), VT_BSTR).v.bstrVal), u"2.5");
    EXPECT_EQ(Text(Converted(Real(0.1), VT_BSTR).v.bstrVal), u"0.1") << "15 significant digits";
    EXPECT_EQ(Text(Converted(Real(1e20), VT_BSTR).v.bstrVal), u"1E+20");
    VARIANT b;
    VariantInit(&b);
    b.vt = VT_BOOL;
    b.boolVal = VARIANT_TRUE;
    EXPECT_EQ(Text(Converted(b, VT_BSTR).v.bstrVal), u"-1");
    EXPECT_EQ(Text(Converted(b, VT_BSTR, VARIANT_ALPHABOOL).v.bstrVal), u"True");
    VARIANT empty;
    VariantInit(&empty);
    Converted e(empty, VT_BSTR);
    ASSERT_EQ(e.hr, S_OK);
    EXPECT_NE(e.v.bstrVal, nullptr) << "an empty string, allocated";
    EXPECT_EQ(SysStringLen(e.v.bstrVal), 0u);
}

TEST(VariantCoercion, DigitStringsBecomeLongs) {
    struct Case {
        const char16_t* text;
        HRESULT hr;
        LONG value;
    } cases[] = {
        {u"123", S_OK, 123},
        {u"  -17\t", S_OK, -17},
        {u"+5", S_OK, 5},
        {u"2147483647", S_OK, 2147483647},
        {u"-2147483648", S_OK, std::numeric_limits<LONG>::min()},
        {u"2147483648", DISP_E_OVERFLOW, 0},
        {u"99999999999999999999999", DISP_E_OVERFLOW, 0},
        {u"2.5", S_OK, 2},  // halves round to even
        {u"3.5", S_OK, 4},
        {u"-2.5", S_OK, -2},
        {u"2.51", S_OK, 3},
        {u"1e3", S_OK, 1000},
        {u"&H10", S_OK, 16},
        {u"&HFFFFFFFF", S_OK, -1},  // the 32-bit pattern
        {u"&O17", S_OK, 15},
        {u"12abc", DISP_E_TYPEMISMATCH, 0},
        {u"", DISP_E_TYPEMISMATCH, 0},
        {u"   ", DISP_E_TYPEMISMATCH, 0},
        {u"-", DISP_E_TYPEMISMATCH, 0},
        {u".", DISP_E_TYPEMISMATCH, 0},
        {u"1e", DISP_E_TYPEMISMATCH, 0},
        {u"1 2", DISP_E_TYPEMISMATCH, 0},
        {u"\u0661", DISP_E_TYPEMISMATCH, 0},  // a digit of another script
        {u"&H", DISP_E_TYPEMISMATCH, 0},
    };
    for (const auto& c : cases) {
        VARIANT s = Str(c.text);
        Converted r(s, VT_I4);
        EXPECT_EQ(r.hr, c.hr) << "case #" << (&c - cases);
        if (c.hr == S_OK) {
            EXPECT_EQ(r.v.vt, VT_I4);
            EXPECT_EQ(r.v.lVal, c.value) << "#" << (&c - cases);
        } else {
            EXPECT_EQ(r.v.vt, VT_EMPTY) << "a failed conversion leaves the target alone";
        }
        VariantClear(&s);
    }
}

TEST(VariantCoercion, NumericRangesOverflow) {
    EXPECT_EQ(Converted(Long(40000), VT_I2).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Converted(Long(-32768), VT_I2).v.iVal, -32768);
    EXPECT_EQ(Converted(Long(-1), VT_UI4).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Converted(Real(3e9), VT_I4).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Converted(Real(3e9), VT_UI4).v.ulVal, 3000000000u);
    EXPECT_EQ(Converted(Real(2147483647.4), VT_I4).v.lVal, 2147483647);
    EXPECT_EQ(Converted(Real(2147483647.5), VT_I4).hr, DISP_E_OVERFLOW) << "rounds to 2^31";
    EXPECT_EQ(Converted(Real(std::nan("")), VT_I4).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Converted(Real(1e300), VT_R4).hr, DISP_E_OVERFLOW);
    VARIANT u;
    VariantInit(&u);
    u.vt = VT_UI4;
    u.ulVal = 0xFFFFFFFFu;
    EXPECT_EQ(Converted(u, VT_I4).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Converted(u, VT_R8).v.dblVal, 4294967295.0);
}

TEST(VariantCoercion, BooleansEmptyNullAndMismatches) {
    VARIANT t = Str(u" TRUE ");
    EXPECT_EQ(Converted(t, VT_BOOL).v.boolVal, VARIANT_TRUE);
    VariantClear(&t);
    VARIANT zero = Str(u"0");
    EXPECT_EQ(Converted(zero, VT_BOOL).v.boolVal, VARIANT_FALSE);
    VariantClear(&zero);
    VARIANT yes = Str(u"yes");
    EXPECT_EQ(Converted(yes, VT_BOOL).hr, DISP_E_TYPEMISMATCH);
    VariantClear(&yes);
    EXPECT_EQ(Converted(Long(5), VT_BOOL).v.boolVal, VARIANT_TRUE);
    VARIANT b;
    VariantInit(&b);
    b.vt = VT_BOOL;
    b.boolVal = VARIANT_TRUE;
    EXPECT_EQ(Converted(b, VT_I4).v.lVal, -1);

    VARIANT empty, null;
    VariantInit(&empty);
    VariantInit(&null);
    null.vt = VT_NULL;
    EXPECT_EQ(Converted(empty, VT_I4).v.lVal, 0);
    EXPECT_EQ(Converted(null, VT_I4).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Converted(null, VT_BSTR).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Converted(Long(1), VT_NULL).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Converted(Long(1), VT_DISPATCH).hr, DISP_E_TYPEMISMATCH);
    VARIANT err;
    VariantInit(&err);
    err.vt = VT_ERROR;
    err.scode = DISP_E_PARAMNOTFOUND;  // how a missing optional argument arrives
    EXPECT_EQ(Converted(err, VT_I4).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Converted(err, VT_BSTR).hr, DISP_E_TYPEMISMATCH);
}

TEST(VariantCoercion, InPlaceReferenceAndObjectSources) {
    VARIANT v = Str(u"314");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the string is freed (ASan checks)
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 314);

    VARIANT inner = Str(u"12");
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &inner;
    Converted viaRef(ref, VT_I4);
    EXPECT_EQ(viaRef.hr, S_OK);
    EXPECT_EQ(viaRef.v.lVal, 12);
    EXPECT_EQ(Text(inner.bstrVal), u"12") << "the referenced value is untouched";
    VariantClear(&inner);

    LONG target = 99;
    VARIANT plong;
    VariantInit(&plong);
    plong.vt = VT_BYREF | VT_I4;
    plong.plVal = &target;
    EXPECT_EQ(Text(Converted(plong, VT_BSTR).v.bstrVal), u"99");

    Counted object;
    VARIANT disp;
    VariantInit(&disp);
    disp.vt = VT_DISPATCH;
    disp.pdispVal = &object;
    EXPECT_EQ(Converted(disp, VT_I4).v.lVal, 7) << "through the value property";
    EXPECT_EQ(Converted(disp, VT_I4, VARIANT_NOVALUEPROP).hr, DISP_E_TYPEMISMATCH);
    {
        Converted unk(disp, VT_UNKNOWN);
        EXPECT_EQ(unk.hr, S_OK);
        EXPECT_EQ(object.refs, 2u);
    }
    EXPECT_EQ(object.refs, 1u);
}

TEST(VariantOwnership, CopyIsDeepAndClearReleases) {
    Counted object;
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_DISPATCH;
    a.pdispVal = &object;
    object.AddRef();
    VARIANT b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_EQ(object.refs, 3u);
    VariantClear(&a);
    VariantClear(&b);
    EXPECT_EQ(object.refs, 1u);
    EXPECT_EQ(b.vt, VT_EMPTY);

    VARIANT s = Str(u"text"), copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &s), S_OK);
    EXPECT_NE(copy.bstrVal, s.bstrVal);
    EXPECT_EQ(Text(copy.bstrVal), u"text");
    ASSERT_EQ(VariantCopy(&copy, &copy), S_OK) << "copy onto itself keeps the value";
    EXPECT_EQ(Text(copy.bstrVal), u"text");
    VariantClear(&s);
    VariantClear(&copy);

    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 0x7FF;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantCopy(&copy, &bad), DISP_E_BADVARTYPE);
}

TEST(DispGetParam, PositionalArgumentsArriveReversedAndNamedOnesFirst) {
    // A call f("7", 2) with a named argument id 5 = 3: rgvarg = [named, 2, "7"].
    VARIANT args[3] = {Long(3), Long(2), Str(u"7")};
    DISPID named[1] = {5};
    DISPPARAMS params{args, named, 3, 1};
    VARIANT out;
    UINT argErr = 99;
    ASSERT_EQ(DispGetParam(&params, 0, VT_I4, &out, &argErr), S_OK);
    EXPECT_EQ(out.lVal, 7);
    ASSERT_EQ(DispGetParam(&params, 1, VT_BSTR, &out, &argErr), S_OK);
    EXPECT_EQ(Text(out.bstrVal), u"2");
    VariantClear(&out);
    ASSERT_EQ(DispGetParam(&params, 5, VT_I4, &out, &argErr), S_OK);
    EXPECT_EQ(out.lVal, 3);
    EXPECT_EQ(DispGetParam(&params, 2, VT_I4, &out, &argErr), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(argErr, 99u);
    EXPECT_EQ(DispGetParam(&params, 0, VT_DISPATCH, &out, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 2u) << "index in rgvarg of the argument that failed";
    VariantClear(&args[2]);
}

}  // namespace
