// The log file's sink backend: appending, rotating and the old-log folder's limits.
#include "logging/file_log.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "test_hooks/test_hooks.h"

namespace {

// Every file the log opens is close-on-exec from the start: a child the host
// starts never holds one. O_LARGEFILE: the build is 32-bit.
constexpr int open_flags = O_CLOEXEC | O_NOCTTY | O_LARGEFILE;

std::string failure(const std::string& path, int error)
{
    return path + ": " + std::system_category().message(error);
}

std::string make_folders(const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (!ec && !std::filesystem::is_directory(path, ec) && !ec) ec = std::make_error_code(std::errc::not_a_directory);
    return ec ? failure(path, ec.value()) : std::string();
}

// The bytes of `size` written, fewer when the disk refuses the rest.
std::size_t write_all(int fd, const char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    return done;
}

// The next local 00:00:00 after `now`.
std::time_t next_midnight(std::time_t now)
{
    std::tm t{};
    if (::localtime_r(&now, &t) == nullptr) return now + 24 * 3600;
    t.tm_mday += 1;
    t.tm_hour = t.tm_min = t.tm_sec = 0;
    t.tm_isdst = -1;
    const std::time_t next = std::mktime(&t);
    return next > now ? next : now + 24 * 3600;
}

bool taken(const std::string& path)
{
    struct stat64 st {};
    return ::lstat64(path.c_str(), &st) == 0;
}

// A copy that is complete or not there at all.
bool copy_file(const std::string& from, const std::string& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | open_flags);
    if (in < 0) return false;
    QV_SEAM("log file copying");
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | open_flags, 0666);
    bool copied = out >= 0;
    while (copied) {
        const ssize_t n = ::sendfile(out, in, nullptr, 1 << 20);
        if (n == 0) break;
        copied = n > 0 || errno == EINTR;
    }
    ::close(in);
    if (out < 0) return false;
    if (::close(out) != 0) copied = false;
    if (!copied) ::unlink(to.c_str());
    return copied;
}

// A rename, or a copy when the old-log folder lies on another file system
// (a link to another disk).
bool move_file(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV || !copy_file(from, to)) return false;
    if (::unlink(from.c_str()) == 0) return true;
    ::unlink(to.c_str());
    return false;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// head + <digits> + "_" + <two digits or more> + ".log": the rotated files of
// this prefix, of any process.
bool is_rotated_name(const std::string& name, const std::string& head)
{
    if (name.compare(0, head.size(), head) != 0) return false;
    std::size_t i = head.size();
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < name.size() && is_digit(name[i])) ++i;
        return i - from;
    };
    if (digits() < 1 || i == name.size() || name[i++] != '_' || digits() < 2) return false;
    return name.compare(i, std::string::npos, ".log") == 0;
}

}  // namespace

file_log_backend::file_log_backend(std::string folder, std::string old_folder, const std::string& prefix,
                                   const std::string& pid)
    : folder_(std::move(folder)),
      old_folder_(std::move(old_folder)),
      own_head_(prefix + "quorvix_driver_"),
      file_name_(own_head_ + pid + ".log"),
      path_(folder_ + "/" + file_name_),
      rotated_stem_(own_head_ + pid + "_")
{
}

file_log_backend::~file_log_backend()
{
    if (fd_ >= 0) ::close(fd_);
}

std::string file_log_backend::start()
{
    std::string failed = make_folders(old_folder_);
    return failed.empty() ? open_file() : failed;
}

std::string file_log_backend::open_file()
{
    if (std::string failed = make_folders(folder_); !failed.empty()) return failed;
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | open_flags, 0666);
    if (fd_ < 0) return failure(path_, errno);
    struct stat64 st {};
    bytes_ = ::fstat64(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    rotate_at_ = rotation_size;
    next_midnight_ = next_midnight(std::time(nullptr));
    return {};
}

void file_log_backend::consume(const boost::log::record_view&, const string_type& record)
{
    // A file that could not be opened again after a rotation is tried once
    // more for each record; until then records are dropped.
    if (fd_ < 0 && !open_file().empty()) return;
    line_.assign(record).push_back('\n');
    const std::time_t now = std::time(nullptr);
    const std::uint64_t reached = bytes_ + line_.size();
    if (now >= next_midnight_ || reached >= rotate_at_) {
        // An empty file is not worth a rotated copy.
        if (bytes_ > 0 && !rotate()) {
            // The records stay in the file and the rotation is tried again at
            // the next multiple of 7 MiB; a file that still cannot be rotated
            // starts over rather than hold more than the log may keep in all
            // (current and old files), so that a lasting failure cannot fill
            // the disk.
            if (reached >= rotation_size + old_logs_max_size && ::ftruncate(fd_, 0) == 0) bytes_ = 0;
            rotate_at_ = bytes_ == 0 ? rotation_size : (reached / rotation_size + 1) * rotation_size;
        }
        next_midnight_ = next_midnight(now);
        if (fd_ < 0) return;
    }
    bytes_ += write_all(fd_, line_.data(), line_.size());
}

bool file_log_backend::rotate()
{
    make_folders(old_folder_);
    std::string target;
    for (;; ++next_counter_) {
        char counter[16];
        std::snprintf(counter, sizeof counter, "%02u", next_counter_);
        target = old_folder_ + "/" + rotated_stem_ + counter + ".log";
        if (!taken(target)) break;  // a name already there (a process id reused) is never overwritten
    }
    if (!move_file(path_, target)) return false;
    ++next_counter_;
    ::close(fd_);
    fd_ = -1;
    open_file();
    keep_old_logs_within_limits();
    return true;
}

// The oldest rotated files of the prefix go (by last write, then name) until
// at most 5 are left and they hold at most 35 MiB; the newest always stays.
// Any other file is neither counted nor removed.
void file_log_backend::keep_old_logs_within_limits()
{
    struct old_log {
        std::int64_t written_s;
        long written_ns;
        std::string name;
        std::uint64_t size;
    };
    std::vector<old_log> logs;
    std::uint64_t total = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(old_folder_, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        struct stat64 st {};
        if (!is_rotated_name(name, own_head_) || ::lstat64(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        logs.push_back(
            {st.st_mtim.tv_sec, st.st_mtim.tv_nsec, std::move(name), static_cast<std::uint64_t>(st.st_size)});
        total += logs.back().size;
    }
    std::sort(logs.begin(), logs.end(), [](const old_log& a, const old_log& b) {
        return std::tie(a.written_s, a.written_ns, a.name) < std::tie(b.written_s, b.written_ns, b.name);
    });
    for (std::size_t left = logs.size(), i = 0; left > 1 && (left > old_logs_max_files || total > old_logs_max_size);
         --left, ++i) {
        // A file that cannot be removed counts as gone: no younger one goes in its place.
        ::unlink((old_folder_ + "/" + logs[i].name).c_str());
        total -= logs[i].size;
    }
}
