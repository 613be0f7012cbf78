// The registry calls: keys, values, deletion, handles and access rights.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/winreg.h"
#include "tests/platform/ole/com_testenv.h"

namespace {

class Registry : public ScratchRegistry {};

HKEY Create(const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    return key;
}

LSTATUS SetString(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

std::string GetString(HKEY key, const char* name, LSTATUS* rc = nullptr) {
    char buf[512] = {};
    DWORD size = sizeof buf, type = 0;
    LSTATUS r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    if (rc) *rc = r;
    return r == ERROR_SUCCESS ? std::string(buf) : std::string("<missing>");
}

bool Exists(const char* path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

TEST_F(Registry, NestedKeysAndValuesOfEachType) {
    DWORD disposition = 0;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(Exists("CLSID\\{X}")) << "parents created on the way";
    EXPECT_EQ(SetString(key, nullptr, "/lib/x.so"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, "ThreadingModel", "Apartment"), ERROR_SUCCESS);
    DWORD number = 0x1234ABCD;
    EXPECT_EQ(RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              ERROR_SUCCESS);
    const BYTE blob[] = {0, 1, 0xFF};
    EXPECT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, 3), ERROR_SUCCESS);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "clsid\\{x}\\INPROCSERVER32", 0, KEY_READ, &key),
              ERROR_SUCCESS)
        << "names compare without regard to case";
    EXPECT_EQ(GetString(key, ""), "/lib/x.so");
    EXPECT_EQ(GetString(key, "threadingmodel"), "Apartment");
    DWORD type = 0, size = 4, read = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Count", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(read, number);
    BYTE back[3];
    size = 3;
    EXPECT_EQ(RegQueryValueExA(key, "Blob", nullptr, &type, back, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::vector<BYTE>(back, back + 3), std::vector<BYTE>(blob, blob + 3));

    // Sizes: the string's size counts its terminator; a short buffer says how much is needed.
    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    LSTATUS rc;
    GetString(key, "Nope", &rc);
    EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);

    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{X}", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
}

TEST_F(Registry, TextValuesKeepEveryCharacterAndNamesKeepTheirCase) {
    HKEY key = Create("Odd [name] % here\\Sub");
    const std::string tricky =
        "quote \" backslash \\ newline \n tab \t bell \x07 utf8 \xC3\xA9 end";
    ASSERT_EQ(SetString(key, "va\"lue", tricky), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, "", ""), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "odd [NAME] % here\\sub", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(GetString(key, "VA\"LUE"), tricky);
    EXPECT_EQ(GetString(key, ""), "");
    RegCloseKey(key);

    char name[64];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(HKEY_CLASSES_ROOT, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(name), "Odd [name] % here") << "case as first written";
    size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(HKEY_CLASSES_ROOT, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, DeletionOfKeysTreesAndValues) {
    RegCloseKey(Create("A\\B\\C"));
    RegCloseKey(Create("A\\D"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "A\\B"), ERROR_ACCESS_DENIED) << "has a subkey";
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "A\\B\\C"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "A\\B\\C"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr), ERROR_INVALID_PARAMETER);

    HKEY d = Create("A\\D\\E");
    ASSERT_EQ(SetString(d, "v", "1"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(d, "v"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(d, "v"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "A"), ERROR_SUCCESS);
    EXPECT_FALSE(Exists("A"));
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "A"), ERROR_FILE_NOT_FOUND);
    // A handle names a key path: once the key is gone, the handle says so.
    EXPECT_EQ(SetString(d, "v", "2"), ERROR_KEY_DELETED);
    HKEY sub;
    EXPECT_EQ(RegCreateKeyExA(d, "F", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              ERROR_KEY_DELETED);
    RegCloseKey(d);

    // With no subkey, RegDeleteTreeA empties the key and keeps it.
    HKEY g = Create("G\\H");
    RegCloseKey(Create("G\\I"));
    ASSERT_EQ(SetString(g, "", "x"), ERROR_SUCCESS);
    HKEY top;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "G", 0, KEY_ALL_ACCESS, &top), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(top, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(Exists("G"));
    EXPECT_FALSE(Exists("G\\H"));
    RegCloseKey(top);
    RegCloseKey(g);
}

TEST_F(Registry, HandlesAndAccessRights) {
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(std::uintptr_t{12345})), ERROR_INVALID_HANDLE);
    HKEY key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "\\Lead", 0, KEY_READ, &key),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "A\\\\B", &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, std::string(256, 'n').c_str(), &key),
              ERROR_INVALID_PARAMETER);

    RegCloseKey(Create("K"));
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, "v", "1"), ERROR_ACCESS_DENIED) << "opened for reading only";
    HKEY sub;
    EXPECT_EQ(RegCreateKeyExA(key, "S", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
              ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    DWORD wrong = 1;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "K", 0, KEY_WRITE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "d", 0, REG_DWORD, reinterpret_cast<BYTE*>(&wrong), 2),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "s", 0, REG_SZ, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "s", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS) << "empty";
    RegCloseKey(key);
}

TEST_F(Registry, OlderDefaultValueCalls) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Prog.Id\\CLSID", REG_SZ, "{ID}", 4), ERROR_SUCCESS);
    char buf[16];
    LONG size = sizeof buf;
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Prog.Id\\CLSID", buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buf), "{ID}");
    EXPECT_EQ(size, 5);
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Prog.Id", buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buf), "") << "a key without a default value reads as empty";
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Nope", buf, &size), ERROR_FILE_NOT_FOUND);
}

}  // namespace
