#pragma once
// The file-transfer exchange shared by the upload and the download: the
// steps and sub-codes of an exchange, reading a local file whole, MD5 digests
// (of bytes in memory, fed piece by piece, or of a file read in pieces),
// listing a local folder, the per-scale folder of a download, the digests the
// scales give and the check of downloaded copies.
//
// Contract for the commands built on it:
// - Every request of an exchange goes through device::send_command with the
//   frame of the file type's internal CommandType; its data opens with one of
//   the sub-codes below.
// - get_file_hash gives the standard RFC 1321 digest bytes (d41d8cd9... for
//   the empty message): compare them byte by byte with a scale's digest.
// - hash_with_parameters and hash_by_poll return one entry per scale that
//   took part, an empty vector for a scale whose exchange failed; the poll
//   ends at the latest after `file_transfer_waits().hash_deadline`, the
//   scales still without a digest then get an empty one and -105 in
//   `results`.
// - md5_check compares each scale's own local copy with its digest.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/device.h"

// The step an exchange is in.
enum class FileSendState : std::int32_t {
    Name = 1,
    Parameters = 2,
    Data = 3,
    BackupParameters = 4,
    Hash = 5,
    Preparation = 6,
    ItemCode = 8,
};

// First byte of the data of every file-transfer request.
namespace file_subcode {
constexpr std::uint8_t name = 0x01;
constexpr std::uint8_t parameters = 0x02;
constexpr std::uint8_t data = 0x03;
constexpr std::uint8_t backup_parameters = 0x05;
constexpr std::uint8_t hash_start = 0x06;
constexpr std::uint8_t hash_poll = 0x07;
constexpr std::uint8_t item_code = 0x08;
constexpr std::uint8_t status = 0x09;
}  // namespace file_subcode

// Content bytes in one full data packet.
constexpr std::size_t file_packet_size = 60000;

// Scale IP text -> the digest it gave; empty for a scale whose exchange failed.
using file_hash_map = std::map<std::string, std::vector<std::byte>>;

// ---- Local files.

enum class file_read_status {
    ok,
    unreadable,  // missing, not a regular file once opened, failed or cut short while reading
    too_large,  // 4 GiB or more (the packet offset is 32-bit), or more than a vector can hold
    stopped,  // a stop request came between two pieces
};

// Every read of a local file opens it close-on-exec and without waiting (a
// FIFO in its place answers at once), and reads it only when what was opened
// is a regular file.

// Reads the whole regular file at `path`; on any failure `out` is empty and
// a line names the path and the reason.
file_read_status read_local_file(const std::string& path, std::vector<std::byte>& out);
// The same, giving only the bytes (empty on any failure).
std::vector<std::byte> get_bytes_array_from_file(const std::string& path);

// The 16-byte MD5 digest of `data`, in the standard byte order.
std::vector<std::byte> get_file_hash(const std::vector<std::byte>& data);

// An MD5 digest fed piece by piece: the same 16 bytes as get_file_hash of
// all the pieces joined, without ever holding them together.
class md5_stream {
public:
    md5_stream();
    ~md5_stream();
    md5_stream(const md5_stream&) = delete;
    md5_stream& operator=(const md5_stream&) = delete;
    void update(const std::byte* data, std::size_t size);
    // The digest of everything fed so far; the stream starts again empty.
    std::vector<std::byte> finish();

private:
    struct state;
    std::unique_ptr<state> state_;
};

// The MD5 digest of the regular file at `path`, read in pieces, so that a
// file of any size the transfer accepts is verified without being held in
// memory. On any failure `digest` is empty and a line names the path and the
// reason; with `why`, the reason goes there instead of a line. With `stop`, a
// stop request ends the reading between two pieces.
file_read_status file_digest(const std::string& path, std::vector<std::byte>& digest,
                             const std::atomic<bool>* stop = nullptr, std::string* why = nullptr);

// The direct entries of a local folder as full path texts, unsorted; an empty
// or unreadable folder gives what was listed so far (logged).
std::vector<std::string> get_file_list(const std::filesystem::path& folder);

// The local folder name of a scale's downloads: its serial number, "-" and its
// IP. Only what could change the path is replaced by '_' (a slash, a zero
// byte, control characters), and "." or ".." become "_" or "__": one path
// component that stays inside the download folder, with every letter of the
// serial kept, unless the name would pass 255 bytes: the serial is then cut
// to fit, the IP kept whole. An IP that the list lacks gives "-" + ip.
std::string get_subfolder_for_save(const std::vector<scale_connect_data>& list, const std::string& ip);

// ---- Waits of the polls. Process-wide; tests shorten them.
struct file_transfer_wait_times {
    std::chrono::milliseconds hash_first{200};  // after the request that starts hashing
    std::chrono::milliseconds hash_next{2000};  // between later hash polls
    std::chrono::milliseconds hash_deadline{std::chrono::minutes(5)};  // the whole hash poll
    std::chrono::milliseconds status_next{2000};  // between upload status polls
};
file_transfer_wait_times& file_transfer_waits();

// send_command, unless a stop request is pending: then no request goes out,
// every entry of `results` becomes -9, and so does the result.
int send_unless_stopped(device& d, CommandType type, bool with_password, const std::vector<std::byte>& data);

// ---- The digests of a file to download, as the scales give them.

// The configuration file: its parameters request (0x02 and `options`) is
// answered with the digest.
file_hash_map hash_with_parameters(device& d, CommandType command, bool with_password,
                                   const std::vector<std::byte>& options);
// Every other file: the scales are asked to hash it (0x06 and `options`),
// then polled (0x07) until each has given its digest or dropped out.
file_hash_map hash_by_poll(device& d, CommandType command, bool with_password, const std::vector<std::byte>& options);

// A text a scale or the host gave, fit for one log line: valid UTF-8 with
// every control character escaped, so that it can never start a record of
// its own.
std::string log_text(const std::string& text);

// The check of downloaded copies: each scale of `hashes` against the local
// copy at its own path in `paths` (by IP). A scale whose data cannot be
// verified (mismatch, no digest, no path) gets -105 in `results`; one whose
// copy cannot be read back has lost it locally: -1000 and a "get_file err:"
// line with the reason. The result is 0, that code with one scale, -111 with
// several; an empty map with scales listed is -105 (nothing was verified). A
// stop request while a copy is read makes every entry of `results` and the
// result -9.
int md5_check(device& d, const std::map<std::string, std::string>& paths, const file_hash_map& hashes);
