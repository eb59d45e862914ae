// The state record: every field decoded from a record whose fields all
// differ, outputs in record order, a record one byte short, scale refusals
// and the one-scale rule.

#include <cstddef>
#include <string>
#include <vector>

#include "replies/states.h"
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

class StateRecord : public device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        add_scale(d, sim, 0);
    }
    int output_int(P p)
    {
        int v = -12345;
        EXPECT_EQ(d.get_int_param(p, d.output_params, v, false), 0) << static_cast<int>(p);
        return v;
    }
    bytes output_bytes(P p)
    {
        bytes v;
        EXPECT_EQ(d.get_bytes_array_param(p, d.output_params, v, false), 0) << static_cast<int>(p);
        return v;
    }
    qv_sim::sim_scale sim{"127.0.0.11"};
};

TEST_F(StateRecord, EveryFieldFromARecordWhoseFieldsAllDiffer)
{
    sim.on({0x11}, 0, distinct_record());
    device_test::log_capture log;
    ASSERT_EQ(d.execute_command(43), 0);
    ASSERT_EQ(sim.request_count(), 1u);
    EXPECT_EQ(sim.requests()[0].raw, B({0x02, 0x01, 0x11}));  // no password

    std::wstring version;
    EXPECT_EQ(d.get_string_param(P::VersionLP, d.output_params, version, false), 0);
    EXPECT_EQ(version, L"1.2.3");
    const struct {
        P param;
        int value;
    } ints[] = {
        {P::Embodiment, 0x0504},
        {P::PLUCount, 0x0A09},
        {P::MessagesCount, 0x0C0B},
        {P::StringsCountInMessage, 13},
        {P::WeightLimit, 14},
        {P::Discreteness1g, 0},
        {P::Discreteness2g, 1},
        {P::Discreteness5g, 0},
        {P::Discreteness10g, 0},
        {P::ScalesNumber, 16},
        {P::LabelNumber, 0x1211},
        {P::Mode, 0x1413},
        {P::AdvancedMode, 21},
        {P::KeyboardMode, 22},
        {P::DateFormat, 29},
        {P::TimeFormat, 30},
        {P::PointPosition, 32},
        {P::PackagingON, 33},
        {P::SoundON, 34},
        {P::PrintMode, 35},
        {P::AutoPrintWeight, 0x2524},
        {P::PaperPresence, 0},
        {P::PrintedLabelPresence, 1},
        {P::LabelPositioning, 1},
        {P::PrintHead, 0},
        {P::PrintCopyAbility, 0},
        {P::WeightFixationSign, 1},
        {P::AutoZeroingSign, 0},
        {P::AutoZeroInitialInstallationSign, 0},
        {P::TareSign, 0},
        {P::CalmingWeightSign, 0},
        {P::AutoZeroError, 0},
        {P::OverloadByWeight, 0},
        {P::ReceivingMeasurementError, 1},
        {P::Weight, -2},
        {P::Tare, 65535},
        {P::Cost, 0x2F2E2D2C},
        {P::Price, 0x33323130},
        {P::CurPLU, 0x3534},
        {P::GoodsType, 54},
        {P::CurrEquivOn, 55},
        {P::CurrencyCourse, 0x3B3A3938},
        {P::CurrEquiv, 0x3F3E3D3C},
        {P::EthernetStatus, 0x4847},
        {P::DisplayType, 73},
    };
    for (const auto& c : ints) EXPECT_EQ(output_int(c.param), c.value) << static_cast<int>(c.param);
    const struct {
        P param;
        bytes value;
    } arrays[] = {
        {P::DateLP, B({6, 7, 8})},        {P::Discreteness, B({0xF2})},
        {P::Date, B({23, 24, 25})},       {P::Time, B({26, 27, 28})},
        {P::ReservedByte, B({31})},       {P::PrinterMode, B({0x26})},
        {P::WeightDeviceMode, B({0x81})}, {P::sSum, B({64, 65, 66, 67, 68, 69, 70})},
    };
    for (const auto& c : arrays) EXPECT_EQ(output_bytes(c.param), c.value) << static_cast<int>(c.param);
    EXPECT_EQ(d.output_params.count(P::JsonScaleInformation), 0u);  // 31 is not the reserved byte
    EXPECT_EQ(d.output_params.size(), 36u + 17u + 1u);

    // Outputs are written in record order, each flag byte before its flags.
    std::vector<int> order;
    for (const std::string& line : log.lines()) {
        if (line.rfind("set ", 0) != 0) continue;
        const std::size_t open = line.find("\"(");
        order.push_back(std::stoi(line.substr(open + 2)));
    }
    const std::vector<int> expected{14, 15, 16, 17, 18, 19, 20, 21, 263, 264, 265, 266, 22,  23,  24,  25, 26, 27,
                                    28, 29, 30, -2, 32, 33, 34, 35, 36,  37,  267, 268, 269, 270, 271, 38, 6,  7,
                                    8,  9,  10, 11, 12, 13, 39, 40, 42,  41,  43,  44,  45,  46,  47,  48, 49, 50};
    EXPECT_EQ(order, expected);
}

TEST_F(StateRecord, ShortRepliesAndRefusalsWriteNothing)
{
    bytes short_record = distinct_record();
    short_record.pop_back();
    const struct {
        std::uint8_t result;
        bytes data;
        int expected;
        const char* line;
    } cases[] = {
        {0, short_record, -101, "query_state_scale -101"},
        {0, {}, -101, "query_state_scale -101"},
        {120, {}, 120, "query_state_scale 120"},
    };
    for (const auto& c : cases) {
        sim.on({0x11}, c.result, c.data);
        device_test::log_capture log;
        EXPECT_EQ(d.execute_command(43), c.expected);
        EXPECT_TRUE(d.output_params.empty());
        EXPECT_TRUE(log.contains(c.line)) << c.line;
    }
    // A scale that does not answer.
    sim.set_fault(silent());
    EXPECT_EQ(d.execute_command(43), -1);
    EXPECT_TRUE(d.output_params.empty());
}

TEST_F(StateRecord, SimulatedScaleServesItsFields)
{
    auto state = qv_sim::add_state_replies(sim);
    state->update([](qv_sim::state_fields& f) {
        f.weight = -1;
        f.tare = 0xFFFF;
        f.cost = 10000;
        f.price = 1000;
        f.version = {2, 1, 15};
    });
    ASSERT_EQ(d.execute_command(43), 0);
    EXPECT_EQ(output_int(P::Weight), -1);
    EXPECT_EQ(output_int(P::Tare), 65535);
    EXPECT_EQ(output_int(P::Cost), 10000);
    EXPECT_EQ(output_int(P::Price), 1000);
    std::wstring version;
    EXPECT_EQ(d.get_string_param(P::VersionLP, d.output_params, version, false), 0);
    EXPECT_EQ(version, L"2.1.15");
}

TEST_F(StateRecord, OneScaleOnly)
{
    qv_sim::sim_scale other("127.0.0.12");
    add_scale(d, other, 1);
    EXPECT_EQ(d.execute_command(43), -110);
    EXPECT_EQ(sim.request_count() + other.request_count(), 0u);
}

}  // namespace
