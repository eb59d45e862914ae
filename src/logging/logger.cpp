#include "logging/logger.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>

#include <boost/core/null_deleter.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>
#include <boost/locale/generator.hpp>
#include <boost/log/attributes/current_thread_id.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>
#include <boost/log/trivial.hpp>
#include <boost/log/utility/exception_handler.hpp>
#include <boost/log/utility/setup/common_attributes.hpp>
#include <boost/log/utility/setup/console.hpp>
#include <boost/log/utility/setup/formatter_parser.hpp>

#include "codecs/device_utils.h"
#include "logging/file_log.h"
#include "logging/ring_buffer_stream.h"
#include "test_hooks/test_hooks.h"

namespace logging = boost::log;
namespace sinks = boost::log::sinks;
namespace expr = boost::log::expressions;
namespace keywords = boost::log::keywords;
using severity_level = boost::log::trivial::severity_level;

namespace {

using logger_type = logging::sources::severity_logger_mt<severity_level>;
using memory_sink_type = sinks::synchronous_sink<sinks::text_ostream_backend>;

// Set by the first init_log; a second call sees it and does nothing.
std::atomic<bool> s_init_claimed{false};
// Published once the sinks exist; until then every log call returns at once.
// Readers that see it true (acquire) also see everything set up before it.
std::atomic<bool> s_initialized{false};

// Created by init_log and never destroyed: threads of the host may log while
// the process shuts down.
logger_type* s_logger = nullptr;
std::string log_file_name_;
boost::shared_ptr<memory_sink_type> s_memory_sink;

std::string home_folder()
{
#ifdef QV_TEST_SEAMS
    if (const auto home = qv_seam::home_folder()) return *home;
#endif
    const passwd* pw = ::getpwuid(::getuid());
    if (pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] != '\0') return pw->pw_dir;
    return Logger::path_delim() + "var" + Logger::path_delim() + "lib" + Logger::path_delim() + "VeravAridir";
}

// The lowest severity that the core's filter passes, kept beside it so that
// a record the filter would drop costs no trip into the logging core.
std::atomic<int> s_threshold{static_cast<int>(severity_level::info)};

// ---- Record formats. Written by hand rather than by Boost's format parser
// and date-time facets, byte for byte the same:
//   file and console: "[" 2026-12-06 09:05:07.000120 "][" info "][" 0x... "]:  " message
//   memory log:       "[" 2026-Dec-06 09:05:07.000120 "][" info "][" 0x... "]: " message
// (the memory form leaves the fraction out when it is zero, as the date-time
// library's default output does).

// Looked up by name once, not for every record.
const logging::attribute_name& time_stamp_name()
{
    static const logging::attribute_name name("TimeStamp");
    return name;
}
const logging::attribute_name& thread_id_name()
{
    static const logging::attribute_name name("ThreadID");
    return name;
}
const logging::attribute_name& line_id_name()
{
    static const logging::attribute_name name("LineID");
    return name;
}

// The date and time of one second, formatted once for every record of that
// second on this thread.
struct second_text {
    std::uint32_t day = 0;
    std::int64_t second = -1;
    char iso[32] = {};  // "2026-12-06 09:05:07"
    char named[32] = {};  // "2026-Dec-06 09:05:07"
};

const second_text& seconds_of(const boost::posix_time::ptime& t)
{
    thread_local second_text cached;
    const std::uint32_t day = t.date().day_number();
    const std::int64_t second = t.time_of_day().total_seconds();
    if (day != cached.day || second != cached.second) {
        static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        const auto ymd = t.date().year_month_day();
        const unsigned year = ymd.year, month = ymd.month, mday = ymd.day;
        const unsigned h = static_cast<unsigned>(second / 3600) % 100, m = static_cast<unsigned>(second / 60 % 60),
                       sec = static_cast<unsigned>(second % 60);
        std::snprintf(cached.iso, sizeof cached.iso, "%04u-%02u-%02u %02u:%02u:%02u", year, month, mday, h, m, sec);
        std::snprintf(cached.named, sizeof cached.named, "%04u-%s-%02u %02u:%02u:%02u", year, months[month - 1], mday,
                      h, m, sec);
        cached.day = day;
        cached.second = second;
    }
    return cached;
}

