#pragma once
// The local side of a download: names that fit the file system, temporary
// copies created new beside their final names and flushed to disk, those
// that a dead process left behind, and per-scale folders that stay inside
// the download folder. Every descriptor is close-on-exec.

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

namespace local_files {

// The longest name of one path component, in bytes.
constexpr std::size_t name_limit = 255;

// A temporary name for `name` that no other copy of this process or of
// another one uses: "." + name + ".part-<pid>-<n>", the name cut so that the
// whole fits `name_limit` whenever `name` does.
std::string temporary_name(const std::string& name);

// Removes from `folder` the regular files named as temporary copies whose
// process no longer runs. Those of a running process (this one included)
// stay; nothing else is touched.
void remove_stale_temporaries(const std::filesystem::path& folder);

// Makes `folder`, which lies lexically below `base`, a folder of real
// folders: `base` and its parents are created as needed (links in them are
// the host's own); below it each missing component is created, and one that
// exists must be a folder, never a link (ELOOP), so that a link planted in
// the download folder cannot lead a copy elsewhere. An empty code on success.
std::error_code make_folder_below(const std::filesystem::path& base, const std::filesystem::path& folder);

// Puts the names in `folder` (a rename into it) on the disk. 0, or the
// errno of the failed open or flush.
int sync_folder(const std::filesystem::path& folder);

// A file created new for writing: never through a link planted at its name,
// never over anything already there.
class new_file {
public:
    new_file() = default;
    ~new_file();
    new_file(const new_file&) = delete;
    new_file& operator=(const new_file&) = delete;

    // 0, or the errno of the failed creation (EEXIST when the name is taken).
    int create(const std::filesystem::path& path);
    // Writes all `size` bytes: false when they did not all land.
    bool write(const std::byte* data, std::size_t size);
    // Puts what was written on the disk: false when it could not be.
    bool sync();
    // False when the file's last writes failed.
    bool close();
    // The errno of the first failed write or close, 0 while none failed.
    int error() const { return error_; }

private:
    bool failed(int error);

    int fd_ = -1;
    int error_ = 0;
};

}  // namespace local_files
