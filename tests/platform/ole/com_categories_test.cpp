// The standard component-categories manager.
#include <gtest/gtest.h>

#include <string>

#include "platform/comcat.h"
#include "platform/winreg.h"
#include "tests/platform/ole/com_testenv.h"

namespace {

constexpr CLSID kControl = {
    0x11112222, 0x3333, 0x4444, {0x55, 0x55, 0x66, 0x66, 0x77, 0x77, 0x88, 0x88}};
constexpr CATID kOther = {0x99990000, 0x1, 0x2, {0x3, 0x4, 0x5, 0x6, 0x7, 0x8, 0x9, 0xA}};

class Categories : public ScratchRegistry {
  protected:
    void SetUp() override {
        ScratchRegistry::SetUp();
        ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICatRegister, reinterpret_cast<void**>(&reg_)),
                  S_OK);
        ASSERT_EQ(reg_->QueryInterface(IID_ICatInformation, reinterpret_cast<void**>(&info_)),
                  S_OK);
    }
    void TearDown() override {
        if (info_) info_->Release();
        if (reg_) reg_->Release();
        ScratchRegistry::TearDown();
    }
    static CATEGORYINFO Info(REFCATID id, const std::u16string& text, LCID lcid = 0x409) {
        CATEGORYINFO info{id, lcid, {}};
        text.copy(info.szDescription, std::min<std::size_t>(text.size(), 128));
        return info;
    }
    bool KeyExists(const char* key) {
        HKEY h;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
        RegCloseKey(h);
        return true;
    }

    ICatRegister* reg_ = nullptr;
    ICatInformation* info_ = nullptr;
};

const char kScriptingKey[] = "Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
const char kMarkKey[] =
    "CLSID\\{11112222-3333-4444-5555-666677778888}\\Implemented Categories\\"
    "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";

