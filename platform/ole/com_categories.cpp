// The standard component-categories manager, over the registry.
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/comcat.h"
#include "platform/ext/comobject.h"
#include "platform/ole/com_builtin.h"
#include "platform/ole/com_text.h"
#include "platform/registry/registry_util.h"

namespace {

using talrec::com::GuidText;
namespace reg = talrec::registry;

const std::string kCategories = "Component Categories\\";

std::string LocaleName(LCID lcid) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(lcid));
    return buf;
}

// The description in the record: up to its terminator, never past the field's 128 units, and
// never more than 127 units of text.
std::u16string Description(const CATEGORYINFO& info) {
    std::size_t n = 0;
    while (n < 127 && info.szDescription[n] != 0) ++n;
    return std::u16string(info.szDescription, n);
}

HRESULT FromRegistry(LSTATUS rc) {
    if (rc == ERROR_SUCCESS) return S_OK;
    if (rc == ERROR_ACCESS_DENIED) return E_ACCESSDENIED;
    return HRESULT_FROM_WIN32(rc);
}

using GuidEnum = SnapshotEnum<IEnumGUID, GUID>;
using CategoryEnum = SnapshotEnum<IEnumCATEGORYINFO, CATEGORYINFO>;

std::vector<GUID> GuidKeys(const std::string& key) {
    std::vector<std::string> names;
    std::vector<GUID> out;
    if (reg::ListSubkeys(key, names) != ERROR_SUCCESS) return out;
    for (const auto& name : names) {
        GUID g;
        if (talrec::com::ParseGuid(talrec::com::Utf16FromUtf8(name), g)) out.push_back(g);
    }
    return out;
}

bool Contains(const std::vector<GUID>& list, ULONG count, const CATID* ids) {
    for (ULONG i = 0; i < count; ++i)
        for (const GUID& g : list)
            if (g == ids[i]) return true;
    return false;
}

bool Qualifies(REFCLSID clsid, ULONG cImpl, const CATID* impl, ULONG cReq, const CATID* req) {
    std::string base = "CLSID\\" + GuidText(clsid);
    if (cImpl != static_cast<ULONG>(-1)) {
        if (!Contains(GuidKeys(base + "\\Implemented Categories"), cImpl, impl)) return false;
    }
    if (cReq != static_cast<ULONG>(-1)) {
        for (const GUID& needed : GuidKeys(base + "\\Required Categories")) {
            bool allowed = false;
            for (ULONG i = 0; i < cReq && !allowed; ++i) allowed = req[i] == needed;
            if (!allowed) return false;
        }
    }
    return true;
}

