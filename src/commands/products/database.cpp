// Single records of the scale's product database: clearing its tables,
// deleting products, PLUs and categories, packers, message counts, item-code
// look-ups and the preparation of the JSON items file for download.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codecs/byte_writer.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

constexpr std::uint32_t max_item_code = 9999999;
constexpr std::uint32_t max_u16 = 65535;
constexpr std::uint32_t max_int = 0x7FFFFFFF;

// The limit rule of these commands: value - min compared unsigned with
// max - min, so that a negative value never slips under a lower bound.
bool within(int value, std::uint32_t min, std::uint32_t max)
{
    return static_cast<std::uint32_t>(value) - min <= max - min;
}

// An optional int parameter: `out` keeps its default when the parameter is
// absent; any other failed read (a wrong kind included) gives its code.
int read_optional(device& d, ParamType p, int& out)
{
    const int r = d.get_int_param(p, d.input_params, out);
    return r == rc(ErrorType::RequiredParameterMissing) ? rc(ErrorType::Success) : r;
}

// u16 n + the bytes of `p`, or -104 for more than the count can state.
int append_counted(device_utils::byte_writer& out, ParamType p, const std::vector<std::byte>& data)
{
    if (out.counted(data)) return rc(ErrorType::Success);
    return refused_size(p, DataType::ByteArray, data.size(), device_utils::byte_writer::max_counted);
}

// One row of the clearing command: the request it sends and the name in its
// failure line.
struct clear_request {
    CommandType type;
    const char* name;
};

const clear_request clear_requests[] = {
    {CommandType::clear_db_products_and_messages, "clear_db_products_and_messages"},
    {CommandType::clear_db_products, "clear_db_products"},
    {CommandType::clear_db_messages, "clear_db_messages"},
    {CommandType::clear_marking_codes, "clear_marking_codes"},
};

}  // namespace

int device::clear_db_products_and_messages()  // 20
{
    const command_log log("clear_db_products_and_messages");
    int type = 0;
    int r = read_optional(*this, ParamType::TypeDBClearData, type);
    if (r != rc(ErrorType::Success)) return r;

    // Hosts rely on the rate being taken as 0 on any failed read. It is read
    // (and logged) before the type is judged.
    int rate = 0;
    get_int_param(ParamType::ClearProductRate, input_params, rate);
    r = check_int_range(ParamType::TypeDBClearData, type, 0, 3);
    if (r != rc(ErrorType::Success)) return r;

    device_utils::byte_writer data;
    switch (type) {
        case 0:
        case 1:
            // One byte on the wire: a rate it cannot hold is refused, not cut.
            r = check_int_range(ParamType::ClearProductRate, rate, 0, 0xFF);
            if (r != rc(ErrorType::Success)) return r;
            data.u8(static_cast<std::uint8_t>(rate));
            break;
        case 2:
            break;
        default: {
            int item_code = 0;
            r = read_optional(*this, ParamType::ItemCode, item_code);
            if (r != rc(ErrorType::Success)) return r;
            if (!within(item_code, 0, max_item_code)) {
                Logger::i("Invalid ItemCode parameter: " + std::to_string(item_code));
                return check_int_range(ParamType::ItemCode, item_code, 0, max_item_code);
            }
            data.u32(static_cast<std::uint32_t>(item_code));
            break;
        }
    }

    const clear_request& request = clear_requests[type];
    r = send_command(request.type, with_password, data.data());
    // Written by hand: the failure line names the request, not the method,
    // and joins the code without a blank.
    if (r != rc(ErrorType::Success)) Logger::e(request.name + std::to_string(r));
    return r;
}

int device::get_plu_by_code()  // 21
{
    const command_log log("get_plu_by_code");
    int item_code = 0;
    const int r = read_int_in(*this, ParamType::ItemCode, item_code, 1, max_item_code);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u32(static_cast<std::uint32_t>(item_code));
    return log.result(query(
        CommandType::get_plu_by_code, with_password,
        [](scale_reply& reply) { reply.out.put_int(ParamType::PLUNumber, reply.data.uint16_le()); }, data.data()));
}

int device::delete_plu_data()  // 24
{
    const command_log log("delete_plu_data");
    int plu = 0;
    const int r = read_int_in(*this, ParamType::PLUNumber, plu, 1, max_u16);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u16(static_cast<std::uint16_t>(plu));
    return log.result(send_command(CommandType::delete_plu_data, with_password, data.data()));
}

int device::get_messages_count()  // 34
{
    const command_log log("get_messages_count");
    return log.result(query(CommandType::get_messages_count, with_password, [](scale_reply& reply) {
        reply.out.put_int(ParamType::MessagesCount, reply.data.uint16_le());
    }));
}

int device::delete_product()  // 55
{
    const command_log log("delete_product");
    device_utils::byte_writer data;
    int value = 0;
    // The item code wins when both are given; each check logs the usual
    // missing-parameter warning.
    if (parameters_validation(ParamType::ItemCode, input_params)) {
        const int r = read_int_in(*this, ParamType::ItemCode, value, 1, max_item_code);
        if (r != rc(ErrorType::Success)) return r;
        data.u8(0x00).u32(static_cast<std::uint32_t>(value));
    } else if (parameters_validation(ParamType::PLUNumber, input_params)) {
        const int r = read_int_in(*this, ParamType::PLUNumber, value, 1, max_u16);
        if (r != rc(ErrorType::Success)) return r;
        data.u8(0x01).u16(static_cast<std::uint16_t>(value));
    } else {
        return rc(ErrorType::RequiredParameterMissing);
    }
    return log.result(send_command(CommandType::delete_product, with_password, data.data()));
}

