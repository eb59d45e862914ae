// File upload: one local file or the product document to every scale of the
// list (48), and every file of a local folder tree (113).

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "codecs/byte_writer.h"
#include "codecs/device_utils.h"
#include "commands/files/scale_files.h"
#include "commands/files/transfer.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

using bytes = std::vector<std::byte>;

struct file_type_row {
    int file_type;
    const char* log_name;
    CommandType command;
    bool password;
    FileSendState first;
};

const file_type_row file_types[] = {
    {0, "send_any_file", CommandType::upload_any_file, true, FileSendState::Name},
    {1, "send_config_file", CommandType::upload_config_file, false, FileSendState::Parameters},
    {2, "send_update_file", CommandType::upload_update_file, true, FileSendState::Parameters},
    {4, "send_products_file", CommandType::upload_products_file, true, FileSendState::Parameters},
    {5, "send_velunor_backup_file", CommandType::upload_velunor_backup_file, true, FileSendState::Parameters},
    {6, "send_categories_file", CommandType::upload_categories_file, true, FileSendState::Parameters},
    {7, "send_scale_backup_file", CommandType::upload_scale_backup_file, true, FileSendState::BackupParameters},
    {8, "send_messages_file", CommandType::upload_messages_file, true, FileSendState::Parameters},
    {9, "send_marking_codes_file", CommandType::upload_marking_codes_file, true, FileSendState::ItemCode},
    {10, "send_json_items_file", CommandType::upload_json_items_file, true, FileSendState::Parameters},
    {11, "send_products_csv_loader_file", CommandType::upload_products_csv_loader_file, true,
     FileSendState::Parameters},
    {14, "label_image", CommandType::upload_label_image, true, FileSendState::Parameters},
    {15, "product_buttons_file_csv_loader", CommandType::upload_product_buttons_file, true, FileSendState::Parameters},
};

const file_type_row* find_file_type(int type)
{
    for (const file_type_row& row : file_types)
        if (row.file_type == type) return &row;
    return nullptr;
}

// The one-byte options of the parameters packet, in tag order around the size.
struct option_tag {
    std::uint8_t tag;
    ParamType param;
};
constexpr option_tag options_before_size[] = {
    {0x01, ParamType::ItemsAddingType},
    {0x02, ParamType::VelunorBackupType},
    {0x03, ParamType::ScaleUpdateType},
};
constexpr option_tag options_after_size[] = {
    {0x06, ParamType::PictureNumber},
    {0x07, ParamType::FileEncodingType},
};
constexpr std::uint8_t size_tag = 0x04;
constexpr std::uint8_t shelf_life_tag = 0x08;

std::uint8_t shelf_life_code(const std::string& unit)
{
    if (unit == "HOURS") return 1;
    if (unit == "DAYS") return 2;
    if (unit == "WEEKS") return 3;
    if (unit == "MONTHS") return 4;
    if (unit == "YEARS") return 5;
    if (unit == "NOT_LIMITED") return 6;
    return 2;
}

std::string with_forward_slashes(std::string text)
{
    device_utils::replace(text, "\\", "/");
    return text;
}

// The backup flags behind their sub-code.
bytes backup_flags(const bytes& chars)
{
    bytes data{std::byte{file_subcode::backup_parameters}};
    const bytes flags = pack_backup_flags(chars);
    data.insert(data.end(), flags.begin(), flags.end());
    return data;
}

bytes data_packet(const bytes& content, std::size_t k, std::size_t n)
{
    const std::size_t offset = (k - 1) * file_packet_size;
    const std::size_t length = std::min(file_packet_size, content.size() - offset);
    device_utils::byte_writer w;
    w.u8(file_subcode::data)
        .u8(k == n ? 1 : 0)
        .u32(static_cast<std::uint32_t>(offset))
        .u16(static_cast<std::uint16_t>(length));
    bytes packet = w.take();
    packet.insert(packet.end(), content.begin() + static_cast<long>(offset),
                  content.begin() + static_cast<long>(offset + length));
    return packet;
}

std::string text_of(const bytes& value)
{
    return device_utils::parse_string_from_byte_array(value);
}

}  // namespace

