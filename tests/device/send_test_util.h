#pragma once
// Helpers of the sending and connect tests: scale list entries pointing at
// simulated scales, and byte literals.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/device.h"
#include "sim_scale.h"

namespace send_test {

inline std::vector<std::byte> B(std::initializer_list<int> values)
{
    std::vector<std::byte> out;
    for (int v : values) out.push_back(static_cast<std::byte>(v));
    return out;
}

inline std::vector<std::byte> cat(std::vector<std::byte> a, const std::vector<std::byte>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline void add_scale(device& d, const std::string& ip, const std::string& port, int protocol,
                      const std::string& password = "1234")
{
    scale_connect_data s;
    s.ip = ip;
    s.port = port;
    s.password = password;
    s.protocol = protocol;
    d.ip_address_list.push_back(s);
}

inline void add_scale(device& d, const qv_sim::sim_scale& sim, int protocol, const std::string& password = "1234")
{
    add_scale(d, sim.ip(), sim.port_text(), protocol, password);
}

// Stores the connect parameters of one scale in the device's input map.
inline void set_connect_params(device& d, const std::string& ip, const std::string& port, int protocol,
                               const std::string& password = "1234")
{
    d.set_string_param(ParamType::Ip, d.input_params, std::wstring(ip.begin(), ip.end()));
    d.set_string_param(ParamType::Port, d.input_params, std::wstring(port.begin(), port.end()));
    d.set_string_param(ParamType::AdminPassword, d.input_params, std::wstring(password.begin(), password.end()));
    d.set_int_param(ParamType::Protocol, d.input_params, protocol);
    d.set_int_param(ParamType::ConnectTimeout, d.input_params, 1);
}

}  // namespace send_test
