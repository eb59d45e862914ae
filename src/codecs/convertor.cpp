#include "codecs/convertor.h"

#include "codecs/device_utils.h"

namespace {

constexpr wchar_t placeholder = 0xFF1F;  // fullwidth question mark

std::vector<wchar_t> build_codepage1251()
{
    std::vector<wchar_t> table(256, placeholder);
    for (unsigned b = 0x20; b <= 0x7E; ++b) {
        table[b] = static_cast<wchar_t>(b);
    }
    table[0x7F] = 0x2302;

    // The few characters of 0x80-0xBF the scales can show; the rest of that
    // range keeps the placeholder.
    static const struct {
        unsigned char byte;
        wchar_t ch;
    } upper[] = {
        {0x82, 0x201A}, {0x85, 0x2026}, {0x88, 0x20AC}, {0x8B, 0x2039}, {0x91, 0x2018}, {0x92, 0x2019},
        {0x93, 0x201C}, {0x94, 0x201D}, {0x96, 0x2013}, {0x97, 0x2014}, {0x99, 0x2122}, {0x9B, 0x203A},
        {0xA0, 0x00A0}, {0xA7, 0x00A7}, {0xA8, 0x0401}, {0xA9, 0x00A9}, {0xAB, 0x00AB}, {0xAE, 0x00AE},
        {0xB0, 0x00B0}, {0xB1, 0x00B1}, {0xB8, 0x0451}, {0xB9, 0x2116}, {0xBB, 0x00BB},
    };
    for (const auto& e : upper) {
        table[e.byte] = e.ch;
    }

    for (unsigned b = 0xC0; b <= 0xFF; ++b) {
        table[b] = static_cast<wchar_t>(0x0410 + (b - 0xC0));
    }
    return table;
}

}  // namespace

// Table first, encoder second: both live in this one translation unit so the
// encoder is always built from an initialised table.
const std::vector<wchar_t> codepage1251 = build_codepage1251();
const convertor win1251_convertor(codepage1251);

convertor::convertor(const std::vector<wchar_t>& table)
{
    // A byte holds 256 positions; entries past that could not be encoded.
    const std::size_t count = table.size() < 256 ? table.size() : 256;
    for (std::size_t i = 0; i < count; ++i) {
        map_.emplace(table[i], static_cast<std::byte>(i));  // first position wins
    }
}

namespace device_utils {

std::byte encode_win1251_char(wchar_t ch)
{
    return win1251_convertor.map().at(ch);
}

bytes encode_win1251(const std::wstring& text)
{
    bytes out;
    out.reserve(text.size());
    for (wchar_t ch : text) {
        out.push_back(win1251_convertor.map().at(ch));
    }
    return out;
}

bytes encode_win1251_field(const std::wstring& text, std::size_t width)
{
    bytes out(width, std::byte{0});
    const std::size_t used = text.size() < width ? text.size() : width;
    for (std::size_t i = 0; i < used; ++i) {
        out[i] = win1251_convertor.map().at(text[i]);
    }
    return out;
}

std::size_t find_unencodable_win1251(const std::wstring& text, std::size_t width)
{
    const std::size_t used = text.size() < width ? text.size() : width;
    for (std::size_t i = 0; i < used; ++i)
        if (win1251_convertor.map().count(text[i]) == 0) return i;
    return std::wstring::npos;
}

}  // namespace device_utils
