// The scale's label settings: the default format of each kind of label,
// currency, label rotation, shop name and address, message tags and the
// scale number.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "codecs/byte_writer.h"
#include "core/device.h"

namespace {

// One byte read at the reply's data offset into an int output.
reply_decoder byte_output(ParamType param)
{
    return [param](scale_reply& r) { r.out.put_int(param, r.data.byte()); };
}

// A u16 length and that many bytes into a byte-array output.
reply_decoder text_output(ParamType param)
{
    return [param](scale_reply& r) {
        const int n = r.data.uint16_le();
        r.out.put_bytes(param, r.data.byte_array(n));
    };
}

// Reads an int input that goes out as one byte: -104 outside lo..hi.
int read_byte(device& d, ParamType param, int lo, int hi, std::vector<std::byte>& data)
{
    int value = 0;
    const int r = read_int_in(d, param, value, lo, hi);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer out;
    out.u8(static_cast<std::uint8_t>(value));
    data = out.take();
    return rc(ErrorType::Success);
}

// Reads a byte-array input that goes out behind its u16 length; a longer
// text would not fit the length field and is refused.
int read_text(device& d, ParamType param, std::vector<std::byte>& data)
{
    std::vector<std::byte> text;
    const int r = d.get_bytes_array_param(param, d.input_params, text);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer out;
    if (!out.counted(text))
        return refused_size(param, DataType::ByteArray, text.size(), device_utils::byte_writer::max_counted);
    data = out.take();
    return rc(ErrorType::Success);
}

int get_byte(device& d, const char* name, CommandType type, ParamType param)
{
    const command_log log(name);
    return log.result(d.query(type, with_password, byte_output(param)));
}

int set_byte(device& d, const char* name, CommandType type, ParamType param, int lo, int hi,
             error_line form = error_line::name_code)
{
    const command_log log(name, form);
    std::vector<std::byte> data;
    const int r = read_byte(d, param, lo, hi, data);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.send_command(type, with_password, data));
}

int get_text(device& d, const char* name, CommandType type, ParamType param)
{
    const command_log log(name);
    return log.result(d.query(type, with_password, text_output(param)));
}

int set_text(device& d, const char* name, CommandType type, ParamType param)
{
    const command_log log(name);
    std::vector<std::byte> data;
    const int r = read_text(d, param, data);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.send_command(type, with_password, data));
}

}  // namespace

int device::get_format_label(CommandType type)
{
    return get_byte(*this, "get_format_label", type, ParamType::LabelFormat);
}

int device::set_format_label(CommandType type)
{
    return set_byte(*this, "set_format_label", type, ParamType::LabelFormat, 0, 250);
}

int device::get_default_format_label()  // 14
{
    return get_format_label(CommandType::get_default_format_label);
}

int device::set_default_format_label()  // 15
{
    return set_format_label(CommandType::set_default_format_label);
}

int device::get_default_format_total_label()  // 118
{
    return get_format_label(CommandType::get_default_format_total_label);
}

int device::set_default_format_total_label()  // 119
{
    return set_format_label(CommandType::set_default_format_total_label);
}

int device::get_default_format_cart_total_label()  // 132
{
    return get_format_label(CommandType::get_default_format_cart_total_label);
}

int device::set_default_format_cart_total_label()  // 133
{
    return set_format_label(CommandType::set_default_format_cart_total_label);
}

int device::get_default_format_cart_label()  // 134
{
    return get_format_label(CommandType::get_default_format_cart_label);
}

int device::set_default_format_cart_label()  // 135
{
    return set_format_label(CommandType::set_default_format_cart_label);
}

int device::get_currency()  // 103
{
    return get_byte(*this, "get_currency", CommandType::get_currency, ParamType::CurrencyCode);
}

int device::set_currency()  // 104
{
    // A code beyond one byte would reach the scale as another code.
    return set_byte(*this, "set_currency", CommandType::set_currency, ParamType::CurrencyCode, 0, 255);
}

int device::get_label_rotate_value()  // 136
{
    return get_byte(*this, "get_label_rotate_value", CommandType::get_label_rotate_value, ParamType::Rotate);
}

int device::set_label_rotate_value()  // 137
{
    return set_byte(*this, "set_label_rotate_value", CommandType::set_label_rotate_value, ParamType::Rotate, 0, 255);
}

int device::set_scale_number()  // 69
{
    return set_byte(*this, "set_scale_number", CommandType::set_scale_number, ParamType::ScalesNumber, 1, 99,
                    error_line::name_error);
}

int device::get_shop_name_multi_strings()  // 131
{
    return get_text(*this, "get_shop_name_multi_strings", CommandType::get_shop_name_multi_strings,
                    ParamType::ShopName);
}

int device::set_shop_name_multi_strings()  // 130
{
    return set_text(*this, "set_shop_name_multi_strings", CommandType::set_shop_name_multi_strings,
                    ParamType::ShopName);
}

int device::get_shop_address()  // 57
{
    return get_text(*this, "get_shop_address", CommandType::get_shop_address, ParamType::ShopAddress);
}

int device::set_shop_address()  // 56
{
    return set_text(*this, "set_shop_address", CommandType::set_shop_address, ParamType::ShopAddress);
}

int device::get_json_message_tags()  // 138
{
    return get_text(*this, "get_json_message_tags", CommandType::get_json_message_tags, ParamType::JsonMessageTags);
}

int device::set_json_message_tags()  // 139
{
    return set_text(*this, "set_json_message_tags", CommandType::set_json_message_tags, ParamType::JsonMessageTags);
}

namespace {

const command_registration labels_formats{
    {CommandType::get_default_format_label, &device::get_default_format_label},
    {CommandType::set_default_format_label, &device::set_default_format_label},
    {CommandType::get_default_format_total_label, &device::get_default_format_total_label},
    {CommandType::set_default_format_total_label, &device::set_default_format_total_label},
    {CommandType::get_default_format_cart_total_label, &device::get_default_format_cart_total_label},
    {CommandType::set_default_format_cart_total_label, &device::set_default_format_cart_total_label},
    {CommandType::get_default_format_cart_label, &device::get_default_format_cart_label},
    {CommandType::set_default_format_cart_label, &device::set_default_format_cart_label},
    {CommandType::get_currency, &device::get_currency},
    {CommandType::set_currency, &device::set_currency},
    {CommandType::get_label_rotate_value, &device::get_label_rotate_value},
    {CommandType::set_label_rotate_value, &device::set_label_rotate_value},
    {CommandType::set_scale_number, &device::set_scale_number},
    {CommandType::get_shop_name_multi_strings, &device::get_shop_name_multi_strings},
    {CommandType::set_shop_name_multi_strings, &device::set_shop_name_multi_strings},
    {CommandType::get_shop_address, &device::get_shop_address},
    {CommandType::set_shop_address, &device::set_shop_address},
    {CommandType::get_json_message_tags, &device::get_json_message_tags},
    {CommandType::set_json_message_tags, &device::set_json_message_tags},
};

}  // namespace