namespace {

// The inputs of one upload, read and checked before anything is sent.
struct upload_plan {
    const file_type_row* row = nullptr;
    bytes content;
    bool from_file = false;
    std::string file_path;
    bytes name_data;
    bytes parameters_data;
    bool poll = true;
    bool remove_after = false;
};

// A parameter of another kind than `kind` counts as absent.
bool given_as(device& d, ParamType p, DataType kind)
{
    return d.checkParamInMap(p, d.input_params, kind, false) && d.checkParamDataType(p, d.input_params) == kind;
}

int read_content(device& d, upload_plan& plan)
{
    if (given_as(d, ParamType::FilePath, DataType::ByteArray)) {
        bytes path;
        const int r = d.get_bytes_array_param(ParamType::FilePath, d.input_params, path);
        if (r != rc(ErrorType::Success)) return r;
        plan.file_path = text_of(path);
        plan.from_file = true;
        if (read_local_file(plan.file_path, plan.content) == file_read_status::too_large)
            return rc(ErrorType::IncorrectFile);
        return rc(ErrorType::Success);
    }
    if (!given_as(d, ParamType::ProductDocument, DataType::ByteArray)) return rc(ErrorType::InvalidParameterValue);
    return d.get_bytes_array_param(ParamType::ProductDocument, d.input_params, plan.content);
}

int build_parameters(device& d, upload_plan& plan, const bytes& digest)
{
    device_utils::byte_writer w;
    w.u8(file_subcode::parameters).raw(digest);
    auto add_options = [&](const auto& tags) {
        for (const option_tag& t : tags) {
            if (!given_as(d, t.param, DataType::Int)) continue;
            int value = 0;
            const int r = d.get_int_param(t.param, d.input_params, value);
            if (r != rc(ErrorType::Success)) return r;
            // One byte on the wire: a wider value would reach the scale as
            // another option than the host chose.
            if (!device_utils::byte_writer::fits(value, 1, false)) {
                Logger::i("Invalid option parameter " + std::to_string(static_cast<int>(t.param)) + ": " +
                          std::to_string(value));
                return rc(ErrorType::InvalidParameterValue);
            }
            w.u8(t.tag).u8(static_cast<std::uint8_t>(value));
            if (t.param == ParamType::ScaleUpdateType && plan.row->file_type == 2 && value == 1) plan.poll = false;
        }
        return rc(ErrorType::Success);
    };
    int r = add_options(options_before_size);
    if (r != rc(ErrorType::Success)) return r;
    w.u8(size_tag);
    w.raw(device_utils::convert_to_bytes_le_64(static_cast<std::int64_t>(plan.content.size())));
    r = add_options(options_after_size);
    if (r != rc(ErrorType::Success)) return r;
    if (given_as(d, ParamType::ShelfLifeType, DataType::ByteArray)) {
        bytes unit;
        r = d.get_bytes_array_param(ParamType::ShelfLifeType, d.input_params, unit);
        if (r != rc(ErrorType::Success)) return r;
        w.u8(shelf_life_tag).u8(shelf_life_code(text_of(unit)));
    }
    plan.parameters_data = w.take();
    return rc(ErrorType::Success);
}

int build_name(device& d, upload_plan& plan)
{
    std::string folder;
    if (given_as(d, ParamType::FolderOnScale, DataType::ByteArray)) {
        bytes value;
        const int r = d.get_bytes_array_param(ParamType::FolderOnScale, d.input_params, value);
        if (r != rc(ErrorType::Success)) return r;
        folder = with_forward_slashes(text_of(value));
        if (!folder.empty() && folder.back() != '/') folder += '/';
    }
    const std::string path = with_forward_slashes(plan.file_path);
    const std::size_t slash = path.rfind('/');
    const std::string target = folder + (slash == std::string::npos ? path : path.substr(slash + 1));
    device_utils::byte_writer w;
    w.u8(file_subcode::name);
    if (!w.counted(target)) {
        Logger::i("Invalid target path length: " + std::to_string(target.size()));
        return rc(ErrorType::InvalidParameterValue);
    }
    plan.name_data = w.take();
    return rc(ErrorType::Success);
}

void remove_local_file(const std::string& path)
{
    std::error_code ec;
    const bool there = std::filesystem::exists(path, ec);
    if (ec)
        Logger::e("Ошибка при удалении файла: " + ec.message());
    else if (!there)
        Logger::e("Файл не найден: " + path);
    else if (!std::filesystem::remove(path, ec) && ec)
        Logger::e("Ошибка при удалении файла: " + ec.message());
}

}  // namespace

