#include "replies/scenarios.h"

#include <algorithm>
#include <string>

namespace qv_sim {

bytes scenario_part(std::uint16_t total, const std::vector<scenario_entry>& entries)
{
    const std::size_t count = entries.size();
    bytes data = to_bytes({total & 0xFF, total >> 8, static_cast<int>(count & 0xFF), static_cast<int>(count >> 8)});
    for (const scenario_entry& e : entries) {
        data.push_back(std::byte{e.number});
        data.push_back(static_cast<std::byte>(e.name.size()));
        data.insert(data.end(), e.name.begin(), e.name.end());
        data.push_back(static_cast<std::byte>(e.second.size()));
        data.insert(data.end(), e.second.begin(), e.second.end());
    }
    return data;
}

void scenario_script::set_list(const std::vector<scenario_entry>& entries, std::size_t per_part)
{
    const auto total = static_cast<std::uint16_t>(entries.size());
    std::vector<reply_sequence::step> parts;
    std::size_t k = 0;
    do {
        const std::size_t n = std::min(per_part, entries.size() - k);
        parts.push_back({0, scenario_part(total, {entries.begin() + static_cast<std::ptrdiff_t>(k),
                                                  entries.begin() + static_cast<std::ptrdiff_t>(k + n)})});
        k += n;
    } while (k < entries.size() && per_part > 0);
    list.set(std::move(parts), true);
}

std::shared_ptr<scenario_script> add_scenario_replies(sim_scale& sim)
{
    auto script = std::make_shared<scenario_script>();
    script->set_list({{1, to_bytes(std::string("Fruit")), to_bytes(std::string("Fruit and vegetables"))},
                      {2, to_bytes(std::string("Bakery")), {}},
                      {3, to_bytes(std::string("Deli")), to_bytes(std::string("Cheese counter"))}},
                     2);
    script->encrypt_status.set({result_step(172), result_step(0)});

    sim.on({0x2E}, [script](const request& r) {
        const reply_sequence::step s = script->list.next();
        return reply(reply_frame(r.command, s.result, s.data));
    });
    const auto remember = [script](const request& r) {
        {
            // After the 4 password bytes.
            std::lock_guard<std::mutex> lock(script->mu);
            script->last_choice.assign(
                r.rest.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(4, r.rest.size())), r.rest.end());
        }
        return reply(reply_frame(r.command, 0));
    };
    sim.on({0x2F}, remember);
    sim.on({0xFF, 0x39}, remember);
    sim.on({0xFF, 0x40}, [script](const request& r) {
        const reply_sequence::step s = script->encrypt_status.next();
        return reply(reply_frame(r.command, s.result, s.data));
    });
    return script;
}

}  // namespace qv_sim

namespace {

const qv_sim::replies_registration scenario_replies{[](qv_sim::sim_scale& sim) { qv_sim::add_scenario_replies(sim); }};

}  // namespace
