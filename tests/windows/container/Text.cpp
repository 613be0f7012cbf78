#include "Text.h"

#include <cstdio>

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t* text) {
    if (text == nullptr || *text == 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), n, nullptr, nullptr);
    utf8.resize(n - 1);
    return utf8;
}

std::string VariantText(const VARIANT& value) {
    switch (V_VT(&value)) {
        case VT_EMPTY:
            return "";
        case VT_NULL:
            return "null";
        case VT_BOOL:
            return V_BOOL(&value) ? "true" : "false";
        case VT_I4:
            return std::to_string(V_I4(&value));
        case VT_BSTR:
            return Narrow(V_BSTR(&value));
        default:
            break;
    }
    VARIANT text;
    VariantInit(&text);
    // mingw-w64 declares the source without const.
    if (FAILED(VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR))) {
        return "<vt " + std::to_string(V_VT(&value)) + ">";
    }
    std::string result = Narrow(V_BSTR(&text));
    VariantClear(&text);
    return result;
}

std::string HresultText(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

void Say(const std::string& line) {
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}
