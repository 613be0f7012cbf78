// The control's two dispatch interfaces as tables, the one source of the scripting surface:
// every member's dispatch identifier, its name in the control's own dispatch table and in the
// type library, its parameters, result, handler and description. The dispatch table and its
// dispatch, the event firing, the type library (and the IDL checked against it) and the web
// client's member list and types (host/bridge/web/members.*, written by talrec_members) are all
// built from these, so adding a member is one row here and one handler.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <variant>

#include "platform/oaidl.h"

class CTalRecorderForDvRecUpCtrl;

namespace talrec::control {

using DISPID = LONG;

enum class Type { Void, Long, Bstr };

// The automation type of a table type (VT_EMPTY for none).
constexpr VARTYPE VarTypeOf(Type type) {
    return type == Type::Long ? VT_I4 : type == Type::Bstr ? VT_BSTR : VT_EMPTY;
}

struct Param {
    const char* name;
    Type type;
    // A file path a script passes: the dispatch checks it against the path rule
    // (storage/ScriptPaths.h) before the member's handler runs.
    bool path = false;
};

enum class Kind { Method, Property };

// What a handler answers: nothing, an integer or a string, as the member's result type says.
using Result = std::variant<std::monostate, LONG, std::string>;
// A member's handler on the control, on the container's user-interface thread. `args` holds the
// arguments coerced to the member's parameter types, in the table's order, path arguments
// already checked against the path rule.
using Handler = Result (CTalRecorderForDvRecUpCtrl::*)(std::span<VARIANT> args);

struct Member {
    DISPID id;
    const char* name;         // in the control's dispatch table
    const char* typeLibName;  // in the type library (differs for dispid 18 only)
    Kind kind;
    Type result;  // the property's type for Kind::Property
    std::span<const Param> params;
    // What the member returns, with no event, when one of its path arguments is refused.
    LONG refused = 0;
    Handler handler = nullptr;  // a method, or a property's getter; null for events
    Handler setter = nullptr;   // a property's setter
    // For the people who script the control: what it does, its results, the state string it
    // fires and how it differs from its near-twin. The web client's types carry it.
    const char* doc = "";
};

// _DTalRecorderForDvRecUp: 22 methods and the property TempFolderPass (dispid 3), in the
// type library's order.
std::span<const Member> DispatchMembers();
// _DTalRecorderForDvRecUpEvents: four events, dispids 1 to 4.
std::span<const Member> EventMembers();

// The member with that dispatch identifier, or null.
const Member* FindDispatchMember(DISPID id);

inline constexpr DISPID DISPID_SETPCMFORMAT = 1;
inline constexpr DISPID DISPID_RECORDTIMEOUT = 2;
inline constexpr DISPID DISPID_TEMPFOLDERPASS = 3;
inline constexpr DISPID DISPID_RECSTART = 4;
inline constexpr DISPID DISPID_GETERRORSTRING = 5;
inline constexpr DISPID DISPID_RECSTOP = 6;
inline constexpr DISPID DISPID_RECORDTOTALFILENAME = 7;
inline constexpr DISPID DISPID_RECORDFILENAME = 8;
inline constexpr DISPID DISPID_PLAYSTART = 9;
inline constexpr DISPID DISPID_PLAYSTOP_SILENT = 10;  // "playStop"
inline constexpr DISPID DISPID_GETDATAFOLDER = 11;
inline constexpr DISPID DISPID_RECORDSTARTFILE = 12;
inline constexpr DISPID DISPID_RECORDSTOP = 13;
inline constexpr DISPID DISPID_RECPAUSE = 14;
inline constexpr DISPID DISPID_RECORDCONTINUE = 15;
inline constexpr DISPID DISPID_RECORDPAUSE = 16;
inline constexpr DISPID DISPID_PLAYSTARTFILE = 17;
inline constexpr DISPID DISPID_PLAYSTOP = 18;  // "PlayStop", "PlayStopOrg" in the type library
inline constexpr DISPID DISPID_PLAYPAUSE = 19;
inline constexpr DISPID DISPID_PLAYCONTINUE = 20;
inline constexpr DISPID DISPID_CONVERTWAVTOWMA = 21;
inline constexpr DISPID DISPID_DELETEAUDIOFILEALL = 22;
inline constexpr DISPID DISPID_DELETEAUDIOFILE = 23;

inline constexpr DISPID EVENTID_EVTRECORDTIMEOUT = 1;
inline constexpr DISPID EVENTID_EVTPLAYSTOP = 2;
inline constexpr DISPID EVENTID_RECORDERSTATENOTIFY = 3;
inline constexpr DISPID EVENTID_VOLUMESTATUS = 4;

}  // namespace talrec::control
