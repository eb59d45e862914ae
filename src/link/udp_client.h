#pragma once
// One request datagram to one scale, one reply datagram back. Used like
// tcp_client: build on an idle io_context, run it once, then destroy.

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "link/link_common.h"

class udp_client final : private link_detail::link_base<boost::asio::ip::udp> {
public:
    using link_detail::link_base<boost::asio::ip::udp>::hide_in_log;
    // `request` is the bare frame (no count); throws
    // boost::system::system_error ("resolve") when resolution fails.
    udp_client(boost::asio::io_context& context, const std::string& host, const std::string& port, int& timeout_seconds,
               const std::vector<std::byte>& request, const response_callback& callback, bool log_traffic);

    // The same to an endpoint resolved already (no resolution, never throws
    // for it).
    udp_client(boost::asio::io_context& context, const boost::asio::ip::udp::endpoint& to, int timeout_seconds,
               const std::vector<std::byte>& request, const response_callback& callback, bool log_traffic);
    using link_detail::link_base<boost::asio::ip::udp>::when_finished;
    using link_detail::link_base<boost::asio::ip::udp>::release_socket;

    udp_client(const udp_client&) = delete;
    udp_client& operator=(const udp_client&) = delete;

private:
    void start(const std::vector<std::byte>& request);
    void handle_connect();
    void handle_send_to(const error_code& ec, std::size_t n);
    void receive();
    void handle_receive_from(const error_code& ec, std::size_t n);
    void finish();  // gives the receive area back, then the exchange is over

    static constexpr std::size_t receive_capacity = 65535;

    // Left uninitialised: a datagram overwrites what it needs, and clearing
    // 64 KB for every exchange would cost more than the exchange's own work.
    std::unique_ptr<std::byte[]> receive_buffer;
    std::deque<std::vector<std::byte>> send_queue;
    response_callback callback;
};
