#pragma once
// One request datagram to one scale, one reply datagram back. Used like
// tcp_client: build on an idle io_context, run it once, then destroy.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "link/link_common.h"

class udp_client {
public:
    // `request` is the bare frame (no count); throws
    // boost::system::system_error ("resolve") when resolution fails.
    udp_client(boost::asio::io_context& context, const std::string& host, const std::string& port,
               int& timeout_seconds, const std::vector<std::byte>& request,
               const response_callback& callback, bool log_traffic);
    ~udp_client();

    udp_client(const udp_client&) = delete;
    udp_client& operator=(const udp_client&) = delete;

private:
    void set_timer();
    void stop_waiting();
    void close_socket();
    std::string ip() const;

    void handle_connect();
    void handle_send_to(const boost::system::error_code& ec, std::size_t n);
    void handle_receive_from(const boost::system::error_code& ec, std::size_t n);
    void timeout_handler(const boost::system::error_code& ec, unsigned wait_id);

    static constexpr std::size_t receive_capacity = 65535;

    int timeout_seconds;
    bool waiting = false;
    unsigned wait_id = 0;  // see tcp_client: guards against a stale expiry
    std::vector<std::byte> receive_buffer;
    boost::asio::io_context& context;
    boost::asio::ip::udp::socket socket;
    boost::asio::ip::udp::endpoint endpoint;
    std::deque<std::vector<std::byte>> send_queue;
    response_callback callback;
    boost::asio::steady_timer timer;
    bool log_traffic;
};
