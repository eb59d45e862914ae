// The product document compared byte for byte: empty, the two-record
// example, one record of each kind, and a full catalogue with escapes and
// embedded JSON, also under a decimal-comma process locale; then where the
// document goes (input -1, standard output) and what is emptied.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "products_test_util.h"

namespace {

using bytes = std::vector<std::byte>;
using device_test::bytes_of;
using device_test::text_of;
using products_test::inputs;
using products_test::raw;

class Document : public ::testing::Test {
public:
    void SetUp() override { device_test::init_test_log(); }

    void run(CommandType c, const inputs& given) { ASSERT_EQ(products_test::run(d, c, given), 0); }

    // The document as the builder leaves it in input -1.
    std::string document()
    {
        EXPECT_EQ(d.fill_byte_array_for_json(), 0);
        const auto found = d.input_params.find(ParamType::ProductDocument);
        if (found == d.input_params.end()) {
            ADD_FAILURE() << "no input -1";
            return {};
        }
        EXPECT_EQ(found->second->get_type(), DataType::ByteArray);
        bytes out;
        d.get_bytes_array_param(ParamType::ProductDocument, d.input_params, out, false);
        return text_of(out);
    }

    device d;
};

// One message (3, Fresh) and one product (1001, price 12345).
const std::string example_document = R"({
    "messages": [
        {
            "id": "3",
            "value": "Fresh",
            "deleted": "false"
        }
    ],
    "products": [
        {
            "id": "1",
            "code": "1001",
            "name": "",
            "price": "123.450000",
            "shelfLife": "0",
            "tare": "0.0",
            "productType": "WEIGHT",
            "deleted": "false"
        }
    ]
}
)";

TEST_F(Document, EmptyCatalogueAndEverySecondCall)
{
    EXPECT_EQ(document(), "{\n}\n");
    run(CommandType::add_product_to_json, {{ParamType::ItemCode, 1}});
    EXPECT_NE(document(), "{\n}\n");
    EXPECT_EQ(document(), "{\n}\n");  // the first call emptied the catalogue
}

TEST_F(Document, TheTwoRecordExample)
{
    run(CommandType::add_message_to_json, {{ParamType::MessageNumber, 3}, {ParamType::MessageString, "Fresh"}});
    run(CommandType::add_product_to_json, {{ParamType::ItemCode, 1001}, {ParamType::Price, 12345}});
    EXPECT_EQ(example_document.size(), 412u);
    EXPECT_EQ(document(), example_document);
}

