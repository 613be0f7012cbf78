// Automation strings and identifiers in text form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>

#include "platform/codepage.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"

namespace {

// The code page service and the automation strings name the same 16-bit unit.
static_assert(std::is_same_v<WCHAR, OLECHAR>);

std::u16string Text(BSTR b) {
    return std::u16string(b ? b : u"", SysStringLen(b));
}

TEST(Bstr, LengthPrefixCountsUnitsIncludingEmbeddedNul) {
    const OLECHAR data[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(data, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    std::uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(b) - 4, 4);
    EXPECT_EQ(prefix, 6u);
    EXPECT_EQ(b[3], 0) << "terminated after its length";
    EXPECT_EQ(Text(b), std::u16string(data, 3));
    SysFreeString(b);
}

TEST(Bstr, NullIsTheEmptyString) {
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);  // allowed, does nothing
    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], 0);
    SysFreeString(empty);
}

TEST(Bstr, AllocationWithoutSourceIsZeroFilledAndOddByteLengthsWork) {
    BSTR z = SysAllocStringLen(nullptr, 5);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(SysStringLen(z), 5u);
    for (int i = 0; i <= 5; ++i) EXPECT_EQ(z[i], 0);
    SysFreeString(z);

    BSTR odd = SysAllocStringByteLen("abc", 3);
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    EXPECT_EQ(std::memcmp(odd, "abc\0", 4), 0);
    SysFreeString(odd);
}

TEST(Bstr, ReallocationFromItsOwnTextAndHugeLengthsRefused) {
    BSTR b = SysAllocString(u"hello world");
    ASSERT_TRUE(SysReAllocStringLen(&b, b + 6, 5));  // source inside the old string
    EXPECT_EQ(Text(b), u"world");
    ASSERT_TRUE(SysReAllocString(&b, nullptr));
    EXPECT_EQ(SysStringLen(b), 0u);
    SysFreeString(b);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
}

constexpr GUID kSample = {
    0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};

TEST(Guid, TextFormIsBracedUpperCaseAndRoundTrips) {
    OLECHAR text[39];
    ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
    EXPECT_EQ(std::u16string(text), u"{7DD95801-9882-11CF-9FA9-00AA006C42C4}");
    GUID back{};
    ASSERT_EQ(CLSIDFromString(text, &back), S_OK);
    EXPECT_EQ(back, kSample);
    ASSERT_EQ(IIDFromString(u"{7dd95801-9882-11cf-9fa9-00aa006c42c4}", &back), S_OK);
    EXPECT_EQ(back, kSample) << "lower-case digits are read too";
    // Every byte position survives: a GUID with distinct bytes everywhere.
    GUID g = {0x01234567, 0x89AB, 0xCDEF, {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87}};
    ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
    ASSERT_EQ(IIDFromString(text, &back), S_OK);
    EXPECT_EQ(back, g);
}

TEST(Guid, ShortBufferAndMalformedTextRefused) {
    OLECHAR text[38];
    EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
    GUID g;
    for (const char16_t* bad : {u"7DD95801-9882-11CF-9FA9-00AA006C42C4",    // no braces
                                u"{7DD95801-9882-11CF-9FA9-00AA006C42C}",   // one digit short
                                u"{7DD95801-9882-11CF-9FA900-AA006C42C4}",  // dash misplaced
                                u"{7DD9580G-9882-11CF-9FA9-00AA006C42C4}",  // not hex
                                u"{7DD95801-9882-11CF-9FA9-00AA006C42C4}x", u""}) {
        EXPECT_EQ(IIDFromString(bad, &g), E_INVALIDARG);
    }
    EXPECT_EQ(CLSIDFromString(u"{7DD9580G-9882-11CF-9FA9-00AA006C42C4}", &g), CO_E_CLASSSTRING);
}

}  // namespace
