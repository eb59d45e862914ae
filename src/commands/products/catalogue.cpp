// The pending catalogue: the five commands that turn the current input
// parameters into one record each (messages, categories, products, lots,
// product rates) and the emptying that follows the product document. None of
// them talks to a scale.

#include <time.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <utility>

#include "codecs/device_utils.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

using bytes = std::vector<std::byte>;

// What "%f" prints for value / divisor in the C locale, with integers only:
// the text never depends on a process locale (a decimal comma included) and
// is exact for every 32-bit value and the divisors used here (10^2, 10^3).
std::string six_decimals(long long value, long long divisor)
{
    const unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    const auto d = static_cast<unsigned long long>(divisor);
    std::string fraction = std::to_string((magnitude % d) * (1000000ULL / d));
    fraction.insert(0, 6 - fraction.size(), '0');
    return (value < 0 ? "-" : "") + std::to_string(magnitude / d) + "." + fraction;
}

// A price or weight text: empty gives `fallback`, a number is scaled by
// `divisor`; a text that is no number is logged and gives `fallback`.
std::string scaled_text(const std::string& text, const char* name, const char* fallback, long long divisor)
{
    if (text.empty()) return fallback;
    try {
        return six_decimals(std::stol(text), divisor);
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    Logger::e(std::string("'") + name + "' error: stoi");
    return fallback;
}

// The three readings of optional inputs: each gives "" when the parameter is
// absent or of another kind (the lookup logs why).
std::string int_text(device& d, ParamType p)
{
    int value = 0;
    return d.get_int_param(p, d.input_params, value) == rc(ErrorType::Success) ? std::to_string(value) : std::string();
}

std::string byte_text(device& d, ParamType p)
{
    bytes value;
    return d.get_bytes_array_param(p, d.input_params, value) == rc(ErrorType::Success)
               ? device_utils::parse_string_from_byte_array(value)
               : std::string();
}

std::string date_text(device& d, ParamType p)
{
    bytes value;
    return d.get_bytes_array_param(p, d.input_params, value) == rc(ErrorType::Success)
               ? device_utils::parse_date_string_from_byte_array(value)
               : std::string();
}

// A date of the rate: the given three bytes as a date; no bytes at all
// (absent, another kind, empty) is today.
std::string date_or_today(device& d, ParamType p, const std::string& today)
{
    bytes value;
    d.get_bytes_array_param(p, d.input_params, value);  // a failed read leaves it empty
    return value.empty() ? today : device_utils::parse_date_string_from_byte_array(value);
}

// The piece weight keeps the kind the host gave it; only an int is scaled.
std::string piece_weight_text(device& d)
{
    if (!d.checkParamInMap(ParamType::PieceWeight, d.input_params, DataType::Int, false)) return {};
    switch (d.checkParamDataType(ParamType::PieceWeight, d.input_params)) {
        case DataType::String: {
            std::wstring value;
            return d.get_string_param(ParamType::PieceWeight, d.input_params, value) == rc(ErrorType::Success)
                       ? device_utils::str(value)
                       : std::string();
        }
        case DataType::ByteArray:
            return byte_text(d, ParamType::PieceWeight);
        case DataType::Int: {
            int value = 0;
            return d.get_int_param(ParamType::PieceWeight, d.input_params, value) == rc(ErrorType::Success)
                       ? six_decimals(value, 1000)
                       : std::string();
        }
    }
    return {};
}

// The template of BCFormat, or "" when it is not given or not in the table.
std::string barcode_template(device& d)
{
    int format = 0;
    if (d.get_int_param(ParamType::BCFormat, d.input_params, format) != rc(ErrorType::Success)) return {};
    const auto found = d.barcode_structures.find(format);
    return found == d.barcode_structures.end() ? std::string() : found->second;
}

std::string today_text()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = {};
    if (localtime_r(&now, &local) == nullptr || std::strftime(text, sizeof text, "%d-%m-%Y", &local) == 0) return {};
    return text;
}

std::array<std::string, Product::text_count> texts_of(Product&& raw)
{
    std::array<std::string, Product::text_count> texts;
    const auto& members = Product::text_members();
    for (std::size_t k = 0; k < members.size(); ++k) texts[k] = std::move(raw.*members[k]);
    return texts;
}

int running_number(std::size_t pending)
{
    return static_cast<int>(pending) + 1;
}

}  // namespace

