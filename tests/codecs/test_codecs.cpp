// Frame codecs: the Windows-1251 table, the bounds-checked field readers and the text conversions.
#include "codecs/convertor.h"
#include "codecs/device_utils.h"

#include <boost/archive/iterators/dataflow_exception.hpp>
#include <gtest/gtest.h>

#include <functional>

namespace du = device_utils;
using du::bytes;

namespace {

bytes B(std::initializer_list<int> v)
{
    bytes out;
    for (int x : v) out.push_back(static_cast<std::byte>(x));
    return out;
}

// Both directions of the table; bytes it cannot show decode to the placeholder, a character outside it throws.
TEST(Win1251, EncodesAndDecodesThroughOneTable)
{
    const std::pair<wchar_t, int> pairs[] = {{L'A', 0x41},   {0x0410, 0xC0}, {0x044F, 0xFF}, {0x0401, 0xA8},
                                             {0x0451, 0xB8}, {0x2116, 0xB9}, {0x20AC, 0x88}, {0x201A, 0x82},
                                             {0x00A0, 0xA0}, {0x2302, 0x7F}, {0x00BB, 0xBB}};
    bytes all;
    std::wstring want;
    for (const auto& [ch, b] : pairs) {
        EXPECT_EQ(du::encode_win1251_char(ch), std::byte(b)) << std::hex << int(ch);
        all.push_back(std::byte(b));
        want.push_back(ch);
    }
    for (int b : {0x01, 0x80, 0x98, 0xAA}) all.push_back(std::byte(b)), want.push_back(wchar_t(0xFF1F));
    EXPECT_EQ(du::byte_reader(all).win1251_string(all.size()), want);
    for (int ch : {0x0A, 0x00, 0x0404, 0x1F600}) EXPECT_THROW(du::encode_win1251_char(wchar_t(ch)), std::out_of_range);
    EXPECT_THROW(du::encode_win1251_field(L"ab\ncd", 50), std::out_of_range);
    EXPECT_EQ(du::find_unencodable_win1251(L"ab\ncd", 50), 2u);
    EXPECT_EQ(du::find_unencodable_win1251(L"ab\ncd", 2), std::wstring::npos);  // beyond the width: never sent
    EXPECT_EQ(du::encode_win1251_field(L"ABCDE", 4), B({0x41, 0x42, 0x43, 0x44}));
    EXPECT_EQ(du::encode_win1251_field(L"\x0410", 3), B({0xC0, 0, 0}));
}

using reader = std::function<long long(du::byte_iterator&, du::byte_iterator)>;
const reader read32 = [](auto& it, auto end) { return du::parse_int32_from_byte_array_le(it, end); };
const reader read24 = [](auto& it, auto end) { return du::parse_int32_from_3bytes_le(it, end); };
const reader read16 = [](auto& it, auto end) { return du::parse_ushort_from_byte_array_le(it, end); };
const reader read8 = [](auto& it, auto end) { return du::parse_int32_from_byte(it, end); };
const reader read_str5 = [](auto& it, auto end) { return du::parse_string_from_byte_array(it, end, 5).size(); };
const reader read_w5 = [](auto& it, auto end) { return du::parse_win1251_string_from_byte_array(it, end, 5).size(); };
const reader read_raw5 = [](auto& it, auto end) { return du::parse_byte_array_from_byte_array(it, end, 5).size(); };

TEST(FieldReaders, ReaderWalksAReplyInFieldOrder)
{
    const bytes reply =
        B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x34, 0x12, 0x07, 0x41, 0x00, 0x42, 0xC0, 0x00, 0xE1, 0x00, 0x01});
    du::byte_reader r(reply);
    EXPECT_EQ(r.int32_le(), -1);
    EXPECT_EQ(r.int24_le(), 16777215);
    EXPECT_EQ(r.uint16_le(), 0x1234);
    EXPECT_EQ(r.byte(), 7);
    EXPECT_EQ(r.string(3), "AB");  // zero bytes skipped, full width read
    EXPECT_EQ(r.win1251_string(3), std::wstring(L"\x0410\x0431"));
    EXPECT_EQ(r.byte_array(2), B({0x00, 0x01}));  // zero bytes kept
    EXPECT_EQ(r.string(0), "");  // n < 1 reads nothing, even at the end
    EXPECT_EQ(du::parse_date_string_from_byte_array(B({0x07, 0x0C, 0x1A})), "07-12-26");
    EXPECT_EQ(du::parse_date_string_from_byte_array(B({0x01, 0x02})), "");  // short: no date
    EXPECT_EQ(du::hex_dump(bytes(150, std::byte{0x1F})).size(), 300u);  // 100 bytes at most
}

