#pragma once
// Collecting records into the PLU and message block buffers of the input map.

#include <cstddef>
#include <vector>

#include "commands/records/products/records.h"
#include "core/vocab/types.h"

class device;

namespace plu_records {

// The most records one block frame carries (its count byte's limit).
constexpr std::size_t plu_block_most = 6;
constexpr std::size_t message_block_most = 8;

// 0 when the block under `key` (PluBlock or MessageBlock) can take one more
// record; -104 when it already holds as many as its block command sends, so
// that a record it could never send is refused before anything is built or
// asked; -8 when the buffer holds another kind of value.
int block_has_room(device& d, ParamType key);

// Appends one built record to the buffer under `key` (PluBlock or
// MessageBlock; absent counts as empty) and notes it beside the bytes.
// 0, or -8 when the buffer holds another kind of value (nothing appended).
int collect_record(device& d, ParamType key, const std::vector<std::byte>& record, text_form form);

// 0 when the buffer under `key` may go under a frame of `form`; -104 when
// records collected in the other form are in it, which the scale could not
// read beside the frame's own. Bytes the host stored go as they stand.
int check_block_form(device& d, ParamType key, text_form form);

// The single-record commands (27, 98, 31, 101): the buffer under `key`, as it
// stands after their own record was collected, without a count byte.
int send_collected(device& d, ParamType key, CommandType type);

}  // namespace plu_records
