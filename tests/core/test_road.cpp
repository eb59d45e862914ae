// The road of one request, end to end through the exported functions: the
// host sets the scale, connects, reads the PLU count, over either transport.
#include "quorvix_driver.h"
#include "send_test_util.h"

using send_test::B;

TEST(Road, PluCountThroughTheExportsOverTcpAndUdp)
{
    for (const auto& [protocol, raw] : {std::pair{1, B({7, 0, 0, 0, 2, 5, 0xD0, 0x31, 0x32, 0x33, 0x34})},
                                        {0, B({2, 5, 0xD0, 0x31, 0x32, 0x33, 0x34})}}) {
        qv_sim::sim_scale sim("127.0.0.2");
        qv_sim::add_connect_replies(sim)->set_plu_count(1234);
        device_test::init_test_log();
        void* h = nullptr;
        ASSERT_EQ(create(&h), 0);
        EXPECT_EQ(set_string_param(h, 1, sim.ip()) + set_string_param(h, 2, sim.port_text()) +
                      set_string_param(h, 3, "1234") + set_int_param(h, 5, protocol) + set_int_param(h, 291, 1),
                  0);
        EXPECT_EQ(execute_command(h, 0), 0);
        sim.clear_requests();
        device_test::log_capture log;
        EXPECT_EQ(execute_command(h, 29), 0);
        EXPECT_EQ(sim.requests().at(0).raw, raw);
        long long count = 0;
        EXPECT_EQ(get_int_param(h, 17, &count), 0);  // PLUCount
        EXPECT_EQ(count, 1234);
        EXPECT_TRUE(log.contains("Result code for command 29 : 0. Command completed successful."));
        destroy(&h);
    }
}
