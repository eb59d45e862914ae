// The product document: the pending catalogue written as one JSON text into
// input parameter -1, which the upload of the JSON items file sends.
//
// Every leaf is put into the tree as a ready-made text and the tree is written
// by the property tree's JSON writer, whose layout and escapes the scales read:
// no value passes through a stream's number formatting, so the document is the
// same under every process locale.

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "codecs/device_utils.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

using boost::property_tree::ptree;

void put_text(ptree& object, const std::string& key, const std::string& value)
{
    object.push_back({key, ptree(value)});
}

void put_if_given(ptree& object, const std::string& key, const std::string& value)
{
    if (!value.empty()) put_text(object, key, value);
}

const char* bool_text(bool value)
{
    return value ? "true" : "false";
}

// The product keys written only when their text is not empty, in document
// order (not the member order of Product).
struct optional_key {
    const char* key;
    std::string Product::*member;
};
const optional_key product_optional_keys[] = {
    {"pluNumber", &Product::pluNumber},
    {"buttonNumber", &Product::buttonNumber},
    {"labelTemplate", &Product::labelTemplate},
    {"barcodeStructure", &Product::barcodeStructure},
    {"pieceWeight", &Product::pieceWeight},
    {"manufactureDate", &Product::manufactureDate},
    {"information", &Product::information},
    {"type", &Product::type},
    {"barcodePrefixType", &Product::barcodePrefixType},
    {"rostestCode", &Product::rostestCode},
    {"sellByDate", &Product::sellByDate},
    {"category", &Product::category},
    {"message", &Product::message},
    {"imageNumbers", &Product::imageNumbers},
    {"minWeight", &Product::minWeight},
    {"maxWeight", &Product::maxWeight},
    {"staticBarcodeType", &Product::staticBarcodeType},
    {"staticBarcodeValue", &Product::staticBarcodeValue},
    {"discountPrice", &Product::discountPrice},
    {"labelDiscountTemplate", &Product::labelDiscountTemplate},
    {"wrappingType", &Product::wrappingType},
    {"gtin", &Product::gtin},
    {"learningModeEnabled", &Product::learningModeEnabled},
    {"shelfLifeType", &Product::shelfLifeType},
    {"additionProductData", &Product::additionProductData},
};

// The reader, the tree's copy and destruction and the writer all recurse
// once per level of arrays and objects, so a host's text nested without end
// would use up the calling thread's stack. 64 levels is far beyond any
// message or image list and a few kilobytes of stack even on a small thread.
constexpr std::size_t max_json_depth = 64;

// True when no array or object of `text` lies deeper than max_json_depth;
// brackets inside strings do not count. Read before the parser sees the text.
bool nests_within_limit(const std::string& text)
{
    std::size_t depth = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > max_json_depth) return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

// The host's JSON text attached as a tree, so the document carries its
// structure; a text that does not parse, or nests deeper than the limit, is
// logged and left out. The document adds three levels above it (root,
// products array, product), so the writer never goes deeper than that.
// Its lines are written by hand: they name the text, not the command, and
// carry the reason.
void put_parsed(ptree& object, const std::string& key, const std::string& text, const std::string& error_head)
{
    if (text.empty()) return;
    if (!nests_within_limit(text)) {
        Logger::e(error_head + "nested deeper than " + std::to_string(max_json_depth) + " levels");
        return;
    }
    try {
        std::istringstream in(text);
        ptree parsed;
        boost::property_tree::read_json(in, parsed);
        object.push_back({key, parsed});
    } catch (const std::exception& e) {
        Logger::e(error_head + e.what());
    }
}

ptree product_object(const Product& p)
{
    ptree object;
    put_text(object, "id", std::to_string(p.id));
    put_text(object, "code", std::to_string(p.code));
    put_text(object, "name", p.name);
    put_text(object, "price", p.price);
    put_text(object, "shelfLife", p.shelfLife);
    put_text(object, "tare", p.tare);
    put_text(object, "productType", p.productType);
    put_text(object, "deleted", bool_text(p.deleted));
    for (const auto& k : product_optional_keys) put_if_given(object, k.key, p.*k.member);
    put_parsed(object, "productMessages", p.productMessages, "jsonMessageList parse error: ");
    put_parsed(object, "labelImages", p.labelImages, "labelImages parse error: ");
    return object;
}

// An array of one object per record, attached only when there are records:
// an empty array would be written as "".
template <class Record, class Build>
void put_array(ptree& root, const std::string& key, const std::vector<Record>& records, Build build)
{
    if (records.empty()) return;
    ptree array;
    for (const Record& record : records) array.push_back({"", build(record)});
    root.push_back({key, array});
}

}  // namespace

int device::fill_byte_array_for_json()
{
    const command_log log("fill_byte_array_for_json");
    const jsonProductData& data = json_product_data;
    ptree root;
    put_array(root, "messages", data.messages, [](const Message& m) {
        ptree o;
        put_text(o, "id", std::to_string(m.number));
        put_text(o, "value", m.text);
        put_text(o, "deleted", bool_text(m.deleted));
        return o;
    });
    put_array(root, "categories", data.categories, [](const Category& c) {
        ptree o;
        put_text(o, "idCategory", std::to_string(c.id));
        put_text(o, "name", c.name);
        put_if_given(o, "number", c.number);
        return o;
    });
    put_array(root, "productRates", data.product_rates, [](const ProductRate& r) {
        ptree o;
        put_text(o, "productCode", std::to_string(r.productCode));
        put_text(o, "rate", r.rate);
        put_text(o, "startDate", r.startDate);
        put_text(o, "updateDate", r.updateDate);
        return o;
    });
    put_array(root, "lotsOfProduct", data.lots_of_product, [](const LotOfProduct& l) {
        ptree o;
        put_text(o, "id", std::to_string(l.id));
        put_text(o, "productCode", std::to_string(l.productCode));
        put_text(o, "manufactureDate", l.manufactureDate);
        put_if_given(o, "shelfLifeDateTime", l.shelfLifeDateTime);
        return o;
    });
    put_array(root, "products", data.products, product_object);

    std::ostringstream out;
    boost::property_tree::write_json(out, root, true);
    const std::string document = out.str();
    std::cout << "json data: \n" << document << '\n' << std::flush;

    // Only now, with the whole document built, is the catalogue given up: a
    // failure above leaves both -1 and the catalogue as they were. A document
    // that could not be stored keeps the catalogue too.
    if (set_bytes_array_param(ParamType::ProductDocument, input_params,
                              device_utils::parse_byte_array_from_string(document)) == rc(ErrorType::Success))
        clear_json_product_data();
    return rc(ErrorType::Success);
}