// The thread id as Boost.Log prints it, formatted once per thread.
const std::string& thread_text(const logging::aux::thread::id& id)
{
    thread_local logging::aux::thread::id cached_id;
    thread_local std::string cached;
    if (cached.empty() || !(id == cached_id)) {
        std::ostringstream out;
        out << id;
        cached = out.str();
        cached_id = id;
    }
    return cached;
}

static_assert(boost::posix_time::time_duration::ticks_per_second() == 1000000, "six digits of microseconds");

void append_fraction(std::string& out, const boost::posix_time::ptime& t)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, ".%06lu",
                  static_cast<unsigned long>(t.time_of_day().fractional_seconds()) % 1000000);
    out += digits;
}

void append_severity(std::string& out, const logging::record_view& rec)
{
    const auto level = rec[logging::trivial::severity];
    if (!level) return;
    if (const char* name = logging::trivial::to_string(*level))
        out += name;
    else
        out += std::to_string(static_cast<int>(*level));
}

void append_thread(std::string& out, const logging::record_view& rec)
{
    if (const auto id = rec[thread_id_name()].extract<logging::attributes::current_thread_id::value_type>())
        out += thread_text(*id);
}

void append_message(std::string& out, const logging::record_view& rec)
{
    if (const auto message = rec[expr::smessage]) out += *message;
}

// The file and the console share one format: the text is made once per
// record and handed to both.
// "][severity][thread" + the separator + the message: what both record forms
// write after the time stamp.
void append_after_time(std::string& out, const logging::record_view& rec, const char* separator)
{
    out += "][";
    append_severity(out, rec);
    out += "][";
    append_thread(out, rec);
    out += separator;
    append_message(out, rec);
}

void format_common(const logging::record_view& rec, logging::formatting_ostream& strm)
{
    struct made {
        bool valid = false;
        unsigned int line = 0;
        std::string text;
    };
    thread_local made last;
    const auto line = rec[line_id_name()].extract<unsigned int>();
    if (!line || !last.valid || last.line != *line) {
        std::string& out = last.text;
        out.assign("[");
        if (const auto stamp = rec[time_stamp_name()].extract<boost::posix_time::ptime>()) {
            out += seconds_of(*stamp).iso;
            append_fraction(out, *stamp);
        }
        append_after_time(out, rec, "]:  ");
        last.valid = static_cast<bool>(line);
        last.line = line ? *line : 0;
    }
    strm << last.text;
}

void format_memory(const logging::record_view& rec, logging::formatting_ostream& strm)
{
    thread_local std::string out;
    out.assign("[");
    if (const auto stamp = rec[time_stamp_name()].extract<boost::posix_time::ptime>()) {
        out += seconds_of(*stamp).named;
        if (stamp->time_of_day().fractional_seconds() != 0) append_fraction(out, *stamp);
    }
    append_after_time(out, rec, "]: ");
    strm << out;
}

// The prefix as it goes into file and folder names: a "/" would lead out of
// the log folder and a zero byte would cut the name short, so each becomes "_".
std::string name_prefix(std::string prefix)
{
    for (char& c : prefix)
        if (c == '/' || c == '\0') c = '_';
    return prefix;
}

bool starts_with(const std::string& text, const std::string& head)
{
    return text.size() >= head.size() && text.compare(0, head.size(), head) == 0;
}

