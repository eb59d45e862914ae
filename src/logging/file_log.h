#pragma once
// The log file: each record appended and flushed at once, the file rotated
// into the old-log folder by size and at midnight, that folder kept within
// its limits by removing only rotated log files of the same prefix.

#include <cstdint>
#include <ctime>
#include <string>

#include <boost/log/sinks/basic_sink_backend.hpp>

class file_log_backend
    : public boost::log::sinks::basic_formatted_sink_backend<char, boost::log::sinks::synchronized_feeding> {
public:
    static constexpr std::uint64_t rotation_size = 7340032;  // 7 MiB
    static constexpr std::uint64_t old_logs_max_size = 36700160;  // 35 MiB
    static constexpr std::size_t old_logs_max_files = 5;

    // The file is folder/<prefix>quorvix_driver_<pid>.log, rotated into
    // old_folder as <prefix>quorvix_driver_<pid>_<counter>.log.
    file_log_backend(std::string folder, std::string old_folder, const std::string& prefix, const std::string& pid);
    ~file_log_backend();
    file_log_backend(const file_log_backend&) = delete;
    file_log_backend& operator=(const file_log_backend&) = delete;

    // Makes both folders and opens the file: "" once it is open, otherwise
    // the path that failed and the system's reason.
    std::string start();
    const std::string& file_name() const { return file_name_; }

    void consume(const boost::log::record_view& rec, const string_type& record);

private:
    std::string open_file();
    bool rotate();
    void keep_old_logs_within_limits();

    const std::string folder_;
    const std::string old_folder_;
    const std::string own_head_;  // what every rotated name of the prefix begins with
    const std::string file_name_;
    const std::string path_;
    const std::string rotated_stem_;
    int fd_ = -1;
    std::uint64_t bytes_ = 0;  // what the file holds
    std::uint64_t rotate_at_ = rotation_size;
    std::time_t next_midnight_ = 0;
    unsigned next_counter_ = 0;
    std::string line_;
};
