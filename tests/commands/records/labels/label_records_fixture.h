#pragma once
// A device talking to one simulated scale that keeps label records, with
// short helpers for inputs, outputs and the payload of the last request.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "replies/records_labels.h"
#include "send_test_util.h"

namespace label_test {

using send_test::B;
using send_test::bytes;
using P = ParamType;

class label_records_test : public send_test::device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        records = qv_sim::add_label_record_replies(sim);
        send_test::add_scale(d, sim, 1);
    }

    int run(CommandType c) { return d.execute_command(static_cast<int>(c)); }
    void set(ParamType p, int value) { d.set_int_param(p, d.input_params, value, false); }
    void set_text(ParamType p, const std::wstring& value) { d.set_string_param(p, d.input_params, value, false); }
    void set_bytes(ParamType p, const bytes& value) { d.set_bytes_array_param(p, d.input_params, value, false); }

    int out_int(ParamType p)
    {
        int value = -1;
        EXPECT_EQ(d.get_int_param(p, d.output_params, value, false), 0) << static_cast<int>(p);
        return value;
    }
    std::wstring out_text(ParamType p)
    {
        std::wstring value;
        EXPECT_EQ(d.get_string_param(p, d.output_params, value, false), 0) << static_cast<int>(p);
        return value;
    }
    bytes out_bytes(ParamType p)
    {
        bytes value;
        EXPECT_EQ(d.get_bytes_array_param(p, d.output_params, value, false), 0) << static_cast<int>(p);
        return value;
    }

    // The payload of the last request, after its four password bytes.
    bytes last_payload() const
    {
        const auto all = sim.requests();
        if (all.empty() || all.back().rest.size() < 4) return {};
        return bytes(all.back().rest.begin() + 4, all.back().rest.end());
    }

    qv_sim::sim_scale sim{"127.0.0.40"};
    std::shared_ptr<qv_sim::label_records> records;
};

}  // namespace label_test
