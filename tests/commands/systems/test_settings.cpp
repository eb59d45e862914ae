// Settings, information and clock commands: the exact request bytes with the
// edge values of every input, the host clock, the getters' decoding of real
// and short replies, setters answered back by the simulated scale, and two
// scales where the output comes from the first IP in text order.

#include <time.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "replies/systems.h"
#include "send_test_util.h"

using namespace send_test;

namespace {

using P = ParamType;
using inputs = std::function<void(device&)>;

const inputs none = [](device&) {};
const auto int_in = [](P p, int v) -> inputs {
    return [=](device& d) { d.set_int_param(p, d.input_params, v, false); };
};
const auto text_in = [](P p, std::wstring v) -> inputs {
    return [=](device& d) { d.set_string_param(p, d.input_params, v, false); };
};
const auto bytes_in = [](P p, bytes v) -> inputs {
    return [=](device& d) { d.set_bytes_array_param(p, d.input_params, v, false); };
};
const auto both = [](inputs a, inputs b) -> inputs { return [=](device& d) { a(d), b(d); }; };

// 02 LEN, the opcode, the password "1234" when `pw`, the payload.
bytes frame(const bytes& opcode, bool pw, const bytes& payload = {})
{
    bytes body = opcode;
    if (pw) body.insert(body.end(), {std::byte{'1'}, std::byte{'2'}, std::byte{'3'}, std::byte{'4'}});
    body.insert(body.end(), payload.begin(), payload.end());
    bytes f{std::byte{0x02}, std::byte(body.size() > 254 ? 0xFF : body.size())};
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

bytes cat(bytes head, const bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Seconds since the epoch of a local date and time.
std::int64_t local_seconds(int day, int month, int year, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_mday = day, t.tm_mon = month - 1, t.tm_year = year - 1900;
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t));
}

struct request_case {
    std::string name;
    int command;
    inputs given;
    int result;
    bytes expected;  // the frame sent; empty: nothing sent
};

class ScaleSettings : public device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        add_scale(d, sim, 1);
    }
    void TearDown() override { device::set_host_clock({}); }
    void fix_clock(std::int64_t seconds)
    {
        device::set_host_clock([seconds] { return seconds; });
    }
    void run(const std::vector<request_case>& cases)
    {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            sim.clear_requests();
            c.given(d);
            EXPECT_EQ(d.execute_command(c.command), c.result);
            if (c.expected.empty()) {
                EXPECT_EQ(sim.request_count(), 0u);
            } else if (sim.request_count() == 1u) {
                EXPECT_EQ(qv_sim::hex(sim.requests()[0].frame), qv_sim::hex(c.expected));
            } else {
                ADD_FAILURE() << sim.request_count() << " requests";
            }
        }
    }
    int int_out(P p)
    {
        int v = -12345;
        EXPECT_EQ(d.get_int_param(p, d.output_params, v, false), 0);
        return v;
    }
    qv_sim::sim_scale sim{"127.0.0.13"};
};

