// PLU records of the fixed-record command set.

#include <string>

#include "codecs/device_utils.h"
#include "core/device.h"
#include "logging/logger.h"

int device::get_plu_count()
{
    Logger::i("'get_plu_count' start");
    int result = send_command(true, command_frames.at(CommandType::get_plu_count));
    if (result == 0) {
        // The scale whose IP text sorts first; its reply must hold the u16 at offset 4.
        if (responses.empty()) {
            result = -1;
        } else {
            const auto& [ip, reply] = *responses.begin();
            if (reply.size() < 6) {
                result = reply_too_short(ip);
            } else {
                device_utils::byte_reader reader(reply, 4);
                result = set_int_param(ParamType::PLUCount, output_params, reader.uint16_le());
            }
        }
    }
    if (result != 0) Logger::e("get_plu_count " + std::to_string(result));
    return result;
}
