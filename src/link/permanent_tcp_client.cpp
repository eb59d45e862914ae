#include "link/permanent_tcp_client.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <exception>
#include <stdexcept>

#include <boost/asio/buffer.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "codecs/device_utils.h"
#include "logging/logger.h"

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
    if (close_after) close_connection();
    // The step ended here: nothing more is awaited in this exchange.
    exchange_over();
}

void permanent_tcp_client::log_error(const std::string& line) noexcept
{
    try {
        Logger::e(line);
    } catch (...) {
    }
}

permanent_tcp_client::permanent_tcp_client(boost::asio::io_context& context, const std::string& host,
                                           const std::string& port, int timeout_seconds, bool log_traffic)
    : link_base(context, timeout_seconds, log_traffic), count_buffer(4)
{
    guarded("permanent_tcp_client", false, [&] { resolve(host, port); });
}

permanent_tcp_client::~permanent_tcp_client()
{
    close_connection();
}

void permanent_tcp_client::set_timer()
{
    guarded("set_timer", false, [&] { link_base::set_timer(); });
}

void permanent_tcp_client::on_deadline()
{
    guarded("timeout_handler", false, [&] { timed_out(); });
}

void permanent_tcp_client::close_connection()
{
    guarded("close_connection", false, [&] {
        if (!socket.is_open()) return;
        error_code ec;
        // Fails silently on a link that never connected.
        socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ec);
        ec.clear();
        socket.close(ec);
        if (ec && log_traffic) Logger::e("Error closing socket: " + link_detail::error_text(ec));
    });
}

void permanent_tcp_client::open_connection()
{
    guarded("open_connection", false, [&] {
        set_timer();
        socket.async_connect(endpoint, [this](const error_code& ec) { handle_connect(ec); });
    });
}

// The end of a connect, at set-up or for a request: true when the link is up.
bool permanent_tcp_client::connected(const error_code& ec)
{
    stop_waiting();
    if (ec) {
        if (log_traffic) Logger::e("Connection with " + ip() + " not established: " + link_detail::error_text(ec));
        close_connection();
        return false;
    }
    if (log_traffic) Logger::i("Connection established with " + ip());
    return true;
}

void permanent_tcp_client::handle_connect(const error_code& ec)
{
    guarded("handle_connect", true, [&] {
        connected(ec);
        exchange_over();  // up or not, the set-up's connect is all there is
    });
}

void permanent_tcp_client::open_connection_and_send_message(const std::vector<std::byte>& request,
                                                            const response_callback& callback)
{
    guarded("open_connection", false, [&] {
        set_timer();
        auto held = std::make_shared<const std::vector<std::byte>>(request);
        socket.async_connect(endpoint, [this, held, callback](const error_code& ec) {
            handle_connect_and_send_message(ec, *held, callback);
        });
    });
}

void permanent_tcp_client::handle_connect_and_send_message(const error_code& ec, const std::vector<std::byte>& request,
                                                           const response_callback& callback)
{
    guarded("handle_connect", true, [&] {
        if (connected(ec))
            send_message(request, callback);
        else
            exchange_over();
    });
}

void permanent_tcp_client::send_message(const std::vector<std::byte>& request, const response_callback& callback)
{
    guarded("send_message", false, [&] {
        if (!socket.is_open()) {
            Logger::e("Attempt to send message on closed socket.");
            exchange_over();
            return;
        }
        if (!drop_stale_input()) {
            // The scale closed the idle link: open it again before this
            // request, which it has not seen.
            if (log_traffic) Logger::i("Connection with " + ip() + " was closed by the scale: opening it again");
            close_connection();
            open_connection_and_send_message(request, callback);
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
            [this, held, callback](const error_code& ec, std::size_t n) { handle_send_to(ec, n, *held, callback); });
    });
}

bool permanent_tcp_client::drop_stale_input()
{
    // Nothing may be waiting between exchanges: bytes that are (a late or
    // unasked reply) would be read as this request's answer. A read of 0
    // bytes, or a reset, is the scale's close of the idle link.
    std::byte buf[512];
    for (;;) {
        const ssize_t n = ::recv(socket.native_handle(), buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            Logger::w("RESPONSE FOR " + ip() + ": (" + std::to_string(n) + " bytes) arrived between requests: dropped");
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

void permanent_tcp_client::handle_send_to(const error_code& ec, std::size_t n, const std::vector<std::byte>& request,
                                          const response_callback& callback)
{
    guarded("handle_send_to", true, [&] {
        if (sent(ec, n, request))
            read_message_size(callback);
        else
            exchange_over();
    });
}

void permanent_tcp_client::read_message_size(const response_callback& callback)
{
    guarded("read_message_size", true, [&] {
        set_timer();
        boost::asio::async_read(
            socket, boost::asio::buffer(count_buffer),
            [this, callback](const error_code& ec, std::size_t n) { handle_read_message_size(ec, n, callback); });
    });
}

void permanent_tcp_client::handle_read_message_size(const error_code& ec, std::size_t n,
                                                    const response_callback& callback)
{
    guarded("handle_read_message_size", true, [&] {
        int count = 0;
        if (!count_read(ec, n, count_buffer, count)) return exchange_over();
        // The count sizes an allocation: a negative or absurd one is a framing
        // error (logged by the guard, which closes the link).
        if (count < 0 || count > link_detail::max_reply_size)
            throw std::length_error("reply size out of range: " + std::to_string(count));

        auto body = std::make_shared<std::vector<std::byte>>(static_cast<std::size_t>(count));
        set_timer();
        boost::asio::async_read(
            socket, boost::asio::buffer(*body),
            [this, body, callback](const error_code& ec, std::size_t) { handle_receive_from(ec, body, callback); });
    });
}

void permanent_tcp_client::handle_receive_from(const error_code& ec, const body_ptr& body,
                                               const response_callback& callback)
{
    guarded("handle_receive_from", true, [&] {
        if (!body_read(ec)) return exchange_over();
        if (!answers_request(*body)) {
            read_message_size(callback);  // the answer may still come, within the same time-out
            return;
        }
        deliver(callback, *body);  // an empty callback throws bad_function_call: guarded
        exchange_over();
    });
}
