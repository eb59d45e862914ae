#pragma once
// The two documents that the host assembles item by item before they are
// sent: the product document and the label document. The element types are
// filled in by the catalogue and label commands; the device only builds the
// lists empty and destroys them with itself.

#include <vector>

struct Category {};
struct Message {};
struct Product {};
struct LotOfProduct {};
struct ProductRate {};

struct TextItem {};
struct ImageItem {};
struct BarcodeItem {};
struct GraphicItem {};

struct jsonProductData {
    std::vector<Category> categories;
    std::vector<Message> messages;
    std::vector<Product> products;
    std::vector<LotOfProduct> lots_of_product;
    std::vector<ProductRate> product_rates;
};

struct jsonLabelData {
    int labelFormatType = 0;
    int width = 58;
    int height = 30;
    std::vector<TextItem> text_items;
    std::vector<ImageItem> image_items;
    std::vector<BarcodeItem> barcode_items;
    std::vector<GraphicItem> graphic_items;
};
