// Local names of downloaded files: the folder of each scale's copies.

#include <string>
#include <vector>

#include "commands/files/transfer.h"
#include "core/device.h"

namespace {

// The serial number comes from the scale itself: a '/' or '\' in it must not
// lead outside the download folder or into a folder of its own choosing.
std::string safe_folder_name(std::string name)
{
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) c = '_';
    }
    return name;
}

}  // namespace

std::string get_subfolder_for_save(const std::vector<scale_connect_data>& list, const std::string& ip)
{
    for (const scale_connect_data& scale : list)
        if (scale.ip == ip) return safe_folder_name(scale.serial_number + "-" + scale.ip);
    // No caller passes an IP outside the list; answer as for a scale whose
    // serial number is still unknown.
    return safe_folder_name("-" + ip);
}
