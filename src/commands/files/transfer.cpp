// The file-transfer exchange shared by upload and download: local files, their
// MD5, the hash request to the scales and the check of downloaded copies.

#include "commands/files/transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>
#include <type_traits>
#include <utility>

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

// Why a local file could not be read: the status, the reader's own line
// (after "get_bytes_array_from_file err:") and the reason alone, for a
// caller that words its own line.
struct read_failure {
    file_read_status status = file_read_status::ok;
    std::string line;
    std::string reason;
};

std::string system_reason(int error)
{
    return std::generic_category().message(error);
}

file_read_status fail(read_failure& failure, file_read_status status, std::string line, std::string reason)
{
    failure = {status, std::move(line), std::move(reason)};
    return status;
}

file_read_status fail_open(read_failure& failure, const std::string& path, const std::string& reason)
{
    return fail(failure, file_read_status::unreadable, " failed open file! " + log_text(path) + ": " + reason, reason);
}

file_read_status fail_too_large(read_failure& failure, const std::string& path, unsigned long long size)
{
    return fail(failure, file_read_status::too_large,
                " file too large (" + std::to_string(size) + " bytes): " + log_text(path), "file too large");
}

// Fewer bytes than the file's size: cut short by another process (no
// error), or a read error (its reason).
file_read_status fail_short(read_failure& failure, const std::string& path, unsigned long long got,
                            unsigned long long size, int error)
{
    const std::string count = "read " + std::to_string(got) + " of " + std::to_string(size) + " bytes";
    const std::string reason = error != 0 ? system_reason(error) : "";
    return fail(failure, file_read_status::unreadable,
                " " + count + ": " + log_text(path) + (reason.empty() ? "" : ": " + reason),
                reason.empty() ? count : count + ": " + reason);
}

// One local file, open for reading. The open itself can never wait (a FIFO
// put in the file's place would hold the host's thread for good), no child
// that the host starts inherits the descriptor, and only what is a regular
// file once opened is read.
class local_reader {
public:
    local_reader() = default;
    ~local_reader()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    local_reader(const local_reader&) = delete;
    local_reader& operator=(const local_reader&) = delete;

    file_read_status open(const std::string& path, read_failure& failure)
    {
        QV_SEAM("local file opening");
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_LARGEFILE);
        if (fd_ < 0) return fail_open(failure, path, system_reason(errno));
        struct stat64 st {};
        if (::fstat64(fd_, &st) != 0) return fail_open(failure, path, system_reason(errno));
        if (!S_ISREG(st.st_mode)) return fail_open(failure, path, "not a regular file");
        // Reads of a regular file wait as reads of a disk do.
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0)
            return fail_open(failure, path, system_reason(errno));
        size_ = static_cast<unsigned long long>(st.st_size);
        if (size_ > max_file_size) return fail_too_large(failure, path, size_);
        return file_read_status::ok;
    }

    // The size when it was opened.
    unsigned long long size() const { return size_; }

    // Up to `size` bytes, fewer only at the file's end; -1 with errno set on
    // a read error.
    ssize_t read(std::byte* into, std::size_t size)
    {
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::read(fd_, into + got, size - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return -1;
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        return static_cast<ssize_t>(got);
    }

private:
    int fd_ = -1;
    unsigned long long size_ = 0;
};

file_read_status read_whole(const std::string& path, bytes& out, read_failure& failure)
{
    local_reader in;
    const file_read_status opened = in.open(path, failure);
    if (opened != file_read_status::ok) return opened;
    // Checked before narrowing to size_t, which is 32-bit here.
    if (in.size() > out.max_size()) return fail_too_large(failure, path, in.size());
    out.resize(static_cast<std::size_t>(in.size()));
    QV_SEAM("local file measured");
    // An empty file leaves data() a null pointer: nothing to read into.
    const ssize_t got = out.empty() ? 0 : in.read(out.data(), out.size());
    const int error = got < 0 ? errno : 0;
    // Cut short while it was read (by another process, or a read error):
    // its size and digest would describe another file.
    if (got < 0 || static_cast<std::size_t>(got) != out.size())
        return fail_short(failure, path, got < 0 ? 0 : static_cast<unsigned long long>(got), out.size(), error);
    return file_read_status::ok;
}

}  // namespace

