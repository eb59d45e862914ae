// The catalogue commands: refusals of required inputs that append nothing,
// every product member read from its parameter and converted, the running
// numbers, lot and rate dates, and the order of the lookups' log lines.

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "core/device.h"
#include "device_test_util.h"

namespace {

using bytes = std::vector<std::byte>;
using device_test::bytes_of;

class Catalogue : public ::testing::Test {
public:  // the case tables below reach the helpers through a reference
    void SetUp() override { device_test::init_test_log(); }

    void set_int(ParamType p, int v) { d.set_int_param(p, d.input_params, v, false); }
    void set_text(ParamType p, const std::string& v) { d.set_bytes_array_param(p, d.input_params, bytes_of(v), false); }
    void set_raw(ParamType p, std::initializer_list<int> v)
    {
        bytes b;
        for (int x : v) b.push_back(static_cast<std::byte>(x));
        d.set_bytes_array_param(p, d.input_params, b, false);
    }
    void set_wide(ParamType p, const std::wstring& v) { d.set_string_param(p, d.input_params, v, false); }

    std::size_t stored() const
    {
        const auto& c = d.json_product_data;
        return c.messages.size() + c.categories.size() + c.products.size() + c.lots_of_product.size() +
               c.product_rates.size();
    }

    // One product from the inputs set so far; the inputs are then cleared.
    Product product()
    {
        EXPECT_EQ(d.execute_command(static_cast<int>(CommandType::add_product_to_json)), 0);
        return d.json_product_data.products.back();
    }

