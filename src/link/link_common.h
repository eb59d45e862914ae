#pragma once
// What the three scale-link clients share: the reply callback, the TCP
// framing limit and the pieces of their log lines.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <boost/system/error_code.hpp>

#include "codecs/device_utils.h"

// Reply body (without any TCP count) and the scale's IPv4 address as dotted
// text. Called at most once per exchange, only for a reply read whole.
using response_callback = std::function<void(std::vector<std::byte>, std::string)>;

namespace link_detail {

// Largest reply count a TCP client accepts. The count comes from the peer and
// sizes an allocation in a 32-bit process; the largest legitimate replies are
// file packets of about 60 KB, so 4 MiB leaves ample room while keeping a
// bogus or negative count from being read as a body.
constexpr std::int32_t max_reply_size = 4 * 1024 * 1024;

constexpr std::size_t dump_limit = 100;

inline std::string error_text(const boost::system::error_code& ec)
{
    return device_utils::safe_log_text(ec.message());
}

// stage + ip + ": (" + n + " bytes) " + "%02X " dump of at most 100 bytes.
inline std::string traffic_line(const char* stage, const std::string& ip, std::size_t n,
                                const std::vector<std::byte>& data)
{
    return stage + ip + ": (" + std::to_string(n) + " bytes) " +
           device_utils::hex_dump(data, dump_limit);
}

inline std::string step_error_line(const char* stage, const std::string& ip, const char* step,
                                   const boost::system::error_code& ec)
{
    return stage + ip + ": error in " + step + " " + error_text(ec);
}

}  // namespace link_detail
