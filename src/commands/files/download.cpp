// File download (49): one file of a given kind from every scale of the list,
// each scale's copy stored in its own folder below FolderForSaveFile.
//
// The steps: inputs; local paths; the name (any file) or a preparation on
// the scales (backup, JSON items file, recognition statistics); the digests;
// the packets, in lock-step for every scale still taking part; verify and
// store. Each scale's copy is written to a temporary name beside its final
// one and renamed only once its digest matched, so a failed, stopped or
// corrupted download never replaces an earlier copy and never leaves a
// partial file under the final name.

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "codecs/byte_writer.h"
#include "codecs/device_utils.h"
#include "commands/files/local_files.h"
#include "commands/files/scale_files.h"
#include "commands/files/transfer.h"
#include "core/device.h"
#include "core/params.h"
#include "logging/logger.h"
#include "test_hooks/test_hooks.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::byte>;

enum class preparation { none, backup, json_items, json_statistic, archive_statistic };

struct download_type {
    int file_type;
    CommandType command;
    const char* prefix;  // time-stamped name: prefix, time stamp, extension
    const char* extension;
    preparation prepare;
};

const download_type download_types[] = {
    {0, CommandType::download_any_file, "", "", preparation::none},
    {1, CommandType::download_config_file, "ScaleServiceConfig", ".json", preparation::none},
    {3, CommandType::download_service_log, "ServiceLog_", ".zip", preparation::none},
    {4, CommandType::download_products_file, "Products_", ".csv", preparation::none},
    {5, CommandType::download_velunor_backup_file, "VelunorBackup_", ".vel", preparation::none},
    {6, CommandType::download_categories_file, "Categories_", ".csv", preparation::none},
    {7, CommandType::download_scale_backup_file, "ScaleBackup_", ".zip", preparation::backup},
    {8, CommandType::download_messages_file, "Messages_", ".csv", preparation::none},
    {10, CommandType::download_json_items_file, "JSON_Items_", ".json", preparation::json_items},
    {12, CommandType::download_json_prediction_statistic, "JSON_Prediction_Statistic_", ".json",
     preparation::json_statistic},
    {13, CommandType::download_archive_prediction_statistic, "Archive_Prediction_Statistic_", ".zip",
     preparation::archive_statistic},
};

const download_type* find_download_type(int type)
{
    for (const download_type& row : download_types)
        if (row.file_type == type) return &row;
    return nullptr;
}

// The create and status commands of a preparation, with their step names.
struct preparation_steps {
    const char* create_name;
    const char* status_name;
    int (device::*create)();
    int (device::*status)();
};

preparation_steps steps_of(preparation p)
{
    switch (p) {
        case preparation::backup:
            return {"create_backup_file", "check_backup_status", &device::create_backup, &device::get_backup_status};
        case preparation::json_items:
            return {"create_json_items_file", "get_json_items_file_status", &device::create_json_items_file,
                    &device::get_json_items_file_status};
        case preparation::json_statistic:
            return {"create_json_prediction_statistic", "get_json_prediction_statistic_status",
                    &device::create_json_prediction_statistic, &device::get_json_prediction_statistic_status};
        case preparation::archive_statistic:
        case preparation::none:
            break;
    }
    return {"create_archive_prediction_statistic", "get_archive_prediction_statistic_status",
            &device::create_archive_prediction_statistic, &device::get_archive_prediction_statistic_status};
}

// Each step, each preparation poll and each data cycle begins with two line
// feeds on standard output.
void step_mark()
{
    std::cout << "\n\n" << std::flush;
}

// The part of the host's folder text before its first component holding
// "<ip>": the folder that the host itself names, whose links are its own.
fs::path fixed_base(const std::string& folder_text)
{
    fs::path base;
    for (const fs::path& part : fs::path(folder_text).lexically_normal()) {
        if (part.string().find("<ip>") != std::string::npos) break;
        if (!part.empty()) base /= part;
    }
    return base;
}

// True when `path` lies strictly below `root` once both are normalised.
bool lies_under(const fs::path& root, const fs::path& path)
{
    const fs::path relative = path.lexically_normal().lexically_relative(root.lexically_normal());
    if (relative.empty() || relative.is_absolute()) return false;
    for (const fs::path& part : relative)
        if (part == ".." || part == ".") return false;
    return true;
}

