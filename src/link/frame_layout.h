#pragma once
// The layout of a frame on the wire: 0x02, a length byte, the opcode (one
// byte, or 0xFF and one), then a request's password and payload or a reply's
// result byte and data.

#include <cstddef>
#include <vector>

namespace frame_layout {

constexpr std::byte stx{0x02};
// The length byte of a body longer than 254 bytes, and the first byte of a
// two-byte opcode.
constexpr std::byte escape{0xFF};
constexpr std::size_t max_counted_body = 254;
constexpr std::size_t opcode_at = 2;
// The longest request one UDP datagram carries over IPv4: 65535 bytes less
// the 20-byte IP header and the 8-byte UDP header.
constexpr std::size_t max_datagram = 65535 - 20 - 8;

// The length byte of a frame whose body (everything after that byte) has
// `body_size` bytes.
constexpr std::byte length_byte(std::size_t body_size)
{
    return body_size <= max_counted_body ? static_cast<std::byte>(body_size) : escape;
}

// Where a reply's result byte sits: 3 after a one-byte opcode, 4 after FF xx.
inline std::size_t result_offset(const std::vector<std::byte>& reply)
{
    return reply.size() > opcode_at && reply[opcode_at] == escape ? opcode_at + 2 : opcode_at + 1;
}

// Where a reply's data begin: just after its result byte.
inline std::size_t data_offset(const std::vector<std::byte>& reply)
{
    return result_offset(reply) + 1;
}

// The opcode of one command, as the command table gives it.
class opcode {
public:
    opcode() = default;
    // The first one or two bytes of `command` (an empty table entry: none).
    explicit opcode(const std::vector<std::byte>& command)
    {
        for (std::byte b : command) {
            if (size_ == 2 || (size_ == 1 && bytes_[0] != escape)) break;
            bytes_[size_++] = b;
        }
    }
    // False only for a frame whose opcode differs: it answers another
    // request. A frame too short to tell is not refused here; the reply
    // check judges it.
    bool matches(const std::vector<std::byte>& frame) const
    {
        if (size_ == 0 || frame.size() < opcode_at + size_) return true;
        for (std::size_t k = 0; k < size_; ++k)
            if (frame[opcode_at + k] != bytes_[k]) return false;
        return true;
    }

private:
    std::byte bytes_[2] = {};
    std::size_t size_ = 0;
};

}  // namespace frame_layout
