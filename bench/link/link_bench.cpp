// Exchanges per second over each transport, and the time to ask 1, 8 and 64
// scales at once over one-shot TCP, against simulated scales on loopback.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "link/permanent_tcp_client.h"
#include "link/tcp_client.h"
#include "link/udp_client.h"
#include "sim_scale.h"

namespace {

const qv_sim::bytes frame = qv_sim::to_bytes({0x02, 0x05, 0xD0, '1', '2', '3', '4'});

const qv_sim::bytes tcp_request = qv_sim::with_count(frame);

// Counts the replies; finish() reports the exchanges, or an error when a
// reply went missing.
response_callback counter(std::int64_t& replies)
{
    return [&replies](std::vector<std::byte>, std::string) { ++replies; };
}

void finish(benchmark::State& state, std::int64_t replies, std::int64_t per_iteration = 1)
{
    if (replies != state.iterations() * per_iteration) state.SkipWithError("a reply was lost");
    state.SetItemsProcessed(state.iterations() * per_iteration);
}

// 64 scales on 127.0.0.2 .. 127.0.0.65, made on first use.
std::vector<std::unique_ptr<qv_sim::sim_scale>>& scales()
{
    static std::vector<std::unique_ptr<qv_sim::sim_scale>> all = [] {
        std::vector<std::unique_ptr<qv_sim::sim_scale>> v;
        for (int i = 0; i < 64; ++i)
            v.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(2 + i)));
        return v;
    }();
    return all;
}

template <class Client>
void one_shot_exchanges(benchmark::State& state, const qv_sim::bytes& request)
{
    const qv_sim::sim_scale& sim = *scales().front();
    int timeout = 4;
    std::int64_t replies = 0;
    const response_callback cb = counter(replies);
    for (auto _ : state) {
        boost::asio::io_context context;
        auto client = std::make_unique<Client>(context, sim.ip(), sim.port_text(), timeout, request, cb, true);
        context.run();
        client.reset();
    }
    finish(state, replies);
}

void BM_OneShotTcp(benchmark::State& state)
{
    one_shot_exchanges<tcp_client>(state, tcp_request);
}

void BM_Udp(benchmark::State& state)
{
    one_shot_exchanges<udp_client>(state, frame);
}

void BM_KeptOpenTcp(benchmark::State& state)
{
    const qv_sim::sim_scale& sim = *scales().front();
    boost::asio::io_context context;
    auto client = std::make_unique<permanent_tcp_client>(context, sim.ip(), sim.port_text(), 4, true);
    client->open_connection();
    context.run();
    std::int64_t replies = 0;
    const response_callback cb = counter(replies);
    for (auto _ : state) {
        auto hold = client->lock_exchange();
        context.restart();
        if (client->is_open())
            client->send_message(tcp_request, cb);
        else
            client->open_connection_and_send_message(tcp_request, cb);
        context.run();
    }
    client.reset();
    finish(state, replies);
}

// One command to a list of N scales: N one-shot clients on one io_context.
void BM_OneShotTcpScalesAtOnce(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    int timeout = 4;
    std::int64_t replies = 0;
    const response_callback cb = counter(replies);
    for (auto _ : state) {
        boost::asio::io_context context;
        std::vector<std::unique_ptr<tcp_client>> clients;
        for (std::size_t i = 0; i < n; ++i)
            clients.push_back(std::make_unique<tcp_client>(context, scales()[i]->ip(), scales()[i]->port_text(),
                                                           timeout, tcp_request, cb, true));
        context.run();
        clients.clear();
    }
    finish(state, replies, static_cast<std::int64_t>(n));
}

}  // namespace

BENCHMARK(BM_KeptOpenTcp)->UseRealTime();
BENCHMARK(BM_OneShotTcp)->UseRealTime();
BENCHMARK(BM_Udp)->UseRealTime();
BENCHMARK(BM_OneShotTcpScalesAtOnce)->Arg(1)->Arg(8)->Arg(64)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