int device::get_strings_count_in_message()  // 84
{
    const command_log log("get_strings_count_in_message");
    int number = 0;
    const int r = read_int_in(*this, ParamType::MessageNumber, number, 1, max_u16);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u16(static_cast<std::uint16_t>(number));
    return log.result(query(
        CommandType::get_strings_count_in_message, with_password,
        [](scale_reply& reply) { reply.out.put_int(ParamType::StringsCountInMessage, reply.data.byte()); },
        data.data()));
}

int device::create_json_items_file()  // 87
{
    const command_log log("create_json_items_file", error_line::name_error);
    return log.result(send_command(CommandType::create_json_items_file, with_password));
}

int device::get_json_items_file_status()  // 88
{
    // 172 (still preparing) is logged like any other failure: callers poll.
    const command_log log("get_json_items_file_status", error_line::name_error);
    return log.result(send_command(CommandType::get_json_items_file_status, with_password));
}

int device::delete_category()  // 91
{
    const command_log log("delete_category");
    int id = 0;
    int r = read_int_in(*this, ParamType::CategoryId, id, 0, max_int);
    if (r != rc(ErrorType::Success)) return r;
    // The type goes out as one byte: a value the byte cannot hold (258 would
    // read as type 2 without its rebinding id) is refused.
    int type = 0;
    r = read_optional(*this, ParamType::CategoryDeleteType, type);
    if (r != rc(ErrorType::Success)) return r;
    r = check_int_range(ParamType::CategoryDeleteType, type, 0, 0xFF);
    if (r != rc(ErrorType::Success)) return r;

    device_utils::byte_writer data;
    data.u32(static_cast<std::uint32_t>(id)).u8(static_cast<std::uint8_t>(type));
    if (type == 2) {
        int rebinding = 0;
        r = read_int_in(*this, ParamType::CategoryIdForRebinding, rebinding, 1, max_int);
        if (r != rc(ErrorType::Success)) return r;
        data.u32(static_cast<std::uint32_t>(rebinding));
    }
    return log.result(send_command(CommandType::delete_category, with_password, data.data()));
}

int device::get_packer()  // 110
{
    const command_log log("get_packer");
    int id = 0;
    const int r = read_int_in(*this, ParamType::PackerId, id, 0, max_int);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u32(static_cast<std::uint32_t>(id));
    return log.result(query(
        CommandType::get_packer, with_password,
        [](scale_reply& reply) {
            reply.out.put_int(ParamType::PackerId, reply.data.int32_le());
            const int n = reply.data.uint16_le();
            reply.out.put_bytes(ParamType::PackerName, reply.data.byte_array(n));
        },
        data.data()));
}

int device::set_packer()  // 111
{
    const command_log log("set_packer");
    int id = 0;
    int r = read_int_in(*this, ParamType::PackerId, id, 0, max_int);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u32(static_cast<std::uint32_t>(id));

    std::vector<std::byte> name;
    r = get_bytes_array_param(ParamType::PackerName, input_params, name);
    if (r != rc(ErrorType::Success)) return r;
    r = append_counted(data, ParamType::PackerName, name);
    if (r != rc(ErrorType::Success)) return r;

    // An absent password adds nothing; an empty one adds its length 00 00.
    std::vector<std::byte> password;
    r = get_bytes_array_param(ParamType::NewPassword, input_params, password);
    if (r == rc(ErrorType::Success)) {
        r = append_counted(data, ParamType::NewPassword, password);
        if (r != rc(ErrorType::Success)) return r;
    } else if (r != rc(ErrorType::RequiredParameterMissing)) {
        return r;
    }
    return log.result(send_command(CommandType::set_packer, with_password, data.data()));
}

int device::delete_packer()  // 112
{
    const command_log log("delete_packer");
    int id = 0;
    const int r = read_int_in(*this, ParamType::PackerId, id, 0, max_int);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u32(static_cast<std::uint32_t>(id));
    return log.result(send_command(CommandType::delete_packer, with_password, data.data()));
}

namespace {

const command_registration products_database{
    {CommandType::clear_db_products_and_messages, &device::clear_db_products_and_messages},
    {CommandType::get_plu_by_code, &device::get_plu_by_code},
    {CommandType::delete_plu_data, &device::delete_plu_data},
    {CommandType::get_messages_count, &device::get_messages_count},
    {CommandType::delete_product, &device::delete_product},
    {CommandType::get_strings_count_in_message, &device::get_strings_count_in_message},
    {CommandType::create_json_items_file, &device::create_json_items_file},
    {CommandType::get_json_items_file_status, &device::get_json_items_file_status},
    {CommandType::delete_category, &device::delete_category},
    {CommandType::get_packer, &device::get_packer},
    {CommandType::set_packer, &device::set_packer},
    {CommandType::delete_packer, &device::delete_packer},
};

}  // namespace
