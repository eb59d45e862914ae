#include "replies/systems.h"

#include <cstddef>
#include <string>

namespace qv_sim {

namespace {

constexpr std::uint8_t invalid_parameter = 124;
constexpr std::uint8_t clock_is_synchronised = 209;
constexpr std::size_t password_size = 4;

std::uint8_t at(const bytes& b, std::size_t k)
{
    return std::to_integer<std::uint8_t>(b[k]);
}

// The payload after the 4 password bytes; false when the request is shorter
// than the password and `need` payload bytes.
bool payload(const request& r, std::size_t need, bytes& out)
{
    if (r.rest.size() < password_size + need) return false;
    out.assign(r.rest.begin() + password_size, r.rest.end());
    return true;
}

using settings = std::shared_ptr<scale_settings>;
using values = scale_settings_values;

// A setter of one byte: 124 when the byte is missing.
void byte_setter(sim_scale& sim, const octets& command, const settings& s, std::uint8_t values::*field)
{
    sim.on(command, [s, field](const request& r) {
        bytes p;
        if (!payload(r, 1, p)) return reply(reply_frame(r.command, invalid_parameter));
        s->update([&](values& v) { v.*field = at(p, 0); });
        return reply(reply_frame(r.command, 0));
    });
}

void byte_getter(sim_scale& sim, const octets& command, const settings& s, std::uint8_t values::*field)
{
    sim.on(command,
           [s, field](const request& r) { return reply(reply_frame(r.command, 0, to_bytes({s->get().*field}))); });
}

// An action that only counts.
void counter(sim_scale& sim, const octets& command, const settings& s, int values::*field)
{
    sim.on(command, [s, field](const request& r) {
        s->update([&](values& v) { ++(v.*field); });
        return reply(reply_frame(r.command, 0));
    });
}

// A text inside a JSON string: quotes, backslashes and control characters escaped.
std::string json_text(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static const char digits[] = "0123456789abcdef";
            out += "\\u00";
            out += digits[(c >> 4) & 0xF];
            out += digits[c & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

bytes three(const std::array<std::uint8_t, 3>& v)
{
    return to_bytes({v[0], v[1], v[2]});
}

void add_settings(sim_scale& sim, const settings& s)
{
    counter(sim, {0x13}, s, &values::beeps);
    byte_setter(sim, {0x24}, s, &values::date_format);
    // The new password replaces the one the scale checks (when it checks one):
    // the next request must carry it.
    sim.on({0x16}, [s, &sim](const request& r) {
        bytes p;
        if (!payload(r, password_size, p)) return reply(reply_frame(r.command, invalid_parameter));
        const std::string password(reinterpret_cast<const char*>(p.data()), password_size);
        s->update([&](values& v) { v.password = password; });
        if (sim.admin_password()) sim.set_admin_password(password);
        return reply(reply_frame(r.command, 0));
    });
    sim.on({0xAC},
           [s](const request& r) { return reply(reply_frame(r.command, 0, three(s->get().front_app_version))); });
    byte_getter(sim, {0xAD}, s, &values::model_version);
    byte_getter(sim, {0xB6}, s, &values::logging);
    byte_setter(sim, {0xB7}, s, &values::logging);
    // 02 LEN FF 17 00 n(u16) document
    sim.on({0xFF, 0x17}, [s, &sim](const request& r) {
        std::string doc = s->get().information;
        if (doc.empty())
            doc =
                R"({"model":"QV-SIM","serialNumber":")" + json_text(sim.serial_number()) + R"(","firmware":"1.2.30"})";
        bytes data = to_bytes({static_cast<int>(doc.size() & 0xFF), static_cast<int>((doc.size() >> 8) & 0xFF)});
        const bytes text = to_bytes(doc);
        data.insert(data.end(), text.begin(), text.end());
        return reply(reply_frame(r.command, 0, data));
    });
    counter(sim, {0xB8}, s, &values::reloads);
    byte_getter(sim, {0xFF, 0x03}, s, &values::language);
    byte_setter(sim, {0xFF, 0x04}, s, &values::language);
    // duration, u16 n + title, u16 n + text
    sim.on({0xFF, 0x05}, [s](const request& r) {
        bytes p;
        if (!payload(r, 5, p)) return reply(reply_frame(r.command, invalid_parameter));
        const std::size_t title = at(p, 1) | static_cast<std::size_t>(at(p, 2)) << 8;
        if (p.size() < 5 + title) return reply(reply_frame(r.command, invalid_parameter));
        const std::size_t text = at(p, 3 + title) | static_cast<std::size_t>(at(p, 4 + title)) << 8;
        if (p.size() != 5 + title + text) return reply(reply_frame(r.command, invalid_parameter));
        s->update([&](values& v) {
            v.message_duration = at(p, 0);
            v.message_title.assign(p.begin() + 3, p.begin() + 3 + static_cast<std::ptrdiff_t>(title));
            v.message_text.assign(p.begin() + 5 + static_cast<std::ptrdiff_t>(title), p.end());
        });
        return reply(reply_frame(r.command, 0));
    });
    counter(sim, {0x30}, s, &values::zeroings);
    sim.on({0x31}, [s](const request& r) {
        bytes p;
        if (!payload(r, 0, p)) return reply(reply_frame(r.command, invalid_parameter));
        s->update([&](values& v) { v.tare = p; });
        return reply(reply_frame(r.command, 0));
    });
    byte_getter(sim, {0xFF, 0x62}, s, &values::data_processing_method);
    byte_setter(sim, {0xFF, 0x63}, s, &values::data_processing_method);
}

void add_clock(sim_scale& sim, const settings& s)
{
    // Time: hour, minute, second. Date: day, month, year, and optionally the time.
    sim.on({0x21}, [s](const request& r) {
        bytes p;
        if (s->get().time_sync != 0) return reply(reply_frame(r.command, clock_is_synchronised));
        if (!payload(r, 3, p)) return reply(reply_frame(r.command, invalid_parameter));
        s->update([&](values& v) { v.time = {at(p, 0), at(p, 1), at(p, 2)}; });
        return reply(reply_frame(r.command, 0));
    });
    sim.on({0x22}, [s](const request& r) {
        bytes p;
        if (s->get().time_sync != 0) return reply(reply_frame(r.command, clock_is_synchronised));
        if (!payload(r, 3, p)) return reply(reply_frame(r.command, invalid_parameter));
        s->update([&](values& v) {
            v.date = {at(p, 0), at(p, 1), at(p, 2)};
            if (p.size() >= 6) v.time = {at(p, 3), at(p, 4), at(p, 5)};
        });
        return reply(reply_frame(r.command, 0));
    });
    sim.on({0x2A}, [s](const request& r) { return reply(reply_frame(r.command, 0, three(s->get().time))); });
    sim.on({0x2B}, [s](const request& r) { return reply(reply_frame(r.command, 0, three(s->get().date))); });
    // flag, n, n bytes of time zone
    sim.on({0xFF, 0x65}, [s](const request& r) {
        const values v = s->get();
        bytes data = to_bytes({v.time_sync, static_cast<int>(v.time_zone.size() & 0xFF)});
        const bytes zone = to_bytes(v.time_zone);
        data.insert(data.end(), zone.begin(), zone.end());
        return reply(reply_frame(r.command, 0, data));
    });
    sim.on({0xFF, 0x66}, [s](const request& r) {
        bytes p;
        if (!payload(r, 2, p) || p.size() != 2u + at(p, 1)) return reply(reply_frame(r.command, invalid_parameter));
        s->update([&](values& v) {
            v.time_sync = at(p, 0);
            v.time_zone.assign(reinterpret_cast<const char*>(p.data()) + 2, p.size() - 2);
        });
        return reply(reply_frame(r.command, 0));
    });
}

}  // namespace

std::shared_ptr<scale_settings> add_settings_replies(sim_scale& sim)
{
    auto s = std::make_shared<scale_settings>();
    add_settings(sim, s);
    add_clock(sim, s);
    return s;
}

}  // namespace qv_sim

namespace {

const qv_sim::replies_registration settings_replies{[](qv_sim::sim_scale& sim) { qv_sim::add_settings_replies(sim); }};

}  // namespace
