#include "codecs/byte_writer.h"

namespace device_utils {

byte_writer& byte_writer::u8(std::uint8_t v)
{
    data_.push_back(static_cast<std::byte>(v));
    return *this;
}

byte_writer& byte_writer::u16(std::uint16_t v)
{
    return u8(static_cast<std::uint8_t>(v & 0xFF)).u8(static_cast<std::uint8_t>(v >> 8));
}

byte_writer& byte_writer::u24(std::uint32_t v)
{
    return u16(static_cast<std::uint16_t>(v & 0xFFFF)).u8(static_cast<std::uint8_t>((v >> 16) & 0xFF));
}

byte_writer& byte_writer::u32(std::uint32_t v)
{
    return u16(static_cast<std::uint16_t>(v & 0xFFFF)).u16(static_cast<std::uint16_t>(v >> 16));
}

byte_writer& byte_writer::raw(const bytes& data)
{
    data_.insert(data_.end(), data.begin(), data.end());
    return *this;
}

byte_writer& byte_writer::raw(const std::string& data)
{
    for (char c : data) data_.push_back(static_cast<std::byte>(c));
    return *this;
}

bool byte_writer::counted(const bytes& data)
{
    if (data.size() > max_counted) return false;
    u16(static_cast<std::uint16_t>(data.size())).raw(data);
    return true;
}

bool byte_writer::counted(const std::string& data)
{
    if (data.size() > max_counted) return false;
    u16(static_cast<std::uint16_t>(data.size())).raw(data);
    return true;
}

byte_writer& byte_writer::padded(const bytes& data, std::size_t width)
{
    const std::size_t n = data.size() < width ? data.size() : width;
    data_.insert(data_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    data_.resize(data_.size() + (width - n), std::byte{0});
    return *this;
}

bool byte_writer::fits(long long value, std::size_t width, bool is_signed)
{
    if (width >= 4) return value >= INT32_MIN && value <= UINT32_MAX;
    const int bits = static_cast<int>(width) * 8;
    if (is_signed) return value >= -(1LL << (bits - 1)) && value < (1LL << (bits - 1));
    return value >= 0 && value < (1LL << bits);
}

}  // namespace device_utils
