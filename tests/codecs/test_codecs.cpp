// Frame codecs: the Windows-1251 encoder, the bounds-checked field readers,
// the builders and the text conversions.
#include "codecs/convertor.h"
#include "codecs/device_utils.h"

#include <boost/archive/iterators/dataflow_exception.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <map>
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

TEST(Win1251Encoder, OneTableOf184Keys)
{
    const struct {
        wchar_t ch;
        int byte;
    } known[] = {
        {L'A', 0x41},   {0x0410, 0xC0}, {0x044F, 0xFF}, {0x0401, 0xA8}, {0x0451, 0xB8}, {0x2116, 0xB9},
        {0x20AC, 0x88}, {0x00A0, 0xA0}, {0xFF1F, 0x00}, {0x2302, 0x7F}, {L' ', 0x20},
    };
    for (const auto& c : known) EXPECT_EQ(du::encode_win1251_char(c.ch), std::byte(c.byte)) << std::hex << int(c.ch);
    ASSERT_EQ(codepage1251.size(), 256u);
    EXPECT_EQ(win1251_convertor.map().size(), 184u);
    for (int b : {0x00, 0x0A, 0x1F, 0x80, 0xAA}) EXPECT_EQ(codepage1251[b], wchar_t(0xFF1F)) << b;
    // Every character but the placeholder encodes back to the byte it stands for.
    for (const auto& [ch, byte] : win1251_convertor.map())
        EXPECT_TRUE(ch == 0xFF1F || codepage1251[std::to_integer<int>(byte)] == ch) << std::hex << int(ch);
}

// The upper half of the decoding table, byte by byte: 23 bytes of 0x80-0xBF
// as in Windows-1251, the other 41 the placeholder, 0xC0-0xFF the Cyrillic
// letters in order. Each byte decodes the same through the reply reader.
TEST(Win1251Decoder, UpperHalfOfTheTable)
{
    std::map<int, wchar_t> expected;
    for (int b = 0x80; b <= 0xBF; ++b) expected[b] = 0xFF1F;
    const std::pair<int, wchar_t> mapped[] = {
        {0x82, 0x201A}, {0x85, 0x2026}, {0x88, 0x20AC}, {0x8B, 0x2039}, {0x91, 0x2018}, {0x92, 0x2019},
        {0x93, 0x201C}, {0x94, 0x201D}, {0x96, 0x2013}, {0x97, 0x2014}, {0x99, 0x2122}, {0x9B, 0x203A},
        {0xA0, 0x00A0}, {0xA7, 0x00A7}, {0xA8, 0x0401}, {0xA9, 0x00A9}, {0xAB, 0x00AB}, {0xAE, 0x00AE},
        {0xB0, 0x00B0}, {0xB1, 0x00B1}, {0xB8, 0x0451}, {0xB9, 0x2116}, {0xBB, 0x00BB},
    };
    for (const auto& [b, ch] : mapped) expected[b] = ch;
    for (int b = 0xC0; b <= 0xFF; ++b) expected[b] = static_cast<wchar_t>(0x0410 + (b - 0xC0));
    ASSERT_EQ(expected.size(), 128u);
    bytes all;
    std::wstring want;
    for (const auto& [b, ch] : expected) {
        EXPECT_EQ(codepage1251[b], ch) << std::hex << b;
        all.push_back(static_cast<std::byte>(b));
        want.push_back(ch);
    }
    du::byte_reader r(all);
    EXPECT_EQ(r.win1251_string(128), want);
}

TEST(Win1251Encoder, CharactersOutsideTheTableThrowMapAt)
{
    for (int ch : {0x0A, 0x0D, 0x09, 0x00, 0x7F, 0x0404, 0x00E9, 0x0402, 0x1F600, 0x4E2D})
        EXPECT_THROW(du::encode_win1251_char(wchar_t(ch)), std::out_of_range) << std::hex << ch;
    try {
        du::encode_win1251_char(L'\n');
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "map::at");  // the text std::map::at gives
    }
    EXPECT_THROW(du::encode_win1251_field(L"ab\ncd", 50), std::out_of_range);
}

