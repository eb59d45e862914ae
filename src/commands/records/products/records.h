#pragma once
// The PLU and message records of the fixed-record command set, each written
// once as a field table and used in both text forms: Windows-1251 with
// fixed-width texts, and UTF-8 with texts as a u16 length and their bytes.

#include <cstddef>

#include "core/fields.h"

namespace plu_records {

// The plain PLU record (79 bytes in Windows-1251 form). Its price limit
// differs between the two forms.
const field_table& plain_plu_record(text_form form);
// The extended PLU record of the PLU blocks (82 bytes in Windows-1251 form).
const field_table& extended_plu_record();
// One message line (53 bytes in Windows-1251 form).
const field_table& message_record();

// The replies to the PLU getters: the records without their PLU number.
const field_table& plain_plu_reply(text_form form);
const field_table& extended_plu_reply();
// The message and line numbers that ask for one message line.
const field_table& message_key();

constexpr std::size_t plain_plu_size = 79;
constexpr std::size_t extended_plu_size = 82;
constexpr std::size_t message_size = 53;

}  // namespace plu_records
