#include "link/permanent_tcp_client.h"

#include <chrono>
#include <exception>
#include <stdexcept>

#include <boost/asio/buffer.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "logging/logger.h"

using boost::asio::ip::tcp;
using link_detail::error_text;
using link_detail::step_error_line;
using link_detail::traffic_line;

// Every step guards itself: an exception is logged under the step's name and,
// for the steps of an exchange, closes the link; it never leaves run().
template <class Step>
void permanent_tcp_client::guarded(const char* step, bool close_after, Step&& body) noexcept
{
    try {
        body();
        return;
    } catch (const std::exception& ex) {
        log_error(std::string("'") + step + "' error: " + device_utils::safe_log_text(ex.what()));
    } catch (...) {
        log_error(std::string("'") + step + "' error");
    }
    if (close_after)
        close_connection();
}

void permanent_tcp_client::log_error(const std::string& line) noexcept
{
    try {
        Logger::e(line);
    } catch (...) {
    }
}

permanent_tcp_client::permanent_tcp_client(boost::asio::io_context& context,
                                           const std::string& host, const std::string& port,
                                           int timeout_seconds, bool log_traffic)
    : timeout_seconds(timeout_seconds),
      timer(context),
      socket(context),
      endpoint(boost::asio::ip::address_v4::any(), 0),
      log_traffic(log_traffic)
{
    guarded("permanent_tcp_client", false, [&] {
        tcp::resolver resolver(context);
        auto results = resolver.resolve(tcp::v4(), host, port, tcp::resolver::address_configured);
        endpoint = *results.begin();
    });
}

permanent_tcp_client::~permanent_tcp_client()
{
    close_connection();
}

std::string permanent_tcp_client::ip() const
{
    return endpoint.address().to_string();
}

void permanent_tcp_client::set_timer()
{
    guarded("set_timer", false, [&] {
        waiting = true;
        const unsigned id = ++wait_id;
        timer.expires_after(std::chrono::seconds(timeout_seconds));
        timer.async_wait(
            [this, id](const boost::system::error_code& ec) { timeout_handler(ec, id); });
    });
}

void permanent_tcp_client::stop_waiting()
{
    waiting = false;
    timer.cancel();
}

void permanent_tcp_client::timeout_handler(const boost::system::error_code& ec, unsigned id)
{
    guarded("timeout_handler", false, [&] {
        if (ec == boost::asio::error::operation_aborted || !waiting || id != wait_id)
            return;
        Logger::e("RESPONSE FOR " + ip() + ": timeout is done!");
        waiting = false;
        close_connection();
    });
}

void permanent_tcp_client::close_connection()
{
    guarded("close_connection", false, [&] {
        if (!socket.is_open())
            return;
        boost::system::error_code ec;
        socket.shutdown(tcp::socket::shutdown_both, ec);  // fails silently on a link never connected
        ec.clear();
        socket.close(ec);
        if (ec && log_traffic)
            Logger::e("Error closing socket: " + error_text(ec));
    });
}

void permanent_tcp_client::open_connection()
{
    guarded("open_connection", false, [&] {
        set_timer();
        socket.async_connect(endpoint,
                             [this](const boost::system::error_code& ec) { handle_connect(ec); });
    });
}

void permanent_tcp_client::handle_connect(const boost::system::error_code& ec)
{
    guarded("handle_connect", true, [&] {
        stop_waiting();
        if (ec) {
            if (log_traffic)
                Logger::e("Connection with " + ip() + " not established: " + error_text(ec));
            close_connection();
            return;
        }
        if (log_traffic)
            Logger::i("Connection established with " + ip());
    });
}

void permanent_tcp_client::open_connection_and_send_message(const std::vector<std::byte>& request,
                                                            const response_callback& callback)
{
    guarded("open_connection", false, [&] {
        set_timer();
        auto held = std::make_shared<const std::vector<std::byte>>(request);
        socket.async_connect(endpoint, [this, held, callback](const boost::system::error_code& ec) {
            handle_connect_and_send_message(ec, *held, callback);
        });
    });
}

