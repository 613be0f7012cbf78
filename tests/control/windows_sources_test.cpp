// The Windows build compiles its type library from control/TalRecorderForDvRecUp.idl and its
// resources from resources/TalRecorderForDvRecUp.rc; the Linux build makes the same data from
// control/Interfaces.cpp, control/Guids.h and resources/*.cpp. These tests hold the copies to
// the tables, so that a member or a text changed in one place and not the other fails here.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "control/Guids.h"
#include "control/Interfaces.h"
#include "framework/afxconv.h"
#include "platform/objbase.h"
#include "resources/Resources.h"

using namespace talrec::control;
namespace resources = talrec::resources;

namespace {

std::string Source(const std::string& relative) {
    std::ifstream in(std::string(TALREC_SOURCE_DIR) + "/" + relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The GUID in the IDL's form: no braces.
std::string IdlGuid(REFGUID guid) {
    OLECHAR text[40] = {};
    StringFromGUID2(guid, text, 40);
    std::string braced = AfxWideToAnsi(text);
    return braced.substr(1, braced.size() - 2);
}

const char* IdlType(Type type) {
    return type == Type::Long ? "long" : type == Type::Bstr ? "BSTR" : "void";
}

// One interface as the IDL declares it: its attribute block and its members, one a line, as
// "[attributes] type name(type name, ...)" with the spacing of the tables below.
struct IdlInterface {
    std::string attributes;
    std::vector<std::string> members;
};

IdlInterface ParseDispinterface(const std::string& idl, const std::string& name) {
    IdlInterface result;
    std::smatch m;
    std::regex block("\\[([^\\]]*)\\]\\s*dispinterface\\s+" + name + "\\s*\\{([^}]*)\\}");
    if (!std::regex_search(idl, m, block)) return result;
    result.attributes = std::regex_replace(m[1].str(), std::regex("\\s+"), " ");
    std::string body = m[2].str();
    std::regex member("\\[([^\\]]*)\\]\\s*(\\w+)\\s+(\\w+)\\s*(\\(([^)]*)\\))?\\s*;");
    for (std::sregex_iterator it(body.begin(), body.end(), member), end; it != end; ++it) {
        std::string line = "[" + (*it)[1].str() + "] " + (*it)[2].str() + " " + (*it)[3].str();
        if ((*it)[4].matched) {
            line += "(" + std::regex_replace((*it)[5].str(), std::regex("\\s+"), " ") + ")";
        }
        result.members.push_back(line);
    }
    return result;
}

// The members of a table in the same form; the dispatch interface's have help strings, the
// property's excepted (widl takes none on a property).
std::vector<std::string> Expected(std::span<const Member> table, bool withHelp) {
    std::vector<std::string> lines;
    for (const Member& member : table) {
        std::string line = "[id(" + std::to_string(member.id) + ")";
        if (withHelp && member.kind == Kind::Method) {
            line += ", helpstring(\"method " + std::string(member.typeLibName) + "\")";
        }
        line += "] " + std::string(IdlType(member.result)) + " " + member.typeLibName;
        if (member.kind == Kind::Method) {
            std::string params;
            for (const Param& param : member.params) {
                params += (params.empty() ? "" : ", ") + std::string(IdlType(param.type)) + " " +
                          param.name;
            }
            line += "(" + params + ")";
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(WindowsSources, TheIdlDeclaresTheTablesMembers) {
    const std::string idl = Source("control/TalRecorderForDvRecUp.idl");
    ASSERT_FALSE(idl.empty());

    IdlInterface dispatch = ParseDispinterface(idl, "_DTalRecorderForDvRecUp");
    EXPECT_EQ(dispatch.members, Expected(DispatchMembers(), true));
    EXPECT_EQ(dispatch.attributes,
              "uuid(" + IdlGuid(DIID__DTalRecorderForDvRecUp) +
                  "), helpstring(\"Dispatch interface for TalRecorderForDvRecUp Control\")");

    IdlInterface events = ParseDispinterface(idl, "_DTalRecorderForDvRecUpEvents");
    EXPECT_EQ(events.members, Expected(EventMembers(), false));
    EXPECT_EQ(events.attributes,
              "uuid(" + IdlGuid(DIID__DTalRecorderForDvRecUpEvents) +
                  "), helpstring(\"Event interface for TalRecorderForDvRecUp Control\")");
}

TEST(WindowsSources, TheIdlsLibraryAndCoclassAreTheModules) {
    std::string idl =
        std::regex_replace(Source("control/TalRecorderForDvRecUp.idl"), std::regex("\\s+"), " ");
    char locale[16];
    std::snprintf(locale, sizeof locale, "0x%04X", static_cast<unsigned>(kTypeLibLocale));
    EXPECT_NE(idl.find("[uuid(" + IdlGuid(LIBID_TalRecorderForDvRecUpLib) + "), version(" +
                       std::to_string(kTypeLibMajor) + "." + std::to_string(kTypeLibMinor) +
                       "), lcid(" + locale +
                       "), helpstring(\"TalRecorderForDvRecUp ActiveX Control "
                       "module\"), helpfile(\"TalRecorderForDvRecUp.hlp\"), control] library "
                       "TalRecorderForDvRecUpLib"),
              std::string::npos);
    EXPECT_NE(idl.find("[uuid(" + IdlGuid(CLSID_TalRecorderForDvRecUp) +
                       "), helpstring(\"TalRecorderForDvRecUp Control\"), control] coclass "
                       "TalRecorderForDvRecUp { [default] dispinterface _DTalRecorderForDvRecUp; "
                       "[default, source] dispinterface _DTalRecorderForDvRecUpEvents; };"),
              std::string::npos);
}

// The .rc's string table against the resources' one (both in UTF-8 here).
TEST(WindowsSources, TheRcStringTableIsTheResourcesOne) {
    const std::string rc = Source("resources/TalRecorderForDvRecUp.rc");
    std::smatch table;
    ASSERT_TRUE(std::regex_search(rc, table, std::regex("STRINGTABLE\\s+BEGIN([\\s\\S]*?)END")));
    std::string body = table[1].str();
    int entries = 0;
    std::regex entry("(\\d+)\\s+\"([^\"]*)\"");
    for (std::sregex_iterator it(body.begin(), body.end(), entry), end; it != end; ++it) {
        ++entries;
        const UINT id = static_cast<UINT>(std::stoul((*it)[1].str()));
        const OLECHAR* text = resources::FindString(id);
        ASSERT_NE(text, nullptr) << "string " << id;
        std::string utf8;
        for (const OLECHAR* p = text; *p != 0; ++p) {  // the table's texts are in the BMP
            const unsigned c = *p;
            if (c < 0x80) {
                utf8 += static_cast<char>(c);
            } else if (c < 0x800) {
                utf8 += static_cast<char>(0xC0 | c >> 6);
                utf8 += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                utf8 += static_cast<char>(0xE0 | c >> 12);
                utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
                utf8 += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        EXPECT_EQ((*it)[2].str(), utf8) << "string " << id;
    }
    EXPECT_EQ(entries, 4);
    for (UINT id : {resources::IDS_TALRECORDERFORDVRECUP, resources::IDS_TALRECORDERFORDVRECUP_PPG,
                    resources::IDS_TALRECORDERFORDVRECUP_PPG_CAPTION,
                    resources::IDS_TEMPFOLDERPASS_NOT_FOLDER}) {
        EXPECT_NE(rc.find("\n    " + std::to_string(id) + " \""), std::string::npos) << id;
    }
}

TEST(WindowsSources, TheRcVersionAndDialogAreTheResourcesOnes) {
    const std::string rc = Source("resources/TalRecorderForDvRecUp.rc");
    const resources::VersionRecord& version = resources::Version();
    for (std::size_t i = 0; i < version.entryCount; ++i) {
        const resources::VersionEntry& e = version.entries[i];
        EXPECT_NE(rc.find("VALUE \"" + std::string(e.name) + "\", \"" + e.value + "\""),
                  std::string::npos)
            << e.name;
    }
    auto numbers = [](const WORD(&v)[4]) {
        std::ostringstream out;
        out << v[0] << ", " << v[1] << ", " << v[2] << ", " << v[3];
        return out.str();
    };
    EXPECT_NE(rc.find("FILEVERSION " + numbers(version.fileVersion)), std::string::npos);
    EXPECT_NE(rc.find("PRODUCTVERSION " + numbers(version.productVersion)), std::string::npos);
    char translation[32];
    std::snprintf(translation, sizeof translation, "0x%04X, %u", version.language,
                  static_cast<unsigned>(version.codePage));
    EXPECT_NE(rc.find("VALUE \"Translation\", " + std::string(translation)), std::string::npos);

    const resources::DialogTemplate& dialog = resources::PropertyPageDialog();
    ASSERT_EQ(dialog.controlCount, 1u);
    const resources::DialogControl& text = dialog.controls[0];
    std::ostringstream expected;
    expected << resources::IDD_PROPPAGE_TALRECORDERFORDVRECUP << " DIALOGEX 0, 0, " << dialog.cx
             << ", " << dialog.cy << "\nSTYLE DS_SETFONT | WS_CHILD\nFONT " << dialog.pointSize
             << ", \"" << dialog.fontName << "\"\nBEGIN\n    LTEXT \"" << text.text << "\", "
             << text.id << ", " << text.x << ", " << text.y << ", " << text.cx << ", " << text.cy
             << "\nEND";
    EXPECT_NE(rc.find(expected.str()), std::string::npos) << expected.str();
}

TEST(WindowsSources, TheRcBitmapAndManifestFilesHoldTheResourcesBytes) {
    const std::string bmp = Source("resources/TalRecorderForDvRecUp.bmp");
    const auto dib = resources::ToolboxBitmap();
    ASSERT_EQ(bmp.size(), 14 + dib.size());
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(
        bmp.compare(14, std::string::npos, reinterpret_cast<const char*>(dib.data()), dib.size()),
        0);
    EXPECT_EQ(Source("resources/TalRecorderForDvRecUp.manifest"), resources::Manifest());
    const std::string rc = Source("resources/TalRecorderForDvRecUp.rc");
    EXPECT_NE(rc.find(std::to_string(resources::IDB_TALRECORDERFORDVRECUP) +
                      " BITMAP \"TalRecorderForDvRecUp.bmp\""),
              std::string::npos);
    EXPECT_NE(rc.find(std::to_string(resources::IDR_MANIFEST) +
                      " RT_MANIFEST \"TalRecorderForDvRecUp.manifest\""),
              std::string::npos);
}

}  // namespace
