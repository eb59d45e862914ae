// The PLU and message record tables and the one generic step that encodes
// them from the host's inputs and decodes them from replies, in either text
// form.

#include "commands/records/products/records.h"

#include <string>

#include "core/command.h"
#include "core/device.h"

namespace plu_records {

namespace {

using K = record_kind;
using P = ParamType;

constexpr std::uint32_t u16_max = 65535;
constexpr std::uint32_t no_group = 65535;  // "no group code": sent when the host gives none

record_field group_code_field()
{
    record_field f{P::GroupCode, K::u16, 0, 9999};
    f.optional = true;
    f.absent_value = no_group;
    f.has_also = true;
    f.also = no_group;
    return f;
}

record_field optional_text(ParamType p, std::size_t width)
{
    record_field f{p, K::text, 0, 0, width};
    f.optional = true;
    return f;
}

record_table make_plain(std::uint32_t price_max)
{
    return {
        {P::PLUNumber, K::u16, 1, u16_max},
        {P::ItemCode, K::u32, 1, 9999999},
        {P::NameFirst, K::text, 0, 0, 28},
        optional_text(P::NameSecond, 28),
        {P::Price, K::u32, 0, price_max},
        {P::ShelfLife, K::u16, 0, 9999},
        {P::Tare, K::u16, 0, 15000},
        group_code_field(),
        {P::MessageNumber, K::u16, 0, u16_max},
        {P::ReservedByte, K::zero},  // no parameter: always 0
        {P::ROSTEST, K::text, 0, 0, 4},
    };
}

int get_text_form(device& d, const record_field& f, text_form form, device_utils::byte_writer& out)
{
    const DataType kind = form == text_form::win1251 ? DataType::String : DataType::ByteArray;
    const bool absent = f.optional && !d.checkParamInMap(f.param, d.input_params, kind, false);
    if (form == text_form::win1251) {
        std::wstring text;
        if (!absent) {
            const int r = d.get_string_param(f.param, d.input_params, text);
            if (r != rc(ErrorType::Success)) return r;
        }
        out.raw(device_utils::encode_win1251_field(text, f.width));
        return rc(ErrorType::Success);
    }
    std::vector<std::byte> text;
    if (!absent) {
        const int r = d.get_bytes_array_param(f.param, d.input_params, text);
        if (r != rc(ErrorType::Success)) return r;
    }
    return out.counted(text) ? rc(ErrorType::Success) : rc(ErrorType::InvalidParameterValue);
}

// Reads an int input; an optional one that is absent gives its absent value.
int get_value(device& d, const record_field& f, std::uint32_t& value)
{
    if (f.optional && !d.checkParamInMap(f.param, d.input_params, DataType::Int, false)) {
        value = f.absent_value;
        return rc(ErrorType::Success);
    }
    int v = 0;
    const int r = d.get_int_param(f.param, d.input_params, v);
    value = static_cast<std::uint32_t>(v);  // negatives fail every range as large unsigned values
    return r;
}

bool in_range(const record_field& f, std::uint32_t v)
{
    return (v >= f.min && v <= f.max) || (f.has_also && v == f.also);
}

int encode_integer(device& d, const record_field& f, device_utils::byte_writer& out)
{
    std::uint32_t v = 0;
    const int r = get_value(d, f, v);
    if (r != rc(ErrorType::Success)) return r;
    if (!in_range(f, v)) return rc(ErrorType::InvalidParameterValue);
    switch (f.kind) {
        case K::u8:
            out.u8(static_cast<std::uint8_t>(v));
            break;
        case K::u16:
            out.u16(static_cast<std::uint16_t>(v));
            break;
        case K::u24:
            out.u24(v);
            break;
        default:
            out.u32(v);
            break;
    }
    return rc(ErrorType::Success);
}

int encode_formats(device& d, device_utils::byte_writer& out)
{
    const record_field bc{P::BCFormat, K::u8, 0, 15};
    const record_field label{P::LabelFormat, K::u8, 0, 15};
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    int r = get_value(d, bc, high);
    if (r != rc(ErrorType::Success)) return r;
    if (!in_range(bc, high)) return rc(ErrorType::InvalidParameterValue);
    r = get_value(d, label, low);
    if (r != rc(ErrorType::Success)) return r;
    if (!in_range(label, low)) return rc(ErrorType::InvalidParameterValue);
    out.u8(static_cast<std::uint8_t>(high << 4 | low));
    return rc(ErrorType::Success);
}

int encode_group_or_date(device& d, const switch_source& group_switch, device_utils::byte_writer& out)
{
    int use_group_code = 0;
    const int r = group_switch(use_group_code);
    if (r != rc(ErrorType::Success)) return r;
    if (use_group_code == 0) return encode_integer(d, group_code_field(), out);
    if (use_group_code != 1) return rc(ErrorType::InvalidParameterValue);
    std::vector<std::byte> date(3, std::byte{0});  // absent: 00 00 00, which is no date
    if (d.checkParamInMap(P::ManufacturedDate, d.input_params, DataType::ByteArray, false)) {
        const int got = d.get_bytes_array_param(P::ManufacturedDate, d.input_params, date);
        if (got != rc(ErrorType::Success)) return got;
    }
    std::uint16_t packed = 0;
    if (!pack_date(date, packed)) return rc(ErrorType::InvalidParameterValue);
    out.u16(packed);
    return rc(ErrorType::Success);
}

int encode_field(device& d, const record_field& f, text_form form, const switch_source& group_switch,
                 device_utils::byte_writer& out)
{
    switch (f.kind) {
        case K::text:
            return get_text_form(d, f, form, out);
        case K::zero:
            out.u8(0);
            return rc(ErrorType::Success);
        case K::formats:
            return encode_formats(d, out);
        case K::group_or_date:
            return encode_group_or_date(d, group_switch, out);
        case K::goods_flag: {
            int goods = 0;
            const int r = d.get_int_param(f.param, d.input_params, goods);
            if (r != rc(ErrorType::Success)) return r;
            out.u8(goods != 0 ? 0x80 : 0x00);
            return rc(ErrorType::Success);
        }
        case K::date3: {
            std::vector<std::byte> date(3, std::byte{0});
            if (d.checkParamInMap(f.param, d.input_params, DataType::ByteArray, false)) {
                const int r = d.get_bytes_array_param(f.param, d.input_params, date);
                if (r != rc(ErrorType::Success)) return r;
            }
            if (date.size() != 3) return rc(ErrorType::InvalidParameterValue);
            out.raw(date);
            return rc(ErrorType::Success);
        }
        default:
            return encode_integer(d, f, out);
    }
}

void decode_field(const record_field& f, text_form form, int use_group_code, device_utils::byte_reader& in,
                  reply_outputs& out)
{
    switch (f.kind) {
        case K::u8:
            out.put_int(f.param, in.byte());
            break;
        case K::u16:
            out.put_int(f.param, in.uint16_le());
            break;
        case K::u24:
            out.put_int(f.param, in.int24_le());
            break;
        case K::u32:
            out.put_int(f.param, in.int32_le());
            break;
        case K::text:
            if (form == text_form::win1251) {
                out.put_string(f.param, in.win1251_string(static_cast<int>(f.width)));
            } else {
                const int n = in.uint16_le();
                out.put_bytes(f.param, in.byte_array(n));
            }
            break;
        case K::zero:
            in.skip(1);
            break;
        case K::formats: {
            const int formats = in.byte();
            out.put_int(P::LabelFormat, formats & 0x0F);
            out.put_int(P::BCFormat, formats >> 4);
            break;
        }
        case K::group_or_date: {
            // Always consumed; what it means depends on the switch.
            const std::uint16_t word = in.uint16_le();
            if (use_group_code == 0)
                out.put_int(P::GroupCode, word);
            else if (use_group_code == 1)
                out.put_bytes(P::ManufacturedDate, unpack_date(word));
            break;
        }
        case K::goods_flag:
            out.put_int(f.param, in.byte() != 0 ? 1 : 0);
            break;
        case K::date3:
            out.put_bytes(f.param, in.byte_array(3));
            break;
    }
}

}  // namespace

const record_table& plain_plu_record(text_form form)
{
    static const record_table win1251 = make_plain(999999);
    static const record_table utf8 = make_plain(9999999);
    return form == text_form::win1251 ? win1251 : utf8;
}

const record_table& extended_plu_record()
{
    static const record_table table{
        {P::PLUNumber, K::u16, 1, u16_max},     {P::ItemCode, K::u32, 1, 9999999}, {P::NameFirst, K::text, 0, 0, 28},
        optional_text(P::NameSecond, 28),       {P::Price, K::u24, 0, 9999999},    {P::BCFormat, K::formats},
        {P::ShelfLife, K::u16, 0, 9999},        {P::Tare, K::u16, 0, 15000},       {P::GroupCode, K::group_or_date},
        {P::MessageNumber, K::u16, 0, u16_max}, {P::GoodsType, K::goods_flag},     {P::ROSTEST, K::text, 0, 0, 4},
        {P::ShelfLifeDate, K::date3},
    };
    return table;
}

const record_table& message_record()
{
    static const record_table table{
        {P::MessageNumber, K::u16, 1, u16_max},
        {P::StringNumber, K::u8, 1, 255},
        {P::MessageString, K::text, 0, 0, 50},
    };
    return table;
}

int encode_record(device& d, const record_table& table, text_form form, const switch_source& group_switch,
                  device_utils::byte_writer& out)
{
    for (const record_field& f : table) {
        const int r = encode_field(d, f, form, group_switch, out);
        if (r != rc(ErrorType::Success)) return r;
    }
    return rc(ErrorType::Success);
}

void decode_record(const record_table& table, text_form form, int use_group_code, bool skip_first,
                   device_utils::byte_reader& in, reply_outputs& out)
{
    for (std::size_t k = skip_first ? 1 : 0; k < table.size(); ++k)
        decode_field(table[k], form, use_group_code, in, out);
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

}  // namespace plu_records