// ---- Local files.

file_read_status read_local_file(const std::string& path, bytes& out)
{
    out.clear();
    read_failure failure;
    try {
        if (read_whole(path, out, failure) == file_read_status::ok) return file_read_status::ok;
    } catch (const std::bad_alloc&) {
        fail(failure, file_read_status::too_large, " file too large to hold in memory: " + log_text(path), "");
    } catch (const std::exception& e) {
        fail(failure, file_read_status::unreadable, e.what(), "");
    }
    bytes().swap(out);
    Logger::e("get_bytes_array_from_file err:" + failure.line);
    return failure.status;
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

namespace {

file_read_status digest_of(const std::string& path, bytes& digest, const std::atomic<bool>* stop, read_failure& failure)
{
    local_reader in;
    const file_read_status opened = in.open(path, failure);
    if (opened != file_read_status::ok) return opened;
    md5_stream md5;
    std::vector<std::byte> piece(1 << 16);
    unsigned long long total = 0;
    for (;;) {
        const ssize_t got = in.read(piece.data(), piece.size());
        if (got < 0) return fail_short(failure, path, total, in.size(), errno);
        if (got == 0) break;
        total += static_cast<unsigned long long>(got);
        // Grown while it was read: still never more than the offsets reach.
        if (total > max_file_size) return fail_too_large(failure, path, total);
        md5.update(piece.data(), static_cast<std::size_t>(got));
        QV_SEAM("digest piece read");
        // A copy of gigabytes takes seconds to read: a stop ends it here.
        if (stop != nullptr && stop->load()) return file_read_status::stopped;
    }
    digest = md5.finish();
    return file_read_status::ok;
}

}  // namespace

file_read_status file_digest(const std::string& path, bytes& digest, const std::atomic<bool>* stop, std::string* why)
{
    digest.clear();
    read_failure failure;
    try {
        const file_read_status status = digest_of(path, digest, stop, failure);
        if (status == file_read_status::ok || status == file_read_status::stopped) return status;
    } catch (const std::exception& e) {
        fail(failure, file_read_status::unreadable, e.what(), e.what());
    }
    digest.clear();
    if (why != nullptr)
        *why = failure.reason;
    else
        Logger::e("get_bytes_array_from_file err:" + failure.line);
    return failure.status;
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
        std::string why;
        const file_read_status read = hash.empty() || path == paths.end()
                                          ? file_read_status::unreadable
                                          : file_digest(path->second, digest, &d.stop_requested, &why);
        if (read == file_read_status::stopped) {
            for (auto& entry : d.results) entry.second = rc(ErrorType::CommandStopped);
            return rc(ErrorType::CommandStopped);
        }
        int code = rc(ErrorType::InvalidHashData);
        if (hash.empty()) {
            Logger::e("md5_check: no hash data for ip = " + ip);
        } else if (path == paths.end()) {
            Logger::e("md5_check: local copy unreadable: " + ip);
        } else if (read != file_read_status::ok) {
            // The scale's data are not at fault: the copy was lost here
            // (its folder removed, say).
            Logger::e("get_file err: cannot read back " + log_text(path->second) + ": " + why);
            code = rc(ErrorType::UnexpectedDriverError);
        } else {
            // An empty copy is compared like any other: with the digest of
            // the empty message.
            if (hash.size() >= digest.size() && std::equal(digest.begin(), digest.end(), hash.begin())) continue;
            Logger::e(single ? "md5_check invalid_hash_data_" : "md5_check invalid_hash_data");
        }
        // The scale's own entry says so, even when it read "File received."
        d.results[ip] = code;
        if (single) return code;
        result = rc(ErrorType::BroadcastError);
    }
    return result;
}
