// The clock commands: the host clock path with a fixed clock, the clock
// text of the real clock, the getters' decoding of real and short replies,
// and the simulated scale's clock answering back what was set.

#include <time.h>

#include <cstdint>
#include <ctime>
#include <limits>
#include <string>

#include "replies/systems.h"
#include "send_test_util.h"

using namespace send_test;

namespace {

using P = ParamType;

// Seconds since the epoch of a local date and time.
std::int64_t local_seconds(int day, int month, int year, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_mday = day;
    t.tm_mon = month - 1;
    t.tm_year = year - 1900;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t));
}

std::string local_text(std::time_t at)
{
    std::tm t{};
    localtime_r(&at, &t);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%d-%m-%Y_%H-%M-%S", &t));
}

bytes with_password(const bytes& head, const bytes& payload)
{
    bytes f = head;
    f.insert(f.end(), {std::byte{'1'}, std::byte{'2'}, std::byte{'3'}, std::byte{'4'}});
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

class Clock : public device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        add_scale(d, sim, 0);
    }
    void TearDown() override { device::set_host_clock({}); }
    void fix_clock(std::int64_t seconds)
    {
        device::set_host_clock([seconds] { return seconds; });
    }
    qv_sim::sim_scale sim{"127.0.0.14"};
};

TEST_F(Clock, AbsentTimeAndDateTakeTheHostClock)
{
    const struct {
        std::int64_t at;
        std::string text;
        bytes time;  // set_time payload
        bytes date;  // set_date payload: date and time
    } cases[] = {
        {local_seconds(5, 12, 2026, 17, 42, 9), "05-12-2026_17-42-09", B({0x11, 0x2A, 0x09}),
         B({0x05, 0x0C, 0x1A, 0x11, 0x2A, 0x09})},
        {local_seconds(1, 1, 2000, 0, 0, 5), "01-01-2000_00-00-05", B({0, 0, 5}), B({1, 1, 0, 0, 0, 5})},
        {local_seconds(31, 7, 2037, 23, 59, 59), "31-07-2037_23-59-59", B({23, 59, 59}), B({31, 7, 37, 23, 59, 59})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fix_clock(c.at);
        EXPECT_EQ(device::return_current_time_and_date(), c.text);
        sim.clear_requests();
        ASSERT_EQ(d.execute_command(2), 0);
        ASSERT_EQ(d.execute_command(3), 0);
        ASSERT_EQ(sim.request_count(), 2u);
        EXPECT_EQ(sim.requests()[0].frame, with_password(B({0x02, 0x08, 0x21}), c.time));
        EXPECT_EQ(sim.requests()[1].frame, with_password(B({0x02, 0x0B, 0x22}), c.date));
    }
}

TEST_F(Clock, AClockThatCannotBeReadSendsNothing)
{
    fix_clock(std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(device::return_current_time_and_date(), "");
    device_test::log_capture log;
    EXPECT_EQ(d.execute_command(2), -1000);
    EXPECT_EQ(d.execute_command(3), -1000);
    EXPECT_EQ(sim.request_count(), 0u);
    EXPECT_TRUE(log.contains("'set_time' error=-1000"));
    EXPECT_TRUE(log.contains("set_date -1000"));
}

TEST_F(Clock, RealClockTextIsTheLocalTimeOfTheCall)
{
    const std::time_t before = std::time(nullptr);
    const std::string text = device::return_current_time_and_date();
    const std::time_t after = std::time(nullptr);
    // A second may turn between the reads.
    EXPECT_TRUE(text == local_text(before) || text == local_text(after)) << text;
}

TEST_F(Clock, GettersDecodeRepliesAndShortRepliesWriteNothing)
{
    const struct {
        std::string name;
        int command;
        bytes opcode;
        bytes data;
        int flag;  // -1: no flag output
        bytes value;  // Time or Date
        std::wstring zone;
    } cases[] = {
        {"time", 67, B({0x2A}), B({0x11, 0x2A, 0x09}), -1, B({0x11, 0x2A, 0x09}), {}},
        {"date", 68, B({0x2B}), B({0x05, 0x0C, 0x1A}), -1, B({0x05, 0x0C, 0x1A}), {}},
        {"sync Moscow",
         144,
         B({0xFF, 0x65}),
         B({1, 13, 'E', 'u', 'r', 'o', 'p', 'e', '/', 'M', 'o', 's', 'c', 'o', 'w'}),
         1,
         {},
         L"Europe/Moscow"},
        {"sync empty", 144, B({0xFF, 0x65}), B({0, 0}), 0, {}, L""},
        {"sync zero bytes dropped", 144, B({0xFF, 0x65}), B({2, 4, 'U', 0, 'T', 'C'}), 2, {}, L"UTC"},
        {"sync UTF-8", 144, B({0xFF, 0x65}), B({1, 4, 0xD0, 0x9C, 0xD0, 0xA1}), 1, {}, L"\u041C\u0421"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim.clear_requests();
        sim.on(c.opcode, 0, c.data);
        ASSERT_EQ(d.execute_command(c.command), 0);
        bytes request = B({0x02, static_cast<int>(c.opcode.size())});
        request.insert(request.end(), c.opcode.begin(), c.opcode.end());
        EXPECT_EQ(sim.requests().at(0).frame, request);  // no password
        if (c.flag < 0) {
            bytes value;
            EXPECT_EQ(d.get_bytes_array_param(c.command == 67 ? P::Time : P::Date, d.output_params, value, false), 0);
            EXPECT_EQ(value, c.value);
        } else {
            int flag = -1;
            std::wstring zone = L"?";
            EXPECT_EQ(d.get_int_param(P::TimeAutoSyncEnabledFlag, d.output_params, flag, false), 0);
            EXPECT_EQ(d.get_string_param(P::TimeZone, d.output_params, zone, false), 0);
            EXPECT_EQ(flag, c.flag);
            EXPECT_EQ(zone, c.zone);
        }
        bytes cut = c.data;
        cut.pop_back();
        sim.on(c.opcode, 0, cut);
        EXPECT_EQ(d.execute_command(c.command), -101);
        EXPECT_TRUE(d.output_params.empty());
    }
    sim.on({0x2A}, 120, {});
    device_test::log_capture log;
    EXPECT_EQ(d.execute_command(67), 120);
    EXPECT_TRUE(log.contains("get_time 120"));
}

TEST_F(Clock, SimulatedScaleKeepsWhatWasSet)
{
    auto kept = qv_sim::add_settings_replies(sim);
    fix_clock(local_seconds(5, 12, 2026, 17, 42, 9));
    d.set_int_param(P::TimeAutoSyncEnabledFlag, d.input_params, 0, false);
    ASSERT_EQ(d.execute_command(3), 0);
    ASSERT_EQ(d.execute_command(68), 0);
    bytes value;
    EXPECT_EQ(d.get_bytes_array_param(P::Date, d.output_params, value, false), 0);
    EXPECT_EQ(value, B({5, 12, 26}));
    ASSERT_EQ(d.execute_command(67), 0);
    EXPECT_EQ(d.get_bytes_array_param(P::Time, d.output_params, value, false), 0);
    EXPECT_EQ(value, B({17, 42, 9}));

    d.set_int_param(P::TimeAutoSyncEnabledFlag, d.input_params, 1, false);
    d.set_string_param(P::TimeZone, d.input_params, L"Asia/Almaty", false);
    ASSERT_EQ(d.execute_command(145), 0);
    ASSERT_EQ(d.execute_command(144), 0);
    int flag = 0;
    std::wstring zone;
    EXPECT_EQ(d.get_int_param(P::TimeAutoSyncEnabledFlag, d.output_params, flag, false), 0);
    EXPECT_EQ(d.get_string_param(P::TimeZone, d.output_params, zone, false), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(zone, L"Asia/Almaty");

    // With synchronisation on, the scale refuses to be set.
    device_test::log_capture log;
    EXPECT_EQ(d.execute_command(2), 209);
    EXPECT_TRUE(log.contains("'set_time' error=209"));
}

TEST_F(Clock, GettersAreForOneScale)
{
    qv_sim::sim_scale other("127.0.0.15");
    add_scale(d, other, 1);
    for (int command : {67, 68, 144}) EXPECT_EQ(d.execute_command(command), -110) << command;
    EXPECT_EQ(sim.request_count() + other.request_count(), 0u);
}

}  // namespace