void permanent_tcp_client::handle_connect_and_send_message(const boost::system::error_code& ec,
                                                           const std::vector<std::byte>& request,
                                                           const response_callback& callback)
{
    guarded("handle_connect", true, [&] {
        stop_waiting();
        if (ec) {
            if (log_traffic)
                Logger::e("Connection with " + ip() + " not established: " + error_text(ec));
            close_connection();
            return;
        }
        if (log_traffic)
            Logger::i("Connection established with " + ip());
        send_message(request, callback);
    });
}

void permanent_tcp_client::send_message(const std::vector<std::byte>& request,
                                        const response_callback& callback)
{
    guarded("send_message", false, [&] {
        if (!socket.is_open()) {
            Logger::e("Attempt to send message on closed socket.");
            return;
        }
        set_timer();
        // No queue: each exchange sends the request it was given, so a request
        // that failed or timed out can never go out in place of a later one.
        // The handler holds the bytes until the write has ended; async_write
        // sends them whole.
        auto held = std::make_shared<const std::vector<std::byte>>(request);
        boost::asio::async_write(
            socket, boost::asio::buffer(*held),
            [this, held, callback](const boost::system::error_code& ec, std::size_t n) {
                handle_send_to(ec, n, *held, callback);
            });
    });
}

void permanent_tcp_client::handle_send_to(const boost::system::error_code& ec, std::size_t n,
                                          const std::vector<std::byte>& request,
                                          const response_callback& callback)
{
    guarded("handle_send_to", true, [&] {
        stop_waiting();
        if (ec) {
            Logger::e(step_error_line("REQUEST FOR ", ip(), "handle_send_to", ec));
            close_connection();
            return;
        }
        if (log_traffic)
            Logger::i(traffic_line("REQUEST FOR ", ip(), n, request));
        read_message_size(callback);
    });
}

void permanent_tcp_client::read_message_size(const response_callback& callback)
{
    guarded("read_message_size", true, [&] {
        set_timer();
        boost::asio::async_read(
            socket, boost::asio::buffer(receive_buffer),
            [this, callback](const boost::system::error_code& ec, std::size_t n) {
                handle_read_message_size(ec, n, callback);
            });
    });
}

void permanent_tcp_client::handle_read_message_size(const boost::system::error_code& ec,
                                                    std::size_t n,
                                                    const response_callback& callback)
{
    guarded("handle_read_message_size", true, [&] {
        stop_waiting();
        if (ec == boost::asio::error::operation_aborted) {
            Logger::e(step_error_line("READ MESSAGE SIZE FOR ", ip(), "handle_receive_from", ec));
            return;
        }
        if (ec || n != 4) {
            Logger::e(
                step_error_line("READ MESSAGE SIZE FOR ", ip(), "handle_read_message_size", ec));
            close_connection();
            return;
        }
        const std::vector<std::byte> count_bytes(receive_buffer.begin(), receive_buffer.end());
        auto it = count_bytes.cbegin();
        const int count = device_utils::parse_int32_from_byte_array_le(it, count_bytes.cend());
        if (log_traffic)
            Logger::i("READ MESSAGE SIZE FOR " + ip() + ": (4 bytes) " + std::to_string(count));
        // The count sizes an allocation: a negative or absurd one is a framing
        // error (logged by the guard, which closes the link).
        if (count < 0 || count > link_detail::max_reply_size)
            throw std::length_error("reply size out of range: " + std::to_string(count));

        auto body = std::make_shared<std::vector<std::byte>>(static_cast<std::size_t>(count));
        set_timer();
        boost::asio::async_read(
            socket, boost::asio::buffer(*body),
            [this, body, callback](const boost::system::error_code& ec, std::size_t n) {
                handle_receive_from(ec, n, body, callback);
            });
    });
}

void permanent_tcp_client::handle_receive_from(const boost::system::error_code& ec, std::size_t n,
                                               const body_ptr& body,
                                               const response_callback& callback)
{
    guarded("handle_receive_from", true, [&] {
        stop_waiting();
        if (ec) {
            Logger::e(step_error_line("RESPONSE FOR ", ip(), "handle_receive_from", ec));
            if (ec != boost::asio::error::operation_aborted)
                close_connection();
            return;
        }
        if (log_traffic)
            Logger::i(traffic_line("RESPONSE FOR ", ip(), n, *body));
        callback(*body, ip());  // an empty callback throws bad_function_call: guarded
    });
}
