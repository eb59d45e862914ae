#pragma once
// The one place where the transport of a scale is chosen: one request to one
// scale over one-shot TCP, one-shot UDP or the scale's kept-open TCP link,
// and its reply back through the callback. The send road of the device and
// the live-weight poll both go through it.
//
// Use, for each request to a list of scales:
//     link_exchange exchange(group, &stop);
//     exchange.add(route, request, timeout, callback);   // once per scale
//     exchange.finish();                                // one-shot ones run here
// A kept-open exchange runs inside add(), one scale after the other; the
// one-shot ones all run at the same time inside finish().

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "link/link_common.h"

class one_shot_group;
class permanent_tcp_client;

// How one scale is reached.
struct link_route {
    std::string host;
    std::string port;
    int protocol = 0;  // 0 UDP, 1 TCP; anything else is never sent to
    bool kept_open = false;  // over the link below; nothing is sent when it is missing
    std::shared_ptr<boost::asio::io_context> link_context;  // declared first: the client goes first
    std::shared_ptr<permanent_tcp_client> link;
};

// One request frame (without the TCP count) and what its log lines show.
struct link_request {
    const std::vector<std::byte>& frame;
    std::size_t hidden_offset = 0;  // the password bytes of the frame, shown as "**"
    std::size_t hidden_length = 0;
    bool log_traffic = true;  // the traffic lines of a one-shot exchange
    bool log_runs = false;  // the kept-open run lines of the send road
};

// Lets another thread end the exchange in progress within a moment: the
// thread that raises `flag` (to `ends_on`) calls notify(), which stops the
// io_context being run. Whoever runs it tests the flag after registering the
// io_context, so a stop that comes just before the run is not lost either.
class exchange_stop {
public:
    explicit exchange_stop(const std::atomic<bool>& flag, bool ends_on = true) : flag_(flag), ends_on_(ends_on) {}
    exchange_stop(const exchange_stop&) = delete;
    exchange_stop& operator=(const exchange_stop&) = delete;

    bool raised() const { return flag_.load() == ends_on_; }
    // From any thread, after the flag was raised.
    void notify();
    // Runs `context` until it runs out of work; false when the stop ended it
    // (its pending operations are then still queued).
    bool run(boost::asio::io_context& context);

private:
    const std::atomic<bool>& flag_;
    const bool ends_on_;
    std::mutex mutex_;
    boost::asio::io_context* running_ = nullptr;
};

// A kept-open TCP link to one scale, not yet connected: the route holds it
// and its own io_context.
link_route make_kept_open_link(const std::string& host, const std::string& port, int timeout_seconds);
// Connects the route's kept-open link and runs the connect to its end (or
// its time-out).
void open_kept_open_link(const link_route& route);

// The 4-byte little-endian count, then the frame.
std::vector<std::byte> tcp_framed(const std::vector<std::byte>& frame);

class link_exchange {
public:
    // `stop` may be null: nothing but the time-outs ends the exchanges.
    link_exchange(one_shot_group& group, exchange_stop* stop);
    ~link_exchange();  // drops one-shot exchanges that finish() did not run
    link_exchange(const link_exchange&) = delete;
    link_exchange& operator=(const link_exchange&) = delete;

    // Prepares for `scales` one-shot exchanges; call before the first add().
    void begin(std::size_t scales);
    // One request to one scale. A failed resolution throws
    // boost::system::system_error and drops the one-shot exchanges added so
    // far, so that nothing of the request is sent.
    void add(const link_route& route, const link_request& request, int timeout_seconds,
             const response_callback& callback);
    // Runs the one-shot exchanges to their end (reply, error, time-out or stop).
    void finish();

private:
    void kept_open(const link_route& route, const link_request& request, const response_callback& callback);

    one_shot_group& group_;
    exchange_stop* stop_;
    bool pending_ = false;
};
