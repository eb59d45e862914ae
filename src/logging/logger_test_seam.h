#pragma once
// Internal to the library and its tests; not part of the host interface.

#include <string>

namespace qv_logging_internal {

// Makes Logger::appdata_path() use `home` in place of the user's home folder
// from the password database. Takes effect only when called before the first
// Logger::appdata_path() of the process (Logger::init_log calls it).
__attribute__((visibility("hidden"))) void set_home_folder(const std::string& home);

}  // namespace qv_logging_internal
