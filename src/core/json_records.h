#pragma once
// The two documents that the host assembles item by item before they are
// sent: the product document and the label document. The element types are
// filled in by the catalogue and label commands; the device only builds the
// lists empty and destroys them with itself.

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// ---- The catalogue. Every text is narrow (UTF-8, or whatever bytes the host
// gave) and already in the form the product document carries, so the
// document only copies texts.

struct Category {
    int id = 0;  // GroupCode
    std::string name;
    std::string number;  // decimal text of CategoryNumber, or empty
};

struct Message {
    int number = 0;
    std::string text;
    bool deleted = false;
};

struct Product {
    static constexpr std::size_t text_count = 32;

    int id = 0;  // running number within the pending catalogue, from 1
    int code = 0;  // ItemCode
    std::string pluNumber;
    std::string name;
    std::string price;
    std::string discountPrice;
    std::string labelTemplate;
    std::string labelDiscountTemplate;
    std::string barcodeStructure;
    std::string shelfLife;
    std::string tare;
    std::string pieceWeight;
    std::string manufactureDate;
    std::string information;
    std::string type;
    std::string barcodePrefixType;
    std::string rostestCode;
    std::string sellByDate;
    std::string productType;
    std::string category;
    std::string message;
    std::string productMessages;
    std::string imageNumbers;
    std::string minWeight;
    std::string maxWeight;
    std::string wrappingType;
    std::string staticBarcodeType;
    std::string staticBarcodeValue;
    std::string gtin;
    std::string buttonNumber;
    std::string learningModeEnabled;
    std::string shelfLifeType;
    std::string additionProductData;
    std::string labelImages;
    bool deleted = false;

    Product() = default;
    // Takes the texts as read, in member order, and turns them into their
    // document form: prices and weights scaled to six decimals (or their
    // defaults), shelfLife "0" for none, productType and learningModeEnabled
    // from their codes.
    Product(int id, int code, std::array<std::string, text_count> texts, bool deleted);

    // The text members in member order.
    static const std::array<std::string Product::*, text_count>& text_members();
};

struct LotOfProduct {
    int id = 0;  // running number within the pending catalogue, from 1
    int productCode = 0;
    std::string manufactureDate;
    std::string shelfLifeDateTime;
};

struct ProductRate {
    int productCode = 0;
    std::string rate;
    std::string startDate;
    std::string updateDate;
};

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
