// Settings, information and clock commands: one table of the exact request
// bytes with the edge values of every input, the getters' decoding of real
// and short replies, setters answered back by the simulated scale's getters,
// and two scales where the output comes from the first IP in text order.

#include <functional>
#include <string>
#include <vector>

#include "replies/systems.h"
#include "send_test_util.h"

using namespace send_test;

namespace {

using P = ParamType;
using inputs = std::function<void(device&)>;

inputs none()
{
    return [](device&) {};
}
inputs int_in(P p, int v)
{
    return [=](device& d) { d.set_int_param(p, d.input_params, v, false); };
}
inputs text_in(P p, std::wstring v)
{
    return [=](device& d) { d.set_string_param(p, d.input_params, v, false); };
}
inputs bytes_in(P p, bytes v)
{
    return [=](device& d) { d.set_bytes_array_param(p, d.input_params, v, false); };
}
inputs both(inputs a, inputs b)
{
    return [=](device& d) {
        a(d);
        b(d);
    };
}
inputs all3(inputs a, inputs b, inputs c)
{
    return both(both(std::move(a), std::move(b)), std::move(c));
}

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

bytes filled(std::size_t n, int value)
{
    return bytes(n, std::byte(value));
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
    qv_sim::sim_scale sim{"127.0.0.13"};
};

TEST_F(ScaleSettings, RequestBytesWithEdgeValues)
{
    qv_sim::add_settings_replies(sim);
    const int missing = -7, wrong_kind = -8, refused = -104;
    const bytes tz = qv_sim::to_bytes("Europe/Moscow");
    bytes tz_payload = B({0x01, 0x0D});
    tz_payload.insert(tz_payload.end(), tz.begin(), tz.end());
    run({
        {"beep", 1, none(), 0, B({0x02, 0x01, 0x13})},
        {"date format 1", 4, int_in(P::DateFormat, 1), 0, B({0x02, 0x06, 0x24, '1', '2', '3', '4', 0x01})},
        {"date format 0", 4, int_in(P::DateFormat, 0), 0, frame(B({0x24}), true, B({0}))},
        {"date format 2", 4, int_in(P::DateFormat, 2), 0, frame(B({0x24}), true, B({2}))},
        {"date format 3", 4, int_in(P::DateFormat, 3), refused, {}},
        {"date format -1", 4, int_in(P::DateFormat, -1), refused, {}},
        {"date format absent", 4, none(), missing, {}},
        {"date format text", 4, text_in(P::DateFormat, L"1"), wrong_kind, {}},
        {"password", 5, text_in(P::NewPassword, L"abcd"), 0,
         B({0x02, 0x09, 0x16, '1', '2', '3', '4', 'a', 'b', 'c', 'd'})},
        {"password cyrillic", 5, text_in(P::NewPassword, L"\u0416\u0443\u043A1"), 0,
         frame(B({0x16}), true, B({0xC6, 0xF3, 0xEA, '1'}))},
        {"password 3", 5, text_in(P::NewPassword, L"abc"), refused, {}},
        {"password 5", 5, text_in(P::NewPassword, L"abcde"), refused, {}},
        {"password line feed", 5, text_in(P::NewPassword, L"a\ncd"), -1000, {}},
        {"password absent", 5, none(), missing, {}},
        {"logging 0", 73, int_in(P::LoggingType, 0), 0, frame(B({0xB7}), true, B({0}))},
        {"logging 255", 73, int_in(P::LoggingType, 255), 0, frame(B({0xB7}), true, B({0xFF}))},
        {"logging 256", 73, int_in(P::LoggingType, 256), refused, {}},
        {"logging 257", 73, int_in(P::LoggingType, 257), refused, {}},
        {"logging -1", 73, int_in(P::LoggingType, -1), refused, {}},
        {"reload", 78, none(), 0, frame(B({0xB8}), true)},
        {"language 3", 106, int_in(P::LanguageCode, 3), 0, B({0x02, 0x07, 0xFF, 0x04, '1', '2', '3', '4', 0x03})},
        {"language 256", 106, int_in(P::LanguageCode, 256), refused, {}},
        {"language absent", 106, none(), missing, {}},
        {"message empty", 107, none(), 0, frame(B({0xFF, 0x05}), true, B({0, 0, 0, 0, 0}))},
        {"message 0 s", 107, int_in(P::ScreenMessageDuration, 0), 0, frame(B({0xFF, 0x05}), true, B({0, 0, 0, 0, 0}))},
        {"message 255 s", 107, int_in(P::ScreenMessageDuration, 255), 0,
         frame(B({0xFF, 0x05}), true, B({0xFF, 0, 0, 0, 0}))},
        {"message 256 s", 107, int_in(P::ScreenMessageDuration, 256), 0,
         frame(B({0xFF, 0x05}), true, B({0xFF, 0, 0, 0, 0}))},
        {"message -5 s", 107, int_in(P::ScreenMessageDuration, -5), 0,
         frame(B({0xFF, 0x05}), true, B({0xFF, 0, 0, 0, 0}))},
        {"message title and text", 107,
         all3(int_in(P::ScreenMessageDuration, 10), bytes_in(P::ScreenMessageTitle, B({'H', 'i'})),
              bytes_in(P::ScreenMessageText, B({'Y', 0, '!'}))),
         0, frame(B({0xFF, 0x05}), true, B({10, 2, 0, 'H', 'i', 3, 0, 'Y', 0, '!'}))},
        {"message title as text", 107, text_in(P::ScreenMessageTitle, L"Hi"), wrong_kind, {}},
        {"message duration as text", 107, text_in(P::ScreenMessageDuration, L"5"), wrong_kind, {}},
        {"zero", 124, none(), 0, frame(B({0x30}), true)},
        {"tare absent", 125, none(), 0, B({0x02, 0x05, 0x31, '1', '2', '3', '4'})},
        {"tare 1500", 125, int_in(P::Tare, 1500), 0, frame(B({0x31}), true, B({0xDC, 0x05, 0, 0}))},
        {"tare -1", 125, int_in(P::Tare, -1), 0, frame(B({0x31}), true, B({0xFF, 0xFF, 0xFF, 0xFF}))},
        {"tare as bytes", 125, bytes_in(P::Tare, B({1})), wrong_kind, {}},
        {"processing 2", 141, int_in(P::DataProcessingMethod, 2), 0, frame(B({0xFF, 0x63}), true, B({2}))},
        {"processing 256", 141, int_in(P::DataProcessingMethod, 256), refused, {}},
        // Clock setters with given values: the bytes exactly as given.
        {"time 4 bytes", 2, bytes_in(P::Time, B({0x11, 0x2A, 0x09, 0x01})), 0,
         B({0x02, 0x09, 0x21, '1', '2', '3', '4', 0x11, 0x2A, 0x09, 0x01})},
        {"time 0 bytes", 2, bytes_in(P::Time, {}), 124, frame(B({0x21}), true)},  // the scale wants 3
        {"time as int", 2, int_in(P::Time, 5), wrong_kind, {}},
        {"date 3 bytes", 3, bytes_in(P::Date, B({5, 12, 26})), 0, frame(B({0x22}), true, B({5, 12, 26}))},
        {"date as text", 3, text_in(P::Date, L"x"), wrong_kind, {}},
        {"sync none", 145, none(), 0, frame(B({0xFF, 0x66}), true, B({0, 0}))},
        {"sync Moscow", 145, both(int_in(P::TimeAutoSyncEnabledFlag, 1), text_in(P::TimeZone, L"Europe/Moscow")), 0,
         frame(B({0xFF, 0x66}), true, tz_payload)},
        {"sync UTF-8", 145, text_in(P::TimeZone, L"\u041C\u0421\u041A"), 0,
         frame(B({0xFF, 0x66}), true, B({0, 6, 0xD0, 0x9C, 0xD0, 0xA1, 0xD0, 0x9A}))},
        {"sync flag 255", 145, int_in(P::TimeAutoSyncEnabledFlag, 255), 0, frame(B({0xFF, 0x66}), true, B({0xFF, 0}))},
        // The scale now synchronises itself and refuses to be set.
        {"time while synchronised", 2, bytes_in(P::Time, B({1, 2, 3})), 209, frame(B({0x21}), true, B({1, 2, 3}))},
        {"sync flag 256", 145, int_in(P::TimeAutoSyncEnabledFlag, 256), refused, {}},
        {"sync flag as text", 145, text_in(P::TimeAutoSyncEnabledFlag, L"1"), wrong_kind, {}},
        {"sync zone as bytes", 145, bytes_in(P::TimeZone, B({'U'})), wrong_kind, {}},
        {"sync zone 256 bytes", 145, text_in(P::TimeZone, std::wstring(256, L'z')), refused, {}},
        {"sync zone 128 two-byte", 145, text_in(P::TimeZone, std::wstring(128, L'\u0416')), refused, {}},
    });
}

TEST_F(ScaleSettings, LongTextsAtTheCountBoundary)
{
    // 255 time-zone bytes still fit their count byte.
    bytes zone_payload = B({0, 0xFF});
    const bytes zone = filled(255, 'z');
    zone_payload.insert(zone_payload.end(), zone.begin(), zone.end());
    bytes title_payload = B({0, 0xFF, 0xFF});
    const bytes title = filled(65535, 'T');
    title_payload.insert(title_payload.end(), title.begin(), title.end());
    title_payload.insert(title_payload.end(), {std::byte{1}, std::byte{0}, std::byte{'x'}});
    run({
        {"zone 255 bytes", 145, text_in(P::TimeZone, std::wstring(255, L'z')), 0,
         frame(B({0xFF, 0x66}), true, zone_payload)},
        {"title 65535", 107, both(bytes_in(P::ScreenMessageTitle, title), bytes_in(P::ScreenMessageText, B({'x'}))), 0,
         frame(B({0xFF, 0x05}), true, title_payload)},
        {"title 65536", 107, bytes_in(P::ScreenMessageTitle, filled(65536, 'T')), -104, {}},
        {"text 65536", 107, bytes_in(P::ScreenMessageText, filled(65536, 'T')), -104, {}},
    });
}

struct getter_case {
    std::string name;
    int command;
    bytes opcode;
    bool password;
    bytes data;  // after the result byte
    P output;
    bytes value;  // byte outputs; empty: see number or text
    int number;
    std::wstring text;
};

TEST_F(ScaleSettings, GettersDecodeRepliesAndShortRepliesWriteNothing)
{
    const getter_case cases[] = {
        {"front app", 45, B({0xAC}), true, B({1, 2, 30}), P::FrontAppVersion, {}, 0, L"1.2.30"},
        {"model", 46, B({0xAD}), true, B({0xFE}), P::ModelScaleVersion, {}, 254, {}},
        {"logging", 72, B({0xB6}), true, B({3}), P::LoggingType, {}, 3, {}},
        {"information",
         77,
         B({0xFF, 0x17}),
         false,
         B({3, 0, '{', 0, '}'}),
         P::JsonScaleInformation,
         B({'{', 0, '}'}),
         0,
         {}},
        {"information empty", 77, B({0xFF, 0x17}), false, B({0, 0}), P::JsonScaleInformation, {}, 0, {}},
        {"language", 105, B({0xFF, 0x03}), true, B({0x80}), P::LanguageCode, {}, 128, {}},
        {"processing", 140, B({0xFF, 0x62}), true, B({1}), P::DataProcessingMethod, {}, 1, {}},
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
        bytes value = B({0xEE});
        if (d.get_int_param(c.output, d.output_params, number, false) == 0) {
            EXPECT_EQ(number, c.number);
        } else if (d.get_string_param(c.output, d.output_params, text, false) == 0) {
            EXPECT_EQ(text, c.text);
        } else {
            ASSERT_EQ(d.get_bytes_array_param(c.output, d.output_params, value, false), 0);
            EXPECT_EQ(value, c.value);
        }
        EXPECT_EQ(d.output_params.size(), 1u);

        // The same reply one byte short: -101 and no output.
        bytes cut = c.data;
        cut.pop_back();
        sim.on(c.opcode, 0, cut);
        EXPECT_EQ(d.execute_command(c.command), -101);
        EXPECT_TRUE(d.output_params.empty());
    }
}

TEST_F(ScaleSettings, ScaleRefusalsGiveTheirCodeAndErrorLine)
{
    const struct {
        int command;
        bytes opcode;
        const char* line;
    } cases[] = {
        {1, B({0x13}), "'beep' error=122"},
        {46, B({0xAD}), "get_model_scale_version 122"},
        {77, B({0xFF, 0x17}), "'get_scale_information' error=122"},
        {124, B({0x30}), "'set_zero' error=122"},
        {125, B({0x31}), "'set_tare' error=122"},
        {78, B({0xB8}), "reload_front_application 122"},
    };
    for (const auto& c : cases) {
        sim.on(c.opcode, 122, {});
        device_test::log_capture log;
        EXPECT_EQ(d.execute_command(c.command), 122);
        EXPECT_TRUE(d.output_params.empty());
        EXPECT_TRUE(log.contains(c.line)) << c.line;
    }
    // Input refusals log no error line of the command's own.
    device_test::log_capture log;
    d.set_int_param(P::DateFormat, d.input_params, 3, false);
    EXPECT_EQ(d.execute_command(4), -104);
    for (const std::string& line : log.lines()) EXPECT_EQ(line.find("'set_date_format' error"), std::string::npos);
}

TEST_F(ScaleSettings, SettersAreAnsweredByTheSimulatedScale)
{
    auto kept = qv_sim::add_settings_replies(sim);
    const struct {
        int set;
        int get;
        P param;
        int value;
    } cases[] = {
        {73, 72, P::LoggingType, 2},
        {106, 105, P::LanguageCode, 7},
        {141, 140, P::DataProcessingMethod, 1},
    };
    for (const auto& c : cases) {
        d.set_int_param(c.param, d.input_params, c.value, false);
        ASSERT_EQ(d.execute_command(c.set), 0);
        ASSERT_EQ(d.execute_command(c.get), 0);
        int read = -1;
        EXPECT_EQ(d.get_int_param(c.param, d.output_params, read, false), 0);
        EXPECT_EQ(read, c.value);
    }
    d.set_string_param(P::NewPassword, d.input_params, L"4321", false);
    ASSERT_EQ(d.execute_command(5), 0);
    EXPECT_EQ(kept->get().password, "4321");
    EXPECT_EQ(d.ip_address_list.front().password, "1234");  // the list keeps the old one

    ASSERT_EQ(d.execute_command(77), 0);
    bytes info;
    ASSERT_EQ(d.get_bytes_array_param(P::JsonScaleInformation, d.output_params, info, false), 0);
    EXPECT_EQ(device_test::text_of(info), kept->get().information);
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
    EXPECT_EQ(two.execute_command(72), -110);
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
