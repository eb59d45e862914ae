#pragma once
// The two documents that the host assembles item by item before they are
// sent: the product document and the label document. The element types are
// filled in by the catalogue and label commands; the device only builds the
// lists empty and destroys them with itself.

#include <string>
#include <vector>

struct Category {};
struct Message {};
struct Product {};
struct LotOfProduct {};
struct ProductRate {};

// Label items, in the order the host adds them. Texts are UTF-8.
struct TextItem {
    std::string type;
    int x = 0;
    int y = 0;
    int font = 0;
    int align = 0;
    int orientation = 0;
    std::string width;  // decimal text of the given value; empty: not given
    std::string height;  // likewise
};

struct ImageItem {
    int imageNumber = 0;
    int x = 0;
    int y = 0;
    int orientation = 0;
};

struct BarcodeItem {
    std::string type;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool lineVerification = false;
    int orientation = 0;
    int number = 0;
};

struct GraphicItem {
    int x = 0;
    int y = 0;
    int xEnd = 0;
    int yEnd = 0;
};

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
    std::vector<TextItem> textItems;
    std::vector<ImageItem> imageItems;
    std::vector<BarcodeItem> barcodeItems;
    std::vector<GraphicItem> graphicItems;
};
