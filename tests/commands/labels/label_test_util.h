#pragma once
// The label tests' device: one simulated scale serving the label replies
// (a second one on demand), parameters set in one call, and the request
// data of what a scale received.

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "replies/labels.h"
#include "send_test_util.h"

namespace label_test {

using send_test::B;
using send_test::bytes;

constexpr int TCP = 1;
constexpr int UDP = 0;

inline bytes text_bytes(const std::string& text)
{
    return device_test::bytes_of(text);
}

// The request data after the command bytes and the password.
inline bytes data_of(const qv_sim::request& r)
{
    return r.rest.size() <= 4 ? bytes{} : bytes(r.rest.begin() + 4, r.rest.end());
}

class label_test_base : public send_test::device_test_base {
protected:
    explicit label_test_base(const char* ip = "127.0.0.80", int protocol = TCP) : sim(ip)
    {
        state = qv_sim::add_label_replies(sim);
        send_test::add_scale(d, sim, protocol);
    }

    void set(ParamType p, int value) { d.set_int_param(p, d.input_params, value, false); }
    void set(ParamType p, const std::wstring& value) { d.set_string_param(p, d.input_params, value, false); }
    void set(ParamType p, const bytes& value) { d.set_bytes_array_param(p, d.input_params, value, false); }
    // Several inputs of any kind at once.
    void set(std::initializer_list<std::pair<ParamType, std::variant<int, std::wstring, bytes>>> given)
    {
        for (const auto& [p, v] : given) std::visit([this, p = p](const auto& x) { set(p, x); }, v);
    }
    int run(CommandType c) { return d.execute_command(static_cast<int>(c)); }

    int out_int(ParamType p)
    {
        int v = -12345;
        EXPECT_EQ(d.get_int_param(p, d.output_params, v, false), 0);
        return v;
    }
    bytes out_bytes(ParamType p)
    {
        bytes v;
        EXPECT_EQ(d.get_bytes_array_param(p, d.output_params, v, false), 0);
        return v;
    }
    bool has_output(ParamType p) const { return d.output_params.count(p) != 0; }

    // The last request the scale received.
    qv_sim::request last() const
    {
        const auto all = sim.requests();
        return all.empty() ? qv_sim::request{} : all.back();
    }

    qv_sim::sim_scale sim;
    std::shared_ptr<qv_sim::label_state> state;
};

}  // namespace label_test
