// Component categories: the standard manager that records which categories exist (with their
// descriptions) and which classes implement or require them, in the registry:
//   Component Categories\{catid}                       value "<lcid hex>" = description
//   CLSID\{clsid}\Implemented Categories\{catid}       (a key)
//   CLSID\{clsid}\Required Categories\{catid}          (a key)
// Create it with CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr,
// CLSCTX_INPROC_SERVER, IID_ICatRegister or IID_ICatInformation, ...); it is built into the
// platform and needs no registration. Any thread.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/objbase.h"

using REFCATID = const CATID&;

// {0002E005-0000-0000-C000-000000000046}
inline constexpr CLSID CLSID_StdComponentCategoriesMgr = {
    0x0002E005, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0002E000-0000-0000-C000-000000000046}
inline constexpr IID IID_IEnumGUID = {
    0x0002E000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumCLSID = IID_IEnumGUID;
inline constexpr IID IID_IEnumCATID = IID_IEnumGUID;
// {0002E011-0000-0000-C000-000000000046}
inline constexpr IID IID_IEnumCATEGORYINFO = {
    0x0002E011, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0002E012-0000-0000-C000-000000000046}
inline constexpr IID IID_ICatRegister = {
    0x0002E012, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0002E013-0000-0000-C000-000000000046}
inline constexpr IID IID_ICatInformation = {
    0x0002E013, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The two categories a container checks before it lets a script drive a control.
// {7DD95801-9882-11CF-9FA9-00AA006C42C4}
inline constexpr CATID CATID_SafeForScripting = {
    0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
// {7DD95802-9882-11CF-9FA9-00AA006C42C4}
inline constexpr CATID CATID_SafeForInitializing = {
    0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};

// One category: its id, the locale of the description, and the description, NUL-terminated
// within its 128 units (127 units of text at most; the manager never reads past the field).
struct CATEGORYINFO {
    CATID catid;
    LCID lcid;
    OLECHAR szDescription[128];
};

struct IEnumGUID : IUnknown {
    virtual HRESULT Next(ULONG count, GUID* items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumGUID** copy) = 0;

  protected:
    ~IEnumGUID() = default;
};
using IEnumCLSID = IEnumGUID;
using IEnumCATID = IEnumGUID;

struct IEnumCATEGORYINFO : IUnknown {
    virtual HRESULT Next(ULONG count, CATEGORYINFO* items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumCATEGORYINFO** copy) = 0;

  protected:
    ~IEnumCATEGORYINFO() = default;
};

struct ICatRegister : IUnknown {
    // Writes each description under its locale; an existing one is replaced.
    virtual HRESULT RegisterCategories(ULONG count, CATEGORYINFO* infos) = 0;
    virtual HRESULT UnRegisterCategories(ULONG count, CATID* catids) = 0;
    virtual HRESULT RegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID* catids) = 0;
    // Removes the marks; the "Implemented Categories" key goes when it is left empty.
    virtual HRESULT UnRegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID* catids) = 0;
    virtual HRESULT RegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID* catids) = 0;
    virtual HRESULT UnRegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID* catids) = 0;

  protected:
    ~ICatRegister() = default;
};

struct ICatInformation : IUnknown {
    // Every registered category with its description in the locale (else any locale's).
    virtual HRESULT EnumCategories(LCID lcid, IEnumCATEGORYINFO** categories) = 0;
    // The description in task memory (CoTaskMemFree): the locale's, else any one.
    // CAT_E_CATIDNOEXIST for an unknown category, CAT_E_NODESCRIPTION when it has none.
    virtual HRESULT GetCategoryDesc(REFCATID catid, LCID lcid, LPOLESTR* description) = 0;
    // Classes implementing at least one category of the implemented list and requiring none
    // outside the required list; a count of (ULONG)-1 means "not tested".
    virtual HRESULT EnumClassesOfCategories(ULONG cImplemented, const CATID* implemented,
                                            ULONG cRequired, const CATID* required,
                                            IEnumCLSID** classes) = 0;
    // S_OK when the class qualifies as for EnumClassesOfCategories, else S_FALSE.
    virtual HRESULT IsClassOfCategories(REFCLSID clsid, ULONG cImplemented,
                                        const CATID* implemented, ULONG cRequired,
                                        const CATID* required) = 0;
    virtual HRESULT EnumImplCategoriesOfClass(REFCLSID clsid, IEnumCATID** catids) = 0;
    virtual HRESULT EnumReqCategoriesOfClass(REFCLSID clsid, IEnumCATID** catids) = 0;

  protected:
    ~ICatInformation() = default;
};

#endif  // _WIN32
