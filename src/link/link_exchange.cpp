#include "link/link_exchange.h"

#include <boost/system/system_error.hpp>

#include "link/one_shot_group.h"
#include "link/permanent_tcp_client.h"
#include "logging/log_gate.h"
#include "logging/logger.h"

// ---- Kept-open links.

link_route make_kept_open_link(const std::string& host, const std::string& port, int timeout_seconds)
{
    link_route route;
    route.transport = link_transport::tcp_kept_open;
    route.host = host;
    route.port = port;
    route.link_context = std::make_shared<boost::asio::io_context>();
    route.link = std::make_shared<permanent_tcp_client>(*route.link_context, host, port, timeout_seconds, true);
    return route;
}

void open_kept_open_link(const link_route& route, exchange_stop* stop)
{
    // The live-weight thread may pick the new link up at once.
    const link_turn turn(route.link->turns(), stop);
    if (!turn.held()) return;
    route.link->run_connect(*route.link_context, stop);
    // A scale that does not answer leaves its link closed for the next
    // request; a socket this process could not make is the process's own
    // failure, as an event loop it could not make is.
    const boost::system::error_code& failed = route.link->connect_error();
    if (link_detail::out_of_descriptors(failed)) throw boost::system::system_error(failed, "socket");
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

void link_exchange::add(const link_route& route, link_request request)
{
    if (stop_ != nullptr && stop_->raised()) return;  // nothing is sent after a stop
    switch (route.transport) {
        case link_transport::tcp_kept_open:
            return kept_open(route, std::move(request));
        case link_transport::udp:
        case link_transport::tcp:
            pending_ = true;
            group_.add(route.transport, route.host, route.port, std::move(request));
            return;
        case link_transport::none:
            return;
    }
}

void link_exchange::finish()
{
    if (!pending_) return;
    pending_ = false;
    group_.run(stop_);
}

void link_exchange::kept_open(const link_route& route, link_request request)
{
    if (!route.link || !route.link_context) return;
    permanent_tcp_client& client = *route.link;
    boost::asio::io_context& context = *route.link_context;
    // The live-weight thread shares the first scale's link: one exchange at
    // a time, from the choice of operation to the run's end, each in turn.
    const link_turn turn(client.turns(), stop_);
    // The stop is looked at again once the link is ours: a command that
    // waited for it sends nothing after a stop.
    if (!turn.held() || (stop_ != nullptr && stop_->raised())) return;
    context.restart();
    if (request.log_runs && qv_logging_internal::writes(qv_logging_internal::info_severity)) {
        // Both before the first step, which may send at once.
        Logger::i("io_service reset, starting run() for " + route.host);
        Logger::i("handlers registered, running io_service for " + route.host);
    }
    client.run_exchange(context, std::move(request), stop_);
}
