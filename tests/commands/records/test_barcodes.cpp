// The barcode format byte against a simulated scale: the numbers the setter
// takes, the round trip and a short reply.

#include "labels/label_records_fixture.h"

using namespace label_test;

namespace {

class BarcodeFormat : public label_records_test {};

TEST_F(BarcodeFormat, OnlyTheKnownFormatsAreSentAndReadBack)
{
    for (int format : {6, 7, 8, 9, 15}) {
        set(P::BCFormat, format);
        ASSERT_EQ(run(CommandType::set_barcode_structure), 0) << format;
        EXPECT_EQ(last_payload(), bytes{std::byte(format)});
        ASSERT_EQ(run(CommandType::get_barcode_structure), 0);
        EXPECT_EQ(last_payload(), bytes{});
        EXPECT_EQ(out_int(P::BCFormat), format);
    }
    const std::size_t sent = sim.request_count();
    for (int format : {0, 5, 10, 14, 16, 256 + 7, -1}) {
        set(P::BCFormat, format);
        EXPECT_EQ(run(CommandType::set_barcode_structure), -104) << format;
    }
    set_text(P::BCFormat, L"7");
    EXPECT_EQ(run(CommandType::set_barcode_structure), -8);
    device_test::log_capture log;
    EXPECT_EQ(run(CommandType::set_barcode_structure), -104);
    EXPECT_TRUE(log.contains("The '191' parameter is missing"));
    EXPECT_FALSE(log.contains("set_barcode_structure -104"));
    EXPECT_EQ(sim.request_count(), sent);
}

TEST_F(BarcodeFormat, ShortReplyAndScaleRefusal)
{
    sim.on({0x74}, 0);
    device_test::log_capture log;
    EXPECT_EQ(run(CommandType::get_barcode_structure), -101);
    EXPECT_TRUE(d.output_params.empty());
    EXPECT_TRUE(log.contains("get_barcode_structure -101"));
    sim.on({0x75}, 131);
    set(P::BCFormat, 8);
    EXPECT_EQ(run(CommandType::set_barcode_structure), 131);
    EXPECT_TRUE(log.contains("set_barcode_structure 131"));
}

}  // namespace
