#pragma once
// Internal to the library and its tests; not part of the host interface.

#include <string>

#include <boost/log/core/record_view.hpp>
#include <boost/log/utility/formatting_ostream.hpp>

namespace qv_logging_internal {

// Makes Logger::appdata_path() use `home` in place of the user's home folder
// from the password database. Takes effect only when called before the first
// Logger::appdata_path() of the process (Logger::init_log calls it).
__attribute__((visibility("hidden"))) void set_home_folder(const std::string& home);

// The record formats of the file and console sinks and of the memory sink.
__attribute__((visibility("hidden"))) void format_file_record(const boost::log::record_view& rec,
                                                              boost::log::formatting_ostream& strm);
__attribute__((visibility("hidden"))) void format_memory_record(const boost::log::record_view& rec,
                                                                boost::log::formatting_ostream& strm);

}  // namespace qv_logging_internal
