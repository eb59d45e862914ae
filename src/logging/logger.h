#pragma once
// The process-wide log as the driver sees it: the four functions a host
// calls (declared for hosts in quorvix_logger.h, exported) and the driver's
// own severity functions and path helpers (not exported).
#include <string>

#include "quorvix_logger.h"

#ifndef QUORVIX_DRIVER_INTERNAL
#error "the driver's own sources are built with QUORVIX_DRIVER_INTERNAL defined"
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

    static void t(std::string message);  // trace
    static void d(std::string message);  // debug
    static void i(std::string message);  // info
    static void w(std::string message);  // warning
    static void e(std::string message);  // error

    static void delete_logs_older_than(const std::string& folder, const std::string& prefix, int days);
    static std::string appdata_path();
    static std::string path_delim();
};