// The final name of a copy. Time-stamped names are made unique in their
// folder, so that two downloads within one second both stay; fixed names
// (FileType 0 and 1) replace the copy of an earlier command, never one that
// another scale of this command has just stored (`taken`).
fs::path final_path(const fs::path& folder, const std::string& stem, const std::string& extension, bool unique,
                    const std::set<fs::path>& taken)
{
    fs::path path = folder / (stem + extension);
    if (!unique && taken.count(path) == 0) return path;
    std::error_code ec;
    for (int k = 2; fs::exists(path, ec) || ec || taken.count(path) != 0; ++k) {
        if (k > 10000) throw std::runtime_error("no free local name for " + (folder / (stem + extension)).string());
        path = folder / (stem + "_" + std::to_string(k) + extension);
    }
    return path;
}

// Appends one packet to a copy; the last one is put on the disk and the copy
// closed, so that once renamed it can never stand there empty or partial
// after a power loss. The failed action, or nullptr.
const char* append_packet(local_files::new_file& out, const std::byte* data, std::size_t length, bool last)
{
    if (!out.write(data, length)) return "write";
    if (!last) return nullptr;
    if (!out.sync()) return "flush";
    QV_SEAM("download copy flushed");
    return out.close() ? nullptr : "write";
}

// One scale's local copy.
struct local_copy {
    fs::path folder;
    std::string stem;  // the final name without its extension, "<ip>" replaced
    fs::path temporary;  // once created
    local_files::new_file out;
    bool created = false;  // the temporary copy exists
    std::uint64_t written = 0;
    bool kept = false;  // renamed to its final name
};

// One download: what the host asked for, each scale's copy, and the steps.
// A step returns true to go on; otherwise `result_` holds the command's
// result.
class file_download {
public:
    explicit file_download(device& d) : d_(d) {}
    ~file_download();
    file_download(const file_download&) = delete;
    file_download& operator=(const file_download&) = delete;

    int run();

private:
    bool read_inputs();
    bool read_file_on_scale();
    bool read_options();
    bool build_local_paths();
    bool send_name();
    bool prepare_on_scales();
    bool poll_preparation(const preparation_steps& steps);
    bool fetch_digests();
    bool fetch_packets();
    bool take_packets();
    void take_packet(scale_reply& reply, bool& more, bool& more_before);
    bool open_copy(const std::string& ip, local_copy& copy);
    bool create_temporary(const std::string& ip, local_copy& copy);
    int verify_and_store();
    bool stop(int code);
    bool check_active(const std::string& step);
    int without_active_scales() const;
    int own_result(const std::string& ip) const;
    void fail_scale(const std::string& ip, int code, const std::string& why);

    device& d_;
    int result_ = rc(ErrorType::Success);
    const download_type* row_ = nullptr;
    std::string folder_text_;
    fs::path base_;  // the host's own folder, below which every copy's folder is made
    std::string stem_;
    std::string extension_;
    bool time_stamped_ = true;
    bool password_ = true;
    bytes name_request_;
    bytes options_;
    preparation prepare_ = preparation::none;
    std::map<std::string, local_copy> copies_;  // by IP
    file_hash_map hashes_;
    std::vector<std::string> completed_;  // in the order the last packets came
};

file_download::~file_download()
{
    // Every temporary copy left goes, whatever way the command ended.
    for (auto& [ip, copy] : copies_) {
        copy.out.close();
        if (copy.kept || !copy.created) continue;
        std::error_code ec;
        fs::remove(copy.temporary, ec);
    }
}

int file_download::run()
{
    if (!read_inputs()) return result_;
    // No scale, nothing to download: never a success.
    if (d_.ip_address_list.empty()) return rc(ErrorType::NoConnection);
    if (!build_local_paths()) return result_;
    if (row_->file_type == 0 && !send_name()) return result_;
    if (prepare_ != preparation::none && !prepare_on_scales()) return result_;
    if (!fetch_digests() || !fetch_packets()) return result_;
    return verify_and_store();
}

bool file_download::stop(int code)
{
    result_ = code;
    return false;
}

