// The state query (43): every field of the record in record order over UDP
// and TCP, and a short or refused reply that writes nothing.

#include <cstddef>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "codecs/device_utils.h"
#include "command_table.h"
#include "replies/states.h"

using namespace command_table;

namespace {

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

class States : public table_test<qv_sim::scale_state> {
protected:
    States() : table_test("127.0.0.144", qv_sim::add_state_replies) {}
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
};

TEST_F(States, EveryFieldInRecordOrderOverBothTransportsAndBadReplies)
{
    sim.on({0x11}, 0, distinct_record());
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
    for (const auto via : {qv_sim::transport::udp, qv_sim::transport::tcp}) {
        SCOPED_TRACE(via == qv_sim::transport::udp ? "UDP" : "TCP");
        d.ip_address_list.front().protocol = via == qv_sim::transport::udp ? 0 : 1;
        device_test::log_capture log;
        ASSERT_EQ(run(C::query_state_scale), 0);
        EXPECT_EQ(last().via, via);
        EXPECT_EQ(qv_sim::hex(last().frame), qv_sim::hex(unprotected({0x11})));
        std::vector<int> order, expected;
        for (const std::string& line : log.lines())
            if (line.rfind("set ", 0) == 0) order.push_back(std::stoi(line.substr(line.find("\"(") + 2)));
        for (const auto& f : fields) expected.push_back(static_cast<int>(f.param));
        EXPECT_EQ(order, expected);
        for (const auto& f : fields) EXPECT_EQ(shown(f.param), f.value) << static_cast<int>(f.param);
        EXPECT_EQ(d.output_params.size(), std::size(fields));
    }

    bytes short_record = distinct_record();
    short_record.pop_back();
    device_test::log_capture log;
    for (const auto& [result, data, code] : {std::tuple{0, short_record, -101}, std::tuple{120, bytes{}, 120}}) {
        sim.on({0x11}, result, data);
        EXPECT_EQ(run(C::query_state_scale), code);
        EXPECT_TRUE(d.output_params.empty());
    }
    EXPECT_TRUE(log.contains("query_state_scale 120"));
}

}  // namespace
