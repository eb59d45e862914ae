// Printing (a label, a product's label, a file on the scale) and the
// pictures that labels show: loading one line block by line block, and
// asking a picture's size.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "codecs/byte_writer.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

constexpr std::size_t picture_block_size = 100;
constexpr int last_picture_number = 10;

constexpr std::size_t most_picture_blocks = 255;

}  // namespace

int device::print_label()  // 50
{
    const command_log log("print_label");
    return log.result(send_command(CommandType::print_label, with_password));
}

int device::print_file()  // 108
{
    const command_log log("print_file", error_line::name_error);
    int delete_after = 0;
    // A flag beyond one byte would reach the scale as another flag.
    int r = read_int_in(*this, ParamType::DeleteFileAfterPrint, delete_after, 0, 0xFF);
    if (r != rc(ErrorType::Success)) return r;
    std::vector<std::byte> name;
    r = get_bytes_array_param(ParamType::FileOnScale, input_params, name);
    if (r != rc(ErrorType::Success)) return r;
    name.erase(std::remove(name.begin(), name.end(), std::byte{0}), name.end());
    device_utils::byte_writer data;
    data.u8(static_cast<std::uint8_t>(delete_after));
    if (!data.counted(name))
        return refused_size(ParamType::FileOnScale, DataType::ByteArray, name.size(),
                            device_utils::byte_writer::max_counted);
    return log.result(send_command(CommandType::print_file, with_password, data.data()));
}

int device::print_product_label()  // 126
{
    const command_log log("print_product_label");
    // The product is named by the first of these that the host set.
    const std::pair<ParamType, std::uint8_t> selectors[] = {
        {ParamType::ItemCode, 0},
        {ParamType::PLUNumber, 1},
        {ParamType::ButtonNumber, 2},
    };
    const std::pair<ParamType, std::uint8_t>* chosen = nullptr;
    for (const auto& s : selectors) {
        if (parameters_validation(s.first, input_params)) {
            chosen = &s;
            break;
        }
    }
    if (chosen == nullptr)
        return refused_parameter(ParamType::ItemCode, DataType::Int, "absent, as are PLUNumber and ButtonNumber",
                                 "a value of kind int in one of the three");
    int value = 0;
    // A negative number would reach the scale as a huge unsigned one.
    const int r = read_int_in(*this, chosen->first, value, 0, std::numeric_limits<int>::max());
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u8(chosen->second).u32(static_cast<std::uint32_t>(value));
    return log.result(send_command(CommandType::print_product_label, with_password, data.data()));
}

int device::get_picture_size()  // 76
{
    const command_log log("get_picture_size");
    if (!parameters_validation(ParamType::PictureNumber, input_params))
        return refused_absent(ParamType::PictureNumber, DataType::Int);
    int number = 0;
    const int r = read_int_in(*this, ParamType::PictureNumber, number, 0, last_picture_number);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u8(static_cast<std::uint8_t>(number));
    return log.result(query(
        CommandType::get_picture_size, with_password,
        [](scale_reply& reply) {
            reply.out.put_int(ParamType::PictureWidth, reply.data.byte());
            reply.out.put_int(ParamType::PictureHeight, reply.data.byte());
        },
        data.data()));
}

int device::load_line_data()  // 10
{
    const command_log log("load_line_data");
    std::vector<std::byte> lines;
    int width = 0;
    int height = 0;
    int number = 0;
    int r = get_bytes_array_param(ParamType::LineData, input_params, lines);
    if (r == rc(ErrorType::Success)) r = get_int_param(ParamType::PictureWidth, input_params, width);
    if (r == rc(ErrorType::Success)) r = get_int_param(ParamType::PictureHeight, input_params, height);
    if (r == rc(ErrorType::Success)) r = get_int_param(ParamType::PictureNumber, input_params, number);
    if (r != rc(ErrorType::Success)) return r;

    const std::size_t blocks = (lines.size() + picture_block_size - 1) / picture_block_size;
    if (blocks == 0) return rc(ErrorType::Success);
    // Block numbers and the sizes are one byte each: anything larger would
    // make the scale overwrite earlier blocks or draw another picture.
    if (blocks > most_picture_blocks)
        return refused_size(ParamType::LineData, DataType::ByteArray, lines.size(),
                            most_picture_blocks * picture_block_size);
    r = check_int_range(ParamType::PictureNumber, number, 0, last_picture_number);
    if (r == rc(ErrorType::Success)) r = check_int_range(ParamType::PictureWidth, width, 0, 0xFF);
    if (r == rc(ErrorType::Success)) r = check_int_range(ParamType::PictureHeight, height, 0, 0xFF);
    if (r != rc(ErrorType::Success)) return r;

    // A scale that fails a block is skipped for the rest (the send's rule),
    // so the others still get the whole picture; the failure is the result.
    int group_failure = rc(ErrorType::Success);
    for (std::size_t k = 1; k <= blocks; ++k) {
        const std::size_t begin = (k - 1) * picture_block_size;
        const std::size_t end = std::min(lines.size(), begin + picture_block_size);
        device_utils::byte_writer data;
        data.u8(static_cast<std::uint8_t>(width))
            .u8(static_cast<std::uint8_t>(height))
            .u8(static_cast<std::uint8_t>(number))
            .u8(static_cast<std::uint8_t>(k))
            .padded(
                {lines.begin() + static_cast<std::ptrdiff_t>(begin), lines.begin() + static_cast<std::ptrdiff_t>(end)},
                picture_block_size);
        const int result = send_command(CommandType::load_line_data, with_password, data.data());
        if (result == rc(ErrorType::Success)) continue;
        if (result == rc(ErrorType::BroadcastError)) {
            group_failure = result;
            continue;
        }
        // By hand: the line names the failed block, which command_log's error line cannot.
        Logger::e("load_ine_data (block " + std::to_string(k) + ") " + std::to_string(result));
        return result;
    }
    return group_failure;
}

namespace {

const command_registration labels_printing{
    {CommandType::print_label, &device::print_label},
    {CommandType::print_file, &device::print_file},
    {CommandType::print_product_label, &device::print_product_label},
    {CommandType::get_picture_size, &device::get_picture_size},
    {CommandType::load_line_data, &device::load_line_data},
};

}  // namespace
