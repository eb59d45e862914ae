#pragma once
// What a simulated scale answers to the scenario commands: the list (2E) in
// parts, one part per request, the scale keeping its place between requests;
// the choice (2F) and the encryption (FF 39), whose scenario it remembers;
// and the encryption status (FF 40), one scripted answer per poll.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "replies/prediction.h"
#include "sim_scale.h"

namespace qv_sim {

struct scenario_entry {
    std::uint8_t number = 0;
    bytes name;
    bytes second;  // empty: sent with length 0
};

// The data of one list reply: announced total, this part's count, entries.
bytes scenario_part(std::uint16_t total, const std::vector<scenario_entry>& entries);

struct scenario_script {
    reply_sequence list;  // 2E; cycles, so a new listing starts over
    reply_sequence encrypt_status;  // FF 40

    // The list cut into parts of `per_part` entries, each announcing the
    // whole list's size.
    void set_list(const std::vector<scenario_entry>& entries, std::size_t per_part);

    // The payload of the last 2F or FF 39 request (u8 count + scenario).
    bytes chosen() const
    {
        std::lock_guard<std::mutex> lock(mu);
        return last_choice;
    }

    mutable std::mutex mu;
    bytes last_choice;
};

// Installs the replies on `sim`. Until changed: three scenarios in two
// parts, and an encryption that is over at the second status poll.
std::shared_ptr<scenario_script> add_scenario_replies(sim_scale& sim);

}  // namespace qv_sim
