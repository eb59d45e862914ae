#include "link/one_shot_group.h"

#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>

#include "link/link_exchange.h"
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
    // A few connections always fit; counting costs more than they do.
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

}  // namespace

boost::asio::ip::tcp::endpoint one_shot_group::tcp_address(const std::string& host, const std::string& port)
{
    return cached_address<boost::asio::ip::tcp>(tcp_addresses, host, port, *context);
}

boost::asio::ip::udp::endpoint one_shot_group::udp_address(const std::string& host, const std::string& port)
{
    return cached_address<boost::asio::ip::udp>(udp_addresses, host, port, *context);
}

void one_shot_group::add_tcp(const std::string& host, const std::string& port, int timeout_seconds,
                             const std::vector<std::byte>& request, const response_callback& callback,
                             std::size_t hidden_offset, std::size_t hidden_length, bool log_traffic)
{
    try {
        const auto to = tcp_address(host, port);
        add({true, to.address(), to.port(), timeout_seconds, request, callback, hidden_offset, hidden_length,
             log_traffic});
    } catch (...) {
        drop_clients();
        throw;
    }
}

void one_shot_group::add_udp(const std::string& host, const std::string& port, int timeout_seconds,
                             const std::vector<std::byte>& request, const response_callback& callback,
                             std::size_t hidden_offset, std::size_t hidden_length, bool log_traffic)
{
    try {
        const auto to = udp_address(host, port);
        add({false, to.address(), to.port(), timeout_seconds, request, callback, hidden_offset, hidden_length,
             log_traffic});
    } catch (...) {
        drop_clients();
        throw;
    }
}

void one_shot_group::add(exchange next)
{
    if (tcp.size() + udp.size() < window)
        start(std::move(next));
    else
        waiting.push_back(std::move(next));
}

void one_shot_group::start(exchange next)
{
    if (next.tcp) {
        tcp.push_back(std::make_unique<tcp_client>(*context, boost::asio::ip::tcp::endpoint(next.address, next.port),
                                                   next.timeout_seconds, next.request, next.callback,
                                                   next.log_traffic));
        tcp_client* client = tcp.back().get();
        client->hide_in_log(next.hidden_offset, next.hidden_length);
        client->when_finished([this, client] { finished(client); });
    } else {
        udp.push_back(std::make_unique<udp_client>(*context, boost::asio::ip::udp::endpoint(next.address, next.port),
                                                   next.timeout_seconds, next.request, next.callback,
                                                   next.log_traffic));
        udp_client* client = udp.back().get();
        client->hide_in_log(next.hidden_offset, next.hidden_length);
        client->when_finished([this, client] { finished(client); });
    }
}

template <class Client>
void one_shot_group::finished(Client* client)
{
    // The connection of a finished exchange stays open to the end of the
    // command, unless another scale waits for its descriptor.
    if (waiting.empty()) return;
    client->release_socket();
    exchange next = std::move(waiting.front());
    waiting.pop_front();
    start(std::move(next));
}

namespace {

template <class Cache>
void forget_unused(Cache& cache)
{
    for (auto it = cache.begin(); it != cache.end();) it = it->second.used ? std::next(it) : cache.erase(it);
}

}  // namespace

bool one_shot_group::run_context(exchange_stop* stop)
{
    if (stop == nullptr) {
        context->run();
        return true;
    }
    if (stop->run(*context)) return true;
    // Stopped: the clients and their queued steps go without running, so
    // nothing more is sent and no callback runs.
    drop_clients();
    return false;
}

bool one_shot_group::run(exchange_stop* stop)
{
    try {
        if (!run_context(stop)) return false;
        // Every exchange that ends starts a waiting one; should any still
        // wait, they get their turn all the same.
        while (!waiting.empty()) {
            for (auto& client : tcp) client->release_socket();
            for (auto& client : udp) client->release_socket();
            for (std::size_t k = 0; k < window && !waiting.empty(); ++k) {
                exchange next = std::move(waiting.front());
                waiting.pop_front();
                start(std::move(next));
            }
            context->restart();
            if (!run_context(stop)) return false;
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
    const bool had_work = !tcp.empty() || !udp.empty();
    tcp.clear();
    udp.clear();
    waiting.clear();
    // Steps of the clients just destroyed may still be queued in the
    // io_context: it must never run them, so it goes too.
    if (had_work) context.reset();
}