// ---- Inputs, all read and checked before anything is sent.

bool file_download::read_inputs()
{
    int r = d_.read_local_path(ParamType::FolderForSaveFile, folder_text_);
    if (r != rc(ErrorType::Success)) return stop(r);
    const std::string stamp = device::return_current_time_and_date();
    int file_type = 0;
    r = d_.get_int_param(ParamType::FileType, d_.input_params, file_type);
    if (r != rc(ErrorType::Success)) return stop(r);
    row_ = find_download_type(file_type);
    if (row_ == nullptr)
        return stop(refused_parameter(ParamType::FileType, DataType::Int, std::to_string(file_type),
                                      "0, 1, 3 to 8, 10, 12, 13"));

    stem_ = std::string(row_->prefix) + stamp;
    extension_ = row_->extension;
    if (file_type == 0 && !read_file_on_scale()) return false;
    if (file_type == 1) {
        time_stamped_ = false;
        stem_ = row_->prefix;
    }
    if (!read_options()) return false;
    prepare_ = row_->prepare;
    if (file_type == 7 && !d_.parameters_validation(ParamType::BackupParams, d_.input_params))
        prepare_ = preparation::none;
    password_ = file_type != 1;
    return true;
}

bool file_download::read_file_on_scale()
{
    if (!d_.parameters_validation(ParamType::FileOnScale, d_.input_params))
        return stop(refused_absent(ParamType::FileOnScale, DataType::ByteArray));
    if (d_.ip_address_list.size() > 1) return stop(rc(ErrorType::NotForGroupMode));
    // Its last part names the local copy: read as a local path. What goes
    // to the scale is the same text, its padding left out.
    std::string on_scale;
    const int r = d_.read_local_path(ParamType::FileOnScale, on_scale);
    if (r != rc(ErrorType::Success)) return stop(r);
    const std::size_t slash = on_scale.rfind('/');
    stem_ = slash == std::string::npos ? on_scale : on_scale.substr(slash + 1);
    extension_.clear();
    time_stamped_ = false;
    // The local name must name a file: "/data/" or "x/.." would name the
    // folder itself.
    if (stem_.empty() || stem_ == "." || stem_ == "..")
        return stop(refused_parameter(ParamType::FileOnScale, DataType::ByteArray, log_text(on_scale),
                                      "a path that ends in a file name"));
    device_utils::byte_writer w;
    w.u8(file_subcode::name);
    if (!w.counted(on_scale))
        return stop(refused_size(ParamType::FileOnScale, DataType::ByteArray, on_scale.size(),
                                 device_utils::byte_writer::max_counted));
    name_request_ = w.take();
    return true;
}

bool file_download::read_options()
{
    if (row_->file_type == 4 || row_->file_type == 6) {
        int separator = -1;
        // Absent: the read only logs, and no separator is sent.
        if (d_.get_int_param(ParamType::FileDataSeparator, d_.input_params, separator) == rc(ErrorType::Success) &&
            separator != -1) {
            // One byte on the wire: refused rather than cut.
            const int r = check_int_range(ParamType::FileDataSeparator, separator, 0, 0xFF);
            if (r != rc(ErrorType::Success)) return stop(r);
            options_.push_back(static_cast<std::byte>(separator));
        }
    }
    if (!d_.checkParamInMap(ParamType::VelunorBackupType, d_.input_params, DataType::Int, false)) return true;
    int velunor = 0;
    const int r = read_int_in(d_, ParamType::VelunorBackupType, velunor, 0, 0xFF);
    if (r != rc(ErrorType::Success)) return stop(r);
    if (row_->file_type == 5 && velunor == 1) extension_ = ".velm";
    options_.push_back(std::byte{0x02});
    options_.push_back(static_cast<std::byte>(velunor));
    return true;
}

// ---- Local paths, built once per scale and used by every later step:
// FolderForSaveFile / "<ip>" / the file name, every "<ip>" in that text
// standing for the scale's folder, so that each scale has a folder of its
// own. Every path must lie below the download folder, every name fit the
// file system.

