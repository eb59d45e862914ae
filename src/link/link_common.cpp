#include "link/link_common.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/udp.hpp>

#include "codecs/device_utils.h"
#include "logging/log_gate.h"
#include "logging/logger.h"

namespace link_detail {

std::string error_text(const error_code& ec)
{
    return device_utils::safe_log_text(ec.message());
}

namespace {

constexpr std::size_t dump_limit = 100;
constexpr std::size_t tcp_count_size = 4;

// Traffic lines are built only for a log that writes them.
bool traffic_logged(bool log_traffic)
{
    return log_traffic && qv_logging_internal::writes(qv_logging_internal::info_severity);
}

// stage + ip + ": (" + n + " bytes) " + "%02X " dump of at most 100 bytes.
std::string traffic_line(const char* stage, const std::string& ip, std::size_t n, const std::vector<std::byte>& data)
{
    return stage + ip + ": (" + std::to_string(n) + " bytes) " + device_utils::hex_dump(data, dump_limit);
}

std::string step_error_line(const char* stage, const std::string& ip, const char* step, const error_code& ec)
{
    return stage + ip + ": error in " + step + " " + error_text(ec);
}

}  // namespace

bool would_block(const error_code& ec)
{
    return ec == boost::asio::error::would_block || ec == boost::asio::error::try_again;
}

bool out_of_descriptors(const error_code& ec)
{
    return ec == boost::system::errc::too_many_files_open || ec == boost::system::errc::too_many_files_open_in_system;
}

// ---- What every client shares.

template <class Protocol>
link_base<Protocol>::link_base(boost::asio::io_context& context, int timeout_seconds, bool log_traffic)
    : socket(context),
      endpoint(boost::asio::ip::address_v4::any(), 0),
      log_traffic(log_traffic),
      ip_text(endpoint.address().to_string()),
      timeout_seconds(timeout_seconds)
{
}

template <class Protocol>
link_base<Protocol>::~link_base()
{
    release_socket();
}

template <class Protocol>
void link_base<Protocol>::resolve(const std::string& host, const std::string& port)
{
    typename Protocol::resolver resolver(socket.get_executor());
    auto results = resolver.resolve(Protocol::v4(), host, port, Protocol::resolver::address_configured);
    set_endpoint(*results.begin());
}

template <class Protocol>
void link_base<Protocol>::set_endpoint(const endpoint_type& to)
{
    endpoint = to;
    ip_text = endpoint.address().to_string();
}

template <class Protocol>
void link_base<Protocol>::begin_exchange()
{
    keep_deadline = false;
    waiting = false;
    exchanging = true;
}

template <class Protocol>
error_code link_base<Protocol>::open_socket()
{
    // Flags given to socket() itself: set afterwards, a fork and exec on
    // another of the host's threads could come in between.
    const Protocol v4 = Protocol::v4();
    const int fd = ::socket(v4.family(), v4.type() | SOCK_CLOEXEC | SOCK_NONBLOCK, v4.protocol());
    if (fd < 0) return error_code(errno, boost::asio::error::get_system_category());
    error_code ec;
    socket.assign(v4, fd, ec);
    if (ec) {
        ::close(fd);
        return ec;
    }
    socket.non_blocking(true, ec);  // so that asio's own sends and receives never block either
    return ec;
}

template <class Protocol>
void link_base<Protocol>::set_timer()
{
    waiting = true;
    if (!keep_deadline) wait_deadline = clock::now() + std::chrono::seconds(timeout_seconds);
    if (earliest_deadline != nullptr && wait_deadline < *earliest_deadline) *earliest_deadline = wait_deadline;
}

template <class Protocol>
void link_base<Protocol>::expire_if_due(clock::time_point now)
{
    if (!waiting || now < wait_deadline) return;
    waiting = false;
    on_deadline();
}

template <class Protocol>
void link_base<Protocol>::exchange_over()
{
    waiting = false;
    if (!exchanging) return;
    exchanging = false;
    if (finished) {
        auto hook = std::move(finished);
        finished = nullptr;
        hook();
    }
}

template <class Protocol>
void link_base<Protocol>::timed_out()
{
    Logger::e("RESPONSE FOR " + ip() + ": timeout is done!");
    close_link();
}

template <class Protocol>
void link_base<Protocol>::close_link()
{
    release_socket();
}

template <class Protocol>
bool link_base<Protocol>::release_socket()
{
    if (!socket.is_open()) return false;
    error_code ignored;
    socket.close(ignored);
    return true;
}

template <class Protocol>
void link_base<Protocol>::fail_for_want_of_socket(const error_code& ec)
{
    Logger::e(step_error_line("REQUEST FOR ", ip(), "socket", ec));
    if (request.no_socket) request.no_socket();
}

template <class Protocol>
bool link_base<Protocol>::sent(const error_code& ec, std::size_t n, const std::byte* prefix, std::size_t prefix_size)
{
    stop_waiting();
    if (ec) {
        Logger::e(step_error_line("REQUEST FOR ", ip(), "handle_send_to", ec));
        close_link();
        return false;
    }
    if (traffic_logged(log_traffic)) {
        // The bytes as they went out (count and frame), the password as "**".
        std::vector<std::byte> head(prefix, prefix + prefix_size);
        head.insert(head.end(), request.frame.begin(),
                    request.frame.begin() + static_cast<long>(std::min(request.frame.size(), dump_limit)));
        std::string dump = device_utils::hex_dump(head, dump_limit);
        const std::size_t from = prefix_size + request.hidden_offset;
        for (std::size_t k = from; k < from + request.hidden_length && 3 * k + 2 <= dump.size(); ++k)
            dump.replace(3 * k, 2, "**");
        Logger::i("REQUEST FOR " + ip() + ": (" + std::to_string(n) + " bytes) " + dump);
    }
    keep_deadline = false;
    return true;
}

template <class Protocol>
void link_base<Protocol>::count_failed(const error_code& ec)
{
    if (ec == boost::asio::error::operation_aborted) {
        // The aborted count read names handle_receive_from: the line's settled text.
        Logger::e(step_error_line("READ MESSAGE SIZE FOR ", ip(), "handle_receive_from", ec));
        return;
    }
    Logger::e(step_error_line("READ MESSAGE SIZE FOR ", ip(), "handle_read_message_size", ec));
    close_link();
}

template <class Protocol>
bool link_base<Protocol>::reply_may_be_in() const
{
    // Just sent, the reply is still on its way: a receive tried now could
    // only find nothing. Once the request line has been written, a near
    // scale's reply is often in already, and one receive costs less than a
    // wait.
    return traffic_logged(log_traffic);
}

template <class Protocol>
void link_base<Protocol>::count_line(std::int32_t count)
{
    if (traffic_logged(log_traffic))
        Logger::i("READ MESSAGE SIZE FOR " + ip() + ": (4 bytes) " + std::to_string(count));
}

template <class Protocol>
void link_base<Protocol>::body_failed(const error_code& ec)
{
    Logger::e(step_error_line("RESPONSE FOR ", ip(), "handle_receive_from", ec));
    if (ec != boost::asio::error::operation_aborted) close_link();
}

template <class Protocol>
bool link_base<Protocol>::answers_request(const std::vector<std::byte>& reply)
{
    if (request.opcode.matches(reply)) return true;
    Logger::w(traffic_line("RESPONSE FOR ", ip(), reply.size(), reply) + "is not the answer to this request: dropped");
    keep_deadline = true;
    return false;
}

template <class Protocol>
void link_base<Protocol>::deliver(std::vector<std::byte> reply)
{
    if (traffic_logged(log_traffic)) Logger::i(traffic_line("RESPONSE FOR ", ip(), reply.size(), reply));
    request.callback(std::move(reply), ip());
}

template class link_base<boost::asio::ip::tcp>;
template class link_base<boost::asio::ip::udp>;

// ---- The TCP request and reply.

tcp_link::tcp_link(boost::asio::io_context& context, int timeout_seconds, bool log_traffic, bool guard_steps)
    : link_base(context, timeout_seconds, log_traffic), guard_steps(guard_steps)
{
}

void tcp_link::log_step_error(const char* name, const char* what) noexcept
{
    try {
        std::string line = std::string("'") + name + "' error";
        if (what != nullptr) line += ": " + device_utils::safe_log_text(what);
        Logger::e(line);
    } catch (...) {
    }
}

void tcp_link::send_request()
{
    const auto size = static_cast<std::uint32_t>(request.frame.size());
    for (std::size_t k = 0; k < tcp_count_size; ++k) count_out[k] = static_cast<std::byte>((size >> (8 * k)) & 0xFF);
    sent_bytes = 0;
    write_some();
}

void tcp_link::write_some()
{
    // Count and frame in one gathered send, tried at once: a request that
    // fits the socket's buffer (all of them but file packets on a slow
    // link) costs one system call and no wait.
    const std::size_t total = tcp_count_size + request.frame.size();
    error_code ec;
    while (sent_bytes < total && !ec) {
        std::array<boost::asio::const_buffer, 2> out;
        if (sent_bytes < tcp_count_size) {
            out[0] = boost::asio::buffer(count_out.data() + sent_bytes, tcp_count_size - sent_bytes);
            out[1] = boost::asio::buffer(request.frame);
        } else {
            out[0] = boost::asio::buffer(request.frame.data() + (sent_bytes - tcp_count_size), total - sent_bytes);
        }
        sent_bytes += socket.send(out, 0, ec);
    }
    if (would_block(ec)) {
        // The rest goes as the scale reads, within a time-out of its own.
        set_timer();
        socket.async_wait(boost::asio::socket_base::wait_write, [this](const error_code& waited) {
            step("handle_send_to", true, [&] {
                if (!waited) return write_some();
                sent(waited, 0, nullptr, 0);
                exchange_over();
            });
        });
        return;
    }
    step("handle_send_to", true, [&] {
        if (!sent(ec, sent_bytes, count_out.data(), tcp_count_size)) return exchange_over();
        read_reply();
    });
}

void tcp_link::read_reply()
{
    step("read_message_size", true, [&] {
        count_got = 0;
        counted = false;
        body.clear();
        body_got = 0;
        await_reply([this](const error_code& ec) { handle_readable(ec); });
    });
}

void tcp_link::wait_readable()
{
    socket.async_wait(boost::asio::socket_base::wait_read, [this](const error_code& ec) { handle_readable(ec); });
}

void tcp_link::handle_readable(const error_code& ec)
{
    step(counted ? "handle_receive_from" : "handle_read_message_size", true, [&] {
        if (ec) return reply_failed(ec);
        // Everything ready is read before the next wait, so that a wait
        // never begins with bytes already there.
        error_code received;
        while (receive(received))
            if (take_staged()) return;
        if (!would_block(received)) return reply_failed(received);
        wait_readable();  // within the same deadline
    });
}

bool tcp_link::receive(error_code& ec)
{
    std::size_t n = 0;
    if (counted && body_got < body.size()) {
        // A long body straight into its own buffer, never past its end.
        n = socket.receive(boost::asio::buffer(body.data() + body_got, body.size() - body_got), 0, ec);
        body_got += n;
    } else {
        staged_begin = 0;  // every staged byte has been taken by now
        n = socket.receive(boost::asio::buffer(staged), 0, ec);
        staged_end = n;
    }
    return !ec;
}

bool tcp_link::take_staged()
{
    for (;;) {
        while (!counted && count_got < tcp_count_size && staged_begin < staged_end)
            count_in[count_got++] = staged[staged_begin++];
        if (!counted) {
            if (count_got < tcp_count_size) return false;
            if (!take_count()) return true;
        }
        const std::size_t n = std::min(body.size() - body_got, staged_end - staged_begin);
        // A count of 0 leaves the body empty, its data() a null pointer that
        // no copy may be handed, even for no bytes.
        if (n > 0) std::memcpy(body.data() + body_got, staged.data() + staged_begin, n);
        body_got += n;
        staged_begin += n;
        if (body_got < body.size()) return false;

        stop_waiting();
        // A one-shot reply that nobody asked for is dropped unseen.
        if (!guard_steps && !request.callback) {
            exchange_over();
            return true;
        }
        if (!answers_request(body)) {
            // The answer may still come, within the same time-out.
            count_got = 0;
            counted = false;
            body_got = 0;
            set_timer();
            continue;
        }
        step("handle_receive_from", true, [&] {
            deliver(std::move(body));  // an empty callback throws bad_function_call
            exchange_over();
        });
        return true;
    }
}

bool tcp_link::take_count()
{
    counted = true;
    std::uint32_t raw = 0;
    for (std::size_t k = 0; k < tcp_count_size; ++k) raw |= std::to_integer<std::uint32_t>(count_in[k]) << (8 * k);
    const auto count = static_cast<std::int32_t>(raw);
    count_line(count);
    if (count < 0 || count > max_reply_size) {
        // The count sizes an allocation: a negative or absurd one is a
        // framing error, and no body is read after it. Each client keeps
        // its own line for it: the kept-open one its step's guard line.
        const std::string what = "reply size out of range: " + std::to_string(count);
        if (guard_steps)
            log_step_error("handle_read_message_size", what.c_str());
        else
            Logger::e("READ MESSAGE SIZE FOR " + ip() + ": error in handle_read_message_size " + what);
        stop_waiting();
        close_link();
        exchange_over();
        return false;
    }
    body.assign(static_cast<std::size_t>(count), std::byte{0});
    body_got = 0;
    set_timer();  // the body's own wait
    return true;
}

void tcp_link::reply_failed(const error_code& ec)
{
    stop_waiting();
    if (counted)
        body_failed(ec);
    else
        count_failed(ec);
    exchange_over();
}

}  // namespace link_detail
