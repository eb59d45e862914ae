#pragma once
// Shared by the polling tests: shortened poll periods for the length of a
// test, and running a command while a second thread stops it.

#include <chrono>
#include <cstddef>
#include <functional>
#include <thread>

#include "commands/prediction/polling.h"
#include "core/device.h"
#include "sim_scale.h"

namespace poll_test {

using namespace std::chrono_literals;

// Puts the given periods and bounds in force and the previous ones back.
class short_polls {
public:
    explicit short_polls(std::chrono::milliseconds period = 5ms, int reset_tries = 500, int reset_failures = 10)
        : saved_(qv_polling_internal::timing())
    {
        auto& t = qv_polling_internal::timing();
        t.recognition_period = period;
        t.encryption_period = period;
        t.reset_period = period;
        t.reset_tries = reset_tries;
        t.reset_failed_exchanges = reset_failures;
    }
    ~short_polls() { qv_polling_internal::timing() = saved_; }
    short_polls(const short_polls&) = delete;
    short_polls& operator=(const short_polls&) = delete;

private:
    qv_polling_internal::poll_timing saved_;
};

struct stopped_run {
    int result = 0;
    int stop_result = 0;
    std::chrono::milliseconds after_stop{0};  // from the stop command to the command's end
};

// Runs `command`; once `sim` has received `requests` requests, another
// thread sends the stop command. The stop thus always meets the running
// command, never an idle device.
inline stopped_run run_and_stop(device& d, int command, const qv_sim::sim_scale& sim, std::size_t requests)
{
    stopped_run run;
    std::chrono::steady_clock::time_point stopped_at{};
    std::thread stopper([&] {
        if (!sim.wait_for_requests(requests, 10s)) return;
        stopped_at = std::chrono::steady_clock::now();
        run.stop_result = d.execute_command(127);
    });
    run.result = d.execute_command(command);
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    run.after_stop = std::chrono::duration_cast<std::chrono::milliseconds>(ended - stopped_at);
    return run;
}

}  // namespace poll_test