bool file_download::build_local_paths()
{
    base_ = fixed_base(folder_text_);
    for (const scale_connect_data& scale : d_.ip_address_list) {
        const std::string sub = get_subfolder_for_save(d_.ip_address_list, scale.ip);
        std::string root = folder_text_;
        device_utils::replace(root, "<ip>", sub);
        local_copy& copy = copies_[scale.ip];
        // Normal, so that the folder made is the one written into.
        copy.folder = (fs::path(root) / sub).lexically_normal();
        copy.stem = stem_;
        device_utils::replace(copy.stem, "<ip>", sub);
        const fs::path target = copy.folder / (copy.stem + extension_);
        // Empty: a relative folder that would have left the root folder.
        if (root.empty() || !lies_under(root, target) || !lies_under(base_, target))
            return stop(refused_parameter(ParamType::FolderForSaveFile, DataType::ByteArray,
                                          root.empty() ? "empty" : log_text(target.string()),
                                          "a local folder that the copies stay inside, inside the driver's "
                                          "root folder when relative"));
        // Refused now rather than after the whole transfer.
        for (const fs::path& part : target) {
            if (part.string().size() <= local_files::name_limit) continue;
            const bool file_name = part == target.filename() && row_->file_type == 0;
            return stop(refused_size(file_name ? ParamType::FileOnScale : ParamType::FolderForSaveFile,
                                     DataType::ByteArray, part.string().size(), local_files::name_limit));
        }
    }
    return true;
}

// ---- Where the scales stand between steps.

int file_download::own_result(const std::string& ip) const
{
    const auto it = d_.results.find(ip);
    return it == d_.results.end() ? rc(ErrorType::NoConnection) : it->second;
}

// The command's result once no scale takes part any more.
int file_download::without_active_scales() const
{
    if (d_.stop_requested.load()) return rc(ErrorType::CommandStopped);
    return d_.ip_address_list.size() == 1 ? own_result(d_.ip_address_list.front().ip) : rc(ErrorType::BroadcastError);
}

// True when some scale still takes part. With a single scale a failure is
// logged as the step's.
bool file_download::check_active(const std::string& step)
{
    bool any = false;
    for (const auto& [ip, result] : d_.results) {
        if (result == rc(ErrorType::Success)) {
            any = true;
        } else if (d_.results.size() == 1) {
            Logger::e("get_file for ip = [" + ip + "] (" + step + " state) err: " + std::to_string(result));
            return stop(result);
        }
    }
    return any || stop(without_active_scales());
}

// ---- The name of any file, or a preparation on the scales.

bool file_download::send_name()
{
    step_mark();
    Logger::i("get_file() send_file_name");
    const int r = send_unless_stopped(d_, row_->command, with_password, name_request_);
    if (r == rc(ErrorType::Success) || r == rc(ErrorType::BroadcastError)) return true;
    Logger::e("get_file (name state) err: " + std::to_string(r));
    return stop(r);
}

bool file_download::prepare_on_scales()
{
    const preparation_steps steps = steps_of(prepare_);
    step_mark();
    Logger::i(std::string("get_file() ") + steps.create_name);
    const int r = (d_.*steps.create)();
    if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError)) return stop(r);
    return check_active(steps.create_name) && poll_preparation(steps) && check_active(steps.status_name);
}

bool file_download::poll_preparation(const preparation_steps& steps)
{
    const scale_file_limit_values limits = scale_file_limits();
    const auto deadline = std::chrono::steady_clock::now() + limits.preparation_deadline;
    for (;;) {
        step_mark();
        Logger::i(std::string("get_file() ") + steps.status_name);
        const int r = (d_.*steps.status)();
        if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError) && r != rc(ErrorType::InProgress))
            return stop(r);
        bool preparing = false;
        for (const auto& entry : d_.results) preparing = preparing || entry.second == rc(ErrorType::InProgress);
        if (!sliced_pause(limits.preparation_pause, d_.stop_requested)) return stop(rc(ErrorType::CommandStopped));
        if (!preparing) return true;
        if (std::chrono::steady_clock::now() < deadline) continue;
        // A scale that never finishes must not hold the host's thread; it
        // drops out, the ready ones go on.
        for (auto& [ip, result] : d_.results) {
            if (result != rc(ErrorType::InProgress)) continue;
            Logger::e(std::string("get_file() ") + steps.status_name + ": not ready in time for ip = " + ip);
            result = rc(ErrorType::FileOperationFailed);
        }
        return true;
    }
}

