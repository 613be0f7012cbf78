// VariantChangeType: the coercions automation applies to arguments and results.
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/ole/com_text.h"
#include "platform/oleauto.h"

namespace {

// A number on its way between types: an exact integer where the source was one.
struct Number {
    enum Kind { Signed, Unsigned, Real } kind = Signed;
    LONGLONG s = 0;
    ULONGLONG u = 0;
    double d = 0;
};

Number FromSigned(LONGLONG v) {
    return {Number::Signed, v, 0, 0};
}
Number FromUnsigned(ULONGLONG v) {
    return {Number::Unsigned, 0, v, 0};
}
Number FromReal(double v) {
    return {Number::Real, 0, 0, v};
}

bool IsNumericType(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_R4:
        case VT_R8:
        case VT_BOOL:
            return true;
        default:
            return false;
    }
}

Number ReadNumber(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return FromSigned(v.cVal);
        case VT_UI1:
            return FromUnsigned(v.bVal);
        case VT_I2:
            return FromSigned(v.iVal);
        case VT_UI2:
            return FromUnsigned(v.uiVal);
        case VT_I4:
        case VT_INT:
            return FromSigned(v.lVal);
        case VT_UI4:
        case VT_UINT:
            return FromUnsigned(v.ulVal);
        case VT_I8:
            return FromSigned(v.llVal);
        case VT_UI8:
            return FromUnsigned(v.ullVal);
        case VT_R4:
            return FromReal(v.fltVal);
        case VT_R8:
            return FromReal(v.dblVal);
        case VT_BOOL:
            return FromSigned(v.boolVal != 0 ? -1 : 0);
        default:
            return {};
    }
}

// Rounds a real to an integer as automation does: to nearest, halves to even.
bool RoundReal(double d, double& rounded) {
    if (std::isnan(d)) return false;
    int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    rounded = std::nearbyint(d);
    std::fesetround(saved);
    return true;
}

