#include "framework/afxconv.h"

#include <cstring>

#include "platform/codepage.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"

OleString AfxAnsiToWide(std::string_view ansi) {
    if (ansi.empty()) return {};
    int length =
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    OleString wide(length > 0 ? static_cast<std::size_t>(length) : 0, u'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(),
                            length);
    }
    return wide;
}

std::string AfxWideToAnsi(OleStringView wide) {
    if (wide.empty()) return {};
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                     0, nullptr, nullptr);
    std::string ansi(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(),
                            length, nullptr, nullptr);
    }
    return ansi;
}

std::string AfxBstrToAnsi(BSTR text) {
    if (text == nullptr) return {};
    return AfxWideToAnsi(OleStringView(text, SysStringLen(text)));
}

BSTR AfxAllocBstr(std::string_view ansi) {
    OleString wide = AfxAnsiToWide(ansi);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

LPOLESTR AfxAllocTaskString(std::string_view ansi) {
    OleString wide = AfxAnsiToWide(ansi);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (out != nullptr) std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
    return out;
}