// A field past the end of the reply throws and leaves the position alone.
TEST(FieldReaders, ShortBufferThrowsAndLeavesPositionAlone)
{
    const std::pair<reader, std::size_t> cases[] = {
        {read32, 4}, {read24, 3}, {read16, 2}, {read8, 1}, {read_str5, 5}, {read_w5, 5}, {read_raw5, 5},
    };
    for (const auto& [read, need] : cases) {
        const bytes buf(need + 1, std::byte{0x20});
        du::byte_iterator it = buf.begin() + 2;  // one byte short
        EXPECT_THROW(read(it, buf.end()), du::short_buffer) << need;
        EXPECT_EQ(it - buf.begin(), 2);
        it = buf.begin() + 1;
        EXPECT_NO_THROW(read(it, buf.end()));  // exactly enough
        EXPECT_EQ(it, buf.end());
    }
    const bytes reply = B({1, 2, 3});
    du::byte_reader r(reply, 1);
    EXPECT_THROW(r.int24_le(), std::out_of_range);  // short_buffer is an out_of_range
    EXPECT_EQ(r.position(), 1u);
    EXPECT_THROW(du::byte_reader(reply, 4), du::short_buffer);
}

// Malformed UTF-8 ends the text where it starts, with a line on standard output.
TEST(TextConversions, Utf8AndWide)
{
    const std::tuple<std::string, std::wstring, const char*> cases[] = {
        {"\xEF\xBB\xBF\x41", L"A", ""},  // mark dropped when text follows
        {"\xD0\x90\xF0\x9F\x98\x80", std::wstring{wchar_t(0x0410), wchar_t(0x1F600)}, ""},
        {"A\xC3", L"A", "wstr err: Not enough space\n"},  // truncated sequence
        {"AB\xC0\xAF", L"AB", "wstr err: Invalid UTF-8\n"},  // overlong form
    };
    for (const auto& [in, want, printed] : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(du::wstr(in), want);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), printed);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(du::str(std::wstring{L'A', wchar_t(0x0410), wchar_t(0xD800), L'B'}), "A\xD0\x90");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "str error: Invalid code point\n");
    EXPECT_THROW(du::convert_ansi_to_utf8("\xC3"), std::range_error);
    EXPECT_EQ(du::safe_log_text("\xCE\xF8\xE8 \xD0\x90 ok\xC3"), "??? \xD0\x90 ok?");
    // Bytes that the reduced table cannot show are converted from the full code page.
    EXPECT_EQ(du::win1251_to_utf8(B({0xC0, 0x41, 0x00, 0x80, 0xB9})),
              B({0xD0, 0x90, 0x41, 0x00, 0xD0, 0x82, 0xE2, 0x84, 0x96}));
}

// A split width below 1 gives one character a line; Base64 rewrites its argument (blanks go, padding becomes "A").
TEST(TextConversions, SplitAndBase64)
{
    EXPECT_EQ(du::split_text_into_lines_with_max_length("\xD0\x90\xD0\x91\xD0\x92", 2), "\xD0\x90\xD0\x91\n\xD0\x92");
    EXPECT_EQ(du::split_text_into_lines_with_max_length("ab", 0), "\na\nb");
    std::string text = " TW\r\nFu T\t\n";  // 4k+1 characters: three pads, of which only two bytes are dropped
    EXPECT_EQ(du::parse_byte_array_from_base64_string(text), B({0x4D, 0x61, 0x6E, 0x4C}));
    EXPECT_EQ(text, "TWFuTAAA");
    std::string bad = "TW-u";
    EXPECT_THROW(du::parse_byte_array_from_base64_string(bad), boost::archive::iterators::dataflow_exception);
}

}  // namespace
