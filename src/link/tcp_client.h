#pragma once
// One request to one scale over a TCP connection of its own, one reply back.
// Build it on an io_context that is not running, run the io_context once,
// destroy the client after run() has returned.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "link/link_common.h"

class tcp_client final : private link_detail::link_base<boost::asio::ip::tcp> {
public:
    using link_detail::link_base<boost::asio::ip::tcp>::hide_in_log;
    // `request` is sent unchanged (the caller puts the 4-byte count in front);
    // throws boost::system::system_error ("resolve") when resolution fails.
    tcp_client(boost::asio::io_context& context, const std::string& host, const std::string& port, int& timeout_seconds,
               const std::vector<std::byte>& request, const response_callback& callback, bool log_traffic);

    // The same to an endpoint resolved already (no resolution, never throws
    // for it).
    tcp_client(boost::asio::io_context& context, const boost::asio::ip::tcp::endpoint& to, int timeout_seconds,
               const std::vector<std::byte>& request, const response_callback& callback, bool log_traffic);
    using link_detail::link_base<boost::asio::ip::tcp>::when_finished;
    using link_detail::link_base<boost::asio::ip::tcp>::release_socket;

    tcp_client(const tcp_client&) = delete;
    tcp_client& operator=(const tcp_client&) = delete;

private:
    void start(const std::vector<std::byte>& request);
    void handle_connect();
    void handle_send_to(const error_code& ec, std::size_t n);
    void read_message_size();
    void handle_read_message_size(const error_code& ec, std::size_t n);
    void handle_receive_from(const error_code& ec, std::size_t n);

    std::vector<std::byte> count_buffer;
    // Exactly the announced count, so a long reply is never cut and delivered.
    std::vector<std::byte> receive_buffer;
    std::deque<std::vector<std::byte>> send_queue;
    response_callback callback;
};
