// The JSON label document: items gathered one command at a time into the
// pending label (59 to 62), the document built from them and sent (63), and
// a label format's description read back from a scale (64).

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "codecs/byte_writer.h"
#include "codecs/device_utils.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

using boost::property_tree::ptree;

// Integers go in as std::to_string text: the same bytes under any locale.
void put(ptree& node, const std::string& key, const std::string& value)
{
    node.push_back({key, ptree(value)});
}

void put(ptree& node, const std::string& key, int value)
{
    put(node, key, std::to_string(value));
}

// An array member: its elements are children with empty keys.
template <class Item, class Fill>
void put_array(ptree& root, const std::string& key, const std::vector<Item>& items, Fill fill)
{
    if (items.empty()) return;
    ptree array;
    for (const Item& item : items) {
        ptree element;
        fill(element, item);
        array.push_back({"", element});
    }
    root.push_back({key, array});
}

// The document text, pretty-printed with its final line break. The arrays
// go text, image, graphic, barcode, whatever the order of the lists.
std::string label_document(const jsonLabelData& label)
{
    ptree root;
    put(root, "labelFormatType", label.labelFormatType);
    put(root, "width", label.width);
    put(root, "height", label.height);
    put_array(root, "textItems", label.textItems, [](ptree& e, const TextItem& t) {
        put(e, "type", t.type);
        put(e, "x", t.x);
        put(e, "y", t.y);
        put(e, "font", t.font);
        put(e, "align", t.align);
        put(e, "orientation", t.orientation);
        if (!t.width.empty()) put(e, "width", t.width);
        if (!t.height.empty()) put(e, "height", t.height);
    });
    put_array(root, "imageItems", label.imageItems, [](ptree& e, const ImageItem& i) {
        put(e, "imageNumber", i.imageNumber);
        put(e, "x", i.x);
        put(e, "y", i.y);
        put(e, "orientation", i.orientation);
    });
    put_array(root, "graphicItems", label.graphicItems, [](ptree& e, const GraphicItem& g) {
        put(e, "x", g.x);
        put(e, "y", g.y);
        put(e, "xEnd", g.xEnd);
        put(e, "yEnd", g.yEnd);
    });
    put_array(root, "barcodeItems", label.barcodeItems, [](ptree& e, const BarcodeItem& b) {
        put(e, "type", b.type);
        put(e, "x", b.x);
        put(e, "y", b.y);
        put(e, "width", b.width);
        put(e, "height", b.height);
        put(e, "lineVerification", std::string(b.lineVerification ? "true" : "false"));
        put(e, "orientation", b.orientation);
        put(e, "number", b.number);
    });
    std::ostringstream out;
    out.imbue(std::locale::classic());
    boost::property_tree::write_json(out, root, true);
    return out.str();
}

// The item's type text and its required numbers, in order; the first that
// cannot be read gives its code.
int read_required_item_values(device& d, std::string& type, std::initializer_list<std::pair<ParamType, int*>> numbers)
{
    std::wstring text;
    int r = d.get_string_param(ParamType::LabelItemType, d.input_params, text);
    if (r != rc(ErrorType::Success)) return r;
    type = device_utils::str(text);
    for (const auto& [param, member] : numbers) {
        r = d.get_int_param(param, d.input_params, *member);
        if (r != rc(ErrorType::Success)) return r;
    }
    return rc(ErrorType::Success);
}

}  // namespace

int device::add_json_label_text_item()  // 59
{
    const command_log log("add_json_label_text_item");
    TextItem item;
    const int r = read_required_item_values(*this, item.type,
                                            {{ParamType::XCoordinate, &item.x},
                                             {ParamType::YCoordinate, &item.y},
                                             {ParamType::Font, &item.font},
                                             {ParamType::Align, &item.align}});
    if (r != rc(ErrorType::Success)) return r;
    // Optional values that cannot be read keep their defaults.
    get_int_param(ParamType::Rotate, input_params, item.orientation);
    int size = 0;
    if (get_int_param(ParamType::Width, input_params, size) == rc(ErrorType::Success))
        item.width = std::to_string(size);
    if (get_int_param(ParamType::Height, input_params, size) == rc(ErrorType::Success))
        item.height = std::to_string(size);
    json_label_data.textItems.push_back(std::move(item));
    return rc(ErrorType::Success);
}

