#include "replies/prediction.h"

#include <string>

namespace qv_sim {

reply_sequence::step status_step(std::uint8_t status)
{
    return {0, to_bytes({status})};
}

reply_sequence::step status_step(std::uint8_t status, const bytes& text)
{
    bytes data = to_bytes({status, static_cast<int>(text.size() & 0xFF), static_cast<int>((text.size() >> 8) & 0xFF)});
    data.insert(data.end(), text.begin(), text.end());
    return {0, data};
}

reply_sequence::step result_step(std::uint8_t result)
{
    return {result, {}};
}

std::shared_ptr<recognition_script> add_recognition_replies(sim_scale& sim)
{
    auto script = std::make_shared<recognition_script>();
    const bytes items = to_bytes(std::string(R"([{"code":101,"score":0.92},{"code":205,"score":0.41}])"));
    script->prediction_status.set({status_step(1), status_step(1), status_step(0, items)});
    script->reset_status.set({status_step(1), status_step(0)});
    script->json_statistic_status.set({status_step(1), status_step(0)});
    script->archive_statistic_status.set({status_step(1), status_step(0)});

    const auto serve = [](reply_sequence& sequence) {
        return [&sequence](const request& r) {
            const reply_sequence::step s = sequence.next();
            return reply(reply_frame(r.command, s.result, s.data));
        };
    };
    // The handlers share the script's lifetime: the scale keeps them.
    sim.on({0xFF, 0x23}, [script, h = serve(script->prediction_status)](const request& r) { return h(r); });
    sim.on({0xFF, 0x59}, [script, h = serve(script->reset_status)](const request& r) { return h(r); });
    sim.on({0xFF, 0x30}, [script, h = serve(script->json_statistic_status)](const request& r) { return h(r); });
    sim.on({0xFF, 0x33}, [script, h = serve(script->archive_statistic_status)](const request& r) { return h(r); });
    // FF 22, FF 24, FF 43, FF 29 and FF 32 are acknowledged with a plain
    // success; the requests themselves are in the scale's record.
    return script;
}

}  // namespace qv_sim

namespace {

const qv_sim::replies_registration prediction_replies{
    [](qv_sim::sim_scale& sim) { qv_sim::add_recognition_replies(sim); }};

}  // namespace