void write(severity_level level, std::string& message) noexcept
{
    if (!s_initialized.load(std::memory_order_acquire)) return;
    if (static_cast<int>(level) < s_threshold.load(std::memory_order_relaxed)) return;
    // Logging never breaks the caller: whatever a sink or the core throws
    // (bad_alloc included) stays here.
    try {
        logging::record rec = s_logger->open_record(keywords::severity = level);
        if (rec) {
            logging::record_ostream strm(rec);
            strm << message;
            strm.flush();
            s_logger->push_record(std::move(rec));
        }
    } catch (...) {
    }
}

void print_line(const std::string& line)
{
    try {
        std::cout << line << std::endl;
    } catch (...) {
    }
}

}  // namespace

namespace qv_logging_internal {
bool writes(int severity) noexcept
{
    return s_initialized.load(std::memory_order_acquire) && severity >= s_threshold.load(std::memory_order_relaxed);
}
}  // namespace qv_logging_internal

#ifdef QV_TEST_SEAMS
void qv_seam::format_file_record(const logging::record_view& rec, logging::formatting_ostream& strm)
{
    format_common(rec, strm);
}

void qv_seam::format_memory_record(const logging::record_view& rec, logging::formatting_ostream& strm)
{
    format_memory(rec, strm);
}
#endif

std::string Logger::path_delim()
{
    static const std::string delim = "/";
    return delim;
}

std::string Logger::appdata_path()
{
    static const std::string path = home_folder() + path_delim() + ".VeravAridir" + path_delim() + "log";
    return path;
}

void Logger::init_log(const std::string& given_prefix)
{
    if (s_init_claimed.exchange(true)) return;
    std::string file_failure;
    try {
        s_logger = new logger_type();
    } catch (...) {
        return;  // no logger, no log: the calls stay silent
    }
    // Nothing in the set-up may throw out to a C host; each step that can
    // fail is kept apart so that the others still take effect.
    try {
        auto core = logging::core::get();
        // A failing sink must not make log calls throw into commands, asio
        // handlers or the weight thread.
        core->set_exception_handler(logging::make_exception_suppressor());
        core->add_global_attribute("ThreadID", logging::attributes::current_thread_id());

        const std::string prefix = name_prefix(given_prefix);
        const std::string folder = appdata_path();
        const std::string old_folder = folder + path_delim() + prefix + "old";
        print_line("path to log file: " + folder);

        delete_logs_older_than(folder, prefix, 7);
        delete_logs_older_than(old_folder, prefix, 7);

        const std::string pid = std::to_string(::getpid());

        // Registered before any format string is parsed, so that %Severity%
        // prints the severity's name.
        logging::register_simple_formatter_factory<severity_level, char>("Severity");
        const std::string COMMON_FMT = "[%TimeStamp%][%Severity%][%ThreadID%]:  %Message%";

        try {
            // COMMON_FMT, formatted by hand (format_common).
            auto console = logging::add_console_log(std::cout, keywords::auto_flush = true);
            console->set_formatter(&format_common);
            console->set_exception_handler(logging::make_exception_suppressor());
        } catch (...) {
        }

        boost::shared_ptr<sinks::synchronous_sink<file_log_backend>> file_sink;
        try {
            auto backend = boost::make_shared<file_log_backend>(folder, old_folder, prefix, pid);
            // Without the old-log folder the rotated files would have nowhere
            // to go: a failure to make it drops the file log too.
            file_failure = backend->start();
            if (file_failure.empty()) {
                file_sink = boost::make_shared<sinks::synchronous_sink<file_log_backend>>(backend);
                file_sink->set_formatter(&format_common);
                file_sink->set_exception_handler(logging::make_exception_suppressor());
                // Named before the sink is added: a failure in between leaves
                // neither a name nor a sink.
                log_file_name_ = backend->file_name();
                core->add_sink(file_sink);
            }
        } catch (...) {
            file_sink.reset();
            log_file_name_.clear();
        }

        try {
            auto backend = boost::make_shared<sinks::text_ostream_backend>();
            backend->add_stream(boost::shared_ptr<std::ostream>(&in_memory_log_stream, boost::null_deleter()));
            backend->auto_flush(false);  // the stream bounds itself on every write
            s_memory_sink = boost::make_shared<memory_sink_type>(backend);
            // "[" time stamp "][" severity "][" thread id "]: " message, the
            // stamp in the date-time library's default form (format_memory).
            s_memory_sink->set_formatter(&format_memory);
            s_memory_sink->set_exception_handler(logging::make_exception_suppressor());
            core->add_sink(s_memory_sink);
        } catch (...) {
            s_memory_sink.reset();
        }

        if (file_sink) {
            try {
                file_sink->imbue(boost::locale::generator()("ru_RU.utf-8"));
            } catch (...) {
            }
        }

        logging::add_common_attributes();
        core->set_filter([](const logging::attribute_value_set& values) {
            auto level = values[logging::trivial::severity];
            return level && static_cast<int>(*level) >= static_cast<int>(severity_level::info);
        });
        s_threshold.store(static_cast<int>(severity_level::info), std::memory_order_relaxed);
    } catch (...) {
    }
    s_initialized.store(true, std::memory_order_release);
    // Said once the console and memory sinks can carry it.
    try {
        if (!file_failure.empty())
            Logger::e("log file not opened: " +
                      device_utils::safe_log_text(device_utils::escape_control_characters(file_failure)));
    } catch (...) {
    }
}

