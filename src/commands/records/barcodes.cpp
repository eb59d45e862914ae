// The barcode format number of the fixed-record command set: one byte that
// selects the structure of the barcodes the scale prints.

#include "codecs/byte_writer.h"
#include "core/device.h"
#include "core/fields.h"

namespace {

// The format numbers the scale knows.
const field_table barcode_format{ranged(ParamType::BCFormat, field_kind::u8, 6, 9, 15)};

}  // namespace

int device::get_barcode_structure()  // 37
{
    const command_log log("get_barcode_structure");
    return log.result(query(CommandType::get_barcode_structure, with_password,
                            [](scale_reply& r) { r.out.put_int(ParamType::BCFormat, r.data.byte()); }));
}

int device::set_barcode_structure()  // 38
{
    const command_log log("set_barcode_structure");
    if (!parameters_validation(ParamType::BCFormat, input_params))
        return refused_absent(ParamType::BCFormat, DataType::Int);
    device_utils::byte_writer payload;
    const int r = encode_fields(*this, barcode_format, payload);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(send_command(CommandType::set_barcode_structure, with_password, payload.take()));
}

namespace {

const command_registration records_barcodes{
    {CommandType::get_barcode_structure, &device::get_barcode_structure},
    {CommandType::set_barcode_structure, &device::set_barcode_structure},
};

}  // namespace
