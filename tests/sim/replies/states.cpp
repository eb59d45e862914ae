#include "replies/states.h"

#include <cstddef>

namespace qv_sim {

namespace {

struct record_writer {
    bytes out;
    void u8(std::uint32_t v) { out.push_back(static_cast<std::byte>(v & 0xFF)); }
    void u16(std::uint32_t v)
    {
        u8(v);
        u8(v >> 8);
    }
    void u32(std::uint32_t v)
    {
        u16(v);
        u16(v >> 16);
    }
    template <std::size_t N>
    void raw(const std::array<std::uint8_t, N>& v)
    {
        for (std::uint8_t b : v) u8(b);
    }
};

}  // namespace

bytes state_record(const state_fields& f)
{
    record_writer w;
    w.raw(f.version);
    w.u16(f.embodiment);
    w.raw(f.version_date);
    w.u16(f.plu_count);
    w.u16(f.messages_count);
    w.u8(f.strings_in_message);
    w.u8(f.weight_limit);
    w.u8(f.discreteness);
    w.u8(f.scales_number);
    w.u16(f.label_number);
    w.u16(f.mode);
    w.u8(f.advanced_mode);
    w.u8(f.keyboard_mode);
    w.raw(f.date);
    w.raw(f.time);
    w.u8(f.date_format);
    w.u8(f.time_format);
    w.u8(f.reserved);
    w.u8(f.point_position);
    w.u8(f.packaging_on);
    w.u8(f.sound_on);
    w.u8(f.print_mode);
    w.u16(f.auto_print_weight);
    w.u8(f.printer_mode);
    w.u8(f.weight_device_mode);
    w.u16(static_cast<std::uint16_t>(f.weight));
    w.u16(f.tare);
    w.u32(static_cast<std::uint32_t>(f.cost));
    w.u32(static_cast<std::uint32_t>(f.price));
    w.u16(f.current_plu);
    w.u8(f.goods_type);
    w.u8(f.currency_equivalent_on);
    w.u32(static_cast<std::uint32_t>(f.currency_course));
    w.u32(static_cast<std::uint32_t>(f.currency_equivalent));
    w.raw(f.sum);
    w.u16(f.ethernet_status);
    w.u8(f.display_type);
    return w.out;
}

std::shared_ptr<scale_state> add_state_replies(sim_scale& sim)
{
    auto state = std::make_shared<scale_state>();
    sim.on({0x11}, [state](const request& r) { return reply(reply_frame(r.command, 0, state_record(state->get()))); });
    return state;
}

}  // namespace qv_sim

namespace {

const qv_sim::replies_registration state_replies{[](qv_sim::sim_scale& sim) { qv_sim::add_state_replies(sim); }};

}  // namespace
