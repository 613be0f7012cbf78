// A type library in memory: the module's description copied into owned strings and lists,
// and the ITypeLib/ITypeInfo objects made from it.
#pragma once

#include <string>
#include <vector>

#include "platform/ext/oletlbdata.h"

namespace talrec::com {

struct TlbParam {
    std::u16string name;
    VARTYPE vt;
};

struct TlbMember {
    MEMBERID memid;
    TLIBMEMBERKIND kind;
    std::u16string name;
    VARTYPE vt;
    std::vector<TlbParam> params;
    std::u16string help;
    WORD flags;
};

struct TlbImpl {
    UINT typeIndex;  // the implemented interface's index in the library
    INT flags;
};

struct TlbType {
    TYPEKIND kind;
    GUID guid;
    std::u16string name;
    std::u16string help;
    WORD flags;
    std::vector<TlbMember> members;
    std::vector<TlbImpl> impls;
};

struct TlbLibrary {
    GUID libid;
    LCID lcid;
    WORD major;
    WORD minor;
    WORD flags;
    std::u16string name;
    std::u16string help;
    std::u16string helpFile;
    DWORD helpContext;
    std::vector<TlbType> types;
};

// Copies the description, checking the rules of platform/ext/oletlbdata.h; false when it
// breaks one.
bool CopyDescription(const TLIBDATA& data, TlbLibrary& out);
// The library object; *lib holds one reference.
HRESULT MakeTypeLib(TlbLibrary library, ITypeLib** lib);

// Finds a name among candidates as automation does: an exact-case match first, else the
// first match without regard to ASCII case; -1 when none.
template <class Range, class NameOf>
int FindName(const Range& items, std::u16string_view name, NameOf nameOf);

}  // namespace talrec::com

#include "platform/ole/com_text.h"

template <class Range, class NameOf>
int talrec::com::FindName(const Range& items, std::u16string_view name, NameOf nameOf) {
    int i = 0;
    for (const auto& item : items) {
        if (nameOf(item) == name) return i;
        ++i;
    }
    i = 0;
    for (const auto& item : items) {
        if (EqualNoCase(nameOf(item), name)) return i;
        ++i;
    }
    return -1;
}
