// The scale list, connect in both connection types, and the protocol-version,
// serial-number and PLU-count replies, on simulated scales.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/device.h"
#include "device_test_util.h"
#include "send_test_util.h"
#include "sim_replies_connect.h"
#include "sim_scale.h"

using namespace send_test;
using bytes = std::vector<std::byte>;

namespace {

class Connecting : public ::testing::Test {
protected:
    void SetUp() override { device_test::init_test_log(); }

    std::wstring out_string(ParamType p)
    {
        std::wstring s;
        EXPECT_EQ(d.get_string_param(p, d.output_params, s, false), 0) << static_cast<int>(p);
        return s;
    }

    device d;
};

TEST_F(Connecting, ListManagement)
{
    set_connect_params(d, "127.0.0.2", "5001", 1);
    EXPECT_EQ(d.add_ip_to_list(), 0);
    EXPECT_EQ(d.add_ip_to_list(), -109);  // the port is not compared
    d.input_params.erase(ParamType::Protocol);
    d.set_string_param(ParamType::Ip, d.input_params, L"127.0.0.02");
    EXPECT_EQ(d.add_ip_to_list(), 0);  // another spelling is another text
    ASSERT_EQ(d.ip_address_list.size(), 2u);
    EXPECT_EQ(d.ip_address_list[0].protocol, 1);
    EXPECT_EQ(d.ip_address_list[1].protocol, 0);  // UDP by default
    d.set_int_param(ParamType::Ip, d.input_params, 5);
    EXPECT_EQ(d.add_ip_to_list(), -8);
    device_test::log_capture log;
    EXPECT_EQ(d.clear_ip_list(), 0);
    EXPECT_TRUE(d.ip_address_list.empty());
    EXPECT_TRUE(log.contains("clear_ip_list ip_address_list size = 0"));
    d.input_params.clear();
    EXPECT_EQ(d.connect(), -7);
}

TEST_F(Connecting, OneShotConnectReplacesTheListAndReadsTheScale)
{
    qv_sim::sim_scale sim("127.0.0.2");
    auto id = qv_sim::add_connect_replies(sim);
    id->set_serial_number(std::string("AB12\0\0", 6));  // zero bytes are dropped
    add_scale(d, "127.0.0.5", "1", 0);
    add_scale(d, "127.0.0.6", "1", 0);
    set_connect_params(d, sim.ip(), sim.port_text(), 1);
    device_test::log_capture log;
    EXPECT_EQ(d.connect(), 0);
    ASSERT_EQ(d.ip_address_list.size(), 1u);
    EXPECT_EQ(d.timeout_seconds, 1);
    EXPECT_EQ(out_string(ParamType::ScaleProtocolVersion), L"0.17");
    EXPECT_EQ(out_string(ParamType::DriverProtocolVersion), L"0.17");
    EXPECT_EQ(out_string(ParamType::SerialNumber), L"AB12");
    EXPECT_EQ(d.ip_address_list[0].serial_number, "AB12");
    EXPECT_TRUE(log.contains("clear_ip_list ip_address_list size = 0"));
    EXPECT_TRUE(log.contains("'add_ip_to_list' ip_address_list size = 1"));
    EXPECT_TRUE(log.contains(
        "Version of the protocol on the scales: 0.17. Protocol version supported by the driver: 0.17"));
    // results hold only the serial-number request's outcome
    EXPECT_EQ(d.results.size(), 1u);
    EXPECT_EQ(d.results.at("127.0.0.2"), 0);
}

TEST_F(Connecting, SilentScaleFailsConnectAndEmptiesTheList)
{
    qv_sim::sim_scale sim("127.0.0.2");
    qv_sim::fault silent;
    silent.silence = true;
    sim.set_fault(silent);
    set_connect_params(d, sim.ip(), sim.port_text(), 0);
    device_test::log_capture log;
    EXPECT_EQ(d.connect(), -1);
    EXPECT_TRUE(d.ip_address_list.empty());
    EXPECT_TRUE(log.contains("'connect' error=-1"));
}

TEST_F(Connecting, ProtocolMismatchMarksButConnectSucceeds)
{
    struct {
        int major, minor, mark;
    } table[] = {{0, 16, -108}, {0, 2, -108}, {1, 0, -107}, {0, 18, -107}, {0, 17, 0}};
    qv_sim::sim_scale sim("127.0.0.2");
    auto id = qv_sim::add_connect_replies(sim);
    d.timeout_seconds = 1;
    add_scale(d, sim, 1);
    for (const auto& row : table) {
        id->set_protocol_version(static_cast<std::uint8_t>(row.major), static_cast<std::uint8_t>(row.minor));
        d.results.clear();
        EXPECT_EQ(d.get_quorvix_protocol_version(), 0);
        EXPECT_EQ(d.results.at("127.0.0.2"), row.mark) << row.major << "." << row.minor;
        d.input_params.clear();
        d.results.clear();  // as the dispatcher does before every command
        EXPECT_EQ(d.connect(), 0);
    }
}

TEST_F(Connecting, SeveralScalesSortAsTextAndSerialsFollowTheList)
{
    qv_sim::sim_scale a("127.0.0.9"), b("127.0.0.10");
    auto ida = qv_sim::add_connect_replies(a);
    auto idb = qv_sim::add_connect_replies(b);
    ida->set_serial_number("S9");
    idb->set_serial_number("S10");
    idb->set_protocol_version(0, 18);
    d.timeout_seconds = 1;
    add_scale(d, a, 1);
    add_scale(d, b, 0);
    EXPECT_EQ(d.connect(), 0);
    // "127.0.0.9" sorts after "127.0.0.10", so its version is the one left.
    EXPECT_EQ(out_string(ParamType::ScaleProtocolVersion), L"0.17");
    EXPECT_EQ(out_string(ParamType::SerialNumber), L"127.0.0.9: S9; 127.0.0.10: S10; ");
    d.results.clear();
    EXPECT_EQ(d.get_plu_count(), 0);  // decodes the lowest IP text: .10
}

TEST_F(Connecting, GroupWithASilentScaleFailsWithMinus111)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3");
    qv_sim::add_connect_replies(a);
    qv_sim::fault silent;
    silent.silence = true;
    b.set_fault(silent);
    d.timeout_seconds = 1;
    add_scale(d, a, 0);
    add_scale(d, b, 0);
    EXPECT_EQ(d.connect(), -111);
    EXPECT_TRUE(d.ip_address_list.empty());
}

