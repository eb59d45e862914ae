#include "codecs/device_utils.h"

#include "codecs/convertor.h"

#include <boost/archive/iterators/binary_from_base64.hpp>
#include <boost/archive/iterators/transform_width.hpp>
#include <utf8.h>

#include <algorithm>
#include <cctype>
#include <codecvt>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <locale>
#include <string>

namespace device_utils {

namespace {

// Throws short_buffer unless [it, end) holds at least `width` bytes.
void require(const byte_iterator& it, const byte_iterator& end, std::size_t width)
{
    const auto left = end - it;
    if (left < 0 || static_cast<std::size_t>(left) < width) {
        throw short_buffer("field of " + std::to_string(width) + " bytes runs past the end (" +
                           std::to_string(left < 0 ? 0 : left) + " left)");
    }
}

std::uint32_t byte_at(const byte_iterator& it, std::size_t k)
{
    return std::to_integer<std::uint32_t>(*(it + static_cast<std::ptrdiff_t>(k)));
}

template <typename T>
bytes little_endian(T value, std::size_t width)
{
    bytes out(width);
    for (std::size_t k = 0; k < width; ++k) {
        out[k] = static_cast<std::byte>(value & 0xFF);
        value = static_cast<T>(value >> 8);
    }
    return out;
}

}  // namespace

// ---- Readers

int parse_int32_from_byte_array_le(byte_iterator& it, byte_iterator end)
{
    require(it, end, 4);
    const std::uint32_t v = byte_at(it, 0) | byte_at(it, 1) << 8 | byte_at(it, 2) << 16 | byte_at(it, 3) << 24;
    it += 4;
    return static_cast<std::int32_t>(v);  // two's complement: FF FF FF FF is -1
}

int parse_int32_from_3bytes_le(byte_iterator& it, byte_iterator end)
{
    require(it, end, 3);
    const std::uint32_t v = byte_at(it, 0) | byte_at(it, 1) << 8 | byte_at(it, 2) << 16;
    it += 3;
    return static_cast<int>(v);
}

std::uint16_t parse_ushort_from_byte_array_le(byte_iterator& it, byte_iterator end)
{
    require(it, end, 2);
    const auto v = static_cast<std::uint16_t>(byte_at(it, 0) | byte_at(it, 1) << 8);
    it += 2;
    return v;
}

int parse_int32_from_byte(byte_iterator& it, byte_iterator end)
{
    require(it, end, 1);
    const auto v = static_cast<int>(byte_at(it, 0));
    ++it;
    return v;
}

std::string parse_string_from_byte_array(byte_iterator& it, byte_iterator end, int n)
{
    std::string out;
    if (n < 1) {
        return out;
    }
    require(it, end, static_cast<std::size_t>(n));
    // The whole field is read: zero bytes are padding wherever they stand.
    for (int k = 0; k < n; ++k, ++it) {
        if (*it != std::byte{0}) {
            out.push_back(static_cast<char>(*it));
        }
    }
    return out;
}

std::wstring parse_win1251_string_from_byte_array(byte_iterator& it, byte_iterator end, int n)
{
    std::wstring out;
    if (n < 1) {
        return out;
    }
    require(it, end, static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k, ++it) {
        if (*it != std::byte{0}) {
            out.push_back(codepage1251[std::to_integer<std::size_t>(*it)]);
        }
    }
    return out;
}

bytes parse_byte_array_from_byte_array(byte_iterator& it, byte_iterator end, int n)
{
    if (n < 1) {
        return {};
    }
    require(it, end, static_cast<std::size_t>(n));
    bytes out(it, it + n);
    it += n;
    return out;
}

byte_reader::byte_reader(const bytes& data, std::size_t offset)
    : begin_(data.begin()), it_(data.begin()), end_(data.end())
{
    skip(offset);
}

void byte_reader::skip(std::size_t n)
{
    require(it_, end_, n);
    it_ += static_cast<std::ptrdiff_t>(n);
}

// ---- Whole-vector readers and builders

std::string parse_string_from_byte_array(bytes data)
{
    std::string out;
    out.reserve(data.size());
    for (std::byte b : data) {
        if (b != std::byte{0}) {
            out.push_back(static_cast<char>(b));
        }
    }
    return out;
}

std::string parse_date_string_from_byte_array(bytes data)
{
    if (data.size() != 3) {
        return {};
    }
    std::string out;
    for (std::size_t k = 0; k < 3; ++k) {
        const auto v = std::to_integer<unsigned>(data[k]);
        if (k > 0) {
            out += '-';
        }
        if (v < 10) {
            out += '0';
        }
        out += std::to_string(v);
    }
    return out;
}

bytes parse_byte_array_from_string(std::string text)
{
    bytes out(text.size());
    for (std::size_t k = 0; k < text.size(); ++k) {
        out[k] = static_cast<std::byte>(text[k]);
    }
    return out;
}

bytes convert_to_bytes_le(std::uint16_t value)
{
    return little_endian(value, 2);
}
bytes convert_to_bytes_le(std::uint32_t value)
{
    return little_endian(value, 4);
}
bytes convert_to_bytes_le(std::int64_t value)
{
    return little_endian(static_cast<std::uint64_t>(value), 8);
}

// ---- Text conversions

std::wstring wstr(const std::string& utf8)
{
    std::wstring out;
    if (utf8.empty()) {
        return out;
    }
    auto first = utf8.begin();
    // A byte-order mark is dropped only when text follows it; the mark alone
    // decodes as U+FEFF.
    if (utf8.size() > 3 && static_cast<unsigned char>(utf8[0]) == 0xEF && static_cast<unsigned char>(utf8[1]) == 0xBB &&
        static_cast<unsigned char>(utf8[2]) == 0xBF) {
        first += 3;
    }
    try {
        utf8::utf8to32(first, utf8.end(), std::back_inserter(out));
    } catch (const utf8::exception& e) {
        // Keep what was decoded before the bad sequence.
        std::cout << "wstr err: " << e.what() << std::endl;
    }
    return out;
}

std::string str(const std::wstring& wide)
{
    std::string out;
    try {
        for (wchar_t ch : wide) {
            utf8::append(static_cast<std::uint32_t>(ch), std::back_inserter(out));
        }
    } catch (const utf8::exception& e) {
        std::cout << "str error: " << e.what() << std::endl;
    }
    return out;
}

std::string convert_ansi_to_utf8(const std::string& text)
{
    // Round trip through the standard UTF-8 facet: valid UTF-8 comes back
    // unchanged, anything else throws std::range_error.
    std::wstring_convert<std::codecvt_utf8<wchar_t, 0x10FFFF>, wchar_t> conv;
    const std::wstring wide = conv.from_bytes(text);
    // The facet stops quietly at a sequence cut off by the end of the text;
    // that is malformed input too.
    if (conv.converted() != text.size()) {
        throw std::range_error("wstring_convert::from_bytes");
    }
    return conv.to_bytes(wide);
}

std::string safe_log_text(const std::string& text) noexcept
{
    try {
        try {
            return convert_ansi_to_utf8(text);
        } catch (const std::range_error&) {
        }
        // Not UTF-8 (a system text under another locale): keep the valid
        // sequences and replace every byte that does not fit by '?'.
        std::string out;
        auto it = text.begin();
        while (it != text.end()) {
            const auto bad = utf8::find_invalid(it, text.end());
            out.append(it, bad);
            if (bad == text.end()) {
                break;
            }
            out.push_back('?');
            it = bad + 1;
        }
        return out;
    } catch (...) {
        return std::string();
    }
}

namespace {

// The published Windows-1251 code page above 0x7F; the undefined 0x98 is
// shown as U+203A.
const char16_t win1251_upper[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x203A, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

}  // namespace

bytes win1251_to_utf8(const bytes& data)
{
    bytes out;
    out.reserve(data.size() * 2);
    for (std::byte b : data) {
        const auto v = std::to_integer<unsigned>(b);
        const unsigned cp = v < 0x80 ? v : win1251_upper[v - 0x80];
        if (cp < 0x80) {
            out.push_back(static_cast<std::byte>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<std::byte>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<std::byte>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<std::byte>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<std::byte>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<std::byte>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

namespace {

template <typename S>
void replace_all(S& text, const S& from, const S& to)
{
    if (from.empty()) {
        return;
    }
    // Search again only behind the inserted text, so a replacement is never
    // itself replaced.
    typename S::size_type pos = 0;
    while ((pos = text.find(from, pos)) != S::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

}  // namespace

void replace(std::string& text, const std::string& from, const std::string& to)
{
    replace_all(text, from, to);
}

void replace(std::wstring& text, const std::wstring& from, const std::wstring& to)
{
    replace_all(text, from, to);
}

std::string split_text_into_lines_with_max_length(std::string text, int max_length)
{
    const std::wstring wide = wstr(text);
    // A maximum below 1 puts every character on a line of its own.
    // Only the characters of the current line count, so every line holds at
    // most max_length characters whether it follows a wrap or a newline.
    std::wstring out;
    int column = 0;
    for (wchar_t ch : wide) {
        if (ch == L'\n') {
            out.push_back(ch);
            column = 0;
            continue;
        }
        if (column >= max_length) {
            out.push_back(L'\n');
            column = 0;
        }
        out.push_back(ch);
        ++column;
    }
    return str(out);
}

bytes parse_byte_array_from_base64_string(std::string& text)
{
    auto is_space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && is_space(text.back())) {
        text.pop_back();
    }
    text.erase(std::remove_if(text.begin(), text.end(), is_space), text.end());

    while (text.size() % 4 != 0) {
        text.push_back('=');
    }
    std::size_t padding = 0;
    for (std::size_t k = text.size() >= 4 ? text.size() - 4 : 0; k < text.size(); ++k) {
        if (text[k] == '=') {
            ++padding;
            text[k] = 'A';
        }
    }

    using namespace boost::archive::iterators;
    using decoder = transform_width<binary_from_base64<std::string::const_iterator>, 8, 6>;
    bytes out;
    out.reserve(text.size() / 4 * 3);
    for (decoder it(text.cbegin()), end(text.cend()); it != end; ++it) {
        out.push_back(static_cast<std::byte>(*it));
    }
    const std::size_t drop = padding < 2 ? padding : 2;
    out.resize(out.size() > drop ? out.size() - drop : 0);
    return out;
}

wchar_t* utf8_string_to_wchar_t_only_for_windows(const std::string& /*text*/)
{
    // Only meaningful on Windows. One terminating zero rather than a
    // zero-length array, so a caller that reads it as a C string stays in bounds.
    return new wchar_t[1]{L'\0'};
}

std::string escape_control_characters(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    char buf[5];
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string hex_dump(const bytes& data, std::size_t limit)
{
    const std::size_t count = data.size() < limit ? data.size() : limit;
    std::string out;
    out.reserve(count * 3);
    char buf[4];
    for (std::size_t k = 0; k < count; ++k) {
        std::snprintf(buf, sizeof buf, "%02X ", std::to_integer<unsigned>(data[k]));
        out += buf;
    }
    return out;
}

}  // namespace device_utils