class CategoriesManager final : public ComObject<ICatRegister, ICatInformation> {
  public:
    // --- ICatRegister
    HRESULT RegisterCategories(ULONG count, CATEGORYINFO* infos) override {
        if (count > 0 && infos == nullptr) return E_POINTER;
        for (ULONG i = 0; i < count; ++i) {
            std::string text = talrec::com::Utf8FromUtf16(Description(infos[i]));
            LSTATUS rc = reg::WriteString(kCategories + GuidText(infos[i].catid),
                                          LocaleName(infos[i].lcid), text);
            if (rc != ERROR_SUCCESS) return FromRegistry(rc);
        }
        return S_OK;
    }
    HRESULT UnRegisterCategories(ULONG count, CATID* catids) override {
        if (count > 0 && catids == nullptr) return E_POINTER;
        for (ULONG i = 0; i < count; ++i) {
            if (LSTATUS rc = reg::DeleteTree(kCategories + GuidText(catids[i]));
                rc != ERROR_SUCCESS)
                return FromRegistry(rc);
        }
        return S_OK;
    }
    HRESULT RegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID* catids) override {
        return Mark(clsid, "Implemented Categories", count, catids);
    }
    HRESULT UnRegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID* catids) override {
        return Unmark(clsid, "Implemented Categories", count, catids);
    }
    HRESULT RegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID* catids) override {
        return Mark(clsid, "Required Categories", count, catids);
    }
    HRESULT UnRegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID* catids) override {
        return Unmark(clsid, "Required Categories", count, catids);
    }

    // --- ICatInformation
    HRESULT EnumCategories(LCID lcid, IEnumCATEGORYINFO** categories) override {
        if (categories == nullptr) return E_POINTER;
        *categories = nullptr;
        std::vector<CATEGORYINFO> items;
        for (const GUID& catid : GuidKeys("Component Categories")) {
            CATEGORYINFO info{catid, lcid, {}};
            LPOLESTR text = nullptr;
            if (SUCCEEDED(GetCategoryDesc(catid, lcid, &text))) {
                std::u16string_view t(text);
                t.substr(0, 127).copy(info.szDescription, 127);
                CoTaskMemFree(text);
            }
            items.push_back(info);
        }
        *categories = new CategoryEnum(std::move(items), IID_IEnumCATEGORYINFO);
        return S_OK;
    }
    HRESULT GetCategoryDesc(REFCATID catid, LCID lcid, LPOLESTR* description) override {
        if (description == nullptr) return E_POINTER;
        *description = nullptr;
        std::string key = kCategories + GuidText(catid);
        std::string text;
        LSTATUS rc = reg::ReadString(key, LocaleName(lcid), text);
        if (rc == ERROR_FILE_NOT_FOUND) {
            // Another locale's description, when the asked one has none.
            HKEY handle;
            rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle);
            if (rc == ERROR_FILE_NOT_FOUND) return CAT_E_CATIDNOEXIST;
            if (rc != ERROR_SUCCESS) return FromRegistry(rc);
            char name[32];
            DWORD nameSize = sizeof name;
            rc = RegEnumValueA(handle, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(handle);
            if (rc == ERROR_NO_MORE_ITEMS) return CAT_E_NODESCRIPTION;
            if (rc != ERROR_SUCCESS) return FromRegistry(rc);
            rc = reg::ReadString(key, name, text);
        }
        if (rc != ERROR_SUCCESS) return FromRegistry(rc);
        std::u16string wide = talrec::com::Utf16FromUtf8(text);
        auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
        if (out == nullptr) return E_OUTOFMEMORY;
        std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
        *description = out;
        return S_OK;
    }
    HRESULT EnumClassesOfCategories(ULONG cImpl, const CATID* impl, ULONG cReq, const CATID* req,
                                    IEnumCLSID** classes) override {
        if (classes == nullptr) return E_POINTER;
        *classes = nullptr;
        if (cImpl == 0 || (cImpl != static_cast<ULONG>(-1) && impl == nullptr)) return E_INVALIDARG;
        std::vector<GUID> found;
        for (const GUID& clsid : GuidKeys("CLSID"))
            if (Qualifies(clsid, cImpl, impl, cReq, req)) found.push_back(clsid);
        *classes = new GuidEnum(std::move(found), IID_IEnumGUID);
        return S_OK;
    }
    HRESULT IsClassOfCategories(REFCLSID clsid, ULONG cImpl, const CATID* impl, ULONG cReq,
                                const CATID* req) override {
        if (cImpl == 0 || (cImpl != static_cast<ULONG>(-1) && impl == nullptr)) return E_INVALIDARG;
        if (cReq != static_cast<ULONG>(-1) && cReq > 0 && req == nullptr) return E_INVALIDARG;
        return Qualifies(clsid, cImpl, impl, cReq, req) ? S_OK : S_FALSE;
    }
    HRESULT EnumImplCategoriesOfClass(REFCLSID clsid, IEnumCATID** catids) override {
        return Enumerate(clsid, "Implemented Categories", catids);
    }
    HRESULT EnumReqCategoriesOfClass(REFCLSID clsid, IEnumCATID** catids) override {
        return Enumerate(clsid, "Required Categories", catids);
    }

  private:
    ~CategoriesManager() override = default;
    IUnknown* Interface(REFIID riid) override {
        if (riid == IID_ICatRegister) return static_cast<ICatRegister*>(this);
        if (riid == IID_ICatInformation) return static_cast<ICatInformation*>(this);
        return nullptr;
    }

    static HRESULT Mark(REFCLSID clsid, const char* list, ULONG count, const CATID* catids) {
        if (count > 0 && catids == nullptr) return E_POINTER;
        std::string base = "CLSID\\" + GuidText(clsid) + "\\" + list + "\\";
        for (ULONG i = 0; i < count; ++i) {
            if (LSTATUS rc = reg::CreateKey(base + GuidText(catids[i])); rc != ERROR_SUCCESS)
                return FromRegistry(rc);
        }
        return S_OK;
    }
    static HRESULT Unmark(REFCLSID clsid, const char* list, ULONG count, const CATID* catids) {
        if (count > 0 && catids == nullptr) return E_POINTER;
        std::string base = "CLSID\\" + GuidText(clsid) + "\\" + list;
        for (ULONG i = 0; i < count; ++i) {
            if (LSTATUS rc = reg::DeleteTree(base + "\\" + GuidText(catids[i]));
                rc != ERROR_SUCCESS)
                return FromRegistry(rc);
        }
        return FromRegistry(reg::DeleteIfEmpty(base));
    }
    static HRESULT Enumerate(REFCLSID clsid, const char* list, IEnumCATID** catids) {
        if (catids == nullptr) return E_POINTER;
        *catids = new GuidEnum(GuidKeys("CLSID\\" + GuidText(clsid) + "\\" + list), IID_IEnumGUID);
        return S_OK;
    }
};

// The manager's class object: one static object for the process, never freed, so it keeps no
// count (and is no ComObject, whose last Release deletes).
class CategoriesFactory final : public IClassFactory {
  public:
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* manager = new CategoriesManager;
        HRESULT hr = manager->QueryInterface(riid, object);
        manager->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

}  // namespace

namespace talrec::com {

HRESULT GetCategoriesManagerClassObject(REFIID riid, void** object) {
    static CategoriesFactory factory;
    return factory.QueryInterface(riid, object);
}

}  // namespace talrec::com
