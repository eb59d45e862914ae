// Settings, clock, barcode and state commands: the exact request bytes with
// the edge values of their inputs and the refusals that send nothing, the host
// clock, the decoding of the state record and of other real and short
// replies, and two scales where the output comes from the first IP in text order.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "replies/systems.h"
#include "send_test_util.h"

using namespace send_test;

namespace {

using P = ParamType;
using inputs = std::function<void(device&)>;

bytes operator+(bytes head, const bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const inputs none = [](device&) {};
template <class T>
inputs in(P p, T v)
{
    return [=](device& d) {
        if constexpr (std::is_same_v<T, int>)
            d.set_int_param(p, d.input_params, v, false);
        else if constexpr (std::is_same_v<T, bytes>)
            d.set_bytes_array_param(p, d.input_params, v, false);
        else
            d.set_string_param(p, d.input_params, std::wstring(v), false);
    };
}
inputs operator&(inputs a, inputs b)
{
    return [=](device& d) { a(d), b(d); };
}

// 02 LEN, the opcode, the password "1234", the payload.
bytes frame(std::initializer_list<int> opcode, const bytes& payload = {})
{
    bytes body = B(opcode) + B({'1', '2', '3', '4'}) + payload;
    return B({0x02, body.size() > 254 ? 0xFF : static_cast<int>(body.size())}) + body;
}

// Record bytes k + 1 at record offset k, with the flag bytes (14, 37, 38),
// the weight FE FF (-2) and the tare FF FF (65535) set to values whose
// decoding can go wrong.
bytes distinct_record()
{
    bytes rec(73);
    for (std::size_t k = 0; k < rec.size(); ++k) rec[k] = std::byte(k + 1);
    const int set[][2] = {{14, 0xF2}, {37, 0x26}, {38, 0x81}, {39, 0xFE}, {40, 0xFF}, {41, 0xFF}, {42, 0xFF}};
    for (const auto& s : set) rec[s[0]] = std::byte(s[1]);
    return rec;
}

std::string n(int value)
{
    return std::to_string(value);
}

struct request_case {
    const char* name;
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
        qv_sim::add_standard_replies(sim);
        add_scale(d, sim, 1);
    }
    void TearDown() override { device::set_host_clock({}); }
    void run(const std::vector<request_case>& cases)
    {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            sim.clear_requests();
            c.given(d);
            EXPECT_EQ(d.execute_command(c.command), c.result);
            ASSERT_EQ(sim.request_count(), c.expected.empty() ? 0u : 1u);
            if (c.expected.empty()) continue;
            EXPECT_EQ(qv_sim::hex(sim.requests()[0].frame), qv_sim::hex(c.expected));
        }
    }
    // The output as a number, its text, or its bytes in hex.
    std::string shown(P p)
    {
        int number = 0;
        std::wstring text;
        bytes value;
        if (d.get_int_param(p, d.output_params, number, false) == 0) return std::to_string(number);
        if (d.get_string_param(p, d.output_params, text, false) == 0) return device_utils::str(text);
        d.get_bytes_array_param(p, d.output_params, value, false);
        return qv_sim::hex(value);
    }
    qv_sim::sim_scale sim{"127.0.0.13"};
};

