#include "host/common/VariantJson.h"

#include <limits>

#include "platform/codepage.h"
#include "platform/oleauto.h"

namespace talrec::host {

std::string WideToUtf8(const OLECHAR* text, std::size_t length) {
    if (text == nullptr || length == 0) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                            nullptr);
    }
    return out;
}

OleString Utf8ToWide(const std::string& text) {
    if (text.empty()) return {};
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    OleString out(size > 0 ? static_cast<std::size_t>(size) : 0, OLECHAR{});
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            size);
    }
    return out;
}

std::optional<VARIANT> JsonToVariant(const nlohmann::json& value) {
    VARIANT v;
    VariantInit(&v);
    if (value.is_null()) return v;
    if (value.is_boolean()) {
        v.vt = VT_BOOL;
        v.boolVal = value.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    if (value.is_number_integer()) {
        auto n = value.get<long long>();
        if (value.is_number_unsigned() &&
            value.get<unsigned long long>() >
                static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
            v.vt = VT_R8;
            v.dblVal = value.get<double>();
        } else if (n >= std::numeric_limits<LONG>::min() && n <= std::numeric_limits<LONG>::max()) {
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(n);
        } else {
            v.vt = VT_R8;
            v.dblVal = static_cast<double>(n);
        }
        return v;
    }
    if (value.is_number()) {
        v.vt = VT_R8;
        v.dblVal = value.get<double>();
        return v;
    }
    if (value.is_string()) {
        OleString wide = Utf8ToWide(value.get<std::string>());
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        return v;
    }
    return std::nullopt;
}

nlohmann::json VariantToJson(const VARIANT& value) {
    switch (value.vt) {
        case VT_I2:
            return value.iVal;
        case VT_I4:
            return value.lVal;
        case VT_UI4:
            return value.ulVal;
        case VT_INT:
            return value.intVal;
        case VT_R8:
            return value.dblVal;
        case VT_BOOL:
            return value.boolVal != VARIANT_FALSE;
        case VT_BSTR:
            return WideToUtf8(value.bstrVal, SysStringLen(value.bstrVal));
        default:
            return nullptr;
    }
}

}  // namespace talrec::host
