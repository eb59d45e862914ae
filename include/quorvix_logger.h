#pragma once
// The driver's process-wide log. It stays silent until the host calls
// Logger::init_log once; records then go to a rotating file under
// ~/.VeravAridir/log, to standard output and to an in-memory log that
// get_memory_log_data returns (the newest 10 MiB at most).

#include <string>

#ifndef QUORVIX_DRIVER_API
#define QUORVIX_DRIVER_API __attribute__((visibility("default")))
#endif

#ifndef QUORVIX_DRIVER_INTERNAL
// The log as far as a host calls it. The driver's own build sees the whole
// class (with its severity functions) instead.
class Logger {
public:
    Logger() = delete;

    // Sets logging up; only the first call in a process takes effect.
    QUORVIX_DRIVER_API static void init_log(const std::string& prefix);
    // Lowest severity written: 0 trace, 1 debug, 2 info (the default), 3 warning, 4 error.
    QUORVIX_DRIVER_API static void set_filter(int level);
    QUORVIX_DRIVER_API static std::string get_log_file_name();
    QUORVIX_DRIVER_API static std::string get_memory_log_data();
};
#endif
