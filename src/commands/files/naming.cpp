// Local names of downloaded files: the folder of each scale's copies.

#include <string>
#include <vector>

#include "commands/files/transfer.h"
#include "core/device.h"

namespace {

// The serial number comes from the scale itself: it becomes one path
// component, never "." or "..", so that no scale can lead a download outside
// the download folder or into a folder of its own choosing. Only what could
// do that is replaced: a slash, a zero byte and control characters; letters
// of any script stay.
std::string safe_serial(std::string serial)
{
    for (char& c : serial) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F) c = '_';
    }
    if (serial == "." || serial == "..") serial.assign(serial.size(), '_');
    return serial;
}

// The IP comes from the host's list; the same rule keeps it one component.
std::string safe_folder_name(const std::string& serial, const std::string& ip)
{
    return safe_serial(serial) + "-" + safe_serial(ip);
}

}  // namespace

std::string get_subfolder_for_save(const std::vector<scale_connect_data>& list, const std::string& ip)
{
    for (const scale_connect_data& scale : list)
        if (scale.ip == ip) return safe_folder_name(scale.serial_number, scale.ip);
    // No caller passes an IP outside the list; answer as for a scale whose
    // serial number is still unknown.
    return safe_folder_name("", ip);
}
