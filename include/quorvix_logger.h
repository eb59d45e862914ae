#pragma once
// The driver's process-wide log. It stays silent until the host calls
// Logger::init_log once; records then go to a rotating file under
// ~/.VeravAridir/log, to standard output and to an in-memory log that
// get_memory_log_data returns (the newest 10 MiB at most).

#include <string>

#ifndef QUORVIX_DRIVER_API
#define QUORVIX_DRIVER_API __attribute__((visibility("default")))
#endif

class Logger {
public:
    Logger() = delete;

    // Sets logging up; only the first call in a process takes effect.
    QUORVIX_DRIVER_API static void init_log(const std::string& prefix);
    // Lowest severity written: 0 trace, 1 debug, 2 info (the default), 3 warning, 4 error.
    QUORVIX_DRIVER_API static void set_filter(int level);
    QUORVIX_DRIVER_API static std::string get_log_file_name();
    QUORVIX_DRIVER_API static std::string get_memory_log_data();

    // The driver's own logging; not exported by the library.
    static void t(std::string message);  // trace
    static void d(std::string message);  // debug
    static void i(std::string message);  // info
    static void w(std::string message);  // warning
    static void e(std::string message);  // error

    static void delete_logs_older_than(const std::string& folder, const std::string& prefix, int days);
    static std::string appdata_path();
    static std::string path_delim();
};
