// Local names of downloaded files: the folder of each scale's copies.

#include <string>
#include <vector>

#include "commands/files/local_files.h"
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

// A serial too long for the folder name is cut to `room` bytes, at the start
// of a character.
std::string fitted_serial(const std::string& serial, std::size_t room)
{
    if (serial.size() <= room) return serial;
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(serial[cut]) & 0xC0) == 0x80) --cut;
    return serial.substr(0, cut);
}

// The IP comes from the host's list; the same rule keeps it one component.
// It stays whole, so that the folders of two scales never meet; the serial
// gives way when both would not fit one name.
std::string safe_folder_name(const std::string& serial, const std::string& ip)
{
    const std::size_t room = ip.size() < local_files::name_limit ? local_files::name_limit - ip.size() - 1 : 0;
    return safe_serial(fitted_serial(serial, room)) + "-" + safe_serial(ip);
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
