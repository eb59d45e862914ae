#include "link/tcp_client.h"

#include <chrono>

#include <boost/asio/buffer.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "logging/logger.h"

using boost::asio::ip::tcp;
using link_detail::step_error_line;
using link_detail::traffic_line;

tcp_client::tcp_client(boost::asio::io_context& context, const std::string& host,
                       const std::string& port, int& timeout_seconds,
                       const std::vector<std::byte>& request, const response_callback& callback,
                       bool log_traffic)
    : timeout_seconds(timeout_seconds),
      count_buffer(4),
      context(context),
      socket(context),
      callback(callback),
      timer(context),
      log_traffic(log_traffic)
{
    tcp::resolver resolver(context);
    // Throws system_error with the location "resolve"; nothing is armed yet.
    auto results = resolver.resolve(tcp::v4(), host, port, tcp::resolver::address_configured);
    endpoint = *results.begin();

    send_queue.push_back(request);
    set_timer();
    // The connect's outcome is not examined: a refused connect surfaces as
    // the send error that follows it.
    socket.async_connect(endpoint, [this](const boost::system::error_code&) { handle_connect(); });
}

tcp_client::~tcp_client()
{
    close_socket();
}

std::string tcp_client::ip() const
{
    return endpoint.address().to_string();
}

void tcp_client::set_timer()
{
    waiting = true;
    const unsigned id = ++wait_id;
    timer.expires_after(std::chrono::seconds(timeout_seconds));
    timer.async_wait([this, id](const boost::system::error_code& ec) { timeout_handler(ec, id); });
}

void tcp_client::stop_waiting()
{
    waiting = false;
    timer.cancel();
}

void tcp_client::close_socket()
{
    boost::system::error_code ignored;
    socket.close(ignored);
}

void tcp_client::timeout_handler(const boost::system::error_code& ec, unsigned id)
{
    if (ec == boost::asio::error::operation_aborted || !waiting || id != wait_id)
        return;
    Logger::e("RESPONSE FOR " + ip() + ": timeout is done!");
    waiting = false;
    close_socket();
}

void tcp_client::handle_connect()
{
    stop_waiting();
    // The send has a time-out too: a scale that accepts but never reads must
    // not hold the caller's thread for ever. async_write sends the whole
    // request; a single send may stop short under back-pressure.
    set_timer();
    boost::asio::async_write(socket, boost::asio::buffer(send_queue.front()),
                             [this](const boost::system::error_code& ec, std::size_t n) {
                                 handle_send_to(ec, n);
                             });
}

void tcp_client::handle_send_to(const boost::system::error_code& ec, std::size_t n)
{
    stop_waiting();
    if (ec) {
        Logger::e(step_error_line("REQUEST FOR ", ip(), "handle_send_to", ec));
        close_socket();
        return;
    }
    if (log_traffic)
        Logger::i(traffic_line("REQUEST FOR ", ip(), n, send_queue.front()));
    send_queue.pop_front();

    set_timer();
    boost::asio::async_read(socket, boost::asio::buffer(count_buffer),
                            [this](const boost::system::error_code& ec, std::size_t n) {
                                handle_read_message_size(ec, n);
                            });
}

void tcp_client::handle_read_message_size(const boost::system::error_code& ec, std::size_t n)
{
    stop_waiting();
    if (ec == boost::asio::error::operation_aborted) {
        Logger::e(step_error_line("READ MESSAGE SIZE FOR ", ip(), "handle_receive_from", ec));
        return;
    }
    if (ec || n != 4) {
        Logger::e(step_error_line("READ MESSAGE SIZE FOR ", ip(), "handle_read_message_size", ec));
        close_socket();
        return;
    }
    auto it = count_buffer.cbegin();
    const int count = device_utils::parse_int32_from_byte_array_le(it, count_buffer.cend());
    if (log_traffic)
        Logger::i("READ MESSAGE SIZE FOR " + ip() + ": (4 bytes) " + std::to_string(count));
    if (count < 0 || count > link_detail::max_reply_size) {
        // A framing error: the body cannot be read whole, so nothing is.
        Logger::e("READ MESSAGE SIZE FOR " + ip() +
                  ": error in handle_read_message_size reply size out of range: " +
                  std::to_string(count));
        close_socket();
        return;
    }
    receive_buffer.assign(static_cast<std::size_t>(count), std::byte{0});
    set_timer();
    boost::asio::async_read(socket, boost::asio::buffer(receive_buffer),
                            [this](const boost::system::error_code& ec, std::size_t n) {
                                handle_receive_from(ec, n);
                            });
}

void tcp_client::handle_receive_from(const boost::system::error_code& ec, std::size_t n)
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
    receive_buffer.resize(n);
    if (log_traffic)
        Logger::i(traffic_line("RESPONSE FOR ", ip(), n, receive_buffer));
    // The connection stays open until the owner destroys the client.
    callback(std::move(receive_buffer), ip());
}
