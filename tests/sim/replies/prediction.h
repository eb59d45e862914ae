#pragma once
// What a simulated scale answers to the recognition service: the recognition
// start (FF 22) and its status (FF 23), the item confirmation (FF 24), the
// camera reset (FF 43) and its status (FF 59), and the statistics requests
// (FF 29, FF 32) and their statuses (FF 30, FF 33). Each status request takes
// the next step of its script; the scripts can change while the scale serves.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "sim_scale.h"

namespace qv_sim {

// Answers served in turn, one per request: the last one repeats, or with
// `cycle` the script starts again from its first answer.
class reply_sequence {
public:
    struct step {
        std::uint8_t result = 0;  // the reply's result byte
        bytes data;  // after the result byte
    };

    void set(std::vector<step> steps, bool cycle = false)
    {
        std::lock_guard<std::mutex> lock(mu_);
        steps_ = std::move(steps);
        cycle_ = cycle;
        next_ = 0;
    }

    // The next answer; a plain success while the script is empty.
    step next()
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++served_;
        if (steps_.empty()) return {};
        if (next_ >= steps_.size()) next_ = cycle_ ? 0 : steps_.size() - 1;
        return steps_[next_++];
    }

    std::size_t served() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return served_;
    }

private:
    mutable std::mutex mu_;
    std::vector<step> steps_;
    bool cycle_ = false;
    std::size_t next_ = 0;
    std::size_t served_ = 0;
};

// A status byte alone, or followed by a u16 little-endian count and a text.
reply_sequence::step status_step(std::uint8_t status);
reply_sequence::step status_step(std::uint8_t status, const bytes& text);
// A reply whose result byte is not 0, without data.
reply_sequence::step result_step(std::uint8_t result);

struct recognition_script {
    reply_sequence prediction_status;  // FF 23
    reply_sequence reset_status;  // FF 59
    reply_sequence json_statistic_status;  // FF 30
    reply_sequence archive_statistic_status;  // FF 33
};

// Installs the replies on `sim`. Until changed: the recognition runs for two
// polls and then finds two items, the reset and the statistics are ready at
// the second poll.
std::shared_ptr<recognition_script> add_recognition_replies(sim_scale& sim);

}  // namespace qv_sim
