#include "codecs/device_utils.h"

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

using int_reader = std::function<long long(du::byte_iterator&, du::byte_iterator)>;
const int_reader read32 = [](auto& it, auto end) { return du::parse_int32_from_byte_array_le(it, end); };
const int_reader read24 = [](auto& it, auto end) { return du::parse_int32_from_3bytes_le(it, end); };
const int_reader read16 = [](auto& it, auto end) { return du::parse_ushort_from_byte_array_le(it, end); };
const int_reader read8 = [](auto& it, auto end) { return du::parse_int32_from_byte(it, end); };
const int_reader read_str5 = [](auto& it, auto end) { return du::parse_string_from_byte_array(it, end, 5).size(); };
const int_reader read_w5 = [](auto& it, auto end) { return du::parse_win1251_string_from_byte_array(it, end, 5).size(); };
const int_reader read_raw5 = [](auto& it, auto end) { return du::parse_byte_array_from_byte_array(it, end, 5).size(); };

TEST(FieldReaders, IntegersSignWidthAndAdvance)
{
    const struct { int_reader read; bytes in; long long want; int width; } cases[] = {
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
    const bytes reply = B({0x01, 0x00, 0x00, 0x00, 0x02, 0x01, 0x07, 0x41, 0x00, 0x42, 0xC0, 0x00, 0xE1, 0x00, 0x01, 0x00});
    du::byte_reader r(reply);
    EXPECT_EQ(r.int32_le(), 1);
    EXPECT_EQ(r.uint16_le(), 0x0102);
    EXPECT_EQ(r.byte(), 7);
    EXPECT_EQ(r.position(), 7u);
    EXPECT_EQ(r.string(3), "AB");  // zero bytes skipped, full width read
    EXPECT_EQ(r.win1251_string(3), std::wstring(L"\x0410\x0431"));
    EXPECT_EQ(r.string(0), "");
    EXPECT_EQ(r.byte_array(-1), bytes{});
    EXPECT_EQ(r.position(), 13u);
    EXPECT_EQ(r.byte_array(3), B({0x00, 0x01, 0x00}));  // zero bytes kept
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_EQ(r.string(0), "");  // n < 1 reads nothing, even at the end

    const bytes one = B({0x01});
    du::byte_iterator it = one.begin();
    EXPECT_EQ(du::parse_win1251_string_from_byte_array(it, one.end(), 1), std::wstring(1, wchar_t(0xFF1F)));
}

TEST(FieldReaders, ShortBufferThrowsAndLeavesPositionAlone)
{
    const struct { int_reader read; std::size_t need; } cases[] = {
        {read32, 4}, {read24, 3}, {read16, 2}, {read8, 1}, {read_str5, 5}, {read_w5, 5}, {read_raw5, 5},
    };
    for (const auto& c : cases) {
        const bytes buf(c.need + 1, std::byte{0x20});
        // One byte short of the field, and nothing left at all.
        for (std::size_t start : {std::size_t(2), buf.size()}) {
            du::byte_iterator it = buf.begin() + static_cast<std::ptrdiff_t>(start);
            EXPECT_THROW(c.read(it, buf.end()), du::short_buffer) << "need " << c.need << " from " << start;
            EXPECT_EQ(it - buf.begin(), static_cast<std::ptrdiff_t>(start));
        }
        du::byte_iterator it = buf.begin() + 1;
        EXPECT_NO_THROW(c.read(it, buf.end()));  // exactly enough
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

TEST(WholeVectorCodecs, StringsAndDates)
{
    EXPECT_EQ(du::parse_string_from_byte_array(B({0x41, 0x00, 0x42, 0x00})), "AB");
    EXPECT_EQ(du::parse_byte_array_from_string(std::string("A\0B", 3)), B({0x41, 0x00, 0x42}));
    EXPECT_EQ(du::parse_byte_array_from_string(""), bytes{});

    const struct { bytes in; const char* want; } dates[] = {
        {B({0x07, 0x0C, 0x1A}), "07-12-26"}, {B({0x01, 0x02, 0x03}), "01-02-03"},
        {B({0x0A, 0x0B, 0x63}), "10-11-99"}, {B({0x64, 0x00, 0xFF}), "100-00-255"},
        {B({0x01, 0x02}), ""}, {B({0x01, 0x02, 0x03, 0x04}), ""}, {bytes{}, ""},
    };
    for (const auto& d : dates) EXPECT_EQ(du::parse_date_string_from_byte_array(d.in), d.want);
}

TEST(WholeVectorCodecs, LittleEndianBuilders)
{
    EXPECT_EQ(du::convert_to_bytes_le(std::uint16_t{0x1234}), B({0x34, 0x12}));
    EXPECT_EQ(du::convert_to_bytes_le_16(0xFFFF), B({0xFF, 0xFF}));
    EXPECT_EQ(du::convert_to_bytes_le(std::uint32_t{7}), B({7, 0, 0, 0}));
    EXPECT_EQ(du::convert_to_bytes_le_32(static_cast<std::uint32_t>(-2)), B({0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(du::convert_to_bytes_le_32(0x12345678u), B({0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(du::convert_to_bytes_le(std::int64_t{-1}), bytes(8, std::byte{0xFF}));
    EXPECT_EQ(du::convert_to_bytes_le_64(0x0102030405060708LL), B({8, 7, 6, 5, 4, 3, 2, 1}));

    // A built 32-bit field reads back through the reader.
    const bytes field = du::convert_to_bytes_le_32(static_cast<std::uint32_t>(-123456));
    du::byte_iterator it = field.begin();
    EXPECT_EQ(du::parse_int32_from_byte_array_le(it, field.end()), -123456);
}

TEST(WholeVectorCodecs, HexDump)
{
    EXPECT_EQ(du::hex_dump(B({0x02, 0xAB, 0x00})), "02 AB 00 ");
    EXPECT_EQ(du::hex_dump(bytes(150, std::byte{0x1F})).size(), 300u);
    EXPECT_EQ(du::hex_dump(B({1, 2, 3}), 2), "01 02 ");
}

}  // namespace
