// The product document compared byte for byte: empty, the two-record
// example, one record of each kind, and a full catalogue with escapes and
// embedded JSON, also under a decimal-comma process locale; then where the
// document goes (input -1, standard output) and what is emptied.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "core/device.h"
#include "device_test_util.h"

namespace {

using bytes = std::vector<std::byte>;
using device_test::bytes_of;
using device_test::text_of;

class Document : public ::testing::Test {
public:  // the catalogue builders below reach the helpers through a reference
    void SetUp() override { device_test::init_test_log(); }

    void set_int(ParamType p, int v) { d.set_int_param(p, d.input_params, v, false); }
    void set_text(ParamType p, const std::string& v) { d.set_bytes_array_param(p, d.input_params, bytes_of(v), false); }
    void set_raw(ParamType p, std::initializer_list<int> v)
    {
        bytes b;
        for (int x : v) b.push_back(static_cast<std::byte>(x));
        d.set_bytes_array_param(p, d.input_params, b, false);
    }
    void run(CommandType c) { ASSERT_EQ(d.execute_command(static_cast<int>(c)), 0); }

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
    set_int(ParamType::ItemCode, 1);
    run(CommandType::add_product_to_json);
    EXPECT_NE(document(), "{\n}\n");
    EXPECT_EQ(document(), "{\n}\n");  // the first call emptied the catalogue
}

TEST_F(Document, TheTwoRecordExample)
{
    set_int(ParamType::MessageNumber, 3);
    set_text(ParamType::MessageString, "Fresh");
    run(CommandType::add_message_to_json);
    set_int(ParamType::ItemCode, 1001);
    set_int(ParamType::Price, 12345);
    run(CommandType::add_product_to_json);
    EXPECT_EQ(example_document.size(), 412u);
    EXPECT_EQ(document(), example_document);
}

struct single {
    const char* what;
    CommandType command;
    void (*inputs)(Document&);
    std::string expected;
};

TEST_F(Document, OneRecordOfEachKind)
{
    const std::vector<single> cases{
        {"category without number", CommandType::add_category_to_json,
         [](Document& t) {
             t.set_int(ParamType::GroupCode, 12);
             t.set_text(ParamType::CategoryName, "Dairy");
         },
         R"({
    "categories": [
        {
            "idCategory": "12",
            "name": "Dairy"
        }
    ]
}
)"},
        {"rate with both dates", CommandType::add_product_rate_to_json,
         [](Document& t) {
             t.set_int(ParamType::ItemCode, 1001);
             t.d.set_string_param(ParamType::Rate, t.d.input_params, L"2.5", false);
             t.set_raw(ParamType::StatisticStartDate, {1, 2, 24});
             t.set_raw(ParamType::UpdateDate, {1, 2});  // no date: written empty
         },
         R"({
    "productRates": [
        {
            "productCode": "1001",
            "rate": "2.5",
            "startDate": "01-02-24",
            "updateDate": ""
        }
    ]
}
)"},
        {"lot without shelf-life date", CommandType::add_lot_of_product_to_json,
         [](Document& t) {
             t.set_int(ParamType::ItemCode, 1002);
             t.set_raw(ParamType::ShelfLifeTime, {14, 30, 0});
         },
         R"({
    "lotsOfProduct": [
        {
            "id": "1",
            "productCode": "1002",
            "manufactureDate": ""
        }
    ]
}
)"},
        {"product with only its code", CommandType::add_product_to_json,
         [](Document& t) { t.set_int(ParamType::ItemCode, 7); },
         R"({
    "products": [
        {
            "id": "1",
            "code": "7",
            "name": "",
            "price": "0.0",
            "shelfLife": "0",
            "tare": "0.0",
            "productType": "WEIGHT",
            "deleted": "false"
        }
    ]
}
)"},
    };
    for (const auto& c : cases) {
        c.inputs(*this);
        run(c.command);
        EXPECT_EQ(document(), c.expected) << c.what;
    }
}

