#pragma once
// What the three scale-link clients share: the request they carry, the reply
// callback, the resolution of the scale's address, the deadline of each wait,
// the TCP framing of requests and replies, and the lines of an exchange.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/system/error_code.hpp>

#include "link/frame_layout.h"

// Reply body (without any TCP count) and the scale's IPv4 address as dotted
// text. Called at most once per exchange, only for a reply read whole.
using response_callback = std::function<void(std::vector<std::byte>, std::string)>;

// How a request reaches its scale.
enum class link_transport {
    none,  // never sent to (an unknown protocol, or no kept-open link for the scale)
    udp,
    tcp,  // one-shot: a connection of its own
    tcp_kept_open,
};

// One request to one scale, as the send road hands it to the link and the
// link to its client.
struct link_request {
    std::vector<std::byte> frame;  // 02 LEN opcode ...; over TCP its 4-byte count goes in front
    frame_layout::opcode opcode;  // a reply with another opcode answers another request
    std::size_t hidden_offset = 0;  // bytes of the frame that the log shows as "**": the password
    std::size_t hidden_length = 0;
    int timeout_seconds = 4;  // of each wait of a one-shot exchange; a kept-open link keeps its own
    response_callback callback;
    bool log_traffic = true;  // the traffic lines of a one-shot exchange; a kept-open link keeps its own
    bool log_runs = false;  // the kept-open run lines of the send road
    // Called instead of `callback` when no socket could be made for the
    // request: the process is out of descriptors, a fault of this side and
    // not the scale's.
    std::function<void()> no_socket;
};

namespace link_detail {

using clock = std::chrono::steady_clock;
using error_code = boost::system::error_code;

// Largest reply count a TCP client accepts. The count comes from the peer and
// sizes an allocation in a 32-bit process; the largest legitimate replies are
// file packets of about 60 KB, so 4 MiB leaves ample room while keeping a
// bogus or negative count from being read as a body.
constexpr std::int32_t max_reply_size = 4 * 1024 * 1024;

// The error's text as it goes into a log line.
std::string error_text(const error_code& ec);
// A non-blocking operation found nothing to do yet.
bool would_block(const error_code& ec);
// A descriptor could not be had: the process's or the system's limit.
bool out_of_descriptors(const error_code& ec);

// The deadline scheme. No client arms a timer: a wait only notes when it
// ends (set_timer), and whoever runs the io_context runs it no further than
// the earliest deadline of its clients, then times out those that are due.
// A wait thus costs no system call, the run's own epoll timeout is the only
// clock, and a run that ends leaves no timer behind to keep it going.
//
// Runs `context` until `open()` turns false or the context is stopped;
// `next_deadline()` gives the earliest deadline of the waits under way and
// `expire_due(now)` times out those that are due. True when every exchange
// ended; false when a stop left one under way (its steps may still be queued
// in the context, which must then never run them for the next exchange).
template <class Open, class Next, class Expire>
bool run_until_over(boost::asio::io_context& context, Open open, Next next_deadline, Expire expire_due)
{
    while (open() && !context.stopped()) {
        const clock::time_point due = next_deadline();
        if (clock::now() >= due)
            expire_due(clock::now());
        else
            context.run_one_until(due);
    }
    return !open();
}

// The socket to one scale, its address as every line shows it, the request
// under way, the deadline of its wait and the lines every client writes.
// Protocol is boost::asio::ip::tcp or udp.
template <class Protocol>
class link_base {
public:
    using endpoint_type = typename Protocol::endpoint;

    // Called once when the exchange under way has ended, whatever its outcome
    // (reply delivered, error or time-out), from inside the run.
    void when_finished(std::function<void()> hook) { finished = std::move(hook); }
    // The owner's earliest deadline: every wait that would end sooner lowers it.
    void report_deadlines_to(clock::time_point* earliest) { earliest_deadline = earliest; }

    bool in_exchange() const { return exchanging; }
    // When the wait under way ends; the latest time point when none is.
    clock::time_point deadline() const { return waiting ? wait_deadline : clock::time_point::max(); }
    // Times the wait out once `now` has reached its deadline.
    void expire_if_due(clock::time_point now);

    // Closes the socket, releasing its descriptor; the client stays usable
    // for its owner only as far as destruction. True when it held one.
    bool release_socket();

    // For an exchange whose start() found no descriptor for its socket, and
    // so began nothing: its request, back to the owner to start again later,
    // or its end as a failure of this side (the line, then the request's
    // no_socket).
    link_request take_request() { return std::move(request); }
    void fail_for_want_of_socket(const error_code& ec);

protected:
    // The endpoint stays 0.0.0.0:0 until resolve() or set_endpoint().
    link_base(boost::asio::io_context& context, int timeout_seconds, bool log_traffic);
    ~link_base();  // closes the socket (no shutdown)

    // First IPv4 result for host and port (AI_ADDRCONFIG); throws
    // boost::system::system_error ("resolve") and leaves the endpoint alone.
    void resolve(const std::string& host, const std::string& port);
    void set_endpoint(const endpoint_type& to);
    const std::string& ip() const { return ip_text; }

