// Copying and checking a module's type library description.
#include "platform/ole/typelib/typelib_data.h"

#include <set>

namespace talrec::com {

namespace {

constexpr UINT kMaxItems = 0x7FFF;  // TYPEATTR and FUNCDESC count in 16-bit fields

bool Text(const char* text, std::u16string& out) {
    if (text == nullptr) return false;
    out = Utf16FromUtf8(text);
    return true;
}

bool CopyMember(const TLIBMEMBERDATA& m, TlbMember& out) {
    out.memid = m.memid;
    out.kind = m.kind;
    out.vt = m.vt;
    out.flags = m.flags;
    if (m.kind != TLIBMEMBER_METHOD && m.kind != TLIBMEMBER_PROPERTY) return false;
    if (!Text(m.name, out.name) || out.name.empty() || !Text(m.helpString, out.help)) return false;
    if (m.cParams > kMaxItems || (m.cParams > 0 && m.params == nullptr)) return false;
    if (m.kind == TLIBMEMBER_PROPERTY && m.cParams != 0) return false;
    for (UINT i = 0; i < m.cParams; ++i) {
        TlbParam p;
        if (!Text(m.params[i].name, p.name)) return false;
        p.vt = m.params[i].vt;
        out.params.push_back(std::move(p));
    }
    return true;
}

}  // namespace

bool CopyDescription(const TLIBDATA& data, TlbLibrary& out) {
    if (data.version != TLIBDATA_VERSION) return false;
    out.libid = data.libid;
    out.lcid = data.lcid;
    out.major = data.majorVersion;
    out.minor = data.minorVersion;
    out.flags = data.libFlags;
    out.helpContext = data.helpContext;
    if (!Text(data.name, out.name) || out.name.empty() || !Text(data.helpString, out.help) ||
        !Text(data.helpFile, out.helpFile))
        return false;
    if (data.cTypes > kMaxItems || (data.cTypes > 0 && data.types == nullptr)) return false;
    out.types.clear();
    for (UINT t = 0; t < data.cTypes; ++t) {
        const TLIBTYPEDATA& src = data.types[t];
        TlbType type;
        type.kind = src.typekind;
        type.guid = src.guid;
        type.flags = src.typeFlags;
        if (src.typekind != TKIND_DISPATCH && src.typekind != TKIND_INTERFACE &&
            src.typekind != TKIND_COCLASS)
            return false;
        if (!Text(src.name, type.name) || type.name.empty() || !Text(src.helpString, type.help))
            return false;
        if (src.cMembers > kMaxItems || (src.cMembers > 0 && src.members == nullptr)) return false;
        if (src.cImpls > kMaxItems || (src.cImpls > 0 && src.impls == nullptr)) return false;
        if (src.typekind != TKIND_COCLASS && src.cImpls > 0) return false;
        std::set<MEMBERID> ids;
        for (UINT m = 0; m < src.cMembers; ++m) {
            TlbMember member;
            if (!CopyMember(src.members[m], member)) return false;
            if (!ids.insert(member.memid).second) return false;
            type.members.push_back(std::move(member));
        }
        out.types.push_back(std::move(type));
    }
    // Implemented interfaces refer to interfaces of this library.
    for (UINT t = 0; t < data.cTypes; ++t) {
        const TLIBTYPEDATA& src = data.types[t];
        for (UINT i = 0; i < src.cImpls; ++i) {
            bool found = false;
            for (UINT k = 0; k < out.types.size() && !found; ++k) {
                if (out.types[k].kind != TKIND_COCLASS && out.types[k].guid == src.impls[i].iid) {
                    out.types[t].impls.push_back({k, src.impls[i].implTypeFlags});
                    found = true;
                }
            }
            if (!found) return false;
        }
    }
    return true;
}

}  // namespace talrec::com