TEST_F(ScaleSettings, RequestBytesWithEdgeValues)
{
    const bytes title(65535, std::byte{'T'}), too_long(65536, std::byte{'T'});
    auto kept = qv_sim::add_settings_replies(sim);
    run({
        // clang-format off
        {"beep", 1, none, 0, B({0x02, 0x01, 0x13})},
        {"date format 1", 4, in(P::DateFormat, 1), 0, B({0x02, 0x06, 0x24, '1', '2', '3', '4', 0x01})},
        {"date format 3", 4, in(P::DateFormat, 3), -104, {}},
        {"date format absent", 4, none, -7, {}},
        {"date format text", 4, in(P::DateFormat, L"1"), -8, {}},
        {"password cyrillic", 5, in(P::NewPassword, L"\u0416\u0443\u043A1"), 0,
         frame({0x16}, B({0xC6, 0xF3, 0xEA, '1'}))},
        {"password 5", 5, in(P::NewPassword, L"abcde"), -104, {}},
        {"password line feed", 5, in(P::NewPassword, L"a\ncd"), -1000, {}},
        {"message -5 s", 107, in(P::ScreenMessageDuration, -5), 0, frame({0xFF, 0x05}, B({0xFF, 0, 0, 0, 0}))},
        {"message title and text", 107, in(P::ScreenMessageTitle, B({'H', 'i'})) & in(P::ScreenMessageText, B({'Y', 0, '!'})),
         0, frame({0xFF, 0x05}, B({0, 2, 0, 'H', 'i', 3, 0, 'Y', 0, '!'}))},
        {"title 65535", 107, in(P::ScreenMessageTitle, title), 0,
         frame({0xFF, 0x05}, B({0, 0xFF, 0xFF}) + title + B({0, 0}))},
        {"title 65536", 107, in(P::ScreenMessageTitle, too_long), -104, {}},
        {"sync UTF-8", 145, in(P::TimeZone, L"\u041C\u0421\u041A") & in(P::TimeAutoSyncEnabledFlag, 1), 0,
         frame({0xFF, 0x66}, B({1, 6, 0xD0, 0x9C, 0xD0, 0xA1, 0xD0, 0x9A}))},
        {"sync flag 256", 145, in(P::TimeAutoSyncEnabledFlag, 256), -104, {}},
        {"zone 255 bytes", 145, in(P::TimeZone, std::wstring(255, L'z')), 0,
         frame({0xFF, 0x66}, B({0, 0xFF}) + bytes(255, std::byte{'z'}))},
        {"zone 128 two-byte", 145, in(P::TimeZone, std::wstring(128, L'\u0416')), -104, {}},
        {"barcode type 3", 36, in(P::PrefixBCType, 3), 0, frame({0x73}, B({3}))},
        {"barcode type 4", 36, in(P::PrefixBCType, 4), -104, {}},
        {"piece goods prefix, the others absent", 40, in(P::PrefixBC, 1) & in(P::PrefixBCPieceGoods, 25), 0,
         frame({0x77}, B({0x01, 0x19}))},
        {"weighed goods prefix 99, the others out of range", 40, in(P::PrefixBC, 0) & in(P::PrefixBCWeightGoods, 99) &
         in(P::PrefixBCPieceGoods, 500) & in(P::PrefixBCTotalLabel, -1), 0, frame({0x77}, B({0x00, 0x63}))},
        {"prefix 100", 40, in(P::PrefixBC, 0) & in(P::PrefixBCWeightGoods, 100), -104, {}},
        {"selected prefix absent", 40, in(P::PrefixBC, 2) & in(P::PrefixBCWeightGoods, 20), -7, {}},
        {"barcode format 15", 38, in(P::BCFormat, 15), 0, frame({0x75}, B({15}))},
        {"barcode format 256 + 7", 38, in(P::BCFormat, 256 + 7), -104, {}},
        {"structures of 65536 bytes", 66, in(P::JsonBarcodeStructures, too_long), -104, {}},
        // clang-format on
    });
    EXPECT_EQ(kept->get().password,
              "\xC6\xF3\xEA"
              "1");
    EXPECT_EQ(d.ip_address_list.front().password, "1234");  // the list keeps the old one
    sim.on({0x13}, 122, {});
    device_test::log_capture log;
    EXPECT_EQ(d.execute_command(1), 122);
    EXPECT_TRUE(log.contains("'beep' error=122"));
    d.set_string_param(P::TimeZone, d.input_params, L"UTC", false);
    EXPECT_EQ(d.execute_command(145), 0);  // the absent flag goes as 0, with its warning
    EXPECT_EQ(qv_sim::hex(sim.requests().back().frame), qv_sim::hex(frame({0xFF, 0x66}, B({0, 3, 'U', 'T', 'C'}))));
    EXPECT_TRUE(log.contains("get int param \"(348) TimeAutoSyncEnabledFlag\": not found!"));
}

