// The local side of a download: temporary names, stale temporaries, folders
// made without following planted links, files created new, flushes to disk.

#include "commands/files/local_files.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "commands/files/transfer.h"
#include "logging/logger.h"
#include "test_hooks/test_hooks.h"

namespace local_files {

namespace fs = std::filesystem;

namespace {

const std::string part_mark = ".part-";

bool all_digits(const std::string& text)
{
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// The process number in a temporary name, or 0 when `name` is none.
pid_t owner_of(const std::string& name)
{
    if (name.empty() || name[0] != '.') return 0;
    const std::size_t dash = name.rfind('-');
    if (dash == std::string::npos || !all_digits(name.substr(dash + 1))) return 0;
    const std::size_t mark = name.rfind(part_mark, dash);
    if (mark == std::string::npos || mark == 0) return 0;
    const std::string pid = name.substr(mark + part_mark.size(), dash - mark - part_mark.size());
    if (!all_digits(pid) || pid.size() > 9) return 0;
    return static_cast<pid_t>(std::stol(pid));
}

// A process of another user answers EPERM: it runs.
bool process_runs(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::string temporary_name(const std::string& name)
{
    static std::atomic<unsigned> counter{0};
    const std::string mark = part_mark + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    return "." + name.substr(0, name_limit - 1 - mark.size()) + mark;
}

void remove_stale_temporaries(const fs::path& folder)
{
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const pid_t owner = owner_of(it->path().filename().string());
        if (owner <= 0 || owner == ::getpid() || process_runs(owner)) continue;
        std::error_code kind;
        if (!fs::is_regular_file(it->symlink_status(kind)) || kind) continue;
        std::error_code removed;
        if (fs::remove(it->path(), removed))
            Logger::i("get_file: removed " + log_text(it->path().string()) + ", left by process " +
                      std::to_string(owner));
    }
}

std::error_code make_folder_below(const fs::path& base, const fs::path& folder)
{
    std::error_code ec;
    fs::create_directories(base, ec);
    if (ec) return ec;
    const fs::path below = folder.lexically_normal().lexically_relative(base.lexically_normal());
    fs::path at = base;
    for (const fs::path& part : below) {
        if (part.empty() || part == "." || part == "..") return std::make_error_code(std::errc::invalid_argument);
        at /= part;
        if (fs::symlink_status(at, ec).type() == fs::file_type::not_found) fs::create_directory(at, ec);
        if (ec) return ec;
        // Checked after the creation too: what stands there now is what a
        // copy would be written into.
        const fs::file_status status = fs::symlink_status(at, ec);
        if (ec) return ec;
        if (fs::is_symlink(status)) return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        if (!fs::is_directory(status)) return std::make_error_code(std::errc::not_a_directory);
    }
    return below.empty() ? std::make_error_code(std::errc::invalid_argument) : std::error_code();
}

int sync_folder(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = 0;
    while (error == 0 && ::fsync(fd) != 0)
        if (errno != EINTR) error = errno;
    QV_SEAM("download folder flushed");
    ::close(fd);
    return error;
}

new_file::~new_file()
{
    close();
}

int new_file::create(const fs::path& path)
{
    close();
    error_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_LARGEFILE, 0666);
    return fd_ < 0 ? errno : 0;
}

bool new_file::failed(int error)
{
    if (error_ == 0) error_ = error;
    return false;
}

bool new_file::write(const std::byte* data, std::size_t size)
{
    if (fd_ < 0) return failed(EBADF);
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed(errno);
        if (n == 0) return failed(EIO);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool new_file::sync()
{
    if (fd_ < 0) return failed(EBADF);
    while (::fdatasync(fd_) != 0)
        if (errno != EINTR) return failed(errno);
    return true;
}

bool new_file::close()
{
    if (fd_ < 0) return true;
    const int r = ::close(fd_);
    fd_ = -1;
    return r == 0 || failed(errno);
}

}  // namespace local_files