int device::send_file()  // 48
{
    const command_log log("send_file");
    try {
        int file_type = 0;
        int r = get_int_param(ParamType::FileType, input_params, file_type);
        if (r != rc(ErrorType::Success)) return r;

        if (file_type == 10 && !parameters_validation(ParamType::FilePath, input_params) &&
            input_params.find(ParamType::ProductDocument) == input_params.end())
            fill_byte_array_for_json();

        upload_plan plan;
        r = read_content(*this, plan);
        if (r != rc(ErrorType::Success)) return r;
        if (plan.content.empty()) return rc(ErrorType::RequestedFileEmpty);
        const bytes digest = get_file_hash(plan.content);

        plan.row = find_file_type(file_type);
        if (plan.row == nullptr) return rc(ErrorType::InvalidParameterValue);
        FileSendState state = plan.row->first;
        if (file_type == 7 && !parameters_validation(ParamType::BackupParams, input_params))
            state = FileSendState::Parameters;
        r = build_parameters(*this, plan, digest);
        if (r != rc(ErrorType::Success)) return r;
        if (state == FileSendState::Name) {
            r = build_name(*this, plan);
            if (r != rc(ErrorType::Success)) return r;
        }
        if (plan.from_file && given_as(*this, ParamType::DeletingFileFlag, DataType::Int)) {
            int flag = 0;
            plan.remove_after = get_int_param(ParamType::DeletingFileFlag, input_params, flag) == 0 && flag == 1;
        }

        const std::string name = plan.row->log_name;
        const CommandType file_command = plan.row->command;
        const bool password = plan.row->password;
        Logger::i(name + " start");

        // The transfer: the opening packet is counted -1, the parameters 0,
        // the data packets 1 to n.
        const long long n = static_cast<long long>((plan.content.size() + file_packet_size - 1) / file_packet_size);
        for (long long k = 0; k <= n; ++k) {
            bytes data;
            FileSendState next = state;
            switch (state) {
                case FileSendState::Name:
                    data = plan.name_data;
                    --k;
                    next = FileSendState::Parameters;
                    break;
                case FileSendState::BackupParameters: {
                    bytes flags;
                    r = get_bytes_array_param(ParamType::BackupParams, input_params, flags);
                    if (r != rc(ErrorType::Success)) return r;
                    data = backup_flags(flags);
                    --k;
                    next = FileSendState::Parameters;
                    break;
                }
                case FileSendState::ItemCode: {
                    int code = 0;
                    r = get_int_param(ParamType::ItemCode, input_params, code);
                    if (r != rc(ErrorType::Success)) return r;
                    if (code < 1 || code > 9999999) {
                        Logger::i("Invalid ItemCode parameter: " + std::to_string(code));
                        return rc(ErrorType::InvalidParameterValue);
                    }
                    device_utils::byte_writer w;
                    w.u8(file_subcode::item_code).u32(static_cast<std::uint32_t>(code));
                    data = w.take();
                    --k;
                    next = FileSendState::Parameters;
                    break;
                }
                case FileSendState::Parameters:
                    data = plan.parameters_data;
                    next = FileSendState::Data;
                    break;
                default:
                    data = data_packet(plan.content, static_cast<std::size_t>(k), static_cast<std::size_t>(n));
                    break;
            }
            r = send_unless_stopped(*this, password, file_command, data);
            const std::string pack = name + " pack " + std::to_string(k) + "/" + std::to_string(n);
            if (r == rc(ErrorType::Success)) {
                Logger::i(pack + ": OK");
            } else if (r == rc(ErrorType::BroadcastError)) {
                for (const auto& [ip, code] : results)
                    Logger::i(pack + " for ip = " + ip + ": " + std::to_string(code));
            } else {
                Logger::e(pack + ": " + std::to_string(r));
                return r;
            }
            state = next;
        }

        Logger::i(name + " getting command status");
        // Scales that answered the status request itself with "Unknown
        // command": the file is there, its processing result is not known.
        std::set<std::string> status_unknown;
        if (plan.poll) {
            constexpr int tries = 500;
            const bytes status_request{std::byte{file_subcode::status}};
            for (int attempt = 1; attempt <= tries; ++attempt) {
                Logger::i("Try: " + std::to_string(attempt) + "/" + std::to_string(tries));
                send_unless_stopped(*this, password, file_command, status_request);
                bool pending = false;
                for (auto& [ip, code] : results) {
                    const auto reply = responses.find(ip);
                    if (code == rc(ErrorType::DeviceTemporarilyUnresponsive)) {
                        pending = true;
                    } else if (code == rc(ErrorType::UnknownCommand)) {
                        if (reply != responses.end()) status_unknown.insert(ip);
                    } else if (code == rc(ErrorType::Success) && reply != responses.end()) {
                        device_utils::byte_reader in(reply->second, reply_data_offset(reply->second));
                        if (!in.has(1)) {
                            code = rc(ErrorType::FileOperationSucceeded);
                            continue;
                        }
                        const int status = in.byte();
                        Logger::i("Command status for IP = " + ip + ": " + std::to_string(status));
                        if (status == 1) {
                            pending = true;
                            if (attempt == tries) code = rc(ErrorType::FileOperationFailed);
                        } else if (status == 2) {
                            // The length is the scale's word: never read past its reply.
                            const int length = in.has(2) ? in.uint16_le() : 0;
                            const int available = static_cast<int>(in.remaining());
                            const std::string text = in.string(std::min(length, available));
                            if (length > 0) Logger::e("Error message: " + text);
                            code = rc(ErrorType::FileOperationFailed);
                        } else {
                            code = rc(ErrorType::FileOperationSucceeded);
                        }
                    }
                }
                if (!pending || attempt == tries) break;
                sliced_pause(file_transfer_waits().status_next, stop_requested);
            }
        }

        int total = rc(ErrorType::Success);
        const bool group = results.size() > 1;
        for (auto& [ip, code] : results) {
            if (code == rc(ErrorType::FileOperationSucceeded)) {
                code = rc(ErrorType::Success);
                continue;
            }
            if (code == rc(ErrorType::Success)) continue;
            if (code == rc(ErrorType::UnknownCommand) && status_unknown.count(ip) != 0)
                code = rc(ErrorType::FileSentResultUnknown);
            total = group ? rc(ErrorType::BroadcastError) : code;
        }

        if (total == rc(ErrorType::Success) && plan.remove_after) remove_local_file(plan.file_path);
        return total;
    } catch (const std::exception& e) {
        Logger::e(std::string("send_file err: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
}

int device::send_all_files_from_folder()  // 113
{
    const command_log log("send_all_files_from_folder");
    if (!parameters_validation(ParamType::FileType, input_params)) set_int_param(ParamType::FileType, input_params, 0);
    bytes folder;
    const int r = get_bytes_array_param(ParamType::FolderPath, input_params, folder);
    if (r != rc(ErrorType::Success)) return r;
    std::string target;
    if (given_as(*this, ParamType::FolderOnScale, DataType::ByteArray)) {
        bytes value;
        if (get_bytes_array_param(ParamType::FolderOnScale, input_params, value) == rc(ErrorType::Success))
            target = text_of(value);
    }
    return send_all_files_from_folder(text_of(folder), target);
}

int device::send_all_files_from_folder(const std::string& local, const std::string& target)
{
    namespace fs = std::filesystem;
    const std::vector<std::string> entries = get_file_list(local);
    Logger::i("file_list size = " + std::to_string(entries.size()));
    // The worst result of the walk: a file that failed on some scales is not
    // hidden by later files that went well.
    int worst = rc(ErrorType::Success);
    for (const std::string& entry : entries) {
        std::error_code ec;
        const fs::file_status own = fs::symlink_status(entry, ec);
        if (ec) {
            Logger::e("send_all_files_from_folder err: " + ec.message() + ": " + entry);
            return rc(ErrorType::UnexpectedDriverError);
        }
        int r;
        if (fs::is_directory(own)) {
            r = send_all_files_from_folder(entry, target + "/" + fs::path(entry).filename().string());
        } else {
            // Links to folders are not followed (a link to an enclosing
            // folder would upload the tree again and again); only regular
            // files are read (a FIFO would block the host's thread).
            const fs::file_status target_status = fs::is_symlink(own) ? fs::status(entry, ec) : own;
            if (!fs::is_regular_file(target_status)) {
                Logger::i("file path = " + entry + ": not a regular file, skipped");
                continue;
            }
            Logger::i("file path = " + entry);
            set_bytes_array_param(ParamType::FolderOnScale, input_params,
                                  device_utils::parse_byte_array_from_string(target));
            set_bytes_array_param(ParamType::FilePath, input_params, device_utils::parse_byte_array_from_string(entry));
            r = send_file();
        }
        if (r == rc(ErrorType::BroadcastError)) {
            worst = r;
        } else if (r != rc(ErrorType::Success)) {
            return r;
        }
    }
    return worst;
}

namespace {

const command_registration files_upload{
    {CommandType::send_file, &device::send_file},
    {CommandType::send_all_files_from_folder, static_cast<command_method>(&device::send_all_files_from_folder)},
};

}  // namespace
