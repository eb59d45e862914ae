#include "link/udp_client.h"

#include <vector>

#include <boost/asio/buffer.hpp>

using link_detail::error_code;

udp_client::udp_client(boost::asio::io_context& context, const std::string& host, const std::string& port,
                       link_request next)
    : link_base(context, next.timeout_seconds, next.log_traffic)
{
    resolve(host, port);  // throws before anything is queued
    request = std::move(next);
}

udp_client::udp_client(boost::asio::io_context& context, const boost::asio::ip::udp::endpoint& to,
                       link_request next)
    : link_base(context, next.timeout_seconds, next.log_traffic)
{
    set_endpoint(to);
    request = std::move(next);
}

error_code udp_client::start()
{
    error_code ec = open_socket();
    if (link_detail::out_of_descriptors(ec)) return ec;
    begin_exchange();
    // Connecting a datagram socket only fixes the peer: sends go to the
    // scale and only its datagrams are received. It exchanges nothing, and
    // its outcome is not examined: a failure surfaces as the send's.
    if (!ec) socket.connect(endpoint, ec);
    send_datagram();
    return {};
}

void udp_client::send_datagram()
{
    // A datagram goes out whole or not at all, and a send never waits for
    // the scale; only a full socket buffer makes it wait.
    error_code ec;
    const std::size_t n = socket.send(boost::asio::buffer(request.frame), 0, ec);
    if (link_detail::would_block(ec)) {
        set_timer();
        socket.async_wait(boost::asio::socket_base::wait_write, [this](const error_code& waited) {
            if (!waited) return send_datagram();
            sent(waited, 0, nullptr, 0);
            finish();
        });
        return;
    }
    if (!sent(ec, n, nullptr, 0)) return finish();
    // The receive area is taken only now and given back when the exchange
    // ends, so that a long list of scales does not hold one per scale.
    receive_buffer.reset(new std::byte[receive_capacity]);
    await_reply([this](const error_code& ec) { handle_readable(ec); });
}

void udp_client::wait_readable()
{
    socket.async_wait(boost::asio::socket_base::wait_read, [this](const error_code& ec) { handle_readable(ec); });
}

void udp_client::handle_readable(const error_code& ec)
{
    error_code received = ec;
    while (!received) {
        const std::size_t n =
            socket.receive(boost::asio::buffer(receive_buffer.get(), receive_capacity), 0, received);
        // Every datagram ready is read: the reactor reports the socket again
        // only when another arrives.
        if (link_detail::would_block(received)) return wait_readable();  // within the same deadline
        if (received) break;
        stop_waiting();
        if (!request.callback) return finish();
        std::vector<std::byte> reply(receive_buffer.get(), receive_buffer.get() + n);
        if (!answers_request(reply)) {
            set_timer();  // the answer may still come, within the same time-out
            continue;
        }
        deliver(std::move(reply));
        return finish();
    }
    stop_waiting();
    body_failed(received);
    finish();
}

void udp_client::finish()
{
    receive_buffer.reset();
    exchange_over();
}
