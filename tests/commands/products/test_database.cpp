// The product database commands: 20 clear_db_products_and_messages, 21 get_plu_by_code, 24 delete_plu_data,
// 55 delete_product, 84 get_strings_count_in_message, 91 delete_category, 110-112 get/set/delete_packer.

#include <algorithm>
#include <climits>
#include <tuple>

#include "products_test_util.h"
#include "replies/products.h"
#include "send_test_util.h"

using namespace send_test;
using products_test::inputs;
using P = ParamType;

namespace {

class Database : public device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        add_scale(d, sim, 1);
        reseed();
    }
    // Products 1001 (PLU 1) and 1002 (PLU 7) in category 7 of 7 and 9; message 65535 of 200 lines.
    void reseed()
    {
        db = qv_sim::add_product_database_replies(sim);
        db->add_category(7);
        db->add_category(9);
        db->add_product(1001, 1, 7);
        db->add_product(1002, 7, 7);
        db->add_message(65535, 200);
        db->add_packer(INT_MAX, "P");
        sim.clear_requests();
    }

    int run(int command, const inputs& given = {})
    {
        products_test::set_inputs(d, given);
        return d.execute_command(command);
    }

    qv_sim::sim_scale sim{"127.0.0.70"};
    std::shared_ptr<qv_sim::product_database> db;
};

TEST_F(Database, RequestBytesAtTheEdges)
{
    const std::tuple<int, inputs, bytes, bytes> cases[] = {
        // clang-format off
        {20, {}, B({0x18}), B({0x00})},
        {20, {{P::TypeDBClearData, 1}, {P::ClearProductRate, 5}}, B({0xB9}), B({0x05})},
        {20, {{P::ClearProductRate, 255}}, B({0x18}), B({0xFF})},
        {20, {{P::TypeDBClearData, 2}, {P::ClearProductRate, 256}}, B({0xBA}), bytes{}},  // no rate sent
        {20, {{P::TypeDBClearData, 3}, {P::ItemCode, 9999999}}, B({0xFF, 0x11}), B({0x7F, 0x96, 0x98, 0x00})},
        {21, {{P::ItemCode, 1001}}, B({0x5A}), B({0xE9, 0x03, 0, 0})},
        {55, {{P::ItemCode, 1001}, {P::PLUNumber, 7}}, B({0xFF, 0x0F}), B({0x00, 0xE9, 0x03, 0, 0})},  // code wins
        {55, {{P::PLUNumber, 7}}, B({0xFF, 0x0F}), B({0x01, 0x07, 0x00})},
        {91, {{P::CategoryId, 7}, {P::CategoryDeleteType, 2}, {P::CategoryIdForRebinding, 9}}, B({0xFF, 0x25}),
             B({7, 0, 0, 0, 2, 9, 0, 0, 0})},
        // Type 1: no rebinding id read or sent.
        {91, {{P::CategoryId, 9}, {P::CategoryDeleteType, 1}, {P::CategoryIdForRebinding, -5}}, B({0xFF, 0x25}),
             B({9, 0, 0, 0, 1})},
        {84, {{P::MessageNumber, 65535}}, B({0xBB}), B({0xFF, 0xFF})},  // get_strings_count_in_message
        {112, {{P::PackerId, INT_MAX}}, B({0xFF, 0x0A}), B({0xFF, 0xFF, 0xFF, 0x7F})},
        {111, {{P::PackerId, INT_MAX}, {P::PackerName, "A"}, {P::NewPassword, std::string("1\0", 2)}},
              B({0xFF, 0x09}), B({0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0x41, 2, 0, 0x31, 0x00})},
    };  // clang-format on
    for (const auto& [command, given, opcode, payload] : cases) {
        SCOPED_TRACE(qv_sim::hex(payload));
        reseed();
        EXPECT_EQ(run(command, given), 0);
        ASSERT_EQ(sim.request_count(), 1u);
        bytes expected = B({'1', '2', '3', '4'});
        expected.insert(expected.end(), payload.begin(), payload.end());
        EXPECT_EQ(sim.requests()[0].command, opcode);
        EXPECT_EQ(sim.requests()[0].rest, expected);
    }
}

