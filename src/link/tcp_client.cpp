#include "link/tcp_client.h"

#include <sys/socket.h>

#include <cerrno>

using link_detail::error_code;

tcp_client::tcp_client(boost::asio::io_context& context, const std::string& host, const std::string& port,
                       link_request next)
    : tcp_link(context, next.timeout_seconds, next.log_traffic, false)
{
    resolve(host, port);  // throws before anything is queued
    request = std::move(next);
}

tcp_client::tcp_client(boost::asio::io_context& context, const boost::asio::ip::tcp::endpoint& to,
                       link_request next)
    : tcp_link(context, next.timeout_seconds, next.log_traffic, false)
{
    set_endpoint(to);
    request = std::move(next);
}

error_code tcp_client::start()
{
    const error_code ec = open_socket();
    if (link_detail::out_of_descriptors(ec)) return ec;
    begin_exchange();
    // The connect's outcome is not examined: a refused connect surfaces as
    // the send error that follows it.
    if (!ec && ::connect(socket.native_handle(), endpoint.data(), endpoint.size()) != 0 && errno == EINPROGRESS) {
        set_timer();
        socket.async_wait(boost::asio::socket_base::wait_write, [this](const error_code&) { handle_connect(); });
        return {};
    }
    handle_connect();
    return {};
}

void tcp_client::handle_connect()
{
    stop_waiting();
    send_request();
}
