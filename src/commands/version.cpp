#include "commands/version.h"

#include <cstddef>
#include <string>
#include <vector>

#include "codecs/device_utils.h"
#include "core/device.h"
#include "logging/logger.h"

std::wstring get_const_driver_version()
{
    return L"1.3.7152 28.04.26";
}

std::wstring get_const_driver_version_without_date()
{
    return L"1.3.7152";
}

std::wstring get_const_driver_protocol_version()
{
    return L"0.17";
}

std::wstring get_const_db_schema_version()
{
    return L"0.10";
}

// ---- Protocol version (44) and serial number (47) of the scales.

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

int device::get_quorvix_protocol_version()
{
    Logger::i("'get_quorvix_protocol_version' start");
    int result = send_command(true, command_frames.at(CommandType::get_quorvix_protocol_version));
    if (result != 0 && result != -111) {
        Logger::e("get_quorvix_protocol_version " + std::to_string(result));
        return result;
    }

    int driver_major = 0;
    int driver_minor = 0;
    const bool comparable = parse_version(driver_protocol_version, driver_major, driver_minor);
    const std::string driver_text = device_utils::str(driver_protocol_version);

    for (auto& [ip, scale_result] : results) {
        if (scale_result != 0) continue;
        const auto reply = responses.find(ip);
        if (reply == responses.end()) continue;
        if (reply->second.size() < 6) {
            result = reply_too_short(ip);
            continue;
        }
        device_utils::byte_reader reader(reply->second, 4);
        const int major = reader.byte();
        const int minor = reader.byte();
        const std::string scale_text = std::to_string(major) + "." + std::to_string(minor);
        // Each scale overwrites the outputs: the last in IP-text order stays.
        set_string_param(ParamType::ScaleProtocolVersion, output_params, device_utils::wstr(scale_text));
        set_string_param(ParamType::DriverProtocolVersion, output_params, driver_protocol_version);
        if (comparable) {
            if (major < driver_major || (major == driver_major && minor < driver_minor))
                scale_result = -108;
            else if (major > driver_major || (major == driver_major && minor > driver_minor))
                scale_result = -107;
        }
        Logger::i("Version of the protocol on the scales: " + scale_text +
                  ". Protocol version supported by the driver: " + driver_text);
    }
    if (result != 0 && result != -111) Logger::e("get_quorvix_protocol_version " + std::to_string(result));
    return result;
}

int device::get_serial_number()
{
    Logger::i("'get_serial_number' start");
    int result = send_command(true, command_frames.at(CommandType::get_serial_number));
    if (result != 0 && result != -111) {
        Logger::e("get_serial_number " + std::to_string(result));
        return result;
    }

    for (const auto& [ip, scale_result] : results) {
        if (scale_result != 0) continue;
        const auto reply = responses.find(ip);
        if (reply == responses.end()) continue;
        // LEN - 2 bytes from offset 4 (253 for LEN 0xFF), never past the reply's end.
        const int len = std::to_integer<int>(reply->second[1]);
        const std::size_t count = len < 3 ? 0 : static_cast<std::size_t>(len - 2);
        if (reply->second.size() < 4 + count) {
            result = reply_too_short(ip);
            continue;
        }
        device_utils::byte_reader reader(reply->second, 4);
        std::string serial = reader.string(static_cast<int>(count));
        auto lock = lock_state();
        for (scale_connect_data& scale : ip_address_list)
            if (scale.ip == ip) scale.serial_number = std::move(serial);
    }

    std::string text;
    if (ip_address_list.size() == 1) {
        text = ip_address_list.front().serial_number;
    } else {
        for (const scale_connect_data& scale : ip_address_list) text += scale.ip + ": " + scale.serial_number + "; ";
    }
    set_string_param(ParamType::SerialNumber, output_params, device_utils::wstr(text));
    if (result != 0 && result != -111) Logger::e("get_serial_number " + std::to_string(result));
    return result;
}