TEST_F(Database, RefusalsSendNothing)
{
    const std::tuple<int, inputs, int> cases[] = {
        {20, {{P::TypeDBClearData, 4}, {P::ClearProductRate, 9}}, -104},
        {20, {{P::ClearProductRate, 256}}, -104},
        {20, {{P::TypeDBClearData, L"1"}}, -8},
        {20, {{P::TypeDBClearData, 3}, {P::ItemCode, INT_MIN}}, -104},
        {21, {{P::ItemCode, 10000000}}, -104},
        {24, {{P::PLUNumber, 65536}}, -104},
        {91, {{P::CategoryId, 7}, {P::CategoryDeleteType, 2}}, -7},  // rebinding missing
        {91, {{P::CategoryId, 7}, {P::CategoryDeleteType, 258}, {P::CategoryIdForRebinding, 9}}, -104},
        {84, {{P::MessageNumber, 0}}, -104},
        {111, {{P::PackerId, 5}, {P::PackerName, std::string(65536, 'A')}}, -104},
    };
    device_test::log_capture log;
    for (const auto& [command, given, result] : cases) {
        EXPECT_EQ(run(command, given), result) << command;
        EXPECT_EQ(sim.request_count(), 0u) << command;
    }
    EXPECT_TRUE(log.contains("Invalid ItemCode parameter: -2147483648"));
    // The rate is read (and logged) before the type 4 is refused.
    const auto lines = log.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("(338) ClearProductRate\": 9") != l.npos; }));
    // The scale refuses: the request's name, then the code without a blank.
    sim.on({0xFF, 0x11}, 124);
    EXPECT_EQ(run(20, {{P::TypeDBClearData, 3}}), 124);
    EXPECT_TRUE(log.contains("clear_marking_codes124"));
}

TEST_F(Database, GettersDecodeTheScalesRepliesAndRefuseShortOnes)
{
    // The packer's id is the reply's (an i32), apart from the input.
    sim.on({0xFF, 0x08}, 0, {0xFE, 0xFF, 0xFF, 0xFF, 3, 0, 'a', 0, 'c'});
    EXPECT_EQ(run(110, {{P::PackerId, 1}}), 0);
    int id = 0, lines = 0;
    bytes name;
    EXPECT_EQ(d.get_int_param(P::PackerId, d.output_params, id, false), 0);
    EXPECT_EQ(d.get_bytes_array_param(P::PackerName, d.output_params, name, false), 0);
    EXPECT_EQ(std::make_pair(id, name), std::make_pair(-2, B({'a', 0, 'c'})));
    // The line count of a message (84) is one unsigned byte.
    EXPECT_EQ(run(84, {{P::MessageNumber, 65535}}), 0);
    EXPECT_EQ(d.get_int_param(P::StringsCountInMessage, d.output_params, lines, false), 0);
    EXPECT_EQ(lines, 200);

    // Short replies; the last with a name length larger than the bytes that follow it.
    const std::tuple<int, inputs, bytes, bytes> cases[] = {
        {21, {{P::ItemCode, 1001}}, B({0x5A}), B({1})},
        {84, {{P::MessageNumber, 65535}}, B({0xBB}), bytes{}},
        {110, {{P::PackerId, 1}}, B({0xFF, 0x08}), B({1, 0, 0})},
        {110, {{P::PackerId, 1}}, B({0xFF, 0x08}), B({1, 0, 0, 0, 5, 0, 'a'})},
    };
    for (const auto& [command, given, opcode, data] : cases) {
        d.output_params.clear();
        sim.on(opcode, 0, data);
        EXPECT_EQ(run(command, given), -101) << qv_sim::hex(data);
        EXPECT_TRUE(d.output_params.empty()) << qv_sim::hex(data);
    }
}

}  // namespace
