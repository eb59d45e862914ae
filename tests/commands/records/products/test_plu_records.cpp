// PLU records on the wire and back: the exact bytes of the plain and
// extended records, round trips of every form through the simulated scale,
// packed dates, the range and absent rules, the group-code switch, short
// replies.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "products_test_util.h"

using namespace products_test;
using P = ParamType;
using C = CommandType;

namespace {

const bytes op_switch = B({0x8C});
const bytes op_set_plain = B({0x50});
const bytes op_set_extended = B({0x57});

class plu_records : public scale_test {
protected:
    void set_plain_inputs(bool utf8)
    {
        set_extended_inputs(utf8);
        set(P::Price, utf8 ? 9999999 : 999999);
    }
};

TEST_F(plu_records, ExtendedRecordAsTheScaleReceivesIt)
{
    set_extended_inputs(false);
    set(P::NameFirst, std::wstring(L"Сыр"));
    ASSERT_EQ(run(C::set_plu_data_extended), 0);
    // The switch is asked for before the record goes out.
    EXPECT_EQ(commands_of(sim), (std::vector<bytes>{op_switch, op_set_extended}));
    const bytes expected = cat({le(513, 2), le(9876543, 4), B({0xD1, 0xFB, 0xF0}), bytes(25), U("Cheese"), bytes(22),
                                le(1234567, 3), B({0x63}), le(365, 2), le(15000, 2), le(9999, 2), le(4242, 2),
                                B({0x80}), B({0xD0, 0xD1, '7', '7'}), B({0x1F, 0x0C, 0x63})});
    EXPECT_EQ(payload_of(sim, op_set_extended), expected);
    EXPECT_EQ(out_int(P::UseGroupCodeAsProp), 0);
}

TEST_F(plu_records, PlainRecordAsTheScaleReceivesIt)
{
    set_plain_inputs(false);
    set(P::NameFirst, std::wstring(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"));  // 30: the first 28 go
    drop(P::NameSecond);
    drop(P::GroupCode);
    ASSERT_EQ(run(C::set_plu_data), 0);
    const bytes expected =
        cat({le(513, 2), le(9876543, 4), U("ABCDEFGHIJKLMNOPQRSTUVWXYZ01"), bytes(28), le(999999, 4), le(365, 2),
             le(15000, 2), B({0xFF, 0xFF}), le(4242, 2), B({0x00}), B({0xD0, 0xD1, '7', '7'})});
    EXPECT_EQ(payload_of(sim, op_set_plain), expected);
    EXPECT_EQ(expected.size(), 79u);
}

TEST_F(plu_records, Utf8TextsGoAsTheirLengthAndBytes)
{
    set_plain_inputs(true);
    const bytes long_name(300, std::byte{'n'});
    set(P::NameFirst, long_name);
    drop(P::NameSecond);
    ASSERT_EQ(run(C::set_plu_data_utf8), 0);
    const bytes payload = payload_of(sim, B({0xFF, 0x50}));
    ASSERT_GE(payload.size(), 308u);
    EXPECT_EQ(bytes(payload.begin() + 6, payload.begin() + 8), le(300, 2));
    EXPECT_EQ(bytes(payload.begin() + 8, payload.begin() + 308), long_name);
    EXPECT_EQ(bytes(payload.begin() + 308, payload.begin() + 310), le(0, 2));  // absent second name
}

TEST_F(plu_records, EveryFormRoundTripsThroughTheScale)
{
    const struct {
        C set_command, get_command;
        bool utf8, extended;
    } cases[] = {
        {C::set_plu_data, C::get_plu_data, false, false},
        {C::set_plu_data_utf8, C::get_plu_data_utf8, true, false},
        {C::set_plu_data_extended, C::get_plu_data_extended, false, true},
        {C::set_plu_data_extended_utf8, C::get_plu_data_extended_utf8, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.set_command));
        set_plain_inputs(c.utf8);
        ASSERT_EQ(run(c.set_command), 0);
        set(P::PLUNumber, 513);
        ASSERT_EQ(run(c.get_command), 0);
        const std::pair<P, int> numbers[] = {{P::ItemCode, 9876543}, {P::Price, c.utf8 ? 9999999 : 999999},
                                             {P::ShelfLife, 365},    {P::Tare, 15000},
                                             {P::GroupCode, 9999},   {P::MessageNumber, 4242}};
        for (const auto& [p, v] : numbers) EXPECT_EQ(out_int(p), v) << static_cast<int>(p);
        if (c.utf8) {
            EXPECT_EQ(out_bytes(P::NameFirst), U("Сыр \"Российский\" весовой, 45% жирности"));
            EXPECT_EQ(out_bytes(P::NameSecond), U("Cheese"));
            EXPECT_EQ(out_bytes(P::ROSTEST), U("РСТ-77"));
        } else {
            EXPECT_EQ(out_text(P::NameFirst), L"Сыр Российский");
            EXPECT_EQ(out_text(P::NameSecond), L"Cheese");
            EXPECT_EQ(out_text(P::ROSTEST), L"РС77");
        }
        if (c.extended) {
            EXPECT_EQ(out_int(P::LabelFormat), 3);
            EXPECT_EQ(out_int(P::BCFormat), 6);
            EXPECT_EQ(out_int(P::GoodsType), 1);
            EXPECT_EQ(out_bytes(P::ShelfLifeDate), B({0x1F, 0x0C, 0x63}));
            EXPECT_EQ(out_int(P::UseGroupCodeAsProp), 0);
        }
    }
}

struct date_case {
    bool given;
    bytes date;
    int word;  // -1: refused with -104
};

TEST_F(plu_records, PackedDatesOfManufacture)
{
    const date_case cases[] = {
        {true, B({31, 12, 99}), 0xFE63}, {true, B({1, 1, 0}), 0x0880}, {false, {}, -1},
        {true, B({0, 12, 99}), -1},      {true, B({1, 13, 0}), -1},    {true, B({1, 1, 100}), -1},
        {true, B({1, 1}), -1},
    };
    store->set_use_group_code(1);
    for (const auto& c : cases) {
        for (const bool utf8 : {false, true}) {
            SCOPED_TRACE(qv_sim::hex(c.date) + (utf8 ? " UTF-8" : " Windows-1251"));
            sim.clear_requests();
            set_extended_inputs(utf8);
            if (c.given) set(P::ManufacturedDate, c.date);
            const int r = run(utf8 ? C::set_plu_data_extended_utf8 : C::set_plu_data_extended);
            const bytes op = utf8 ? B({0xFF, 0x57}) : op_set_extended;
            if (c.word < 0) {
                EXPECT_EQ(r, -104);
                EXPECT_FALSE(received(sim, op));
                continue;
            }
            ASSERT_EQ(r, 0);
            if (!utf8) {
                const bytes payload = payload_of(sim, op);
                EXPECT_EQ(bytes(payload.begin() + 70, payload.begin() + 72), le(static_cast<unsigned>(c.word), 2));
            }
            set(P::PLUNumber, 513);
            ASSERT_EQ(run(utf8 ? C::get_plu_data_extended_utf8 : C::get_plu_data_extended), 0);
            EXPECT_EQ(out_bytes(P::ManufacturedDate), c.date);
            EXPECT_EQ(out_int(P::GroupCode), -12345);  // not among the outputs under switch 1
            EXPECT_EQ(out_int(P::UseGroupCodeAsProp), 1);
        }
    }
}

TEST_F(plu_records, SwitchZeroSendsTheGroupCodeAndIgnoresADate)
{
    set_extended_inputs(false);
    set(P::ManufacturedDate, B({31, 12, 99}));
    drop(P::GroupCode);
    ASSERT_EQ(run(C::set_plu_data_extended), 0);
    const bytes payload = payload_of(sim, op_set_extended);
    EXPECT_EQ(bytes(payload.begin() + 70, payload.begin() + 72), B({0xFF, 0xFF}));
}

enum class given { value, absent, wrong_kind };

struct input_case {
    C command;
    P param;
    given how;
    int value;
    int expected;
};

TEST_F(plu_records, RangeAndAbsentRulesRefuseBeforeSending)
{
    const C plain = C::set_plu_data, plain8 = C::set_plu_data_utf8;
    const C ext = C::set_plu_data_extended, ext8 = C::set_plu_data_extended_utf8;
    const auto V = given::value, A = given::absent, K = given::wrong_kind;
    const input_case cases[] = {
        // clang-format off
        {plain, P::PLUNumber, V, 0, -104}, {plain, P::PLUNumber, V, 65536, -104}, {plain, P::PLUNumber, V, 65535, 0},
        {ext8, P::PLUNumber, V, -1, -104}, {plain, P::PLUNumber, A, 0, -7}, {ext, P::PLUNumber, K, 0, -8},
        {plain, P::ItemCode, V, 0, -104}, {ext, P::ItemCode, V, 10000000, -104}, {plain8, P::ItemCode, V, 9999999, 0},
        {plain, P::NameFirst, A, 0, -7}, {plain8, P::NameFirst, K, 0, -8}, {ext, P::NameSecond, A, 0, 0},
        {ext8, P::NameSecond, K, 0, -8}, {plain, P::Price, V, 1000000, -104}, {plain8, P::Price, V, 1000000, 0},
        {ext, P::Price, V, 1000000, 0}, {plain8, P::Price, V, 10000000, -104}, {ext8, P::Price, V, 10000000, -104},
        {ext, P::BCFormat, V, 16, -104}, {ext, P::LabelFormat, V, 16, -104}, {ext8, P::BCFormat, A, 0, -7},
        {plain, P::ShelfLife, V, 10000, -104}, {ext, P::Tare, V, 15001, -104}, {plain, P::GroupCode, V, 10000, -104},
        {ext, P::GroupCode, V, 65534, -104}, {plain8, P::GroupCode, V, 65535, 0}, {ext, P::GroupCode, A, 0, 0},
        {plain, P::GroupCode, K, 0, -8}, {plain, P::MessageNumber, V, 65536, -104}, {ext, P::MessageNumber, V, 0, 0},
        {ext, P::GoodsType, A, 0, -7}, {plain, P::ROSTEST, A, 0, -7}, {ext, P::ShelfLifeDate, K, 0, -8},
        {ext, P::ShelfLifeDate, A, 0, 0},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.command)) + " param " +
                     std::to_string(static_cast<int>(c.param)) + " = " + std::to_string(c.value));
        sim.clear_requests();
        const bool utf8 = c.command == plain8 || c.command == ext8;
        set_plain_inputs(utf8);
        if (c.command == ext || c.command == ext8) set(P::Price, 1234567);
        switch (c.how) {
            case given::value:
                set(c.param, c.value);
                break;
            case given::absent:
                drop(c.param);
                break;
            case given::wrong_kind: {
                const bool int_param = c.param != P::NameFirst && c.param != P::NameSecond && c.param != P::ROSTEST &&
                                       c.param != P::ShelfLifeDate;
                if (int_param)
                    set(c.param, std::wstring(L"1"));
                else
                    set(c.param, 1);
                break;
            }
        }
        EXPECT_EQ(run(c.command), c.expected);
        const bool record_sent = received(sim, B({0x50})) || received(sim, B({0x57})) ||
                                 received(sim, B({0xFF, 0x50})) || received(sim, B({0xFF, 0x57}));
        EXPECT_EQ(record_sent, c.expected == 0);
    }
}