// ---- The digests.

bool file_download::fetch_digests()
{
    step_mark();
    Logger::i("get_file() hash");
    hashes_ = row_->file_type == 1 ? hash_with_parameters(d_, row_->command, password_, options_)
                                   : hash_by_poll(d_, row_->command, password_, options_);
    if (d_.stop_requested.load()) return stop(rc(ErrorType::CommandStopped));
    for (auto& [ip, result] : d_.results) {
        if (result != rc(ErrorType::Success)) continue;
        const auto hash = hashes_.find(ip);
        if (hash != hashes_.end() && !hash->second.empty()) continue;
        // A copy without a digest could never be verified.
        Logger::e("get_file: no hash data for ip = " + ip);
        result = rc(ErrorType::InvalidHashData);
    }
    return check_active("hash");
}

// ---- The packets, in lock-step.

bool file_download::fetch_packets()
{
    const bytes data_request{std::byte{file_subcode::data}};
    for (long long pack_id = 0;; ++pack_id) {
        step_mark();
        Logger::i("get_file() pack_id = " + std::to_string(pack_id));
        const int r = send_unless_stopped(d_, row_->command, password_, data_request);
        if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError)) {
            Logger::e("get_file (file data state)  err: " + std::to_string(r));
            return stop(r);
        }
        if (!take_packets()) return true;
    }
}

// One cycle's packets, in IP order; true while some scale has more to come.
bool file_download::take_packets()
{
    bool more = false;
    bool more_before = false;
    std::set<std::string> answered;
    d_.read_each_reply(
        [&](scale_reply& reply) {
            answered.insert(reply.ip);
            take_packet(reply, more, more_before);
        },
        rc(ErrorType::Success));
    for (const auto& [ip, result] : d_.results)
        if (result == rc(ErrorType::Success) && answered.count(ip) == 0)
            fail_scale(ip, rc(ErrorType::NoConnection), "no reply");
    return more;
}

void file_download::fail_scale(const std::string& ip, int code, const std::string& why)
{
    Logger::e("get_file for ip = [" + ip + "] (file data state) err: " + std::to_string(code) + ", " + why);
    d_.results[ip] = code;
    copies_[ip].out.close();
}

void file_download::take_packet(scale_reply& reply, bool& more, bool& more_before)
{
    const std::string& ip = reply.ip;
    device_utils::byte_reader& in = reply.data;
    if (!in.has(7)) return fail_scale(ip, rc(ErrorType::InvalidResponseLength), "packet shorter than its fields");
    const int flag = in.byte();
    const auto offset = static_cast<std::uint32_t>(in.int32_le());
    const std::size_t length = in.uint16_le();
    if (!in.has(length)) return fail_scale(ip, rc(ErrorType::InvalidResponseLength), "packet shorter than its fields");
    local_copy& copy = copies_[ip];
    // Each packet must continue the file where it stands; one that would
    // not, or that would grow it past the size the offsets can address, or
    // an empty packet that is not the last (no progress), ends this scale's
    // download.
    if (offset != copy.written)
        return fail_scale(ip, rc(ErrorType::IncorrectFile),
                          "packet offset " + std::to_string(offset) + ", expected " + std::to_string(copy.written));
    const std::uint64_t max_size = scale_file_limits().max_download_size;
    if (copy.written + length > max_size)
        return fail_scale(ip, rc(ErrorType::IncorrectFile), "file larger than " + std::to_string(max_size));
    if (flag != 1 && length == 0)
        return fail_scale(ip, rc(ErrorType::IncorrectFile), "empty packet that is not the last");
    if (!copy.created && !open_copy(ip, copy)) return;
    const bool last = flag == 1;
    if (const char* failed = append_packet(copy.out, reply.frame.data() + in.position(), length, last)) {
        Logger::e(std::string("get_file err: cannot ") + failed + " " + log_text(copy.temporary.string()) + ": " +
                  std::generic_category().message(copy.out.error()));
        return fail_scale(ip, rc(ErrorType::UnexpectedDriverError), "local copy not written");
    }
    copy.written += length;
    if (last) {
        reply.result = rc(ErrorType::FileReceived);
        completed_.push_back(ip);
    } else {
        more = true;
    }
    Logger::i(std::string("get_file() sending_is_done = ") + (last && !more_before ? "1" : "0"));
    if (!last) more_before = true;
}

