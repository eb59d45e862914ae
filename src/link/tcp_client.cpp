#include "link/tcp_client.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "logging/logger.h"

tcp_client::tcp_client(boost::asio::io_context& context, const std::string& host, const std::string& port,
                       int& timeout_seconds, const std::vector<std::byte>& request, const response_callback& callback,
                       bool log_traffic)
    : link_base(context, timeout_seconds, log_traffic), count_buffer(4), callback(callback)
{
    resolve(host, port);  // throws before anything is queued or armed
    start(request);
}

tcp_client::tcp_client(boost::asio::io_context& context, const boost::asio::ip::tcp::endpoint& to, int timeout_seconds,
                       const std::vector<std::byte>& request, const response_callback& callback, bool log_traffic)
    : link_base(context, timeout_seconds, log_traffic), count_buffer(4), callback(callback)
{
    set_endpoint(to);
    start(request);
}

void tcp_client::start(const std::vector<std::byte>& request)
{
    send_queue.push_back(request);
    set_timer();
    // The connect's outcome is not examined: a refused connect surfaces as
    // the send error that follows it.
    socket.async_connect(endpoint, [this](const error_code&) { handle_connect(); });
}

void tcp_client::handle_connect()
{
    stop_waiting();
    // The send has a time-out too: a scale that accepts but never reads must
    // not hold the caller's thread for ever. async_write sends the whole
    // request; a single send may stop short under back-pressure.
    set_timer();
    boost::asio::async_write(socket, boost::asio::buffer(send_queue.front()),
                             [this](const error_code& ec, std::size_t n) { handle_send_to(ec, n); });
}

void tcp_client::handle_send_to(const error_code& ec, std::size_t n)
{
    if (!sent(ec, n, send_queue.front())) return exchange_over();
    send_queue.pop_front();
    read_message_size();
}

void tcp_client::read_message_size()
{
    set_timer();
    boost::asio::async_read(socket, boost::asio::buffer(count_buffer),
                            [this](const error_code& ec, std::size_t n) { handle_read_message_size(ec, n); });
}

void tcp_client::handle_read_message_size(const error_code& ec, std::size_t n)
{
    int count = 0;
    if (!count_read(ec, n, count_buffer, count)) return exchange_over();
    if (count < 0 || count > link_detail::max_reply_size) {
        // A framing error: the body cannot be read whole, so nothing is.
        Logger::e("READ MESSAGE SIZE FOR " + ip() +
                  ": error in handle_read_message_size reply size out of range: " + std::to_string(count));
        close_link();
        return exchange_over();
    }
    receive_buffer.assign(static_cast<std::size_t>(count), std::byte{0});
    set_timer();
    boost::asio::async_read(socket, boost::asio::buffer(receive_buffer),
                            [this](const error_code& ec, std::size_t n) { handle_receive_from(ec, n); });
}

void tcp_client::handle_receive_from(const error_code& ec, std::size_t n)
{
    if (!body_read(ec) || !callback) return exchange_over();
    receive_buffer.resize(n);
    if (!answers_request(receive_buffer)) {
        read_message_size();  // the answer may still come, within the same time-out
        return;
    }
    // The connection stays open until the owner destroys the client.
    deliver(callback, std::move(receive_buffer));
    exchange_over();
}