TEST_F(ScaleSettings, RequestBytesWithEdgeValues)
{
    qv_sim::add_settings_replies(sim);
    const int missing = -7, wrong_kind = -8, refused = -104;
    const bytes ff05 = B({0xFF, 0x05}), ff66 = B({0xFF, 0x66});
    const bytes title(65535, std::byte{'T'}), too_long(65536, std::byte{'T'});
    run({
        {"beep", 1, none, 0, B({0x02, 0x01, 0x13})},
        {"date format 1", 4, int_in(P::DateFormat, 1), 0, B({0x02, 0x06, 0x24, '1', '2', '3', '4', 0x01})},
        {"date format 3", 4, int_in(P::DateFormat, 3), refused, {}},
        {"date format -1", 4, int_in(P::DateFormat, -1), refused, {}},
        {"date format absent", 4, none, missing, {}},
        {"date format text", 4, text_in(P::DateFormat, L"1"), wrong_kind, {}},
        {"password", 5, text_in(P::NewPassword, L"abcd"), 0, frame(B({0x16}), true, B({'a', 'b', 'c', 'd'}))},
        {"password cyrillic", 5, text_in(P::NewPassword, L"\u0416\u0443\u043A1"), 0,
         frame(B({0x16}), true, B({0xC6, 0xF3, 0xEA, '1'}))},
        {"password 3", 5, text_in(P::NewPassword, L"abc"), refused, {}},
        {"password 5", 5, text_in(P::NewPassword, L"abcde"), refused, {}},
        {"password line feed", 5, text_in(P::NewPassword, L"a\ncd"), -1000, {}},
        {"logging 255", 73, int_in(P::LoggingType, 255), 0, frame(B({0xB7}), true, B({0xFF}))},
        {"logging 256", 73, int_in(P::LoggingType, 256), refused, {}},
        {"reload", 78, none, 0, frame(B({0xB8}), true)},
        {"language 3", 106, int_in(P::LanguageCode, 3), 0, B({0x02, 0x07, 0xFF, 0x04, '1', '2', '3', '4', 0x03})},
        {"language 256", 106, int_in(P::LanguageCode, 256), refused, {}},
        {"message empty", 107, none, 0, frame(ff05, true, B({0, 0, 0, 0, 0}))},
        {"message 256 s", 107, int_in(P::ScreenMessageDuration, 256), 0, frame(ff05, true, B({0xFF, 0, 0, 0, 0}))},
        {"message -5 s", 107, int_in(P::ScreenMessageDuration, -5), 0, frame(ff05, true, B({0xFF, 0, 0, 0, 0}))},
        {"message title and text", 107,
         both(int_in(P::ScreenMessageDuration, 10),
              both(bytes_in(P::ScreenMessageTitle, B({'H', 'i'})), bytes_in(P::ScreenMessageText, B({'Y', 0, '!'})))),
         0, frame(ff05, true, B({10, 2, 0, 'H', 'i', 3, 0, 'Y', 0, '!'}))},
        {"message title as text", 107, text_in(P::ScreenMessageTitle, L"Hi"), wrong_kind, {}},
        {"zero", 124, none, 0, frame(B({0x30}), true)},
        {"tare absent", 125, none, 0, B({0x02, 0x05, 0x31, '1', '2', '3', '4'})},
        {"tare 1500", 125, int_in(P::Tare, 1500), 0, frame(B({0x31}), true, B({0xDC, 0x05, 0, 0}))},
        {"tare -1", 125, int_in(P::Tare, -1), 0, frame(B({0x31}), true, B({0xFF, 0xFF, 0xFF, 0xFF}))},
        {"processing 2", 141, int_in(P::DataProcessingMethod, 2), 0, frame(B({0xFF, 0x63}), true, B({2}))},
        // Clock setters with given values: the bytes exactly as given.
        {"time 4 bytes", 2, bytes_in(P::Time, B({0x11, 0x2A, 0x09, 0x01})), 0,
         B({0x02, 0x09, 0x21, '1', '2', '3', '4', 0x11, 0x2A, 0x09, 0x01})},
        {"time 0 bytes", 2, bytes_in(P::Time, {}), 124, frame(B({0x21}), true)},  // the scale wants 3
        {"date 3 bytes", 3, bytes_in(P::Date, B({5, 12, 26})), 0, frame(B({0x22}), true, B({5, 12, 26}))},
        {"sync none", 145, none, 0, frame(ff66, true, B({0, 0}))},
        {"sync Moscow", 145, both(int_in(P::TimeAutoSyncEnabledFlag, 1), text_in(P::TimeZone, L"Europe/Moscow")), 0,
         frame(ff66, true, cat(B({0x01, 0x0D}), qv_sim::to_bytes("Europe/Moscow")))},
        {"sync UTF-8", 145, text_in(P::TimeZone, L"\u041C\u0421\u041A"), 0,
         frame(ff66, true, B({0, 6, 0xD0, 0x9C, 0xD0, 0xA1, 0xD0, 0x9A}))},
        {"sync flag 255", 145, int_in(P::TimeAutoSyncEnabledFlag, 255), 0, frame(ff66, true, B({0xFF, 0}))},
        // The scale now synchronises itself and refuses to be set.
        {"time while synchronised", 2, bytes_in(P::Time, B({1, 2, 3})), 209, frame(B({0x21}), true, B({1, 2, 3}))},
        {"sync flag 256", 145, int_in(P::TimeAutoSyncEnabledFlag, 256), refused, {}},
        {"sync zone as bytes", 145, bytes_in(P::TimeZone, B({'U'})), wrong_kind, {}},
        {"sync zone 256 bytes", 145, text_in(P::TimeZone, std::wstring(256, L'z')), refused, {}},
        {"sync zone 128 two-byte", 145, text_in(P::TimeZone, std::wstring(128, L'\u0416')), refused, {}},
        // 255 time-zone bytes still fit their count byte; 65535 title bytes their count word.
        {"zone 255 bytes", 145, text_in(P::TimeZone, std::wstring(255, L'z')), 0,
         frame(ff66, true, cat(B({0, 0xFF}), bytes(255, std::byte{'z'})))},
        {"title 65535", 107, both(bytes_in(P::ScreenMessageTitle, title), bytes_in(P::ScreenMessageText, B({'x'}))), 0,
         frame(ff05, true, cat(cat(B({0, 0xFF, 0xFF}), title), B({1, 0, 'x'})))},
        {"title 65536", 107, bytes_in(P::ScreenMessageTitle, too_long), refused, {}},
        {"text 65536", 107, bytes_in(P::ScreenMessageText, too_long), refused, {}},
    });
}