void Logger::set_filter(int level)
{
    if (!s_initialized.load(std::memory_order_acquire)) return;
    try {
        // Compared as int: levels outside 0-4 are valid thresholds, not
        // severities.
        logging::core::get()->set_filter([level](const logging::attribute_value_set& values) {
            auto severity = values[logging::trivial::severity];
            return severity && static_cast<int>(*severity) >= level;
        });
        s_threshold.store(level, std::memory_order_relaxed);
    } catch (...) {
    }
}

void Logger::t(std::string message)
{
    write(severity_level::trace, message);
}
void Logger::d(std::string message)
{
    write(severity_level::debug, message);
}
void Logger::i(std::string message)
{
    write(severity_level::info, message);
}
void Logger::w(std::string message)
{
    write(severity_level::warning, message);
}
void Logger::e(std::string message)
{
    write(severity_level::error, message);
}

std::string Logger::get_log_file_name()
{
    if (!s_initialized.load(std::memory_order_acquire)) return {};
    return log_file_name_;
}

std::string Logger::get_memory_log_data()
{
    if (!s_initialized.load(std::memory_order_acquire) || !s_memory_sink) return {};
    // Copied under the lock the memory sink holds while it writes a record.
    auto backend = s_memory_sink->locked_backend();
    return in_memory_log_stream.str();
}

void Logger::delete_logs_older_than(const std::string& folder, const std::string& prefix, int days)
{
    const auto now = std::chrono::system_clock::now();
    // Clamped so that the limit cannot overflow; 100000 days is beyond any
    // file's age anyway.
    const std::int64_t kept_days = days > 100000 ? 100000 : (days < -100000 ? -100000 : days);
    const std::chrono::nanoseconds limit = std::chrono::hours(24) * kept_days;
    const std::string head = prefix + "quorvix_driver";
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) return;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        try {
            std::error_code entry_ec;
            const auto& path = it->path();
            if (!std::filesystem::is_regular_file(it->status(entry_ec)) || entry_ec) continue;
            const std::string name = path.filename().string();
            if (!starts_with(name, head)) continue;
            struct stat64 st {};  // a 32-bit stat fails on a file past 2 GiB
            if (::stat64(path.c_str(), &st) != 0) continue;
            const auto written =
                std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::seconds(static_cast<std::int64_t>(st.st_mtim.tv_sec)) +
                    std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
            if (now - written > limit) {
                print_line("Удаляю старый лог: " + name);
                std::filesystem::remove(path, entry_ec);
            }
        } catch (...) {
        }
    }
}
