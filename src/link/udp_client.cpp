#include "link/udp_client.h"

#include <chrono>

#include <boost/asio/buffer.hpp>

#include "logging/logger.h"

using boost::asio::ip::udp;
using link_detail::step_error_line;
using link_detail::traffic_line;

udp_client::udp_client(boost::asio::io_context& context, const std::string& host,
                       const std::string& port, int& timeout_seconds,
                       const std::vector<std::byte>& request, const response_callback& callback,
                       bool log_traffic)
    : timeout_seconds(timeout_seconds),
      receive_buffer(receive_capacity),
      context(context),
      socket(context),
      callback(callback),
      timer(context),
      log_traffic(log_traffic)
{
    udp::resolver resolver(context);
    auto results = resolver.resolve(udp::v4(), host, port, udp::resolver::address_configured);
    endpoint = *results.begin();

    send_queue.push_back(request);
    set_timer();
    // Connecting a datagram socket only fixes the peer: sends go to the scale
    // and only its datagrams are received.
    socket.async_connect(endpoint, [this](const boost::system::error_code&) { handle_connect(); });
}

udp_client::~udp_client()
{
    close_socket();
}

std::string udp_client::ip() const
{
    return endpoint.address().to_string();
}

void udp_client::set_timer()
{
    waiting = true;
    const unsigned id = ++wait_id;
    timer.expires_after(std::chrono::seconds(timeout_seconds));
    timer.async_wait([this, id](const boost::system::error_code& ec) { timeout_handler(ec, id); });
}

void udp_client::stop_waiting()
{
    waiting = false;
    timer.cancel();
}

void udp_client::close_socket()
{
    boost::system::error_code ignored;
    socket.close(ignored);
}

void udp_client::timeout_handler(const boost::system::error_code& ec, unsigned id)
{
    if (ec == boost::asio::error::operation_aborted || !waiting || id != wait_id)
        return;
    Logger::e("RESPONSE FOR " + ip() + ": timeout is done!");
    waiting = false;
    close_socket();
}

void udp_client::handle_connect()
{
    stop_waiting();
    // A datagram goes out whole or not at all, and a send never waits for
    // the scale, so the send needs no time-out of its own.
    socket.async_send(boost::asio::buffer(send_queue.front()),
                      [this](const boost::system::error_code& ec, std::size_t n) {
                          handle_send_to(ec, n);
                      });
}

void udp_client::handle_send_to(const boost::system::error_code& ec, std::size_t n)
{
    if (ec) {
        Logger::e(step_error_line("REQUEST FOR ", ip(), "handle_send_to", ec));
        close_socket();
        return;
    }
    if (log_traffic)
        Logger::i(traffic_line("REQUEST FOR ", ip(), n, send_queue.front()));
    send_queue.pop_front();

    set_timer();
    socket.async_receive(boost::asio::buffer(receive_buffer),
                         [this](const boost::system::error_code& ec, std::size_t n) {
                             handle_receive_from(ec, n);
                         });
}

void udp_client::handle_receive_from(const boost::system::error_code& ec, std::size_t n)
{
    stop_waiting();
    if (ec) {
        Logger::e(step_error_line("RESPONSE FOR ", ip(), "handle_receive_from", ec));
        if (ec != boost::asio::error::operation_aborted)
            close_socket();
        return;
    }
    if (!callback)
        return;
    std::vector<std::byte> body(receive_buffer.begin(), receive_buffer.begin() + n);
    if (log_traffic)
        Logger::i(traffic_line("RESPONSE FOR ", ip(), n, body));
    callback(std::move(body), ip());
}
