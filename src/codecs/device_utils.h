#pragma once
// Stateless codecs for frame fields and text: little-endian integers,
// fixed-width and length-prefixed strings, UTF-8 <-> wide conversions.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace device_utils {

using bytes = std::vector<std::byte>;
using byte_iterator = bytes::const_iterator;

// Thrown when a field would run past the end of the buffer being decoded.
// Derives from std::out_of_range so an unguarded caller still fails cleanly.
class short_buffer : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// ---- Readers over [it, end). Each reads its field at `it`, advances `it` by
// exactly the width consumed, and throws short_buffer (leaving `it` unchanged)
// when fewer bytes than the field needs remain.
int parse_int32_from_byte_array_le(byte_iterator& it, byte_iterator end);
int parse_int32_from_3bytes_le(byte_iterator& it, byte_iterator end);
std::uint16_t parse_ushort_from_byte_array_le(byte_iterator& it, byte_iterator end);
int parse_int32_from_byte(byte_iterator& it, byte_iterator end);
// n < 1 reads nothing and gives an empty result.
std::string parse_string_from_byte_array(byte_iterator& it, byte_iterator end, int n);
std::wstring parse_win1251_string_from_byte_array(byte_iterator& it, byte_iterator end, int n);
bytes parse_byte_array_from_byte_array(byte_iterator& it, byte_iterator end, int n);

// A cursor over one reply: the only way replies are decoded, so that nothing
// is ever read past a reply's end. The reply must outlive the reader.
class byte_reader {
public:
    // Throws short_buffer when offset lies past the end.
    explicit byte_reader(const bytes& data, std::size_t offset = 0);
    // A reader over a temporary would point into freed memory.
    explicit byte_reader(bytes&&, std::size_t = 0) = delete;
    int int32_le() { return parse_int32_from_byte_array_le(it_, end_); }
    int int24_le() { return parse_int32_from_3bytes_le(it_, end_); }
    std::uint16_t uint16_le() { return parse_ushort_from_byte_array_le(it_, end_); }
    int byte() { return parse_int32_from_byte(it_, end_); }
    std::string string(int n) { return parse_string_from_byte_array(it_, end_, n); }
    std::wstring win1251_string(int n) { return parse_win1251_string_from_byte_array(it_, end_, n); }
    bytes byte_array(int n) { return parse_byte_array_from_byte_array(it_, end_, n); }
    void skip(std::size_t n);  // throws short_buffer when fewer than n remain
    std::size_t remaining() const { return static_cast<std::size_t>(end_ - it_); }
    std::size_t position() const { return static_cast<std::size_t>(it_ - begin_); }
    bool has(std::size_t n) const { return remaining() >= n; }

private:
    byte_iterator begin_;
    byte_iterator it_;
    byte_iterator end_;
};

// ---- Whole-vector readers and builders.
std::string parse_string_from_byte_array(bytes data);  // zero bytes skipped
std::string parse_date_string_from_byte_array(bytes data);  // "dd-mm-yy" form, "" unless 3 bytes
bytes parse_byte_array_from_string(std::string text);  // bytes one to one
bytes convert_to_bytes_le(std::uint16_t value);  // 2 bytes
bytes convert_to_bytes_le(std::uint32_t value);  // 4 bytes
bytes convert_to_bytes_le(std::int64_t value);  // 8 bytes
inline bytes convert_to_bytes_le_16(std::uint16_t v)
{
    return convert_to_bytes_le(v);
}
inline bytes convert_to_bytes_le_32(std::uint32_t v)
{
    return convert_to_bytes_le(v);
}
inline bytes convert_to_bytes_le_64(std::int64_t v)
{
    return convert_to_bytes_le(v);
}

// ---- Text conversions.
std::wstring wstr(const std::string& utf8);  // never throws; reports to stdout
std::string str(const std::wstring& wide);  // never throws; reports to stdout
std::string convert_ansi_to_utf8(const std::string& text);  // throws std::range_error on bad UTF-8
// Control characters (below 0x20, and 0x7F) written as \xNN: a text that
// came from a scale can then never start a log record of its own.
std::string escape_control_characters(const std::string& text);
// Same as convert_ansi_to_utf8 but never throws: for texts that are only logged.
std::string safe_log_text(const std::string& text) noexcept;
bytes win1251_to_utf8(const bytes& data);
void replace(std::string& text, const std::string& from, const std::string& to);
void replace(std::wstring& text, const std::wstring& from, const std::wstring& to);
std::string split_text_into_lines_with_max_length(std::string text, int max_length);
bytes parse_byte_array_from_base64_string(std::string& text);
wchar_t* utf8_string_to_wchar_t_only_for_windows(const std::string& text);

// ---- Windows-1251 encoding through the driver's one encoder (convertor.h).
// A character outside the table throws std::out_of_range ("map::at").
std::byte encode_win1251_char(wchar_t ch);
bytes encode_win1251(const std::wstring& text);  // one byte per character
// A fixed-width text field: `width` bytes, the text cut to `width` wide
// characters or padded with 0x00.
bytes encode_win1251_field(const std::wstring& text, std::size_t width);
// The position of the first of the first `width` characters that the table
// lacks, or std::wstring::npos when it can encode them all.
std::size_t find_unencodable_win1251(const std::wstring& text, std::size_t width = std::wstring::npos);

// "%02X " per byte for at most `limit` bytes: the dump used in log lines.
std::string hex_dump(const bytes& data, std::size_t limit = 100);

}  // namespace device_utils
