// The generic step behind field tables: every field read from the input map
// and checked before it is written, and decoded into held-back outputs.

#include "core/fields.h"

#include <string>

#include "core/command.h"
#include "core/device.h"

namespace {

using P = ParamType;

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

DataType parameter_kind(field_kind k, text_form texts)
{
    if (k == field_kind::bytes) return DataType::ByteArray;
    if (k == field_kind::text) return texts == text_form::win1251 ? DataType::String : DataType::ByteArray;
    return DataType::Int;
}

bool in_range(const value_range& range, std::uint32_t v)
{
    return (v >= range.min && v <= range.max) || (range.also && v == *range.also);
}

std::string range_text(const value_range& range)
{
    std::string text = std::to_string(range.min) + " to " + std::to_string(range.max);
    if (range.also) text += " or " + std::to_string(*range.also);
    return text;
}

// The values an integer field holds, for the refusal line.
std::string range_text(const field& f)
{
    if (f.range) return range_text(*f.range);
    const unsigned bits = 8 * static_cast<unsigned>(field_width(f));
    if (is_signed(f.kind))
        return std::to_string(-(1LL << (bits - 1))) + " to " + std::to_string((1LL << (bits - 1)) - 1);
    return "0 to " + std::to_string((1LL << bits) - 1);
}

// Whether the host left the field's parameter out (`absent`), and what that
// means: -104 where the table refuses it; 0 otherwise, to go on with the
// absent value, or (when_absent::missing) to let the accessor report -7
// with its own line.
int check_absent(device& d, const field& f, text_form texts, bool& absent)
{
    absent = false;
    if (d.checkParamInMap(f.param, d.input_params, parameter_kind(f.kind, texts), false)) return rc(ErrorType::Success);
    switch (f.absent) {
        case when_absent::zero:
            absent = true;
            break;
        case when_absent::invalid:
            return refused_absent(f.param, parameter_kind(f.kind, texts));
        case when_absent::missing:
            break;
    }
    return rc(ErrorType::Success);
}

// Reads an int field: its value, or its absent value.
int read_int(device& d, const field& f, int& value)
{
    bool absent = false;
    const int r = check_absent(d, f, text_form::win1251, absent);
    if (r != rc(ErrorType::Success)) return r;
    if (absent) {
        value = static_cast<int>(f.absent_value);
        return rc(ErrorType::Success);
    }
    return d.get_int_param(f.param, d.input_params, value);
}

bool fits(const field& f, int value)
{
    if (f.range) return in_range(*f.range, static_cast<std::uint32_t>(value));
    return device_utils::byte_writer::fits(value, field_width(f), is_signed(f.kind));
}

void write_integer(std::size_t width, std::uint32_t bits, device_utils::byte_writer& out)
{
    switch (width) {
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
}

// Reads an int field and checks it against its range or width.
int read_checked_int(device& d, const field& f, int& value)
{
    const int r = read_int(d, f, value);
    if (r != rc(ErrorType::Success)) return r;
    if (!fits(f, value)) return refused_parameter(f.param, DataType::Int, std::to_string(value), range_text(f));
    return rc(ErrorType::Success);
}

int encode_integer(device& d, const field& f, device_utils::byte_writer& out)
{
    int value = 0;
    const int r = read_checked_int(d, f, value);
    if (r != rc(ErrorType::Success)) return r;
    write_integer(field_width(f), static_cast<std::uint32_t>(value), out);
    return rc(ErrorType::Success);
}

int encode_bytes(device& d, const field& f, device_utils::byte_writer& out)
{
    bool absent = false;
    const int given = check_absent(d, f, text_form::win1251, absent);
    if (given != rc(ErrorType::Success)) return given;
    std::vector<std::byte> value;
    if (!absent) {
        const int r = d.get_bytes_array_param(f.param, d.input_params, value);
        if (r != rc(ErrorType::Success)) return r;
        if (f.range && !in_range(*f.range, static_cast<std::uint32_t>(value.size())))
            return refused_parameter(f.param, DataType::ByteArray, std::to_string(value.size()) + " bytes",
                                     range_text(*f.range) + " bytes");
    }
    if (value.size() > f.width) return refused_size(f.param, DataType::ByteArray, value.size(), f.width);
    out.padded(value, f.width);
    return rc(ErrorType::Success);
}

int encode_text(device& d, const field& f, text_form texts, device_utils::byte_writer& out)
{
    bool absent = false;
    const int given = check_absent(d, f, texts, absent);
    if (given != rc(ErrorType::Success)) return given;
    if (texts == text_form::win1251) {
        std::wstring text;
        if (!absent) {
            const int r = d.get_string_param(f.param, d.input_params, text);
            if (r != rc(ErrorType::Success)) return r;
        }
        warn_unencodable(f.param, text, f.width);
        out.raw(device_utils::encode_win1251_field(text, f.width));
        return rc(ErrorType::Success);
    }
    std::vector<std::byte> text;
    if (!absent) {
        const int r = d.get_bytes_array_param(f.param, d.input_params, text);
        if (r != rc(ErrorType::Success)) return r;
    }
    if (out.counted(text)) return rc(ErrorType::Success);
    return refused_size(f.param, DataType::ByteArray, text.size(), device_utils::byte_writer::max_counted);
}

int encode_formats(device& d, device_utils::byte_writer& out)
{
    std::uint32_t nibbles = 0;
    for (const field& half :
         {ranged(P::BCFormat, field_kind::u8, 0, 15), ranged(P::LabelFormat, field_kind::u8, 0, 15)}) {
        int value = 0;
        const int r = read_checked_int(d, half, value);
        if (r != rc(ErrorType::Success)) return r;
        nibbles = nibbles << 4 | static_cast<std::uint32_t>(value);
    }
    out.u8(static_cast<std::uint8_t>(nibbles));
    return rc(ErrorType::Success);
}

int encode_group_or_date(device& d, const field_options& options, device_utils::byte_writer& out)
{
    int use_group_code = 0;
    if (options.group_switch) {
        const int r = options.group_switch(use_group_code);
        if (r != rc(ErrorType::Success)) return r;
    }
    if (use_group_code == 0) return encode_integer(d, group_code_field(), out);
    if (use_group_code != 1)
        return refused_parameter(P::UseGroupCodeAsProp, DataType::Int, std::to_string(use_group_code) + " on the scale",
                                 "0 (GroupCode) or 1 (ManufacturedDate)");
    // The date the host can change is what the refusal names, absent (taken
    // as 00 00 00, which is no date) included.
    const char* allowed = "3 bytes: day 1 to 31, month 1 to 12, year 0 to 99";
    if (!d.checkParamInMap(P::ManufacturedDate, d.input_params, DataType::ByteArray, false))
        return refused_parameter(P::ManufacturedDate, DataType::ByteArray, "absent", allowed);
    std::vector<std::byte> date;
    const int r = d.get_bytes_array_param(P::ManufacturedDate, d.input_params, date);
    if (r != rc(ErrorType::Success)) return r;
    std::uint16_t packed = 0;
    if (date.size() != 3)
        return refused_parameter(P::ManufacturedDate, DataType::ByteArray, std::to_string(date.size()) + " bytes",
                                 allowed);
    if (!pack_date(date, packed)) {
        std::string shown = device_utils::hex_dump(date);
        shown.pop_back();  // the blank after the last byte
        return refused_parameter(P::ManufacturedDate, DataType::ByteArray, shown, allowed);
    }
    out.u16(packed);
    return rc(ErrorType::Success);
}

int encode_field(device& d, const field& f, const field_options& options, device_utils::byte_writer& out)
{
    if (is_integer(f.kind)) return encode_integer(d, f, out);
    switch (f.kind) {
        case field_kind::bytes:
            return encode_bytes(d, f, out);
        case field_kind::text:
            return encode_text(d, f, options.texts, out);
        case field_kind::formats:
            return encode_formats(d, out);
        case field_kind::group_or_date:
            return encode_group_or_date(d, options, out);
        case field_kind::goods_flag: {
            int goods = 0;
            const int r = d.get_int_param(f.param, d.input_params, goods);
            if (r != rc(ErrorType::Success)) return r;
            out.u8(goods != 0 ? 0x80 : 0x00);
            return rc(ErrorType::Success);
        }
        default:  // dotted, skip
            out.padded({}, f.width);
            return rc(ErrorType::Success);
    }
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

void decode_field(const field& f, device_utils::byte_reader& in, reply_outputs& out, text_form texts,
                  int use_group_code)
{
    if (is_integer(f.kind)) {
        const int value = read_integer(f, in);
        out.put_int(f.param, value);
        put_bits(f, static_cast<std::uint32_t>(value), out);
        return;
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
        case field_kind::text:
            if (texts == text_form::win1251) {
                out.put_string(f.param, in.win1251_string(static_cast<int>(f.width)));
            } else {
                const int n = in.uint16_le();
                out.put_bytes(f.param, in.byte_array(n));
            }
            break;
        case field_kind::dotted: {
            std::wstring text;
            for (std::size_t k = 0; k < f.width; ++k) text += (k ? L"." : L"") + std::to_wstring(in.byte());
            out.put_string(f.param, text);
            break;
        }
        case field_kind::formats: {
            const int formats = in.byte();
            out.put_int(P::LabelFormat, formats & 0x0F);
            out.put_int(P::BCFormat, formats >> 4);
            break;
        }
        case field_kind::group_or_date: {
            // Always consumed; what it means depends on the switch.
            const std::uint16_t word = in.uint16_le();
            if (use_group_code == 0)
                out.put_int(P::GroupCode, word);
            else if (use_group_code == 1)
                out.put_bytes(P::ManufacturedDate, unpack_date(word));
            break;
        }
        case field_kind::goods_flag:
            out.put_int(f.param, in.byte() != 0 ? 1 : 0);
            break;
        default:  // skip
            in.skip(f.width);
            break;
    }
}

}  // namespace

field ranged(ParamType p, field_kind k, std::uint32_t min, std::uint32_t max, std::optional<std::uint32_t> also)
{
    return field{p, k, 0, when_absent::missing, {}, value_range{min, max, also}};
}

field group_code_field()
{
    constexpr std::uint32_t no_group = 65535;
    return field{P::GroupCode, field_kind::u16, 0, when_absent::zero, {}, value_range{0, 9999, no_group}, no_group};
}

std::size_t field_width(const field& f)
{
    switch (f.kind) {
        case field_kind::u8:
        case field_kind::i8:
        case field_kind::formats:
        case field_kind::goods_flag:
            return 1;
        case field_kind::u16:
        case field_kind::i16:
        case field_kind::group_or_date:
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

int encode_fields(device& d, const field_table& table, device_utils::byte_writer& out, const field_options& options)
{
    for (const field& f : table) {
        const int r = encode_field(d, f, options, out);
        if (r != rc(ErrorType::Success)) return r;
    }
    return rc(ErrorType::Success);
}

void decode_fields(const field_table& table, device_utils::byte_reader& in, reply_outputs& out, text_form texts,
                   int use_group_code)
{
    for (const field& f : table) decode_field(f, in, out, texts, use_group_code);
}

bool pack_date(const std::vector<std::byte>& date, std::uint16_t& packed)
{
    if (date.size() != 3) return false;
    const unsigned day = std::to_integer<unsigned>(date[0]);
    const unsigned month = std::to_integer<unsigned>(date[1]);
    const unsigned year = std::to_integer<unsigned>(date[2]);
    if (day < 1 || day > 31 || month < 1 || month > 12 || year > 99) return false;
    packed = static_cast<std::uint16_t>(day << 11 | month << 7 | year);
    return true;
}

std::vector<std::byte> unpack_date(std::uint16_t packed)
{
    return {std::byte(static_cast<std::uint8_t>((packed >> 11) & 0x1F)),
            std::byte(static_cast<std::uint8_t>((packed >> 7) & 0x0F)),
            std::byte(static_cast<std::uint8_t>(packed & 0x7F))};
}
