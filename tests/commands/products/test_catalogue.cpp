// The catalogue commands: refusals of required inputs that append nothing,
// the scaled number texts and the rate dates.

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <ctime>

#include "products_test_util.h"
#include "send_test_util.h"

namespace {

using namespace products_test;
using P = ParamType;

using Catalogue = send_test::device_test_base;

TEST_F(Catalogue, ScaledTextsMatchPrintfInTheCLocale)
{
    for (int v : {-5, 101, INT_MAX, INT_MIN}) {
        std::array<std::string, Product::text_count> texts;
        texts[2] = texts[8] = std::to_string(v);  // price /100, tare /1000
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
    const std::tuple<CommandType, inputs, int> cases[] = {
        {CommandType::add_message_to_json, {{P::MessageString, "m"}}, -7},
        {CommandType::add_product_to_json, {{P::ItemCode, L"1001"}}, -8},
        {CommandType::add_product_rate_to_json, {{P::ItemCode, 1}, {P::Rate, 1}}, -8},
    };
    for (const auto& [command, given, code] : cases) {
        EXPECT_EQ(run(d, command, given), code) << static_cast<int>(command);
        EXPECT_TRUE(d.input_params.empty());  // the dispatcher clears the inputs
    }
    const auto& c = d.json_product_data;
    EXPECT_TRUE(c.messages.empty() && c.products.empty() && c.product_rates.empty());
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
    ASSERT_EQ(run(d, CommandType::add_product_rate_to_json, {{P::ItemCode, 1001}, {P::Rate, L"1"}}), 0);
    // Two bytes: no date, no fallback.
    ASSERT_EQ(run(d, CommandType::add_product_rate_to_json,
                  {{P::ItemCode, 1001}, {P::Rate, L"1"}, {P::StatisticStartDate, raw({1, 2})}}),
              0);
    const std::string after = today();
    const auto& rates = d.json_product_data.product_rates;
    ASSERT_EQ(rates.size(), 2u);
    EXPECT_TRUE(rates[0].startDate == before || rates[0].startDate == after) << rates[0].startDate;
    EXPECT_EQ(rates[0].updateDate, rates[0].startDate);
    EXPECT_EQ(rates[1].startDate, "");
    EXPECT_TRUE(log.contains("current_time " + rates[0].startDate));
}

}  // namespace
