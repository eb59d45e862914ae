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
#include "core/params.h"
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

// A parameter of another kind than `kind` counts as absent.
bool given_as(device& d, ParamType p, DataType kind)
{
    return d.checkParamInMap(p, d.input_params, kind, false) && d.checkParamDataType(p, d.input_params) == kind;
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

// One upload: its inputs, checked before anything is sent, and its steps.
// A step returns true to go on; otherwise `result_` holds the command's
// result.
class file_upload {
public:
    explicit file_upload(device& d) : d_(d) {}
    int run();

private:
    bool read_inputs();
    bool read_content();
    bool build_parameters(const bytes& digest);
    bool add_options(const option_tag* first, const option_tag* last, device_utils::byte_writer& w);
    bool build_name();
    bool opening_packet(bytes& data);
    bool send_packets();
    bool send_packet(const bytes& data, long long k, long long n);
    void poll_status();
    bool read_statuses(bool last_try);
    bool take_status(scale_reply& reply, bool last_try);
    int final_result();
    bool stop(int code);

    device& d_;
    int result_ = rc(ErrorType::Success);
    const file_type_row* row_ = nullptr;
    FileSendState first_ = FileSendState::Parameters;
    bytes content_;
    bool from_file_ = false;
    std::string file_path_;
    bytes name_data_;
    bytes parameters_data_;
    bool poll_ = true;
    bool remove_after_ = false;
    // Scales that answered the status request itself with "Unknown command":
    // the file is there, its processing result is not known.
    std::set<std::string> status_unknown_;
};

bool file_upload::stop(int code)
{
    result_ = code;
    return false;
}

int file_upload::run()
{
    if (!read_inputs()) {
        // Nothing of this file went out: the result list (82) shows no
        // scale, in a folder upload as for one file, rather than how the
        // previous file went.
        d_.results.clear();
        return result_;
    }
    const std::string name = row_->log_name;
    Logger::i(name + " start");
    if (!send_packets()) return result_;
    Logger::i(name + " getting command status");
    if (poll_) poll_status();
    const int total = final_result();
    if (total == rc(ErrorType::Success) && remove_after_) remove_local_file(file_path_);
    return total;
}

// ---- Inputs, content and name.

bool file_upload::read_inputs()
{
    int file_type = 0;
    const int r = d_.get_int_param(ParamType::FileType, d_.input_params, file_type);
    if (r != rc(ErrorType::Success)) return stop(r);
    if (file_type == 10 && !d_.parameters_validation(ParamType::FilePath, d_.input_params) &&
        d_.input_params.find(ParamType::ProductDocument) == d_.input_params.end())
        d_.fill_byte_array_for_json();

    if (!read_content()) return false;
    if (content_.empty()) return stop(rc(ErrorType::RequestedFileEmpty));
    const bytes digest = get_file_hash(content_);

    row_ = find_file_type(file_type);
    if (row_ == nullptr)
        return stop(refused_parameter(ParamType::FileType, DataType::Int, std::to_string(file_type),
                                      "0, 1, 2, 4 to 11, 14, 15"));
    first_ = row_->first;
    if (file_type == 7 && !d_.parameters_validation(ParamType::BackupParams, d_.input_params))
        first_ = FileSendState::Parameters;
    if (!build_parameters(digest)) return false;
    if (first_ == FileSendState::Name && !build_name()) return false;
    if (from_file_ && given_as(d_, ParamType::DeletingFileFlag, DataType::Int)) {
        int flag = 0;
        remove_after_ =
            d_.get_int_param(ParamType::DeletingFileFlag, d_.input_params, flag) == rc(ErrorType::Success) && flag == 1;
    }
    return true;
}

bool file_upload::read_content()
{
    if (given_as(d_, ParamType::FilePath, DataType::ByteArray)) {
        const int r = d_.read_local_path(ParamType::FilePath, file_path_);
        if (r != rc(ErrorType::Success)) return stop(r);
        from_file_ = true;
        // Empty: a relative path that would have left the root folder.
        if (file_path_.empty())
            return stop(refused_parameter(ParamType::FilePath, DataType::ByteArray, "empty",
                                          "a local file inside the driver's root folder when relative"));
        if (read_local_file(file_path_, content_) == file_read_status::too_large)
            return stop(rc(ErrorType::IncorrectFile));
        return true;
    }
    if (!given_as(d_, ParamType::ProductDocument, DataType::ByteArray))
        return stop(refused_parameter(ParamType::FilePath, DataType::ByteArray, "absent",
                                      "a local file, or the product document"));
    const int r = d_.get_bytes_array_param(ParamType::ProductDocument, d_.input_params, content_);
    return r == rc(ErrorType::Success) || stop(r);
}

bool file_upload::add_options(const option_tag* first, const option_tag* last, device_utils::byte_writer& w)
{
    for (const option_tag* t = first; t != last; ++t) {
        if (!given_as(d_, t->param, DataType::Int)) continue;
        int value = 0;
        // One byte on the wire: a wider value would reach the scale as
        // another option than the host chose.
        const int r = read_int_in(d_, t->param, value, 0, 0xFF);
        if (r != rc(ErrorType::Success)) return stop(r);
        w.u8(t->tag).u8(static_cast<std::uint8_t>(value));
        if (t->param == ParamType::ScaleUpdateType && row_->file_type == 2 && value == 1) poll_ = false;
    }
    return true;
}

bool file_upload::build_parameters(const bytes& digest)
{
    device_utils::byte_writer w;
    w.u8(file_subcode::parameters).raw(digest);
    if (!add_options(std::begin(options_before_size), std::end(options_before_size), w)) return false;
    w.u8(size_tag);
    w.raw(device_utils::convert_to_bytes_le_64(static_cast<std::int64_t>(content_.size())));
    if (!add_options(std::begin(options_after_size), std::end(options_after_size), w)) return false;
    if (given_as(d_, ParamType::ShelfLifeType, DataType::ByteArray)) {
        bytes unit;
        const int r = d_.get_bytes_array_param(ParamType::ShelfLifeType, d_.input_params, unit);
        if (r != rc(ErrorType::Success)) return stop(r);
        w.u8(shelf_life_tag).u8(shelf_life_code(text_of(unit)));
    }
    parameters_data_ = w.take();
    return true;
}

bool file_upload::build_name()
{
    std::string folder;
    if (given_as(d_, ParamType::FolderOnScale, DataType::ByteArray)) {
        bytes value;
        const int r = d_.get_bytes_array_param(ParamType::FolderOnScale, d_.input_params, value);
        if (r != rc(ErrorType::Success)) return stop(r);
        folder = with_forward_slashes(text_of(value));
        if (!folder.empty() && folder.back() != '/') folder += '/';
    }
    const std::string path = with_forward_slashes(file_path_);
    const std::size_t slash = path.rfind('/');
    const std::string target = folder + (slash == std::string::npos ? path : path.substr(slash + 1));
    device_utils::byte_writer w;
    w.u8(file_subcode::name);
    if (!w.counted(target))
        return stop(refused_parameter(folder.empty() ? ParamType::FilePath : ParamType::FolderOnScale,
                                      DataType::ByteArray, std::to_string(target.size()) + " bytes",
                                      "a folder and file name of at most 65535 bytes together"));
    name_data_ = w.take();
    return true;
}

// ---- Packets: the opening one (counted -1), the parameters (0), the data
// packets 1 to n.

bool file_upload::opening_packet(bytes& data)
{
    if (first_ == FileSendState::Name) {
        data = name_data_;
        return true;
    }
    if (first_ == FileSendState::BackupParameters) {
        bytes flags;
        const int r = d_.get_bytes_array_param(ParamType::BackupParams, d_.input_params, flags);
        if (r != rc(ErrorType::Success)) return stop(r);
        data = backup_flags(flags);
        return true;
    }
    int code = 0;
    const int r = d_.get_int_param(ParamType::ItemCode, d_.input_params, code);
    if (r != rc(ErrorType::Success)) return stop(r);
    if (code < 1 || code > 9999999) {
        Logger::i("Invalid ItemCode parameter: " + std::to_string(code));
        return stop(check_int_range(ParamType::ItemCode, code, 1, 9999999));
    }
    device_utils::byte_writer w;
    w.u8(file_subcode::item_code).u32(static_cast<std::uint32_t>(code));
    data = w.take();
    return true;
}

bool file_upload::send_packets()
{
    const long long n = static_cast<long long>((content_.size() + file_packet_size - 1) / file_packet_size);
    if (first_ != FileSendState::Parameters) {
        bytes opening;
        if (!opening_packet(opening) || !send_packet(opening, -1, n)) return false;
    }
    if (!send_packet(parameters_data_, 0, n)) return false;
    for (long long k = 1; k <= n; ++k)
        if (!send_packet(data_packet(content_, static_cast<std::size_t>(k), static_cast<std::size_t>(n)), k, n))
            return false;
    return true;
}

bool file_upload::send_packet(const bytes& data, long long k, long long n)
{
    const int r = send_unless_stopped(d_, row_->command, row_->password, data);
    const std::string pack = std::string(row_->log_name) + " pack " + std::to_string(k) + "/" + std::to_string(n);
    if (r == rc(ErrorType::Success)) {
        Logger::i(pack + ": OK");
    } else if (r == rc(ErrorType::BroadcastError)) {
        for (const auto& [ip, code] : d_.results) Logger::i(pack + " for ip = " + ip + ": " + std::to_string(code));
    } else {
        Logger::e(pack + ": " + std::to_string(r));
        return stop(r);
    }
    return true;
}

// ---- Status.

void file_upload::poll_status()
{
    constexpr int tries = 500;
    const bytes status_request{std::byte{file_subcode::status}};
    for (int attempt = 1; attempt <= tries; ++attempt) {
        Logger::i("Try: " + std::to_string(attempt) + "/" + std::to_string(tries));
        send_unless_stopped(d_, row_->command, row_->password, status_request);
        if (!read_statuses(attempt == tries) || attempt == tries) return;
        sliced_pause(file_transfer_waits().status_next, d_.stop_requested);
    }
}

// True while some scale is still processing or did not answer this time.
bool file_upload::read_statuses(bool last_try)
{
    bool pending = false;
    for (const auto& [ip, code] : d_.results) {
        if (code == rc(ErrorType::DeviceTemporarilyUnresponsive))
            pending = true;
        else if (code == rc(ErrorType::UnknownCommand) && d_.responses.count(ip) != 0)
            status_unknown_.insert(ip);
    }
    d_.read_each_reply([&](scale_reply& reply) { pending = take_status(reply, last_try) || pending; },
                       rc(ErrorType::Success));
    return pending;
}

// One scale's status; true while it is still processing.
bool file_upload::take_status(scale_reply& reply, bool last_try)
{
    device_utils::byte_reader& in = reply.data;
    if (!in.has(1)) {
        reply.result = rc(ErrorType::FileOperationSucceeded);
        return false;
    }
    const int status = in.byte();
    Logger::i("Command status for IP = " + reply.ip + ": " + std::to_string(status));
    if (status == 1) {
        if (last_try) reply.result = rc(ErrorType::FileOperationFailed);
        return true;
    }
    if (status == 2) {
        // The length is the scale's word: never read past its reply.
        const int length = in.has(2) ? in.uint16_le() : 0;
        const int available = static_cast<int>(in.remaining());
        const std::string text = in.string(std::min(length, available));
        if (length > 0) Logger::e("Error message: " + log_text(text));
        reply.result = rc(ErrorType::FileOperationFailed);
        return false;
    }
    reply.result = rc(ErrorType::FileOperationSucceeded);
    return false;
}

int file_upload::final_result()
{
    int total = rc(ErrorType::Success);
    const bool group = d_.results.size() > 1;
    for (auto& [ip, code] : d_.results) {
        if (code == rc(ErrorType::FileOperationSucceeded)) {
            code = rc(ErrorType::Success);
            continue;
        }
        if (code == rc(ErrorType::Success)) continue;
        if (code == rc(ErrorType::UnknownCommand) && status_unknown_.count(ip) != 0)
            code = rc(ErrorType::FileSentResultUnknown);
        total = group ? rc(ErrorType::BroadcastError) : code;
    }
    return total;
}

}  // namespace

