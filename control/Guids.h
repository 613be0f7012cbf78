// The module's five identities. They never change between builds: registrations, type
// libraries and containers that stored them rely on them.
#pragma once

#include "platform/oaidl.h"

namespace talrec::control {

// The control's class id, also the type library's coclass.
// {428D9D2A-D626-42D5-8999-3EEAA478BAE2}
inline constexpr CLSID CLSID_TalRecorderForDvRecUp = {
    0x428D9D2A, 0xD626, 0x42D5, {0x89, 0x99, 0x3E, 0xEA, 0xA4, 0x78, 0xBA, 0xE2}};

// The property page's class id. {58F13B78-0FC3-4E69-B698-88DFFDD5ED2E}
inline constexpr CLSID CLSID_TalRecorderForDvRecUpPropPage = {
    0x58F13B78, 0x0FC3, 0x4E69, {0xB6, 0x98, 0x88, 0xDF, 0xFD, 0xD5, 0xED, 0x2E}};

// TalRecorderForDvRecUpLib. {D5CC5E33-3EC1-42DE-A4D3-989022F59FF1}
inline constexpr GUID LIBID_TalRecorderForDvRecUpLib = {
    0xD5CC5E33, 0x3EC1, 0x42DE, {0xA4, 0xD3, 0x98, 0x90, 0x22, 0xF5, 0x9F, 0xF1}};

// _DTalRecorderForDvRecUp. {40589293-FC78-4043-B062-46ECD580CF4C}
inline constexpr IID DIID__DTalRecorderForDvRecUp = {
    0x40589293, 0xFC78, 0x4043, {0xB0, 0x62, 0x46, 0xEC, 0xD5, 0x80, 0xCF, 0x4C}};

// _DTalRecorderForDvRecUpEvents. {35774965-5E2A-45C2-A646-2BF6B12EF193}
inline constexpr IID DIID__DTalRecorderForDvRecUpEvents = {
    0x35774965, 0x5E2A, 0x45C2, {0xA6, 0x46, 0x2B, 0xF6, 0xB1, 0x2E, 0xF1, 0x93}};

inline constexpr char kProgID[] = "TALRECORDERFORDV.TalRecorderForDvCtrl.1";
inline constexpr char kVersionIndependentProgID[] = "TALRECORDERFORDV.TalRecorderForDvCtrl";
inline constexpr char kPropPageProgID[] = "TALRECORDERFOR.TalRecorderForPropPage.1";
inline constexpr WORD kTypeLibMajor = 1;
inline constexpr WORD kTypeLibMinor = 0;
// The library's locale; its registration is kept under it, so removal names it too.
inline constexpr LCID kTypeLibLocale = 0x0409;
// OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
// OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE
inline constexpr DWORD kMiscStatus = 131473;

}  // namespace talrec::control
