// The scale's clock: the time and date read as the scale sends them, the
// given bytes set unchanged, the host clock at the edges of its numbers, and
// the time synchronisation setting.

#include <cstdint>
#include <ctime>

#include "../command_table.h"
#include "replies/systems.h"

using namespace command_table;

namespace {

class Clock : public table_test<qv_sim::scale_settings> {
protected:
    Clock() : table_test("127.0.0.142", qv_sim::add_settings_replies) {}
    void TearDown() override { device::set_host_clock({}); }
};

TEST_F(Clock, GettersSendTheirFrameAndDecodeTheReply)
{
    expect_replies({
        // clang-format off
        {"get_time (67)", C::get_time, unprotected({0x2A}), B({0x17, 0x3B, 0x3A}), P::Time, B({0x17, 0x3B, 0x3A})},
        {"get_date (68)", C::get_date, unprotected({0x2B}), B({0x1F, 0x0C, 0x63}), P::Date, B({0x1F, 0x0C, 0x63})},
        {"get_time_sync (144), no zone", C::get_time_sync, unprotected({0xFF, 0x65}), B({1, 0}), P::TimeZone, L""},
        // clang-format on
    });
}

TEST_F(Clock, SettersSendTheGivenBytesUnchanged)
{
    const bytes zone = B({'E', 'u', 'r', 'o', 'p', 'e', '/', 'M', 'o', 's', 'c', 'o', 'w'});
    expect_requests({
        // clang-format off
        {"set_time (2), 4 bytes", C::set_time, {{P::Time, B({0x17, 0x3B, 0x3A, 0x99})}}, 0,
         frame({0x21}, B({0x17, 0x3B, 0x3A, 0x99}))},
        {"set_time (2), no bytes: the scale refuses", C::set_time, {{P::Time, bytes{}}}, 124, frame({0x21})},
        {"set_date (3), 3 bytes and no time", C::set_date, {{P::Date, B({0x1F, 0x0C, 0x63})}}, 0,
         frame({0x22}, B({0x1F, 0x0C, 0x63}))},
        {"set_date (3) as text", C::set_date, {{P::Date, L"31-12-99"}}, -8, {}},
        {"set_time_sync (145) without inputs", C::set_time_sync, {}, 0, frame({0xFF, 0x66}, B({0, 0}))},
        {"set_time_sync (145) on, Europe/Moscow", C::set_time_sync,
         {{P::TimeAutoSyncEnabledFlag, 1}, {P::TimeZone, L"Europe/Moscow"}}, 0,
         frame({0xFF, 0x66}, record_test::cat({B({1, 13}), zone}))},
        // clang-format on
    });
}

TEST_F(Clock, HostClockAtTheTurnOfTheCentury)
{
    std::tm local{};
    local.tm_mday = 1, local.tm_mon = 0, local.tm_year = 100, local.tm_sec = 5, local.tm_isdst = -1;
    const std::int64_t at = std::mktime(&local);
    device::set_host_clock([at] { return at; });
    expect_requests({
        {"set_time (2) at 00:00:05", C::set_time, {}, 0, frame({0x21}, B({0, 0, 5}))},
        {"set_date (3) on 1 January 2000", C::set_date, {}, 0, frame({0x22}, B({1, 1, 0, 0, 0, 5}))},
    });
}

TEST_F(Clock, GettersAreForOneScaleOnly)
{
    qv_sim::sim_scale other("127.0.0.143");
    send_test::add_scale(d, other, 1);
    for (C getter : {C::get_time, C::get_date, C::get_time_sync}) EXPECT_EQ(run(getter), -110) << int(getter);
    EXPECT_EQ(sim.request_count() + other.request_count(), 0u);
}

}  // namespace
