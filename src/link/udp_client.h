#pragma once
// One request datagram to one scale, one reply datagram back. Used like
// tcp_client: build, start(), run the io_context until the exchange has
// ended, then destroy.

#include <cstddef>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "link/link_common.h"

class udp_client final : public link_detail::link_base<boost::asio::ip::udp> {
public:
    // Resolves `host` and `port` at once: throws boost::system::system_error
    // ("resolve") before anything is sent.
    udp_client(boost::asio::io_context& context, const std::string& host, const std::string& port,
               link_request request);
    // To an endpoint resolved already.
    udp_client(boost::asio::io_context& context, const boost::asio::ip::udp::endpoint& to, link_request request);

    udp_client(const udp_client&) = delete;
    udp_client& operator=(const udp_client&) = delete;

    // Sends the bare frame as one datagram, then waits for the reply. Gives
    // the want of descriptors that kept its socket from being made, and then
    // begins nothing (see take_request); empty once under way.
    link_detail::error_code start();

private:
    void send_datagram();
    void wait_readable();
    void handle_readable(const link_detail::error_code& ec);
    void finish();  // gives the receive area back, then the exchange is over

    static constexpr std::size_t receive_capacity = 65535;

    // Left uninitialised: a datagram overwrites what it needs, and clearing
    // 64 KB for every exchange would cost more than the exchange's own work.
    std::unique_ptr<std::byte[]> receive_buffer;
};