TEST_F(Connecting, ShortRepliesGiveMinus101)
{
    qv_sim::sim_scale sim("127.0.0.2");
    d.timeout_seconds = 1;
    add_scale(d, sim, 1);
    sim.on({0xD0}, 0, {0x10});  // one byte where a u16 belongs
    EXPECT_EQ(d.get_plu_count(), -101);
    EXPECT_EQ(d.output_params.count(ParamType::PLUCount), 0u);
    sim.on({0xAB}, 0, {0x00});
    d.results.clear();
    EXPECT_EQ(d.get_quorvix_protocol_version(), -101);
    EXPECT_EQ(d.output_params.count(ParamType::ScaleProtocolVersion), 0u);
    // LEN 0xFF bypasses the length check but the reply holds 2 bytes of data.
    sim.on({0xAE}, [](const qv_sim::request&) { return qv_sim::reply(B({2, 0xFF, 0xAE, 0, 'A', 'B'})); });
    d.results.clear();
    EXPECT_EQ(d.get_serial_number(), -101);
    EXPECT_EQ(d.results.at("127.0.0.2"), -101);
    // LEN 2: no data, empty serial number
    sim.on({0xAE}, [](const qv_sim::request&) { return qv_sim::reply(B({2, 2, 0xAE, 0})); });
    d.results.clear();
    EXPECT_EQ(d.get_serial_number(), 0);
    EXPECT_EQ(out_string(ParamType::SerialNumber), L"");
}

TEST_F(Connecting, KeptOpenConnectionsAreOpenedOnceAndReused)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3");
    qv_sim::add_connect_replies(a);
    qv_sim::add_connect_replies(b);
    d.permanent_connection = true;
    d.timeout_seconds = 1;
    add_scale(d, a, 1);
    add_scale(d, b, 1);
    EXPECT_EQ(d.connect(), 0);
    EXPECT_EQ(d.permanent_clients.size(), 2u);
    EXPECT_EQ(d.io_contexts.size(), 2u);
    for (int k = 0; k < 3; ++k) {
        d.results.clear();
        EXPECT_EQ(d.get_serial_number(), 0);
    }
    EXPECT_EQ(a.connections(), 1u);
    EXPECT_EQ(b.connections(), 1u);
    EXPECT_EQ(a.request_count(), 5u);  // AB, AE and three more AE on one connection

    // A dropped link is opened again by a later request.
    a.drop_connections();
    int r = -1;
    for (int k = 0; k < 2 && r != 0; ++k) {
        d.results.clear();
        r = d.get_serial_number();
    }
    EXPECT_EQ(r, 0);
    EXPECT_EQ(a.connections(), 2u);

    // A scale added after the connect has no link: nothing is sent to it.
    qv_sim::sim_scale late("127.0.0.4");
    add_scale(d, late, 1);
    d.results.clear();
    EXPECT_EQ(d.get_serial_number(), -111);
    EXPECT_EQ(d.results.at("127.0.0.4"), -1);
    EXPECT_EQ(late.request_count(), 0u);
    d.ip_address_list.pop_back();

    EXPECT_EQ(d.disconnect(), 0);
    EXPECT_TRUE(d.permanent_clients.empty());
    EXPECT_TRUE(d.io_contexts.empty());
    d.results.clear();
    EXPECT_EQ(d.get_serial_number(), -111);  // no connection: nothing sent
}

TEST_F(Connecting, KeptOpenRefusesUdpScales)
{
    qv_sim::sim_scale sim("127.0.0.2");
    d.permanent_connection = true;
    add_scale(d, sim, 0);
    device_test::log_capture log;
    EXPECT_EQ(d.connect(), -1);
    EXPECT_TRUE(log.contains("UDP not support permanent connection!"));
    EXPECT_EQ(d.results.at("127.0.0.2"), -1);
    EXPECT_EQ(d.ip_address_list.size(), 1u);
    EXPECT_EQ(sim.request_count(), 0u);
}

}  // namespace