TEST_F(Categories, DescriptionsAreStoredPerLocaleAndCutAt127Units) {
    CATEGORYINFO infos[2] = {Info(CATID_SafeForScripting, u"Controls that are safely scriptable"),
                             Info(kOther, std::u16string(128, u'x'))};  // no terminator at all
    ASSERT_EQ(reg_->RegisterCategories(2, infos), S_OK);
    EXPECT_EQ(Value(kScriptingKey, "409"), "Controls that are safely scriptable");
    LPOLESTR text = nullptr;
    ASSERT_EQ(info_->GetCategoryDesc(kOther, 0x409, &text), S_OK);
    EXPECT_EQ(std::u16string(text), std::u16string(127, u'x'));
    CoTaskMemFree(text);

    // Non-ASCII text survives, and a description of another locale answers when the asked one
    // has none.
    CATEGORYINFO german = Info(kOther, u"Gr\u00FC\u00DFe", 0x407);
    ASSERT_EQ(reg_->RegisterCategories(1, &german), S_OK);
    ASSERT_EQ(info_->GetCategoryDesc(kOther, 0x407, &text), S_OK);
    EXPECT_EQ(std::u16string(text), u"Gr\u00FC\u00DFe");
    CoTaskMemFree(text);
    ASSERT_EQ(info_->GetCategoryDesc(CATID_SafeForScripting, 0x40C, &text), S_OK);
    EXPECT_EQ(std::u16string(text), u"Controls that are safely scriptable");
    CoTaskMemFree(text);
    EXPECT_EQ(info_->GetCategoryDesc(CATID_SafeForInitializing, 0x409, &text), CAT_E_CATIDNOEXIST);

    IEnumCATEGORYINFO* all = nullptr;
    ASSERT_EQ(info_->EnumCategories(0x409, &all), S_OK);
    CATEGORYINFO listed[3];
    ULONG fetched = 0;
    EXPECT_EQ(all->Next(3, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    bool sawScripting = false;
    for (ULONG i = 0; i < fetched; ++i) {
        if (listed[i].catid == CATID_SafeForScripting) {
            sawScripting = true;
            EXPECT_EQ(std::u16string(listed[i].szDescription),
                      u"Controls that are safely scriptable");
        }
    }
    EXPECT_TRUE(sawScripting);
    all->Release();

    CATID gone = kOther;
    ASSERT_EQ(reg_->UnRegisterCategories(1, &gone), S_OK);
    EXPECT_EQ(info_->GetCategoryDesc(kOther, 0x409, &text), CAT_E_CATIDNOEXIST);
}

TEST_F(Categories, ClassMarksAndTheQueriesAContainerMakes) {
    CATID both[2] = {CATID_SafeForScripting, CATID_SafeForInitializing};
    ASSERT_EQ(reg_->RegisterClassImplCategories(kControl, 2, both), S_OK);
    EXPECT_TRUE(KeyExists(kMarkKey));
    CATID scripting = CATID_SafeForScripting, other = kOther;
    EXPECT_EQ(info_->IsClassOfCategories(kControl, 1, &scripting, 0, nullptr), S_OK);
    EXPECT_EQ(info_->IsClassOfCategories(kControl, 1, &other, 0, nullptr), S_FALSE);
    CLSID stranger = kControl;
    stranger.Data1 = 1;
    EXPECT_EQ(info_->IsClassOfCategories(stranger, 1, &scripting, 0, nullptr), S_FALSE);
    EXPECT_EQ(info_->IsClassOfCategories(kControl, 0, nullptr, 0, nullptr), E_INVALIDARG);

    // A class that requires a category the container does not offer does not qualify.
    ASSERT_EQ(reg_->RegisterClassReqCategories(kControl, 1, &other), S_OK);
    EXPECT_EQ(info_->IsClassOfCategories(kControl, 1, &scripting, 0, nullptr), S_FALSE);
    EXPECT_EQ(info_->IsClassOfCategories(kControl, 1, &scripting, 1, &other), S_OK);
    EXPECT_EQ(info_->IsClassOfCategories(kControl, 1, &scripting, static_cast<ULONG>(-1), nullptr),
              S_OK);

    IEnumCATID* marks = nullptr;
    ASSERT_EQ(info_->EnumImplCategoriesOfClass(kControl, &marks), S_OK);
    GUID got[3];
    ULONG fetched = 0;
    EXPECT_EQ(marks->Next(3, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    marks->Release();

    IEnumCLSID* classes = nullptr;
    ASSERT_EQ(info_->EnumClassesOfCategories(1, &scripting, 1, &other, &classes), S_OK);
    ASSERT_EQ(classes->Next(1, got, &fetched), S_OK);
    EXPECT_EQ(got[0], kControl);
    EXPECT_EQ(classes->Next(1, got, &fetched), S_FALSE);
    classes->Release();

    // Removing one mark keeps the other; removing the last takes the list key too.
    ASSERT_EQ(reg_->UnRegisterClassImplCategories(kControl, 1, &scripting), S_OK);
    EXPECT_FALSE(KeyExists(kMarkKey));
    EXPECT_TRUE(KeyExists("CLSID\\{11112222-3333-4444-5555-666677778888}\\Implemented Categories"));
    CATID init = CATID_SafeForInitializing;
    ASSERT_EQ(reg_->UnRegisterClassImplCategories(kControl, 1, &init), S_OK);
    EXPECT_FALSE(
        KeyExists("CLSID\\{11112222-3333-4444-5555-666677778888}\\Implemented Categories"));
    EXPECT_EQ(reg_->UnRegisterClassImplCategories(kControl, 1, &init), S_OK) << "already gone";
}

TEST_F(Categories, RegistryFailuresReachTheCaller) {
    CATEGORYINFO info = Info(CATID_SafeForScripting, u"x");
    ASSERT_EQ(reg_->RegisterCategories(1, &info), S_OK);
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    EXPECT_EQ(reg_->RegisterCategories(1, &info), S_OK) << "already so: nothing to write";
    info.szDescription[0] = u'y';
    EXPECT_EQ(reg_->RegisterCategories(1, &info), E_ACCESSDENIED);
    CATID id = CATID_SafeForScripting;
    EXPECT_EQ(reg_->RegisterClassImplCategories(kControl, 1, &id), E_ACCESSDENIED);
}

}  // namespace
