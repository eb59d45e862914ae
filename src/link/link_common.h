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
    // Bytes of the next request dumps that the log shows as "** " (the
    // password part of a request): from `offset`, `length` bytes.
    void hide_in_log(std::size_t offset, std::size_t length)
    {
        hidden_offset = offset;
        hidden_length = length;
    }

protected:
    using error_code = boost::system::error_code;

    // The endpoint stays 0.0.0.0:0 until resolve() succeeds.
    link_base(boost::asio::io_context& context, int timeout_seconds, bool log_traffic);
    ~link_base();  // closes the socket (no shutdown)

    // First IPv4 result for host and port (AI_ADDRCONFIG); throws
    // boost::system::system_error ("resolve") and leaves the endpoint alone.
    void resolve(const std::string& host, const std::string& port);
    std::string ip() const;

    // Arms the deadline of the next wait. Each wait is numbered, so that an
    // expiry already queued when its wait completed cannot close the link
    // during the next wait; on_expiry runs only for the current wait.
    // With `renew` false the wait ends when the previous one would have: a
    // reply dropped as another request's answer gives no extra time.
    template <class OnExpiry>
    void arm_deadline(OnExpiry on_expiry, bool renew = true);
    void set_timer()
    {
        arm_deadline([this] { timed_out(); }, !keep_deadline);
    }
    void stop_waiting();
    void timed_out();  // the timeout line, then the link closed

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
    typename Protocol::endpoint endpoint;
    bool log_traffic;
    // Set once a reply was dropped as another request's: the waits that
    // follow end when the first wait for this request's reply would have.
    bool keep_deadline = false;

private:
    std::vector<std::byte> request_command;  // the command bytes of the request last sent
    std::chrono::steady_clock::time_point deadline;
    std::size_t hidden_offset = 0;
    std::size_t hidden_length = 0;
    int timeout_seconds;
    bool waiting = false;
    unsigned wait_id = 0;
    boost::asio::steady_timer timer;
};

template <class Protocol>
template <class OnExpiry>
void link_base<Protocol>::arm_deadline(OnExpiry on_expiry, bool renew)
{
    waiting = true;
    const unsigned id = ++wait_id;
    if (renew) deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    timer.expires_at(deadline);
    timer.async_wait([this, id, on_expiry](const error_code& ec) {
        if (ec == boost::asio::error::operation_aborted || !waiting || id != wait_id) return;
        waiting = false;
        on_expiry();
    });
}

}  // namespace link_detail
