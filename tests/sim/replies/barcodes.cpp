// What a simulated scale answers to the barcode prefix and structure
// commands: it keeps the prefix type, the three prefixes and the structures
// text, so that every getter answers what the last setter wrote.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "sim_scale.h"

namespace {

using qv_sim::bytes;
using qv_sim::reply;
using qv_sim::reply_frame;
using qv_sim::request;

constexpr std::uint8_t bad_value = 124;

struct barcode_settings {
    std::mutex mu;
    std::uint8_t type = 0;
    std::uint8_t prefixes[3] = {20, 21, 22};  // weighed goods, piece goods, total label
    bytes structures =
        qv_sim::to_bytes(std::string(R"({"barcodeStructures":[{"format":"EAN13","structure":"PPCCCCCMMMMMK"}]})"));
};

std::uint8_t at(const bytes& data, std::size_t k)
{
    return std::to_integer<std::uint8_t>(data[k]);
}

void add_barcode_replies(qv_sim::sim_scale& sim)
{
    auto s = std::make_shared<barcode_settings>();
    sim.on({0x72}, [s](const request& r) {
        std::lock_guard<std::mutex> lock(s->mu);
        return reply(reply_frame(r.command, 0, qv_sim::to_bytes({s->type})));
    });
    sim.on({0x73}, [s](const request& r) {
        const bytes p = after_password(r);
        if (p.size() != 1 || at(p, 0) > 3) return reply(reply_frame(r.command, bad_value));
        std::lock_guard<std::mutex> lock(s->mu);
        s->type = at(p, 0);
        return reply(reply_frame(r.command, 0));
    });
    sim.on({0x76}, [s](const request& r) {
        std::lock_guard<std::mutex> lock(s->mu);
        return reply(reply_frame(r.command, 0, qv_sim::to_bytes({s->prefixes[0], s->prefixes[1], s->prefixes[2]})));
    });
    sim.on({0x77}, [s](const request& r) {
        const bytes p = after_password(r);
        if (p.size() != 2 || at(p, 0) > 2 || at(p, 1) > 99) return reply(reply_frame(r.command, bad_value));
        std::lock_guard<std::mutex> lock(s->mu);
        s->prefixes[at(p, 0)] = at(p, 1);
        return reply(reply_frame(r.command, 0));
    });
    // 02 LEN FF 27 00 n(u16) text
    sim.on({0xFF, 0x27}, [s](const request& r) {
        std::lock_guard<std::mutex> lock(s->mu);
        bytes data = qv_sim::to_bytes(
            {static_cast<int>(s->structures.size() & 0xFF), static_cast<int>((s->structures.size() >> 8) & 0xFF)});
        data.insert(data.end(), s->structures.begin(), s->structures.end());
        return reply(reply_frame(r.command, 0, data));
    });
    sim.on({0xFF, 0x28}, [s](const request& r) {
        const bytes p = after_password(r);
        if (p.size() < 2 || p.size() - 2 != (at(p, 0) | (static_cast<std::size_t>(at(p, 1)) << 8)))
            return reply(reply_frame(r.command, bad_value));
        std::lock_guard<std::mutex> lock(s->mu);
        s->structures.assign(p.begin() + 2, p.end());
        return reply(reply_frame(r.command, 0));
    });
}

const qv_sim::replies_registration barcodes_replies{add_barcode_replies};

}  // namespace
