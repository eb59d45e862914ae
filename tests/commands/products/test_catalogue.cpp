// The catalogue commands: refusals of required inputs that append nothing,
// product members that depend on the input's kind or value, the running
// numbers, lot and rate dates, and the order of the lookups' log lines.

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <ctime>

#include "products_test_util.h"

namespace {

using namespace products_test;

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override { device_test::init_test_log(); }

    std::size_t stored() const
    {
        const auto& c = d.json_product_data;
        return c.messages.size() + c.categories.size() + c.products.size() + c.lots_of_product.size() +
               c.product_rates.size();
    }

    device d;
};

TEST(CatalogueFormat, ScaledTextsMatchPrintfInTheCLocale)
{
    device_test::init_test_log();
    for (int v : {0, -5, 101, 2147483647, INT_MIN}) {
        std::array<std::string, Product::text_count> texts;
        texts[2] = std::to_string(v);  // price, /100
        texts[8] = std::to_string(v);  // tare, /1000
        const Product p(1, 1, texts, false);
        char cent[64], milli[64];
        std::snprintf(cent, sizeof cent, "%f", static_cast<double>(static_cast<long double>(v) / 100));
        std::snprintf(milli, sizeof milli, "%f", static_cast<double>(static_cast<long double>(v) / 1000));
        EXPECT_EQ(p.price, cent) << v;
        EXPECT_EQ(p.tare, milli) << v;
    }
    // Texts that are no number take the default and log the conversion's name.
    device_test::log_capture log;
    std::array<std::string, Product::text_count> bad;
    bad[21] = "99999999999999999999";  // minWeight
    EXPECT_EQ(Product(1, 1, bad, false).minWeight, "");
    EXPECT_TRUE(log.contains("'minWeight' error: stoi"));
}

TEST_F(Catalogue, RequiredInputsAbsentOrOfAnotherKindAppendNothing)
{
    const struct {
        CommandType command;
        inputs given;
        int code;
    } cases[] = {
        {CommandType::add_message_to_json, {{ParamType::MessageString, "m"}}, -7},
        {CommandType::add_message_to_json, {{ParamType::MessageNumber, 1}, {ParamType::MessageString, L"m"}}, -8},
        {CommandType::add_product_to_json, {{ParamType::ItemCode, L"1001"}}, -8},
        {CommandType::add_lot_of_product_to_json, {{ParamType::ManufacturedDate, raw({1, 2, 3})}}, -7},
        {CommandType::add_product_rate_to_json, {{ParamType::ItemCode, 1}, {ParamType::Rate, 1}}, -8},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(d, c.command, c.given), c.code) << static_cast<int>(c.command);
        EXPECT_EQ(stored(), 0u);
        EXPECT_TRUE(d.input_params.empty());  // the dispatcher clears the inputs
    }
}

TEST_F(Catalogue, ProductMembersThatDependOnTheInputsKindOrValue)
{
    const struct {
        inputs given;
        std::string Product::*member;
        std::string expected;
    } rows[] = {
        {{{ParamType::NameSecond, "B"}}, &Product::name, "\nB"},
        {{{ParamType::NameFirst, "A"}, {ParamType::NameSecond, std::string("B\0b", 3)}}, &Product::name, "A\nBb"},
        {{{ParamType::Price, L"5"}}, &Product::price, "0.0"},
        {{{ParamType::GoodsType, 0}}, &Product::productType, "WEIGHT"},
        {{{ParamType::BCFormat, 255}}, &Product::barcodeStructure, "STATIC"},
        {{{ParamType::PrefixBCType, 2}}, &Product::barcodePrefixType, ""},
        {{{ParamType::ShelfLifeDate, raw({1, 2})}}, &Product::sellByDate, ""},
    };
    for (const auto& r : rows) {
        d.set_int_param(ParamType::ItemCode, d.input_params, 1, false);
        ASSERT_EQ(run(d, CommandType::add_product_to_json, r.given), 0) << r.expected;
        EXPECT_EQ(d.json_product_data.products.back().*r.member, r.expected);
    }
}

