// Every published code has its name and a meaning.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/ext/comerror.h"
#include "platform/oleidl.h"

namespace {

#define ENTRY(code) \
    { code, #code }

TEST(ErrorTable, EveryPublishedHResultHasItsOwnNameAndAText) {
    const std::pair<HRESULT, const char*> codes[] = {
        ENTRY(S_OK),
        ENTRY(S_FALSE),
        ENTRY(E_NOTIMPL),
        ENTRY(E_NOINTERFACE),
        ENTRY(E_POINTER),
        ENTRY(E_FAIL),
        ENTRY(E_UNEXPECTED),
        ENTRY(E_OUTOFMEMORY),
        ENTRY(E_INVALIDARG),
        ENTRY(E_ACCESSDENIED),
        ENTRY(CLASS_E_NOAGGREGATION),
        ENTRY(CLASS_E_CLASSNOTAVAILABLE),
        ENTRY(REGDB_E_CLASSNOTREG),
        ENTRY(SELFREG_E_TYPELIB),
        ENTRY(SELFREG_E_CLASS),
        ENTRY(DISP_E_UNKNOWNINTERFACE),
        ENTRY(DISP_E_MEMBERNOTFOUND),
        ENTRY(DISP_E_PARAMNOTFOUND),
        ENTRY(DISP_E_TYPEMISMATCH),
        ENTRY(DISP_E_UNKNOWNNAME),
        ENTRY(DISP_E_NONAMEDARGS),
        ENTRY(DISP_E_BADVARTYPE),
        ENTRY(DISP_E_EXCEPTION),
        ENTRY(DISP_E_OVERFLOW),
        ENTRY(DISP_E_BADPARAMCOUNT),
        ENTRY(DISP_E_PARAMNOTOPTIONAL),
        ENTRY(TYPE_E_ELEMENTNOTFOUND),
        ENTRY(TYPE_E_LIBNOTREGISTERED),
        ENTRY(TYPE_E_CANTLOADLIBRARY),
        ENTRY(CO_E_NOTINITIALIZED),
        ENTRY(CO_E_CLASSSTRING),
        ENTRY(CO_E_DLLNOTFOUND),
        ENTRY(CO_E_ERRORINDLL),
        ENTRY(REGDB_E_READREGDB),
        ENTRY(REGDB_E_WRITEREGDB),
        ENTRY(REGDB_E_KEYMISSING),
        ENTRY(CONNECT_E_CANNOTCONNECT),
        ENTRY(CAT_E_CATIDNOEXIST),
        ENTRY(CAT_E_NODESCRIPTION),
        ENTRY(DISP_E_UNKNOWNLCID),
        ENTRY(TYPE_E_REGISTRYACCESS),
        ENTRY(TYPE_E_INVDATAREAD),
    };
    std::set<std::string> texts;
    for (const auto& [code, expected] : codes) {
        const char* name = nullptr;
        const char* text = nullptr;
        ASSERT_TRUE(DescribeHResult(code, &name, &text)) << expected;
        EXPECT_STREQ(name, expected);
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::string(text).size(), 3u) << expected;
        EXPECT_TRUE(texts.insert(text).second) << "a text of its own: " << expected;
    }
    const char* name = nullptr;
    ASSERT_TRUE(DescribeHResult(static_cast<HRESULT>(0x80040200u), &name, nullptr));
    EXPECT_STREQ(name, "SELFREG_E_TYPELIB") << "the shared value reads as registration's";
}

TEST(ErrorTable, Win32CodesAlsoInHResultForm) {
    const std::pair<DWORD, const char*> codes[] = {
        ENTRY(ERROR_SUCCESS),           ENTRY(ERROR_FILE_NOT_FOUND),
        ENTRY(ERROR_ACCESS_DENIED),     ENTRY(ERROR_INVALID_HANDLE),
        ENTRY(ERROR_INVALID_PARAMETER), ENTRY(ERROR_MORE_DATA),
        ENTRY(ERROR_NO_MORE_ITEMS),     ENTRY(ERROR_BADDB),
        ENTRY(ERROR_KEY_DELETED),       ENTRY(ERROR_CANTREAD),
        ENTRY(ERROR_CANTWRITE),         ENTRY(ERROR_DISK_FULL),
        ENTRY(ERROR_MOD_NOT_FOUND),     ENTRY(ERROR_PROC_NOT_FOUND),
    };
    for (const auto& [code, expected] : codes) {
        const char* name = nullptr;
        ASSERT_TRUE(DescribeWin32Error(code, &name, nullptr)) << expected;
        EXPECT_STREQ(name, expected);
    }
    const char* name = nullptr;
    ASSERT_TRUE(DescribeHResult(HRESULT_FROM_WIN32(ERROR_BADDB), &name, nullptr));
    EXPECT_STREQ(name, "ERROR_BADDB");
    ASSERT_TRUE(DescribeHResult(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), &name, nullptr));
    EXPECT_STREQ(name, "E_ACCESSDENIED") << "the HRESULT's own name where it has one";
    EXPECT_FALSE(DescribeHResult(static_cast<HRESULT>(0x8123ABCDu), &name, nullptr));
    EXPECT_FALSE(DescribeWin32Error(99999, &name, nullptr));
}

// The misc status a control registers is the sum of its published bits.
static_assert((OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
               OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE) == 131473);

}  // namespace
