#pragma once
// One request to one scale over a TCP connection of its own, one reply back.
// Build it, start() it, run its io_context until the exchange has ended (see
// link_detail::run_until_over), then destroy the client.

#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "link/link_common.h"

class tcp_client final : public link_detail::tcp_link {
public:
    // Resolves `host` and `port` at once: throws boost::system::system_error
    // ("resolve") before anything is sent.
    tcp_client(boost::asio::io_context& context, const std::string& host, const std::string& port,
               link_request request);
    // To an endpoint resolved already.
    tcp_client(boost::asio::io_context& context, const boost::asio::ip::tcp::endpoint& to, link_request request);

    tcp_client(const tcp_client&) = delete;
    tcp_client& operator=(const tcp_client&) = delete;

    // Connects, then sends the request behind its count and reads the reply.
    // Gives the want of descriptors that kept its socket from being made,
    // and then begins nothing (see take_request); empty once under way.
    link_detail::error_code start();

private:
    void handle_connect();
};
