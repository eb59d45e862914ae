#pragma once
// The process-wide log. Silent until the host calls Logger::init_log.

#include <string>

class __attribute__((visibility("default"))) Logger {
public:
    Logger() = delete;

    static void init_log(const std::string& prefix);
    static void set_filter(int level);

    static void t(std::string message);  // trace
    static void d(std::string message);  // debug
    static void i(std::string message);  // info
    static void w(std::string message);  // warning
    static void e(std::string message);  // error

    static std::string get_log_file_name();
    static std::string get_memory_log_data();
    static void delete_logs_older_than(const std::string& folder, const std::string& prefix, int days);
    static std::string appdata_path();
    static std::string path_delim();
};
