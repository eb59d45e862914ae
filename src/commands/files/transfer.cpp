// The file-transfer exchange shared by upload and download: local files, their
// MD5, the hash request to the scales and the check of downloaded copies.

#include "commands/files/transfer.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <fstream>
#include <new>
#include <type_traits>

#include <boost/uuid/detail/md5.hpp>
#include <boost/version.hpp>

#include "codecs/device_utils.h"
#include "core/command.h"
#include "test_hooks/test_hooks.h"
#include "logging/logger.h"

namespace {

using bytes = std::vector<std::byte>;

// Packet offsets travel as 32 bits.
constexpr unsigned long long max_file_size = 0xFFFFFFFFull;

void log_unreadable()
{
    Logger::e("get_bytes_array_from_file err: failed open file!");
}

// Opens `path` for reading when it names a regular file: opening a FIFO
// would block for ever, a folder has no size to read.
bool open_regular_file(const std::string& path, std::ifstream& in)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::is_regular_file(status)) in.open(path, std::ios::binary);
    if (in.is_open() && in) return true;
    log_unreadable();
    return false;
}

}  // namespace

// ---- Local files.

file_read_status read_local_file(const std::string& path, bytes& out)
{
    out.clear();
    try {
        std::ifstream in;
        if (!open_regular_file(path, in)) return file_read_status::unreadable;
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
        QV_SEAM("local file measured");
        // An empty file leaves data() a null pointer: nothing to read into.
        if (!out.empty()) in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got != out.size()) {
            // Cut short while it was read (by another process, or a read
            // error): its size and digest would describe another file.
            Logger::e("get_bytes_array_from_file err: read " + std::to_string(got) + " of " +
                      std::to_string(out.size()) + " bytes: " + log_text(path));
            bytes().swap(out);
            return file_read_status::unreadable;
        }
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

// The MD5 reads its input as 32-bit words: it is fed only whole, aligned
// blocks from `staged`, the rest waits there for the next piece.
struct md5_stream::state {
    boost::uuids::detail::md5 md5;
    alignas(8) std::byte staged[4096];
    std::size_t used = 0;
};

md5_stream::md5_stream() : state_(std::make_unique<state>()) {}

md5_stream::~md5_stream() = default;

void md5_stream::update(const std::byte* data, std::size_t size)
{
    state& s = *state_;
    while (size > 0) {
        const std::size_t n = std::min(size, sizeof s.staged - s.used);
        std::memcpy(s.staged + s.used, data, n);
        s.used += n;
        data += n;
        size -= n;
        if (s.used == sizeof s.staged) {
            s.md5.process_bytes(s.staged, s.used);
            s.used = 0;
        }
    }
}

bytes md5_stream::finish()
{
    static_assert(BOOST_VERSION >= 107100, "the digest words of older Boost MD5 are filled differently");
    if (state_->used > 0) state_->md5.process_bytes(state_->staged, state_->used);
    boost::uuids::detail::md5::digest_type digest;
    state_->md5.get_digest(digest);
    state_ = std::make_unique<state>();

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

bytes get_file_hash(const bytes& data)
{
    md5_stream md5;
    md5.update(data.data(), data.size());
    return md5.finish();
}

file_read_status file_digest(const std::string& path, bytes& digest, const std::atomic<bool>* stop)
{
    digest.clear();
    try {
        std::ifstream in;
        if (!open_regular_file(path, in)) return file_read_status::unreadable;
        md5_stream md5;
        std::vector<char> piece(1 << 16);
        unsigned long long total = 0;
        while (in) {
            in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
            const auto got = static_cast<std::size_t>(in.gcount());
            total += got;
            if (total > max_file_size) {
                Logger::e("get_bytes_array_from_file err: file too large (" + std::to_string(total) +
                          " bytes or more): " + path);
                return file_read_status::too_large;
            }
            md5.update(reinterpret_cast<const std::byte*>(piece.data()), got);
            QV_SEAM("digest piece read");
            // A copy of gigabytes takes seconds to read: a stop ends it here.
            if (stop != nullptr && stop->load()) return file_read_status::stopped;
        }
        if (in.bad()) {
            log_unreadable();
            return file_read_status::unreadable;
        }
        digest = md5.finish();
        return file_read_status::ok;
    } catch (const std::exception& e) {
        Logger::e(std::string("get_bytes_array_from_file err:") + e.what());
        return file_read_status::unreadable;
    }
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

int send_unless_stopped(device& d, CommandType type, bool with_password, const bytes& data)
{
    if (!d.stop_requested.load()) return d.send_command(type, with_password, data);
    return d.total_after_stop(rc(ErrorType::CommandStopped));
}

std::string log_text(const std::string& text)
{
    return device_utils::escape_control_characters(device_utils::safe_log_text(text));
}

// ---- The digests.

namespace {

// Every byte left in a reply.
bytes rest_of(device_utils::byte_reader& in)
{
    return in.byte_array(static_cast<int>(in.remaining()));
}

// One poll reply: a status byte, then, once it is 0, the digest. The first
// digest kept wins.
void take_hash_status(scale_reply& reply, file_hash_map& hashes)
{
    if (!reply.data.has(1)) {
        // Without its status byte this scale cannot give a digest, rather
        // than wait for ever.
        Logger::e("get_file_hash_from_scale: reply without status for ip = " + reply.ip);
        reply.result = rc(ErrorType::InvalidResponseLength);
        hashes.try_emplace(reply.ip);
        return;
    }
    if (reply.data.byte() == 0) hashes.try_emplace(reply.ip, rest_of(reply.data));
}

// Bounded: a scale that never finishes hashing must not hold the host's
// thread for ever; it gets an empty digest and -105.
void give_up_waiting(device& d, file_hash_map& hashes)
{
    for (const scale_connect_data& scale : d.ip_address_list) {
        if (!hashes.try_emplace(scale.ip).second) continue;
        Logger::e("get_file_hash_from_scale: no hash in time for ip = " + scale.ip);
        d.results[scale.ip] = rc(ErrorType::InvalidHashData);
    }
}

}  // namespace

file_hash_map hash_with_parameters(device& d, CommandType command, bool with_password, const bytes& options)
{
    file_hash_map hashes;
    bytes data{std::byte{file_subcode::parameters}};
    data.insert(data.end(), options.begin(), options.end());
    const int r = send_unless_stopped(d, command, with_password, data);
    if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError)) return hashes;
    for (const auto& entry : d.results) hashes.try_emplace(entry.first);
    d.read_each_reply([&](scale_reply& reply) { hashes[reply.ip] = rest_of(reply.data); }, r);
    return hashes;
}

file_hash_map hash_by_poll(device& d, CommandType command, bool with_password, const bytes& options)
{
    file_hash_map hashes;
    const file_transfer_wait_times waits = file_transfer_waits();
    const auto deadline = std::chrono::steady_clock::now() + waits.hash_deadline;
    bytes data{std::byte{file_subcode::hash_start}};
    data.insert(data.end(), options.begin(), options.end());
    for (bool first = true;; first = false) {
        const int r = send_unless_stopped(d, command, with_password, data);
        for (const auto& [ip, code] : d.results)
            if (code != rc(ErrorType::Success)) hashes.try_emplace(ip);
        if (r != rc(ErrorType::Success) && r != rc(ErrorType::BroadcastError)) {
            for (const auto& entry : d.results) hashes.try_emplace(entry.first);
            return hashes;
        }
        // The reply to the start request is only an acknowledgement.
        if (!first) d.read_each_reply([&](scale_reply& reply) { take_hash_status(reply, hashes); }, r);
        if (hashes.size() >= d.ip_address_list.size()) return hashes;
        if (std::chrono::steady_clock::now() >= deadline) {
            give_up_waiting(d, hashes);
            return hashes;
        }
        // A stop during the pause ends the poll at the next send.
        sliced_pause(first ? waits.hash_first : waits.hash_next, d.stop_requested);
        data.assign(1, std::byte{file_subcode::hash_poll});
    }
}

// ---- The check of downloaded copies.

int md5_check(device& d, const std::map<std::string, std::string>& paths, const file_hash_map& hashes)
{
    const bool single = d.ip_address_list.size() <= 1;
    if (hashes.empty()) {
        if (d.ip_address_list.empty()) return rc(ErrorType::Success);
        Logger::e("md5_check: no hash data");
        return rc(ErrorType::InvalidHashData);
    }
    int result = rc(ErrorType::Success);
    for (const auto& [ip, hash] : hashes) {
        const auto path = paths.find(ip);
        bytes digest;
        const file_read_status read = hash.empty() || path == paths.end()
                                          ? file_read_status::unreadable
                                          : file_digest(path->second, digest, &d.stop_requested);
        if (read == file_read_status::stopped) {
            for (auto& entry : d.results) entry.second = rc(ErrorType::CommandStopped);
            return rc(ErrorType::CommandStopped);
        }
        bool verified = false;
        if (hash.empty()) {
            Logger::e("md5_check: no hash data for ip = " + ip);
        } else if (read != file_read_status::ok) {
            Logger::e("md5_check: local copy unreadable: " + (path == paths.end() ? ip : log_text(path->second)));
        } else {
            // An empty copy is compared like any other: with the digest of
            // the empty message.
            verified = hash.size() >= digest.size() && std::equal(digest.begin(), digest.end(), hash.begin());
            if (!verified) Logger::e(single ? "md5_check invalid_hash_data_" : "md5_check invalid_hash_data");
        }
        if (verified) continue;
        // The scale's own entry says so, even when it read "File received."
        d.results[ip] = rc(ErrorType::InvalidHashData);
        if (single) return rc(ErrorType::InvalidHashData);
        result = rc(ErrorType::BroadcastError);
    }
    return result;
}
