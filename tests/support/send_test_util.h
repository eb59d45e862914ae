#pragma once
// Byte literals, scale list entries for simulated scales, and a device with 1-second time-outs.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "core/device.h"
#include "device_test_util.h"
#include "replies/version.h"
#include "sim_scale.h"

namespace send_test {

using bytes = qv_sim::bytes;
inline bytes B(std::initializer_list<int> values)
{
    return qv_sim::to_bytes(values);
}
inline qv_sim::fault silent()
{
    qv_sim::fault f;
    f.silence = true;
    return f;
}
inline void add_scale(device& d, const qv_sim::sim_scale& sim, int protocol, const std::string& password = "1234")
{
    d.ip_address_list.push_back({sim.ip(), sim.port_text(), password, protocol, ""});
}

class device_test_base : public ::testing::Test {
protected:
    void SetUp() override { device_test::init_test_log(), d.timeout_seconds = 1; }
    device d;
};

}  // namespace send_test
