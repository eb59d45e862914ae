// The texts a scale keeps once for all its labels: the two shop name lines
// and the numbered user text lines, as fixed-width Windows-1251 fields or as
// UTF-8 bytes behind a 16-bit count.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/byte_writer.h"
#include "core/device.h"
#include "core/fields.h"

namespace {

using P = ParamType;

constexpr int shop_name_lines = 2;
constexpr int user_text_lines = 5;
constexpr int user_text_lines_utf8 = 10;

// Windows-1251 fields: cut to their width in characters before encoding, so
// that a character beyond it never matters; padded with zero bytes.
const field_table shop_name_field{{P::ShopName, field_kind::win1251, 28}};
const field_table user_text_field{{P::StaticTextProp, field_kind::win1251, 30}};

// Reads StringNumber and checks it against 1 to `last`: 0, -7, -8 or -104.
int read_line_number(device& d, int last, int& line)
{
    return read_int_in(d, P::StringNumber, line, 1, last);
}

std::vector<std::byte> line_payload(int line)
{
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(line));
    return payload.take();
}

int get_win1251_line(device& d, const command_log& log, CommandType type, ParamType text, int last)
{
    int line = 0;
    const int r = read_line_number(d, last, line);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.query(
        type, with_password,
        [text](scale_reply& reply) {
            // LEN - 2 bytes of data, whatever the line's width; zero bytes
            // are dropped wherever they stand.
            const int len = std::to_integer<int>(reply.frame[1]);
            reply.out.put_string(text, reply.data.win1251_string(len - 2));
        },
        line_payload(line)));
}

// A character outside the code table throws std::out_of_range out of the
// method: the dispatcher answers -1000 and nothing is sent.
int set_win1251_line(device& d, const command_log& log, CommandType type, const field_table& text, int last)
{
    int line = 0;
    int r = read_line_number(d, last, line);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(line));
    r = encode_fields(d, text, payload);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.send_command(type, with_password, payload.take()));
}

int get_utf8_line(device& d, const command_log& log, CommandType type, ParamType text, int last)
{
    int line = 0;
    const int r = read_line_number(d, last, line);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.query(
        type, with_password,
        [text](scale_reply& reply) {
            const int n = reply.data.uint16_le();
            reply.out.put_bytes(text, reply.data.byte_array(n));
        },
        line_payload(line)));
}

// A text longer than its 16-bit count can state is refused with -104.
int set_utf8_line(device& d, const command_log& log, CommandType type, ParamType text, int last)
{
    int line = 0;
    int r = read_line_number(d, last, line);
    if (r != rc(ErrorType::Success)) return r;
    std::vector<std::byte> bytes;
    r = d.get_bytes_array_param(text, d.input_params, bytes);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(line));
    if (!payload.counted(bytes))
        return refused_size(text, DataType::ByteArray, bytes.size(), device_utils::byte_writer::max_counted);
    return log.result(d.send_command(type, with_password, payload.take()));
}

}  // namespace

int device::get_user_text()  // 16
{
    const command_log log("get_user_text");
    return get_win1251_line(*this, log, CommandType::get_user_text, ParamType::StaticTextProp, user_text_lines);
}

int device::set_user_text()  // 17
{
    const command_log log("set_user_text");
    return set_win1251_line(*this, log, CommandType::set_user_text, user_text_field, user_text_lines);
}

int device::get_name_shop()  // 18
{
    const command_log log("get_name_shop");
    return get_win1251_line(*this, log, CommandType::get_name_shop, ParamType::ShopName, shop_name_lines);
}

int device::set_name_shop()  // 19
{
    const command_log log("set_name_shop");
    return set_win1251_line(*this, log, CommandType::set_name_shop, shop_name_field, shop_name_lines);
}

int device::get_user_text_utf8()  // 92
{
    const command_log log("get_user_text_utf8");
    return get_utf8_line(*this, log, CommandType::get_user_text_utf8, ParamType::StaticTextProp, user_text_lines_utf8);
}

int device::set_user_text_utf8()  // 93
{
    const command_log log("set_user_text_utf8");
    return set_utf8_line(*this, log, CommandType::set_user_text_utf8, ParamType::StaticTextProp, user_text_lines_utf8);
}

int device::get_name_shop_utf8()  // 94
{
    const command_log log("get_name_shop_utf8");
    // This getter alone answers a missing line number with -104.
    if (!parameters_validation(ParamType::StringNumber, input_params))
        return refused_absent(ParamType::StringNumber, DataType::Int);
    return get_utf8_line(*this, log, CommandType::get_name_shop_utf8, ParamType::ShopName, shop_name_lines);
}

int device::set_name_shop_utf8()  // 95
{
    const command_log log("set_name_shop_utf8");
    return set_utf8_line(*this, log, CommandType::set_name_shop_utf8, ParamType::ShopName, shop_name_lines);
}

namespace {

const command_registration records_label_texts{
    {CommandType::get_user_text, &device::get_user_text},
    {CommandType::set_user_text, &device::set_user_text},
    {CommandType::get_name_shop, &device::get_name_shop},
    {CommandType::set_name_shop, &device::set_name_shop},
    {CommandType::get_user_text_utf8, &device::get_user_text_utf8},
    {CommandType::set_user_text_utf8, &device::set_user_text_utf8},
    {CommandType::get_name_shop_utf8, &device::get_name_shop_utf8},
    {CommandType::set_name_shop_utf8, &device::set_name_shop_utf8},
};

}  // namespace
