// The generic step behind field tables: every field read from the input map
// and range-checked before a byte is written, and decoded into held-back
// outputs.

#include "core/fields.h"

#include <string>

#include "core/command.h"
#include "core/device.h"

namespace {

bool is_integer(field_kind k)
{
    switch (k) {
        case field_kind::u8:
        case field_kind::u16:
        case field_kind::u24:
        case field_kind::u32:
        case field_kind::i8:
        case field_kind::i16:
        case field_kind::i32:
            return true;
        default:
            return false;
    }
}

bool is_signed(field_kind k)
{
    return k == field_kind::i8 || k == field_kind::i16 || k == field_kind::i32;
}

DataType parameter_kind(field_kind k)
{
    if (is_integer(k)) return DataType::Int;
    return k == field_kind::bytes ? DataType::ByteArray : DataType::String;
}

// The values an integer field holds, for the refusal line.
std::string range_text(const field& f)
{
    const unsigned bits = 8 * static_cast<unsigned>(field_width(f));
    if (is_signed(f.kind))
        return std::to_string(-(1LL << (bits - 1))) + " to " + std::to_string((1LL << (bits - 1)) - 1);
    return "0 to " + std::to_string((1LL << bits) - 1);
}

// The field's parameter is absent: 1 to go on with the zero value, or the
// code that ends the encoding.
int absent_code(device& d, const field& f)
{
    if (d.checkParamInMap(f.param, d.input_params, parameter_kind(f.kind), false)) return 0;
    switch (f.absent) {
        case when_absent::zero:
            return 1;
        case when_absent::invalid:
            return refused_parameter(f.param, parameter_kind(f.kind), "absent",
                                     std::string("a value of kind ") + param_kind_word(parameter_kind(f.kind)));
        case when_absent::missing:
            break;
    }
    return 0;  // the accessor reports -7 with its own line
}

int encode_integer(device& d, const field& f, device_utils::byte_writer& out)
{
    int value = 0;
    const int absent = absent_code(d, f);
    if (absent < 0) return absent;
    if (absent == 0) {
        const int r = d.get_int_param(f.param, d.input_params, value);
        if (r != rc(ErrorType::Success)) return r;
    }
    if (!device_utils::byte_writer::fits(value, field_width(f), is_signed(f.kind)))
        return refused_parameter(f.param, DataType::Int, std::to_string(value), range_text(f));
    const auto bits = static_cast<std::uint32_t>(value);
    switch (field_width(f)) {
        case 1:
            out.u8(static_cast<std::uint8_t>(bits & 0xFF));
            break;
        case 2:
            out.u16(static_cast<std::uint16_t>(bits & 0xFFFF));
            break;
        case 3:
            out.u24(bits);
            break;
        default:
            out.u32(bits);
            break;
    }
    return rc(ErrorType::Success);
}

int encode_field(device& d, const field& f, device_utils::byte_writer& out)
{
    if (is_integer(f.kind)) return encode_integer(d, f, out);
    if (f.kind == field_kind::skip || f.kind == field_kind::dotted) {
        out.padded({}, f.width);
        return rc(ErrorType::Success);
    }
    const int absent = absent_code(d, f);
    if (absent < 0) return absent;
    if (f.kind == field_kind::bytes) {
        std::vector<std::byte> value;
        if (absent == 0) {
            const int r = d.get_bytes_array_param(f.param, d.input_params, value);
            if (r != rc(ErrorType::Success)) return r;
        }
        if (value.size() > f.width)
            return refused_parameter(f.param, DataType::ByteArray, std::to_string(value.size()) + " bytes",
                                     "at most " + std::to_string(f.width) + " bytes");
        out.padded(value, f.width);
        return rc(ErrorType::Success);
    }
    std::wstring text;
    if (absent == 0) {
        const int r = d.get_string_param(f.param, d.input_params, text);
        if (r != rc(ErrorType::Success)) return r;
    }
    out.raw(device_utils::encode_win1251_field(text, f.width));
    return rc(ErrorType::Success);
}

int read_integer(const field& f, device_utils::byte_reader& in)
{
    switch (f.kind) {
        case field_kind::u8:
            return in.byte();
        case field_kind::i8:
            return static_cast<std::int8_t>(in.byte());
        case field_kind::u16:
            return in.uint16_le();
        case field_kind::i16:
            return static_cast<std::int16_t>(in.uint16_le());
        case field_kind::u24:
            return in.int24_le();
        default:
            return in.int32_le();
    }
}

void put_bits(const field& f, std::uint32_t value, reply_outputs& out)
{
    for (std::size_t bit = 0; bit < f.bits.size(); ++bit) out.put_int(f.bits[bit], (value >> bit) & 1U);
}

}  // namespace

std::size_t field_width(const field& f)
{
    switch (f.kind) {
        case field_kind::u8:
        case field_kind::i8:
            return 1;
        case field_kind::u16:
        case field_kind::i16:
            return 2;
        case field_kind::u24:
            return 3;
        case field_kind::u32:
        case field_kind::i32:
            return 4;
        default:
            return f.width;
    }
}

std::size_t record_size(const field_table& table)
{
    std::size_t n = 0;
    for (const field& f : table) n += field_width(f);
    return n;
}

int encode_fields(device& d, const field_table& table, device_utils::byte_writer& out)
{
    for (const field& f : table) {
        const int r = encode_field(d, f, out);
        if (r != rc(ErrorType::Success)) return r;
    }
    return rc(ErrorType::Success);
}

void decode_fields(const field_table& table, device_utils::byte_reader& in, reply_outputs& out)
{
    for (const field& f : table) {
        if (is_integer(f.kind)) {
            const int value = read_integer(f, in);
            out.put_int(f.param, value);
            put_bits(f, static_cast<std::uint32_t>(value), out);
            continue;
        }
        switch (f.kind) {
            case field_kind::bytes: {
                std::vector<std::byte> value = in.byte_array(static_cast<int>(f.width));
                std::uint32_t bits = 0;
                for (std::size_t k = 0; k < value.size() && k < 4; ++k)
                    bits |= std::to_integer<std::uint32_t>(value[k]) << (8 * k);
                out.put_bytes(f.param, std::move(value));
                put_bits(f, bits, out);
                break;
            }
            case field_kind::win1251:
                out.put_string(f.param, in.win1251_string(static_cast<int>(f.width)));
                break;
            case field_kind::dotted: {
                std::wstring text;
                for (std::size_t k = 0; k < f.width; ++k) text += (k ? L"." : L"") + std::to_wstring(in.byte());
                out.put_string(f.param, text);
                break;
            }
            default:
                in.skip(f.width);
                break;
        }
    }
}
