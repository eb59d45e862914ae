// The protocol version (44) and the serial number (47) run as commands: their
// requests, the mark each version leaves in the scale's result, and short or
// empty replies.

#include <map>
#include <string>

#include "command_table.h"
#include "replies/version.h"

using namespace command_table;

namespace {

class Version : public table_test<qv_sim::connect_identity> {
protected:
    Version() : table_test("127.0.0.145", qv_sim::add_connect_replies) {}
};

TEST_F(Version, EachScaleVersionIsComparedMajorFirst)
{
    const struct {
        int major, minor;
        int mark;  // the scale's entry in the results; the command returns 0
        const wchar_t* shown;
    } rows[] = {{0, 17, 0, L"0.17"}, {0, 16, -108, L"0.16"}, {0, 18, -107, L"0.18"}, {1, 0, -107, L"1.0"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        state->set_protocol_version(static_cast<std::uint8_t>(row.major), static_cast<std::uint8_t>(row.minor));
        sim.clear_requests();
        ASSERT_EQ(run(C::get_quorvix_protocol_version), 0);
        EXPECT_EQ(qv_sim::hex(last().frame), qv_sim::hex(frame({0xAB})));
        EXPECT_EQ(d.results, (std::map<std::string, int>{{sim.ip(), row.mark}}));
        EXPECT_EQ(out(P::ScaleProtocolVersion, std::wstring()), row.shown);
        EXPECT_EQ(out(P::DriverProtocolVersion, std::wstring()), L"0.17");
    }
    sim.on({0xAB}, 0, {0});  // the minor missing
    EXPECT_EQ(run(C::get_quorvix_protocol_version), -101);
    EXPECT_TRUE(d.output_params.empty());
}

TEST_F(Version, SerialNumberRequestAndAnEmptyOrRefusedReply)
{
    state->set_serial_number("QV7");
    ASSERT_EQ(run(C::get_serial_number), 0);
    EXPECT_EQ(qv_sim::hex(last().frame), qv_sim::hex(frame({0xAE})));
    EXPECT_EQ(out(P::SerialNumber, std::wstring()), L"QV7");
    // A refusal keeps the serial number read before; a reply without data clears it.
    sim.on({0xAE}, 122, {});
    EXPECT_EQ(run(C::get_serial_number), 122);
    EXPECT_EQ(d.ip_address_list.front().serial_number, "QV7");
    sim.on({0xAE}, 0, {});
    ASSERT_EQ(run(C::get_serial_number), 0);
    EXPECT_EQ(d.ip_address_list.front().serial_number, "");
    EXPECT_EQ(out(P::SerialNumber, std::wstring(L"x")), L"");
}

}  // namespace
