// Pacing of the polling loops (polling.h).

#include "commands/prediction/polling.h"

#include <algorithm>
#include <thread>

namespace qv_polling_internal {

poll_timing& timing()
{
    static poll_timing values;
    return values;
}

void pause(std::chrono::milliseconds period, const std::atomic<bool>& stop)
{
    // Slept in short slices up to a fixed deadline: a slice cut short by a
    // signal is simply followed by the next, and a stop is seen within one.
    constexpr std::chrono::milliseconds slice{10};
    const auto deadline = std::chrono::steady_clock::now() + period;
    while (!stop.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now, slice));
    }
}

}  // namespace qv_polling_internal
