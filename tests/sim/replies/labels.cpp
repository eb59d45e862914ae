// The simulated scale's answers to the label commands: setters are kept and
// answered by their getters, pictures kept block by block, prints recorded.

#include "replies/labels.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace qv_sim {

namespace {

constexpr std::uint8_t invalid_parameter = 124;

bytes with_length(const bytes& text)
{
    // Sized once: GCC 12 misreads an insert behind a two-byte list as an overflow.
    bytes out(2 + text.size());
    out[0] = std::byte(text.size() & 0xFF);
    out[1] = std::byte((text.size() >> 8) & 0xFF);
    std::copy(text.begin(), text.end(), out.begin() + 2);
    return out;
}

// The text behind a u16 length, exactly as long as announced; false when
// the length does not match the data.
bool take_text(const bytes& data, std::size_t at, bytes& text)
{
    if (data.size() < at + 2) return false;
    const std::size_t n = std::to_integer<std::size_t>(data[at]) | std::to_integer<std::size_t>(data[at + 1]) << 8;
    if (data.size() != at + 2 + n) return false;
    text.assign(data.begin() + static_cast<std::ptrdiff_t>(at + 2), data.end());
    return true;
}

// The format number a label document names, or -1.
int format_of(const bytes& document)
{
    const std::string text(reinterpret_cast<const char*>(document.data()), document.size());
    const std::string key = "\"labelFormatType\": \"";
    const std::size_t at = text.find(key);
    if (at == std::string::npos) return -1;
    return std::atoi(text.c_str() + at + key.size());
}

void add_text_pair(sim_scale& sim, const std::shared_ptr<label_state>& state, const octets& get, const octets& set,
                   bytes label_state::values::*member)
{
    sim.on(get, [state, member](const request& r) {
        return reply(reply_frame(r.command, 0, with_length(state->get().*member)));
    });
    sim.on(set, [state, member](const request& r) {
        bytes text;
        if (!take_text(after_password(r), 0, text)) return reply(reply_frame(r.command, invalid_parameter));
        state->update([&](label_state::values& v) { v.*member = text; });
        return reply(reply_frame(r.command, 0));
    });
}

void add_byte_pair(sim_scale& sim, const std::shared_ptr<label_state>& state, const octets& get, const octets& set,
                   std::uint8_t label_state::values::*member)
{
    sim.on(get, [state, member](const request& r) {
        return reply(reply_frame(r.command, 0, bytes{std::byte{state->get().*member}}));
    });
    sim.on(set, [state, member](const request& r) {
        const bytes data = after_password(r);
        if (data.size() != 1) return reply(reply_frame(r.command, invalid_parameter));
        state->update([&](label_state::values& v) { v.*member = std::to_integer<std::uint8_t>(data[0]); });
        return reply(reply_frame(r.command, 0));
    });
}

void add_format_pair(sim_scale& sim, const std::shared_ptr<label_state>& state, const octets& get, const octets& set)
{
    const bytes key = get;
    sim.on(get, [state, key](const request& r) {
        const auto formats = state->get().formats;
        const auto it = formats.find(key);
        return reply(reply_frame(r.command, 0, bytes{std::byte{it == formats.end() ? std::uint8_t{0} : it->second}}));
    });
    sim.on(set, [state, key](const request& r) {
        const bytes data = after_password(r);
        if (data.size() != 1) return reply(reply_frame(r.command, invalid_parameter));
        state->update([&](label_state::values& v) { v.formats[key] = std::to_integer<std::uint8_t>(data[0]); });
        return reply(reply_frame(r.command, 0));
    });
}

void add_print(sim_scale& sim, const std::shared_ptr<label_state>& state, const octets& command)
{
    sim.on(command, [state](const request& r) {
        state->update([&](label_state::values& v) { v.prints.push_back({r.command, after_password(r)}); });
        return reply(reply_frame(r.command, 0));
    });
}

}  // namespace

