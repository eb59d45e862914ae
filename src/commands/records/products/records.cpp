// The PLU and message record tables, rows of the shared field tables.

#include "commands/records/products/records.h"

namespace plu_records {

namespace {

using K = field_kind;
using P = ParamType;

constexpr std::uint32_t u16_max = 65535;

field_table make_plain(std::uint32_t price_max)
{
    return {
        ranged(P::PLUNumber, K::u16, 1, u16_max),
        ranged(P::ItemCode, K::u32, 1, 9999999),
        {P::NameFirst, K::text, 28},
        {P::NameSecond, K::text, 28, when_absent::zero},
        ranged(P::Price, K::u32, 0, price_max),
        ranged(P::ShelfLife, K::u16, 0, 9999),
        ranged(P::Tare, K::u16, 0, 15000),
        group_code_field(),
        ranged(P::MessageNumber, K::u16, 0, u16_max),
        {P::ReservedByte, K::skip, 1},  // no parameter: always 0
        {P::ROSTEST, K::text, 4},
    };
}

field_table without_number(const field_table& record)
{
    return field_table(record.begin() + 1, record.end());
}

}  // namespace

const field_table& plain_plu_record(text_form form)
{
    static const field_table win1251 = make_plain(999999);
    static const field_table utf8 = make_plain(9999999);
    return form == text_form::win1251 ? win1251 : utf8;
}

const field_table& extended_plu_record()
{
    static const field_table table{
        ranged(P::PLUNumber, K::u16, 1, u16_max),
        ranged(P::ItemCode, K::u32, 1, 9999999),
        {P::NameFirst, K::text, 28},
        {P::NameSecond, K::text, 28, when_absent::zero},
        ranged(P::Price, K::u24, 0, 9999999),
        {P::BCFormat, K::formats},
        ranged(P::ShelfLife, K::u16, 0, 9999),
        ranged(P::Tare, K::u16, 0, 15000),
        {P::GroupCode, K::group_or_date},
        ranged(P::MessageNumber, K::u16, 0, u16_max),
        {P::GoodsType, K::goods_flag},
        {P::ROSTEST, K::text, 4},
        // Exactly 3 bytes, sent unchanged; absent: 00 00 00.
        {P::ShelfLifeDate, K::bytes, 3, when_absent::zero, {}, value_range{3, 3}},
    };
    return table;
}

const field_table& message_record()
{
    static const field_table table{
        ranged(P::MessageNumber, K::u16, 1, u16_max),
        ranged(P::StringNumber, K::u8, 1, 255),
        {P::MessageString, K::text, 50},
    };
    return table;
}

const field_table& plain_plu_reply(text_form form)
{
    static const field_table win1251 = without_number(plain_plu_record(text_form::win1251));
    static const field_table utf8 = without_number(plain_plu_record(text_form::utf8));
    return form == text_form::win1251 ? win1251 : utf8;
}

const field_table& extended_plu_reply()
{
    static const field_table table = without_number(extended_plu_record());
    return table;
}

const field_table& message_key()
{
    static const field_table table(message_record().begin(), message_record().begin() + 2);
    return table;
}

}  // namespace plu_records
