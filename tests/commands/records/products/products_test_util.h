#pragma once
// A device with one simulated scale that keeps PLU and message records, and
// short ways to set inputs, run commands and read what the scale received.

#include <memory>
#include <string>
#include <vector>

#include "replies/records_products.h"
#include "send_test_util.h"

namespace products_test {

using send_test::B;
using send_test::bytes;

inline bytes U(const std::string& text)
{
    return device_test::bytes_of(text);
}

// Little-endian bytes of `v`, `width` of them.
inline bytes le(unsigned long long v, std::size_t width)
{
    bytes out;
    for (std::size_t k = 0; k < width; ++k) out.push_back(std::byte(static_cast<std::uint8_t>(v >> (8 * k))));
    return out;
}

inline bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The command bytes of every request the scale received, in order.
inline std::vector<bytes> commands_of(const qv_sim::sim_scale& s)
{
    std::vector<bytes> out;
    for (const auto& r : s.requests()) out.push_back(r.command);
    return out;
}

// The payload of the last request with these command bytes (after the password).
inline bytes payload_of(const qv_sim::sim_scale& s, const bytes& command)
{
    bytes out;
    for (const auto& r : s.requests())
        if (r.command == command && r.rest.size() >= 4) out.assign(r.rest.begin() + 4, r.rest.end());
    return out;
}

inline bool received(const qv_sim::sim_scale& s, const bytes& command)
{
    for (const auto& r : s.requests())
        if (r.command == command) return true;
    return false;
}

class scale_test : public send_test::device_test_base {
protected:
    explicit scale_test(const std::string& ip = "127.0.0.50") : sim(ip), store(qv_sim::add_product_replies(sim)) {}

    void SetUp() override
    {
        device_test_base::SetUp();
        send_test::add_scale(d, sim, 1);
    }

    void set(ParamType p, int v) { d.set_int_param(p, d.input_params, v, false); }
    void set(ParamType p, const std::wstring& v) { d.set_string_param(p, d.input_params, v, false); }
    void set(ParamType p, const bytes& v) { d.set_bytes_array_param(p, d.input_params, v, false); }
    void drop(ParamType p) { d.input_params.erase(p); }
    int run(CommandType c) { return d.execute_command(static_cast<int>(c)); }

    int out_int(ParamType p)
    {
        int v = -12345;
        d.get_int_param(p, d.output_params, v, false);
        return v;
    }
    std::wstring out_text(ParamType p)
    {
        std::wstring v;
        d.get_string_param(p, d.output_params, v, false);
        return v;
    }
    bytes out_bytes(ParamType p)
    {
        bytes v;
        d.get_bytes_array_param(p, d.output_params, v, false);
        return v;
    }
    bytes in_bytes(ParamType p)
    {
        bytes v;
        d.get_bytes_array_param(p, d.input_params, v, false);
        return v;
    }

    // Every input of an extended PLU record, each a distinct value.
    void set_extended_inputs(bool utf8)
    {
        set(ParamType::PLUNumber, 513);
        set(ParamType::ItemCode, 9876543);
        if (utf8) {
            set(ParamType::NameFirst, U("Сыр \"Российский\" весовой, 45% жирности"));
            set(ParamType::NameSecond, U("Cheese"));
            set(ParamType::ROSTEST, U("РСТ-77"));
        } else {
            set(ParamType::NameFirst, std::wstring(L"Сыр Российский"));
            set(ParamType::NameSecond, std::wstring(L"Cheese"));
            set(ParamType::ROSTEST, std::wstring(L"РС77"));
        }
        set(ParamType::Price, 1234567);
        set(ParamType::BCFormat, 6);
        set(ParamType::LabelFormat, 3);
        set(ParamType::ShelfLife, 365);
        set(ParamType::Tare, 15000);
        set(ParamType::GroupCode, 9999);
        set(ParamType::MessageNumber, 4242);
        set(ParamType::GoodsType, 5);
        set(ParamType::ShelfLifeDate, B({0x1F, 0x0C, 0x63}));
    }

    qv_sim::sim_scale sim;
    std::shared_ptr<qv_sim::product_store> store;
};

}  // namespace products_test
