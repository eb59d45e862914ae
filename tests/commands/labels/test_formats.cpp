// The scale's label settings: request bytes, read back, one-byte values at
// their edges, refusals, short replies.

#include <string>
#include <tuple>

#include "../records/record_test_util.h"

using namespace record_test;

namespace {

class Formats : public scale_test<qv_sim::label_state> {
protected:
    Formats() : scale_test("127.0.0.80", qv_sim::add_label_replies) {}
};

TEST_F(Formats, SettersSendTheirBytesAndGettersReadThemBack)
{
    const std::tuple<C, C, P, input, bytes> table[] = {
        // getter, setter, value, the setter's frame
        {C::get_default_format_label, C::set_default_format_label, P::LabelFormat, 250,
         B({0x02, 0x06, 0x71, '1', '2', '3', '4', 250})},
        {C::get_currency, C::set_currency, P::CurrencyCode, 255, B({0x02, 0x07, 0xFF, 0x02, '1', '2', '3', '4', 255})},
        {C::get_currency, C::set_currency, P::CurrencyCode, 0, B({0x02, 0x07, 0xFF, 0x02, '1', '2', '3', '4', 0})},
        {C::get_label_rotate_value, C::set_label_rotate_value, P::Rotate, 255,
         B({0x02, 0x07, 0xFF, 0x55, '1', '2', '3', '4', 255})},
        {C::get_json_message_tags, C::set_json_message_tags, P::JsonMessageTags, B({'a', 0, 0xD0, 0xA6, '\n'}),
         B({0x02, 0x0D, 0xFF, 0x61, '1', '2', '3', '4', 5, 0, 'a', 0, 0xD0, 0xA6, '\n'})},
    };
    for (const auto& [get, setter, param, value, frame] : table) {
        SCOPED_TRACE(static_cast<int>(setter));
        set({{param, value}});
        ASSERT_EQ(run(setter), 0);
        EXPECT_EQ(last().frame, frame);
        ASSERT_EQ(run(get), 0);
        EXPECT_EQ(out_like(value, param), value);
    }
}

TEST_F(Formats, RefusalsSendNothing)
{
    // clang-format off
    expect_refused({{C::set_default_format_label, {{P::LabelFormat, 251}}, -104},
                    {C::set_default_format_label, {{P::LabelFormat, -1}}, -104},
                    {C::set_currency, {{P::CurrencyCode, 256}}, -104}, {C::set_currency, {{P::CurrencyCode, -1}}, -104},
                    {C::set_label_rotate_value, {{P::Rotate, 256}}, -104},
                    {C::set_label_rotate_value, {{P::Rotate, -1}}, -104},
                    {C::set_scale_number, {{P::ScalesNumber, 0}}, -104}, {C::set_scale_number, {{P::ScalesNumber, 100}}, -104},
                    {C::set_label_rotate_value, {{P::Rotate, L"1"}}, -8}, {C::set_shop_address, {}, -7},
                    {C::set_shop_name_multi_strings, {{P::ShopName, bytes(65536, std::byte{'x'})}}, -104}});
    // clang-format on
}

TEST_F(Formats, ShortRepliesWriteNothingAndTheOffsetFollowsTheOpcode)
{
    const std::pair<C, bytes> table[] = {
        {C::get_default_format_label, B({0x02, 0x02, 0x70, 0x00})},
        {C::get_json_message_tags, B({0x02, 0x07, 0xFF, 0x60, 0x00, 0xFF, 0xFF, 'a', 'b'})},
    };
    for (const auto& [command, reply] : table) {
        const bytes body = reply;
        const long command_size = reply[2] == std::byte{0xFF} ? 2 : 1;
        sim.on(bytes(reply.begin() + 2, reply.begin() + 2 + command_size),
               [body](const qv_sim::request&) { return qv_sim::reply(body); });
        EXPECT_EQ(run(command), -101) << qv_sim::hex(reply);
        EXPECT_TRUE(d.output_params.empty());
    }
    sim.on({0xFF, 0x37}, 0, {0x22});
    ASSERT_EQ(run(C::get_default_format_total_label), 0);
    EXPECT_EQ(out_int(P::LabelFormat), 0x22);
}

}  // namespace
