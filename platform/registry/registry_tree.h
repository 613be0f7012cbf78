// The registry's content in memory and its text form.
//
// The text form, one item a line:
//   talrec-registry 1                     header
//   [CLSID\{...}\InprocServer32]          a key, its path from the root
//   @="/usr/lib/x.so"                     the key's default value (REG_SZ)
//   "ThreadingModel"="Apartment"          a named REG_SZ value
//   "Count"=dword:0000000a                a REG_DWORD value
//   "Blob"=hex(3):01,ff                   any other type, as bytes
//   end                                   trailer: a file without it was cut short
// Key names escape control characters, '%' and DEL as %XX; quoted strings escape '"', '\\'
// and control characters as \", \\, \n, \r, \t and \xHH. Every key is written, empty or not,
// in case-insensitive alphabetical order, so the same content always gives the same file.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winreg.h"

namespace talrec::registry {

// Orders names as the registry compares them: ASCII letters without regard to case.
struct NameLess {
    bool operator()(std::string_view a, std::string_view b) const;
    using is_transparent = void;
};
bool NamesEqual(std::string_view a, std::string_view b);

struct Value {
    DWORD type = 0;
    std::string data;  // REG_SZ without its terminator; REG_DWORD as 4 little-endian bytes
    bool operator==(const Value&) const = default;
};

struct Key {
    std::map<std::string, Value, NameLess> values;
    std::map<std::string, std::unique_ptr<Key>, NameLess> subkeys;
};

using Path = std::vector<std::string>;

// Splits "A\B\C" into its names. A null or empty text is the key itself. Fails on an empty
// name inside the path (a leading or doubled backslash) or a name over 255 characters; one
// trailing backslash is allowed.
bool SplitPath(const char* text, Path& path);

Key* Find(Key& root, const Path& path);
const Key* Find(const Key& root, const Path& path);
// Finds or creates every key on the path; created is set when the last one is new.
Key* Create(Key& root, const Path& path, bool& created);
// Removes the key at path with everything under it; false when it is absent.
bool Remove(Key& root, const Path& path);

std::string Serialize(const Key& root);
// Parses a whole file; false, leaving root unspecified, on anything out of form.
bool Parse(std::string_view text, Key& root);

}  // namespace talrec::registry
