// Loading type libraries: from a module's description, by path or through the registry.
#include <dlfcn.h>

#include <cstdio>
#include <vector>

#include "platform/ext/oletlbdata.h"
#include "platform/ole/typelib/typelib_data.h"
#include "platform/oleauto.h"
#include "platform/registry/registry_util.h"

namespace {

namespace reg = talrec::registry;

std::string Hex(unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", value);
    return buf;
}

// Reads "M.m" (hexadecimal, as the registry names versions).
bool ParseVersion(const std::string& text, unsigned& major, unsigned& minor) {
    char tail;
    return std::sscanf(text.c_str(), "%x.%x%c", &major, &minor, &tail) == 2 && major <= 0xFFFF &&
           minor <= 0xFFFF;
}

}  // namespace

HRESULT CreateTypeLibFromData(const TLIBDATA* data, ITypeLib** lib) {
    if (lib == nullptr) return E_INVALIDARG;
    *lib = nullptr;
    if (data == nullptr) return E_INVALIDARG;
    talrec::com::TlbLibrary library;
    if (!talrec::com::CopyDescription(*data, library)) return TYPE_E_INVDATAREAD;
    return talrec::com::MakeTypeLib(std::move(library), lib);
}

HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** lib) {
    if (lib == nullptr) return E_INVALIDARG;
    *lib = nullptr;
    if (path == nullptr || path[0] == 0) return E_INVALIDARG;
    std::string file = talrec::com::Utf8FromOle(path);
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return TYPE_E_CANTLOADLIBRARY;
    auto get = reinterpret_cast<LPFNGETTYPELIBDATA>(dlsym(handle, TLIBDATA_SYMBOL));
    HRESULT hr = TYPE_E_CANTLOADLIBRARY;
    if (get != nullptr) {
        const TLIBDATA* data = get();
        hr = data != nullptr ? CreateTypeLibFromData(data, lib) : TYPE_E_CANTLOADLIBRARY;
    }
    // The description has been copied; the module may go (it stays if others hold it).
    dlclose(handle);
    return hr;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
    if (lib == nullptr) return E_INVALIDARG;
    *lib = nullptr;
    std::string base = "TypeLib\\" + talrec::com::GuidText(libid);
    std::vector<std::string> versions;
    LSTATUS rc = reg::ListSubkeys(base, versions);
    if (rc == ERROR_FILE_NOT_FOUND) return TYPE_E_LIBNOTREGISTERED;
    if (rc != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;

    // The same major version, the highest minor at least the one asked for.
    std::string best;
    unsigned bestMinor = 0;
    for (const auto& v : versions) {
        unsigned M, m;
        if (!ParseVersion(v, M, m) || M != major || m < minor) continue;
        if (best.empty() || m > bestMinor) {
            best = v;
            bestMinor = m;
        }
    }
    if (best.empty()) return TYPE_E_LIBNOTREGISTERED;
    std::string key = base + "\\" + best;

    // The locale's entry, else its primary language's, else the neutral one, else any.
    std::vector<std::string> tried{Hex(lcid), Hex(lcid & 0x3FF), "0"};
    std::vector<std::string> locales;
    reg::ListSubkeys(key, locales);
    for (const auto& name : locales) {
        unsigned value;
        char tail;
        if (std::sscanf(name.c_str(), "%x%c", &value, &tail) == 1) tried.push_back(name);
    }
    for (const auto& locale : tried) {
        std::string path;
        if (reg::ReadString(key + "\\" + locale + "\\linux", "", path) != ERROR_SUCCESS ||
            path.empty())
            continue;
        std::u16string wide = talrec::com::Utf16FromUtf8(path);
        HRESULT hr = LoadTypeLib(wide.c_str(), lib);
        if (FAILED(hr)) return hr;
        TLIBATTR* attr = nullptr;
        (*lib)->GetLibAttr(&attr);
        bool same = attr->guid == libid;
        (*lib)->ReleaseTLibAttr(attr);
        if (!same) {
            // The registered file holds another library: not the one asked for.
            (*lib)->Release();
            *lib = nullptr;
            return TYPE_E_LIBNOTREGISTERED;
        }
        return S_OK;
    }
    return TYPE_E_LIBNOTREGISTERED;
}
