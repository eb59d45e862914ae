#include "link/udp_client.h"

#include <boost/asio/buffer.hpp>

udp_client::udp_client(boost::asio::io_context& context, const std::string& host, const std::string& port,
                       int& timeout_seconds, const std::vector<std::byte>& request, const response_callback& callback,
                       bool log_traffic)
    : link_base(context, timeout_seconds, log_traffic), callback(callback)
{
    resolve(host, port);  // throws before anything is queued or armed
    start(request);
}

udp_client::udp_client(boost::asio::io_context& context, const boost::asio::ip::udp::endpoint& to, int timeout_seconds,
                       const std::vector<std::byte>& request, const response_callback& callback, bool log_traffic)
    : link_base(context, timeout_seconds, log_traffic), callback(callback)
{
    set_endpoint(to);
    start(request);
}

void udp_client::start(const std::vector<std::byte>& request)
{
    send_queue.push_back(request);
    set_timer();
    // Connecting a datagram socket only fixes the peer: sends go to the scale
    // and only its datagrams are received.
    socket.async_connect(endpoint, [this](const error_code&) { handle_connect(); });
}

void udp_client::handle_connect()
{
    stop_waiting();
    // A datagram goes out whole or not at all, and a send never waits for
    // the scale, so the send needs no time-out of its own.
    socket.async_send(boost::asio::buffer(send_queue.front()),
                      [this](const error_code& ec, std::size_t n) { handle_send_to(ec, n); });
}

void udp_client::handle_send_to(const error_code& ec, std::size_t n)
{
    if (!sent(ec, n, send_queue.front())) return exchange_over();
    send_queue.pop_front();
    // The receive area is taken only now and given back when the exchange
    // ends, so that a long list of scales does not hold one per scale.
    receive_buffer.reset(new std::byte[receive_capacity]);
    receive();
}

void udp_client::receive()
{
    set_timer();
    socket.async_receive(boost::asio::buffer(receive_buffer.get(), receive_capacity),
                         [this](const error_code& ec, std::size_t n) { handle_receive_from(ec, n); });
}

void udp_client::handle_receive_from(const error_code& ec, std::size_t n)
{
    if (!body_read(ec) || !callback) return finish();
    std::vector<std::byte> body(receive_buffer.get(), receive_buffer.get() + n);
    if (!answers_request(body)) {
        receive();  // the answer may still come, within the same time-out
        return;
    }
    deliver(callback, std::move(body));
    finish();
}

void udp_client::finish()
{
    receive_buffer.reset();
    exchange_over();
}
