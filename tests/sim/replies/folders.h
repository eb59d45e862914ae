#pragma once
// What a simulated scale does with its own file system and with downloads.
//
// Folders: listings (1D) in parts of a few entries, the root folder path
// (FF 07), backups (BC) and their status (BD, 172 for a few polls after each
// backup), deleting (FF 35) files and folders and creating (FF 36) folders,
// each listed in its parent. Listing parts can be scripted outright to give
// broken counts.
//
// Downloads, on every download opcode (AA, 1C, AF, 1E, 20, 26, BE, FF 0B,
// FF 12, FF 31, FF 34): the name (01, opcode AA), the configuration file's
// digest (02, opcode 1C), hashing (06) and its polls (07, status 1 for a few
// polls, then 0 and the digest), and the packets (03): flag, offset, length
// and bytes, the next part of the file at each request. Faults: a wrong
// digest, a last packet without its flag, an endless file, a wrong offset, a
// short packet, silence, a result byte.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim_scale.h"

namespace qv_sim {

struct folder_entry {
    std::uint8_t type = 0;  // 0 file, 1 folder, anything else passes through
    std::string name;  // empty: an entry of name length 0
};

// One scripted listing reply.
struct listing_part {
    std::uint8_t result = 0;
    std::uint16_t total = 0;
    std::uint16_t count = 0;
    std::vector<folder_entry> entries;
    std::size_t cut = 0;  // when not 0: the data is cut to this many bytes
};

class scale_folders {
public:
    void set_password(const std::string& four_chars);
    void set_folder(const std::string& path, std::vector<folder_entry> entries);
    // A file at `path` ("a/b/c.txt", below the root): listed in its folder,
    // the folders on its way made and listed in theirs.
    void add_file(const std::string& path);
    // Called with the path of every file or folder deleted (FF 35).
    void on_deleted(std::function<void(const std::string& path)> hook);
    void set_page_size(std::size_t entries);  // entries per listing reply (3 until changed)
    // Listing replies served in turn before the folders' own; the last one
    // repeats when `repeat` is set.
    void script_listing(std::vector<listing_part> parts, bool repeat = false);
    void set_root(const std::string& path);
    // After each backup request the status answers 172 `polls` times, then
    // `result`.
    void set_backup_polls(int polls, std::uint8_t result = 0);

    bytes backup_flags() const;  // of the last backup request
    int backup_requests() const;
    int backup_status_requests() const;
    std::vector<std::string> deleted() const;
    std::vector<std::string> created() const;
    bool has_folder(const std::string& path) const;

    reply handle(const request& r);

private:
    mutable std::mutex mu_;
    bytes password_ = to_bytes("1234");
    std::map<std::string, std::vector<folder_entry>> folders_{{"", {}}};
    std::map<std::string, std::size_t> cursor_;
    std::size_t page_ = 3;
    std::vector<listing_part> script_;
    std::size_t next_part_ = 0;
    bool repeat_ = false;
    std::string root_ = "/opt/quorvix";
    int backup_polls_ = 2;
    std::uint8_t backup_result_ = 0;
    int polls_left_ = 0;
    bytes backup_flags_;
    int backups_ = 0;
    int backup_statuses_ = 0;
    std::vector<std::string> deleted_;
    std::vector<std::string> created_;
    std::function<void(const std::string&)> on_deleted_;

    void add_entry(const std::string& path, std::uint8_t type);  // under mu_
    bool remove_entry(const std::string& path);  // under mu_
};

std::shared_ptr<scale_folders> add_folder_replies(sim_scale& sim);

struct download_faults {
    bool wrong_digest = false;  // the digest does not match the content
    bool no_last_flag = false;  // the last packet has flag 2, later ones are empty with flag 2
    bool endless = false;  // the file never ends: packets with flag 0 and right offsets
    std::size_t wrong_offset_at = 0;  // this packet (from 1) claims an offset one byte further
    std::size_t short_at = 0;  // this packet's reply ends 10 bytes before its announced end
    std::size_t silent_at = 0;  // this data request (from 1) gets no answer
    std::uint8_t data_result = 0;  // result byte of the data replies
    int hash_busy = 1;  // hash polls answered with status 1 before the digest
};

class download_store {
public:
    void set_password(const std::string& four_chars);
    // The files served: by their path for opcode AA, else by the opcode in
    // hex ("1E", "FF 12").
    void put(const std::string& key, bytes content);
    void remove(const std::string& key);
    void set_packet_size(std::size_t bytes_per_packet);  // 60000 until changed
    void set_faults(const download_faults& f);

    std::vector<std::string> names() const;  // asked for with 01
    bytes hash_options() const;  // after the sub-code of the last 06 or 02
    std::size_t data_requests() const;

    reply handle(const request& r);

private:
    struct transfer {
        std::string key;
        std::size_t sent = 0;  // bytes of the file served so far
        std::size_t packets = 0;
        int polls = 0;
        bool done = false;
    };

    mutable std::mutex mu_;
    bytes password_ = to_bytes("1234");
    std::map<std::string, bytes> files_;
    std::size_t packet_ = 60000;
    download_faults faults_;
    std::map<bytes, transfer> transfers_;  // by opcode
    std::vector<std::string> names_;
    bytes options_;
    std::size_t data_requests_ = 0;
};

std::shared_ptr<download_store> add_download_replies(sim_scale& sim);

}  // namespace qv_sim
