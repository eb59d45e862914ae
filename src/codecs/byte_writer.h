#pragma once
// The builder beside byte_reader: request payloads are appended field by
// field, little-endian, through this one cursor.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace device_utils {

class byte_writer {
public:
    using bytes = std::vector<std::byte>;

    byte_writer& u8(std::uint8_t v);
    byte_writer& u16(std::uint16_t v);
    byte_writer& u24(std::uint32_t v);  // the low three bytes
    byte_writer& u32(std::uint32_t v);
    byte_writer& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
    byte_writer& raw(const bytes& data);
    byte_writer& raw(const std::string& data);  // one byte per char
    // The most bytes a u16 count can state.
    static constexpr std::size_t max_counted = 0xFFFF;
    // A u16 count, then the bytes. False, appending nothing, when they are
    // more than the count can state: a wrapped count would make the scale
    // read another text than the one sent.
    bool counted(const bytes& data);
    bool counted(const std::string& data);
    // `width` bytes: the data, then zero bytes up to the width. The caller
    // makes sure the data is not longer.
    byte_writer& padded(const bytes& data, std::size_t width);

    // True when `value` is representable in `width` bytes (1 to 4) as an
    // unsigned, or with `is_signed` as a two's-complement number. Every int
    // fits four bytes: a 32-bit field carries the int's own bit pattern.
    static bool fits(long long value, std::size_t width, bool is_signed);

    std::size_t size() const { return data_.size(); }
    const bytes& data() const { return data_; }
    bytes take() { return std::move(data_); }

private:
    bytes data_;
};

}  // namespace device_utils
