#include "codecs/convertor.h"
#include "codecs/device_utils.h"

#include <gtest/gtest.h>

using device_utils::bytes;

namespace {

bytes B(std::initializer_list<int> v)
{
    bytes out;
    for (int x : v) out.push_back(static_cast<std::byte>(x));
    return out;
}

TEST(Win1251Encoder, KnownCharacters)
{
    const struct { wchar_t ch; int byte; } cases[] = {
        {L'A', 0x41}, {0x0410, 0xC0}, {0x044F, 0xFF}, {0x0401, 0xA8}, {0x0451, 0xB8},
        {0x2116, 0xB9}, {0x20AC, 0x88}, {0x00A0, 0xA0}, {0xFF1F, 0x00}, {0x2302, 0x7F}, {L' ', 0x20},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(device_utils::encode_win1251_char(c.ch), std::byte(c.byte)) << std::hex << int(c.ch);
    }
}

TEST(Win1251Encoder, CharactersOutsideTheTableThrowMapAt)
{
    for (wchar_t ch : {L'\n', L'\r', L'\t', L'\0', wchar_t(0x7F), wchar_t(0x0404), wchar_t(0x00E9),
                       wchar_t(0x0402), wchar_t(0x1F600), wchar_t(0x4E2D)}) {
        try {
            device_utils::encode_win1251_char(ch);
            ADD_FAILURE() << "no throw for " << std::hex << int(ch);
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "map::at");
        }
    }
    EXPECT_THROW(device_utils::encode_win1251_field(L"ab\ncd", 50), std::out_of_range);
}

TEST(Win1251Encoder, MapAndTableAgree)
{
    ASSERT_EQ(codepage1251.size(), 256u);
    EXPECT_EQ(win1251_convertor.map().size(), 184u);
    for (int b = 0; b < 0x20; ++b) EXPECT_EQ(codepage1251[b], wchar_t(0xFF1F));
    EXPECT_EQ(codepage1251[0x80], wchar_t(0xFF1F));
    EXPECT_EQ(codepage1251[0xAA], wchar_t(0xFF1F));
    EXPECT_EQ(codepage1251[0x7F], wchar_t(0x2302));
    EXPECT_EQ(codepage1251[0xC0], wchar_t(0x0410));
    // Every character but the placeholder encodes back to the byte it stands for.
    for (const auto& [ch, byte] : win1251_convertor.map()) {
        if (ch != 0xFF1F) {
            EXPECT_EQ(codepage1251[std::to_integer<int>(byte)], ch);
        }
    }
}

TEST(Win1251Encoder, FixedWidthFieldIsCutOrPadded)
{
    const struct { std::wstring text; std::size_t width; bytes want; } cases[] = {
        {L"ABCDE", 4, B({0x41, 0x42, 0x43, 0x44})},
        {L"AB", 4, B({0x41, 0x42, 0, 0})},
        {L"", 3, B({0, 0, 0})},
        {L"\x0410\x0431", 2, B({0xC0, 0xE1})},
        {L"A", 0, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(device_utils::encode_win1251_field(c.text, c.width), c.want);
    EXPECT_EQ(device_utils::encode_win1251(L"Ab\x0451"), B({0x41, 0x62, 0xB8}));
}

}  // namespace
