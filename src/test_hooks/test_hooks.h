#pragma once
// The test build's hooks into the whole library: named points where a test
// runs code of its own, to put another thread exactly where a race would
// strike, the log's home folder and its record formats. Compiled in only
// when the build defines
// QV_TEST_SEAMS (the test configuration, QV_TESTS=ON); a library built
// without it carries none of this, and a point is nothing.
//
//     QV_SEAM("stop decided");                          // in the library
//     qv_seam::hook("stop decided", [&] { ... });       // in a test, before
//     qv_seam::clear();                                 // and after it
//
// A hook runs on the thread that reaches the point, each time it does.

#ifdef QV_TEST_SEAMS

#include <functional>
#include <optional>
#include <string>

#include <boost/log/core/record_view.hpp>
#include <boost/log/utility/formatting_ostream.hpp>

namespace qv_seam {

void hook(const char* point, std::function<void()> action);
void clear();
void reach(const char* point);

// The folder the log is written under, in place of the account's home
// folder, so that tests never write into it. Takes effect only when called
// before the process's first log path lookup (Logger::init_log makes one).
void set_home_folder(const std::string& home);
std::optional<std::string> home_folder();

// The log's own record formats (file and console; the memory log), for a
// test to set beside the logging library's. Defined with the log.
void format_file_record(const boost::log::record_view& rec, boost::log::formatting_ostream& strm);
void format_memory_record(const boost::log::record_view& rec, boost::log::formatting_ostream& strm);

}  // namespace qv_seam

#define QV_SEAM(point) ::qv_seam::reach(point)

#else

#define QV_SEAM(point) static_cast<void>(0)

#endif