    device d;
};

TEST(CatalogueFormat, ScaledTextsMatchPrintfInTheCLocaleForEveryMagnitude)
{
    device_test::init_test_log();
    const std::vector<int> values{0,          1,           -1,      5,          -5,      99,     100,
                                  101,        999,         1000,    1001,       12345,   -12345, 150,
                                  2147483647, -2147483647, INT_MIN, 1234567891, -999999, 30000,  15000};
    for (int v : values) {
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
}

TEST(CatalogueFormat, ConstructorDefaultsAndCodes)
{
    device_test::init_test_log();
    std::array<std::string, Product::text_count> none;
    const Product empty(4, 9, none, false);
    EXPECT_EQ(empty.price, "0.0");
    EXPECT_EQ(empty.tare, "0.0");
    EXPECT_EQ(empty.discountPrice, "");
    EXPECT_EQ(empty.minWeight, "");
    EXPECT_EQ(empty.maxWeight, "");
    EXPECT_EQ(empty.shelfLife, "0");
    EXPECT_EQ(empty.productType, "WEIGHT");
    EXPECT_EQ(empty.learningModeEnabled, "");

    // Texts that are no number take the default and log the conversion's name.
    device_test::log_capture log;
    std::array<std::string, Product::text_count> bad;
    bad[2] = "x12";  // price
    bad[21] = "99999999999999999999";  // minWeight
    const Product wrong(1, 1, bad, false);
    EXPECT_EQ(wrong.price, "0.0");
    EXPECT_EQ(wrong.minWeight, "");
    EXPECT_TRUE(log.contains("'price' error: stoi"));
    EXPECT_TRUE(log.contains("'minWeight' error: stoi"));
}

struct refusal {
    const char* what;
    CommandType command;
    std::function<void(Catalogue&)> inputs;
    int code;
};

TEST_F(Catalogue, RequiredInputsAbsentOrOfAnotherKindAppendNothing)
{
    const auto item = [](Catalogue& c) { c.set_int(ParamType::ItemCode, 1001); };
    const std::vector<refusal> cases{
        {"message: no number", CommandType::add_message_to_json,
         [](Catalogue& c) { c.set_text(ParamType::MessageString, "m"); }, -7},
        {"message: number as bytes", CommandType::add_message_to_json,
         [](Catalogue& c) {
             c.set_text(ParamType::MessageNumber, "1");
             c.set_text(ParamType::MessageString, "m");
         },
         -8},
        {"message: no text", CommandType::add_message_to_json,
         [](Catalogue& c) { c.set_int(ParamType::MessageNumber, 1); }, -7},
        {"message: wide text", CommandType::add_message_to_json,
         [](Catalogue& c) {
             c.set_int(ParamType::MessageNumber, 1);
             c.set_wide(ParamType::MessageString, L"m");
         },
         -8},
        {"category: no code", CommandType::add_category_to_json,
         [](Catalogue& c) { c.set_text(ParamType::CategoryName, "c"); }, -7},
        {"category: wide name", CommandType::add_category_to_json,
         [](Catalogue& c) {
             c.set_int(ParamType::GroupCode, 1);
             c.set_wide(ParamType::CategoryName, L"c");
         },
         -8},
        {"category: no name", CommandType::add_category_to_json,
         [](Catalogue& c) { c.set_int(ParamType::GroupCode, 1); }, -7},
        {"product: no item code", CommandType::add_product_to_json,
         [](Catalogue& c) { c.set_int(ParamType::Price, 100); }, -7},
        {"product: item code as text", CommandType::add_product_to_json,
         [](Catalogue& c) { c.set_wide(ParamType::ItemCode, L"1001"); }, -8},
        {"lot: no item code", CommandType::add_lot_of_product_to_json,
         [](Catalogue& c) {
             c.set_raw(ParamType::ManufacturedDate, {1, 2, 3});
         },
         -7},
        {"lot: item code as bytes", CommandType::add_lot_of_product_to_json,
         [](Catalogue& c) { c.set_raw(ParamType::ItemCode, {1}); }, -8},
        {"rate: no item code", CommandType::add_product_rate_to_json,
         [](Catalogue& c) { c.set_wide(ParamType::Rate, L"1"); }, -7},
        {"rate: no rate", CommandType::add_product_rate_to_json, item, -7},
        {"rate: rate as bytes", CommandType::add_product_rate_to_json,
         [](Catalogue& c) {
             c.set_int(ParamType::ItemCode, 1);
             c.set_text(ParamType::Rate, "1");
         },
         -8},
        {"rate: rate as int", CommandType::add_product_rate_to_json,
         [](Catalogue& c) {
             c.set_int(ParamType::ItemCode, 1);
             c.set_int(ParamType::Rate, 1);
         },
         -8},
    };
    for (const auto& c : cases) {
        c.inputs(*this);
        EXPECT_EQ(d.execute_command(static_cast<int>(c.command)), c.code) << c.what;
        EXPECT_EQ(stored(), 0u) << c.what;
        EXPECT_TRUE(d.input_params.empty()) << c.what;  // the dispatcher clears the inputs
    }
}

TEST_F(Catalogue, EveryProductMemberFromItsParameter)
{
    set_int(ParamType::ItemCode, 1001);
    set_int(ParamType::PLUNumber, 17);
    set_text(ParamType::NameFirst, "A");
    set_text(ParamType::NameSecond, std::string("B\0b", 3));  // zero bytes dropped
    set_int(ParamType::Price, 12345);
    set_int(ParamType::DiscountPrice, 9990);
    set_int(ParamType::LabelFormat, 2);
    set_int(ParamType::LabelFormatForDiscount, 3);
    set_int(ParamType::BCFormat, 7);
    set_int(ParamType::ShelfLife, 10);
    set_int(ParamType::Tare, 150);
    set_int(ParamType::PieceWeight, 250);
    set_raw(ParamType::ManufacturedDate, {5, 12, 24});
    set_int(ParamType::GoodsType, 1);
    set_text(ParamType::PrefixBCType, "2");
    set_text(ParamType::ROSTEST, "RU.1");
    set_raw(ParamType::ShelfLifeDate, {30, 12, 24});
    set_int(ParamType::GroupCode, 12);
    set_int(ParamType::MessageNumber, 3);
    set_text(ParamType::JsonProductMessages, "[1]");
    set_int(ParamType::MinWeight, 100);
    set_int(ParamType::MaxWeight, 15000);
    set_int(ParamType::WrappingType, 0);
    set_int(ParamType::StaticBarcodeType, 1);
    set_text(ParamType::StaticBarcodeValue, "46");
    set_text(ParamType::Gtin, "0460");
    set_int(ParamType::ButtonNumber, 4);
    set_int(ParamType::LearningModeEnabled, 0);
    set_text(ParamType::ShelfLifeType, "DAYS");
    set_text(ParamType::AdditionProductData, "extra");
    set_text(ParamType::JsonProductLabelImages, "[]");
    const Product p = product();
    EXPECT_EQ(p.id, 1);
    EXPECT_EQ(p.code, 1001);
    const std::vector<std::string> expected{
        "17",       "A\nBb",    "123.450000", "99.900000", "2",     "3",        "PPNNNNNQQQQQC", "10",
        "0.150000", "0.250000", "05-12-24",   "",          "1",     "2",        "RU.1",          "30-12-24",
        "PIECE",    "12",       "3",          "[1]",       "",      "0.100000", "15.000000",     "0",
        "1",        "46",       "0460",       "4",         "false", "DAYS",     "extra",         "[]"};
    const auto& members = Product::text_members();
    for (std::size_t k = 0; k < members.size(); ++k) EXPECT_EQ(p.*members[k], expected[k]) << "member " << k;
    EXPECT_FALSE(p.deleted);
}

TEST_F(Catalogue, ProductMembersThatDependOnTheInputsKindOrValue)
{
    struct row {
        const char* what;
        std::function<void(Catalogue&)> inputs;
        std::string Product::*member;
        std::string expected;
    };
    const std::vector<row> rows{
        {"one-line name", [](Catalogue& c) { c.set_text(ParamType::NameFirst, "A"); }, &Product::name, "A"},
        {"second line only", [](Catalogue& c) { c.set_text(ParamType::NameSecond, "B"); }, &Product::name, "\nB"},
        {"price 0", [](Catalogue& c) { c.set_int(ParamType::Price, 0); }, &Product::price, "0.000000"},
        {"price -5", [](Catalogue& c) { c.set_int(ParamType::Price, -5); }, &Product::price, "-0.050000"},
        {"price as text", [](Catalogue& c) { c.set_wide(ParamType::Price, L"5"); }, &Product::price, "0.0"},
        {"goods type 0", [](Catalogue& c) { c.set_int(ParamType::GoodsType, 0); }, &Product::productType, "WEIGHT"},
        {"goods type 2", [](Catalogue& c) { c.set_int(ParamType::GoodsType, 2); }, &Product::type, "2"},
        {"learning 1", [](Catalogue& c) { c.set_int(ParamType::LearningModeEnabled, 1); },
         &Product::learningModeEnabled, "true"},
        {"learning 2", [](Catalogue& c) { c.set_int(ParamType::LearningModeEnabled, 2); },
         &Product::learningModeEnabled, ""},
        {"piece weight bytes", [](Catalogue& c) { c.set_text(ParamType::PieceWeight, "0.25"); }, &Product::pieceWeight,
         "0.25"},
        {"piece weight wide", [](Catalogue& c) { c.set_wide(ParamType::PieceWeight, L"1,5 кг"); },
         &Product::pieceWeight, "1,5 кг"},
        {"piece weight int", [](Catalogue& c) { c.set_int(ParamType::PieceWeight, 1500); }, &Product::pieceWeight,
         "1.500000"},
        {"format not in the table", [](Catalogue& c) { c.set_int(ParamType::BCFormat, 5); }, &Product::barcodeStructure,
         ""},
        {"format 255", [](Catalogue& c) { c.set_int(ParamType::BCFormat, 255); }, &Product::barcodeStructure, "STATIC"},
        {"structure wins over format",
         [](Catalogue& c) {
             c.set_int(ParamType::BCFormat, 7);
             c.set_text(ParamType::JsonBarcodeStructures, "NNNNNNNQQQQQC");
         },
         &Product::barcodeStructure, "NNNNNNNQQQQQC"},
        {"prefix type as int", [](Catalogue& c) { c.set_int(ParamType::PrefixBCType, 2); }, &Product::barcodePrefixType,
         ""},
        {"date of two bytes",
         [](Catalogue& c) {
             c.set_raw(ParamType::ShelfLifeDate, {1, 2});
         },
         &Product::sellByDate, ""},
    };
    for (const auto& r : rows) {
        set_int(ParamType::ItemCode, 1);
        r.inputs(*this);
        const Product p = product();
        EXPECT_EQ(p.*r.member, r.expected) << r.what;
    }
}

TEST_F(Catalogue, RunningNumbersCountThePendingRecordsAndRestartAfterEmptying)
{
    for (int k = 0; k < 2; ++k) {
        for (int n = 0; n < 3; ++n) {
            set_int(ParamType::ItemCode, 500 + n);
            EXPECT_EQ(d.add_product_to_json(), 0);
            EXPECT_EQ(d.add_lot_of_product_to_json(), 0);
        }
        const auto& c = d.json_product_data;
        ASSERT_EQ(c.products.size(), 3u);
        ASSERT_EQ(c.lots_of_product.size(), 3u);
        for (int n = 0; n < 3; ++n) {
            EXPECT_EQ(c.products[n].id, n + 1);
            EXPECT_EQ(c.products[n].code, 500 + n);
            EXPECT_EQ(c.lots_of_product[n].id, n + 1);
        }
        device_test::log_capture log;
        EXPECT_EQ(d.clear_json_product_data(), 0);
        EXPECT_TRUE(log.contains("clear_json_product_data"));
        EXPECT_EQ(stored(), 0u);
    }
}

TEST_F(Catalogue, MessagesAndCategoriesKeepTheHostsNumbers)
{
    set_int(ParamType::MessageNumber, 3);
    set_text(ParamType::MessageString, std::string("Fr\0esh", 6));
    set_int(ParamType::GroupCode, 12);
    set_text(ParamType::CategoryName, "Молоко");
    EXPECT_EQ(d.add_message_to_json(), 0);
    EXPECT_EQ(d.add_category_to_json(), 0);
    set_int(ParamType::CategoryNumber, -4);
    EXPECT_EQ(d.add_category_to_json(), 0);
    const auto& c = d.json_product_data;
    ASSERT_EQ(c.messages.size(), 1u);
    EXPECT_EQ(c.messages[0].number, 3);
    EXPECT_EQ(c.messages[0].text, "Fresh");
    ASSERT_EQ(c.categories.size(), 2u);
    EXPECT_EQ(c.categories[0].id, 12);
    EXPECT_EQ(c.categories[0].name, "Молоко");
    EXPECT_EQ(c.categories[0].number, "");
    EXPECT_EQ(c.categories[1].number, "-4");
}

TEST_F(Catalogue, LotDatesAndTheShelfLifeTime)
{
    struct row {
        std::vector<int> date, time;
        std::string expected;
    };
    const std::vector<row> rows{
        {{0x1E, 0x0C, 0x18}, {0x0E, 0x1E, 0x00}, "30-12-24 14-30-00"},
        {{0x1E, 0x0C, 0x18}, {}, "30-12-24"},
        {{}, {0x0E, 0x1E, 0x00}, ""},
        {{0x1E, 0x0C, 0x18}, {0x0E, 0x1E}, "30-12-24"},  // a time of two bytes is no time
    };
    for (const auto& r : rows) {
        set_int(ParamType::ItemCode, 7);
        bytes date, time;
        for (int x : r.date) date.push_back(static_cast<std::byte>(x));
        for (int x : r.time) time.push_back(static_cast<std::byte>(x));
        if (!r.date.empty()) d.set_bytes_array_param(ParamType::ShelfLifeDate, d.input_params, date, false);
        if (!r.time.empty()) d.set_bytes_array_param(ParamType::ShelfLifeTime, d.input_params, time, false);
        EXPECT_EQ(d.execute_command(static_cast<int>(CommandType::add_lot_of_product_to_json)), 0);
        const LotOfProduct& lot = d.json_product_data.lots_of_product.back();
        EXPECT_EQ(lot.shelfLifeDateTime, r.expected);
        EXPECT_EQ(lot.productCode, 7);
        EXPECT_EQ(lot.manufactureDate, "");
    }
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
    set_int(ParamType::ItemCode, 1001);
    set_wide(ParamType::Rate, L"1,5 ₽");
    const std::string before = today();
    ASSERT_EQ(d.add_product_rate_to_json(), 0);
    set_raw(ParamType::StatisticStartDate, {1, 2});  // two bytes: no date, no fallback
    set_raw(ParamType::UpdateDate, {0x1F, 0x0C, 0x18});
    ASSERT_EQ(d.add_product_rate_to_json(), 0);
    const std::string after = today();

    const auto& rates = d.json_product_data.product_rates;
    ASSERT_EQ(rates.size(), 2u);
    EXPECT_EQ(rates[0].productCode, 1001);
    EXPECT_EQ(rates[0].rate, "1,5 ₽");
    EXPECT_TRUE(rates[0].startDate == before || rates[0].startDate == after) << rates[0].startDate;
    EXPECT_EQ(rates[0].updateDate, rates[0].startDate);
    EXPECT_EQ(rates[0].startDate.size(), 10u);  // four-digit year
    EXPECT_EQ(rates[1].startDate, "");
    EXPECT_EQ(rates[1].updateDate, "31-12-24");
    EXPECT_TRUE(log.contains("current_time " + rates[0].startDate));
}

TEST_F(Catalogue, RateLogsTodayBeforeAnyInputIsRead)
{
    device_test::log_capture log;
    EXPECT_EQ(d.add_product_rate_to_json(), -7);
    const auto lines = log.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "'add_product_rate_to_json' start");
    EXPECT_EQ(lines[1].rfind("current_time ", 0), 0u) << lines[1];
    EXPECT_NE(lines[2].find("(182)"), std::string::npos) << lines[2];
}

TEST_F(Catalogue, AProductWithOnlyItsCodeLooksEveryOptionalUpInOrder)
{
    set_int(ParamType::ItemCode, 1);
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
