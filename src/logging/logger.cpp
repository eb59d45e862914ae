// Temporary stand-in until the real logger lands: every call is silent.
#include "logger.h"
void Logger::init_log(const std::string&) {}
void Logger::set_filter(int) {}
void Logger::t(std::string) {}
void Logger::d(std::string) {}
void Logger::i(std::string) {}
void Logger::w(std::string) {}
void Logger::e(std::string) {}
std::string Logger::get_log_file_name() { return {}; }
std::string Logger::get_memory_log_data() { return {}; }
void Logger::delete_logs_older_than(const std::string&, const std::string&, int) {}
std::string Logger::appdata_path() { return {}; }
std::string Logger::path_delim() { return "/"; }
