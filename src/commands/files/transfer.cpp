// The file-transfer exchange shared by upload and download: local files, their
// MD5, the hash request to the scales and the check of downloaded copies.

#include "commands/files/transfer.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <new>
#include <thread>
#include <type_traits>

#include <boost/uuid/detail/md5.hpp>
#include <boost/version.hpp>

#include "codecs/device_utils.h"
#include "core/command.h"
#include "logging/logger.h"

namespace {

using bytes = std::vector<std::byte>;

// Packet offsets travel as 32 bits.
constexpr unsigned long long max_file_size = 0xFFFFFFFFull;

void log_unreadable()
{
    Logger::e("get_bytes_array_from_file err: failed open file!");
}

}  // namespace

// ---- Local files.

file_read_status read_local_file(const std::string& path, bytes& out)
{
    out.clear();
    try {
        // Only regular files: opening a FIFO would block for ever, a folder
        // has no size to read.
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (ec || !std::filesystem::is_regular_file(status)) {
            log_unreadable();
            return file_read_status::unreadable;
        }
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            log_unreadable();
            return file_read_status::unreadable;
        }
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        in.seekg(0, std::ios::beg);
        if (size < 0 || !in) {
            log_unreadable();
            return file_read_status::unreadable;
        }
        // Checked before narrowing to size_t, which is 32-bit here.
        const auto wide_size = static_cast<unsigned long long>(size);
        if (wide_size > max_file_size || wide_size > out.max_size()) {
            Logger::e("get_bytes_array_from_file err: file too large (" + std::to_string(wide_size) +
                      " bytes): " + path);
            return file_read_status::too_large;
        }
        out.resize(static_cast<std::size_t>(wide_size));
        in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
        out.resize(static_cast<std::size_t>(in.gcount()));
        return file_read_status::ok;
    } catch (const std::bad_alloc&) {
        bytes().swap(out);
        Logger::e("get_bytes_array_from_file err: file too large to hold in memory: " + path);
        return file_read_status::too_large;
    } catch (const std::exception& e) {
        bytes().swap(out);
        Logger::e(std::string("get_bytes_array_from_file err:") + e.what());
        return file_read_status::unreadable;
    }
}

bytes get_bytes_array_from_file(const std::string& path)
{
    bytes out;
    read_local_file(path, out);
    return out;
}

bytes get_file_hash(const bytes& data)
{
    static_assert(BOOST_VERSION >= 107100, "the digest words of older Boost MD5 are filled differently");
    boost::uuids::detail::md5 md5;
    if (!data.empty()) md5.process_bytes(data.data(), data.size());  // never a null pointer
    boost::uuids::detail::md5::digest_type digest;
    md5.get_digest(digest);

    bytes out;
    out.reserve(16);
    using word = std::remove_all_extents_t<boost::uuids::detail::md5::digest_type>;
    if constexpr (sizeof(word) == 1) {
        // A digest of bytes is already in the standard order.
        for (std::size_t k = 0; k < 16; ++k) out.push_back(static_cast<std::byte>(digest[k]));
    } else {
        // Each 32-bit word holds four digest bytes, the first one highest.
        for (std::size_t k = 0; k < 16 / sizeof(word); ++k)
            for (int shift = 8 * (static_cast<int>(sizeof(word)) - 1); shift >= 0; shift -= 8)
                out.push_back(static_cast<std::byte>((digest[k] >> shift) & 0xFF));
    }
    return out;
}

std::vector<std::string> get_file_list(const std::filesystem::path& folder)
{
    Logger::e("get_file_list");
    std::vector<std::string> entries;
    if (folder.empty()) return entries;
    try {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) entries.push_back(entry.path().string());
    } catch (const std::exception& e) {
        Logger::e(std::string("get_file_list err:") + e.what());
    }
    return entries;
}

// ---- Waits.

file_transfer_wait_times& file_transfer_waits()
{
    static file_transfer_wait_times waits;
    return waits;
}

int send_unless_stopped(device& d, bool with_password, CommandType command, const bytes& data)
{
    if (!d.stop_requested.load()) return d.send_command(command, with_password, data);
    return d.total_after_stop(rc(ErrorType::CommandStopped));
}

// ---- The hash request.

namespace {

// Every byte after the result byte of a scale's reply.
bytes reply_data(const bytes& reply)
{
    const std::size_t from = reply_data_offset(reply);
    return from < reply.size() ? bytes(reply.begin() + static_cast<long>(from), reply.end()) : bytes{};
}

}  // namespace

