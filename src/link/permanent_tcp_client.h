#pragma once
// A TCP link to one scale kept open from one request to the next.
//
// Use, for each exchange, holding the link's turn (two threads drive the
// first scale's link: the command path and the live-weight poll):
//     const link_turn turn(client->turns(), stop);
//     context.restart();
//     client->run_exchange(context, request, stop);   // returns when the exchange has ended
// Destroy the client while its io_context is not running and before that
// io_context; never run the io_context again once the client is gone.

#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "link/exchange_stop.h"
#include "link/link_common.h"

class permanent_tcp_client final : public link_detail::tcp_link {
public:
    // Resolves at once and never connects; a failed resolution is logged and
    // leaves the endpoint at 0.0.0.0:0, so every later connect fails.
    permanent_tcp_client(boost::asio::io_context& context, const std::string& host, const std::string& port,
                         int timeout_seconds, bool log_traffic);
    ~permanent_tcp_client();

    permanent_tcp_client(const permanent_tcp_client&) = delete;
    permanent_tcp_client& operator=(const permanent_tcp_client&) = delete;

    void open_connection();
    void send_message(link_request next);
    void open_connection_and_send_message(link_request next);
    bool is_open() const { return socket.is_open(); }
    void close_connection();

    // One exchange at a time, first come first served.
    link_turns& turns() { return turns_; }
    // One exchange run on `context` to its end: send_message on an open
    // link, else open_connection_and_send_message. The stop is watched from
    // before the first step: raised already, nothing is sent; raised during
    // the run, it ends the run at once, the link is closed and the aborted
    // steps run out here, so that none is left queued for the next exchange.
    void run_exchange(boost::asio::io_context& context, link_request next, exchange_stop* stop);
    // open_connection, run the same way.
    void run_connect(boost::asio::io_context& context, exchange_stop* stop);
    // Why the last connect failed; empty after one that succeeded.
    const link_detail::error_code& connect_error() const { return connect_error_; }

private:
    template <class Start>
    void run(boost::asio::io_context& context, exchange_stop* stop, Start start);
    void on_deadline() override;
    void close_link() override { close_connection(); }
    void connect(bool then_send);
    void handle_connect(const link_detail::error_code& ec, bool then_send);
    bool connected(const link_detail::error_code& ec);
    void send_current();
    // False when the scale has closed the link; drops any bytes waiting.
    bool drop_stale_input();

    link_turns turns_;
    link_detail::error_code connect_error_;
};
