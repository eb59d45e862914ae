#pragma once
// The polled commands' tests: shorter poll periods, and a stop raised from a second thread.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../command_table.h"
#include "commands/prediction/polling.h"
#include "replies/prediction.h"
#include "replies/scenarios.h"
#include "send_test_util.h"

namespace polling_test {

using namespace std::chrono_literals;
using send_test::B;
using send_test::bytes;

// Puts the given periods and bounds in force and the previous ones back.
struct short_polls {
    explicit short_polls(std::chrono::milliseconds period = 5ms, int reset_tries = 500, int reset_failures = 10)
    {
        auto& t = qv_polling_internal::timing();
        t.recognition_period = t.encryption_period = t.reset_period = period;
        t.reset_tries = reset_tries;
        t.reset_failed_exchanges = reset_failures;
    }
    ~short_polls() { qv_polling_internal::timing() = saved; }
    const qv_polling_internal::poll_timing saved = qv_polling_internal::timing();
};

struct stopped_run {
    int result = 0;
    bool stop_sent = false;
    std::chrono::steady_clock::duration after_stop{};  // from the stop to the command's end
    std::size_t at_return = 0;  // requests the scale had received when the command returned
};

// Runs `command`; once `sim` has received `requests` requests and `lag` has passed, another thread sends
// the stop (127). A stop unheeded 10 s later silences the scale, so the test fails instead of hanging.
inline stopped_run run_and_stop(device& d, int command, qv_sim::sim_scale& sim, std::size_t requests,
                                std::chrono::milliseconds lag = 0ms)
{
    stopped_run run;
    std::chrono::steady_clock::time_point stopped_at{};
    std::atomic<bool> ended{false};
    std::thread stopper([&] {
        const auto give_up = std::chrono::steady_clock::now() + 10s;
        while (!sim.wait_for_requests(requests, 10ms))
            if (ended.load() || std::chrono::steady_clock::now() > give_up) return;
        std::this_thread::sleep_for(lag);
        stopped_at = std::chrono::steady_clock::now();
        run.stop_sent = true;
        d.execute_command(127);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!ended.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
        if (!ended.load()) sim.set_fault(send_test::silent());
    });
    run.result = d.execute_command(command);
    const auto end = std::chrono::steady_clock::now();
    run.at_return = sim.request_count();
    ended.store(true);
    stopper.join();
    run.after_stop = end - stopped_at;
    sim.clear_faults();
    return run;
}

// The stop ended the command with -9, and nothing reached the scale after it returned.
inline void expect_stopped(const stopped_run& run, const qv_sim::sim_scale& sim)
{
    ASSERT_TRUE(run.stop_sent);
    EXPECT_EQ(run.result, -9);
    EXPECT_LT(run.after_stop, 5s);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sim.request_count(), run.at_return);
}

// A device with one simulated scale that serves the recognition and the scenario replies.
class polled_test : public send_test::device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        script = qv_sim::add_recognition_replies(sim);
        scenarios = qv_sim::add_scenario_replies(sim);
        send_test::add_scale(d, sim, 1);
    }
    std::size_t count_of(const bytes& command) const
    {
        const auto all = sim.requests();
        return std::count_if(all.begin(), all.end(), [&](const qv_sim::request& r) { return r.command == command; });
    }
    void silence(const bytes& command)  // the scale hears `command` but never answers it
    {
        sim.on(command, [](const qv_sim::request& r) {
            return qv_sim::reply(qv_sim::reply_frame(r.command, 0), send_test::silent());
        });
    }
    void choose(const bytes& scenario)
    {
        d.set_bytes_array_param(ParamType::Scenarios, d.input_params, scenario, false);
    }

    // A stop lands in the pause after the `requests`-th request (`period` made 10 s), or while that request
    // waits for its late reply; the scale receives no request after it.
    struct stop_case {
        const char* where;
        int command;
        std::chrono::milliseconds qv_polling_internal::poll_timing::*period;
        std::size_t requests;
        bool in_exchange;
    };
    void expect_stops(const std::vector<stop_case>& cases)
    {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.where);
            short_polls polls(5ms, 500, 2);
            qv_sim::fault late;
            late.delay = 800ms;
            if (c.in_exchange)
                sim.set_fault(late);
            else
                qv_polling_internal::timing().*c.period = 10s;
            sim.clear_requests();
            choose(B({'s'}));  // what the encryption needs; the other commands ignore it
            const stopped_run run = run_and_stop(d, c.command, sim, c.requests, c.in_exchange ? 0ms : 300ms);
            expect_stopped(run, sim);
            EXPECT_EQ(run.at_return, c.requests);
        }
    }

    qv_sim::sim_scale sim{"127.0.0.33"};
    std::shared_ptr<qv_sim::recognition_script> script;
    std::shared_ptr<qv_sim::scenario_script> scenarios;
};

}  // namespace polling_test
