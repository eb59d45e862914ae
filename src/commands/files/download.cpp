// File download (49): one file of a given kind from every scale of the list,
// each scale's copy stored in its own folder below FolderForSaveFile.
//
// The steps: the name (any file), or a preparation on the scales (backup,
// JSON items file, recognition statistics); the digest; the packets, in
// lock-step for every scale still taking part; the MD5 check. Each scale's
// copy is written to a temporary name beside its final one and renamed only
// once its digest matched, so a failed, stopped or corrupted download never
// replaces an earlier copy and never leaves a partial file under the final
// name.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
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

// A temporary name no other download of this process or another one uses.
std::string temporary_name(const std::string& name)
{
    static std::atomic<unsigned> counter{0};
    return "." + name + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
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

// One scale's local copy.
struct local_copy {
    fs::path folder;
    fs::path temporary;
    std::unique_ptr<std::ofstream> out;
    std::uint64_t written = 0;
    bool kept = false;  // renamed to its final name
};

// Removes every temporary copy left, whatever way the command ends.
struct local_copies {
    std::map<std::string, local_copy> by_ip;
    ~local_copies()
    {
        for (auto& [ip, copy] : by_ip) {
            copy.out.reset();
            if (copy.kept) continue;
            std::error_code ec;
            fs::remove(copy.temporary, ec);
        }
    }
};

// The final name of a copy. Time-stamped names are made unique in their
// folder, so that two downloads within one second both stay; fixed names
// (FileType 0 and 1) replace the earlier copy.
fs::path final_path(const fs::path& folder, const std::string& stem, const std::string& extension, bool unique)
{
    fs::path path = folder / (stem + extension);
    if (!unique) return path;
    std::error_code ec;
    for (int k = 2; fs::exists(path, ec) || ec; ++k) {
        if (k > 10000) throw std::runtime_error("no free local name for " + (folder / (stem + extension)).string());
        path = folder / (stem + "_" + std::to_string(k) + extension);
    }
    return path;
}

}  // namespace