// Every kind, every product key, the writer's escapes (quote, backslash,
// slash, tab, line feed, other control bytes; 0x7F and UTF-8 unchanged), the
// embedded JSON texts and one that does not parse.
void add_full_catalogue(Document& t)
{
    t.run(CommandType::add_message_to_json, {{ParamType::MessageNumber, 3}, {ParamType::MessageString, "Fresh"}});
    t.run(CommandType::add_message_to_json,
          {{ParamType::MessageNumber, 7}, {ParamType::MessageString, "Say \"hi\"\\path/x\t\x01\x1f\x7f"}});
    t.run(CommandType::add_category_to_json,
          {{ParamType::GroupCode, 12}, {ParamType::CategoryName, "Молоко"}, {ParamType::CategoryNumber, 5}});
    t.run(CommandType::add_category_to_json, {{ParamType::GroupCode, 13}, {ParamType::CategoryName, "Bread\r\n"}});
    t.run(CommandType::add_product_rate_to_json, {{ParamType::ItemCode, 1001},
                                                  {ParamType::Rate, L"1,5 ₽"},
                                                  {ParamType::StatisticStartDate, raw({1, 2, 24})},
                                                  {ParamType::UpdateDate, raw({31, 12, 24})}});
    t.run(CommandType::add_lot_of_product_to_json, {{ParamType::ItemCode, 1001},
                                                    {ParamType::ManufacturedDate, raw({5, 12, 24})},
                                                    {ParamType::ShelfLifeDate, raw({30, 12, 24})},
                                                    {ParamType::ShelfLifeTime, raw({14, 30, 0})}});
    t.run(CommandType::add_lot_of_product_to_json, {{ParamType::ItemCode, 1002}});
    t.run(CommandType::add_product_to_json,
          {{ParamType::ItemCode, 1001},
           {ParamType::PLUNumber, 17},
           {ParamType::ButtonNumber, 4},
           {ParamType::NameFirst, "Сыр"},
           {ParamType::NameSecond, "Gouda 1/2"},
           {ParamType::ROSTEST, "RU.123"},
           {ParamType::AdditionProductData, "extra"},
           {ParamType::Price, 12345},
           {ParamType::DiscountPrice, 9990},
           {ParamType::Tare, 150},
           {ParamType::GoodsType, 1},
           {ParamType::PieceWeight, 250},
           {ParamType::GroupCode, 12},
           {ParamType::MessageNumber, 3},
           {ParamType::JsonProductMessages, R"([{"id": 1, "text": "a/b"}, {"id": 2.50e1, "ok": true, "none": null}])"},
           {ParamType::JsonProductLabelImages, "[]"},
           {ParamType::ShelfLife, 10},
           {ParamType::ShelfLifeDate, raw({30, 12, 24})},
           {ParamType::ManufacturedDate, raw({5, 12, 24})},
           {ParamType::LabelFormat, 2},
           {ParamType::LabelFormatForDiscount, 3},
           {ParamType::BCFormat, 7},
           {ParamType::PrefixBCType, "2"},
           {ParamType::StaticBarcodeType, 1},
           {ParamType::StaticBarcodeValue, "4600000000000"},
           {ParamType::MinWeight, 100},
           {ParamType::MaxWeight, 15000},
           {ParamType::WrappingType, 0},
           {ParamType::Gtin, "04600000000001"},
           {ParamType::LearningModeEnabled, 1},
           {ParamType::ShelfLifeType, "DAYS"}});
    t.run(CommandType::add_product_to_json, {{ParamType::ItemCode, 1002},
                                             {ParamType::Price, 0},
                                             {ParamType::Tare, -5},
                                             {ParamType::GoodsType, 2},
                                             {ParamType::PieceWeight, "0.25"},
                                             {ParamType::BCFormat, 5},
                                             {ParamType::JsonBarcodeStructures, "NNNNNNNQQQQQC"},
                                             {ParamType::JsonProductMessages, R"([{"a": "b}])"},
                                             {ParamType::JsonProductLabelImages, R"({"n": 5})"},
                                             {ParamType::LearningModeEnabled, 2}});
}

const std::string full_document = R"({
    "messages": [
        {
            "id": "3",
            "value": "Fresh",
            "deleted": "false"
        },
        {
            "id": "7",
            "value": "Say \"hi\"\\path\/x\t\u0001\u001F)"
                                  "\x7f"
                                  R"(",
            "deleted": "false"
        }
    ],
    "categories": [
        {
            "idCategory": "12",
            "name": "Молоко",
            "number": "5"
        },
        {
            "idCategory": "13",
            "name": "Bread\r\n"
        }
    ],
    "productRates": [
        {
            "productCode": "1001",
            "rate": "1,5 ₽",
            "startDate": "01-02-24",
            "updateDate": "31-12-24"
        }
    ],
    "lotsOfProduct": [
        {
            "id": "1",
            "productCode": "1001",
            "manufactureDate": "05-12-24",
            "shelfLifeDateTime": "30-12-24 14-30-00"
        },
        {
            "id": "2",
            "productCode": "1002",
            "manufactureDate": ""
        }
    ],
    "products": [
        {
            "id": "1",
            "code": "1001",
            "name": "Сыр\nGouda 1\/2",
            "price": "123.450000",
            "shelfLife": "10",
            "tare": "0.150000",
            "productType": "PIECE",
            "deleted": "false",
            "pluNumber": "17",
            "buttonNumber": "4",
            "labelTemplate": "2",
            "barcodeStructure": "PPNNNNNQQQQQC",
            "pieceWeight": "0.250000",
            "manufactureDate": "05-12-24",
            "type": "1",
            "barcodePrefixType": "2",
            "rostestCode": "RU.123",
            "sellByDate": "30-12-24",
            "category": "12",
            "message": "3",
            "minWeight": "0.100000",
            "maxWeight": "15.000000",
            "staticBarcodeType": "1",
            "staticBarcodeValue": "4600000000000",
            "discountPrice": "99.900000",
            "labelDiscountTemplate": "3",
            "wrappingType": "0",
            "gtin": "04600000000001",
            "learningModeEnabled": "true",
            "shelfLifeType": "DAYS",
            "additionProductData": "extra",
            "productMessages": [
                {
                    "id": "1",
                    "text": "a\/b"
                },
                {
                    "id": "2.50e1",
                    "ok": "true",
                    "none": "null"
                }
            ],
            "labelImages": ""
        },
        {
            "id": "2",
            "code": "1002",
            "name": "",
            "price": "0.000000",
            "shelfLife": "0",
            "tare": "-0.005000",
            "productType": "WEIGHT",
            "deleted": "false",
            "barcodeStructure": "NNNNNNNQQQQQC",
            "pieceWeight": "0.25",
            "type": "2",
            "labelImages": {
                "n": "5"
            }
        }
    ]
}
)";

