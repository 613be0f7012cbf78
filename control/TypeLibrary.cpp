#include "control/TypeLibrary.h"

#include <string>
#include <vector>

#include "control/Guids.h"
#include "control/Interfaces.h"

namespace talrec::control {
namespace {

// One interface's member records, with the storage their pointers point into.
struct InterfaceData {
    std::vector<std::vector<TLIBPARAMDATA>> params;
    std::vector<std::string> helpStrings;
    std::vector<TLIBMEMBERDATA> members;

    InterfaceData(std::span<const Member> table, bool withHelp) {
        params.reserve(table.size());
        helpStrings.reserve(table.size());
        for (const Member& member : table) {
            auto& list = params.emplace_back();
            for (const Param& param : member.params)
                list.push_back({param.name, VarTypeOf(param.type)});
            std::string help;
            if (withHelp) {
                help = (member.kind == Kind::Property ? "property " : "method ") +
                       std::string(member.typeLibName);
            }
            helpStrings.push_back(std::move(help));
        }
        for (std::size_t i = 0; i < table.size(); ++i) {
            const Member& member = table[i];
            members.push_back(
                {member.id, member.kind == Kind::Property ? TLIBMEMBER_PROPERTY : TLIBMEMBER_METHOD,
                 member.typeLibName, VarTypeOf(member.result),
                 params[i].empty() ? nullptr : params[i].data(),
                 static_cast<UINT>(params[i].size()), helpStrings[i].c_str(), 0});
        }
    }
};

struct LibraryData {
    InterfaceData dispatch{DispatchMembers(), true};
    InterfaceData events{EventMembers(), false};
    TLIBIMPLDATA impls[2] = {
        {DIID__DTalRecorderForDvRecUp, IMPLTYPEFLAG_FDEFAULT},
        {DIID__DTalRecorderForDvRecUpEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
    };
    TLIBTYPEDATA types[3] = {
        {TKIND_DISPATCH, DIID__DTalRecorderForDvRecUp, "_DTalRecorderForDvRecUp",
         "Dispatch interface for TalRecorderForDvRecUp Control", 0, dispatch.members.data(),
         static_cast<UINT>(dispatch.members.size()), nullptr, 0},
        {TKIND_DISPATCH, DIID__DTalRecorderForDvRecUpEvents, "_DTalRecorderForDvRecUpEvents",
         "Event interface for TalRecorderForDvRecUp Control", 0, events.members.data(),
         static_cast<UINT>(events.members.size()), nullptr, 0},
        {TKIND_COCLASS, CLSID_TalRecorderForDvRecUp, "TalRecorderForDvRecUp",
         "TalRecorderForDvRecUp Control", TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL, nullptr, 0,
         impls, 2},
    };
    TLIBDATA library = {TLIBDATA_VERSION,
                        LIBID_TalRecorderForDvRecUpLib,
                        kTypeLibLocale,
                        kTypeLibMajor,
                        kTypeLibMinor,
                        LIBFLAG_FCONTROL,
                        "TalRecorderForDvRecUpLib",
                        "TalRecorderForDvRecUp ActiveX Control module",
                        "TalRecorderForDvRecUp.hlp",
                        0,
                        types,
                        3};
};

}  // namespace

const TLIBDATA& TypeLibraryData() {
    static const LibraryData data;
    return data.library;
}

}  // namespace talrec::control
