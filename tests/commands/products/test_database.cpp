// The product database commands against a simulated scale that keeps a
// database: the request bytes at the edges of every limit, the refusals that
// send nothing, the getters' decoding and short replies, round trips, and the
// items-file preparation as the download polls it.

#include <climits>
#include <string>
#include <vector>

#include "products_test_util.h"
#include "replies/products.h"
#include "send_test_util.h"

using namespace send_test;
using products_test::inputs;

namespace {

int out_int(device& d, ParamType p)
{
    int v = -12345;
    d.get_int_param(p, d.output_params, v, false);
    return v;
}

bytes password_and(const bytes& payload)
{
    bytes out = B({'1', '2', '3', '4'});
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

class Database : public device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        add_scale(d, sim, 1);
        reseed();
    }

    // A fresh database: products 1001 (PLU 1, category 7), 1002 (PLU 7,
    // category 7), categories 7 and 9, messages 1 (3 lines) and 2, packer 1.
    void reseed()
    {
        db = qv_sim::add_product_database_replies(sim);
        db->add_category(7);
        db->add_category(9);
        db->add_product(1001, 1, 7);
        db->add_product(1002, 7, 7);
        db->add_message(1, 3);
        db->add_message(2, 1);
        db->add_packer(1, "Packer");
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
    using P = ParamType;
    const struct {
        const char* what;
        int command;
        inputs given;
        bytes opcode;
        bytes payload;
        int result = 0;
    } cases[] = {
        {"clear, no inputs", 20, {}, B({0x18}), B({0x00})},
        {"clear, rate sent as its low byte", 20, {{P::ClearProductRate, 257}}, B({0x18}), B({0x01})},
        {"clear, a wrong-kind rate taken as 0", 20, {{P::ClearProductRate, L"1"}}, B({0x18}), B({0x00})},
        {"clear products", 20, {{P::TypeDBClearData, 1}, {P::ClearProductRate, 5}}, B({0xB9}), B({0x05})},
        {"clear messages", 20, {{P::TypeDBClearData, 2}}, B({0xBA}), B({})},
        {"clear marking codes, no item code", 20, {{P::TypeDBClearData, 3}}, B({0xFF, 0x11}), B({0, 0, 0, 0})},
        {"clear marking codes, highest item code",
         20,
         {{P::TypeDBClearData, 3}, {P::ItemCode, 9999999}},
         B({0xFF, 0x11}),
         B({0x7F, 0x96, 0x98, 0x00})},
        {"PLU by code", 21, {{P::ItemCode, 1001}}, B({0x5A}), B({0xE9, 0x03, 0, 0})},
        {"delete PLU 65535 (not on the scale)", 24, {{P::PLUNumber, 65535}}, B({0x54}), B({0xFF, 0xFF}), 128},
        {"messages count", 34, {}, B({0xD1}), B({})},
        {"delete product: the item code wins",
         55,
         {{P::ItemCode, 1001}, {P::PLUNumber, 7}},
         B({0xFF, 0x0F}),
         B({0x00, 0xE9, 0x03, 0, 0})},
        {"delete product by PLU", 55, {{P::PLUNumber, 7}}, B({0xFF, 0x0F}), B({0x01, 0x07, 0x00})},
        {"lines of a message", 84, {{P::MessageNumber, 1}}, B({0xBB}), B({1, 0})},
        {"create items file", 87, {}, B({0xFF, 0x14}), B({})},
        {"items file status", 88, {}, B({0xFF, 0x15}), B({})},
        {"delete category with rebinding",
         91,
         {{P::CategoryId, 7}, {P::CategoryDeleteType, 2}, {P::CategoryIdForRebinding, 9}},
         B({0xFF, 0x25}),
         B({7, 0, 0, 0, 2, 9, 0, 0, 0})},
        {"delete category type 1: no rebinding id read or sent",
         91,
         {{P::CategoryId, 7}, {P::CategoryDeleteType, 1}, {P::CategoryIdForRebinding, -5}},
         B({0xFF, 0x25}),
         B({7, 0, 0, 0, 1})},
        {"delete category, type absent", 91, {{P::CategoryId, 9}}, B({0xFF, 0x25}), B({9, 0, 0, 0, 0})},
        {"get packer", 110, {{P::PackerId, 1}}, B({0xFF, 0x08}), B({1, 0, 0, 0})},
        {"set packer, no password",
         111,
         {{P::PackerId, 5}, {P::PackerName, "AB"}},
         B({0xFF, 0x09}),
         B({5, 0, 0, 0, 2, 0, 0x41, 0x42})},
        {"set packer, empty password",
         111,
         {{P::PackerId, INT_MAX}, {P::PackerName, ""}, {P::NewPassword, ""}},
         B({0xFF, 0x09}),
         B({0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0})},
        {"set packer with password",
         111,
         {{P::PackerId, 0}, {P::PackerName, "A"}, {P::NewPassword, std::string("1\0", 2)}},
         B({0xFF, 0x09}),
         B({0, 0, 0, 0, 1, 0, 0x41, 2, 0, 0x31, 0x00})},
        {"delete packer", 112, {{P::PackerId, 1}}, B({0xFF, 0x0A}), B({1, 0, 0, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reseed();
        EXPECT_EQ(run(c.command, c.given), c.result);
        ASSERT_EQ(sim.request_count(), 1u);
        const auto r = sim.requests()[0];
        EXPECT_EQ(r.command, c.opcode);
        EXPECT_EQ(r.rest, password_and(c.payload));
    }
}

TEST_F(Database, RefusalsSendNothing)
{
    using P = ParamType;
    const std::string big(65536, 'A');
    const struct {
        const char* what;
        int command;
        inputs given;
        int result;
    } cases[] = {
        {"clear type 4", 20, {{P::TypeDBClearData, 4}}, -104},
        {"clear type of another kind", 20, {{P::TypeDBClearData, L"1"}}, -8},
        {"clear marking codes, negative item code", 20, {{P::TypeDBClearData, 3}, {P::ItemCode, INT_MIN}}, -104},
        {"PLU by code 10000000", 21, {{P::ItemCode, 10000000}}, -104},
        {"PLU by code, absent", 21, {}, -7},
        {"delete PLU 65536", 24, {{P::PLUNumber, 65536}}, -104},
        {"delete product, item code 0 despite a PLU", 55, {{P::ItemCode, 0}, {P::PLUNumber, 7}}, -104},
        {"delete product, item code of another kind", 55, {{P::ItemCode, L"1"}}, -8},
        {"delete product, neither", 55, {}, -7},
        {"category delete type 258", 91, {{P::CategoryId, 7}, {P::CategoryDeleteType, 258}}, -104},
        {"category delete type of another kind", 91, {{P::CategoryId, 7}, {P::CategoryDeleteType, L"1"}}, -8},
        {"rebinding missing", 91, {{P::CategoryId, 7}, {P::CategoryDeleteType, 2}}, -7},
        {"set packer, no name", 111, {{P::PackerId, 5}}, -7},
        {"set packer, name of 65536 bytes", 111, {{P::PackerId, 5}, {P::PackerName, big}}, -104},
        {"set packer, password of another kind",
         111,
         {{P::PackerId, 5}, {P::PackerName, "A"}, {P::NewPassword, L"1"}},
         -8},
        {"delete packer, absent", 112, {}, -7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run(c.command, c.given), c.result);
        EXPECT_EQ(sim.request_count(), 0u);
    }
}

TEST_F(Database, ClearLogsTheRequestNameAndItsRefusedItemCode)
{
    device_test::log_capture log;
    EXPECT_EQ(run(20, {{ParamType::TypeDBClearData, 3}, {ParamType::ItemCode, 10000000}}), -104);
    EXPECT_TRUE(log.contains("Invalid ItemCode parameter: 10000000"));

    // The scale refuses: the request's name, then the code without a blank.
    sim.on({0xFF, 0x11}, 124);
    EXPECT_EQ(run(20, {{ParamType::TypeDBClearData, 3}}), 124);
    EXPECT_TRUE(log.contains("clear_marking_codes124"));
    sim.set_fault(silent());
    EXPECT_EQ(run(20, {{ParamType::TypeDBClearData, 2}}), -1);
    EXPECT_TRUE(log.contains("clear_db_messages-1"));
}

TEST_F(Database, GettersDecodeTheScalesReplies)
{
    EXPECT_EQ(run(21, {{ParamType::ItemCode, 1002}}), 0);
    EXPECT_EQ(out_int(d, ParamType::PLUNumber), 7);
    EXPECT_EQ(run(34), 0);
    EXPECT_EQ(out_int(d, ParamType::MessagesCount), 2);
    EXPECT_EQ(run(84, {{ParamType::MessageNumber, 1}}), 0);
    EXPECT_EQ(out_int(d, ParamType::StringsCountInMessage), 3);

    // The packer's id is the reply's (an i32), apart from the input.
    sim.on({0xFF, 0x08}, 0, {0xFE, 0xFF, 0xFF, 0xFF, 3, 0, 'a', 0, 'c'});
    EXPECT_EQ(run(110, {{ParamType::PackerId, 1}}), 0);
    EXPECT_EQ(out_int(d, ParamType::PackerId), -2);
    bytes name;
    EXPECT_EQ(d.get_bytes_array_param(ParamType::PackerName, d.output_params, name, false), 0);
    EXPECT_EQ(name, B({'a', 0, 'c'}));
}

TEST_F(Database, ShortRepliesGiveMinus101AndNoOutput)
{
    const struct {
        int command;
        inputs given;
        bytes opcode;
        bytes data;
        ParamType output;
    } cases[] = {
        {21, {{ParamType::ItemCode, 1001}}, B({0x5A}), B({1}), ParamType::PLUNumber},
        {34, {}, B({0xD1}), B({}), ParamType::MessagesCount},
        {84, {{ParamType::MessageNumber, 1}}, B({0xBB}), B({}), ParamType::StringsCountInMessage},
        {110, {{ParamType::PackerId, 1}}, B({0xFF, 0x08}), B({1, 0, 0}), ParamType::PackerId},
        // A name length larger than the bytes that follow it.
        {110, {{ParamType::PackerId, 1}}, B({0xFF, 0x08}), B({1, 0, 0, 0, 5, 0, 'a'}), ParamType::PackerId},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        sim.on(c.opcode, 0, c.data);
        EXPECT_EQ(run(c.command, c.given), -101);
        EXPECT_EQ(d.output_params.count(c.output), 0u);
        EXPECT_EQ(d.output_params.count(ParamType::PackerName), 0u);
    }
}

TEST_F(Database, RoundTripsAgainstTheSimulatedDatabase)
{
    // A packer written is found, with its name; deleted, it is gone.
    EXPECT_EQ(run(111, {{ParamType::PackerId, 5}, {ParamType::PackerName, "Ivan"}}), 0);
    EXPECT_EQ(run(110, {{ParamType::PackerId, 5}}), 0);
    EXPECT_EQ(out_int(d, ParamType::PackerId), 5);
    bytes name;
    EXPECT_EQ(d.get_bytes_array_param(ParamType::PackerName, d.output_params, name, false), 0);
    EXPECT_EQ(name, B({'I', 'v', 'a', 'n'}));
    EXPECT_EQ(run(112, {{ParamType::PackerId, 5}}), 0);
    device_test::log_capture log;
    EXPECT_EQ(run(110, {{ParamType::PackerId, 5}}), 187);
    EXPECT_TRUE(log.contains("get_packer 187"));
    EXPECT_EQ(d.output_params.count(ParamType::PackerName), 0u);

    // Rebinding moves the products; a deleted product is no longer found.
    EXPECT_EQ(
        run(91,
            {{ParamType::CategoryId, 7}, {ParamType::CategoryDeleteType, 2}, {ParamType::CategoryIdForRebinding, 9}}),
        0);
    EXPECT_FALSE(db->has_category(7));
    EXPECT_EQ(db->find_product(1001)->category, 9u);
    EXPECT_EQ(run(55, {{ParamType::ItemCode, 1001}}), 0);
    EXPECT_EQ(run(21, {{ParamType::ItemCode, 1001}}), 130);

    // Clearing products and messages empties both tables.
    EXPECT_EQ(run(20), 0);
    EXPECT_EQ(db->product_count(), 0u);
    EXPECT_EQ(run(34), 0);
    EXPECT_EQ(out_int(d, ParamType::MessagesCount), 0);
}

// The download's use: create once, then status while the scales say 172.
TEST_F(Database, ItemsFilePreparationAsTheDownloadPollsIt)
{
    qv_sim::sim_scale second("127.0.0.71");
    auto db2 = qv_sim::add_product_database_replies(second);
    add_scale(d, second, 0);
    db->set_preparation_polls(2);
    db2->set_preparation_polls(0);

    device_test::log_capture log;
    EXPECT_EQ(d.create_json_items_file(), 0);
    EXPECT_EQ(db->create_requests(), 1);
    EXPECT_EQ(db2->create_requests(), 1);
    for (int poll = 0; poll < 2; ++poll) {
        d.results.clear();
        EXPECT_EQ(d.get_json_items_file_status(), -111);
        EXPECT_EQ(d.results["127.0.0.70"], 172);
        EXPECT_EQ(d.results["127.0.0.71"], 0);
    }
    EXPECT_TRUE(log.contains("'get_json_items_file_status' error=-111"));
    d.results.clear();
    EXPECT_EQ(d.get_json_items_file_status(), 0);

    // One scale alone gives 172 itself, logged as an error like any code.
    d.ip_address_list.pop_back();
    EXPECT_EQ(d.execute_command(87), 0);
    EXPECT_EQ(d.execute_command(88), 172);
    EXPECT_TRUE(log.contains("'get_json_items_file_status' error=172"));
    EXPECT_EQ(d.execute_command(88), 172);
    EXPECT_EQ(d.execute_command(88), 0);
}

TEST_F(Database, GettersAreForOneScaleAndASilentScaleTimesOut)
{
    qv_sim::sim_scale second("127.0.0.72");
    add_scale(d, second, 1);
    EXPECT_EQ(run(34), -110);
    EXPECT_EQ(sim.request_count(), 0u);

    d.ip_address_list.pop_back();
    sim.set_fault(silent());
    device_test::log_capture log;
    EXPECT_EQ(run(112, {{ParamType::PackerId, 1}}), -1);
    EXPECT_TRUE(log.contains("delete_packer -1"));
    EXPECT_EQ(d.execute_command(87), -1);
    EXPECT_TRUE(log.contains("'create_json_items_file' error=-1"));
}

}  // namespace
