#pragma once
// Field tables: a fixed list of request or reply fields described once, as
// (parameter, kind, width), and encoded or decoded in one generic step.
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
#include <vector>

#include "codecs/device_utils.h"
#include "codecs/byte_writer.h"
#include "core/vocab/types.h"

class device;
class reply_outputs;

enum class field_kind {
    // Integers (int parameters). Encoding refuses values outside the range.
    u8,
    u16,
    u24,
    u32,  // any int: sent as its bit pattern
    i8,
    i16,  // decoded with its sign
    i32,
    // Byte-array parameter of exactly `width` bytes; a shorter value is
    // padded with zero bytes, a longer one refused.
    bytes,
    // Wide-string parameter as a fixed-width Windows-1251 text: cut to
    // `width` characters or padded with zero bytes; a character outside the
    // code table throws std::out_of_range. Decoding skips zero bytes.
    win1251,
    // Decoding only: `width` bytes written as decimal numbers joined by ".".
    dotted,
    // Reserved bytes: encoded as `width` zero bytes, skipped when decoding.
    skip,
};

// What encoding does when the host did not set the parameter.
enum class when_absent {
    missing,  // -7, as the accessor reports it
    invalid,  // -104
    zero,  // 0, an empty text or zero bytes
};

struct field {
    ParamType param;
    field_kind kind;
    std::size_t width = 0;  // bytes, win1251, dotted and skip only
    when_absent absent = when_absent::missing;
    // Decoding only: one int output (0 or 1) per bit, lowest bit first,
    // written after the field's own output.
    std::vector<ParamType> bits = {};
};

using field_table = std::vector<field>;

// The wire width of a field.
std::size_t field_width(const field& f);
// The sum of the widths: the size of the record a table describes.
std::size_t record_size(const field_table& table);

// Reads each field of `table` from the input map and appends it. Stops at
// the first failure and returns its code (-7, -8, -104; -1000 for a failed
// parameter read); 0 when every field was written.
int encode_fields(device& d, const field_table& table, device_utils::byte_writer& out);

// Reads each field in order into `out`. Throws device_utils::short_buffer
// when the data ends early; the command skeleton turns that into -101
// before any output is written.
void decode_fields(const field_table& table, device_utils::byte_reader& in, reply_outputs& out);
