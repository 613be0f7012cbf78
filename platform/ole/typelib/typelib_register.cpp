// Registering type libraries and their interfaces in the registry.
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/ole/typelib/typelib_data.h"
#include "platform/oleauto.h"
#include "platform/registry/registry_file.h"
#include "platform/registry/registry_tree.h"
#include "platform/registry/registry_util.h"

namespace {

namespace reg = talrec::registry;
using talrec::com::GuidText;

// The class id of the automation marshaller, which serves every dispatch interface.
constexpr GUID kPSDispatch = {
    0x00020420, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::string Hex(unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", value);
    return buf;
}

std::string Version(WORD major, WORD minor) {
    return Hex(major) + "." + Hex(minor);
}

std::string Utf8(BSTR b) {
    return talrec::com::Utf8FromUtf16(std::u16string_view(b ? b : u"", SysStringLen(b)));
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR path, LPCOLESTR helpDir) {
    if (lib == nullptr || path == nullptr || path[0] == 0) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    if (HRESULT hr = lib->GetLibAttr(&attr); FAILED(hr)) return hr;
    const TLIBATTR a = *attr;
    lib->ReleaseTLibAttr(attr);

    BSTR name = nullptr, doc = nullptr;
    lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    std::string title = SysStringLen(doc) > 0 ? Utf8(doc) : Utf8(name);
    SysFreeString(name);
    SysFreeString(doc);

    std::string file = talrec::com::Utf8FromOle(path);
    std::string help = talrec::com::Utf8FromOle(helpDir);
    if (help.empty()) {
        std::size_t cut = file.rfind('/');
        help = cut == std::string::npos ? "." : file.substr(0, cut == 0 ? 1 : cut);
    }
    const std::string libid = GuidText(a.guid);
    const std::string version = Version(a.wMajorVerNum, a.wMinorVerNum);
    const std::string key = "TypeLib\\" + libid + "\\" + version;

    LSTATUS rc = reg::WriteString(key, "", title);
    if (rc == ERROR_SUCCESS)
        rc = reg::WriteString(key + "\\FLAGS", "", std::to_string(a.wLibFlags));
    if (rc == ERROR_SUCCESS) rc = reg::WriteString(key + "\\HELPDIR", "", help);
    if (rc == ERROR_SUCCESS) rc = reg::WriteString(key + "\\" + Hex(a.lcid) + "\\linux", "", file);

    for (UINT i = 0; rc == ERROR_SUCCESS && i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) ||
            (kind != TKIND_DISPATCH && kind != TKIND_INTERFACE))
            continue;
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) continue;
        TYPEATTR* ta = nullptr;
        BSTR typeName = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr);
        if (SUCCEEDED(info->GetTypeAttr(&ta))) {
            std::string iface = "Interface\\" + GuidText(ta->guid);
            info->ReleaseTypeAttr(ta);
            rc = reg::WriteString(iface, "", Utf8(typeName));
            if (rc == ERROR_SUCCESS)
                rc = reg::WriteString(iface + "\\ProxyStubClsid", "", GuidText(kPSDispatch));
            if (rc == ERROR_SUCCESS)
                rc = reg::WriteString(iface + "\\ProxyStubClsid32", "", GuidText(kPSDispatch));
            if (rc == ERROR_SUCCESS) rc = reg::WriteString(iface + "\\TypeLib", "", libid);
            if (rc == ERROR_SUCCESS) rc = reg::WriteString(iface + "\\TypeLib", "Version", version);
        }
        SysFreeString(typeName);
        info->Release();
    }
    return rc == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID, SYSKIND) {
    const std::string id = GuidText(libid);
    const std::string version = Version(major, minor);

    // One change of the registry: the interfaces that name this library and version, the
    // version's key, and the library's key when no version is left. Absent keys count as
    // removed.
    LSTATUS rc = reg::Modify([&](reg::Key& root, bool& changed) -> DWORD {
        std::vector<std::string> owned;
        if (const reg::Key* interfaces = reg::Find(std::as_const(root), {"Interface"})) {
            for (const auto& [iface, key] : interfaces->subkeys) {
                auto lib = key->subkeys.find(std::string_view("TypeLib"));
                if (lib == key->subkeys.end()) continue;
                const auto& values = lib->second->values;
                auto owner = values.find(std::string_view());
                auto ownerVersion = values.find(std::string_view("Version"));
                if (owner == values.end() || !reg::NamesEqual(owner->second.data, id)) continue;
                if (ownerVersion != values.end() &&
                    !reg::NamesEqual(ownerVersion->second.data, version))
                    continue;
                owned.push_back(iface);
            }
        }
        for (const std::string& iface : owned) changed |= reg::Remove(root, {"Interface", iface});
        changed |= reg::Remove(root, {"TypeLib", id, version});
        if (const reg::Key* lib = reg::Find(std::as_const(root), {"TypeLib", id});
            lib != nullptr && lib->subkeys.empty()) {
            changed |= reg::Remove(root, {"TypeLib", id});
        }
        return ERROR_SUCCESS;
    });
    return rc == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}
