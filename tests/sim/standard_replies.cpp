// The reply table of the simulated scale: one entry per command the driver
// knows, answering with plausible data. Unknown commands get a plain success
// frame (02 02 CMD 00), so a command needs an entry here only when its reply
// carries data. To teach the scale a command, add one line to the table:
//     {{0xD0}, result_data(0, {0x10, 0x27})},            // fixed RESULT + data
//     {{0xFF, 0x13}, [](const request& r) { ... }},      // computed reply
#include "sim_scale.h"
#include "sim_replies_connect.h"

#include <utility>

namespace qv_sim {

namespace {

// A handler answering RESULT `result` followed by fixed data.
handler result_data(std::uint8_t result, bytes data)
{
    return [result, data = std::move(data)](const request& r) {
        return reply(reply_frame(r.command, result, data));
    };
}

std::vector<std::pair<bytes, handler>> standard_table()
{
    return {
        // Entries are added here as commands are built.
    };
}

}  // namespace

void add_standard_replies(sim_scale& sim)
{
    (void)&result_data;  // used by the entries of the table
    for (auto& entry : standard_table())
        sim.on(entry.first, std::move(entry.second));
    add_connect_replies(sim);  // protocol version, serial number, PLU count
}

}  // namespace qv_sim
