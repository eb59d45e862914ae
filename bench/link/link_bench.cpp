// Exchanges per second over each transport, and the time to ask 1, 8 and 64
// scales at once over one-shot TCP, against simulated scales on loopback.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "link/one_shot_group.h"
#include "link/permanent_tcp_client.h"
#include "sim_scale.h"

namespace {

const qv_sim::bytes frame = qv_sim::to_bytes({0x02, 0x05, 0xD0, '1', '2', '3', '4'});

// The request as the send road hands it to the link.
link_request request_of(const response_callback& callback)
{
    link_request r;
    r.frame = frame;
    r.opcode = frame_layout::opcode({std::byte{0xD0}});
    r.callback = callback;
    return r;
}

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

// One command to a list of N scales: N one-shot exchanges on one io_context.
void one_shot_exchanges(benchmark::State& state, link_transport how, std::size_t n)
{
    std::int64_t replies = 0;
    const response_callback cb = counter(replies);
    one_shot_group group;
    for (auto _ : state) {
        group.begin(n);
        for (std::size_t i = 0; i < n; ++i) group.add(how, scales()[i]->ip(), scales()[i]->port_text(), request_of(cb));
        group.run();
    }
    finish(state, replies, static_cast<std::int64_t>(n));
}

void BM_OneShotTcp(benchmark::State& state)
{
    one_shot_exchanges(state, link_transport::tcp, 1);
}

void BM_Udp(benchmark::State& state)
{
    one_shot_exchanges(state, link_transport::udp, 1);
}

void BM_KeptOpenTcp(benchmark::State& state)
{
    const qv_sim::sim_scale& sim = *scales().front();
    boost::asio::io_context context;
    auto client = std::make_unique<permanent_tcp_client>(context, sim.ip(), sim.port_text(), 4, true);
    client->run_connect(context, nullptr);
    std::int64_t replies = 0;
    const response_callback cb = counter(replies);
    for (auto _ : state) {
        const link_turn turn(client->turns(), nullptr);
        context.restart();
        client->run_exchange(context, request_of(cb), nullptr);
    }
    client.reset();
    finish(state, replies);
}

void BM_OneShotTcpScalesAtOnce(benchmark::State& state)
{
    one_shot_exchanges(state, link_transport::tcp, static_cast<std::size_t>(state.range(0)));
}

}  // namespace

BENCHMARK(BM_KeptOpenTcp)->UseRealTime();
BENCHMARK(BM_OneShotTcp)->UseRealTime();
BENCHMARK(BM_Udp)->UseRealTime();
BENCHMARK(BM_OneShotTcpScalesAtOnce)->Arg(1)->Arg(8)->Arg(64)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
