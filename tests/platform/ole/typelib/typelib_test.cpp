// Type libraries from descriptions: name lookup, documentation and descriptions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ext/oletlbdata.h"
#include "platform/oleauto.h"
#include "tests/platform/ole/com_testmodule.h"

namespace {

constexpr GUID kLib = {0xABCD0001, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kMain = {0xABCD0002, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kEvents = {0xABCD0003, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kClass = {0xABCD0004, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};

const TLIBPARAMDATA kPath[] = {{"fullPathName", VT_BSTR}};
const TLIBPARAMDATA kConvert[] = {{"source", VT_BSTR}, {"dest", VT_BSTR}};
// Two names that differ only in case, in this order: the lookup prefers the exact one.
const TLIBMEMBERDATA kMainMembers[] = {
    {3, TLIBMEMBER_PROPERTY, "TempFolderPass", VT_BSTR, nullptr, 0, "property TempFolderPass", 0},
    {4, TLIBMEMBER_METHOD, "recStart", VT_I4, kPath, 1, "method recStart", 0},
    {10, TLIBMEMBER_METHOD, "playStop", VT_I4, nullptr, 0, "method playStop", 0},
    {18, TLIBMEMBER_METHOD, "PlayStop", VT_I4, nullptr, 0, "method PlayStop", 0},
    {21, TLIBMEMBER_METHOD, "ConvertWavToWMA", VT_I4, kConvert, 2, "method ConvertWavToWMA", 0},
};
const TLIBPARAMDATA kState[] = {{"state", VT_BSTR}};
const TLIBMEMBERDATA kEventMembers[] = {
    {2, TLIBMEMBER_METHOD, "EvtPlayStop", VT_EMPTY, nullptr, 0, "", 0},
    {3, TLIBMEMBER_METHOD, "RecorderStateNotify", VT_EMPTY, kState, 1, "", 0},
};
const TLIBIMPLDATA kImpls[] = {{kMain, IMPLTYPEFLAG_FDEFAULT},
                               {kEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
const TLIBTYPEDATA kTypes[] = {
    {TKIND_DISPATCH, kMain, "_DMain", "Dispatch interface", 0, kMainMembers, 5, nullptr, 0},
    {TKIND_DISPATCH, kEvents, "_DMainEvents", "Event interface", 0, kEventMembers, 2, nullptr, 0},
    {TKIND_COCLASS, kClass, "Main", "Main Control", TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
     nullptr, 0, kImpls, 2},
};
const TLIBDATA kData = {TLIBDATA_VERSION, kLib,          0x0409,     1, 0,      LIBFLAG_FCONTROL,
                        "MainLib",        "Main module", "Main.hlp", 0, kTypes, 3};

std::u16string Take(BSTR& b) {
    std::u16string s(b ? b : u"", SysStringLen(b));
    SysFreeString(b);
    b = nullptr;
    return s;
}

class TypeLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CreateTypeLibFromData(&kData, &lib_), S_OK);
        ASSERT_EQ(lib_->GetTypeInfo(0, &main_), S_OK);
    }
    void TearDown() override {
        if (main_) main_->Release();
        if (lib_) lib_->Release();
    }
    DISPID Id(const char16_t* name, HRESULT* hr = nullptr) {
        std::u16string copy(name);
        LPOLESTR names[] = {copy.data()};
        DISPID id = 12345;
        HRESULT r = main_->GetIDsOfNames(names, 1, &id);
        if (hr) *hr = r;
        return id;
    }
    ITypeLib* lib_ = nullptr;
    ITypeInfo* main_ = nullptr;
};

TEST_F(TypeLibrary, NamesMatchWithoutCaseAndTheExactCaseFirst) {
    EXPECT_EQ(Id(u"PlayStop"), 18);
    EXPECT_EQ(Id(u"playStop"), 10);
    EXPECT_EQ(Id(u"PLAYSTOP"), 10) << "no exact match: the first that matches without case";
    EXPECT_EQ(Id(u"recstart"), 4);
    EXPECT_EQ(Id(u"tempfolderpass"), 3);
    HRESULT hr;
    EXPECT_EQ(Id(u"NoSuchName", &hr), DISPID_UNKNOWN);
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(Id(u"PlayStopX", &hr), DISPID_UNKNOWN);
    EXPECT_EQ(Id(u"", &hr), DISPID_UNKNOWN);

    // Parameter names come back as their positions; an unknown one is marked but the others
    // are still answered.
    std::u16string method = u"convertwavtowma", p1 = u"DEST", p2 = u"nope", p3 = u"source";
    LPOLESTR names[] = {method.data(), p1.data(), p2.data(), p3.data()};
    DISPID ids[4];
    EXPECT_EQ(DispGetIDsOfNames(main_, names, 4, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 21);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);
    EXPECT_EQ(ids[3], 0);

    // The library answers in its own spelling.
    std::u16string probe = u"RECORDERSTATENOTIFY";
    BOOL found = FALSE;
    ASSERT_EQ(lib_->IsName(probe.data(), 0, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(probe, u"RecorderStateNotify");
    ITypeInfo* infos[2] = {};
    MEMBERID memids[2];
    USHORT count = 2;
    std::u16string playStop = u"PlayStop";
    ASSERT_EQ(lib_->FindName(playStop.data(), 0, infos, memids, &count), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(memids[0], 18);
    infos[0]->Release();
}

TEST_F(TypeLibrary, DocumentationNamesAndDescriptions) {
    BSTR name = nullptr, doc = nullptr, file = nullptr;
    ASSERT_EQ(lib_->GetDocumentation(-1, &name, &doc, nullptr, &file), S_OK);
    EXPECT_EQ(Take(name), u"MainLib");
    EXPECT_EQ(Take(doc), u"Main module");
    EXPECT_EQ(Take(file), u"Main.hlp");
    ASSERT_EQ(main_->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(name), u"_DMain");
    EXPECT_EQ(Take(doc), u"Dispatch interface");
    ASSERT_EQ(main_->GetDocumentation(21, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(name), u"ConvertWavToWMA");
    EXPECT_EQ(Take(doc), u"method ConvertWavToWMA");
    EXPECT_EQ(main_->GetDocumentation(99, &name, nullptr, nullptr, nullptr),
              TYPE_E_ELEMENTNOTFOUND);

    BSTR names[3];
    UINT count = 0;
    ASSERT_EQ(main_->GetNames(21, names, 3, &count), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(Take(names[0]), u"ConvertWavToWMA");
    EXPECT_EQ(Take(names[1]), u"source");
    EXPECT_EQ(Take(names[2]), u"dest");
    ASSERT_EQ(main_->GetNames(21, names, 1, &count), S_OK);
    EXPECT_EQ(count, 1u) << "no more than asked for";
    Take(names[0]);

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(main_->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->guid, kMain);
    EXPECT_EQ(attr->cFuncs, 4);
    EXPECT_EQ(attr->cVars, 1);
    main_->ReleaseTypeAttr(attr);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(main_->GetFuncDesc(3, &f), S_OK);  // the fourth method
    EXPECT_EQ(f->memid, 21);
    EXPECT_EQ(f->cParams, 2);
    EXPECT_EQ(f->lprgelemdescParam[1].tdesc.vt, VT_BSTR);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_I4);
    main_->ReleaseFuncDesc(f);
    EXPECT_EQ(main_->GetFuncDesc(4, &f), TYPE_E_ELEMENTNOTFOUND);
    VARDESC* v = nullptr;
    ASSERT_EQ(main_->GetVarDesc(0, &v), S_OK);
    EXPECT_EQ(v->memid, 3);
    EXPECT_EQ(v->elemdescVar.tdesc.vt, VT_BSTR);
    EXPECT_EQ(v->varkind, VAR_DISPATCH);
    main_->ReleaseVarDesc(v);
}

TEST_F(TypeLibrary, CoclassLeadsToItsDefaultAndSourceInterfaces) {
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(kClass, &coclass), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cImplTypes, 2);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
    coclass->ReleaseTypeAttr(attr);
    INT flags = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    HREFTYPE ref;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &ref), S_OK);
    ITypeInfo* events = nullptr;
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, &events), S_OK);
    BSTR name = nullptr;
    events->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    EXPECT_EQ(Take(name), u"_DMainEvents");
    // A type description keeps its library alive.
    ITypeLib* container = nullptr;
    UINT index = 9;
    ASSERT_EQ(events->GetContainingTypeLib(&container, &index), S_OK);
    EXPECT_EQ(index, 1u);
    container->Release();
    events->Release();
    coclass->Release();
    EXPECT_EQ(lib_->GetTypeInfoOfGuid(kLib, &coclass), TYPE_E_ELEMENTNOTFOUND);
}

TEST(TypeLibraryData, MalformedDescriptionsAreRefused) {
    ITypeLib* lib = nullptr;
    TLIBDATA wrongVersion = kData;
    wrongVersion.version = 2;
    EXPECT_EQ(CreateTypeLibFromData(&wrongVersion, &lib), TYPE_E_INVDATAREAD);
    TLIBDATA noName = kData;
    noName.name = nullptr;
    EXPECT_EQ(CreateTypeLibFromData(&noName, &lib), TYPE_E_INVDATAREAD);

    TLIBMEMBERDATA twice[] = {kMainMembers[1], kMainMembers[1]};
    TLIBTYPEDATA dup[] = {kTypes[0]};
    dup[0].members = twice;
    dup[0].cMembers = 2;
    TLIBDATA duplicated = kData;
    duplicated.types = dup;
    duplicated.cTypes = 1;
    EXPECT_EQ(CreateTypeLibFromData(&duplicated, &lib), TYPE_E_INVDATAREAD) << "same dispid twice";

    TLIBTYPEDATA orphan[] = {kTypes[2]};  // a coclass whose interfaces are not in the library
    TLIBDATA dangling = kData;
    dangling.types = orphan;
    dangling.cTypes = 1;
    EXPECT_EQ(CreateTypeLibFromData(&dangling, &lib), TYPE_E_INVDATAREAD);

    TLIBDATA missingTypes = kData;
    missingTypes.types = nullptr;
    EXPECT_EQ(CreateTypeLibFromData(&missingTypes, &lib), TYPE_E_INVDATAREAD);
    EXPECT_EQ(lib, nullptr);
}

TEST(TypeLibraryModule, LoadedFromTheModuleThatCarriesIt) {
    std::u16string path;
    for (char c : std::string(TEST_MODULE_PATH)) path += static_cast<char16_t>(c);
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLib(path.c_str(), &lib), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, kLibidAdder);
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wLibFlags, LIBFLAG_FCONTROL);
    lib->ReleaseTLibAttr(attr);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kDiidAdder, &info), S_OK);
    lib->Release();  // the description still answers through the type
    std::u16string add = u"add";
    LPOLESTR names[] = {add.data()};
    DISPID id;
    EXPECT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, kDispidAdd);
    info->Release();

    EXPECT_EQ(LoadTypeLib(u"/no/such/module.so", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(u"libc.so.6", &lib), TYPE_E_CANTLOADLIBRARY) << "carries no library";
    EXPECT_EQ(lib, nullptr);
}

}  // namespace
