#include "link/link_exchange.h"

#include <cstdint>

#include "codecs/device_utils.h"
#include "link/one_shot_group.h"
#include "link/permanent_tcp_client.h"
#include "logging/log_gate.h"
#include "logging/logger.h"

namespace {

constexpr std::size_t tcp_count_size = 4;

}  // namespace

std::vector<std::byte> tcp_framed(const std::vector<std::byte>& frame)
{
    std::vector<std::byte> request = device_utils::convert_to_bytes_le_32(static_cast<std::uint32_t>(frame.size()));
    request.insert(request.end(), frame.begin(), frame.end());
    return request;
}

// ---- Kept-open links.

link_route make_kept_open_link(const std::string& host, const std::string& port, int timeout_seconds)
{
    link_route route;
    route.host = host;
    route.port = port;
    route.protocol = 1;
    route.kept_open = true;
    route.link_context = std::make_shared<boost::asio::io_context>();
    route.link = std::make_shared<permanent_tcp_client>(*route.link_context, host, port, timeout_seconds, true);
    return route;
}

void open_kept_open_link(const link_route& route)
{
    // The live-weight thread may pick the new link up at once.
    auto hold = route.link->lock_exchange();
    route.link->open_connection();
    route.link_context->run();
}

// ---- Stop.

void exchange_stop::notify()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ != nullptr) running_->stop();
}

bool exchange_stop::run(boost::asio::io_context& context)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = &context;
    }
    // Raised before the registration: notify() found nothing to stop.
    if (!raised()) context.run();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = nullptr;
    }
    return !raised();
}

// ---- Exchange.

link_exchange::link_exchange(one_shot_group& group, exchange_stop* stop) : group_(group), stop_(stop) {}

link_exchange::~link_exchange()
{
    if (pending_) group_.abandon();
}

void link_exchange::begin(std::size_t scales)
{
    group_.begin(scales);
}

void link_exchange::add(const link_route& route, const link_request& request, int timeout_seconds,
                        const response_callback& callback)
{
    if (stop_ != nullptr && stop_->raised()) return;  // nothing is sent after a stop
    if (route.kept_open) return kept_open(route, request, callback);
    if (route.protocol == 0) {
        pending_ = true;
        group_.add_udp(route.host, route.port, timeout_seconds, request.frame, callback, request.hidden_offset,
                       request.hidden_length, request.log_traffic);
    } else if (route.protocol == 1) {
        pending_ = true;
        group_.add_tcp(route.host, route.port, timeout_seconds, tcp_framed(request.frame), callback,
                       tcp_count_size + request.hidden_offset, request.hidden_length, request.log_traffic);
    }
}

void link_exchange::finish()
{
    if (!pending_) return;
    pending_ = false;
    group_.run(stop_);
}

void link_exchange::kept_open(const link_route& route, const link_request& request, const response_callback& callback)
{
    if (route.protocol != 1 || !route.link || !route.link_context) return;
    permanent_tcp_client& client = *route.link;
    boost::asio::io_context& context = *route.link_context;
    // The live-weight thread shares the first scale's link: one exchange at
    // a time, from the choice of operation to run()'s end.
    auto hold = client.lock_exchange();
    client.begin_exchange(tcp_count_size + request.hidden_offset, request.hidden_length);
    context.restart();
    const bool log_runs = request.log_runs && qv_logging_internal::writes(qv_logging_internal::info_severity);
    if (log_runs) Logger::i("io_service reset, starting run() for " + route.host);
    if (client.is_open())
        client.send_message(tcp_framed(request.frame), callback);
    else
        client.open_connection_and_send_message(tcp_framed(request.frame), callback);
    if (log_runs) Logger::i("handlers registered, running io_service for " + route.host);
    if (stop_ == nullptr) {
        context.run();
        return;
    }
    if (stop_->run(context)) return;
    // Stopped mid-way: the link is closed, so that no step of this exchange
    // is left queued for the next one, and the aborted steps run out now.
    client.close_connection();
    context.restart();
    context.run();
}
