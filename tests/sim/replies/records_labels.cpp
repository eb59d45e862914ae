#include "replies/records_labels.h"

#include <functional>
#include <string>

namespace qv_sim {

namespace {

using records_ptr = std::shared_ptr<label_records>;
using values = label_records::values;

constexpr std::size_t password_size = 4;

// The payload after the password; false unless it is exactly `size` bytes
// long (any size when `size` is npos).
bool payload_of(const request& r, std::size_t size, bytes& payload)
{
    if (r.rest.size() < password_size) return false;
    payload.assign(r.rest.begin() + password_size, r.rest.end());
    return size == std::string::npos || payload.size() == size;
}

reply answer(const request& r, const bytes& data = {})
{
    return reply(reply_frame(r.command, 0, data));
}

reply refuse(const request& r, std::uint8_t result)
{
    return reply(reply_frame(r.command, result));
}

std::size_t at(const bytes& data, std::size_t k)
{
    return std::to_integer<std::size_t>(data[k]);
}

bytes padded(const std::string& text, std::size_t width)
{
    bytes out = to_bytes(text);
    out.resize(width);
    return out;
}

// ---- Layout lists: getter `format` -> the list, setter `format list [trailer]`.

using layout_part = bytes label_records::layout::*;

void serve_layout_part(sim_scale& sim, const records_ptr& records, const octets& get, const octets& set,
                       layout_part part, std::size_t first_settable, std::size_t trailer, std::size_t largest)
{
    sim.on(get, [records, part](const request& r) {
        bytes p;
        if (!payload_of(r, 1, p) || at(p, 0) >= label_records::label_formats)
            return refuse(r, label_records::bad_value);
        return answer(r, records->get().layouts[at(p, 0)].*part);
    });
    sim.on(set, [records, part, first_settable, trailer, largest](const request& r) {
        const std::size_t size = (label_records::layout{}.*part).size();
        bytes p;
        if (!payload_of(r, 1 + size + trailer, p) || at(p, 0) < first_settable ||
            at(p, 0) >= label_records::label_formats)
            return refuse(r, label_records::bad_value);
        for (std::size_t k = 1; k <= size; ++k)
            if (at(p, k) > largest) return refuse(r, label_records::bad_value);
        records->update([&](values& v) {
            bytes& list = v.layouts[at(p, 0)].*part;
            list.assign(p.begin() + 1, p.begin() + 1 + static_cast<std::ptrdiff_t>(size));
        });
        return answer(r);
    });
}

// ---- Text lines, numbered from 1.

template <std::size_t N>
using lines = std::array<bytes, N> values::*;

// Windows-1251: getter `line` -> the field, setter `line field`.
template <std::size_t N>
void serve_fixed_lines(sim_scale& sim, const records_ptr& records, const octets& get, const octets& set,
                       lines<N> member, std::size_t width, std::uint8_t bad_line)
{
    sim.on(get, [records, member, bad_line](const request& r) {
        bytes p;
        if (!payload_of(r, 1, p) || at(p, 0) < 1 || at(p, 0) > N) return refuse(r, bad_line);
        return answer(r, (records->get().*member)[at(p, 0) - 1]);
    });
    sim.on(set, [records, member, width, bad_line](const request& r) {
        bytes p;
        if (!payload_of(r, 1 + width, p)) return refuse(r, label_records::bad_value);
        if (at(p, 0) < 1 || at(p, 0) > N) return refuse(r, bad_line);
        records->update([&](values& v) { (v.*member)[at(p, 0) - 1].assign(p.begin() + 1, p.end()); });
        return answer(r);
    });
}

// UTF-8: getter `line` -> `n(u16) text`, setter `line n(u16) text`.
template <std::size_t N>
void serve_counted_lines(sim_scale& sim, const records_ptr& records, const octets& get, const octets& set,
                         lines<N> member, std::uint8_t bad_line)
{
    sim.on(get, [records, member, bad_line](const request& r) {
        bytes p;
        if (!payload_of(r, 1, p) || at(p, 0) < 1 || at(p, 0) > N) return refuse(r, bad_line);
        const bytes text = (records->get().*member)[at(p, 0) - 1];
        bytes data{std::byte(text.size() & 0xFF), std::byte((text.size() >> 8) & 0xFF)};
        data.insert(data.end(), text.begin(), text.end());
        return answer(r, data);
    });
    sim.on(set, [records, member, bad_line](const request& r) {
        bytes p;
        if (!payload_of(r, std::string::npos, p) || p.size() < 3 || p.size() != 3 + at(p, 1) + 256 * at(p, 2))
            return refuse(r, label_records::bad_value);
        if (at(p, 0) < 1 || at(p, 0) > N) return refuse(r, bad_line);
        records->update([&](values& v) { (v.*member)[at(p, 0) - 1].assign(p.begin() + 3, p.end()); });
        return answer(r);
    });
}

}  // namespace

label_records::label_records()
{
    v_.update([](values& v) {
        for (layout& l : v.layouts) {
            l.basic[0] = std::byte{40};  // LabelLength
            for (std::byte& font : l.fonts) font = std::byte{1};
        }
        for (bytes& text : v.user_texts) text = bytes(user_text_width);
        v.shop_names = {padded("Sim shop", shop_name_width), bytes(shop_name_width)};
        v.shop_names_utf8[0] = to_bytes(std::string("Sim shop"));
    });
}

std::shared_ptr<label_records> add_label_record_replies(sim_scale& sim)
{
    auto records = std::make_shared<label_records>();
    using L = label_records::layout;
    constexpr std::size_t any = 255;
    serve_layout_part(sim, records, {0xA0}, {0xA1}, &L::basic, 0, 0, any);
    serve_layout_part(sim, records, {0xA2}, {0xA3}, &L::extended, 0, 0, any);
    serve_layout_part(sim, records, {0xA4}, {0xA5}, &L::fonts, label_records::first_styled_format, 2, 6);
    serve_layout_part(sim, records, {0xB4}, {0xB5}, &L::aligns, label_records::first_styled_format, 2, 6);
    serve_layout_part(sim, records, {0xFF, 0x0D}, {0xFF, 0x0E}, &L::datamatrix, 0, 0, any);
    sim.on({0xA6}, [records](const request& r) { return answer(r, bytes{std::byte{records->get().available_fonts}}); });

    serve_fixed_lines(sim, records, {0x99}, {0x9A}, &values::user_texts, label_records::user_text_width,
                      label_records::bad_value);
    serve_fixed_lines(sim, records, {0x94}, {0x95}, &values::shop_names, label_records::shop_name_width,
                      label_records::bad_shop_line);
    serve_counted_lines(sim, records, {0xFF, 0x99}, {0xFF, 0x9A}, &values::user_texts_utf8, label_records::bad_value);
    serve_counted_lines(sim, records, {0xFF, 0x94}, {0xFF, 0x95}, &values::shop_names_utf8,
                        label_records::bad_shop_line);

    sim.on({0x74}, [records](const request& r) { return answer(r, bytes{std::byte{records->get().barcode_format}}); });
    sim.on({0x75}, [records](const request& r) {
        bytes p;
        if (!payload_of(r, 1, p)) return refuse(r, label_records::bad_value);
        const std::size_t format = at(p, 0);
        if (!((format >= 6 && format <= 9) || format == 15)) return refuse(r, label_records::bad_value);
        records->update([&](values& v) { v.barcode_format = static_cast<std::uint8_t>(format); });
        return answer(r);
    });
    return records;
}

}  // namespace qv_sim

namespace {

const qv_sim::replies_registration records_label_replies{
    [](qv_sim::sim_scale& sim) { qv_sim::add_label_record_replies(sim); }};

}  // namespace
