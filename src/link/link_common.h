#pragma once
// What the three scale-link clients share: the reply callback, the TCP
// framing limit, the resolution of the scale's address, the deadline of each
// wait and the traffic and error lines of an exchange.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

// Reply body (without any TCP count) and the scale's IPv4 address as dotted
// text. Called at most once per exchange, only for a reply read whole.
using response_callback = std::function<void(std::vector<std::byte>, std::string)>;

namespace link_detail {

// Largest reply count a TCP client accepts. The count comes from the peer and
// sizes an allocation in a 32-bit process; the largest legitimate replies are
// file packets of about 60 KB, so 4 MiB leaves ample room while keeping a
// bogus or negative count from being read as a body.
constexpr std::int32_t max_reply_size = 4 * 1024 * 1024;

// The error's text as it goes into a log line.
std::string error_text(const boost::system::error_code& ec);

// The socket to one scale, its endpoint, the deadline of the wait in progress
// and the lines every client writes. Protocol is boost::asio::ip::tcp or udp.
// A client derives from it privately and keeps only its own steps.
template <class Protocol>
class link_base {
public:
    using endpoint_type = typename Protocol::endpoint;

    // Bytes of the next request dumps that the log shows as "** " (the
    // password part of a request): from `offset`, `length` bytes.
    void hide_in_log(std::size_t offset, std::size_t length)
    {
        hidden_offset = offset;
        hidden_length = length;
    }

    // A new exchange on this link: its request's dumps hide `length` bytes
    // from `offset` (none for 0), and its first wait gets a deadline of its
    // own, whatever became of the exchange before it.
    void begin_exchange(std::size_t offset, std::size_t length)
    {
        hide_in_log(offset, length);
        keep_deadline = false;
    }

    // Called once when the exchange in progress has ended, whatever its
    // outcome (reply delivered, error or time-out), from inside run().
    void when_finished(std::function<void()> hook) { finished = std::move(hook); }

    // Closes the socket, releasing its descriptor; the client stays usable
    // for its owner only as far as destruction.
    void release_socket()
    {
        boost::system::error_code ignored;
        socket.close(ignored);
    }

protected:
    using error_code = boost::system::error_code;

    // The endpoint stays 0.0.0.0:0 until resolve() or set_endpoint().
    link_base(boost::asio::io_context& context, int timeout_seconds, bool log_traffic);
    ~link_base();  // closes the socket (no shutdown)

    // First IPv4 result for host and port (AI_ADDRCONFIG); throws
    // boost::system::system_error ("resolve") and leaves the endpoint alone.
    void resolve(const std::string& host, const std::string& port);
    void set_endpoint(const endpoint_type& to);
    const std::string& ip() const { return ip_text; }

    // Starts the deadline of the next wait. Each wait gets the full time-out
    // from its start; with `keep_deadline` set it ends when the previous one
    // would have (a reply dropped as another request's answer gives no extra
    // time). The timer itself is armed once per exchange and moved on only
    // when it fires before the current wait's deadline, so a wait costs no
    // timer call.
    void set_timer();
    // The awaited operation completed: its deadline no longer applies.
    void stop_waiting() { waiting = false; }
    // The exchange has ended: nothing is awaited any more, the timer is
    // cancelled (so that run() can return) and the owner's hook runs.
    void exchange_over();
    void timed_out();  // the timeout line, then the link closed

    // What a wait that expires does; the timeout line and the close by
    // default.
    virtual void on_deadline() { timed_out(); }
    // How this client closes its link; the plain close by default.
    virtual void close_link();

    // Completions shared by the clients. Each ends the wait in progress and
    // writes its line; a failure closes the link (an aborted read does not:
    // the expiry closed it already). True: the exchange goes on.
    bool sent(const error_code& ec, std::size_t n, const std::vector<std::byte>& request);
    // Reads the 4-byte little-endian count into `count`.
    bool count_read(const error_code& ec, std::size_t n, const std::vector<std::byte>& count_bytes, int& count);
    bool body_read(const error_code& ec);
    // The response line, then the body and ip to the callback.
    void deliver(const response_callback& callback, std::vector<std::byte> body);
    // False for a reply whose command bytes (one, or FF and one) differ from
    // those of the request last sent: it answers another request (a late or
    // repeated reply) and is logged and dropped. Too short to tell: true,
    // the reply check judges it.
    bool answers_request(const std::vector<std::byte>& body);

    typename Protocol::socket socket;
    endpoint_type endpoint;
    bool log_traffic;
    // Set once a reply was dropped as another request's: the waits that
    // follow end when the first wait for this request's reply would have.
    bool keep_deadline = false;

private:
    void start_timer();
    void timer_fired(const error_code& ec, unsigned armed);

    std::vector<std::byte> request_command;  // the command bytes of the request last sent
    std::string ip_text;  // the endpoint's address, as every line shows it
    std::function<void()> finished;
    std::chrono::steady_clock::time_point deadline;
    std::size_t hidden_offset = 0;
    std::size_t hidden_length = 0;
    int timeout_seconds;
    bool waiting = false;
    bool timer_armed = false;
    unsigned timer_generation = 0;  // a wait cancelled or replaced is ignored when it completes
    boost::asio::steady_timer timer;
};

}  // namespace link_detail