// Every kind, every product key, the writer's escapes (quote, backslash,
// slash, tab, line feed, other control bytes; 0x7F and UTF-8 unchanged), the
// embedded JSON texts and one that does not parse.
void add_full_catalogue(Document& t)
{
    t.set_int(ParamType::MessageNumber, 3);
    t.set_text(ParamType::MessageString, "Fresh");
    t.run(CommandType::add_message_to_json);
    t.set_int(ParamType::MessageNumber, 7);
    t.set_text(ParamType::MessageString, "Say \"hi\"\\path/x\t\x01\x1f\x7f");
    t.run(CommandType::add_message_to_json);

    t.set_int(ParamType::GroupCode, 12);
    t.set_text(ParamType::CategoryName, "Молоко");
    t.set_int(ParamType::CategoryNumber, 5);
    t.run(CommandType::add_category_to_json);
    t.set_int(ParamType::GroupCode, 13);
    t.set_text(ParamType::CategoryName, "Bread\r\n");
    t.run(CommandType::add_category_to_json);

    t.set_int(ParamType::ItemCode, 1001);
    t.d.set_string_param(ParamType::Rate, t.d.input_params, L"1,5 ₽", false);
    t.set_raw(ParamType::StatisticStartDate, {1, 2, 24});
    t.set_raw(ParamType::UpdateDate, {31, 12, 24});
    t.run(CommandType::add_product_rate_to_json);

    t.set_int(ParamType::ItemCode, 1001);
    t.set_raw(ParamType::ManufacturedDate, {5, 12, 24});
    t.set_raw(ParamType::ShelfLifeDate, {30, 12, 24});
    t.set_raw(ParamType::ShelfLifeTime, {14, 30, 0});
    t.run(CommandType::add_lot_of_product_to_json);
    t.set_int(ParamType::ItemCode, 1002);
    t.run(CommandType::add_lot_of_product_to_json);

    t.set_int(ParamType::ItemCode, 1001);
    t.set_int(ParamType::PLUNumber, 17);
    t.set_int(ParamType::ButtonNumber, 4);
    t.set_text(ParamType::NameFirst, "Сыр");
    t.set_text(ParamType::NameSecond, "Gouda 1/2");
    t.set_text(ParamType::ROSTEST, "RU.123");
    t.set_text(ParamType::AdditionProductData, "extra");
    t.set_int(ParamType::Price, 12345);
    t.set_int(ParamType::DiscountPrice, 9990);
    t.set_int(ParamType::Tare, 150);
    t.set_int(ParamType::GoodsType, 1);
    t.set_int(ParamType::PieceWeight, 250);
    t.set_int(ParamType::GroupCode, 12);
    t.set_int(ParamType::MessageNumber, 3);
    t.set_text(ParamType::JsonProductMessages,
               R"([{"id": 1, "text": "a/b"}, {"id": 2.50e1, "ok": true, "none": null}])");
    t.set_text(ParamType::JsonProductLabelImages, "[]");
    t.set_int(ParamType::ShelfLife, 10);
    t.set_raw(ParamType::ShelfLifeDate, {30, 12, 24});
    t.set_raw(ParamType::ManufacturedDate, {5, 12, 24});
    t.set_int(ParamType::LabelFormat, 2);
    t.set_int(ParamType::LabelFormatForDiscount, 3);
    t.set_int(ParamType::BCFormat, 7);
    t.set_text(ParamType::PrefixBCType, "2");
    t.set_int(ParamType::StaticBarcodeType, 1);
    t.set_text(ParamType::StaticBarcodeValue, "4600000000000");
    t.set_int(ParamType::MinWeight, 100);
    t.set_int(ParamType::MaxWeight, 15000);
    t.set_int(ParamType::WrappingType, 0);
    t.set_text(ParamType::Gtin, "04600000000001");
    t.set_int(ParamType::LearningModeEnabled, 1);
    t.set_text(ParamType::ShelfLifeType, "DAYS");
    t.run(CommandType::add_product_to_json);

    t.set_int(ParamType::ItemCode, 1002);
    t.set_int(ParamType::Price, 0);
    t.set_int(ParamType::Tare, -5);
    t.set_int(ParamType::GoodsType, 2);
    t.set_text(ParamType::PieceWeight, "0.25");
    t.set_int(ParamType::BCFormat, 5);
    t.set_text(ParamType::JsonBarcodeStructures, "NNNNNNNQQQQQC");
    t.set_text(ParamType::JsonProductMessages, R"([{"a": "b}])");
    t.set_text(ParamType::JsonProductLabelImages, R"({"n": 5})");
    t.set_int(ParamType::LearningModeEnabled, 2);
    t.run(CommandType::add_product_to_json);
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
    set_text(ParamType::ProductDocument, "old");
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
    set_int(ParamType::ItemCode, 5);
    run(CommandType::add_product_to_json);
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
    int run(CommandType c) { return d.execute_command(static_cast<int>(c)); }
    std::unique_ptr<qv_sim::sim_scale> sim;
    std::shared_ptr<qv_sim::file_store> store;
};

TEST_F(DocumentUpload, TheCollectedCatalogueArrivesWhole)
{
    set_int(ParamType::MessageNumber, 3);
    set_text(ParamType::MessageString, "Fresh");
    ASSERT_EQ(run(CommandType::add_message_to_json), 0);
    set_int(ParamType::ItemCode, 1001);
    set_int(ParamType::Price, 12345);
    ASSERT_EQ(run(CommandType::add_product_to_json), 0);
    set_int(ParamType::FileType, 10);
    EXPECT_EQ(run(CommandType::send_file), 0);
    ASSERT_EQ(store->uploads().size(), 1u);
    EXPECT_TRUE(store->uploads()[0].md5_ok);
    EXPECT_EQ(store->file("FF 13"), bytes_of(example_document));
    EXPECT_TRUE(d.json_product_data.products.empty() && d.json_product_data.messages.empty());
    EXPECT_TRUE(d.input_params.empty());  // -1 went with the other inputs
}

TEST_F(DocumentUpload, AnEmptyCatalogueSendsTheEmptyDocument)
{
    set_int(ParamType::FileType, 10);
    EXPECT_EQ(run(CommandType::send_file), 0);
    EXPECT_EQ(store->file("FF 13"), bytes_of("{\n}\n"));
}

}  // namespace
#endif