int device::add_json_label_barcode_item()  // 60
{
    const command_log log("add_json_label_barcode_item");
    BarcodeItem item;
    item.number = static_cast<int>(json_label_data.barcodeItems.size()) + 1;
    int r = read_required_item_values(*this, item.type,
                                      {{ParamType::XCoordinate, &item.x},
                                       {ParamType::YCoordinate, &item.y},
                                       {ParamType::Width, &item.width},
                                       {ParamType::Height, &item.height}});
    if (r != rc(ErrorType::Success)) return r;
    get_int_param(ParamType::Rotate, input_params, item.orientation);
    get_int_param(ParamType::Number, input_params, item.number);
    int test_line = -1;
    get_int_param(ParamType::BCTestLine, input_params, test_line);
    item.lineVerification = test_line == 1;
    json_label_data.barcodeItems.push_back(std::move(item));
    return rc(ErrorType::Success);
}

int device::add_json_label_image_item()  // 61
{
    const command_log log("add_json_label_image_item");
    ImageItem item;
    for (auto [param, member] : {std::pair{ParamType::PictureNumber, &item.imageNumber},
                                 {ParamType::XCoordinate, &item.x},
                                 {ParamType::YCoordinate, &item.y}}) {
        const int r = get_int_param(param, input_params, *member);
        if (r != rc(ErrorType::Success)) return r;
    }
    get_int_param(ParamType::Rotate, input_params, item.orientation);
    json_label_data.imageItems.push_back(item);
    return rc(ErrorType::Success);
}

int device::add_json_label_graphic_item()  // 62
{
    const command_log log("add_json_label_graphic_item");
    GraphicItem item;
    for (auto [param, member] : {std::pair{ParamType::XCoordinate, &item.x},
                                 {ParamType::YCoordinate, &item.y},
                                 {ParamType::X2Coordinate, &item.xEnd},
                                 {ParamType::Y2Coordinate, &item.yEnd}}) {
        const int r = get_int_param(param, input_params, *member);
        if (r != rc(ErrorType::Success)) return r;
    }
    json_label_data.graphicItems.push_back(item);
    return rc(ErrorType::Success);
}

int device::send_json_label_data()  // 63
{
    const command_log log("send_json_label_data", error_line::name_error);
    // Format and size go straight into the pending label as they are read; a
    // read that fails keeps its member and skips the ones after it, so what
    // was given before the failure stays for the next call.
    jsonLabelData& label = json_label_data;
    int read = get_int_param(ParamType::LabelFormat, input_params, label.labelFormatType);
    if (read == rc(ErrorType::Success)) read = get_int_param(ParamType::LabelWidth, input_params, label.width);
    if (read == rc(ErrorType::Success)) read = get_int_param(ParamType::LabelLength, input_params, label.height);
    // The size held now counts, whether or not this call's reads succeeded.
    if (label.width <= 0)
        return refused_parameter(ParamType::LabelWidth, DataType::Int, std::to_string(label.width), "1 or more");
    if (label.height <= 0)
        return refused_parameter(ParamType::LabelLength, DataType::Int, std::to_string(label.height), "1 or more");
    if (read != rc(ErrorType::Success)) return read;

    const std::string document = label_document(label);
    // With format and size in hand the items are spent, whatever the answer:
    // kept after a refusal for size, they would make every later 63 too long.
    label.textItems.clear();
    label.imageItems.clear();
    label.barcodeItems.clear();
    label.graphicItems.clear();
    // The length field is 16 bits: a longer document would be misread.
    device_utils::byte_writer data;
    if (!data.counted(document)) {
        // No one input is too long: the items collected by 59 to 62 are.
        Logger::w("refused label document: " + std::to_string(document.size()) + " bytes; allowed: at most " +
                  std::to_string(device_utils::byte_writer::max_counted) + " bytes");
        return rc(ErrorType::InvalidParameterValue);
    }

    std::cout << "json data: \n" << document << '\n' << std::flush;
    const int result = send_command(CommandType::send_json_label_data, with_password, data.data());
    if (result != rc(ErrorType::Success)) log.error(result);
    return result;
}

int device::get_json_label_data()  // 64
{
    const command_log log("get_json_label_data");
    int format = 0;
    const int r = read_int_in(*this, ParamType::LabelFormat, format, 0, 0xFF);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u8(static_cast<std::uint8_t>(format));
    return query(
        CommandType::get_json_label_data, with_password,
        [](scale_reply& reply) {
            const int n = reply.data.uint16_le();
            reply.out.put_bytes(ParamType::JsonLabelData, reply.data.byte_array(n));
        },
        data.data());
}

namespace {

const command_registration labels_document{
    {CommandType::add_json_label_text_item, &device::add_json_label_text_item},
    {CommandType::add_json_label_barcode_item, &device::add_json_label_barcode_item},
    {CommandType::add_json_label_image_item, &device::add_json_label_image_item},
    {CommandType::add_json_label_graphic_item, &device::add_json_label_graphic_item},
    {CommandType::send_json_label_data, &device::send_json_label_data},
    {CommandType::get_json_label_data, &device::get_json_label_data},
};

}  // namespace