std::shared_ptr<label_state> add_label_replies(sim_scale& sim)
{
    auto state = std::make_shared<label_state>();
    using V = label_state::values;

    // Label documents: u16 n + document in, kept under the format they name.
    sim.on({0xFF, 0x18}, [state](const request& r) {
        bytes document;
        if (!take_text(after_password(r), 0, document)) return reply(reply_frame(r.command, invalid_parameter));
        const int format = format_of(document);
        if (format < 0) return reply(reply_frame(r.command, invalid_parameter));
        state->update([&](V& v) { v.documents[format] = document; });
        return reply(reply_frame(r.command, 0));
    });
    sim.on({0xFF, 0x19}, [state](const request& r) {
        const bytes data = after_password(r);
        if (data.size() != 1) return reply(reply_frame(r.command, invalid_parameter));
        const auto documents = state->get().documents;
        const auto it = documents.find(std::to_integer<int>(data[0]));
        return reply(reply_frame(r.command, 0, with_length(it == documents.end() ? bytes{} : it->second)));
    });

    add_format_pair(sim, state, {0x70}, {0x71});
    add_format_pair(sim, state, {0xFF, 0x37}, {0xFF, 0x38});
    add_format_pair(sim, state, {0xFF, 0x46}, {0xFF, 0x47});
    add_format_pair(sim, state, {0xFF, 0x48}, {0xFF, 0x49});
    add_byte_pair(sim, state, {0xFF, 0x01}, {0xFF, 0x02}, &V::currency);
    add_byte_pair(sim, state, {0xFF, 0x54}, {0xFF, 0x55}, &V::rotate);
    add_text_pair(sim, state, {0xFF, 0x45}, {0xFF, 0x44}, &V::shop_name);
    add_text_pair(sim, state, {0xFF, 0x21}, {0xFF, 0x20}, &V::shop_address);
    add_text_pair(sim, state, {0xFF, 0x60}, {0xFF, 0x61}, &V::message_tags);
    sim.on({0x25}, [state](const request& r) {
        const bytes data = after_password(r);
        if (data.size() != 1) return reply(reply_frame(r.command, invalid_parameter));
        state->update([&](V& v) { v.scale_number = std::to_integer<std::uint8_t>(data[0]); });
        return reply(reply_frame(r.command, 0));
    });

    // Pictures: C0 W H N k and 100 bytes per block; C5 N gives W H.
    sim.on({0xC0}, [state](const request& r) {
        const bytes data = after_password(r);
        if (data.size() != 104) return reply(reply_frame(r.command, invalid_parameter));
        const int k = std::to_integer<int>(data[3]);
        const std::uint8_t failure = state->block_result(k);
        if (failure != 0) return reply(reply_frame(r.command, failure));
        state->update([&](V& v) {
            auto& p = v.pictures[std::to_integer<int>(data[2])];
            p.width = std::to_integer<std::uint8_t>(data[0]);
            p.height = std::to_integer<std::uint8_t>(data[1]);
            p.blocks[k] = bytes(data.begin() + 4, data.end());
        });
        return reply(reply_frame(r.command, 0));
    });
    sim.on({0xC5}, [state](const request& r) {
        const bytes data = after_password(r);
        if (data.size() != 1) return reply(reply_frame(r.command, invalid_parameter));
        const auto pictures = state->get().pictures;
        const auto it = pictures.find(std::to_integer<int>(data[0]));
        const label_state::picture p = it == pictures.end() ? label_state::picture{} : it->second;
        return reply(reply_frame(r.command, 0, bytes{std::byte{p.width}, std::byte{p.height}}));
    });

    add_print(sim, state, {0x44});
    add_print(sim, state, {0xFF, 0x42});
    add_print(sim, state, {0xFF, 0x06});
    return state;
}

}  // namespace qv_sim

namespace {

const qv_sim::replies_registration label_replies{[](qv_sim::sim_scale& sim) { qv_sim::add_label_replies(sim); }};

}  // namespace
