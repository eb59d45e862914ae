// The product document byte for byte under a decimal-comma locale; what is emptied; its upload.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "../files/files_test_util.h"
#include "products_test_util.h"

namespace {

using bytes = std::vector<std::byte>;
using products_test::inputs;
using products_test::laid_out;
using products_test::raw;
using C = CommandType;
using P = ParamType;

// The document as the builder leaves it in input -1.
std::string document(device& d)
{
    EXPECT_EQ(d.fill_byte_array_for_json(), 0);
    bytes out;
    EXPECT_EQ(d.get_bytes_array_param(P::ProductDocument, d.input_params, out, false), 0);
    return device_test::text_of(out);
}

// Every kind, every product key, the writer's escapes (0x7F and UTF-8 unchanged), embedded JSON, one broken.
void add_full_catalogue(device& d)
{
    // clang-format off
    const std::vector<std::pair<CommandType, inputs>> calls = {
        {C::add_message_to_json, {{P::MessageNumber, 7}, {P::MessageString, "Say \"hi\"\\path/x\t\x01\x1f\x7f"}}},
        {C::add_category_to_json, {{P::GroupCode, 12}, {P::CategoryName, "Молоко\r\n"}, {P::CategoryNumber, 5}}},
        {C::add_product_rate_to_json, {{P::ItemCode, 1001}, {P::Rate, L"1,5 ₽"}, {P::StatisticStartDate, raw({1, 2, 24})},
                                       {P::UpdateDate, raw({31, 12, 24})}}},
        {C::add_lot_of_product_to_json, {{P::ItemCode, 1001}, {P::ManufacturedDate, raw({5, 12, 24})},
                                         {P::ShelfLifeDate, raw({30, 12, 24})}, {P::ShelfLifeTime, raw({14, 30, 0})}}},
        {C::add_product_to_json,
         {{P::ItemCode, 1001}, {P::PLUNumber, 17}, {P::ButtonNumber, 4}, {P::NameFirst, "Сыр"},
          {P::NameSecond, "Gouda 1/2"}, {P::ROSTEST, "RU.123"}, {P::AdditionProductData, "extra"},
          {P::Price, 12345}, {P::DiscountPrice, 9990}, {P::Tare, 150}, {P::GoodsType, 1}, {P::PieceWeight, 250},
          {P::GroupCode, 12}, {P::MessageNumber, 3},
          {P::JsonProductMessages, R"([{"id": 1, "text": "a/b"}, {"id": 2.50e1, "ok": true, "none": null}])"},
          {P::JsonProductLabelImages, "[]"}, {P::ShelfLife, 10}, {P::ShelfLifeDate, raw({30, 12, 24})},
          {P::ManufacturedDate, raw({5, 12, 24})}, {P::LabelFormat, 2}, {P::LabelFormatForDiscount, 3},
          {P::BCFormat, 7}, {P::PrefixBCType, "2"}, {P::StaticBarcodeType, 1},
          {P::StaticBarcodeValue, "4600000000000"}, {P::MinWeight, 100}, {P::MaxWeight, 15000},
          {P::WrappingType, 0}, {P::Gtin, "04600000000001"}, {P::LearningModeEnabled, 1}, {P::ShelfLifeType, "DAYS"}}},
        {C::add_product_to_json,
         {{P::ItemCode, 1002}, {P::Price, 0}, {P::Tare, -5}, {P::GoodsType, 2}, {P::PieceWeight, "0.25"},
          {P::BCFormat, 5}, {P::JsonBarcodeStructures, "NNNNNNNQQQQQC"}, {P::JsonProductMessages, R"([{"a": "b}])"},
          {P::JsonProductLabelImages, R"({"n": 5})"}, {P::LearningModeEnabled, 2}}},
    };
    // clang-format on
    for (const auto& [command, given] : calls) ASSERT_EQ(products_test::run(d, command, given), 0);
}