TEST_F(ScaleSettings, AbsentTimeAndDateTakeTheHostClock)
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fix_clock(c.at);
        EXPECT_EQ(device::return_current_time_and_date(), c.text);
        run({{"time", 2, none, 0, frame(B({0x21}), true, c.time)},
             {"date", 3, none, 0, frame(B({0x22}), true, c.date)}});
    }

    // A clock that cannot be read: nothing goes out.
    fix_clock(std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(device::return_current_time_and_date(), "");
    device_test::log_capture log;
    run({{"time", 2, none, -1000, {}}, {"date", 3, none, -1000, {}}});
    EXPECT_TRUE(log.contains("'set_time' error=-1000"));

    // The real clock: the local time of the call (a second may turn between the reads).
    device::set_host_clock({});
    const auto local_text = [](std::time_t at) {
        std::tm t{};
        localtime_r(&at, &t);
        char text[32];
        return std::string(text, std::strftime(text, sizeof text, "%d-%m-%Y_%H-%M-%S", &t));
    };
    const std::time_t before = std::time(nullptr);
    const std::string text = device::return_current_time_and_date();
    EXPECT_TRUE(text == local_text(before) || text == local_text(std::time(nullptr))) << text;
}

struct getter_case {
    std::string name;
    int command;
    bytes opcode;
    bool password;
    bytes data;  // after the result byte
    P output;
    std::string value;  // a number, the text, or the bytes in hex
};