    // An exchange starts, carrying `request`.
    void begin_exchange();
    // Opens the socket, non-blocking: every send and receive is tried at once
    // and only a would-block waits for the reactor. Close-on-exec from the
    // moment it is made: no child the host starts holds a scale's
    // connection, not even for an instant.
    error_code open_socket();

    // Starts the deadline of the next wait. Each wait gets the full time-out
    // from its start; with `keep_deadline` set it ends when the previous one
    // would have (a reply dropped as another request's answer gives no extra
    // time).
    void set_timer();
    // The awaited operation completed: its deadline no longer applies.
    void stop_waiting() { waiting = false; }
    // The exchange has ended: nothing is awaited any more and the owner's
    // hook runs.
    void exchange_over();
    void timed_out();  // the timeout line, then the link closed

    // What a wait that expires does; the timeout line and the close by
    // default.
    virtual void on_deadline() { timed_out(); }
    // How this client closes its link; the plain close by default.
    virtual void close_link();

    // Ends of the steps shared by the clients. Each writes its line; a
    // failure closes the link (an aborted wait does not: the expiry closed it
    // already). True: the exchange goes on.
    // The request sent, `n` bytes, `prefix` (the TCP count) in front of the frame.
    bool sent(const error_code& ec, std::size_t n, const std::byte* prefix, std::size_t prefix_size);
    // The first wait for a reply: `handle_readable` runs at once when the
    // reply may be in already, else once the socket has something to read.
    template <class Handler>
    void await_reply(Handler handle_readable)
    {
        set_timer();
        if (reply_may_be_in()) return handle_readable(error_code());
        socket.async_wait(boost::asio::socket_base::wait_read, std::move(handle_readable));
    }
    // The reply's count stage failed with `ec`.
    void count_failed(const error_code& ec);
    void count_line(std::int32_t count);
    // The reply's body (or datagram) stage failed with `ec`.
    void body_failed(const error_code& ec);
    // False for a reply whose opcode differs from the request's: it answers
    // another request (a late or repeated reply) and is logged and dropped;
    // the waits that follow keep the current deadline.
    bool answers_request(const std::vector<std::byte>& body);
    // The response line, then the body and ip to the callback.
    void deliver(std::vector<std::byte> body);

    typename Protocol::socket socket;
    endpoint_type endpoint;
    bool log_traffic;
    link_request request;  // of the exchange under way
    // Set once a reply was dropped as another request's: the waits that
    // follow end when the first wait for this request's reply would have.
    bool keep_deadline = false;

private:
    bool reply_may_be_in() const;

    std::string ip_text;  // the endpoint's address, as every line shows it
    std::function<void()> finished;
    clock::time_point* earliest_deadline = nullptr;
    clock::time_point wait_deadline;
    int timeout_seconds;
    bool waiting = false;
    bool exchanging = false;
};

// The TCP side shared by the one-shot and the kept-open client: the request
// sent whole behind its 4-byte count, and one reader of the reply's count and
// body, with one handling of every failure. Each step runs under step(): the
// kept-open client catches what a step throws, logs it under the step's name
// and closes the link; the one-shot client lets it leave the run.
class tcp_link : public link_base<boost::asio::ip::tcp> {
protected:
    tcp_link(boost::asio::io_context& context, int timeout_seconds, bool log_traffic, bool guard_steps);

    // Sends the request under way, then reads its reply.
    void send_request();

    template <class Step>
    void step(const char* name, bool close_after, Step&& body);
    // "'<step>' error: " and the exception's text (none: "'<step>' error").
    void log_step_error(const char* name, const char* what) noexcept;

    // Bytes read past the last reply, still unread by any exchange.
    std::size_t unread() const { return staged_end - staged_begin; }
    void forget_unread() { staged_begin = staged_end = 0; }

private:
    void write_some();
    void read_reply();
    void handle_readable(const error_code& ec);
    // Receives what is ready into the reply; false when nothing more came
    // (`ec`: would_block, or the failure).
    bool receive(error_code& ec);
    // Takes the bytes received; true once a reply answering the request has
    // been delivered or the exchange has failed.
    bool take_staged();
    bool take_count();
    void reply_failed(const error_code& ec);
    void wait_readable();

    const bool guard_steps;
    std::array<std::byte, 4> count_out{};
    std::size_t sent_bytes = 0;
    // The reply being read: its count, then its body of exactly that size.
    std::array<std::byte, 4> count_in{};
    std::size_t count_got = 0;
    bool counted = false;
    std::vector<std::byte> body;
    std::size_t body_got = 0;
    // Read ahead: a small reply (count and body) comes in one receive; a long
    // body is read straight into its own buffer.
    std::array<std::byte, 512> staged{};
    std::size_t staged_begin = 0;
    std::size_t staged_end = 0;
};

template <class Step>
void tcp_link::step(const char* name, bool close_after, Step&& body_of_step)
{
    if (!guard_steps) return body_of_step();
    try {
        body_of_step();
        return;
    } catch (const std::exception& ex) {
        log_step_error(name, ex.what());
    } catch (...) {
        log_step_error(name, nullptr);
    }
    if (close_after) close_link();
    // The step ended here: nothing more is awaited in this exchange.
    exchange_over();
}

}  // namespace link_detail