TEST_F(ScaleSettings, AbsentTimeAndDateTakeTheHostClock)
{
    std::tm local{};
    local.tm_mday = 5, local.tm_mon = 11, local.tm_year = 126, local.tm_hour = 17, local.tm_min = 42;
    local.tm_sec = 9, local.tm_isdst = -1;
    const std::int64_t at = std::mktime(&local);
    device::set_host_clock([at] { return at; });
    EXPECT_EQ(device::return_current_time_and_date(), "05-12-2026_17-42-09");
    run({{"time", 2, none, 0, frame({0x21}, B({0x11, 0x2A, 0x09}))},
         {"date", 3, none, 0, frame({0x22}, B({0x05, 0x0C, 0x1A, 0x11, 0x2A, 0x09}))}});

    // A clock that cannot be read: nothing goes out.
    device::set_host_clock([] { return std::numeric_limits<std::int64_t>::max(); });
    EXPECT_EQ(device::return_current_time_and_date(), "");
    run({{"time", 2, none, -1000, {}}, {"date", 3, none, -1000, {}}});
}

TEST_F(ScaleSettings, RepliesDecodedAndShortRepliesWriteNothing)
{
    bytes structures(300, std::byte{'s'});
    structures[5] = std::byte{0};
    in(P::JsonBarcodeStructures, structures)(d);
    EXPECT_EQ(d.execute_command(66), 0);  // past 254 bytes the LEN byte reads FF
    EXPECT_EQ(sim.requests()[0].frame, B({0x02, 0xFF, 0xFF, 0x28, '1', '2', '3', '4', 0x2C, 0x01}) + structures);
    const struct {
        int command;
        bytes opcode, data;  // data: the reply after the result byte
        P output;
        std::string value;
    } cases[] = {
        // Zero bytes dropped, the rest read as UTF-8; the flag before it.
        {144, B({0xFF, 0x65}), B({2, 5, 'U', 0, 0xD0, 0x9C, 'C'}), P::TimeZone, "U\u041CC"},
        {39, B({0x76}), B({20, 21, 22}), P::PrefixBCTotalLabel, "22"},
        {65, B({0xFF, 0x27}), {}, P::JsonBarcodeStructures, qv_sim::hex(structures)},  // as written
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        bytes data = c.data;
        if (!data.empty()) sim.on(c.opcode, 0, data);
        ASSERT_EQ(d.execute_command(c.command), 0);
        EXPECT_EQ(shown(c.output), c.value);
        EXPECT_TRUE(c.output != P::TimeZone || shown(P::TimeAutoSyncEnabledFlag) == "2");
        if (data.empty()) data = B({0x2C, 0x01}) + structures;
        data.pop_back();
        sim.on(c.opcode, 0, data);  // one byte short
        EXPECT_EQ(d.execute_command(c.command), -101);
        EXPECT_TRUE(d.output_params.empty());
    }
}

