// The road of a request through the exported functions: commands per second
// for the PLU count (29) of one scale over one-shot TCP and over a kept-open
// connection, and the time of one serial-number request (47) to 1, 8 and 64
// scales at once. Scales are simulated on 127.0.0.x.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "quorvix_driver.h"
#include "replies/version.h"
#include "sim_scale.h"

namespace {

constexpr int p_ip = 1, p_port = 2, p_password = 3, p_protocol = 5, p_timeout = 291, p_connection_type = 342;
constexpr int c_connect = 0, c_plu_count = 29, c_serial = 47, c_add_ip = 79, c_connection_type = 143;

void set_scale(void* handle, const qv_sim::sim_scale& sim)
{
    set_string_param(handle, p_ip, sim.ip());
    set_string_param(handle, p_port, sim.port_text());
    set_string_param(handle, p_password, "1234");
    set_int_param(handle, p_protocol, 1);
    set_int_param(handle, p_timeout, 2);
}

void plu_count(benchmark::State& state, bool kept_open)
{
    qv_sim::sim_scale sim("127.0.0.2");
    qv_sim::add_connect_replies(sim);
    void* handle = nullptr;
    create(&handle);
    if (kept_open) {
        set_int_param(handle, p_connection_type, 1);
        execute_command(handle, c_connection_type);
    }
    set_scale(handle, sim);
    if (execute_command(handle, c_connect) != 0) state.SkipWithError("connect failed");
    for (auto _ : state) {
        if (execute_command(handle, c_plu_count) != 0) {
            state.SkipWithError("command 29 failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["connections"] = static_cast<double>(sim.connections());
    destroy(&handle);
}

void BM_PluCountOneShotTcp(benchmark::State& state)
{
    plu_count(state, false);
}
void BM_PluCountKeptOpen(benchmark::State& state)
{
    plu_count(state, true);
}

void BM_SerialNumberGroup(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<qv_sim::sim_scale>> sims;
    void* handle = nullptr;
    create(&handle);
    for (int k = 0; k < n; ++k) {
        sims.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(2 + k)));
        qv_sim::add_connect_replies(*sims.back());
        set_scale(handle, *sims.back());
        if (execute_command(handle, k == 0 ? c_connect : c_add_ip) != 0) state.SkipWithError("list not built");
    }
    for (auto _ : state) {
        if (execute_command(handle, c_serial) != 0) {
            state.SkipWithError("command 47 failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    destroy(&handle);
}

}  // namespace

// Fixed iteration counts: every one-shot exchange leaves a socket in
// TIME_WAIT, so an open-ended run could exhaust the ephemeral ports.
BENCHMARK(BM_PluCountOneShotTcp)->Iterations(3000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PluCountKeptOpen)->Iterations(3000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SerialNumberGroup)->Arg(1)->Arg(8)->Arg(64)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