TEST_F(Document, FullCatalogue)
{
    add_full_catalogue(*this);
    device_test::log_capture log;
    EXPECT_EQ(document(), full_document);
    bool logged = false;
    for (const auto& line : log.lines()) logged = logged || line.rfind("jsonMessageList parse error: ", 0) == 0;
    EXPECT_TRUE(logged);
}

// Restores the C locale however the test ends.
struct c_locale_after {
    device& d;
    ~c_locale_after() { d.change_locale(L"C"); }
};

TEST_F(Document, SameBytesUnderADecimalCommaLocale)
{
    const c_locale_after restore{d};
    ASSERT_EQ(d.change_locale(L"de_DE.UTF-8"), 0)
        << "the de_DE.UTF-8 locale is missing: scripts/install-deps.sh makes it (localedef)";
    char probe[32];
    std::snprintf(probe, sizeof probe, "%f", 1.5);
    ASSERT_STREQ(probe, "1,500000") << "the locale does not use a decimal comma, so it proves nothing";
    add_full_catalogue(*this);
    EXPECT_EQ(document(), full_document);
}

TEST_F(Document, EffectsInOrderAndTheCatalogueEmptied)
{
    add_full_catalogue(*this);
    products_test::set_inputs(d, {{ParamType::ProductDocument, "old"}});
    device_test::log_capture log;
    testing::internal::CaptureStdout();
    const std::string text = document();
    const std::string printed = testing::internal::GetCapturedStdout();
    // The test log's console sink writes to standard output as well.
    EXPECT_NE(printed.find("json data: \n" + text + "\n"), std::string::npos);
    EXPECT_EQ(text, full_document);  // the old -1 replaced

    const auto& c = d.json_product_data;
    EXPECT_TRUE(c.messages.empty() && c.categories.empty() && c.products.empty() && c.lots_of_product.empty() &&
                c.product_rates.empty());
    const auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "'fill_byte_array_for_json' start");
    EXPECT_EQ(lines.back(), "clear_json_product_data");

    // Running numbers start again at 1.
    run(CommandType::add_product_to_json, {{ParamType::ItemCode, 5}});
    EXPECT_EQ(d.json_product_data.products.at(0).id, 1);
}

}  // namespace

// The document uploaded as the JSON items file (command 48, FileType 10) to a
// simulated scale, compiled where the file-transfer test helpers exist.
#if __has_include("../files/files_test_util.h")
#include "../files/files_test_util.h"

namespace {

class DocumentUpload : public files_test::files_fixture {
protected:
    void SetUp() override
    {
        files_fixture::SetUp();
        sim = std::make_unique<qv_sim::sim_scale>("127.0.0.90");
        store = qv_sim::add_file_replies(*sim);
        send_test::add_scale(d, *sim, 1);
    }
    int run(CommandType c, const products_test::inputs& given) { return products_test::run(d, c, given); }
    int send() { return run(CommandType::send_file, {{ParamType::FileType, 10}}); }
    std::unique_ptr<qv_sim::sim_scale> sim;
    std::shared_ptr<qv_sim::file_store> store;
};

TEST_F(DocumentUpload, TheCollectedCatalogueArrivesWhole)
{
    EXPECT_EQ(send(), 0);  // an empty catalogue sends the empty document
    EXPECT_EQ(store->file("FF 13"), bytes_of("{\n}\n"));

    ASSERT_EQ(
        run(CommandType::add_message_to_json, {{ParamType::MessageNumber, 3}, {ParamType::MessageString, "Fresh"}}), 0);
    ASSERT_EQ(run(CommandType::add_product_to_json, {{ParamType::ItemCode, 1001}, {ParamType::Price, 12345}}), 0);
    EXPECT_EQ(send(), 0);
    ASSERT_EQ(store->uploads().size(), 2u);
    EXPECT_TRUE(store->uploads()[1].md5_ok);
    EXPECT_EQ(store->file("FF 13"), bytes_of(example_document));
    EXPECT_TRUE(d.json_product_data.products.empty() && d.json_product_data.messages.empty());
    EXPECT_TRUE(d.input_params.empty());  // -1 went with the other inputs
}

}  // namespace
#endif
