#pragma once
// The record and label tests' device: one simulated scale serving a topic's
// replies (its state in `state`), inputs set in one call, outputs read back,
// and the payloads the scale received.

#include <cstddef>
#include <algorithm>
#include <memory>
#include <type_traits>
#include <string>
#include <utility>
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
constexpr int TCP = 1;
constexpr int UDP = 0;

inline bytes U(const std::string& text)
{
    return device_test::bytes_of(text);
}

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

// A request's payload after its command bytes and password.
inline bytes data_of(const qv_sim::request& r)
{
    return r.rest.size() <= 4 ? bytes{} : bytes(r.rest.begin() + 4, r.rest.end());
}

// The payload of the last request with these command bytes; empty if none.
inline bytes payload_of(const qv_sim::sim_scale& s, const bytes& command)
{
    bytes out;
    for (const auto& r : s.requests())
        if (r.command == command) out = data_of(r);
    return out;
}

inline std::vector<bytes> commands_of(const qv_sim::sim_scale& s)
{
    std::vector<bytes> out;
    for (const auto& r : s.requests()) out.push_back(r.command);
    return out;
}

template <class State>
class scale_test : public send_test::device_test_base {
protected:
    using input = std::variant<int, std::wstring, bytes>;

    scale_test(const char* ip, std::shared_ptr<State> (*add_replies)(qv_sim::sim_scale&), int protocol = TCP)
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
    int run(C c) { return d.execute_command(static_cast<int>(c)); }

    // An output; -12345, an empty text or no bytes when absent (a failure
    // for texts and bytes).
    int out_int(P p) { return out<int>(p, -12345); }
    std::wstring out_text(P p) { return out<std::wstring>(p, {}); }
    bytes out_bytes(P p) { return out<bytes>(p, {}); }
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
    qv_sim::request last() const { return sim.requests().empty() ? qv_sim::request{} : sim.requests().back(); }
    bytes last_data() const { return data_of(last()); }

    qv_sim::sim_scale sim;
    std::shared_ptr<State> state;
};

}  // namespace record_test