TEST_F(ScaleSettings, StateRecordEveryFieldInRecordOrder)
{
    sim.on({0x11}, 0, distinct_record());
    device_test::log_capture log;
    ASSERT_EQ(d.execute_command(43), 0);
    EXPECT_EQ(sim.requests().at(0).frame, B({0x02, 0x01, 0x11}));  // no password
    // In record order, each flag byte before its flags.
    const struct {
        P param;
        std::string value;  // a number, the text, or the bytes in hex
    } fields[] = {
        // clang-format off
        {P::VersionLP, "1.2.3"}, {P::Embodiment, n(0x0504)}, {P::DateLP, "06 07 08"}, {P::PLUCount, n(0x0A09)},
        {P::MessagesCount, n(0x0C0B)}, {P::StringsCountInMessage, "13"}, {P::WeightLimit, "14"},
        {P::Discreteness, "F2"}, {P::Discreteness1g, "0"}, {P::Discreteness2g, "1"}, {P::Discreteness5g, "0"},
        {P::Discreteness10g, "0"}, {P::ScalesNumber, "16"}, {P::LabelNumber, n(0x1211)}, {P::Mode, n(0x1413)},
        {P::AdvancedMode, "21"}, {P::KeyboardMode, "22"}, {P::Date, "17 18 19"}, {P::Time, "1A 1B 1C"},
        {P::DateFormat, "29"}, {P::TimeFormat, "30"}, {P::ReservedByte, "1F"}, {P::PointPosition, "32"},
        {P::PackagingON, "33"}, {P::SoundON, "34"}, {P::PrintMode, "35"}, {P::AutoPrintWeight, n(0x2524)},
        {P::PrinterMode, "26"}, {P::PaperPresence, "0"}, {P::PrintedLabelPresence, "1"}, {P::LabelPositioning, "1"},
        {P::PrintHead, "0"}, {P::PrintCopyAbility, "0"}, {P::WeightDeviceMode, "81"}, {P::WeightFixationSign, "1"},
        {P::AutoZeroingSign, "0"}, {P::AutoZeroInitialInstallationSign, "0"}, {P::TareSign, "0"},
        {P::CalmingWeightSign, "0"}, {P::AutoZeroError, "0"}, {P::OverloadByWeight, "0"},
        {P::ReceivingMeasurementError, "1"}, {P::Weight, "-2"}, {P::Tare, "65535"}, {P::Cost, n(0x2F2E2D2C)},
        {P::Price, n(0x33323130)}, {P::CurPLU, n(0x3534)}, {P::GoodsType, "54"}, {P::CurrEquivOn, "55"},
        {P::CurrencyCourse, n(0x3B3A3938)}, {P::CurrEquiv, n(0x3F3E3D3C)}, {P::sSum, "40 41 42 43 44 45 46"},
        {P::EthernetStatus, n(0x4847)}, {P::DisplayType, "73"},
        // clang-format on
    };
    std::vector<int> order, expected;
    for (const std::string& line : log.lines())
        if (line.rfind("set ", 0) == 0) order.push_back(std::stoi(line.substr(line.find("\"(") + 2)));
    for (const auto& f : fields) expected.push_back(static_cast<int>(f.param));
    EXPECT_EQ(order, expected);
    for (const auto& f : fields) EXPECT_EQ(shown(f.param), f.value) << static_cast<int>(f.param);
    EXPECT_EQ(d.output_params.size(), std::size(fields));

    bytes short_record = distinct_record();
    short_record.pop_back();
    sim.on({0x11}, 0, short_record);
    EXPECT_EQ(d.execute_command(43), -101);
    EXPECT_TRUE(d.output_params.empty());
}

TEST_F(ScaleSettings, TwoScalesOutputFromTheFirstIpInTextOrder)
{
    // 127.0.0.9 joins the list first, but "127.0.0.10" sorts before it.
    qv_sim::sim_scale nine("127.0.0.9"), ten("127.0.0.10");
    d.ip_address_list.clear();
    add_scale(d, nine, 1);
    add_scale(d, ten, 0);
    nine.on({0xB6}, 0, B({9}));
    ten.on({0xB6}, 0, B({10}));
    EXPECT_EQ(d.execute_command(72), -110);  // through the dispatcher a getter is for one scale only
    EXPECT_EQ(d.execute_command(43), -110);
    ASSERT_EQ(d.get_logging(), 0);  // called directly, both are asked
    EXPECT_EQ(nine.request_count() + ten.request_count(), 2u);
    EXPECT_EQ(shown(P::LoggingType), "10");

    // Group setters reach both; one refusal makes the result -111.
    d.set_int_param(P::LanguageCode, d.input_params, 2, false);
    EXPECT_EQ(d.execute_command(106), 0);
    EXPECT_EQ(ten.requests().back().frame, frame({0xFF, 0x04}, B({2})));
    nine.on({0x13}, 122, {});
    EXPECT_EQ(d.execute_command(1), -111);
}

}  // namespace
