#include "codecs/device_utils.h"

#include <boost/archive/iterators/dataflow_exception.hpp>
#include <gtest/gtest.h>

#include <memory>

namespace du = device_utils;
using du::bytes;

namespace {

bytes B(std::initializer_list<int> v)
{
    bytes out;
    for (int x : v) out.push_back(static_cast<std::byte>(x));
    return out;
}

TEST(TextConversions, Utf8ToWide)
{
    const struct { std::string in; std::wstring want; const char* printed; } cases[] = {
        {"", L"", ""},
        {"\xEF\xBB\xBF" "A", L"A", ""},                          // mark dropped when text follows
        {"\xEF\xBB\xBF", std::wstring(1, wchar_t(0xFEFF)), ""},  // mark alone is a character
        {"\xD0\x90\xF0\x9F\x98\x80", std::wstring{wchar_t(0x0410), wchar_t(0x1F600)}, ""},
        {"A\xC3", L"A", "wstr err: Not enough space\n"},         // truncated sequence
        {"AB\xC0\xAF" "C", L"AB", "wstr err: Invalid UTF-8\n"},  // overlong form
        {"A\xED\xA0\x80", L"A", "wstr err: Invalid code point\n"},  // surrogate
        {"A\x80", L"A", "wstr err: Invalid UTF-8\n"},            // stray continuation byte
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(du::wstr(c.in), c.want);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    }
}

TEST(TextConversions, WideToUtf8)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(du::str(std::wstring{wchar_t(0x0410)}), "\xD0\x90");
    EXPECT_EQ(du::str(std::wstring{wchar_t(0x1F600)}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    for (wchar_t bad : {wchar_t(0xD800), wchar_t(0x110000), wchar_t(-1)}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(du::str(std::wstring{L'A', bad, L'B'}), "A");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "str error: Invalid code point\n");
    }
}

TEST(TextConversions, SystemTextsForTheLog)
{
    EXPECT_EQ(du::convert_ansi_to_utf8("\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0"),
              "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0");
    try {
        du::convert_ansi_to_utf8("\xC3");
        ADD_FAILURE() << "no throw";
    } catch (const std::range_error& e) {
        EXPECT_STREQ(e.what(), "wstring_convert::from_bytes");
    }
    EXPECT_EQ(du::safe_log_text("Connection refused"), "Connection refused");
    EXPECT_EQ(du::safe_log_text("\xCE\xF8\xE8\xE1\xEA\xE0 \xD0\x90"), "?????? \xD0\x90");
    EXPECT_EQ(du::safe_log_text("ok\xC3"), "ok?");
}

TEST(TextConversions, Win1251ToUtf8)
{
    EXPECT_EQ(du::win1251_to_utf8(B({0xC0, 0x41, 0x98, 0x00, 0xFF})),
              B({0xD0, 0x90, 0x41, 0xE2, 0x80, 0xBA, 0x00, 0xD1, 0x8F}));
    // Bytes that the reduced table cannot show are converted from the full code page.
    EXPECT_EQ(du::win1251_to_utf8(B({0x80, 0xAA, 0xB2, 0xB9})),
              B({0xD0, 0x82, 0xD0, 0x84, 0xD0, 0x86, 0xE2, 0x84, 0x96}));
}

TEST(TextConversions, Replace)
{
    const struct { std::string text, from, to, want; } cases[] = {
        {"aaa", "a", "aa", "aaaaaa"}, {"aabbab", "ab", "", "ab"}, {"abc", "", "x", "abc"},
        {"a/b/c", "/", "\\", "a\\b\\c"}, {"", "a", "b", ""},
    };
    for (auto c : cases) {
        du::replace(c.text, c.from, c.to);
        EXPECT_EQ(c.text, c.want);
    }
    std::wstring w = L"\x0410-\x0410";
    du::replace(w, std::wstring(L"\x0410"), std::wstring(L"AB"));
    EXPECT_EQ(w, L"AB-AB");
}

TEST(TextConversions, Base64)
{
    const struct { std::string in, after; bytes want; } cases[] = {
        {"TWE", "TWEA", B({0x4D, 0x61})},
        {"TWFu", "TWFu", B({0x4D, 0x61, 0x6E})},
        {"TWE=", "TWEA", B({0x4D, 0x61})},
        {"TQ==", "TQAA", B({0x4D})},
        {" TW\r\nFu TQ\t\n", "TWFuTQAA", B({0x4D, 0x61, 0x6E, 0x4D})},
        {"", "", {}},
        {"+/+/", "+/+/", B({0xFB, 0xFF, 0xBF})},
    };
    for (auto c : cases) {
        EXPECT_EQ(du::parse_byte_array_from_base64_string(c.in), c.want);
        EXPECT_EQ(c.in, c.after);
    }
    for (std::string bad : {"TW-u", "TWFu\xC3\xA9", "TW_u"}) {
        EXPECT_THROW(du::parse_byte_array_from_base64_string(bad), boost::archive::iterators::dataflow_exception)
            << bad;
    }
}

TEST(TextConversions, SplitIntoLines)
{
    EXPECT_EQ(du::split_text_into_lines_with_max_length("abcdefg", 3), "abc\ndef\ng");
    EXPECT_EQ(du::split_text_into_lines_with_max_length("ab\ncdef", 3), "ab\ncde\nf");
    EXPECT_EQ(du::split_text_into_lines_with_max_length("\xD0\x90\xD0\x91\xD0\x92", 2), "\xD0\x90\xD0\x91\n\xD0\x92");
    EXPECT_EQ(du::split_text_into_lines_with_max_length("abc", 0), "abc");
}

TEST(TextConversions, WindowsOnlyStubIsAnEmptyString)
{
    std::unique_ptr<wchar_t[]> p(du::utf8_string_to_wchar_t_only_for_windows("abc"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], L'\0');
}

}  // namespace
