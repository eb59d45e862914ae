#pragma once
// The PLU and message records of the fixed-record command set, each written
// once as a table of fields and used in both text forms: Windows-1251 with
// fixed-width texts, and UTF-8 with texts as a u16 length and their bytes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "codecs/byte_writer.h"
#include "codecs/device_utils.h"
#include "core/vocab/types.h"

class device;
class reply_outputs;

namespace plu_records {

enum class text_form { win1251, utf8 };

enum class record_kind {
    u8,
    u16,
    u24,
    u32,  // decoded as a signed 32-bit value
    text,  // Windows-1251: `width` bytes; UTF-8: u16 n + n bytes
    zero,  // one zero byte; skipped when decoding
    formats,  // BCFormat in the high nibble, LabelFormat in the low one
    group_or_date,  // GroupCode or the packed ManufacturedDate, by the scale's switch
    goods_flag,  // 0x80 when GoodsType is not 0
    date3,  // ShelfLifeDate: exactly 3 bytes, sent unchanged
};

struct record_field {
    ParamType param;
    record_kind kind;
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    std::size_t width = 0;  // texts in Windows-1251 form
    bool optional = false;  // absent is no failure: `absent_value`, an empty text or 00 00 00
    std::uint32_t absent_value = 0;
    bool has_also = false;  // one more accepted value outside [min, max]
    std::uint32_t also = 0;
};

using record_table = std::vector<record_field>;

// The plain PLU record (79 bytes in Windows-1251 form). Its price limit
// differs between the two forms.
const record_table& plain_plu_record(text_form form);
// The extended PLU record of the PLU blocks (82 bytes in Windows-1251 form).
const record_table& extended_plu_record();
// One message line (53 bytes in Windows-1251 form).
const record_table& message_record();

constexpr std::size_t plain_plu_size = 79;
constexpr std::size_t extended_plu_size = 82;
constexpr std::size_t message_size = 53;

// Gives the scale's group-code switch when the record reaches its group or
// date field: 0 or a failure code that ends the encoding.
using switch_source = std::function<int(int& use_group_code)>;

// Reads every field from the host's inputs in record order, checks it and
// appends it; the first failure (-7, -8, -104, or the switch source's code)
// ends it. A character outside the Windows-1251 table throws
// std::out_of_range.
int encode_record(device& d, const record_table& table, text_form form, const switch_source& group_switch,
                  device_utils::byte_writer& out);

// Reads a record reply (the record without its leading PLU number when
// `skip_first`) into outputs; throws device_utils::short_buffer when the
// reply ends early.
void decode_record(const record_table& table, text_form form, int use_group_code, bool skip_first,
                   device_utils::byte_reader& in, reply_outputs& out);

// day << 11 | month << 7 | year, or false when a part is out of range.
bool pack_date(const std::vector<std::byte>& date, std::uint16_t& packed);
std::vector<std::byte> unpack_date(std::uint16_t packed);

}  // namespace plu_records
