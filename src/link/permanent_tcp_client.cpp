#include "link/permanent_tcp_client.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>

#include <boost/asio/error.hpp>

#include "logging/logger.h"

using link_detail::error_code;

permanent_tcp_client::permanent_tcp_client(boost::asio::io_context& context, const std::string& host,
                                           const std::string& port, int timeout_seconds, bool log_traffic)
    : tcp_link(context, timeout_seconds, log_traffic, true)
{
    step("permanent_tcp_client", false, [&] { resolve(host, port); });
}

permanent_tcp_client::~permanent_tcp_client()
{
    close_connection();
}

void permanent_tcp_client::on_deadline()
{
    step("timeout_handler", false, [&] { timed_out(); });
}

void permanent_tcp_client::close_connection()
{
    step("close_connection", false, [&] {
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
    request = link_request{};
    begin_exchange();
    connect(false);
}

void permanent_tcp_client::open_connection_and_send_message(link_request next)
{
    request = std::move(next);
    begin_exchange();
    connect(true);
}

void permanent_tcp_client::send_message(link_request next)
{
    request = std::move(next);
    begin_exchange();
    send_current();
}

void permanent_tcp_client::connect(bool then_send)
{
    step("open_connection", false, [&] {
        set_timer();
        error_code ec;
        if (!socket.is_open()) ec = open_socket();
        if (!ec && ::connect(socket.native_handle(), endpoint.data(), endpoint.size()) != 0)
            ec = error_code(errno, boost::asio::error::get_system_category());
        if (ec != boost::asio::error::in_progress) return handle_connect(ec, then_send);
        socket.async_wait(boost::asio::socket_base::wait_write, [this, then_send](const error_code& waited) {
            // The socket turns writable once the connect has ended; its
            // outcome is the socket's pending error.
            int pending = 0;
            socklen_t size = sizeof pending;
            if (!waited && ::getsockopt(socket.native_handle(), SOL_SOCKET, SO_ERROR, &pending, &size) != 0)
                pending = errno;
            handle_connect(waited ? waited : error_code(pending, boost::asio::error::get_system_category()),
                           then_send);
        });
    });
}

void permanent_tcp_client::handle_connect(const error_code& ec, bool then_send)
{
    step("handle_connect", true, [&] {
        if (connected(ec) && then_send) return send_current();
        // A request whose socket could not be made failed on this side, not
        // the scale's; at set-up the connect is all there is.
        if (then_send && link_detail::out_of_descriptors(ec) && request.no_socket) request.no_socket();
        exchange_over();
    });
}

// The end of a connect, at set-up or for a request: true when the link is up.
bool permanent_tcp_client::connected(const error_code& ec)
{
    stop_waiting();
    connect_error_ = ec;
    if (ec) {
        if (log_traffic) Logger::e("Connection with " + ip() + " not established: " + link_detail::error_text(ec));
        close_connection();
        return false;
    }
    if (log_traffic) Logger::i("Connection established with " + ip());
    return true;
}

void permanent_tcp_client::send_current()
{
    step("send_message", false, [&] {
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
            connect(true);
            return;
        }
        send_request();
    });
}

bool permanent_tcp_client::drop_stale_input()
{
    // Nothing may be waiting between exchanges: bytes that are (a late or
    // unasked reply) would be read as this request's answer. A read of 0
    // bytes, or a reset, is the scale's close of the idle link.
    const auto dropped = [this](std::size_t n) {
        Logger::w("RESPONSE FOR " + ip() + ": (" + std::to_string(n) + " bytes) arrived between requests: dropped");
    };
    if (unread() > 0) dropped(unread());
    forget_unread();
    std::byte buf[512];
    for (;;) {
        const ssize_t n = ::recv(socket.native_handle(), buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            dropped(static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

template <class Start>
void permanent_tcp_client::run(boost::asio::io_context& context, exchange_stop* stop, Start start)
{
    bool ended = false;
    {
        const exchange_stop::watch watching(stop, context);
        if (!context.stopped()) start();  // nothing is sent once the stop is raised
        ended = link_detail::run_until_over(
            context, [this] { return in_exchange(); }, [this] { return deadline(); },
            [this](link_detail::clock::time_point now) { expire_if_due(now); });
    }
    if (ended) return;
    // Stopped mid-way: closed, the link's pending steps complete as aborted
    // and end the exchange here, not inside the next one.
    close_connection();
    context.restart();
    while (in_exchange() && context.run_one() > 0) {
    }
}

void permanent_tcp_client::run_exchange(boost::asio::io_context& context, link_request next, exchange_stop* stop)
{
    run(context, stop, [&] {
        if (is_open())
            send_message(std::move(next));
        else
            open_connection_and_send_message(std::move(next));
    });
}

void permanent_tcp_client::run_connect(boost::asio::io_context& context, exchange_stop* stop)
{
    run(context, stop, [this] { open_connection(); });
}
