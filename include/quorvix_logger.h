#pragma once
// The driver's process-wide log. It stays silent until the host calls
// Logger::init_log once; records then go to a rotating file in
// <home>/.VeravAridir/log, to standard output and to an in-memory log that
// get_memory_log_data returns (the newest 10 MiB at most). <home> is the
// home folder of the account the process runs under, as the user database
// gives it, not $HOME.
//
// A record in the file and on standard output:
//     [2026-12-07 14:05:09.000120][info][0xf37d9340]:  message
// and in the memory log (month by name, one blank, no fraction when it is 0):
//     [2026-Dec-07 14:05:09.000120][info][0xf37d9340]: message

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

    // Sets logging up; only the first call in a process takes effect. The
    // file is <prefix>quorvix_driver_<pid>.log, made by this call; daily and
    // at 7 MiB it is moved into <prefix>old/ beside it as
    // <prefix>quorvix_driver_<pid>_<counter>.log (00, 01, ...). That folder
    // keeps the newest 5 such files of the prefix within 35 MiB; no file of
    // another name is counted or removed. In these names each "/" and each
    // zero byte of the prefix becomes "_", so both always lie in the log
    // folder; every other character ("%" too) stands for itself. Prints
    // "path to log file: " and the folder on standard output, and "Удаляю
    // старый лог: " and the name of each file of that prefix older than 7
    // days, which it deletes. A file log that cannot be opened (a folder
    // that cannot be made, a name too long) is said on standard output and
    // in the memory log, "log file not opened: " with the path and the
    // system's reason; the other two logs go on.
    QUORVIX_DRIVER_API static void init_log(const std::string& prefix);
    // Lowest severity written: 0 trace, 1 debug, 2 info (the default), 3 warning, 4 error.
    // A call before init_log is lost: the log starts at 2.
    QUORVIX_DRIVER_API static void set_filter(int level);
    // The log file's name without its folder, "<prefix>quorvix_driver_<pid>.log"
    // with the prefix as used in it; empty before init_log and when no file
    // log could be opened.
    QUORVIX_DRIVER_API static std::string get_log_file_name();
    // The in-memory log's text; empty before init_log.
    QUORVIX_DRIVER_API static std::string get_memory_log_data();
};
#endif