const std::string full_document = laid_out(
    R"({"messages": [{"id": "7", "value": "Say \"hi\"\\path\/x\t\u0001\u001F)"
    "\x7f"
    R"(", "deleted": "false"}], )"
    R"("categories": [{"idCategory": "12", "name": "Молоко\r\n", "number": "5"}], )"
    R"("productRates": [{"productCode": "1001", "rate": "1,5 ₽", "startDate": "01-02-24", )"
    R"("updateDate": "31-12-24"}], "lotsOfProduct": [{"id": "1", "productCode": "1001", )"
    R"("manufactureDate": "05-12-24", "shelfLifeDateTime": "30-12-24 14-30-00"}], "products": [{"id": "1", )"
    R"("code": "1001", "name": "Сыр\nGouda 1\/2", "price": "123.450000", "shelfLife": "10", "tare": "0.150000", )"
    R"("productType": "PIECE", "deleted": "false", "pluNumber": "17", "buttonNumber": "4", "labelTemplate": "2", )"
    R"("barcodeStructure": "PPNNNNNQQQQQC", "pieceWeight": "0.250000", "manufactureDate": "05-12-24", "type": "1", )"
    R"("barcodePrefixType": "2", "rostestCode": "RU.123", "sellByDate": "30-12-24", "category": "12", )"
    R"("message": "3", "minWeight": "0.100000", "maxWeight": "15.000000", "staticBarcodeType": "1", )"
    R"("staticBarcodeValue": "4600000000000", "discountPrice": "99.900000", "labelDiscountTemplate": "3", )"
    R"("wrappingType": "0", "gtin": "04600000000001", "learningModeEnabled": "true", "shelfLifeType": "DAYS", )"
    R"("additionProductData": "extra", "productMessages": [{"id": "1", "text": "a\/b"}, {"id": "2.50e1", )"
    R"("ok": "true", "none": "null"}], "labelImages": ""}, {"id": "2", "code": "1002", "name": "", )"
    R"("price": "0.000000", "shelfLife": "0", "tare": "-0.005000", "productType": "WEIGHT", "deleted": "false", )"
    R"("barcodeStructure": "NNNNNNNQQQQQC", "pieceWeight": "0.25", "type": "2", "labelImages": {"n": "5"}}]})");

using Document = send_test::device_test_base;

// Built under a decimal-comma locale: the same bytes as in the C locale of the upload below.
TEST_F(Document, FullCatalogueReplacesInputMinusOneIsPrintedAndEmptiesTheCatalogue)
{
    struct c_locale_after {  // however the test ends
        device& d;
        ~c_locale_after() { d.change_locale(L"C"); }
    } restore{d};
    ASSERT_EQ(d.change_locale(L"de_DE.UTF-8"), 0)
        << "the de_DE.UTF-8 locale is missing: scripts/install-deps.sh makes it (localedef)";
    char probe[32];
    std::snprintf(probe, sizeof probe, "%f", 1.5);
    ASSERT_STREQ(probe, "1,500000") << "the locale does not use a decimal comma, so it proves nothing";
    EXPECT_EQ(document(d), "{\n}\n");
    add_full_catalogue(d);
    products_test::set_inputs(d, {{P::ProductDocument, "old"}});
    device_test::log_capture log;
    testing::internal::CaptureStdout();
    const std::string text = document(d);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text, full_document);
    // The test log's console sink writes to standard output as well.
    EXPECT_NE(printed.find("json data: \n" + text + "\n"), std::string::npos);
    const auto lines = log.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("jsonMessageList parse error: ", 0) == 0; }));
    EXPECT_EQ(lines.back(), "clear_json_product_data");
    EXPECT_EQ(document(d), "{\n}\n");  // the first call emptied the catalogue
}

// Nesting without end is left out like a text that does not parse; 64 levels go in; brackets in strings
// do not count.
TEST_F(Document, DeeplyNestedHostJsonIsLeftOutWithoutACrash)
{
    const auto closed = [](std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); };
    const inputs products[] = {
        {{P::ItemCode, 1}, {P::JsonProductMessages, closed(200000)}, {P::JsonProductLabelImages, std::string(200000, '[')}},
        {{P::ItemCode, 2}, {P::JsonProductMessages, closed(64)}, {P::JsonProductLabelImages, closed(65)}},
        {{P::ItemCode, 3}, {P::JsonProductMessages, "[\"" + std::string(100, '[') + "\"]"}},
    };
    for (const inputs& given : products) ASSERT_EQ(products_test::run(d, C::add_product_to_json, given), 0);
    testing::internal::CaptureStdout();
    const std::string text = document(d);
    testing::internal::GetCapturedStdout();
    const auto count = [&text](const std::string& what) {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("\"productMessages\""), 2u);  // products 2 and 3
    EXPECT_EQ(count("\"labelImages\""), 0u);
    EXPECT_NE(text.find("\"" + std::string(100, '[') + "\""), std::string::npos);
}

// The document uploaded as the JSON items file (command 48, FileType 10).
using DocumentUpload = files_test::files_fixture;

TEST_F(DocumentUpload, TheCollectedCatalogueArrivesWhole)
{
    qv_sim::sim_scale sim("127.0.0.90");
    const auto store = qv_sim::add_file_replies(sim);
    send_test::add_scale(d, sim, 1);
    add_full_catalogue(d);
    EXPECT_EQ(products_test::run(d, C::send_file, {{P::FileType, 10}}), 0);
    EXPECT_TRUE(store->uploads().at(0).md5_ok);
    EXPECT_EQ(store->file("FF 13"), device_test::bytes_of(full_document));
    EXPECT_TRUE(d.json_product_data.products.empty());
    EXPECT_TRUE(d.input_params.empty());  // -1 went with the other inputs
}

}  // namespace
