// The scale's label settings: each setter's request bytes and range, its
// getter answering what was set, short replies, log lines and lists.

#include <string>

#include "label_test_util.h"

using namespace label_test;

namespace {

using Formats = label_test_base;

struct byte_pair {
    CommandType get, set;
    ParamType param;
    bytes set_command;
    int value;
};

const byte_pair byte_pairs[] = {
    {CommandType::get_default_format_label, CommandType::set_default_format_label, ParamType::LabelFormat, B({0x71}),
     250},
    {CommandType::get_default_format_total_label, CommandType::set_default_format_total_label, ParamType::LabelFormat,
     B({0xFF, 0x38}), 7},
    {CommandType::get_default_format_cart_total_label, CommandType::set_default_format_cart_total_label,
     ParamType::LabelFormat, B({0xFF, 0x47}), 0},
    {CommandType::get_default_format_cart_label, CommandType::set_default_format_cart_label, ParamType::LabelFormat,
     B({0xFF, 0x49}), 12},
    {CommandType::get_currency, CommandType::set_currency, ParamType::CurrencyCode, B({0xFF, 0x02}), 255},
    {CommandType::get_label_rotate_value, CommandType::set_label_rotate_value, ParamType::Rotate, B({0xFF, 0x55}), 180},
};

TEST_F(Formats, ByteSettersRoundTrip)
{
    for (const auto& c : byte_pairs) {
        SCOPED_TRACE(static_cast<int>(c.set));
        set(c.param, c.value);
        ASSERT_EQ(run(c.set), 0);
        bytes expected = B({0x02, static_cast<int>(c.set_command.size()) + 5});
        expected.insert(expected.end(), c.set_command.begin(), c.set_command.end());
        const bytes tail = B({'1', '2', '3', '4', c.value});
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_EQ(last().frame, expected);
        ASSERT_EQ(run(c.get), 0);
        EXPECT_EQ(out_int(c.param), c.value);
    }
    // The four kinds of label keep four formats.
    EXPECT_EQ(state->get().formats.size(), 4u);
}

TEST_F(Formats, OutOfRangeSendsNothing)
{
    const struct {
        CommandType command;
        ParamType param;
        int value;
    } table[] = {
        {CommandType::set_default_format_label, ParamType::LabelFormat, 251},
        {CommandType::set_currency, ParamType::CurrencyCode, 0x1234},
        {CommandType::set_label_rotate_value, ParamType::Rotate, 256},
        {CommandType::set_scale_number, ParamType::ScalesNumber, 0},
        {CommandType::set_scale_number, ParamType::ScalesNumber, 100},
    };
    for (const auto& c : table) {
        set(c.param, c.value);
        EXPECT_EQ(run(c.command), -104) << static_cast<int>(c.command) << " " << c.value;
    }
    EXPECT_EQ(run(CommandType::set_currency), -7);
    set(ParamType::Rotate, L"1");
    EXPECT_EQ(run(CommandType::set_label_rotate_value), -8);
    EXPECT_EQ(sim.request_count(), 0u);

    for (int n : {1, 99}) {
        set(ParamType::ScalesNumber, n);
        ASSERT_EQ(run(CommandType::set_scale_number), 0);
        EXPECT_EQ(last().frame, B({0x02, 0x06, 0x25, '1', '2', '3', '4', n}));
    }
    EXPECT_EQ(state->get().scale_number, 99);
}

TEST_F(Formats, TextSettersKeepEveryByte)
{
    const struct {
        CommandType get, set;
        ParamType param;
        bytes set_command;
    } table[] = {
        {CommandType::get_shop_name_multi_strings, CommandType::set_shop_name_multi_strings, ParamType::ShopName,
         B({0xFF, 0x44})},
        {CommandType::get_shop_address, CommandType::set_shop_address, ParamType::ShopAddress, B({0xFF, 0x20})},
        {CommandType::get_json_message_tags, CommandType::set_json_message_tags, ParamType::JsonMessageTags,
         B({0xFF, 0x61})},
    };
    const bytes text = B({'a', 0, 0xD0, 0xA6, '\n'});
    for (const auto& c : table) {
        SCOPED_TRACE(static_cast<int>(c.set));
        set(c.param, text);
        ASSERT_EQ(run(c.set), 0);
        bytes expected = B({0x02, 0x0D});
        expected.insert(expected.end(), c.set_command.begin(), c.set_command.end());
        const bytes tail = B({'1', '2', '3', '4', 5, 0, 'a', 0, 0xD0, 0xA6, '\n'});
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_EQ(last().frame, expected);
        ASSERT_EQ(run(c.get), 0);
        EXPECT_EQ(out_bytes(c.param), text);

        // A length the u16 cannot carry is refused; 65535 bytes go whole.
        sim.clear_requests();
        set(c.param, bytes(65536, std::byte{'x'}));
        EXPECT_EQ(run(c.set), -104);
        EXPECT_EQ(sim.request_count(), 0u);
        set(c.param, bytes(65535, std::byte{'x'}));
        ASSERT_EQ(run(c.set), 0);
        EXPECT_EQ(data_of(last()).size(), 65537u);
    }
}

TEST_F(Formats, ShortRepliesWriteNothing)
{
    const struct {
        CommandType command;
        ParamType param;
        bytes reply;  // its command bytes start at offset 2
    } table[] = {
        {CommandType::get_default_format_label, ParamType::LabelFormat, B({0x02, 0x02, 0x70, 0x00})},
        {CommandType::get_default_format_cart_label, ParamType::LabelFormat, B({0x02, 0x03, 0xFF, 0x48, 0x00})},
        {CommandType::get_shop_address, ParamType::ShopAddress, B({0x02, 0x04, 0xFF, 0x21, 0x00, 0x01})},
        {CommandType::get_json_message_tags, ParamType::JsonMessageTags,
         B({0x02, 0x07, 0xFF, 0x60, 0x00, 0xFF, 0xFF, 'a', 'b'})},
    };
    for (const auto& c : table) {
        const bytes reply = c.reply;
        const std::size_t command_size = reply[2] == std::byte{0xFF} ? 2 : 1;
        sim.on(bytes(reply.begin() + 2, reply.begin() + 2 + static_cast<long>(command_size)),
               [reply](const qv_sim::request&) { return qv_sim::reply(reply); });
        EXPECT_EQ(run(c.command), -101) << qv_sim::hex(reply);
        EXPECT_FALSE(has_output(c.param));
    }
}

TEST_F(Formats, OffsetFollowsTheOpcodeAndLogLinesAreShared)
{
    device_test::log_capture log;
    sim.on({0x70}, 0, {0x21});
    ASSERT_EQ(run(CommandType::get_default_format_label), 0);
    EXPECT_EQ(out_int(ParamType::LabelFormat), 0x21);
    sim.on({0xFF, 0x37}, 0, {0x22});
    ASSERT_EQ(run(CommandType::get_default_format_total_label), 0);
    EXPECT_EQ(out_int(ParamType::LabelFormat), 0x22);

    sim.on({0xFF, 0x46}, 136);
    EXPECT_EQ(run(CommandType::get_default_format_cart_total_label), 136);
    sim.on({0x25}, 124);
    set(ParamType::ScalesNumber, 5);
    EXPECT_EQ(run(CommandType::set_scale_number), 124);
    for (const char* line : {"'get_format_label' start", "get_format_label 136", "'set_scale_number' error=124"})
        EXPECT_TRUE(log.contains(line)) << line;
}

TEST_F(Formats, TwoScales)
{
    qv_sim::sim_scale second("127.0.0.82");
    auto second_state = qv_sim::add_label_replies(second);
    send_test::add_scale(d, second, UDP);
    EXPECT_EQ(run(CommandType::get_currency), -110);
    EXPECT_EQ(run(CommandType::get_shop_address), -110);
    EXPECT_EQ(run(CommandType::get_default_format_label), -110);
    set(ParamType::CurrencyCode, 3);
    ASSERT_EQ(run(CommandType::set_currency), 0);
    EXPECT_EQ(state->get().currency, 3);
    EXPECT_EQ(second_state->get().currency, 3);
    second.on({0xFF, 0x02}, 124);
    set(ParamType::CurrencyCode, 4);
    EXPECT_EQ(run(CommandType::set_currency), -111);
    EXPECT_EQ(state->get().currency, 4);
}

}  // namespace