bool file_download::open_copy(const std::string& ip, local_copy& copy)
{
    std::error_code ec;
    const bool missing = fs::symlink_status(copy.folder, ec).type() == fs::file_type::not_found;
    if (missing) Logger::i("the folder " + log_text(copy.folder.string()) + " does not exist. CreateDirectories");
    ec = local_files::make_folder_below(base_, copy.folder);
    if (ec) {
        Logger::e("get_file err: " + ec.message() + ": " + log_text(copy.folder.string()));
        fail_scale(ip, rc(ErrorType::UnexpectedDriverError), "folder not created");
        return false;
    }
    if (missing) Logger::i("the " + log_text(copy.folder.string()) + " folder has been created. ");
    local_files::remove_stale_temporaries(copy.folder);
    return create_temporary(ip, copy);
}

// A name already taken (planted there, or left by a process whose number
// came round again) is passed over for the next one.
bool file_download::create_temporary(const std::string& ip, local_copy& copy)
{
    constexpr int most_names = 100;
    int error = EEXIST;
    fs::path path;
    for (int k = 0; k < most_names && error == EEXIST; ++k) {
        path = copy.folder / local_files::temporary_name(copy.stem + extension_);
        error = copy.out.create(path);
    }
    if (error != 0) {
        Logger::e("get_file err: " + std::generic_category().message(error) + ": " + log_text(path.string()));
        fail_scale(ip, rc(ErrorType::UnexpectedDriverError), "local copy not created");
        return false;
    }
    copy.temporary = path;
    copy.created = true;
    QV_SEAM("download copy created");
    return true;
}

// ---- Verify the copies that came whole, then give them their final names.

int file_download::verify_and_store()
{
    file_hash_map received;
    std::map<std::string, std::string> temporaries;
    for (const std::string& ip : completed_) {
        received[ip] = hashes_[ip];
        temporaries[ip] = copies_[ip].temporary.string();
    }
    if (!received.empty()) md5_check(d_, temporaries, received);
    std::string saved;
    std::set<fs::path> taken;
    for (const std::string& ip : completed_) {
        if (d_.results[ip] != rc(ErrorType::FileReceived)) continue;
        local_copy& copy = copies_[ip];
        std::error_code ec;
        const fs::path target = final_path(copy.folder, copy.stem, extension_, time_stamped_, taken);
        fs::rename(copy.temporary, target, ec);
        if (ec) {
            Logger::e("get_file err: " + ec.message() + ": " + log_text(target.string()));
            d_.results[ip] = rc(ErrorType::UnexpectedDriverError);
            continue;
        }
        copy.kept = true;
        taken.insert(target);
        // The copy is whole on the disk; should its new name not be, a power
        // loss brings back the earlier copy, never none: logged, not failed.
        if (const int error = local_files::sync_folder(copy.folder))
            Logger::e("get_file err: cannot flush folder " + log_text(copy.folder.string()) + ": " +
                      std::generic_category().message(error));
        const std::string path = target.string();
        d_.set_bytes_array_param(ParamType::FilePath, d_.output_params,
                                 device_utils::parse_byte_array_from_string(path), false);
        saved += (saved.empty() ? "" : "\n") + path;
    }
    if (!saved.empty())
        d_.set_bytes_array_param(ParamType::SavedFilePaths, d_.output_params,
                                 device_utils::parse_byte_array_from_string(saved), false);

    for (const scale_connect_data& scale : d_.ip_address_list)
        if (own_result(scale.ip) != rc(ErrorType::FileReceived)) return without_active_scales();
    return rc(ErrorType::Success);
}

}  // namespace

int device::get_file()  // 49
{
    const command_log log("get_file");
    try {
        file_download download(*this);
        return download.run();
    } catch (const std::exception& e) {
        Logger::e(std::string("get_file err: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
}

namespace {

const command_registration files_download{
    {CommandType::get_file, &device::get_file},
};

}  // namespace
