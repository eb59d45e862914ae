#include "link/link_common.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include <algorithm>
#include <type_traits>

#include "codecs/device_utils.h"
#include "logging/log_gate.h"
#include "logging/logger.h"

namespace link_detail {

std::string error_text(const boost::system::error_code& ec)
{
    return device_utils::safe_log_text(ec.message());
}

namespace {

constexpr std::size_t dump_limit = 100;

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

// The request's dump with the hidden span shown as "** ".
std::string request_line(const std::string& ip, std::size_t n, const std::vector<std::byte>& data,
                         std::size_t hidden_offset, std::size_t hidden_length)
{
    std::string dump = device_utils::hex_dump(data, dump_limit);
    for (std::size_t k = hidden_offset; k < hidden_offset + hidden_length && 3 * k + 2 <= dump.size(); ++k)
        dump.replace(3 * k, 2, "**");
    return "REQUEST FOR " + ip + ": (" + std::to_string(n) + " bytes) " + dump;
}

std::string step_error_line(const char* stage, const std::string& ip, const char* step,
                            const boost::system::error_code& ec)
{
    return stage + ip + ": error in " + step + " " + error_text(ec);
}

}  // namespace

template <class Protocol>
link_base<Protocol>::link_base(boost::asio::io_context& context, int timeout_seconds, bool log_traffic)
    : socket(context),
      endpoint(boost::asio::ip::address_v4::any(), 0),
      log_traffic(log_traffic),
      ip_text(endpoint.address().to_string()),
      timeout_seconds(timeout_seconds),
      timer(context)
{
}

template <class Protocol>
link_base<Protocol>::~link_base()
{
    boost::system::error_code ignored;
    socket.close(ignored);
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
void link_base<Protocol>::set_timer()
{
    waiting = true;
    if (!keep_deadline) deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    // A later deadline never needs the timer moved now: it is moved on when
    // it fires early.
    if (!timer_armed) start_timer();
}

template <class Protocol>
void link_base<Protocol>::start_timer()
{
    timer_armed = true;
    const unsigned armed = ++timer_generation;
    timer.expires_at(deadline);
    timer.async_wait([this, armed](const error_code& ec) { timer_fired(ec, armed); });
}

template <class Protocol>
void link_base<Protocol>::timer_fired(const error_code& ec, unsigned armed)
{
    if (armed != timer_generation) return;  // cancelled; a newer wait may be armed
    timer_armed = false;
    if (ec == boost::asio::error::operation_aborted || !waiting) return;
    if (std::chrono::steady_clock::now() < deadline) {
        start_timer();  // a later wait moved the deadline on
        return;
    }
    waiting = false;
    on_deadline();
}

template <class Protocol>
void link_base<Protocol>::exchange_over()
{
    waiting = false;
    if (timer_armed) {
        timer_armed = false;
        ++timer_generation;
        timer.cancel();
    }
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
    boost::system::error_code ignored;
    socket.close(ignored);
}

template <class Protocol>
bool link_base<Protocol>::sent(const error_code& ec, std::size_t n, const std::vector<std::byte>& request)
{
    stop_waiting();
    if (ec) {
        Logger::e(step_error_line("REQUEST FOR ", ip(), "handle_send_to", ec));
        close_link();
        return false;
    }
    if (traffic_logged(log_traffic)) Logger::i(request_line(ip(), n, request, hidden_offset, hidden_length));
    // The frame follows the 4-byte count on TCP.
    const std::size_t frame = std::is_same<Protocol, boost::asio::ip::tcp>::value ? 4 : 0;
    request_command.clear();
    keep_deadline = false;
    if (request.size() > frame + 2) {
        request_command.push_back(request[frame + 2]);
        if (request[frame + 2] == std::byte{0xFF} && request.size() > frame + 3)
            request_command.push_back(request[frame + 3]);
    }
    return true;
}

template <class Protocol>
bool link_base<Protocol>::answers_request(const std::vector<std::byte>& body)
{
    if (request_command.empty() || body.size() < 2 + request_command.size()) return true;
    if (std::equal(request_command.begin(), request_command.end(), body.begin() + 2)) return true;
    Logger::w(traffic_line("RESPONSE FOR ", ip(), body.size(), body) + "is not the answer to this request: dropped");
    keep_deadline = true;
    return false;
}

template <class Protocol>
bool link_base<Protocol>::count_read(const error_code& ec, std::size_t n, const std::vector<std::byte>& count_bytes,
                                     int& count)
{
    stop_waiting();
    if (ec == boost::asio::error::operation_aborted) {
        // The aborted count read names handle_receive_from: the line's settled text.
        Logger::e(step_error_line("READ MESSAGE SIZE FOR ", ip(), "handle_receive_from", ec));
        return false;
    }
    if (ec || n != 4) {
        Logger::e(step_error_line("READ MESSAGE SIZE FOR ", ip(), "handle_read_message_size", ec));
        close_link();
        return false;
    }
    auto it = count_bytes.cbegin();
    count = device_utils::parse_int32_from_byte_array_le(it, count_bytes.cend());
    if (traffic_logged(log_traffic))
        Logger::i("READ MESSAGE SIZE FOR " + ip() + ": (4 bytes) " + std::to_string(count));
    return true;
}

template <class Protocol>
bool link_base<Protocol>::body_read(const error_code& ec)
{
    stop_waiting();
    if (!ec) return true;
    Logger::e(step_error_line("RESPONSE FOR ", ip(), "handle_receive_from", ec));
    if (ec != boost::asio::error::operation_aborted) close_link();
    return false;
}

template <class Protocol>
void link_base<Protocol>::deliver(const response_callback& callback, std::vector<std::byte> body)
{
    if (traffic_logged(log_traffic)) Logger::i(traffic_line("RESPONSE FOR ", ip(), body.size(), body));
    callback(std::move(body), ip());
}

template class link_base<boost::asio::ip::tcp>;
template class link_base<boost::asio::ip::udp>;

}  // namespace link_detail
