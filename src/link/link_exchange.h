#pragma once
// The one place where the transport of a scale is chosen: one request to one
// scale over one-shot TCP, one-shot UDP or the scale's kept-open TCP link,
// and its reply back through the request's callback. The send road of the
// device and the live-weight poll both go through it.
//
// Use, for each request to a list of scales:
//     link_exchange exchange(group, &stop);
//     exchange.begin(scales);
//     exchange.add(route, request);   // once per scale
//     exchange.finish();              // the one-shot ones run here
// A kept-open exchange runs inside add(), one scale after the other; the
// one-shot ones all run at the same time inside finish().

#include <cstddef>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>

#include "link/exchange_stop.h"
#include "link/link_common.h"

class one_shot_group;
class permanent_tcp_client;

// How one scale is reached.
struct link_route {
    link_transport transport = link_transport::none;
    std::string host;
    std::string port;
    std::shared_ptr<boost::asio::io_context> link_context;  // kept-open: declared first, the client goes first
    std::shared_ptr<permanent_tcp_client> link;
};

// A kept-open TCP link to one scale, not yet connected: the route holds it
// and its own io_context.
link_route make_kept_open_link(const std::string& host, const std::string& port, int timeout_seconds);
// Connects the route's kept-open link and runs the connect to its end, its
// time-out or `stop` (which then leaves the link closed). Throws
// boost::system::system_error when the socket could not be made for want of
// descriptors.
void open_kept_open_link(const link_route& route, exchange_stop* stop);

class link_exchange {
public:
    // `stop` may be null: nothing but the time-outs ends the exchanges.
    link_exchange(one_shot_group& group, exchange_stop* stop);
    ~link_exchange();  // drops one-shot exchanges that finish() did not run
    link_exchange(const link_exchange&) = delete;
    link_exchange& operator=(const link_exchange&) = delete;

    // Prepares for `scales` one-shot exchanges; call before the first add().
    void begin(std::size_t scales);
    // One request to one scale; nothing is sent once the stop is raised. A
    // failed resolution throws boost::system::system_error and drops the
    // one-shot exchanges added so far, so that nothing of the request is sent.
    void add(const link_route& route, link_request request);
    // Runs the one-shot exchanges to their end (reply, error, time-out or stop).
    void finish();

private:
    void kept_open(const link_route& route, link_request request);

    one_shot_group& group_;
    exchange_stop* stop_;
    bool pending_ = false;
};