TEST_F(Catalogue, RunningNumbersCountThePendingRecordsAndRestartAfterEmptying)
{
    for (int k = 0; k < 2; ++k) {
        for (int n = 0; n < 2; ++n) {
            set_inputs(d, {{ParamType::ItemCode, 500 + n}});
            EXPECT_EQ(d.add_product_to_json(), 0);
            EXPECT_EQ(d.add_lot_of_product_to_json(), 0);
        }
        const auto& c = d.json_product_data;
        ASSERT_EQ(c.products.size(), 2u);
        EXPECT_EQ(c.products[1].id, 2);
        EXPECT_EQ(c.products[1].code, 501);
        EXPECT_EQ(c.lots_of_product[1].id, 2);
        EXPECT_EQ(d.clear_json_product_data(), 0);
        EXPECT_EQ(stored(), 0u);
    }
}

TEST_F(Catalogue, LotShelfLifeNeedsAThreeByteTime)
{
    ASSERT_EQ(run(d, CommandType::add_lot_of_product_to_json,
                  {{ParamType::ItemCode, 7},
                   {ParamType::ShelfLifeDate, raw({0x1E, 0x0C, 0x18})},
                   {ParamType::ShelfLifeTime, raw({0x0E, 0x1E})}}),
              0);
    EXPECT_EQ(d.json_product_data.lots_of_product.at(0).shelfLifeDateTime, "30-12-24");
}

std::string today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%d-%m-%Y", &local);
    return text;
}

TEST_F(Catalogue, RateDatesFallBackToTodayOnlyWithoutBytes)
{
    device_test::log_capture log;
    const std::string before = today();
    ASSERT_EQ(run(d, CommandType::add_product_rate_to_json, {{ParamType::ItemCode, 1001}, {ParamType::Rate, L"1"}}), 0);
    // Two bytes: no date, no fallback.
    ASSERT_EQ(run(d, CommandType::add_product_rate_to_json,
                  {{ParamType::ItemCode, 1001}, {ParamType::Rate, L"1"}, {ParamType::StatisticStartDate, raw({1, 2})}}),
              0);
    const std::string after = today();
    const auto& rates = d.json_product_data.product_rates;
    ASSERT_EQ(rates.size(), 2u);
    EXPECT_TRUE(rates[0].startDate == before || rates[0].startDate == after) << rates[0].startDate;
    EXPECT_EQ(rates[0].updateDate, rates[0].startDate);
    EXPECT_EQ(rates[1].startDate, "");
    EXPECT_TRUE(log.contains("current_time " + rates[0].startDate));
    // Today is logged before any input is read.
    device_test::log_capture refused;
    EXPECT_EQ(d.add_product_rate_to_json(), -7);
    const auto lines = refused.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind("current_time ", 0), 0u) << lines[1];
    EXPECT_NE(lines[2].find("(182)"), std::string::npos) << lines[2];
}

TEST_F(Catalogue, AProductWithOnlyItsCodeLooksEveryOptionalUpInOrder)
{
    set_inputs(d, {{ParamType::ItemCode, 1}});
    device_test::log_capture log;
    ASSERT_EQ(d.add_product_to_json(), 0);
    std::vector<int> order;  // the numbers of the "get ...(N)...: not found!" lines
    for (const auto& line : log.lines()) {
        const std::size_t open = line.find('(');
        if (line.rfind("get ", 0) != 0 || open == std::string::npos || line.find(": not found!") == std::string::npos)
            continue;
        order.push_back(std::stoi(line.substr(open + 1)));
    }
    const std::vector<int> expected{183, 330, 184, 185, 190, 345, 41,  287, 40,  44,  187, 189, 346, 347, 186,
                                    192, 188, 51,  288, 191, 322, 196, 276, 277, 137, 138, 289, 324, 331, 332};
    EXPECT_EQ(order, expected);
}

}  // namespace
