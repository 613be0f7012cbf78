#include "control/Registration.h"

#include <algorithm>
#include <vector>

#include "control/Guids.h"
#include "framework/afxconv.h"
#include "platform/comcat.h"
#include "platform/libloaderapi.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"
#include "platform/winreg.h"
#include "platform/wrl/client.h"
#include "resources/Resources.h"

namespace talrec::control {

namespace {

using Microsoft::WRL::ComPtr;

std::string GuidText(REFGUID guid) {
    OLECHAR text[40] = {};
    StringFromGUID2(guid, text, 40);
    return AfxWideToAnsi(text);
}

std::string UserTypeName(UINT id, REFCLSID clsid) {
    return resources::FindString(id) != nullptr ? resources::LoadAnsiString(id) : GuidText(clsid);
}

// One key's default value (or a named value) under HKEY_CLASSES_ROOT.
struct Entry {
    std::string key;
    std::string valueName;
    std::string data;
};

bool WriteEntries(const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        LSTATUS status =
            RegSetValueExA(key, entry.valueName.empty() ? nullptr : entry.valueName.c_str(), 0,
                           REG_SZ, reinterpret_cast<const BYTE*>(entry.data.c_str()),
                           static_cast<DWORD>(entry.data.size() + 1));
        RegCloseKey(key);
        // A write refused for lack of access stops the writing, and is reported: on this
        // platform the registry is the user's own, so nothing would be registered at all.
        if (status != ERROR_SUCCESS) return false;
    }
    return true;
}

bool DeleteTree(const std::string& key) {
    LSTATUS status = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

ComPtr<ICatRegister> CategoryManager() {
    ComPtr<ICatRegister> manager;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatRegister,
                                reinterpret_cast<void**>(manager.GetAddressOf())))) {
        return nullptr;
    }
    return manager;
}

}  // namespace

std::string ModulePath() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&ModulePath), &module);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

bool RegisterTypeLibrary(const std::string& modulePath) {
    OleString path = AfxAnsiToWide(modulePath);
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLib(path.c_str(), lib.GetAddressOf()))) return false;
    TLIBATTR* attr = nullptr;
    bool ours = SUCCEEDED(lib->GetLibAttr(&attr)) && attr->guid == LIBID_TalRecorderForDvRecUpLib;
    if (attr != nullptr) lib->ReleaseTLibAttr(attr);
    OLECHAR noHelpFolder[] = OLESTR("");  // the published signature takes it non-const
    return ours && SUCCEEDED(RegisterTypeLib(lib.Get(), path.data(), noHelpFolder));
}

bool UnregisterTypeLibrary() {
    // The registration is kept under the module's own system kind ("win32" or "win64").
    constexpr SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    return SUCCEEDED(UnRegisterTypeLib(LIBID_TalRecorderForDvRecUpLib, kTypeLibMajor, kTypeLibMinor,
                                       kTypeLibLocale, kind));
}

HRESULT RegisterSafetyCategory(REFGUID catid, const char* description) {
    ComPtr<ICatRegister> manager = CategoryManager();
    if (!manager) return E_FAIL;
    CATEGORYINFO info{};
    info.catid = catid;
    info.lcid = 0x0409;
    OleString text = AfxAnsiToWide(description);
    std::size_t units = std::min<std::size_t>(text.size(), 127);
    std::copy_n(text.begin(), units, info.szDescription);
    info.szDescription[units] = 0;
    return manager->RegisterCategories(1, &info);
}

HRESULT MarkClassInCategory(REFCLSID clsid, REFGUID catid) {
    ComPtr<ICatRegister> manager = CategoryManager();
    if (!manager) return E_FAIL;
    CATID id = catid;
    return manager->RegisterClassImplCategories(clsid, 1, &id);
}

bool UpdateControlRegistration(bool registering, const std::string& modulePath) {
    // The categories and marks are made whether registering or removing; their failures are
    // not reported: the class is then only not marked. Categories are never removed.
    if (SUCCEEDED(RegisterSafetyCategory(CATID_SafeForScripting,
                                         "Controls that are safely scriptable"))) {
        MarkClassInCategory(CLSID_TalRecorderForDvRecUp, CATID_SafeForScripting);
    }
    if (SUCCEEDED(RegisterSafetyCategory(CATID_SafeForInitializing,
                                         "Controls safely initializable from persistent data"))) {
        MarkClassInCategory(CLSID_TalRecorderForDvRecUp, CATID_SafeForInitializing);
    }

    const std::string clsid = "CLSID\\" + GuidText(CLSID_TalRecorderForDvRecUp);
    if (!registering) {
        return DeleteTree(clsid) && DeleteTree(kProgID) && DeleteTree(kVersionIndependentProgID);
    }

    const std::string name =
        UserTypeName(resources::IDS_TALRECORDERFORDVRECUP, CLSID_TalRecorderForDvRecUp);
    return WriteEntries({
        {kProgID, "", name},
        {std::string(kProgID) + "\\CLSID", "", GuidText(CLSID_TalRecorderForDvRecUp)},
        {clsid, "", name},
        {clsid + "\\ProgID", "", kProgID},
        {clsid + "\\InprocServer32", "", modulePath},
        {clsid + "\\ToolboxBitmap32", "", modulePath + ", 1"},
        {clsid + "\\MiscStatus", "", "0"},
        {clsid + "\\MiscStatus\\1", "", std::to_string(kMiscStatus)},
        {clsid + "\\Control", "", ""},
        {clsid + "\\TypeLib", "", GuidText(LIBID_TalRecorderForDvRecUpLib)},
        {clsid + "\\Version", "", "1.0"},
        {clsid + "\\InprocServer32", "ThreadingModel", "Apartment"},
        // The version-independent ProgID, which names the current one; script hosts and tools
        // that create "the latest" control go through it.
        {clsid + "\\VersionIndependentProgID", "", kVersionIndependentProgID},
        {kVersionIndependentProgID, "", name},
        {std::string(kVersionIndependentProgID) + "\\CLSID", "",
         GuidText(CLSID_TalRecorderForDvRecUp)},
        {std::string(kVersionIndependentProgID) + "\\CurVer", "", kProgID},
    });
}

bool UpdatePropPageRegistration(bool registering, const std::string& modulePath) {
    const std::string clsid = "CLSID\\" + GuidText(CLSID_TalRecorderForDvRecUpPropPage);
    if (!registering) return DeleteTree(clsid);
    return WriteEntries({
        {clsid, "",
         UserTypeName(resources::IDS_TALRECORDERFORDVRECUP_PPG,
                      CLSID_TalRecorderForDvRecUpPropPage)},
        {clsid + "\\InprocServer32", "", modulePath},
    });
}

}  // namespace talrec::control
