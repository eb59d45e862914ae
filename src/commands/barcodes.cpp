// Barcode prefixes and the scale's default barcode structures in the JSON
// command set: the prefix type, the two-digit prefixes of weighed goods,
// piece goods and the total label, and the structures as a JSON text that
// passes through unread.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/byte_writer.h"
#include "core/device.h"

namespace {

// The prefix that each value of PrefixBC selects.
const ParamType selected_prefix[] = {
    ParamType::PrefixBCWeightGoods,
    ParamType::PrefixBCPieceGoods,
    ParamType::PrefixBCTotalLabel,
};

}  // namespace

int device::get_prefix_barcode_type()  // 35
{
    const command_log log("get_prefix_barcode_type");
    return log.result(query(CommandType::get_prefix_barcode_type, with_password,
                            [](scale_reply& reply) { reply.out.put_int(ParamType::PrefixBCType, reply.data.byte()); }));
}

int device::set_prefix_barcode_type()  // 36
{
    const command_log log("set_prefix_barcode_type");
    int type = 0;
    const int r = read_int_in(*this, ParamType::PrefixBCType, type, 0, 3);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u8(static_cast<std::uint8_t>(type));
    return log.result(send_command(CommandType::set_prefix_barcode_type, with_password, data.data()));
}

int device::get_params_prefixes_barcode()  // 39
{
    const command_log log("get_params_prefixes_barcode");
    return log.result(query(CommandType::get_params_prefixes_barcode, with_password, [](scale_reply& reply) {
        for (ParamType p : selected_prefix) reply.out.put_int(p, reply.data.byte());
    }));
}

int device::set_param_prefix_barcode()  // 40
{
    const command_log log("set_param_prefix_barcode");
    int which = 0;
    int r = read_int_in(*this, ParamType::PrefixBC, which, 0, 2);
    if (r != rc(ErrorType::Success)) return r;
    // Only the selected prefix is read: the other two may be absent.
    int prefix = 0;
    r = read_int_in(*this, selected_prefix[which], prefix, 0, 99);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    data.u8(static_cast<std::uint8_t>(which)).u8(static_cast<std::uint8_t>(prefix));
    return log.result(send_command(CommandType::set_param_prefix_barcode, with_password, data.data()));
}

int device::get_default_barcode_structures()  // 65
{
    const command_log log("get_default_barcode_structures");
    return log.result(query(CommandType::get_default_barcode_structures, with_password, [](scale_reply& reply) {
        const int n = reply.data.uint16_le();
        reply.out.put_bytes(ParamType::JsonBarcodeStructures, reply.data.byte_array(n));
    }));
}

int device::set_default_barcode_structures()  // 66
{
    const command_log log("set_default_barcode_structures");
    std::vector<std::byte> structures;
    const int r = get_bytes_array_param(ParamType::JsonBarcodeStructures, input_params, structures);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer data;
    if (!data.counted(structures))
        return refused_size(ParamType::JsonBarcodeStructures, DataType::ByteArray, structures.size(),
                            device_utils::byte_writer::max_counted);
    return log.result(send_command(CommandType::set_default_barcode_structures, with_password, data.data()));
}

namespace {

const command_registration barcodes{
    {CommandType::get_prefix_barcode_type, &device::get_prefix_barcode_type},
    {CommandType::set_prefix_barcode_type, &device::set_prefix_barcode_type},
    {CommandType::get_params_prefixes_barcode, &device::get_params_prefixes_barcode},
    {CommandType::set_param_prefix_barcode, &device::set_param_prefix_barcode},
    {CommandType::get_default_barcode_structures, &device::get_default_barcode_structures},
    {CommandType::set_default_barcode_structures, &device::set_default_barcode_structures},
};

}  // namespace