int device::send_file()  // 48
{
    const command_log log("send_file");
    try {
        file_upload upload(*this);
        return upload.run();
    } catch (const std::exception& e) {
        Logger::e(std::string("send_file err: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
}

namespace {

// One folder of the walk: its files, then its sub-folders, each into the
// matching folder on the scales; the worst result of them all.
int send_folder(device& d, const std::string& local, const std::string& target)
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
            Logger::e("send_all_files_from_folder err: " + ec.message() + ": " + log_text(entry));
            return rc(ErrorType::UnexpectedDriverError);
        }
        int r;
        if (fs::is_directory(own)) {
            r = send_folder(d, entry, target + "/" + fs::path(entry).filename().string());
        } else {
            // Links to folders are not followed (a link to an enclosing
            // folder would upload the tree again and again); only regular
            // files are read (a FIFO would block the host's thread).
            const fs::file_status target_status = fs::is_symlink(own) ? fs::status(entry, ec) : own;
            if (!fs::is_regular_file(target_status)) {
                Logger::i("file path = " + log_text(entry) + ": not a regular file, skipped");
                continue;
            }
            Logger::i("file path = " + log_text(entry));
            d.set_bytes_array_param(ParamType::FolderOnScale, d.input_params,
                                    device_utils::parse_byte_array_from_string(target));
            d.set_bytes_array_param(ParamType::FilePath, d.input_params,
                                    device_utils::parse_byte_array_from_string(entry));
            r = d.send_file();
        }
        if (r == rc(ErrorType::BroadcastError)) {
            worst = r;
        } else if (r != rc(ErrorType::Success)) {
            return r;
        }
    }
    return worst;
}

}  // namespace

int device::send_all_files_from_folder()  // 113
{
    const command_log log("send_all_files_from_folder");
    if (!parameters_validation(ParamType::FileType, input_params)) set_int_param(ParamType::FileType, input_params, 0);
    std::string local;
    const int r = read_local_path(ParamType::FolderPath, local);
    if (r != rc(ErrorType::Success)) return r;
    // The folder must be one: a file, a missing path, or a relative path
    // that would have left the root folder (stored empty) sends nothing.
    std::error_code ec;
    if (local.empty() || !std::filesystem::is_directory(local, ec))
        return refused_parameter(ParamType::FolderPath, DataType::ByteArray, local.empty() ? "empty" : log_text(local),
                                 "an existing local folder, inside the driver's root folder when relative");
    std::string target;
    if (given_as(*this, ParamType::FolderOnScale, DataType::ByteArray)) {
        bytes value;
        if (get_bytes_array_param(ParamType::FolderOnScale, input_params, value) == rc(ErrorType::Success))
            target = text_of(value);
    }
    return send_folder(*this, local, target);
}

namespace {

const command_registration files_upload{
    {CommandType::send_file, &device::send_file},
    {CommandType::send_all_files_from_folder, &device::send_all_files_from_folder},
};

}  // namespace