file_hash_map device::get_file_hash_from_scale(FileSendState state, bytes options, bool no_password,
                                               CommandType command)
{
    file_hash_map hashes;
    if (state != FileSendState::Parameters && state != FileSendState::Hash) return hashes;

    if (state == FileSendState::Parameters) {
        bytes data{std::byte{file_subcode::parameters}};
        data.insert(data.end(), options.begin(), options.end());
        const int r = send_unless_stopped(*this, !no_password, command, data);
        if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError)) return hashes;
        for (const auto& [ip, code] : results) {
            const auto reply = responses.find(ip);
            hashes[ip] =
                code == rc(ErrorType::Success) && reply != responses.end() ? reply_data(reply->second) : bytes{};
        }
        return hashes;
    }

    const file_transfer_wait_times waits = file_transfer_waits();
    const auto deadline = std::chrono::steady_clock::now() + waits.hash_deadline;
    bytes data{std::byte{file_subcode::hash_start}};
    data.insert(data.end(), options.begin(), options.end());
    for (bool first = true;; first = false) {
        const int r = send_unless_stopped(*this, !no_password, command, data);
        if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError)) {
            for (const auto& entry : results) hashes.try_emplace(entry.first);
            return hashes;
        }
        for (auto& [ip, code] : results) {
            if (code != rc(ErrorType::Success)) {
                hashes.try_emplace(ip);
                continue;
            }
            if (first) continue;  // the start request is only acknowledged
            const auto reply = responses.find(ip);
            const bytes status_and_hash = reply == responses.end() ? bytes{} : reply_data(reply->second);
            if (status_and_hash.empty()) {
                // A poll reply without its status byte: this scale cannot
                // give a digest, rather than wait for ever.
                Logger::e("get_file_hash_from_scale: reply without status for ip = " + ip);
                code = rc(ErrorType::InvalidResponseLength);
                hashes.try_emplace(ip);
                continue;
            }
            if (status_and_hash[0] == std::byte{0})
                hashes.try_emplace(ip, status_and_hash.begin() + 1, status_and_hash.end());
        }
        if (hashes.size() >= ip_address_list.size()) return hashes;

        // Bounded: a scale that never finishes hashing must not hold the
        // host's thread for ever. A stop during the pause ends the poll at
        // the next send.
        if (std::chrono::steady_clock::now() >= deadline) {
            for (const scale_connect_data& scale : ip_address_list) {
                if (!hashes.try_emplace(scale.ip).second) continue;
                Logger::e("get_file_hash_from_scale: no hash in time for ip = " + scale.ip);
                results[scale.ip] = rc(ErrorType::InvalidHashData);
            }
            return hashes;
        }
        sliced_pause(first ? waits.hash_first : waits.hash_next, stop_requested);
        data.assign(1, std::byte{file_subcode::hash_poll});
    }
}

// ---- The check of downloaded copies.

int device::md5_check(const std::string& path_template, const file_hash_map& hashes)
{
    const bool single = ip_address_list.size() <= 1;
    if (hashes.empty()) {
        if (ip_address_list.empty()) return rc(ErrorType::Success);
        Logger::e("md5_check: no hash data");
        return rc(ErrorType::InvalidHashData);
    }
    int result = rc(ErrorType::Success);
    for (const auto& [ip, hash] : hashes) {
        std::string path = path_template;
        device_utils::replace(path, "<ip>", get_subfolder_for_save(ip_address_list, ip));
        bytes content;
        const file_read_status read = read_local_file(path, content);

        bool verified = false;
        if (hash.empty()) {
            Logger::e("md5_check: no hash data for ip = " + ip);
        } else if (read != file_read_status::ok) {
            Logger::e("md5_check: local copy unreadable: " + path);
        } else {
            // An empty copy is compared like any other: with the digest of
            // the empty message.
            const bytes digest = get_file_hash(content);
            verified = hash.size() >= digest.size() && std::equal(digest.begin(), digest.end(), hash.begin());
            if (!verified) Logger::e(single ? "md5_check invalid_hash_data_" : "md5_check invalid_hash_data");
        }
        if (verified) continue;
        // The scale's own entry says so, even when it read "File received."
        results[ip] = rc(ErrorType::InvalidHashData);
        if (single) return rc(ErrorType::InvalidHashData);
        result = rc(ErrorType::BroadcastError);
    }
    return result;
}
