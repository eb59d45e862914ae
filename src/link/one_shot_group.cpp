#include "link/one_shot_group.h"

#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>

#include "link/exchange_stop.h"
#include "link/tcp_client.h"
#include "link/udp_client.h"

namespace link_detail {

namespace {

// Descriptors open in this process now, or -1 when that cannot be told.
long open_descriptors()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    long count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
    return count - 1;  // the listing's own descriptor
}

}  // namespace

std::size_t descriptor_window(std::size_t wanted)
{
    // Counting costs more than a few connections do; one that finds no
    // descriptor waits for another to finish (make_room).
    constexpr std::size_t always = 8;
    if (wanted <= always) return wanted;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return wanted;
    const long most = static_cast<long>(std::min<rlim_t>(limit.rlim_cur, 1L << 24));
    // Left for the host's own files and sockets, and for a name look-up.
    const long margin = 16 + most / 32;
    long open = open_descriptors();
    if (open < 0) open = most / 2;
    const long room = most - open - margin;
    return room < 1 ? 1 : std::min<std::size_t>(wanted, static_cast<std::size_t>(room));
}

}  // namespace link_detail

one_shot_group::one_shot_group() = default;

one_shot_group::~one_shot_group()
{
    drop_clients();
}

void one_shot_group::begin(std::size_t scales)
{
    drop_clients();
    // One thread runs it: the caller's.
    if (!context) context = std::make_unique<boost::asio::io_context>(1);
    context->restart();
    window = link_detail::descriptor_window(scales);
    for (auto& entry : tcp_addresses) entry.second.used = false;
    for (auto& entry : udp_addresses) entry.second.used = false;
}

namespace {

template <class Protocol, class Cache>
typename Protocol::endpoint cached_address(Cache& cache, const std::string& host, const std::string& port,
                                           boost::asio::io_context& context)
{
    auto found = cache.find({host, port});
    if (found == cache.end()) {
        // The look-up the clients make: IPv4, AI_ADDRCONFIG, the first
        // result. A failure throws and is not remembered.
        typename Protocol::resolver resolver(context);
        const auto results = resolver.resolve(Protocol::v4(), host, port, Protocol::resolver::address_configured);
        found = cache.emplace(std::make_pair(host, port), typename Cache::mapped_type{*results.begin(), false}).first;
    }
    found->second.used = true;
    return found->second.to;
}

template <class Cache>
void forget_unused(Cache& cache)
{
    for (auto it = cache.begin(); it != cache.end();) it = it->second.used ? std::next(it) : cache.erase(it);
}

}  // namespace

void one_shot_group::add(link_transport how, const std::string& host, const std::string& port, link_request request)
{
    try {
        exchange next{how, {}, 0, std::move(request)};
        if (how == link_transport::tcp) {
            const auto to = cached_address<boost::asio::ip::tcp>(tcp_addresses, host, port, *context);
            next.address = to.address();
            next.port = to.port();
        } else {
            const auto to = cached_address<boost::asio::ip::udp>(udp_addresses, host, port, *context);
            next.address = to.address();
            next.port = to.port();
        }
        waiting.push_back(std::move(next));
    } catch (...) {
        drop_clients();
        throw;
    }
}

void one_shot_group::fill_window()
{
    // An exchange that ends while it starts (a connect refused at once)
    // makes room from inside start(): the loop here takes that room up.
    if (filling) return;
    filling = true;
    while (open < window && !waiting.empty()) {
        exchange next = std::move(waiting.front());
        waiting.pop_front();
        if (next.how == link_transport::tcp)
            start(tcp, std::move(next));
        else
            start(udp, std::move(next));
    }
    filling = false;
}

template <class Client>
void one_shot_group::start(std::vector<std::unique_ptr<Client>>& clients, exchange next)
{
    using endpoint = typename Client::endpoint_type;
    clients.push_back(std::make_unique<Client>(*context, endpoint(next.address, next.port), std::move(next.request)));
    Client* client = clients.back().get();
    client->report_deadlines_to(&next_deadline);
    client->when_finished([this, client] { finished(client); });
    ++open;
    const link_detail::error_code no_descriptor = client->start();
    if (!no_descriptor) return;
    // Nothing of it began: it starts again once a descriptor is free, or
    // ends here when none of this command's can be.
    --open;
    if (make_room()) {
        next.request = client->take_request();
        waiting.push_front(std::move(next));
    } else {
        client->fail_for_want_of_socket(no_descriptor);
    }
    clients.pop_back();
}

bool one_shot_group::make_room()
{
    std::size_t given_back = 0;
    for (auto& client : tcp)
        if (!client->in_exchange() && client->release_socket()) ++given_back;
    for (auto& client : udp)
        if (!client->in_exchange() && client->release_socket()) ++given_back;
    // At least one, so that the scales still waiting are each tried in turn
    // (the host may have closed something meanwhile) or each fail alike.
    window = std::max<std::size_t>(open + given_back, 1);
    return open + given_back > 0;
}

template <class Client>
void one_shot_group::finished(Client* client)
{
    --open;
    // The connection of a finished exchange stays open to the end of the
    // command, unless another scale waits for its descriptor.
    if (waiting.empty()) return;
    client->release_socket();
    fill_window();
}

void one_shot_group::expire_due(link_detail::clock::time_point now)
{
    // Deadlines only move later, so the one noted is the soonest or a past
    // one; the waits still under way say which comes next.
    next_deadline = link_detail::clock::time_point::max();
    for (auto& client : tcp) client->expire_if_due(now);
    for (auto& client : udp) client->expire_if_due(now);
    for (auto& client : tcp) next_deadline = std::min(next_deadline, client->deadline());
    for (auto& client : udp) next_deadline = std::min(next_deadline, client->deadline());
}

bool one_shot_group::run(exchange_stop* stop)
{
    try {
        bool ended = false;
        {
            const exchange_stop::watch watching(stop, *context);
            if (!context->stopped()) fill_window();  // nothing is sent once a stop is raised
            ended = link_detail::run_until_over(
                *context, [this] { return open > 0 || !waiting.empty(); }, [this] { return next_deadline; },
                [this](link_detail::clock::time_point now) { expire_due(now); });
        }
        if (!ended) {
            // Stopped: the clients and their queued steps go without running,
            // so nothing more is sent and no callback runs.
            drop_clients();
            return false;
        }
    } catch (...) {
        drop_clients();
        throw;
    }
    // Destroyed before the io_context could run any of their steps again.
    tcp.clear();
    udp.clear();
    // Addresses of scales that have left the list are forgotten.
    forget_unused(tcp_addresses);
    forget_unused(udp_addresses);
    return true;
}

void one_shot_group::drop_clients() noexcept
{
    const bool had_work = open > 0 || !tcp.empty() || !udp.empty();
    tcp.clear();
    udp.clear();
    waiting.clear();
    open = 0;
    filling = false;  // a step or hook that threw left the fill loop mid-way
    next_deadline = link_detail::clock::time_point::max();
    // Steps of the clients just destroyed may still be queued in the
    // io_context: it must never run them, so it goes too.
    if (had_work) context.reset();
}