TEST_F(plu_records, ShelfLifeDateAndUtf8LengthRefusals)
{
    set_extended_inputs(false);
    set(P::ShelfLifeDate, B({1, 2}));
    EXPECT_EQ(run(C::set_plu_data_extended), -104);
    set_plain_inputs(true);
    set(P::NameSecond, bytes(65536, std::byte{'x'}));
    EXPECT_EQ(run(C::set_plu_data_utf8), -104);
    EXPECT_FALSE(received(sim, op_set_extended));
    EXPECT_FALSE(received(sim, B({0xFF, 0x50})));
}

TEST_F(plu_records, GettersRefuseAPluNumberOutOfRange)
{
    for (const C c : {C::get_plu_data, C::get_plu_data_utf8, C::get_plu_data_extended, C::get_plu_data_extended_utf8}) {
        for (const int n : {0, 65536}) {
            set(P::PLUNumber, n);
            EXPECT_EQ(run(c), -104);
        }
        EXPECT_EQ(run(c), -7);
    }
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(plu_records, ExtendedGetterAsksForTheSwitchFirst)
{
    set_extended_inputs(false);
    ASSERT_EQ(run(C::set_plu_data_extended), 0);
    sim.clear_requests();
    set(P::PLUNumber, 513);
    ASSERT_EQ(run(C::get_plu_data_extended), 0);
    EXPECT_EQ(commands_of(sim), (std::vector<bytes>{op_switch, B({0x58})}));
    EXPECT_EQ(payload_of(sim, B({0x58})), le(513, 2));
    set(P::PLUNumber, 514);
    EXPECT_EQ(run(C::get_plu_data_extended), 140);  // the scale has no such PLU
}

TEST_F(plu_records, SwitchIsSetAndReadBack)
{
    set(P::UseGroupCodeAsProp, 1);
    ASSERT_EQ(run(C::set_using_group_code), 0);
    EXPECT_EQ(payload_of(sim, B({0x8D})), B({0x01}));
    ASSERT_EQ(run(C::get_using_group_code), 0);
    EXPECT_EQ(out_int(P::UseGroupCodeAsProp), 1);
    set(P::UseGroupCodeAsProp, 2);
    EXPECT_EQ(run(C::set_using_group_code), -104);
    store->set_use_group_code(2);  // a value the driver cannot act on
    set_extended_inputs(false);
    EXPECT_EQ(run(C::set_plu_data_extended), -104);
    EXPECT_FALSE(received(sim, op_set_extended));
}

struct short_case {
    C command;
    bytes op;
    std::size_t data_size;  // one byte short of what the decoder reads
    bytes data_head;
};

TEST_F(plu_records, ShortRepliesGiveMinus101AndNoOutputs)
{
    const short_case cases[] = {
        {C::get_plu_count, B({0xD0}), 1, {}},
        {C::get_using_group_code, op_switch, 0, {}},
        {C::get_plu_data, B({0x51}), 76, {}},
        {C::get_plu_data_extended, B({0x58}), 79, {}},
        // A first name that claims 10 bytes where 9 follow.
        {C::get_plu_data_utf8, B({0xFF, 0x51}), 15, cat({le(7, 4), le(10, 2)})},
        {C::get_plu_data_extended_utf8, B({0xFF, 0x58}), 15, cat({le(7, 4), le(10, 2)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.command));
        bytes data = c.data_head;
        data.resize(c.data_size, std::byte{0x41});
        sim.on(c.op, 0, data);
        set(P::PLUNumber, 1);
        EXPECT_EQ(run(c.command), -101);
        EXPECT_TRUE(c.command == C::get_plu_data_extended || c.command == C::get_plu_data_extended_utf8
                        ? d.output_params.size() == 1  // the switch from its own exchange
                        : d.output_params.empty());
        qv_sim::add_product_replies(sim);
    }
}

TEST_F(plu_records, ZeroBytesInsideANameAreDropped)
{
    bytes data = cat({le(7, 4), B({'A', 'B', 0, 'C'}), bytes(24), bytes(28), bytes(17)});
    sim.on({0x51}, 0, data);
    set(P::PLUNumber, 1);
    ASSERT_EQ(run(C::get_plu_data), 0);
    EXPECT_EQ(out_text(P::NameFirst), L"ABC");
}

TEST_F(plu_records, CharacterOutsideTheCodeTableSendsNothing)
{
    set_plain_inputs(false);
    set(P::NameFirst, std::wstring(L"line\nbreak"));
    EXPECT_EQ(run(C::set_plu_data), -1000);
    EXPECT_EQ(sim.request_count(), 0u);
    // ROSTEST comes after the switch: that exchange happens, the record does not go.
    set_extended_inputs(false);
    set(P::ROSTEST, std::wstring(L"\u263A"));
    EXPECT_EQ(run(C::set_plu_data_extended), -1000);
    EXPECT_EQ(commands_of(sim), std::vector<bytes>{op_switch});
}

// Two scales whose switches differ would store bytes 70-71 as different things.
TEST(plu_records_list, ScalesThatDisagreeOnTheSwitchAreRefused)
{
    device_test::init_test_log();
    qv_sim::sim_scale a("127.0.0.51"), b("127.0.0.52");
    auto store_a = qv_sim::add_product_replies(a);
    auto store_b = qv_sim::add_product_replies(b);
    device d;
    d.timeout_seconds = 1;
    send_test::add_scale(d, a, 1);
    send_test::add_scale(d, b, 1);
    store_b->set_use_group_code(1);

    auto set_record = [&d] {
        d.set_int_param(P::PLUNumber, d.input_params, 7, false);
        d.set_int_param(P::ItemCode, d.input_params, 70, false);
        d.set_string_param(P::NameFirst, d.input_params, L"Tea", false);
        for (P p : {P::Price, P::BCFormat, P::LabelFormat, P::ShelfLife, P::Tare, P::MessageNumber, P::GoodsType})
            d.set_int_param(p, d.input_params, 1, false);
        d.set_string_param(P::ROSTEST, d.input_params, L"R", false);
        d.set_bytes_array_param(P::ManufacturedDate, d.input_params, B({2, 3, 4}), false);
    };
    set_record();
    const device_test::log_capture log;
    EXPECT_EQ(d.execute_command(static_cast<int>(C::set_plu_data_extended)), -104);
    EXPECT_TRUE(log.contains(
        "UseGroupCodeAsProp differs between the scales (127.0.0.51: 0, 127.0.0.52: 1): the record is not sent"));
    EXPECT_FALSE(received(a, op_set_extended));
    EXPECT_FALSE(received(b, op_set_extended));

    // Set alike through the group command, they both get the same record.
    d.set_int_param(P::UseGroupCodeAsProp, d.input_params, 1, false);
    ASSERT_EQ(d.execute_command(static_cast<int>(C::set_using_group_code)), 0);
    set_record();
    ASSERT_EQ(d.execute_command(static_cast<int>(C::set_plu_data_extended)), 0);
    EXPECT_EQ(payload_of(a, op_set_extended), payload_of(b, op_set_extended));
    ASSERT_TRUE(store_a->find_plu(7));
    EXPECT_EQ(store_a->find_plu(7)->group_or_date, (2 << 11) | (3 << 7) | 4);
}

}  // namespace
