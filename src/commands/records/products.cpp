// PLU and message records of the fixed-record command set.

#include "core/device.h"

int device::get_plu_count()  // 29
{
    const command_log log("get_plu_count");
    return log.result(query(CommandType::get_plu_count, with_password,
                            [](scale_reply& r) { r.out.put_int(ParamType::PLUCount, r.data.uint16_le()); }));
}

namespace {

const command_registration records_products{
    {CommandType::get_plu_count, &device::get_plu_count},
};

}  // namespace
