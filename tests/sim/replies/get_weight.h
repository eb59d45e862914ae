#pragma once
// What a simulated scale answers to the weight request (FF 41): a reading
// with a settable weight, tare and state byte, or a scripted failure. Every
// poll is timestamped, so a test can check the period between polls.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim_scale.h"

namespace qv_sim {

class weight_source {
public:
    enum class answer {
        reading,  // 02 0C FF 41 00 weight tare state
        silence,  // no reply at all
        result,  // 02 03 FF 41 code
        bad_stx,  // a reading whose first byte is not 0x02
        short_reading,  // result 0 but only half a reading: 02 07 FF 41 00 w0 w1 w2 w3
    };
    using clock = std::chrono::steady_clock;

    void set_reading(std::int32_t weight, std::int32_t tare, std::uint8_t state);
    void set_answer(answer a, std::uint8_t result = 0);

    std::size_t polls() const;
    std::vector<clock::time_point> poll_times() const;
    bool wait_for_polls(std::size_t n, std::chrono::milliseconds timeout) const;

    // The serving side: records the poll and makes its reply.
    reply serve(const request& r);

private:
    mutable std::mutex mu_;
    mutable std::condition_variable polled_;
    std::int32_t weight_ = 1250;
    std::int32_t tare_ = 50;
    std::uint8_t state_ = 0x01;
    answer answer_ = answer::reading;
    std::uint8_t result_ = 0;
    std::vector<clock::time_point> times_;
};

// Installs the weight reply on `sim` and returns its source (a reading of
// 1250 with tare 50 and state 01 until changed).
std::shared_ptr<weight_source> add_weight_replies(sim_scale& sim);

}  // namespace qv_sim