HRESULT ToSignedRange(const Number& n, LONGLONG lo, LONGLONG hi, LONGLONG& out) {
    switch (n.kind) {
        case Number::Signed:
            if (n.s < lo || n.s > hi) return DISP_E_OVERFLOW;
            out = n.s;
            return S_OK;
        case Number::Unsigned:
            if (n.u > static_cast<ULONGLONG>(hi)) return DISP_E_OVERFLOW;
            out = static_cast<LONGLONG>(n.u);
            return S_OK;
        case Number::Real: {
            double r;
            // The bounds as reals: hi + 1 is a power of two for every type, so exact.
            if (!RoundReal(n.d, r) || r < static_cast<double>(lo) ||
                r >= static_cast<double>(hi) + 1.0)
                return DISP_E_OVERFLOW;
            out = static_cast<LONGLONG>(r);
            return S_OK;
        }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ToUnsignedRange(const Number& n, ULONGLONG hi, ULONGLONG& out) {
    switch (n.kind) {
        case Number::Signed:
            if (n.s < 0 || static_cast<ULONGLONG>(n.s) > hi) return DISP_E_OVERFLOW;
            out = static_cast<ULONGLONG>(n.s);
            return S_OK;
        case Number::Unsigned:
            if (n.u > hi) return DISP_E_OVERFLOW;
            out = n.u;
            return S_OK;
        case Number::Real: {
            double r;
            if (!RoundReal(n.d, r) || r < 0 || r >= static_cast<double>(hi) + 1.0)
                return DISP_E_OVERFLOW;
            out = static_cast<ULONGLONG>(r);
            return S_OK;
        }
    }
    return DISP_E_TYPEMISMATCH;
}

double AsReal(const Number& n) {
    switch (n.kind) {
        case Number::Signed:
            return static_cast<double>(n.s);
        case Number::Unsigned:
            return static_cast<double>(n.u);
        case Number::Real:
            return n.d;
    }
    return 0;
}

bool IsZero(const Number& n) {
    return AsReal(n) == 0.0;
}

HRESULT WriteNumber(const Number& n, VARTYPE vt, VARIANT& out) {
    LONGLONG s = 0;
    ULONGLONG u = 0;
    HRESULT hr = S_OK;
    out.vt = vt;
    switch (vt) {
        case VT_I1:
            hr = ToSignedRange(n, -128, 127, s);
            out.cVal = static_cast<char>(s);
            break;
        case VT_UI1:
            hr = ToUnsignedRange(n, 0xFF, u);
            out.bVal = static_cast<BYTE>(u);
            break;
        case VT_I2:
            hr = ToSignedRange(n, -32768, 32767, s);
            out.iVal = static_cast<SHORT>(s);
            break;
        case VT_UI2:
            hr = ToUnsignedRange(n, 0xFFFF, u);
            out.uiVal = static_cast<USHORT>(u);
            break;
        case VT_I4:
        case VT_INT:
            hr = ToSignedRange(n, std::numeric_limits<LONG>::min(),
                               std::numeric_limits<LONG>::max(), s);
            out.lVal = static_cast<LONG>(s);
            break;
        case VT_UI4:
        case VT_UINT:
            hr = ToUnsignedRange(n, 0xFFFFFFFFu, u);
            out.ulVal = static_cast<ULONG>(u);
            break;
        case VT_I8:
            hr = ToSignedRange(n, std::numeric_limits<LONGLONG>::min(),
                               std::numeric_limits<LONGLONG>::max(), s);
            out.llVal = s;
            break;
        case VT_UI8:
            hr = ToUnsignedRange(n, std::numeric_limits<ULONGLONG>::max(), u);
            out.ullVal = u;
            break;
        case VT_R4: {
            double d = AsReal(n);
            if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
                return DISP_E_OVERFLOW;
            out.fltVal = static_cast<float>(d);
            break;
        }
        case VT_R8:
            out.dblVal = AsReal(n);
            break;
        case VT_BOOL:
            out.boolVal = IsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    return hr;
}

std::string NumberText(const VARIANT& v, USHORT flags) {
    if (v.vt == VT_BOOL) {
        if (flags & VARIANT_ALPHABOOL) return v.boolVal ? "True" : "False";
        return v.boolVal ? "-1" : "0";
    }
    Number n = ReadNumber(v);
    char buf[64];
    switch (n.kind) {
        case Number::Signed:
            return std::to_string(n.s);
        case Number::Unsigned:
            return std::to_string(n.u);
        case Number::Real:
            std::snprintf(buf, sizeof buf, v.vt == VT_R4 ? "%.7G" : "%.15G", n.d);
            return buf;
    }
    return {};
}

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Parses a number as a script writes one: blanks around it, a sign, digits with a decimal
// point and an exponent, or "&H" hexadecimal / "&O" octal. Returns DISP_E_TYPEMISMATCH
// for anything else, DISP_E_OVERFLOW for a real beyond range.
HRESULT ParseNumber(std::u16string_view text, Number& out) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (text.empty()) return DISP_E_TYPEMISMATCH;
    std::string ascii;
    for (char16_t c : text) {
        if (c >= 0x80) return DISP_E_TYPEMISMATCH;
        ascii += static_cast<char>(c);
    }
    if (ascii.size() > 2 && ascii[0] == '&' &&
        (ascii[1] == 'H' || ascii[1] == 'h' || ascii[1] == 'O' || ascii[1] == 'o')) {
        int base = (ascii[1] == 'H' || ascii[1] == 'h') ? 16 : 8;
        ULONGLONG value = 0;
        for (std::size_t i = 2; i < ascii.size(); ++i) {
            char c = ascii[i];
            int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : 99;
            if (digit >= base) return DISP_E_TYPEMISMATCH;
            if (value > (std::numeric_limits<ULONGLONG>::max() >> (base == 16 ? 4 : 3)))
                return DISP_E_OVERFLOW;
            value = value * static_cast<ULONGLONG>(base) + static_cast<ULONGLONG>(digit);
        }
        // Up to 32 bits, hexadecimal text is the bit pattern of a 32-bit signed value.
        if (value <= 0xFFFFFFFFu)
            out = FromSigned(static_cast<LONG>(static_cast<ULONG>(value)));
        else
            out = FromUnsigned(value);
        return S_OK;
    }
    std::size_t i = 0;
    bool negative = false;
    if (ascii[i] == '+' || ascii[i] == '-') negative = ascii[i++] == '-';
    std::size_t digits = 0;
    bool integral = true;
    std::size_t start = i;
    while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i, ++digits;
    if (i < ascii.size() && ascii[i] == '.') {
        integral = false;
        ++i;
        while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return DISP_E_TYPEMISMATCH;
    if (i < ascii.size() && (ascii[i] == 'e' || ascii[i] == 'E')) {
        integral = false;
        ++i;
        if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i, ++expDigits;
        if (expDigits == 0) return DISP_E_TYPEMISMATCH;
    }
    if (i != ascii.size()) return DISP_E_TYPEMISMATCH;
    if (integral) {
        ULONGLONG magnitude = 0;
        bool fits = true;
        for (std::size_t k = start; k < i; ++k) {
            auto digit = static_cast<ULONGLONG>(ascii[k] - '0');
            if (magnitude > (std::numeric_limits<ULONGLONG>::max() - digit) / 10) {
                fits = false;
                break;
            }
            magnitude = magnitude * 10 + digit;
        }
        if (fits && !negative) {
            out = magnitude <= static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max())
                      ? FromSigned(static_cast<LONGLONG>(magnitude))
                      : FromUnsigned(magnitude);
            return S_OK;
        }
        if (fits && magnitude <= static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max()) + 1) {
            out = FromSigned(static_cast<LONGLONG>(0 - magnitude));
            return S_OK;
        }
    }
    double d = std::strtod(ascii.c_str(), nullptr);
    if (!std::isfinite(d)) return DISP_E_OVERFLOW;
    out = FromReal(d);
    return S_OK;
}

HRESULT ParseBool(std::u16string_view text, VARIANT_BOOL& out) {
    std::u16string_view trimmed = text;
    while (!trimmed.empty() && IsBlank(trimmed.front())) trimmed.remove_prefix(1);
    while (!trimmed.empty() && IsBlank(trimmed.back())) trimmed.remove_suffix(1);
    if (talrec::com::EqualNoCase(trimmed, u"true")) {
        out = VARIANT_TRUE;
        return S_OK;
    }
    if (talrec::com::EqualNoCase(trimmed, u"false")) {
        out = VARIANT_FALSE;
        return S_OK;
    }
    Number n;
    if (HRESULT hr = ParseNumber(text, n); FAILED(hr)) return hr;
    out = IsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
}

// Converts a value that is not a reference. out is empty on entry and owns what it gets.
HRESULT Convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT& out, int depth) {
    if (src.vt == VT_DISPATCH && vt != VT_DISPATCH && vt != VT_UNKNOWN && vt != VT_EMPTY &&
        !(flags & VARIANT_NOVALUEPROP)) {
        // An object stands for its value property.
        if (src.pdispVal == nullptr || depth > 4) return DISP_E_TYPEMISMATCH;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VARIANT value;
        VariantInit(&value);
        HRESULT hr = src.pdispVal->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                          &value, nullptr, nullptr);
        if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
        hr = Convert(value, flags, vt, out, depth + 1);
        VariantClear(&value);
        return hr;
    }
    if (vt == VT_EMPTY) return S_OK;
    if (src.vt == vt) return VariantCopy(&out, &src);
    if (vt == VT_NULL) return src.vt == VT_EMPTY ? (out.vt = VT_NULL, S_OK) : DISP_E_TYPEMISMATCH;
    if (src.vt == VT_NULL) return DISP_E_TYPEMISMATCH;

    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        if (src.vt != VT_DISPATCH && src.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
        out.vt = vt;
        if (src.punkVal == nullptr) {
            out.punkVal = nullptr;
            return S_OK;
        }
        void* object = nullptr;
        HRESULT hr =
            src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
        if (FAILED(hr)) {
            out.vt = VT_EMPTY;
            return DISP_E_TYPEMISMATCH;
        }
        out.punkVal = static_cast<IUnknown*>(object);
        return S_OK;
    }

    if (vt == VT_BSTR) {
        std::string text;
        if (src.vt == VT_EMPTY) {
            text.clear();
        } else if (IsNumericType(src.vt)) {
            text = NumberText(src, flags);
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        out.bstrVal = talrec::com::BstrFromUtf8(text);
        if (out.bstrVal == nullptr) return E_OUTOFMEMORY;
        out.vt = VT_BSTR;
        return S_OK;
    }

    if (!IsNumericType(vt)) return DISP_E_TYPEMISMATCH;
    Number n;
    if (src.vt == VT_EMPTY) {
        n = FromSigned(0);
    } else if (src.vt == VT_BSTR) {
        std::u16string_view text(src.bstrVal != nullptr ? src.bstrVal : u"",
                                 SysStringLen(src.bstrVal));
        if (vt == VT_BOOL) {
            VARIANT_BOOL b;
            if (HRESULT hr = ParseBool(text, b); FAILED(hr)) return hr;
            out.vt = VT_BOOL;
            out.boolVal = b;
            return S_OK;
        }
        if (HRESULT hr = ParseNumber(text, n); FAILED(hr)) return hr;
    } else if (IsNumericType(src.vt)) {
        n = ReadNumber(src);
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    HRESULT hr = WriteNumber(n, vt, out);
    if (FAILED(hr)) VariantInit(&out);
    return hr;
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID, USHORT flags,
                            VARTYPE vt) {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (vt & (VT_BYREF | VT_ARRAY)) return DISP_E_BADVARTYPE;
    // A reference converts its target; VariantCopyInd gives a value of our own to work on.
    VARIANT value;
    VariantInit(&value);
    if (HRESULT hr = VariantCopyInd(&value, src); FAILED(hr)) return hr;
    VARIANT out;
    VariantInit(&out);
    HRESULT hr = Convert(value, flags, vt, out, 0);
    VariantClear(&value);
    if (FAILED(hr)) {
        VariantClear(&out);
        return hr;
    }
    if (HRESULT cleared = VariantClear(dest); FAILED(cleared)) {
        VariantClear(&out);
        return cleared;
    }
    *dest = out;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
    return VariantChangeTypeEx(dest, src, LOCALE_USER_DEFAULT, flags, vt);
}
