// A type library carried by a module as constant data.
//
// A module describes its library with the records below and exports one C function:
//
//   extern "C" const TLIBDATA* TalrecGetTypeLibData();   // name in TLIBDATA_SYMBOL
//
// LoadTypeLib(path) opens the module with dlopen, calls that function and copies the
// description, so the ITypeLib it returns does not depend on the module staying loaded.
// Example (one dispatch interface with one method and one property, and a coclass):
//
//   const TLIBPARAMDATA kFileParam[] = {{"fullPathName", VT_BSTR}};
//   const TLIBMEMBERDATA kMembers[] = {
//       {3, TLIBMEMBER_PROPERTY, "TempFolderPass", VT_BSTR, nullptr, 0, "property ...", 0},
//       {4, TLIBMEMBER_METHOD, "recStart", VT_I4, kFileParam, 1, "method recStart", 0},
//   };
//   const TLIBIMPLDATA kImpls[] = {{DIID_Main, IMPLTYPEFLAG_FDEFAULT}};
//   const TLIBTYPEDATA kTypes[] = {
//       {TKIND_DISPATCH, DIID_Main, "_DMain", "Dispatch interface ...", 0, kMembers, 2,
//        nullptr, 0},
//       {TKIND_COCLASS, CLSID_Main, "Main", "Main Control",
//        TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL, nullptr, 0, kImpls, 1},
//   };
//   const TLIBDATA kLibrary = {TLIBDATA_VERSION, LIBID_Main, 0x0409, 1, 0, LIBFLAG_FCONTROL,
//                              "MainLib", "Main module", "Main.hlp", 0, kTypes, 2};
//
// Texts are UTF-8 and must not be null (use "" for none). Member ids are unique within a type.
// A coclass's implemented interfaces name interfaces of the same library by their id.
// LoadTypeLib refuses a description that breaks these rules with TYPE_E_INVDATAREAD.
#pragma once

#ifdef _WIN32
#error "a Linux extension with no counterpart in the Windows SDK"
#else
#include "platform/oaidl.h"

inline constexpr char TLIBDATA_SYMBOL[] = "TalrecGetTypeLibData";
// The layout version of these records; a module built against another one is refused.
inline constexpr UINT TLIBDATA_VERSION = 1;

enum TLIBMEMBERKIND : WORD {
    TLIBMEMBER_METHOD = 0,    // a FUNCDESC of kind INVOKE_FUNC
    TLIBMEMBER_PROPERTY = 1,  // a VARDESC of a dispatch interface (read and write unless
                              // VARFLAG_FREADONLY is in flags)
};

struct TLIBPARAMDATA {
    const char* name;
    VARTYPE vt;
};

struct TLIBMEMBERDATA {
    MEMBERID memid;
    TLIBMEMBERKIND kind;
    const char* name;
    VARTYPE vt;  // a method's result (VT_EMPTY for none) or a property's type
    const TLIBPARAMDATA* params;
    UINT cParams;
    const char* helpString;
    WORD flags;  // FUNCFLAG_* for methods, VARFLAG_* for properties
};

struct TLIBIMPLDATA {
    GUID iid;
    INT implTypeFlags;  // IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FSOURCE
};

struct TLIBTYPEDATA {
    TYPEKIND typekind;  // TKIND_DISPATCH, TKIND_INTERFACE or TKIND_COCLASS
    GUID guid;
    const char* name;
    const char* helpString;
    WORD typeFlags;
    const TLIBMEMBERDATA* members;
    UINT cMembers;
    const TLIBIMPLDATA* impls;  // for a coclass
    UINT cImpls;
};

struct TLIBDATA {
    UINT version;  // TLIBDATA_VERSION
    GUID libid;
    LCID lcid;
    WORD majorVersion;
    WORD minorVersion;
    WORD libFlags;
    const char* name;
    const char* helpString;
    const char* helpFile;
    DWORD helpContext;
    const TLIBTYPEDATA* types;
    UINT cTypes;
};

using LPFNGETTYPELIBDATA = const TLIBDATA* (*)();

// Makes a type library from a description in memory, copied, so the description may go away.
// For a module that wants its own library without loading itself (and for tests).
HRESULT CreateTypeLibFromData(const TLIBDATA* data, ITypeLib** lib);

#endif  // _WIN32
