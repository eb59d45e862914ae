// The scale's own file system: listing a folder (58), the root folder path
// (109), backups and their status (85, 86), deleting a file or folder (114)
// and creating a folder (115).

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "codecs/byte_writer.h"
#include "codecs/device_utils.h"
#include "commands/files/scale_files.h"
#include "commands/files/transfer.h"
#include "core/device.h"
#include "core/params.h"
#include "logging/logger.h"

namespace {

using bytes = std::vector<std::byte>;

// u16 n + the path bytes. A path the 16-bit count cannot describe would reach
// the scale as another, shorter path: refused with -104.
int path_request(ParamType p, const bytes& path, bytes& out)
{
    device_utils::byte_writer w;
    if (!w.counted(path))
        return refused_size(p, DataType::ByteArray, path.size(), device_utils::byte_writer::max_counted);
    out = w.take();
    return rc(ErrorType::Success);
}

// Delete and create differ only in their command and their name.
int path_command(device& d, CommandType type, const char* name)
{
    const command_log log(name, error_line::name_error);
    bytes path;
    int r = d.get_bytes_array_param(ParamType::FolderOnScale, d.input_params, path);
    if (r != rc(ErrorType::Success)) return r;
    bytes data;
    r = path_request(ParamType::FolderOnScale, path, data);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.send_command(type, with_password, data));
}

}  // namespace

bytes pack_backup_flags(const bytes& value)
{
    std::uint8_t flags[3] = {};
    for (std::size_t i = 0; i < value.size() && i < 24; ++i)
        if ((std::to_integer<unsigned>(value[i]) & 1u) != 0)
            flags[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
    return {std::byte{flags[0]}, std::byte{flags[1]}, std::byte{flags[2]}};
}

scale_file_limit_values& scale_file_limits()
{
    static scale_file_limit_values limits;
    return limits;
}

namespace {

// What one listing reply brought.
struct listing_part {
    unsigned total = 0;  // entries in the folder, as the scale announced
    unsigned count = 0;  // entries in this reply, as the scale announced
    std::string text;  // "<type>:<name>/" for each entry read
};

void read_listing_part(scale_reply& reply, listing_part& part)
{
    part.total = reply.data.uint16_le();
    part.count = reply.data.uint16_le();
    for (unsigned k = 0; k < part.count; ++k) {
        const int type = reply.data.byte();
        const int length = reply.data.byte();
        if (length == 0) break;
        part.text += static_cast<char>((0x30 + type) & 0xFF);
        part.text += ':';
        part.text += reply.data.string(length);
        part.text += '/';
    }
}

// Asks for the next part, again after a pause while the scale answers 172.
int ask_for_part(device& d, const bytes& data, std::chrono::steady_clock::time_point deadline,
                 std::chrono::milliseconds pause)
{
    for (;;) {
        const int r = send_unless_stopped(d, CommandType::get_contents_list_from_folder, with_password, data);
        if (r != rc(ErrorType::InProgress)) return r;
        if (std::chrono::steady_clock::now() >= deadline) {
            Logger::e("get_contents_list_from_folder: the scale did not answer in time");
            return r;
        }
        sliced_pause(pause, d.stop_requested);
    }
}

// The parts of a listing appended to `listing` until they add up to the
// total. Bounded: a scale answering 172 for ever, or counts that never add
// up, must not hold the host's thread. Each result-0 reply with entries
// moves the running count on, and the total is 16-bit, so that loop ends by
// itself; the deadline covers the waits.
int gather_listing(device& d, const bytes& data, std::string& listing)
{
    const scale_file_limit_values limits = scale_file_limits();
    const auto deadline = std::chrono::steady_clock::now() + limits.listing_deadline;
    unsigned running = 0;
    for (;;) {
        int r = ask_for_part(d, data, deadline, limits.listing_pause);
        if (r != rc(ErrorType::Success)) return r;
        listing_part part;
        std::string ip;
        r = d.read_first_reply([&](scale_reply& reply) {
            read_listing_part(reply, part);
            ip = reply.ip;
        });
        if (r != rc(ErrorType::Success)) return r;
        listing += part.text;
        running += part.count;
        if (running >= part.total) return rc(ErrorType::Success);
        if (part.count == 0) {
            // The scale stopped short of the total it announced: what came
            // is kept, but the listing is not whole.
            Logger::w("get_contents_list_from_folder: listing ended after " + std::to_string(running) + " of " +
                      std::to_string(part.total) + " entries");
            // The scale's own entry says so too, for the result list (82).
            d.results[ip] = rc(ErrorType::InvalidResponseLength);
            return rc(ErrorType::InvalidResponseLength);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            Logger::e("get_contents_list_from_folder: the listing did not end in time");
            return rc(ErrorType::InProgress);
        }
    }
}

}  // namespace

int device::get_contents_list_from_folder()  // 58
{
    const command_log log("get_contents_list_from_folder");
    try {
        bytes path;
        int r = get_bytes_array_param(ParamType::QuorvixFolderContentPath, input_params, path);
        if (r == rc(ErrorType::RequiredParameterMissing))
            path.clear();
        else if (r != rc(ErrorType::Success))
            return r;
        bytes data;
        r = path_request(ParamType::QuorvixFolderContentPath, path, data);
        if (r != rc(ErrorType::Success)) return r;
        std::string listing;
        r = log.result(gather_listing(*this, data, listing));
        // What came before a failure is kept.
        if (!listing.empty())
            set_bytes_array_param(ParamType::FolderContent, output_params,
                                  device_utils::parse_byte_array_from_string(listing));
        return r;
    } catch (const std::exception& e) {
        Logger::e(std::string("get_contents_list_from_folder err: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
}

int device::get_quorvix_folder_path()  // 109
{
    const command_log log("get_quorvix_folder_path");
    return log.result(query(CommandType::get_quorvix_folder_path, with_password, [](scale_reply& r) {
        const int n = r.data.byte();
        r.out.put_bytes(ParamType::FolderOnScale, r.data.byte_array(n));
    }));
}

int device::create_backup()  // 85
{
    const command_log log("create_backup", error_line::name_error);
    bytes value;
    const int r = get_bytes_array_param(ParamType::BackupParams, input_params, value);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(send_command(CommandType::create_backup, with_password, pack_backup_flags(value)));
}

int device::get_backup_status()  // 86
{
    const command_log log("get_backup_status", error_line::name_error);
    const int r = send_command(CommandType::get_backup_status, with_password);
    // 172: the backup is still being made; the download polls it.
    if (r != rc(ErrorType::Success) && r != rc(ErrorType::InProgress)) log.error(r);
    return r;
}

int device::delete_file_or_folder()  // 114
{
    return path_command(*this, CommandType::delete_file_or_folder, "delete_file_or_folder");
}

int device::create_folder()  // 115
{
    return path_command(*this, CommandType::create_folder, "create_folder");
}

namespace {

const command_registration files_folders{
    {CommandType::get_contents_list_from_folder, &device::get_contents_list_from_folder},
    {CommandType::get_quorvix_folder_path, &device::get_quorvix_folder_path},
    {CommandType::create_backup, &device::create_backup},
    {CommandType::get_backup_status, &device::get_backup_status},
    {CommandType::delete_file_or_folder, &device::delete_file_or_folder},
    {CommandType::create_folder, &device::create_folder},
};

}  // namespace
