// Automation services: automation strings (BSTR), VARIANT handling and coercion, argument
// fetching, and type libraries. All functions may be called from any thread; a VARIANT or
// BSTR is used by one thread at a time.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/oaidl.h"

// --- Automation strings ------------------------------------------------------------------
// A BSTR may be freed by any module of the process: all allocate with malloc.

// Copies a NUL-terminated string; null for a null argument.
BSTR SysAllocString(const OLECHAR* text);
// A string of length units copied from text, or zero-filled when text is null. A BSTR may hold
// NUL units; SysStringLen counts them.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// A string of length bytes (an odd count allowed), copied from bytes or zero-filled.
BSTR SysAllocStringByteLen(const char* bytes, UINT length);
// Replaces *target with a copy of text; FALSE when out of memory (then *target is kept).
BOOL SysReAllocString(BSTR* target, const OLECHAR* text);
BOOL SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
// Length in units; 0 for null.
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// --- VARIANT -----------------------------------------------------------------------------

// Flags of VariantChangeType.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x2;
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x4;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

void VariantInit(VARIANTARG* v);
// Frees what v owns (a string, an interface reference) and leaves it VT_EMPTY. A reference
// (VT_BYREF) owns nothing. DISP_E_BADVARTYPE for a type tag this platform does not know.
HRESULT VariantClear(VARIANTARG* v);
// Deep copy: the string is copied, an interface reference counted; a reference is copied
// as the same reference. dest is cleared first.
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// As VariantCopy, but a reference is followed and its target copied.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);
// Converts src to type vt into dest (dest may be src), with automation's rules:
// - numbers to numbers, rounding a fraction to the nearest integer, halves to even;
//   DISP_E_OVERFLOW when the value does not fit;
// - a number to a string gives its text (at most 15 significant digits for VT_R8);
//   a string to a number parses it (blanks around it allowed, "&H" hexadecimal too);
//   a string that is no number gives DISP_E_TYPEMISMATCH;
// - VT_BOOL is -1 or 0; to a string "-1"/"0", or "True"/"False" with VARIANT_ALPHABOOL; from
//   a string "True"/"False" (any case) or a number, non-zero being true;
// - VT_EMPTY converts to 0, "" or False; VT_NULL only to VT_NULL or VT_EMPTY;
// - an object (VT_DISPATCH) converts through its value property (DISPID_VALUE) unless
//   VARIANT_NOVALUEPROP; VT_UNKNOWN and VT_DISPATCH convert to each other through
//   QueryInterface;
// - a reference (VT_BYREF) converts its target;
// - everything else: DISP_E_TYPEMISMATCH, and dest is left as it was.
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags,
                            VARTYPE vt);

// Fetches argument position (0 for the first argument as the caller wrote it) converted to
// vtTarget into result: a named argument whose id equals position first, else the positional
// one. DISP_E_PARAMNOTFOUND when absent; a conversion failure returns its code and sets
// *argErr to the argument's index in rgvarg.
HRESULT DispGetParam(DISPPARAMS* params, UINT position, VARTYPE vtTarget, VARIANT* result,
                     UINT* argErr);
// Looks the names up through a type description (ITypeInfo::GetIDsOfNames).
HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids);

// --- Type libraries ----------------------------------------------------------------------
// A type library here is a module's constant description (platform/ext/oletlbdata.h), loaded by
// the module's path. Its ITypeInfo objects answer GetTypeAttr, GetFuncDesc, GetVarDesc,
// GetNames, GetIDsOfNames (names without regard to case, an exact-case match first),
// GetDocumentation, GetRefTypeOfImplType, GetImplTypeFlags, GetRefTypeInfo and
// GetContainingTypeLib; GetTypeComp, Invoke, GetDllEntry, AddressOfMember, CreateInstance and
// GetMops answer E_NOTIMPL. A dispatch interface lists no base interface (cImplTypes 0).

// Loads the type library that the module at path carries: dlopen, then the exported
// TLIBDATA_SYMBOL. TYPE_E_CANTLOADLIBRARY when the module cannot be opened or carries none,
// TYPE_E_INVDATAREAD when its description is malformed.
HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** lib);
// Loads the registered library: the highest registered minor version of that major version
// that is at least minor, the locale's path, else the primary language's, else neutral's,
// else any registered locale's. TYPE_E_LIBNOTREGISTERED when none is registered.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
// Registers the library found at path (under HKEY_CLASSES_ROOT):
//   TypeLib\{libid}\M.m               = the library's help string (else its name)
//   TypeLib\{libid}\M.m\FLAGS         = the library flags, in decimal
//   TypeLib\{libid}\M.m\HELPDIR       = helpDir, or the path's folder when helpDir is empty
//   TypeLib\{libid}\M.m\<lcid>\linux  = path   (<lcid> in hexadecimal, as "409")
//   Interface\{iid}                   = the interface's name, for each interface and dispatch
//   Interface\{iid}\ProxyStubClsid32, \ProxyStubClsid = the automation marshaller's class id
//   Interface\{iid}\TypeLib           = {libid}, with the value "Version" = "M.m"
// Any registry failure gives TYPE_E_REGISTRYACCESS.
HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR path, LPCOLESTR helpDir);
// Removes version major.minor of the library (every locale of it, its flags and help folder,
// and the library's key when no version is left) and the Interface entries that name that
// library and version. Entries already absent count as removed: S_OK.
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

#endif  // _WIN32
