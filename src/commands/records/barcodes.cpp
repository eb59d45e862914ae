// The barcode format number of the fixed-record command set: one byte that
// selects the structure of the barcodes the scale prints.

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/byte_writer.h"
#include "core/device.h"

namespace {

// The format numbers the scale knows.
bool is_barcode_format(int value)
{
    return (value >= 6 && value <= 9) || value == 15;
}

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
    if (!parameters_validation(ParamType::BCFormat, input_params)) return rc(ErrorType::InvalidParameterValue);
    int format = 0;
    const int r = get_int_param(ParamType::BCFormat, input_params, format);
    if (r != rc(ErrorType::Success)) return r;
    if (!is_barcode_format(format))
        return refused_parameter(ParamType::BCFormat, DataType::Int, std::to_string(format), "6 to 9 or 15");
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(format));
    return log.result(send_command(CommandType::set_barcode_structure, with_password, payload.take()));
}

namespace {

const command_registration records_barcodes{
    {CommandType::get_barcode_structure, &device::get_barcode_structure},
    {CommandType::set_barcode_structure, &device::set_barcode_structure},
};

}  // namespace