TEST(Win1251Encoder, FixedWidthFieldIsCutOrPadded)
{
    const struct {
        std::wstring text;
        std::size_t width;
        bytes want;
    } cases[] = {
        {L"ABCDE", 4, B({0x41, 0x42, 0x43, 0x44})},
        {L"AB", 4, B({0x41, 0x42, 0, 0})},
        {L"", 3, B({0, 0, 0})},
        {L"\x0410\x0431", 2, B({0xC0, 0xE1})},
        {L"A", 0, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(du::encode_win1251_field(c.text, c.width), c.want);
    EXPECT_EQ(du::encode_win1251(L"Ab\x0451"), B({0x41, 0x62, 0xB8}));
}

using reader = std::function<long long(du::byte_iterator&, du::byte_iterator)>;
const reader read32 = [](auto& it, auto end) { return du::parse_int32_from_byte_array_le(it, end); };
const reader read24 = [](auto& it, auto end) { return du::parse_int32_from_3bytes_le(it, end); };
const reader read16 = [](auto& it, auto end) { return du::parse_ushort_from_byte_array_le(it, end); };
const reader read8 = [](auto& it, auto end) { return du::parse_int32_from_byte(it, end); };
const reader read_str5 = [](auto& it, auto end) { return du::parse_string_from_byte_array(it, end, 5).size(); };
const reader read_w5 = [](auto& it, auto end) { return du::parse_win1251_string_from_byte_array(it, end, 5).size(); };
const reader read_raw5 = [](auto& it, auto end) { return du::parse_byte_array_from_byte_array(it, end, 5).size(); };

TEST(FieldReaders, IntegersSignWidthAndAdvance)
{
    const struct {
        reader read;
        bytes in;
        long long want;
        int width;
    } cases[] = {
        {read32, B({0xFF, 0xFF, 0xFF, 0xFF, 0x55}), -1, 4},
        {read32, B({0x78, 0x56, 0x34, 0x12}), 0x12345678, 4},
        {read32, B({0x00, 0x00, 0x00, 0x80}), -2147483647LL - 1, 4},
        {read24, B({0xFF, 0xFF, 0xFF, 0xFF}), 16777215, 3},
        {read24, B({0x01, 0x02, 0x03}), 0x030201, 3},
        {read16, B({0xFF, 0xFF}), 65535, 2},
        {read16, B({0x34, 0x12, 0x00}), 0x1234, 2},
        {read8, B({0xFF}), 255, 1},
    };
    for (const auto& c : cases) {
        du::byte_iterator it = c.in.begin();
        EXPECT_EQ(c.read(it, c.in.end()), c.want);
        EXPECT_EQ(it - c.in.begin(), c.width);
    }
}

TEST(FieldReaders, ReaderWalksAReplyInFieldOrder)
{
    const bytes reply =
        B({0x01, 0x00, 0x00, 0x00, 0x02, 0x01, 0x07, 0x41, 0x00, 0x42, 0xC0, 0x00, 0xE1, 0x00, 0x01, 0x00});
    du::byte_reader r(reply);
    EXPECT_EQ(r.int32_le(), 1);
    EXPECT_EQ(r.uint16_le(), 0x0102);
    EXPECT_EQ(r.byte(), 7);
    EXPECT_EQ(r.string(3), "AB");  // zero bytes skipped, full width read
    EXPECT_EQ(r.win1251_string(3), std::wstring(L"\x0410\x0431"));
    EXPECT_EQ(r.string(0), "");
    EXPECT_EQ(r.byte_array(-1), bytes{});
    EXPECT_EQ(r.position(), 13u);
    EXPECT_EQ(r.byte_array(3), B({0x00, 0x01, 0x00}));  // zero bytes kept
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_EQ(r.string(0), "");  // n < 1 reads nothing, even at the end
    du::byte_reader one(reply, 14);  // 0x01: a byte the reduced table cannot show
    EXPECT_EQ(one.win1251_string(1), std::wstring(1, wchar_t(0xFF1F)));
}

TEST(FieldReaders, ShortBufferThrowsAndLeavesPositionAlone)
{
    const std::pair<reader, std::size_t> cases[] = {
        {read32, 4}, {read24, 3}, {read16, 2}, {read8, 1}, {read_str5, 5}, {read_w5, 5}, {read_raw5, 5},
    };
    for (const auto& [read, need] : cases) {
        const bytes buf(need + 1, std::byte{0x20});
        // One byte short of the field, and nothing left at all.
        for (std::size_t start : {std::size_t(2), buf.size()}) {
            du::byte_iterator it = buf.begin() + static_cast<std::ptrdiff_t>(start);
            EXPECT_THROW(read(it, buf.end()), du::short_buffer) << "need " << need << " from " << start;
            EXPECT_EQ(it - buf.begin(), static_cast<std::ptrdiff_t>(start));
        }
        du::byte_iterator it = buf.begin() + 1;
        EXPECT_NO_THROW(read(it, buf.end()));  // exactly enough
        EXPECT_EQ(it, buf.end());
    }
    const bytes reply = B({1, 2, 3});
    du::byte_reader r(reply, 1);
    EXPECT_FALSE(r.has(3));
    EXPECT_THROW(r.int24_le(), std::out_of_range);  // short_buffer is an out_of_range
    EXPECT_THROW(r.skip(3), du::short_buffer);
    EXPECT_EQ(r.position(), 1u);
    r.skip(2);
    EXPECT_THROW(r.byte(), du::short_buffer);
    EXPECT_THROW(du::byte_reader(reply, 4), du::short_buffer);
}

TEST(WholeVectorCodecs, StringsDatesBuildersAndDump)
{
    EXPECT_EQ(du::parse_string_from_byte_array(B({0x41, 0x00, 0x42, 0x00})), "AB");
    EXPECT_EQ(du::parse_byte_array_from_string(std::string("A\0B", 3)), B({0x41, 0x00, 0x42}));
    const std::pair<bytes, const char*> dates[] = {
        {B({0x07, 0x0C, 0x1A}), "07-12-26"},   {B({0x0A, 0x0B, 0x63}), "10-11-99"},
        {B({0x64, 0x00, 0xFF}), "100-00-255"}, {B({0x01, 0x02}), ""},
        {B({0x01, 0x02, 0x03, 0x04}), ""},     {bytes{}, ""},
    };
    for (const auto& [in, want] : dates) EXPECT_EQ(du::parse_date_string_from_byte_array(in), want);
    const std::pair<bytes, bytes> built[] = {
        {du::convert_to_bytes_le(std::uint16_t{0x1234}), B({0x34, 0x12})},
        {du::convert_to_bytes_le_16(0xFFFF), B({0xFF, 0xFF})},
        {du::convert_to_bytes_le_32(static_cast<std::uint32_t>(-2)), B({0xFE, 0xFF, 0xFF, 0xFF})},
        {du::convert_to_bytes_le_32(0x12345678u), B({0x78, 0x56, 0x34, 0x12})},
        {du::convert_to_bytes_le(std::int64_t{-1}), bytes(8, std::byte{0xFF})},
        {du::convert_to_bytes_le_64(0x0102030405060708LL), B({8, 7, 6, 5, 4, 3, 2, 1})},
    };
    for (const auto& [got, want] : built) EXPECT_EQ(got, want);
    EXPECT_EQ(du::hex_dump(B({0x02, 0xAB, 0x00})), "02 AB 00 ");
    EXPECT_EQ(du::hex_dump(bytes(150, std::byte{0x1F})).size(), 300u);  // 100 bytes at most
    EXPECT_EQ(du::hex_dump(B({1, 2, 3}), 2), "01 02 ");
}

TEST(TextConversions, Utf8AndWide)
{
    const struct {
        std::string in;
        std::wstring want;
        const char* printed;
    } cases[] = {
        {"", L"", ""},
        {"\xEF\xBB\xBF"
         "A",
         L"A", ""},  // mark dropped when text follows
        {"\xEF\xBB\xBF", std::wstring(1, wchar_t(0xFEFF)), ""},  // mark alone is a character
        {"\xD0\x90\xF0\x9F\x98\x80", std::wstring{wchar_t(0x0410), wchar_t(0x1F600)}, ""},
        {"A\xC3", L"A", "wstr err: Not enough space\n"},  // truncated sequence
        {"AB\xC0\xAF"
         "C",
         L"AB", "wstr err: Invalid UTF-8\n"},  // overlong form
        {"A\xED\xA0\x80", L"A", "wstr err: Invalid code point\n"},  // surrogate
        {"A\x80", L"A", "wstr err: Invalid UTF-8\n"},  // stray continuation byte
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(du::wstr(c.in), c.want);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(du::str(std::wstring{wchar_t(0x0410), wchar_t(0x1F600)}), "\xD0\x90\xF0\x9F\x98\x80");
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
    EXPECT_THROW(du::convert_ansi_to_utf8("\xC3"), std::range_error);
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

TEST(TextConversions, ReplaceSplitAndBase64)
{
    const struct {
        std::string text, from, to, want;
    } replaced[] = {
        {"aaa", "a", "aa", "aaaaaa"}, {"aabbab", "ab", "", "ab"}, {"abc", "", "x", "abc"}, {"", "a", "b", ""}};
    for (auto c : replaced) {
        du::replace(c.text, c.from, c.to);
        EXPECT_EQ(c.text, c.want);
    }
    std::wstring w = L"\x0410-\x0410";
    du::replace(w, std::wstring(L"\x0410"), std::wstring(L"AB"));
    EXPECT_EQ(w, L"AB-AB");
    EXPECT_EQ(du::split_text_into_lines_with_max_length("ab\ncdef", 3), "ab\ncde\nf");
    EXPECT_EQ(du::split_text_into_lines_with_max_length("\xD0\x90\xD0\x91\xD0\x92", 2), "\xD0\x90\xD0\x91\n\xD0\x92");
    EXPECT_EQ(du::split_text_into_lines_with_max_length("abc", 0), "\na\nb\nc");
    EXPECT_EQ(du::split_text_into_lines_with_max_length("ab", -5), "\na\nb");
    std::unique_ptr<wchar_t[]> stub(du::utf8_string_to_wchar_t_only_for_windows("abc"));
    EXPECT_TRUE(stub && stub[0] == L'\0');

    // Base64 rewrites its argument: blanks go, the padding "=" become "A".
    const struct {
        std::string in, after;
        bytes want;
    } cases[] = {
        {"TWE", "TWEA", B({0x4D, 0x61})},
        {"TWFu", "TWFu", B({0x4D, 0x61, 0x6E})},
        {"TWE=", "TWEA", B({0x4D, 0x61})},
        {"TQ==", "TQAA", B({0x4D})},
        {" TW\r\nFu TQ\t\n", "TWFuTQAA", B({0x4D, 0x61, 0x6E, 0x4D})},
        {"", "", {}},
        {"+/+/", "+/+/", B({0xFB, 0xFF, 0xBF})},
        // 4k+1 characters: three pads, of which only two bytes are dropped.
        {"TWFuT", "TWFuTAAA", B({0x4D, 0x61, 0x6E, 0x4C})},
        {"T", "TAAA", B({0x4C})},
    };
    for (auto c : cases) {
        EXPECT_EQ(du::parse_byte_array_from_base64_string(c.in), c.want);
        EXPECT_EQ(c.in, c.after);
    }
    for (std::string bad : {"TW-u", "TWFu\xC3\xA9", "TW_u"})
        EXPECT_THROW(du::parse_byte_array_from_base64_string(bad), boost::archive::iterators::dataflow_exception)
            << bad;
}

}  // namespace
