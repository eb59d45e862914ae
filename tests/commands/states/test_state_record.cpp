// The state record: every field decoded from a record whose fields all
// differ, outputs in record order, a record one byte short, scale refusals
// and the one-scale rule.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "send_test_util.h"

using namespace send_test;

namespace {

using P = ParamType;

// Record bytes k + 1 at record offset k, with the flag bytes, the weight
// and the tare set to values whose decoding can go wrong.
bytes distinct_record()
{
    bytes rec(73);
    for (std::size_t k = 0; k < rec.size(); ++k) rec[k] = std::byte(k + 1);
    rec[14] = std::byte{0xF2};  // Discreteness
    rec[37] = std::byte{0x26};  // PrinterMode 0010 0110
    rec[38] = std::byte{0x81};  // WeightDeviceMode 1000 0001
    rec[39] = std::byte{0xFE};  // Weight FE FF: -2
    rec[40] = std::byte{0xFF};
    rec[41] = std::byte{0xFF};  // Tare FF FF: 65535
    rec[42] = std::byte{0xFF};
    return rec;
}

std::string n(int value)
{
    return std::to_string(value);
}

class StateRecord : public device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        add_scale(d, sim, 0);
    }
    // The output as a number, its text, or its bytes in hex.
    std::string shown(P p)
    {
        int number = 0;
        std::wstring text;
        bytes value;
        if (d.get_int_param(p, d.output_params, number, false) == 0) return n(number);
        if (d.get_string_param(p, d.output_params, text, false) == 0) return device_utils::str(text);
        if (d.get_bytes_array_param(p, d.output_params, value, false) == 0) return qv_sim::hex(value);
        return "absent";
    }
    qv_sim::sim_scale sim{"127.0.0.11"};
};

TEST_F(StateRecord, EveryFieldInRecordOrderFromARecordWhoseFieldsAllDiffer)
{
    sim.on({0x11}, 0, distinct_record());
    device_test::log_capture log;
    ASSERT_EQ(d.execute_command(43), 0);
    ASSERT_EQ(sim.request_count(), 1u);
    EXPECT_EQ(sim.requests()[0].raw, B({0x02, 0x01, 0x11}));  // no password

    // In record order, each flag byte before its flags.
    const struct {
        P param;
        std::string value;
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
}

TEST_F(StateRecord, ShortRepliesRefusalsAndSilenceWriteNothing)
{
    bytes short_record = distinct_record();
    short_record.pop_back();
    const struct {
        std::uint8_t result;
        bytes data;
        int expected;
    } cases[] = {{0, short_record, -101}, {0, {}, -101}, {120, {}, 120}};
    for (const auto& c : cases) {
        sim.on({0x11}, c.result, c.data);
        device_test::log_capture log;
        EXPECT_EQ(d.execute_command(43), c.expected);
        EXPECT_TRUE(d.output_params.empty());
        EXPECT_TRUE(log.contains("query_state_scale " + n(c.expected)));
    }
    sim.set_fault(silent());
    EXPECT_EQ(d.execute_command(43), -1);
    EXPECT_TRUE(d.output_params.empty());
}

TEST_F(StateRecord, OneScaleOnly)
{
    qv_sim::sim_scale other("127.0.0.12");
    add_scale(d, other, 1);
    EXPECT_EQ(d.execute_command(43), -110);
    EXPECT_EQ(sim.request_count() + other.request_count(), 0u);
}

}  // namespace
