#pragma once
// A TCP link to one scale kept open from one request to the next.
//
// Use, for each exchange, all under lock_exchange() (two threads drive the
// first scale's link: the command path and the live-weight poll):
//     auto hold = client->lock_exchange();
//     context.restart();
//     if (client->is_open()) client->send_message(request, cb);
//     else client->open_connection_and_send_message(request, cb);
//     context.run();          // returns when the exchange has ended
// Destroy the client while its io_context is not running and before that
// io_context; never run the io_context again once the client is gone.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "link/link_common.h"

class permanent_tcp_client final : private link_detail::link_base<boost::asio::ip::tcp> {
public:
    using link_detail::link_base<boost::asio::ip::tcp>::begin_exchange;
    // Resolves at once and never connects; a failed resolution is logged and
    // leaves the endpoint at 0.0.0.0:0, so every later connect fails.
    permanent_tcp_client(boost::asio::io_context& context, const std::string& host, const std::string& port,
                         int timeout_seconds, bool log_traffic);
    ~permanent_tcp_client();

    permanent_tcp_client(const permanent_tcp_client&) = delete;
    permanent_tcp_client& operator=(const permanent_tcp_client&) = delete;

    void open_connection();
    void send_message(const std::vector<std::byte>& request, const response_callback& callback);
    void open_connection_and_send_message(const std::vector<std::byte>& request, const response_callback& callback);
    bool is_open() const { return socket.is_open(); }
    void close_connection();

    // Held for one whole exchange: from the is_open() choice until run() has
    // returned.
    std::unique_lock<std::mutex> lock_exchange() { return std::unique_lock<std::mutex>(exchange_mutex); }

private:
    using body_ptr = std::shared_ptr<std::vector<std::byte>>;

    template <class Step>
    void guarded(const char* step, bool close_after, Step&& body) noexcept;
    void log_error(const std::string& line) noexcept;

    void set_timer();
    void on_deadline() override;
    // False when the scale has closed the link; drops any bytes waiting.
    bool drop_stale_input();
    void close_link() override { close_connection(); }
    bool connected(const error_code& ec);
    void handle_connect(const error_code& ec);
    void handle_connect_and_send_message(const error_code& ec, const std::vector<std::byte>& request,
                                         const response_callback& callback);
    void handle_send_to(const error_code& ec, std::size_t n, const std::vector<std::byte>& request,
                        const response_callback& callback);
    void read_message_size(const response_callback& callback);
    void handle_read_message_size(const error_code& ec, std::size_t n, const response_callback& callback);
    void handle_receive_from(const error_code& ec, const body_ptr& body, const response_callback& callback);

    std::vector<std::byte> count_buffer;  // the reply's count; bodies get their own buffer
    std::mutex exchange_mutex;
};
