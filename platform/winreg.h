// The registry: HKEY_CLASSES_ROOT kept in one text file per user.
//
// Where the file lives: $TALREC_REGISTRY when set and not empty, else
// $XDG_CONFIG_HOME/talrec/registry, else ~/.config/talrec/registry. The path is looked up on
// every call, so a test may point each case at a file of its own.
//
// What the implementation guarantees:
// - Every change is one transaction: under an exclusive flock on "<file>.lock" the file is
//   read, changed, written to a temporary file in the same folder and renamed over the old
//   one. Two processes (or threads) writing at once neither corrupt the file nor lose an entry;
//   a reader always sees a whole file, the old one or the new one.
// - A damaged file (empty, truncated, not in the registry's format) is never trusted: reads
//   fail with ERROR_BADDB; the first change finds the damage, moves the file aside to
//   "<file>.damaged" (saying so through OutputDebugStringA) and is made on a fresh, empty
//   registry, so that a registration after damage succeeds at once. A change that fails on
//   its own still leaves the fresh registry behind.
// - A registry file or folder without write permission bits is read-only, for every user
//   including root: a call that would change the content fails with ERROR_ACCESS_DENIED; one
//   that would change nothing answers as it would otherwise; reads still work.
// - Keys are case-insensitive and case-preserving; key names hold no backslash; a value's
//   name "" (or null) is the key's default value.
//
// Handles are entries in a table of the process: a handle names a key path, not a snapshot,
// and a key deleted by anyone after it was opened answers ERROR_KEY_DELETED. All functions
// may be called from any thread. Only HKEY_CLASSES_ROOT is provided; other predefined keys
// answer ERROR_INVALID_HANDLE.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;
using LPDWORD = DWORD*;
using LPBYTE = BYTE*;
struct _SECURITY_ATTRIBUTES;
struct _FILETIME;

inline HKEY const HKEY_CLASSES_ROOT =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));

// Access rights. Handles opened without KEY_SET_VALUE refuse value changes, without
// KEY_CREATE_SUB_KEY refuse creating subkeys through them.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

// Creates the key and any missing keys on its path, or opens it when it exists.
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM desired, const _SECURITY_ATTRIBUTES* security, PHKEY result,
                        LPDWORD disposition);
LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
// Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist. A null or empty subKey
// opens a new handle on the key itself.
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LSTATUS RegCloseKey(HKEY key);

// REG_SZ data is text: the bytes up to the first NUL (the count may include the terminator).
// REG_DWORD data is 4 bytes. Other types are stored as the bytes given.
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size);
// With data null and size non-null reports the size needed; a buffer too small gives
// ERROR_MORE_DATA and the size needed. REG_SZ data comes back NUL-terminated, the size
// counting the terminator.
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);
// The older calls on a subkey's default value: RegSetValueA creates the subkey (type REG_SZ
// only); RegQueryValueA gives "" for an existing key whose default value was never set.
LSTATUS RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD size);
LSTATUS RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* size);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);

// Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some, as on Windows).
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
// Deletes the subkey with all its subkeys and values; with subKey null, the values and
// subkeys of the key itself. ERROR_FILE_NOT_FOUND when the subkey does not exist.
LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey);

// Enumerates subkey names in the registry's order (case-insensitive alphabetical);
// ERROR_NO_MORE_ITEMS past the last. The class and time outputs are not kept: the class comes
// back empty and the time is not written.
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPSTR keyClass, LPDWORD classSize, _FILETIME* lastWriteTime);
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);

#endif  // _WIN32
