// The scale protocol version (44) and serial numbers (47): the two commands
// that connect runs for every scale of the list.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "codecs/device_utils.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

// The first two pieces of a "major.minor" text, split at every "." with
// empty pieces kept; false when there are fewer than two or they are not
// decimal numbers.
bool parse_version(const std::wstring& text, int& major, int& minor)
{
    std::vector<std::wstring> pieces(1);
    for (wchar_t c : text) {
        if (c == L'.')
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    if (pieces.size() < 2) return false;
    int* out[2] = {&major, &minor};
    for (int k = 0; k < 2; ++k) {
        const std::wstring& piece = pieces[static_cast<std::size_t>(k)];
        if (piece.empty() || piece.size() > 9) return false;
        int value = 0;
        for (wchar_t c : piece) {
            if (c < L'0' || c > L'9') return false;
            value = value * 10 + static_cast<int>(c - L'0');
        }
        *out[k] = value;
    }
    return true;
}

}  // namespace

int device::get_quorvix_protocol_version()  // 44
{
    const command_log log("get_quorvix_protocol_version");
    int result = send_command(CommandType::get_quorvix_protocol_version, with_password);
    if (result != rc(ErrorType::Success) && result != rc(ErrorType::BroadcastError)) return log.result(result);

    int driver_major = 0;
    int driver_minor = 0;
    const bool comparable = parse_version(driver_protocol_version, driver_major, driver_minor);
    const std::string driver_text = device_utils::str(driver_protocol_version);

    // Each scale overwrites the outputs: the last in IP-text order stays.
    result = read_each_reply(
        [&](scale_reply& r) {
            const int major = r.data.byte();
            const int minor = r.data.byte();
            const std::string scale_text = std::to_string(major) + "." + std::to_string(minor);
            r.out.put_string(ParamType::ScaleProtocolVersion, device_utils::wstr(scale_text));
            r.out.put_string(ParamType::DriverProtocolVersion, driver_protocol_version);
            if (comparable) {
                if (major < driver_major || (major == driver_major && minor < driver_minor))
                    r.result = rc(ErrorType::OutdatedScaleProtocol);
                else if (major > driver_major || (major == driver_major && minor > driver_minor))
                    r.result = rc(ErrorType::NewerScaleProtocol);
            }
            Logger::i("Version of the protocol on the scales: " + scale_text +
                      ". Protocol version supported by the driver: " + driver_text);
        },
        result);
    if (result != rc(ErrorType::BroadcastError)) log.result(result);
    return result;
}

int device::get_serial_number()  // 47
{
    const command_log log("get_serial_number");
    int result = send_command(CommandType::get_serial_number, with_password);
    if (result != rc(ErrorType::Success) && result != rc(ErrorType::BroadcastError)) return log.result(result);

    // Gathered first and stored in one pass over the list: a list of
    // thousands of scales is not walked once per reply.
    std::map<std::string, std::string> serials;
    result = read_each_reply(
        [&](scale_reply& r) {
            // LEN - 2 bytes from the data (253 for LEN 0xFF); zero bytes dropped.
            const int len = std::to_integer<int>(r.frame[1]);
            serials[r.ip] = r.data.string(len < 3 ? 0 : len - 2);
        },
        result);
    if (!serials.empty()) {
        auto lock = lock_state();
        for (scale_connect_data& scale : ip_address_list) {
            const auto found = serials.find(scale.ip);
            if (found != serials.end()) scale.serial_number = found->second;
        }
    }

    // A lone scale whose reply was cut short has no serial number to show.
    if (result == rc(ErrorType::InvalidResponseLength)) return log.result(result);
    std::string text;
    if (ip_address_list.size() == 1) {
        text = ip_address_list.front().serial_number;
    } else {
        for (const scale_connect_data& scale : ip_address_list) text += scale.ip + ": " + scale.serial_number + "; ";
    }
    set_string_param(ParamType::SerialNumber, output_params, device_utils::wstr(text));
    if (result != rc(ErrorType::BroadcastError)) log.result(result);
    return result;
}

namespace {

const command_registration version_commands{
    {CommandType::get_quorvix_protocol_version, &device::get_quorvix_protocol_version},
    {CommandType::get_serial_number, &device::get_serial_number},
};

}  // namespace