const std::array<std::string Product::*, Product::text_count>& Product::text_members()
{
    static const std::array<std::string Product::*, text_count> members{
        &Product::pluNumber,
        &Product::name,
        &Product::price,
        &Product::discountPrice,
        &Product::labelTemplate,
        &Product::labelDiscountTemplate,
        &Product::barcodeStructure,
        &Product::shelfLife,
        &Product::tare,
        &Product::pieceWeight,
        &Product::manufactureDate,
        &Product::information,
        &Product::type,
        &Product::barcodePrefixType,
        &Product::rostestCode,
        &Product::sellByDate,
        &Product::productType,
        &Product::category,
        &Product::message,
        &Product::productMessages,
        &Product::imageNumbers,
        &Product::minWeight,
        &Product::maxWeight,
        &Product::wrappingType,
        &Product::staticBarcodeType,
        &Product::staticBarcodeValue,
        &Product::gtin,
        &Product::buttonNumber,
        &Product::learningModeEnabled,
        &Product::shelfLifeType,
        &Product::additionProductData,
        &Product::labelImages,
    };
    return members;
}

Product::Product(int running_id, int item_code, std::array<std::string, text_count> texts, bool is_deleted)
    : id(running_id), code(item_code), deleted(is_deleted)
{
    const auto& members = text_members();
    for (std::size_t k = 0; k < members.size(); ++k) this->*members[k] = std::move(texts[k]);
    price = scaled_text(price, "price", "0.0", 100);
    discountPrice = scaled_text(discountPrice, "discountPrice", "", 100);
    tare = scaled_text(tare, "tare", "0.0", 1000);
    minWeight = scaled_text(minWeight, "minWeight", "", 1000);
    maxWeight = scaled_text(maxWeight, "maxWeight", "", 1000);
    if (shelfLife.empty()) shelfLife = "0";
    productType = productType == "1" ? "PIECE" : "WEIGHT";
    learningModeEnabled = learningModeEnabled == "0" ? "false" : learningModeEnabled == "1" ? "true" : "";
}

int device::add_message_to_json()  // 52
{
    const command_log log("add_message_to_json");
    int number = 0;
    int r = get_int_param(ParamType::MessageNumber, input_params, number);
    if (r != rc(ErrorType::Success)) return r;
    bytes text;
    r = get_bytes_array_param(ParamType::MessageString, input_params, text);
    if (r != rc(ErrorType::Success)) return r;
    json_product_data.messages.push_back(Message{number, device_utils::parse_string_from_byte_array(text), false});
    return rc(ErrorType::Success);
}

int device::add_category_to_json()  // 53
{
    const command_log log("add_category_to_json");
    int id = 0;
    int r = get_int_param(ParamType::GroupCode, input_params, id);
    if (r != rc(ErrorType::Success)) return r;
    bytes name;
    r = get_bytes_array_param(ParamType::CategoryName, input_params, name);
    if (r != rc(ErrorType::Success)) return r;
    std::string number = int_text(*this, ParamType::CategoryNumber);
    json_product_data.categories.push_back(
        Category{id, device_utils::parse_string_from_byte_array(name), std::move(number)});
    return rc(ErrorType::Success);
}

