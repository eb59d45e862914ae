#pragma once
// A simulated scale on loopback for tests, benchmarks and host developers.
//
// One instance listens on its own 127.0.0.x address, TCP and UDP on the same
// port (chosen by the system unless given). TCP: every connection may carry
// many requests, each a 4-byte little-endian count and that many frame bytes,
// each answered with a 4-byte little-endian count and the reply body. UDP:
// one datagram in, one datagram out. Every request is recorded.
//
// Scripting, by command bytes (one byte, or 0xFF and one byte):
//     sim.on({0xD0}, 0, {0x10, 0x27});              // RESULT 0, data 10 27
//     sim.on({0xFF, 0x13}, [](const request& r) {   // any reply body, and
//         return reply(reply_frame(r.command, 0, r.rest), how); });  // a fault of its own
//     fault slow; slow.delay = 1500ms;
//     sim.set_fault(slow);                          // for every reply
// Unknown commands get a plain success frame, 02 02 CMD 00.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qv_sim {

using bytes = std::vector<std::byte>;

bytes to_bytes(std::initializer_list<int> values);
bytes to_bytes(const std::string& text);  // one byte per char
std::string hex(const bytes& data);  // "02 05 D0"
bytes with_count(const bytes& frame);  // the TCP framing: 4-byte LE count + frame

// Bytes written as a list of numbers, {0xFF, 0x13}, or given as a vector.
struct octets {
    bytes value;
    octets() = default;
    octets(std::initializer_list<int> values) : value(to_bytes(values)) {}
    octets(bytes values) : value(std::move(values)) {}  // NOLINT: implicit on purpose
    operator const bytes&() const { return value; }  // NOLINT
};

enum class transport { tcp, udp };

struct request {
    transport via = transport::tcp;
    std::size_t connection = 0;  // number of the accepted TCP connection (from 1); 0 for UDP
    bytes raw;  // as received: TCP count + frame, or the datagram
    bytes frame;  // the frame: raw without the TCP count
    bytes command;  // frame[2], or frame[2..3] when frame[2] is 0xFF
    bytes rest;  // after the command bytes: password part and payload
};

// How an answer goes out; the default sends the whole reply at once.
struct fault {
    std::chrono::milliseconds delay{0};  // wait before answering
    bool silence = false;  // never answer; the link stays open
    bool close_before_reply = false;  // TCP: close the connection without answering
    bool close_mid_reply = false;  // TCP: the count and half the body, then close
    std::optional<std::size_t> cut_after;  // TCP: only the first N bytes of count + body, then close
    // Write the reply in pieces cut at these offsets, pausing between them.
    // TCP: offsets into count + body. UDP: offsets into the body, one datagram each.
    std::vector<std::size_t> split_at;
    std::chrono::milliseconds split_pause{100};
    std::optional<std::uint32_t> count;  // TCP: this length prefix instead of the body's size
    std::optional<std::size_t> truncate;  // too short: only the first N body bytes
    std::optional<std::uint8_t> first_byte;  // replaces the body's first byte
    bool empty_body = false;  // count 0 / an empty datagram
    int times = -1;  // applies to this many replies, then lapses; -1: always
};

struct reply {
    bytes body;
    fault how;
    reply() = default;
    reply(bytes b) : body(std::move(b)) {}  // NOLINT: implicit on purpose, handlers return bodies
    reply(bytes b, fault f) : body(std::move(b)), how(std::move(f)) {}
};

using handler = std::function<reply(const request&)>;

// The reply layout that the driver validates: 02 LEN CMD.. RESULT data, LEN
// being the size after the first two bytes (0xFF above 254).
bytes reply_frame(const octets& command, std::uint8_t result, const octets& data = {});

// The request's payload: what follows the command bytes and the four
// password bytes (empty when the request is shorter).
bytes after_password(const request& r);

class sim_scale {
public:
    // Starts serving at once; throws std::runtime_error when it cannot listen.
    explicit sim_scale(std::string ip = "127.0.0.2", std::uint16_t port = 0);
    ~sim_scale();
    sim_scale(const sim_scale&) = delete;
    sim_scale& operator=(const sim_scale&) = delete;

    const std::string& ip() const { return ip_; }
    std::uint16_t port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

    // ---- Scripting; may change while the scale serves.
    void on(const octets& command, handler h);
    void on(const octets& command, std::uint8_t result, const octets& data = {});
    void set_fault(const fault& f);  // for every reply; overrides the handler's own
    // The scale's admin password (four characters, sent as their bytes).
    // Once chosen, every request that carries a password is checked against
    // it alike and answered 122 on a mismatch; the file, folder and download
    // replies, which check theirs themselves, take the same one at every
    // request. Unset by default: nothing is checked centrally. Once chosen,
    // the password request (16) of the standard replies replaces it with the
    // new one.
    void set_admin_password(const std::string& four_chars);
    std::optional<std::string> admin_password() const;
    // The serial number the scale answers (AE) and names in its information
    // document; QVSIM0001 until set.
    void set_serial_number(std::string serial);
    std::string serial_number() const;
    void clear_faults();
    // Called for every request after it is recorded, on the serving thread.
    void set_observer(std::function<void(const request&)> observer);

    // ---- Records.
    std::vector<request> requests() const;
    std::size_t request_count() const;
    bool wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const;
    void clear_requests();
    std::size_t connections() const;  // TCP connections accepted so far

    // Closes every open TCP connection, with an RST by default (an orderly
    // close otherwise), and returns once they are all gone (a delayed reply
    // still goes out first).
    void drop_connections(bool reset = true);

    // Stops serving and joins every thread; also run by the destructor.
    void stop();

private:
    struct connection {
        std::size_t number = 0;
        int fd = -1;  // closed and set to -1 under mu_ when the connection ends
        std::thread thread;
    };

    void accept_loop();
    void udp_loop();
    void serve(connection& c);
    bool send_tcp(int fd, const reply& r);
    reply answer(request& r);  // records r, then makes its reply
    bool password_refused(const request& r) const;  // under mu_
    void reap(bool all);

    std::string ip_;
    std::uint16_t port_ = 0;
    int listen_fd_ = -1;
    int udp_fd_ = -1;
    int stop_fd_ = -1;  // eventfd: readable once stop() has begun
    bool stopped_ = false;
    std::thread accept_thread_;
    std::thread udp_thread_;

    mutable std::mutex mu_;
    mutable std::condition_variable changed_;
    std::list<connection> connections_;
    std::size_t accepted_ = 0;
    std::vector<request> requests_;
    std::map<bytes, handler> handlers_;
    std::optional<fault> fault_;
    std::optional<bytes> admin_password_;
    std::string serial_ = "QVSIM0001";
    std::function<void(const request&)> observer_;
};

// Values a topic's replies keep, shared between the serving thread and the
// test that scripts them: every read is a consistent copy, every change one
// step under the lock.
template <class T>
class locked {
public:
    locked() = default;
    explicit locked(T initial) : v_(std::move(initial)) {}
    T get() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return v_;
    }
    template <class F>
    void update(F change)
    {
        std::lock_guard<std::mutex> lock(mu_);
        change(v_);
    }

protected:
    mutable std::mutex mu_;
    T v_;
};

// The replies of every command the driver knows, with plausible data; used by
// the standalone program and available to tests. Each topic's file
// (replies/<topic>.cpp) registers the function that installs its replies:
//     const replies_registration states{[](sim_scale& sim) { add_state_replies(sim); }};
void add_standard_replies(sim_scale& sim);

class replies_registration {
public:
    explicit replies_registration(std::function<void(sim_scale&)> install);
};

}  // namespace qv_sim
