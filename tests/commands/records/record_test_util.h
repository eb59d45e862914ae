#pragma once
// The record and label tests' device: one simulated scale, inputs, outputs and payloads.

#include <algorithm>
#include <memory>
#include <type_traits>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "replies/labels.h"
#include "replies/records_labels.h"
#include "replies/records_products.h"
#include "send_test_util.h"

namespace record_test {

using send_test::B;
using send_test::bytes;
using P = ParamType;
using C = CommandType;

inline bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Little-endian bytes of `v`, `width` of them.
inline bytes le(unsigned long long v, std::size_t width)
{
    bytes out;
    for (std::size_t k = 0; k < width; ++k) out.push_back(std::byte(static_cast<std::uint8_t>(v >> (8 * k))));
    return out;
}

// Bytes [from, to) of `b`, as far as it reaches.
inline bytes slice(const bytes& b, std::size_t from, std::size_t to)
{
    return from >= b.size() ? bytes{} : bytes(b.begin() + from, b.begin() + std::min(to, b.size()));
}

// The payload after the password of the last request with these command
// bytes (any when empty); empty if none.
inline bytes payload_of(const qv_sim::sim_scale& s, const bytes& command = {})
{
    bytes out;
    for (const auto& r : s.requests())
        if (command.empty() || r.command == command) out = slice(r.rest, 4, r.rest.size());
    return out;
}

template <class State>
class scale_test : public send_test::device_test_base {
protected:
    using input = std::variant<int, std::wstring, bytes>;

    static bytes U(const std::string& text) { return device_test::bytes_of(text); }

    scale_test(const char* ip, std::shared_ptr<State> (*add_replies)(qv_sim::sim_scale&), int protocol = 1)
        : sim(ip), state(add_replies(sim))
    {
        send_test::add_scale(d, sim, protocol);
    }

    void set(P p, int v) { d.set_int_param(p, d.input_params, v, false); }
    void set(P p, const std::wstring& v) { d.set_string_param(p, d.input_params, v, false); }
    void set(P p, const bytes& v) { d.set_bytes_array_param(p, d.input_params, v, false); }
    void set(std::initializer_list<std::pair<P, input>> given)
    {
        for (const auto& [p, v] : given) std::visit([this, p = p](const auto& x) { set(p, x); }, v);
    }
    void drop(P p) { d.input_params.erase(p); }
    // Each command with its inputs gives its code, and nothing reaches the scale.
    using refusal = std::tuple<C, std::vector<std::pair<P, input>>, int>;
    void expect_refused(const std::vector<refusal>& cases)
    {
        const std::size_t sent = sim.request_count();
        for (const auto& [command, given, code] : cases) {
            for (const auto& [p, v] : given) set({{p, v}});
            EXPECT_EQ(run(command), code) << static_cast<int>(command);
        }
        EXPECT_EQ(sim.request_count(), sent);
    }
    int run(C c) { return d.execute_command(static_cast<int>(c)); }

    // An output (-12345 for an absent number; an absent text or bytes fails).
    int out_int(P p) { return out<int>(p, -12345); }
    template <class T>
    T out(P p, T v)
    {
        int r = 0;
        if constexpr (std::is_same_v<T, int>) d.get_int_param(p, d.output_params, v, false);
        if constexpr (std::is_same_v<T, std::wstring>) r = d.get_string_param(p, d.output_params, v, false);
        if constexpr (std::is_same_v<T, bytes>) r = d.get_bytes_array_param(p, d.output_params, v, false);
        EXPECT_EQ(r, 0) << static_cast<int>(p);
        return v;
    }
    // The output `p` read as the kind of `like`.
    input out_like(const input& like, P p)
    {
        return std::visit([&](const auto& x) -> input { return out(p, std::decay_t<decltype(x)>{}); }, like);
    }
    std::vector<bytes> commands() const
    {
        std::vector<bytes> out;
        for (const auto& r : sim.requests()) out.push_back(r.command);
        return out;
    }
    qv_sim::request last() const { return sim.requests().empty() ? qv_sim::request{} : sim.requests().back(); }
    bytes last_data() const { return payload_of(sim); }

    qv_sim::sim_scale sim;
    std::shared_ptr<State> state;
};

// Every input of an extended PLU record, each a distinct value.
class product_test : public scale_test<qv_sim::product_store> {
protected:
    explicit product_test(const char* ip = "127.0.0.50") : scale_test(ip, qv_sim::add_product_replies) {}

    void set_extended_inputs(bool utf8)
    {
        // clang-format off
        set({{P::NameFirst, utf8 ? input(U("Сыр \"Российский\" весовой, 45% жирности")) : input(L"Сыр Российский")},
             {P::NameSecond, utf8 ? input(U("Cheese")) : input(L"Cheese")},
             {P::ROSTEST, utf8 ? input(U("РСТ-77")) : input(L"РС77")}});
        set({{P::PLUNumber, 513}, {P::ItemCode, 9876543}, {P::Price, 1234567}, {P::BCFormat, 6}, {P::LabelFormat, 3},
             {P::ShelfLife, 365}, {P::Tare, 15000}, {P::GroupCode, 9999}, {P::MessageNumber, 4242}, {P::GoodsType, 5},
             {P::ShelfLifeDate, B({0x1F, 0x0C, 0x63})}});
        // clang-format on
    }
    bytes in_bytes(P p)
    {
        bytes v;
        d.get_bytes_array_param(p, d.input_params, v, false);
        return v;
    }
};

}  // namespace record_test
