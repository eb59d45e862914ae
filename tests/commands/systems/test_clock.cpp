// The scale's clock: time and date read and set as bytes, the host clock
// when none are given, and the time synchronisation setting.

#include <cstdint>
#include <ctime>
#include <limits>
#include <string>

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
        {"get_time_sync (144), the flag", C::get_time_sync, unprotected({0xFF, 0x65}), B({2, 0}),
         P::TimeAutoSyncEnabledFlag, 2},
        // Zero bytes dropped, the rest read as UTF-8.
        {"get_time_sync (144), a zone", C::get_time_sync, unprotected({0xFF, 0x65}), B({2, 5, 'U', 0, 0xD0, 0x9C, 'C'}),
         P::TimeZone, L"U\u041CC"},
        // clang-format on
    });
}

TEST_F(Clock, SettersSendTheGivenBytesUnchanged)
{
    expect_requests({
        // clang-format off
        {"set_time (2), 4 bytes", C::set_time, {{P::Time, B({0x17, 0x3B, 0x3A, 0x99})}}, 0,
         frame({0x21}, B({0x17, 0x3B, 0x3A, 0x99}))},
        {"set_time (2), no bytes: the scale refuses", C::set_time, {{P::Time, bytes{}}}, 124, frame({0x21})},
        {"set_date (3), 3 bytes and no time", C::set_date, {{P::Date, B({0x1F, 0x0C, 0x63})}}, 0,
         frame({0x22}, B({0x1F, 0x0C, 0x63}))},
        {"set_date (3) as text", C::set_date, {{P::Date, L"31-12-99"}}, -8, {}},
        {"set_time_sync (145) without inputs", C::set_time_sync, {}, 0, frame({0xFF, 0x66}, B({0, 0}))},
        {"set_time_sync (145) on, a zone in UTF-8", C::set_time_sync,
         {{P::TimeAutoSyncEnabledFlag, 1}, {P::TimeZone, L"\u041C\u0421\u041A"}}, 0,
         frame({0xFF, 0x66}, B({1, 6, 0xD0, 0x9C, 0xD0, 0xA1, 0xD0, 0x9A}))},
        {"set_time_sync (145) flag 256", C::set_time_sync, {{P::TimeAutoSyncEnabledFlag, 256}}, -104, {}},
        {"set_time_sync (145) flag -1", C::set_time_sync, {{P::TimeAutoSyncEnabledFlag, -1}}, -104, {}},
        {"set_time_sync (145) zone of 255 bytes", C::set_time_sync, {{P::TimeZone, std::wstring(255, L'z')}}, 0,
         frame({0xFF, 0x66}, record_test::cat({B({0, 0xFF}), bytes(255, std::byte{'z'})}))},
        {"set_time_sync (145) zone of 128 two-byte letters", C::set_time_sync,
         {{P::TimeZone, std::wstring(128, L'\u0416')}}, -104, {}},
        // clang-format on
    });
}

// Without inputs, set_time (2) and set_date (3) send the host clock's time.
TEST_F(Clock, AbsentTimeAndDateTakeTheHostClock)
{
    std::tm local{};
    local.tm_year = 2026 - 1900, local.tm_mon = 11, local.tm_mday = 5;
    local.tm_hour = 17, local.tm_min = 42, local.tm_sec = 9, local.tm_isdst = -1;
    const std::int64_t at = std::mktime(&local);
    device::set_host_clock([at] { return at; });
    EXPECT_EQ(device::return_current_time_and_date(), "05-12-2026_17-42-09");
    expect_requests({
        {"set_time (2) at 17:42:09", C::set_time, {}, 0, frame({0x21}, B({0x11, 0x2A, 0x09}))},
        {"set_date (3) on 5 December 2026", C::set_date, {}, 0, frame({0x22}, B({0x05, 0x0C, 0x1A, 0x11, 0x2A, 0x09}))},
    });
    // A clock that cannot be read: nothing goes out.
    device::set_host_clock([] { return std::numeric_limits<std::int64_t>::max(); });
    EXPECT_EQ(device::return_current_time_and_date(), "");
    expect_requests({{"set_time (2), no clock", C::set_time, {}, -1000, {}},
                     {"set_date (3), no clock", C::set_date, {}, -1000, {}}});
}

}  // namespace