TEST_F(ScaleSettings, GettersDecodeRepliesAndShortRepliesWriteNothing)
{
    const bytes ff65 = B({0xFF, 0x65});
    const getter_case cases[] = {
        {"front app", 45, B({0xAC}), true, B({1, 2, 30}), P::FrontAppVersion, "1.2.30"},
        {"model", 46, B({0xAD}), true, B({0xFE}), P::ModelScaleVersion, "254"},
        {"logging", 72, B({0xB6}), true, B({3}), P::LoggingType, "3"},
        {"information", 77, B({0xFF, 0x17}), false, B({3, 0, '{', 0, '}'}), P::JsonScaleInformation, "7B 00 7D"},
        {"language", 105, B({0xFF, 0x03}), true, B({0x80}), P::LanguageCode, "128"},
        {"processing", 140, B({0xFF, 0x62}), true, B({1}), P::DataProcessingMethod, "1"},
        {"time", 67, B({0x2A}), false, B({0x11, 0x2A, 0x09}), P::Time, "11 2A 09"},
        {"date", 68, B({0x2B}), false, B({0x05, 0x0C, 0x1A}), P::Date, "05 0C 1A"},
        {"sync Moscow", 144, ff65, false, cat(B({1, 13}), qv_sim::to_bytes("Europe/Moscow")), P::TimeZone,
         "Europe/Moscow"},
        {"sync empty", 144, ff65, false, B({0, 0}), P::TimeZone, ""},
        // Zero bytes dropped, the rest read as UTF-8.
        {"sync UTF-8", 144, ff65, false, B({2, 5, 'U', 0, 0xD0, 0x9C, 'C'}), P::TimeZone, "U\u041CC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim.clear_requests();
        sim.on(c.opcode, 0, c.data);
        ASSERT_EQ(d.execute_command(c.command), 0);
        ASSERT_EQ(sim.request_count(), 1u);
        EXPECT_EQ(sim.requests()[0].frame, frame(c.opcode, c.password));
        int number = -1;
        std::wstring text;
        bytes value;
        if (d.get_int_param(c.output, d.output_params, number, false) == 0) {
            EXPECT_EQ(std::to_string(number), c.value);
        } else if (d.get_string_param(c.output, d.output_params, text, false) == 0) {
            EXPECT_EQ(device_utils::str(text), c.value);
        } else {
            ASSERT_EQ(d.get_bytes_array_param(c.output, d.output_params, value, false), 0);
            EXPECT_EQ(qv_sim::hex(value), c.value);
        }
        if (c.output == P::TimeZone) {
            EXPECT_EQ(int_out(P::TimeAutoSyncEnabledFlag), std::to_integer<int>(c.data[0]));
            EXPECT_EQ(d.output_params.size(), 2u);
        } else {
            EXPECT_EQ(d.output_params.size(), 1u);
        }

        // The same reply one byte short: -101 and no output.
        bytes cut = c.data;
        cut.pop_back();
        sim.on(c.opcode, 0, cut);
        EXPECT_EQ(d.execute_command(c.command), -101);
        EXPECT_TRUE(d.output_params.empty());
    }
}

TEST_F(ScaleSettings, ScaleRefusalGivesItsCodeAndErrorLineInputRefusalNone)
{
    sim.on({0x13}, 122, {});
    device_test::log_capture log;
    EXPECT_EQ(d.execute_command(1), 122);
    EXPECT_TRUE(log.contains("'beep' error=122"));
    d.set_int_param(P::DateFormat, d.input_params, 3, false);
    EXPECT_EQ(d.execute_command(4), -104);
    for (const std::string& line : log.lines()) EXPECT_EQ(line.find("'set_date_format' error"), std::string::npos);
}

TEST_F(ScaleSettings, SettersAreAnsweredByTheSimulatedScale)
{
    auto kept = qv_sim::add_settings_replies(sim);
    const struct {
        int set, get;
        P param;
        int value;
    } cases[] = {
        {73, 72, P::LoggingType, 2},
        {106, 105, P::LanguageCode, 7},
        {145, 144, P::TimeAutoSyncEnabledFlag, 0},
    };
    for (const auto& c : cases) {
        d.set_int_param(c.param, d.input_params, c.value, false);
        ASSERT_EQ(d.execute_command(c.set), 0);
        ASSERT_EQ(d.execute_command(c.get), 0);
        EXPECT_EQ(int_out(c.param), c.value);
    }
    fix_clock(local_seconds(5, 12, 2026, 17, 42, 9));
    for (const auto& [set, get, param, value] :
         {std::tuple{3, 68, P::Date, B({5, 12, 26})}, std::tuple{2, 67, P::Time, B({17, 42, 9})}}) {
        ASSERT_EQ(d.execute_command(set), 0);
        ASSERT_EQ(d.execute_command(get), 0);
        bytes got;
        EXPECT_EQ(d.get_bytes_array_param(param, d.output_params, got, false), 0);
        EXPECT_EQ(got, value);
    }

    d.set_string_param(P::NewPassword, d.input_params, L"4321", false);
    ASSERT_EQ(d.execute_command(5), 0);
    EXPECT_EQ(kept->get().password, "4321");
    EXPECT_EQ(d.ip_address_list.front().password, "1234");  // the list keeps the old one
}

TEST_F(ScaleSettings, TwoScalesOutputFromTheFirstIpInTextOrder)
{
    // 127.0.0.9 joins the list first, but "127.0.0.10" sorts before it.
    device two;
    two.timeout_seconds = 1;
    qv_sim::sim_scale nine("127.0.0.9"), ten("127.0.0.10");
    add_scale(two, nine, 1);
    add_scale(two, ten, 0);
    nine.on({0xB6}, 0, B({9}));
    ten.on({0xB6}, 0, B({10}));

    // Through the dispatcher a getter is for one scale only.
    for (int command : {72, 67, 68, 144}) EXPECT_EQ(two.execute_command(command), -110) << command;
    EXPECT_EQ(nine.request_count() + ten.request_count(), 0u);

    // Called directly, both are asked and the first IP in text order answers.
    ASSERT_EQ(two.get_logging(), 0);
    EXPECT_EQ(nine.request_count(), 1u);
    EXPECT_EQ(ten.request_count(), 1u);
    int value = 0;
    EXPECT_EQ(two.get_int_param(P::LoggingType, two.output_params, value, false), 0);
    EXPECT_EQ(value, 10);

    // Group setters reach both; one refusal makes the result -111.
    two.set_int_param(P::LanguageCode, two.input_params, 2, false);
    EXPECT_EQ(two.execute_command(106), 0);
    EXPECT_EQ(nine.requests().back().frame, frame(B({0xFF, 0x04}), true, B({2})));
    EXPECT_EQ(ten.requests().back().frame, frame(B({0xFF, 0x04}), true, B({2})));
    nine.on({0x13}, 122, {});
    EXPECT_EQ(two.execute_command(1), -111);
}

}  // namespace
