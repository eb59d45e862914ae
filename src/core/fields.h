#pragma once
// Field tables: a fixed list of request or reply fields described once, as
// (parameter, kind, width) with an optional range, and encoded or decoded in
// one generic step.
//
//     const field_table layout{
//         {ParamType::LabelLength, field_kind::u8},
//         {ParamType::ShopName, field_kind::win1251, 64},
//     };
//     int r = encode_fields(d, layout, writer);   // 0, -7, -8 or -104
//     decode_fields(layout, reply.data, reply.out);
//
// Encoding refuses a value that does not fit its field with -104 before
// anything is sent: the scale never receives another value than the host set.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "codecs/device_utils.h"
#include "codecs/byte_writer.h"
#include "core/vocab/types.h"

class device;
class reply_outputs;

enum class field_kind {
    // Integers (int parameters). Encoding refuses values outside the range,
    // or, without one, values that do not fit the width.
    u8,
    u16,
    u24,
    u32,  // any int: sent as its bit pattern
    i8,
    i16,  // decoded with its sign
    i32,
    // Byte-array parameter of `width` bytes; a shorter value is padded with
    // zero bytes, a longer one refused (and one whose size is outside the
    // range).
    bytes,
    // A text in the table's text form: a wide-string parameter as a
    // fixed-width Windows-1251 text (cut to `width` characters or padded
    // with zero bytes; a character outside the code table throws
    // std::out_of_range; decoding skips zero bytes), or a byte-array
    // parameter sent unchanged behind its u16 size.
    text,
    win1251 = text,
    // Decoding only: `width` bytes written as decimal numbers joined by ".".
    dotted,
    // Reserved bytes: encoded as `width` zero bytes, skipped when decoding.
    skip,
    // The three odd fields of the extended PLU record:
    formats,  // one byte: BCFormat in the high nibble, LabelFormat in the low one, each 0 to 15
    group_or_date,  // u16: GroupCode, or the packed ManufacturedDate, as the scale's switch says
    goods_flag,  // one byte: 0x80 when GoodsType is not 0; decoded as 1 or 0
};

// How texts travel.
enum class text_form {
    win1251,  // fixed width, Windows-1251
    utf8,  // u16 size + the bytes the host stored
};

// What encoding does when the host did not set the parameter.
enum class when_absent {
    missing,  // -7, as the accessor reports it
    invalid,  // -104
    zero,  // 0 (or the field's `absent_value`), an empty text or zero bytes
};

// The accepted values of an integer, compared as unsigned so that a
// negative value fails; for a byte array, its accepted sizes.
struct value_range {
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    std::optional<std::uint32_t> also = std::nullopt;  // one more accepted value outside [min, max]
};

struct field {
    ParamType param;
    field_kind kind;
    std::size_t width = 0;  // bytes, text (Windows-1251), dotted and skip only
    when_absent absent = when_absent::missing;
    // Decoding only: one int output (0 or 1) per bit, lowest bit first,
    // written after the field's own output.
    std::vector<ParamType> bits = {};
    std::optional<value_range> range = std::nullopt;
    std::uint32_t absent_value = 0;  // an absent integer under when_absent::zero
};

using field_table = std::vector<field>;

// An integer field whose value must lie in [min, max] (or be `also`).
field ranged(ParamType p, field_kind k, std::uint32_t min, std::uint32_t max,
             std::optional<std::uint32_t> also = std::nullopt);

// A PLU's group code: 0 to 9999, or 65535 ("no group"), which is also what
// goes when the host gives none.
field group_code_field();

// How a table is encoded beyond its rows.
struct field_options {
    text_form texts = text_form::win1251;
    // Gives the scale's group-code switch when a group_or_date field is
    // reached: 0, or a failure code that ends the encoding.
    std::function<int(int& use_group_code)> group_switch = {};
};

// The wire width of a field (a Windows-1251 text's width).
std::size_t field_width(const field& f);
// The sum of the widths: the size of the record a table describes.
std::size_t record_size(const field_table& table);

// Reads each field of `table` from the input map and appends it. Stops at
// the first failure and returns its code (-7, -8, -104, the switch's code;
// -1000 for a failed parameter read); 0 when every field was written.
int encode_fields(device& d, const field_table& table, device_utils::byte_writer& out,
                  const field_options& options = {});

// Reads each field in order into `out`; a group_or_date field is always
// consumed and gives GroupCode under switch 0, ManufacturedDate under 1,
// nothing else otherwise. Throws device_utils::short_buffer when the data
// ends early; the command skeleton turns that into -101 before any output
// is written.
void decode_fields(const field_table& table, device_utils::byte_reader& in, reply_outputs& out,
                   text_form texts = text_form::win1251, int use_group_code = 0);

// day << 11 | month << 7 | year of a 3-byte date (day, month, year), or
// false when it is not 3 bytes or a part is out of range.
bool pack_date(const std::vector<std::byte>& date, std::uint16_t& packed);
std::vector<std::byte> unpack_date(std::uint16_t packed);
