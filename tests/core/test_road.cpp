// The road of one request, end to end through the exported functions: the
// host sets the scale, connects, reads the PLU count; and the group cases
// seen from the host.

#include <chrono>
#include <string>

#include "quorvix_driver.h"
#include "send_test_util.h"

using namespace send_test;

namespace {

class Road : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_test::init_test_log();
        ASSERT_EQ(create(&handle), 0);
    }
    void TearDown() override { destroy(&handle); }

    // Ip, Port, AdminPassword, Protocol and ConnectTimeout 1.
    void set_scale(const qv_sim::sim_scale& sim, int protocol)
    {
        ASSERT_EQ(set_string_param(handle, 1, sim.ip()), 0);
        ASSERT_EQ(set_string_param(handle, 2, sim.port_text()), 0);
        ASSERT_EQ(set_string_param(handle, 3, "1234"), 0);
        ASSERT_EQ(set_int_param(handle, 5, protocol), 0);
        ASSERT_EQ(set_int_param(handle, 291, 1), 0);
    }

    void road(int protocol, const bytes& expected_raw)
    {
        qv_sim::sim_scale sim("127.0.0.2");
        qv_sim::add_connect_replies(sim)->set_plu_count(1234);
        set_scale(sim, protocol);
        ASSERT_EQ(execute_command(handle, 0), 0);
        sim.clear_requests();
        device_test::log_capture log;
        ASSERT_EQ(execute_command(handle, 29), 0);
        ASSERT_EQ(sim.request_count(), 1u);
        EXPECT_EQ(sim.requests()[0].raw, expected_raw);
        long long count = 0;
        EXPECT_EQ(get_int_param(handle, 17, &count), 0);  // PLUCount
        EXPECT_EQ(count, 1234);
        EXPECT_TRUE(log.contains("Result code for command 29 : 0. Command completed successful."));
    }

    void* handle = nullptr;
};

TEST_F(Road, PluCountOverOneShotTcp)
{
    road(1, B({7, 0, 0, 0, 2, 5, 0xD0, 0x31, 0x32, 0x33, 0x34}));
}

TEST_F(Road, PluCountOverUdp)
{
    road(0, B({2, 5, 0xD0, 0x31, 0x32, 0x33, 0x34}));
}

TEST_F(Road, GroupCommandsSeenFromTheHost)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3"), c("127.0.0.4");
    for (auto* s : {&a, &b, &c}) qv_sim::add_connect_replies(*s);
    set_scale(a, 1);
    ASSERT_EQ(execute_command(handle, 0), 0);
    set_scale(b, 1);
    ASSERT_EQ(execute_command(handle, 79), 0);

    // The PLU count is not for a group: refused, nothing sent.
    a.clear_requests();
    EXPECT_EQ(execute_command(handle, 29), -110);
    EXPECT_EQ(a.request_count() + b.request_count(), 0u);

    // Three scales, one silent: all are asked at once, so the group fails in
    // about one time-out, not three.
    set_scale(c, 1);
    ASSERT_EQ(execute_command(handle, 79), 0);
    b.set_fault(silent());
    device_test::log_capture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(execute_command(handle, 47), -111);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_TRUE(log.contains("BAD RESULT FOR 127.0.0.3: -1"));
    EXPECT_TRUE(log.contains("TOTAL RESULT: -111"));
    std::string serials;
    EXPECT_EQ(get_string_param(handle, 205, &serials), 0);
    EXPECT_EQ(serials, "127.0.0.2: QVSIM0001; 127.0.0.3: ; 127.0.0.4: QVSIM0001; ");

    ASSERT_EQ(execute_command(handle, 82), 0);
    bytes list;
    ASSERT_EQ(get_bytes_array_param(handle, 292, &list), 0);  // CommandResults
    const std::string text = device_test::text_of(list);
    EXPECT_NE(text.find("127.0.0.3:-1:No connection.;"), std::string::npos) << text;

    // Connect fails the same way and empties the list; one silent scale alone gives -1.
    EXPECT_EQ(execute_command(handle, 0), -111);
    EXPECT_EQ(execute_command(handle, 47), -1);  // empty list
    set_scale(b, 1);
    EXPECT_EQ(execute_command(handle, 0), -1);
    EXPECT_TRUE(log.contains("'connect' error=-1"));
}

}  // namespace
