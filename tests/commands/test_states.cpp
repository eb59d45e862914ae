// The state query (43) against the simulated scale's state record, over UDP
// and TCP, and a refused query that writes nothing.

#include "command_table.h"
#include "replies/states.h"

using namespace command_table;

namespace {

class States : public table_test<qv_sim::scale_state> {
protected:
    States() : table_test("127.0.0.144", qv_sim::add_state_replies) {}
};

TEST_F(States, TheScalesRecordDecodedOverBothTransports)
{
    state->update([](qv_sim::state_fields& f) {
        f.version = {2, 1, 15};
        f.weight = -1;
        f.tare = 0xFFFF;
        f.cost = 10000;
        f.price = 1000;
    });
    for (const auto via : {qv_sim::transport::udp, qv_sim::transport::tcp}) {
        SCOPED_TRACE(via == qv_sim::transport::udp ? "UDP" : "TCP");
        d.ip_address_list.front().protocol = via == qv_sim::transport::udp ? 0 : 1;
        sim.clear_requests();
        ASSERT_EQ(run(C::query_state_scale), 0);
        EXPECT_EQ(last().via, via);
        EXPECT_EQ(out(P::VersionLP, std::wstring()), L"2.1.15");
        EXPECT_EQ(out_int(P::Weight), -1);
        EXPECT_EQ(out_int(P::Tare), 65535);
        EXPECT_EQ(out_int(P::Cost), 10000);
        EXPECT_EQ(out_int(P::Price), 1000);
    }
}

TEST_F(States, ARefusedQueryIsLoggedAndWritesNothing)
{
    sim.on({0x11}, 120, {});
    device_test::log_capture log;
    EXPECT_EQ(run(C::query_state_scale), 120);
    EXPECT_TRUE(d.output_params.empty());
    EXPECT_TRUE(log.contains("query_state_scale 120"));
}

}  // namespace