int device::get_file()  // 49
{
    const command_log log("get_file");
    try {
        // ---- Inputs, all read and checked before anything is sent.
        bytes folder_value;
        int r = get_bytes_array_param(ParamType::FolderForSaveFile, input_params, folder_value);
        if (r != rc(ErrorType::Success)) return r;
        const std::string folder_text = device_utils::parse_string_from_byte_array(folder_value);
        const std::string stamp = return_current_time_and_date();
        int file_type = 0;
        r = get_int_param(ParamType::FileType, input_params, file_type);
        if (r != rc(ErrorType::Success)) return r;
        const download_type* row = find_download_type(file_type);
        if (row == nullptr) return rc(ErrorType::InvalidParameterValue);

        std::string stem = std::string(row->prefix) + stamp;
        std::string extension = row->extension;
        bool time_stamped = true;
        bytes name_request;
        bytes options;
        if (file_type == 0) {
            if (!parameters_validation(ParamType::FileOnScale, input_params))
                return rc(ErrorType::InvalidParameterValue);
            if (ip_address_list.size() > 1) return rc(ErrorType::NotForGroupMode);
            bytes value;
            r = get_bytes_array_param(ParamType::FileOnScale, input_params, value);
            if (r != rc(ErrorType::Success)) return r;
            const std::string on_scale = device_utils::parse_string_from_byte_array(value);
            const std::size_t slash = on_scale.rfind('/');
            stem = slash == std::string::npos ? on_scale : on_scale.substr(slash + 1);
            extension.clear();
            time_stamped = false;
            // The local name must name a file: "/data/" or "x/.." would name
            // the folder itself.
            if (stem.empty() || stem == "." || stem == "..") {
                Logger::i("Invalid FileOnScale parameter: " + device_utils::safe_log_text(on_scale));
                return rc(ErrorType::InvalidParameterValue);
            }
            device_utils::byte_writer w;
            w.u8(file_subcode::name);
            if (!w.counted(on_scale)) {
                Logger::i("Invalid FileOnScale length: " + std::to_string(on_scale.size()));
                return rc(ErrorType::InvalidParameterValue);
            }
            name_request = w.take();
        } else if (file_type == 1) {
            time_stamped = false;
            stem = row->prefix;
        }
        if (file_type == 4 || file_type == 6) {
            int separator = -1;
            // Absent: the read only logs, and no separator is sent.
            if (get_int_param(ParamType::FileDataSeparator, input_params, separator) == rc(ErrorType::Success) &&
                separator != -1)
                options.push_back(static_cast<std::byte>(separator & 0xFF));
        }
        if (checkParamInMap(ParamType::VelunorBackupType, input_params, DataType::Int, false)) {
            int velunor = 0;
            r = get_int_param(ParamType::VelunorBackupType, input_params, velunor);
            if (r != rc(ErrorType::Success)) return r;
            if (file_type == 5 && velunor == 1) extension = ".velm";
            options.push_back(std::byte{0x02});
            options.push_back(static_cast<std::byte>(velunor & 0xFF));
        }
        preparation prepare = row->prepare;
        if (file_type == 7 && !parameters_validation(ParamType::BackupParams, input_params))
            prepare = preparation::none;

        // No scale, nothing to download: never a success.
        if (ip_address_list.empty()) return rc(ErrorType::NoConnection);

        // ---- Local paths: "<ip>" in the template stands for each scale's
        // folder; every resolved path must lie below the download folder.
        const std::string template_text = (fs::path(folder_text) / "<ip>" / (stem + extension)).string();
        const std::string temporary = temporary_name(stem + extension);
        local_copies copies;
        for (const scale_connect_data& scale : ip_address_list) {
            const std::string sub = get_subfolder_for_save(ip_address_list, scale.ip);
            std::string root = folder_text;
            device_utils::replace(root, "<ip>", sub);
            std::string path = template_text;
            device_utils::replace(path, "<ip>", sub);
            const fs::path target(path);
            local_copy& copy = copies.by_ip[scale.ip];
            copy.folder = target.parent_path();
            copy.temporary = copy.folder / temporary;
            if (root.empty() || !lies_under(root, target) || !lies_under(root, copy.temporary)) {
                Logger::e("get_file: the local path " + device_utils::safe_log_text(path) +
                          " leaves the download folder");
                return rc(ErrorType::InvalidParameterValue);
            }
        }
        const bool single = ip_address_list.size() == 1;
        const auto own_result = [&](const std::string& ip) {
            const auto it = results.find(ip);
            return it == results.end() ? rc(ErrorType::NoConnection) : it->second;
        };
        // The command's result once no scale takes part any more.
        const auto without_active_scales = [&] {
            if (stop_requested.load()) return rc(ErrorType::CommandStopped);
            return single ? own_result(ip_address_list.front().ip) : rc(ErrorType::BroadcastError);
        };
        // After a step: 0 when some scale takes part; otherwise the code to
        // return. With a single scale a failure is logged as the step's.
        const auto check_active = [&](const std::string& step, int& code) {
            bool any = false;
            for (const auto& [ip, result] : results) {
                if (result == rc(ErrorType::Success)) {
                    any = true;
                } else if (results.size() == 1) {
                    Logger::e("get_file for ip = [" + ip + "] (" + step + " state) err: " + std::to_string(result));
                    code = result;
                    return false;
                }
            }
            if (!any) code = without_active_scales();
            return any;
        };

        const bool password = file_type != 1;
        const CommandType file_command = row->command;

        // ---- Name.
        if (file_type == 0) {
            step_mark();
            Logger::i("get_file() send_file_name");
            r = send_unless_stopped(*this, with_password, file_command, name_request);
            if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError)) {
                Logger::e("get_file (name state) err: " + std::to_string(r));
                return r;
            }
        }

        // ---- Preparation on the scales.
        if (prepare != preparation::none) {
            const preparation_steps steps = steps_of(prepare);
            step_mark();
            Logger::i(std::string("get_file() ") + steps.create_name);
            r = (this->*steps.create)();
            if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError)) return r;
            int code = 0;
            if (!check_active(steps.create_name, code)) return code;

            const scale_file_limit_values limits = scale_file_limits();
            const auto deadline = std::chrono::steady_clock::now() + limits.preparation_deadline;
            for (;;) {
                step_mark();
                Logger::i(std::string("get_file() ") + steps.status_name);
                r = (this->*steps.status)();
                if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError) && r != rc(ErrorType::InProgress))
                    return r;
                bool preparing = false;
                for (const auto& entry : results) preparing = preparing || entry.second == rc(ErrorType::InProgress);
                if (!sliced_pause(limits.preparation_pause, stop_requested)) return rc(ErrorType::CommandStopped);
                if (!preparing) break;
                if (std::chrono::steady_clock::now() >= deadline) {
                    // A scale that never finishes must not hold the host's
                    // thread; it drops out, the ready ones go on.
                    for (auto& [ip, result] : results) {
                        if (result != rc(ErrorType::InProgress)) continue;
                        Logger::e(std::string("get_file() ") + steps.status_name +
                                  ": not ready in time for ip = " + ip);
                        result = rc(ErrorType::FileOperationFailed);
                    }
                    break;
                }
            }
            if (!check_active(steps.status_name, code)) return code;
        }

        // ---- The digest.
        step_mark();
        Logger::i("get_file() hash");
        const FileSendState state = file_type == 1 ? FileSendState::Parameters : FileSendState::Hash;
        file_hash_map hashes = get_file_hash_from_scale(state, options, !password, row->command);
        if (stop_requested.load()) return rc(ErrorType::CommandStopped);
        for (auto& [ip, result] : results) {
            if (result != rc(ErrorType::Success)) continue;
            const auto hash = hashes.find(ip);
            if (hash != hashes.end() && !hash->second.empty()) continue;
            // A copy without a digest could never be verified.
            Logger::e("get_file: no hash data for ip = " + ip);
            result = rc(ErrorType::InvalidHashData);
        }
        {
            int code = 0;
            if (!check_active("hash", code)) return code;
        }

        // ---- The packets, in lock-step.
        const std::uint64_t max_size = scale_file_limits().max_download_size;
        std::vector<std::string> completed;  // in the order the last packets came
        const bytes data_request{std::byte{file_subcode::data}};
        const auto fail_scale = [&](const std::string& ip, int code, const std::string& why) {
            Logger::e("get_file for ip = [" + ip + "] (file data state) err: " + std::to_string(code) + ", " + why);
            results[ip] = code;
            local_copy& copy = copies.by_ip[ip];
            copy.out.reset();
        };
        for (long long pack_id = 0;; ++pack_id) {
            step_mark();
            Logger::i("get_file() pack_id = " + std::to_string(pack_id));
            r = send_unless_stopped(*this, password, file_command, data_request);
            if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError)) {
                Logger::e("get_file (file data state)  err: " + std::to_string(r));
                return r;
            }
            bool active = false;
            bool more_before = false;
            for (auto& [ip, result] : results) {
                if (result != rc(ErrorType::Success)) continue;
                const auto reply = responses.find(ip);
                if (reply == responses.end()) {
                    fail_scale(ip, rc(ErrorType::NoConnection), "no reply");
                    continue;
                }
                int flag = 0;
                std::uint32_t offset = 0;
                std::size_t length = 0;
                std::size_t start = 0;
                try {
                    device_utils::byte_reader in(reply->second, reply_data_offset(reply->second));
                    flag = in.byte();
                    offset = static_cast<std::uint32_t>(in.int32_le());
                    length = in.uint16_le();
                    start = in.position();
                    if (!in.has(length)) throw device_utils::short_buffer("packet");
                } catch (const device_utils::short_buffer&) {
                    fail_scale(ip, rc(ErrorType::InvalidResponseLength), "packet shorter than its fields");
                    continue;
                }
                local_copy& copy = copies.by_ip[ip];
                // Each packet must continue the file where it stands; one
                // that would not, or that would grow it past the size the
                // offsets can address, or an empty packet that is not the
                // last (no progress), ends this scale's download.
                if (offset != copy.written) {
                    fail_scale(
                        ip, rc(ErrorType::IncorrectFile),
                        "packet offset " + std::to_string(offset) + ", expected " + std::to_string(copy.written));
                    continue;
                }
                if (copy.written + length > max_size) {
                    fail_scale(ip, rc(ErrorType::IncorrectFile), "file larger than " + std::to_string(max_size));
                    continue;
                }
                if (flag != 1 && length == 0) {
                    fail_scale(ip, rc(ErrorType::IncorrectFile), "empty packet that is not the last");
                    continue;
                }
                if (!copy.out) {
                    std::error_code ec;
                    if (!fs::is_directory(copy.folder, ec)) {
                        Logger::i("the folder " + copy.folder.string() + " does not exist. CreateDirectories");
                        fs::create_directories(copy.folder, ec);
                        if (ec) {
                            Logger::e("get_file err: " + ec.message() + ": " + copy.folder.string());
                            fail_scale(ip, rc(ErrorType::UnexpectedDriverError), "folder not created");
                            continue;
                        }
                        Logger::i("the " + copy.folder.string() + " folder has been created. ");
                    }
                    copy.out = std::make_unique<std::ofstream>(copy.temporary, std::ios::binary | std::ios::trunc);
                }
                if (length > 0)
                    copy.out->write(reinterpret_cast<const char*>(reply->second.data() + start),
                                    static_cast<std::streamsize>(length));
                if (flag == 1) copy.out->flush();
                if (!*copy.out) {
                    Logger::e("get_file err: cannot write " + copy.temporary.string());
                    fail_scale(ip, rc(ErrorType::UnexpectedDriverError), "local copy not written");
                    continue;
                }
                copy.written += length;
                const bool last = flag == 1;
                if (last) {
                    copy.out.reset();
                    result = rc(ErrorType::FileReceived);
                    completed.push_back(ip);
                } else {
                    active = true;
                }
                Logger::i(std::string("get_file() sending_is_done = ") + (last && !more_before ? "1" : "0"));
                if (!last) more_before = true;
            }
            if (!active) break;
        }

        // ---- The MD5 check of the copies that came whole, then their
        // final names.
        file_hash_map received;
        for (const std::string& ip : completed) received[ip] = hashes[ip];
        if (!received.empty()) {
            const std::string temporary_template = (fs::path(folder_text) / "<ip>" / temporary).string();
            md5_check(temporary_template, received);
        }
        std::string saved;
        for (const std::string& ip : completed) {
            if (results[ip] != rc(ErrorType::FileReceived)) continue;
            local_copy& copy = copies.by_ip[ip];
            std::error_code ec;
            const fs::path target = final_path(copy.folder, stem, extension, time_stamped);
            fs::rename(copy.temporary, target, ec);
            if (ec) {
                Logger::e("get_file err: " + ec.message() + ": " + target.string());
                results[ip] = rc(ErrorType::UnexpectedDriverError);
                continue;
            }
            copy.kept = true;
            const std::string path = target.string();
            set_bytes_array_param(ParamType::FilePath, output_params, device_utils::parse_byte_array_from_string(path),
                                  false);
            saved += (saved.empty() ? "" : "\n") + path;
        }
        if (!saved.empty())
            set_bytes_array_param(ParamType::SavedFilePaths, output_params,
                                  device_utils::parse_byte_array_from_string(saved), false);

        for (const scale_connect_data& scale : ip_address_list)
            if (own_result(scale.ip) != rc(ErrorType::FileReceived)) return without_active_scales();
        return rc(ErrorType::Success);
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