int device::add_product_to_json()  // 54
{
    const command_log log("add_product_to_json");
    const int id = running_number(json_product_data.products.size());
    int code = 0;
    const int r = get_int_param(ParamType::ItemCode, input_params, code);
    if (r != rc(ErrorType::Success)) return r;

    // Read in this order: it is the order of the lookups' log lines.
    Product raw;
    raw.pluNumber = int_text(*this, ParamType::PLUNumber);
    raw.buttonNumber = int_text(*this, ParamType::ButtonNumber);
    const std::string first = byte_text(*this, ParamType::NameFirst);
    const std::string second = byte_text(*this, ParamType::NameSecond);
    raw.name = second.empty() ? first : first + '\n' + second;
    raw.rostestCode = byte_text(*this, ParamType::ROSTEST);
    raw.additionProductData = byte_text(*this, ParamType::AdditionProductData);
    raw.price = int_text(*this, ParamType::Price);
    raw.discountPrice = int_text(*this, ParamType::DiscountPrice);
    raw.tare = int_text(*this, ParamType::Tare);
    raw.type = int_text(*this, ParamType::GoodsType);
    raw.productType = raw.type;
    raw.pieceWeight = piece_weight_text(*this);
    raw.category = int_text(*this, ParamType::GroupCode);
    raw.message = int_text(*this, ParamType::MessageNumber);
    raw.productMessages = byte_text(*this, ParamType::JsonProductMessages);
    raw.labelImages = byte_text(*this, ParamType::JsonProductLabelImages);
    raw.shelfLife = int_text(*this, ParamType::ShelfLife);
    raw.sellByDate = date_text(*this, ParamType::ShelfLifeDate);
    raw.manufactureDate = date_text(*this, ParamType::ManufacturedDate);
    raw.labelTemplate = int_text(*this, ParamType::LabelFormat);
    raw.labelDiscountTemplate = int_text(*this, ParamType::LabelFormatForDiscount);
    raw.barcodeStructure = barcode_template(*this);
    std::string structure = byte_text(*this, ParamType::JsonBarcodeStructures);
    if (!structure.empty()) raw.barcodeStructure = std::move(structure);  // wins over BCFormat
    // Read as bytes here, unlike the barcode prefix commands: an int under
    // this number leaves the member empty.
    raw.barcodePrefixType = byte_text(*this, ParamType::PrefixBCType);
    raw.staticBarcodeType = int_text(*this, ParamType::StaticBarcodeType);
    raw.staticBarcodeValue = byte_text(*this, ParamType::StaticBarcodeValue);
    raw.minWeight = int_text(*this, ParamType::MinWeight);
    raw.maxWeight = int_text(*this, ParamType::MaxWeight);
    raw.wrappingType = int_text(*this, ParamType::WrappingType);
    raw.gtin = byte_text(*this, ParamType::Gtin);
    raw.learningModeEnabled = int_text(*this, ParamType::LearningModeEnabled);
    raw.shelfLifeType = byte_text(*this, ParamType::ShelfLifeType);

    json_product_data.products.push_back(Product(id, code, texts_of(std::move(raw)), false));
    return rc(ErrorType::Success);
}

int device::add_lot_of_product_to_json()  // 83
{
    const command_log log("add_lot_of_product_to_json");
    const int id = running_number(json_product_data.lots_of_product.size());
    int code = 0;
    const int r = get_int_param(ParamType::ItemCode, input_params, code);
    if (r != rc(ErrorType::Success)) return r;
    std::string manufactured = date_text(*this, ParamType::ManufacturedDate);
    std::string shelf_life = date_text(*this, ParamType::ShelfLifeDate);
    const std::string time = date_text(*this, ParamType::ShelfLifeTime);  // three groups joined by "-" as well
    if (!shelf_life.empty() && !time.empty()) shelf_life += " " + time;
    json_product_data.lots_of_product.push_back(LotOfProduct{id, code, std::move(manufactured), std::move(shelf_life)});
    return rc(ErrorType::Success);
}

int device::add_product_rate_to_json()  // 129
{
    const command_log log("add_product_rate_to_json");
    const std::string today = today_text();  // four-digit year, unlike the dates given as bytes
    Logger::i("current_time " + today);
    int code = 0;
    int r = get_int_param(ParamType::ItemCode, input_params, code);
    if (r != rc(ErrorType::Success)) return r;
    std::wstring rate;
    r = get_string_param(ParamType::Rate, input_params, rate);
    if (r != rc(ErrorType::Success)) return r;
    // 325 has no name of its own in the parameter table: the rate's start date.
    std::string start = date_or_today(*this, ParamType::StatisticStartDate, today);
    std::string update = date_or_today(*this, ParamType::UpdateDate, today);
    json_product_data.product_rates.push_back(
        ProductRate{code, device_utils::str(rate), std::move(start), std::move(update)});
    return rc(ErrorType::Success);
}

int device::clear_json_product_data()
{
    Logger::i("clear_json_product_data");
    json_product_data.categories.clear();
    json_product_data.messages.clear();
    json_product_data.products.clear();
    json_product_data.lots_of_product.clear();
    json_product_data.product_rates.clear();
    return rc(ErrorType::Success);
}

namespace {

const command_registration products_catalogue{
    {CommandType::add_message_to_json, &device::add_message_to_json},
    {CommandType::add_category_to_json, &device::add_category_to_json},
    {CommandType::add_product_to_json, &device::add_product_to_json},
    {CommandType::add_lot_of_product_to_json, &device::add_lot_of_product_to_json},
    {CommandType::add_product_rate_to_json, &device::add_product_rate_to_json},
};

}  // namespace
