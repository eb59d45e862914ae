#pragma once
// The driver's one Windows-1251 code table and the encoder built from it.
//
// The table is reduced: Cyrillic letters, ASCII and a short list of
// punctuation and symbols. Every other byte stands for U+FF1F, and only
// characters present in the table can be encoded.

#include <cstddef>
#include <map>
#include <vector>

// Entry i is the character (Unicode code point) that byte i stands for.
// Built once when the library is loaded, read-only afterwards.
extern const std::vector<wchar_t> codepage1251;

// Wide character -> byte. Built from a table with the first position of a
// character winning, so U+FF1F (which fills the unmapped bytes) encodes to 0x00.
class convertor {
public:
    explicit convertor(const std::vector<wchar_t>& table);

    // Encoding one character is map().at(ch): a character outside the table
    // throws std::out_of_range ("map::at"), which the command dispatcher turns
    // into the result -1000.
    const std::map<wchar_t, std::byte>& map() const noexcept { return map_; }

private:
    std::map<wchar_t, std::byte> map_;
};

// The one process-wide encoder, built from codepage1251.
extern const convertor win1251_convertor;
