// PLU records: exact bytes and round trips, packed dates, ranges, the group-code switch, short replies.

#include <optional>
#include <tuple>
#include <string>
#include <vector>

#include "../record_test_util.h"

using namespace record_test;

namespace {

const bytes op_switch = B({0x8C});
const bytes op_extended = B({0x57});

using plu_records = product_test;

TEST_F(plu_records, RecordsAsTheScaleReceivesThem)
{
    set_extended_inputs(false);
    set(P::NameFirst, L"Сыр");
    ASSERT_EQ(run(C::set_plu_data_extended), 0);
    EXPECT_EQ(commands(), (std::vector<bytes>{op_switch, op_extended}));  // the switch is asked for first
    EXPECT_EQ(last_data(), cat({le(513, 2), le(9876543, 4), B({0xD1, 0xFB, 0xF0}), bytes(25), U("Cheese"), bytes(22),
                                le(1234567, 3), B({0x63}), le(365, 2), le(15000, 2), le(9999, 2), le(4242, 2),
                                B({0x80, 0xD0, 0xD1, '7', '7', 0x1F, 0x0C, 0x63})}));

    set_extended_inputs(false);
    set({{P::Price, 999999}, {P::NameFirst, L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"}});  // 30: the first 28 go
    drop(P::NameSecond);
    drop(P::GroupCode);
    ASSERT_EQ(run(C::set_plu_data), 0);
    EXPECT_EQ(last_data(),
              cat({le(513, 2), le(9876543, 4), U("ABCDEFGHIJKLMNOPQRSTUVWXYZ01"), bytes(28), le(999999, 4), le(365, 2),
                   le(15000, 2), B({0xFF, 0xFF}), le(4242, 2), B({0x00, 0xD0, 0xD1, '7', '7'})}));

    set_extended_inputs(true);
    set(P::NameFirst, bytes(300, std::byte{'n'}));
    drop(P::NameSecond);
    ASSERT_EQ(run(C::set_plu_data_utf8), 0);
    EXPECT_EQ(slice(last_data(), 6, 310), cat({le(300, 2), bytes(300, std::byte{'n'}), le(0, 2)}));
}

// Written, then read back: every field of each record a value of its own.
TEST_F(plu_records, EveryFieldComesBackFromTheScaleAsItWasWritten)
{
    const std::vector<P> plain{P::ItemCode, P::NameFirst, P::NameSecond, P::Price,        P::ShelfLife,
                               P::Tare,     P::GroupCode, P::ROSTEST,    P::MessageNumber};
    std::vector<P> extended = plain;
    extended.insert(extended.end(), {P::BCFormat, P::LabelFormat, P::ShelfLifeDate});
    const auto input_of = [this](P p) -> input {
        int number = 0;
        std::wstring text;
        bytes data;
        if (d.get_int_param(p, d.input_params, number, false) == 0) return number;
        if (d.get_string_param(p, d.input_params, text, false) == 0) return text;
        d.get_bytes_array_param(p, d.input_params, data, false);
        return data;
    };
    using row = std::tuple<C, C, bool, const std::vector<P>*>;
    for (const auto& [writer, reader, utf8, fields] :
         {row{C::set_plu_data, C::get_plu_data, false, &plain},
          row{C::set_plu_data_utf8, C::get_plu_data_utf8, true, &plain},
          row{C::set_plu_data_extended, C::get_plu_data_extended, false, &extended},
          row{C::set_plu_data_extended_utf8, C::get_plu_data_extended_utf8, true, &extended}}) {
        SCOPED_TRACE(static_cast<int>(writer));
        set_extended_inputs(utf8);
        if (writer == C::set_plu_data) set(P::Price, 999999);
        std::vector<std::pair<P, input>> given;
        for (P p : *fields) given.emplace_back(p, input_of(p));
        ASSERT_EQ(run(writer), 0);
        set(P::PLUNumber, 513);
        ASSERT_EQ(run(reader), 0);
        for (const auto& [p, value] : given) EXPECT_TRUE(out_like(value, p) == value) << static_cast<int>(p);
        if (fields == &extended) {
            EXPECT_EQ(out_int(P::GoodsType), 1);  // 5 goes as the flag alone
            EXPECT_EQ(out_int(P::UseGroupCodeAsProp), 0);
        }
    }
    using line = std::tuple<C, C, input>;
    for (const auto& [writer, reader, text] :
         {line{C::set_message_data, C::get_message_data, input(L"Строка сообщения")},
          line{C::set_message_data_utf8, C::get_message_data_utf8, input(U("Строка UTF-8"))}}) {
        set({{P::MessageNumber, 300}, {P::StringNumber, 7}, {P::MessageString, text}});
        ASSERT_EQ(run(writer), 0);
        set({{P::MessageNumber, 300}, {P::StringNumber, 7}});
        ASSERT_EQ(run(reader), 0);
        EXPECT_TRUE(out_like(text, P::MessageString) == text) << static_cast<int>(reader);
    }
}

TEST_F(plu_records, PackedDatesOfManufactureUnderSwitchOne)
{
    const std::pair<bytes, int> cases[] = {
        {B({31, 12, 99}), 0xFE63}, {{}, -1}, {B({0, 12, 99}), -1}, {B({1, 13, 0}), -1}, {B({1, 1, 0}), 0x0880}};
    state->set_use_group_code(1);
    for (const auto& [date, word] : cases) {
        sim.clear_requests();
        set_extended_inputs(false);
        if (!date.empty()) set(P::ManufacturedDate, date);
        EXPECT_EQ(run(C::set_plu_data_extended), word < 0 ? -104 : 0) << qv_sim::hex(date);
        EXPECT_EQ(payload_of(sim, op_extended).empty(), word < 0);
        if (word < 0) continue;
        EXPECT_EQ(slice(last_data(), 70, 72), le(static_cast<unsigned>(word), 2));
    }
    set(P::PLUNumber, 513);
    ASSERT_EQ(run(C::get_plu_data_extended_utf8), 0);
    EXPECT_EQ(out(P::ManufacturedDate, bytes{}), B({1, 1, 0}));
    EXPECT_EQ(out_int(P::GroupCode), -12345);  // not among the outputs under switch 1
}

TEST_F(plu_records, RangeAndAbsentRulesRefuseBeforeSending)
{
    const C plain = C::set_plu_data, plain8 = C::set_plu_data_utf8;
    const C ext = C::set_plu_data_extended, ext8 = C::set_plu_data_extended_utf8;
    const std::tuple<C, P, std::optional<input>, int> cases[] = {
        // clang-format off
        {plain, P::PLUNumber, 0, -104}, {plain, P::PLUNumber, 65535, 0}, {ext8, P::PLUNumber, std::nullopt, -7},
        {ext, P::PLUNumber, L"1", -8}, {ext, P::ItemCode, 10000000, -104}, {plain8, P::NameFirst, L"n", -8},
        {ext, P::NameSecond, std::nullopt, 0}, {plain8, P::NameSecond, bytes(65536, std::byte{'x'}), -104},
        {plain, P::Price, 1000000, -104}, {plain8, P::Price, 9999999, 0}, {ext8, P::Price, 10000000, -104},
        {ext, P::Tare, 15001, -104}, {ext, P::GroupCode, 65534, -104}, {plain8, P::GroupCode, 65535, 0},
        {ext, P::ShelfLifeDate, B({1, 2}), -104}, {ext8, P::ShelfLifeDate, B({1, 2}), -104},
        {ext8, P::ShelfLifeDate, B({1, 2, 3, 4}), -104}, {ext, P::ShelfLifeDate, std::nullopt, 0},
        {C::get_plu_data, P::PLUNumber, 65536, -104}, {plain, P::NameFirst, L"Сыр Є", -1000},
        // clang-format on
    };
    const device_test::log_capture log;
    for (const auto& [command, param, value, expected] : cases) {
        sim.clear_requests();
        set_extended_inputs(command == plain8 || command == ext8);
        if (command == plain) set(P::Price, 999999);
        value ? set({{param, *value}}) : drop(param);
        EXPECT_EQ(run(command), expected) << static_cast<int>(param);
        EXPECT_EQ(sim.request_count() > (command == ext || command == ext8 ? 1u : 0u), expected == 0)
            << static_cast<int>(param);
    }
    // A character outside the Windows-1251 table keeps its -1000, traced to its field.
    EXPECT_TRUE(
        log.contains("refused string param \"(184) NameFirst\": character U+0404 at position 5; "
                     "allowed: characters of the Windows-1251 table"));
}

// get_plu_count (29): its request and the count as an unsigned little-endian word.
TEST_F(plu_records, PluCountRequestAndReply)
{
    sim.on({0xD0}, 0, B({0xFE, 0xFF}));
    ASSERT_EQ(run(C::get_plu_count), 0);
    EXPECT_EQ(last().frame, cat({B({0x02, 0x05, 0xD0}), U("1234")}));
    EXPECT_EQ(out_int(P::PLUCount), 65534);
}

TEST_F(plu_records, SwitchIsSetReadBackAndAskedForByTheExtendedGetter)
{
    expect_refused({{C::set_using_group_code, {{P::UseGroupCodeAsProp, 2}}, -104}});
    set(P::UseGroupCodeAsProp, 1);
    ASSERT_EQ(run(C::set_using_group_code), 0);
    EXPECT_EQ(last_data(), B({0x01}));
    ASSERT_EQ(run(C::get_using_group_code), 0);
    EXPECT_EQ(out_int(P::UseGroupCodeAsProp), 1);

    sim.clear_requests();
    set(P::PLUNumber, 514);
    EXPECT_EQ(run(C::get_plu_data_extended), 140);  // the scale has no such PLU
    EXPECT_EQ(commands(), (std::vector<bytes>{op_switch, B({0x58})}));
    EXPECT_EQ(last_data(), le(514, 2));

    state->set_use_group_code(2);  // a value the driver cannot act on
    set_extended_inputs(false);
    EXPECT_EQ(run(C::set_plu_data_extended), -104);
    EXPECT_TRUE(payload_of(sim, op_extended).empty());
}

TEST_F(plu_records, ShortRepliesGiveMinus101AndNoOutputs)
{
    const std::tuple<C, bytes, bytes> cases[] = {
        // the data one byte short of what the decoder reads
        {C::get_plu_count, B({0xD0}), bytes(1)},
        {C::get_plu_data, B({0x51}), bytes(76)},
        // A first name that claims 10 bytes where 9 follow.
        {C::get_plu_data_utf8, B({0xFF, 0x51}), cat({le(7, 4), le(10, 2), bytes(9, std::byte{'A'})})},
        {C::get_plu_data_extended, B({0x58}), bytes(79)},
        // A ROSTEST that claims 4 bytes where 3 follow.
        {C::get_plu_data_extended_utf8, B({0xFF, 0x58}),
         cat({le(7, 4), le(1, 2), U("A"), le(0, 2), bytes(3 + 1 + 2 + 2 + 2 + 2 + 1), le(4, 2), U("ABC")})},
        {C::get_using_group_code, B({0x8C}), bytes()},  // last: the extended getters ask for it
    };
    for (const auto& [command, op, data] : cases) {
        sim.on(op, 0, data);
        set(P::PLUNumber, 1);
        EXPECT_EQ(run(command), -101) << static_cast<int>(command);
        // Only the switch's own exchange leaves its output.
        d.output_params.erase(P::UseGroupCodeAsProp);
        EXPECT_TRUE(d.output_params.empty()) << static_cast<int>(command);
    }
}

// Two scales whose switches differ would store bytes 70-71 as different things.
TEST_F(plu_records, ScalesThatDisagreeOnTheSwitchAreRefused)
{
    qv_sim::sim_scale b("127.0.0.52");
    qv_sim::add_product_replies(b)->set_use_group_code(1);
    send_test::add_scale(d, b, 1);
    set_extended_inputs(false);
    set(P::ManufacturedDate, B({2, 3, 4}));
    EXPECT_EQ(run(C::set_plu_data_extended), -104);
    EXPECT_TRUE(payload_of(sim, op_extended).empty());
    EXPECT_TRUE(payload_of(b, op_extended).empty());
}

}  // namespace
