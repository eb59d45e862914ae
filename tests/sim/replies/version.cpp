#include "replies/version.h"

namespace qv_sim {

namespace {

// 02 04 AB 00 major minor
void add_protocol_reply(sim_scale& sim, const std::shared_ptr<connect_identity>& id)
{
    sim.on({0xAB}, [id](const request& r) {
        const auto v = id->get();
        return reply(reply_frame(r.command, 0, to_bytes({v.major, v.minor})));
    });
}

}  // namespace

std::shared_ptr<connect_identity> add_connect_replies(sim_scale& sim)
{
    auto id = std::make_shared<connect_identity>();
    add_protocol_reply(sim, id);
    // 02 LEN AE 00 serial bytes
    sim.on({0xAE}, [id](const request& r) { return reply(reply_frame(r.command, 0, to_bytes(id->get().serial))); });
    // 02 04 D0 00 count (u16 little-endian)
    sim.on({0xD0}, [id](const request& r) {
        const std::uint16_t n = id->get().plu_count;
        return reply(reply_frame(r.command, 0, to_bytes({n & 0xFF, n >> 8})));
    });
    return id;
}

}  // namespace qv_sim

namespace {

// The standard scale answers the protocol version 0.17 and its own serial number; its PLU count is that of the
// records it keeps (replies/records_products.cpp).
const qv_sim::replies_registration version_replies{[](qv_sim::sim_scale& sim) {
    qv_sim::add_protocol_reply(sim, std::make_shared<qv_sim::connect_identity>());
    sim.on({0xAE}, [&sim](const qv_sim::request& r) {
        return qv_sim::reply(qv_sim::reply_frame(r.command, 0, qv_sim::to_bytes(sim.serial_number())));
    });
}};

}  // namespace
