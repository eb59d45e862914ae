#pragma once
// Collecting records into the PLU and message block buffers of the input map.

#include <cstddef>
#include <vector>

#include "commands/records/products/records.h"
#include "core/vocab/types.h"

class device;

namespace plu_records {

// Appends one built record to the buffer under `key` (PluBlock or
// MessageBlock; absent counts as empty) and notes it beside the bytes.
// 0, or -8 when the buffer holds another kind of value (nothing appended).
int collect_record(device& d, ParamType key, const std::vector<std::byte>& record, text_form form);

}  // namespace plu_records
