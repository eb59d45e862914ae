// Logger scenarios each run in a forked child (init_log works once per
// process); the in-memory log stream is tested directly.
#include <dlfcn.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

// GCC 12 at -O1 gives a false -Wmaybe-uninitialized inside <regex>.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/log/attributes/constant.hpp>
#include <boost/log/attributes/current_thread_id.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/trivial.hpp>
#include <boost/log/utility/setup/formatter_parser.hpp>

#include "logging/log_gate.h"
#include "logging/logger.h"
#include "logging/logger_test_seam.h"
#include "logging/ring_buffer_stream.h"

#include "../core/test_deadline.h"

namespace fs = std::filesystem;

namespace {

// What the password database answers the logger: the real entry, unless a
// scenario in a forked child asks for a user without an entry or without a
// home folder.
enum class user_entry { real, none, empty_home, no_home };
user_entry answered_entry = user_entry::real;

}  // namespace

extern "C" passwd* getpwuid(uid_t uid)
{
    static passwd entry{};
    static char name[] = "qv";
    static char empty[] = "";
    switch (answered_entry) {
        case user_entry::none:
            return nullptr;
        case user_entry::empty_home:
        case user_entry::no_home:
            entry = passwd{};
            entry.pw_name = name;
            entry.pw_uid = uid;
            entry.pw_dir = answered_entry == user_entry::empty_home ? empty : nullptr;
            return &entry;
        case user_entry::real:
            break;
    }
    using lookup = passwd* (*)(uid_t);
    static const lookup real = reinterpret_cast<lookup>(::dlsym(RTLD_NEXT, "getpwuid"));
    return real ? real(uid) : nullptr;
}

namespace {

constexpr std::size_t MiB = 1048576;

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/qv_logging_XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string log() const { return path + "/.VeravAridir/log"; }
};

// Runs a scenario in a forked child, with the log folder under `home` (when
// given) and std::cout (console sink, set-up lines) sent into `out`. gtest
// prints through stdio, so failure messages show; the exit code carries them.
void run_in_child(const std::string& home, const std::function<void(std::stringstream& out)>& scenario)
{
    std::cout.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::alarm(30);  // the scenario's own deadline: a stuck child ends, and fails, in seconds
        if (!home.empty()) qv_logging_internal::set_home_folder(home);
        std::stringstream out;
        std::streambuf* const saved = std::cout.rdbuf(out.rdbuf());
        scenario(out);
        std::cout.rdbuf(saved);
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "scenario failed in the child, status " << status;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A file last written `age_seconds` ago.
void write_file(const std::string& path, long age_seconds)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "old\n";
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(age_seconds));
}

using Records = std::vector<std::pair<std::string, std::string>>;  // severity, message

// "[" time stamp "][" severity "][0x" thread "]:" blanks message. File and
// console: ISO-like stamp and two blanks; memory log: the date-time library's
// default stamp and one blank.
const std::string record_tail = R"(\]\[(trace|debug|info|warning|error)\]\[0x[0-9a-fA-F]+\]:)";
const std::regex file_line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})" + record_tail + "  ([^ ].*)");
const std::regex memory_line(R"(\[\d{4}-[A-Z][a-z]{2}-\d\d \d\d:\d\d:\d\d\.\d{6})" + record_tail + " ([^ ].*)");

// With `skip_others`, lines of standard output that are not records (the
// set-up lines) are passed over; otherwise every line must be a record.
Records parse(const std::string& text, bool memory_form, bool skip_others = false)
{
    Records out;
    std::istringstream in(text);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, m, memory_form ? memory_line : file_line))
            out.emplace_back(m[1], m[2]);
        else if (!skip_others || line.rfind('[', 0) == 0)
            ADD_FAILURE() << "not a log line: " << line;
    }
    return out;
}

TEST(Logger, LogFolderComesFromPasswordDatabase)
{
    run_in_child("", [](std::stringstream&) {
        ::setenv("HOME", "/not-the-home-folder", 1);
        const passwd* pw = ::getpwuid(::getuid());
        const std::string home = (pw && pw->pw_dir && *pw->pw_dir) ? pw->pw_dir : "/var/lib/VeravAridir";
        EXPECT_EQ(Logger::appdata_path(), home + "/.VeravAridir/log");
    });
}

TEST(Logger, LogFolderFallsBackWithoutAHomeEntry)
{
    for (const user_entry entry : {user_entry::none, user_entry::empty_home, user_entry::no_home}) {
        SCOPED_TRACE(static_cast<int>(entry));
        run_in_child("", [entry](std::stringstream&) {
            answered_entry = entry;
            EXPECT_EQ(Logger::appdata_path(), "/var/lib/VeravAridir/.VeravAridir/log");
        });
    }
}

TEST(Logger, SilentBeforeInitThenFiltersFormatsAndOldLogs)
{
    TempDir home;
    const std::string A = home.log();
    const long day = 24 * 3600;
    const std::tuple<std::string, long, bool> files[] = {
        // name, age in seconds, kept
        {A + "/pos_quorvix_driver_17.log", 7 * day + 1, false},
        {A + "/pos_quorvix_driver_18.log", 6 * day, true},
        {A + "/other.log", 30 * day, true},
        {A + "/quorvix_driver_21.log", 30 * day, true},  // another prefix
        {A + "/pos_quorvix_driver_sub/pos_quorvix_driver_19.log", 30 * day, true},  // never entered
        {A + "/pos_old/pos_quorvix_driver_20_00.log", 8 * day, false},
        {A + "/pos_old/pos_quorvix_driver_20_01.log", 7 * day - 60, true},
    };
    for (const auto& [name, age, kept] : files) write_file(name, age);

    run_in_child(home.path, [&](std::stringstream& out) {
        Logger::e("before init");  // no file, no console line, no memory log
        EXPECT_EQ(Logger::get_log_file_name() + Logger::get_memory_log_data() + out.str(), "");
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(home.path), {}), 11)
            << "only the old logs and folders";
        Logger::init_log("pos_");
        Logger::d("debug-0");
        Logger::i("info-0");
        Logger::init_log("other_");  // ignored
        const std::tuple<int, void (*)(std::string), const char*> writes[] = {
            // filter, writer, message
            {0, Logger::t, "trace-1"},      {0, Logger::d, "debug-1"}, {4, Logger::w, "warning-4"},
            {4, Logger::e, "error-4"},      {5, Logger::e, "error-5"}, {-3, Logger::t, "trace-neg"},
            {-3, Logger::w, "Привет, весы"}};
        for (const auto& [filter, write, message] : writes) {
            Logger::set_filter(filter);
            write(message);
        }
        const std::string name = "pos_quorvix_driver_" + std::to_string(::getpid()) + ".log";
        EXPECT_EQ(Logger::get_log_file_name(), name);
        const Records expected = {{"info", "info-0"},   {"trace", "trace-1"},   {"debug", "debug-1"},
                                  {"error", "error-4"}, {"trace", "trace-neg"}, {"warning", "Привет, весы"}};
        EXPECT_EQ(parse(read_file(A + "/" + name), false), expected);
        EXPECT_EQ(parse(Logger::get_memory_log_data(), true), expected);
        const std::string console = out.str();
        EXPECT_EQ(parse(console, false, true), expected);
        EXPECT_EQ(console.find("path to log file: " + A + "\n"), 0u) << console;
        for (const char* gone : {"pos_quorvix_driver_17.log", "pos_quorvix_driver_20_00.log"})
            EXPECT_NE(console.find(std::string("Удаляю старый лог: ") + gone + "\n"), std::string::npos);
        for (const auto& [file, age, kept] : files) EXPECT_EQ(fs::exists(file), kept) << file;
    });
}

TEST(Logger, UnwritableLogFolderNeverBreaksACaller)
{
    TempDir tmp;
    write_file(tmp.path + "/home", 0);  // a file where the home folder should be
    run_in_child(tmp.path + "/home", [&](std::stringstream& out) {
        EXPECT_NO_THROW(Logger::init_log("pos_"));
        EXPECT_NO_THROW(Logger::i("still logging"));
        std::thread([] { Logger::e("from a thread"); }).join();
        const Records expected = {{"info", "still logging"}, {"error", "from a thread"}};
        EXPECT_EQ(parse(Logger::get_memory_log_data(), true), expected);
        EXPECT_EQ(parse(out.str(), false, true), expected);
    });
}

TEST(Logger, RotatesBySizeAndKeepsFiveOldFiles)
{
    TempDir home;
    const std::string old = home.log() + "/pos_old/pos_quorvix_driver_";
    // Left by an earlier process, oldest first; all younger than 7 days.
    for (int k = 0; k < 5; ++k) write_file(old + "1_0" + std::to_string(k) + ".log", (5 - k) * 3600L);
    run_in_child(home.path, [&](std::stringstream&) {
        Logger::init_log("pos_");
        for (int k = 0; k < 176; ++k)  // 11 MiB: one size rotation, and the memory log trimmed
            Logger::i(std::string(64 * 1024, 'x'));
        const std::string pid = std::to_string(::getpid());
        EXPECT_TRUE(fs::exists(old + pid + "_00.log"));
        EXPECT_FALSE(fs::exists(old + "1_00.log")) << "the oldest file should go";
        EXPECT_EQ(std::distance(fs::directory_iterator(home.log() + "/pos_old"), fs::directory_iterator()), 5);
        const std::string memory = Logger::get_memory_log_data();
        EXPECT_LE(memory.size(), RingBufferStream::max_size);
        EXPECT_GT(memory.size(), 9 * MiB);
        EXPECT_TRUE(memory.front() == '[' && memory.back() == '\n');
    });
}

TEST(Logger, MemoryLogReadWhileTwoThreadsWrite)
{
    TempDir home;
    run_in_child(home.path, [&](std::stringstream&) {
        Logger::init_log("");
        constexpr int per_writer = 1000;
        std::atomic<int> running{2};
        auto writer = [&](const std::string& name) {
            for (int k = 0; k < per_writer; ++k) Logger::i(name + std::to_string(k));
            --running;
        };
        std::thread a(writer, "writer-a-"), b(writer, "writer-b-");
        for (int reads = 0; running > 0 || reads == 0; ++reads) {
            const std::string copy = Logger::get_memory_log_data();
            EXPECT_TRUE(copy.empty() || copy.back() == '\n');  // whole records only
            if (reads % 50 == 0) parse(copy, true);
        }
        a.join();
        b.join();
        EXPECT_EQ(parse(Logger::get_memory_log_data(), true).size(), 2u * per_writer);
    });
}

// The record formats are written by hand: they must give what Boost's
// format parser and the date-time library's stream output give, byte for
// byte, at any time of day and for every severity, also when the same record
// is formatted again (file, then console) or records come from two threads.
TEST(Logger, RecordFormatsMatchTheLoggingLibrarys)
{
    TempDir home;
    run_in_child(home.path, [](std::stringstream&) {
        namespace logging = boost::log;
        namespace expr = boost::log::expressions;
        using boost::posix_time::ptime;
        using severity = logging::trivial::severity_level;
        Logger::init_log("fmt_");
        Logger::set_filter(0);
        const logging::formatter file_reference =
            logging::parse_formatter("[%TimeStamp%][%Severity%][%ThreadID%]:  %Message%");
        const logging::formatter memory_reference =
            expr::stream << "[" << expr::attr<ptime>("TimeStamp") << "][" << logging::trivial::severity << "]["
                         << expr::attr<logging::attributes::current_thread_id::value_type>("ThreadID")
                         << "]: " << expr::smessage;
        auto format = [](const logging::formatter& f, const logging::record_view& rec) {
            std::string out;
            logging::formatting_ostream strm(out);
            f(rec, strm);
            strm.flush();
            return out;
        };
        auto check = [&](const ptime& stamp, severity level, const std::string& message) {
            logging::attribute_set attrs;  // the record's own time stamp wins over the global one
            attrs["TimeStamp"] = logging::attributes::constant<ptime>(stamp);
            attrs["Severity"] = logging::attributes::constant<severity>(level);
            logging::record rec = logging::core::get()->open_record(attrs);
            ASSERT_TRUE(rec);
            {
                logging::record_ostream strm(rec);
                strm << message;
            }
            const logging::record_view view = rec.lock();
            const std::string file = format(file_reference, view);
            EXPECT_EQ(format(&qv_logging_internal::format_file_record, view), file);
            EXPECT_EQ(format(&qv_logging_internal::format_file_record, view), file);  // the console's turn
            EXPECT_EQ(format(&qv_logging_internal::format_memory_record, view), format(memory_reference, view));
        };
        using boost::gregorian::date;
        using namespace boost::posix_time;
        const ptime stamps[] = {
            ptime(date(2026, 12, 6), hours(9) + minutes(5) + seconds(7) + microseconds(120)),
            ptime(date(2026, 12, 6), hours(9) + minutes(5) + seconds(7) + microseconds(121)),  // same second
            ptime(date(2027, 1, 1), hours(0)),  // no fraction: the memory form has none either
            ptime(date(2024, 2, 29), hours(23) + minutes(59) + seconds(59) + microseconds(999999)),
            ptime(date(1999, 5, 31), hours(12) + microseconds(1)),
            microsec_clock::local_time(),
        };
        const severity levels[] = {severity::trace, severity::debug, severity::info, severity::warning,
                                   severity::error};
        for (const ptime& stamp : stamps)
            for (severity level : levels) check(stamp, level, "Привет, весы " + to_simple_string(stamp));
        check(stamps[0], severity::info, "");
        std::thread([&] { check(stamps[3], severity::error, "from another thread"); }).join();
        check(stamps[3], severity::error, "and back");
    });
}

// Nothing is built for a record the filter drops: the gate follows the
// filter.
TEST(Logger, GateFollowsTheFilter)
{
    TempDir home;
    run_in_child(home.path, [](std::stringstream&) {
        EXPECT_FALSE(qv_logging_internal::writes(4));
        Logger::init_log("gate_");
        EXPECT_FALSE(qv_logging_internal::writes(1));
        EXPECT_TRUE(qv_logging_internal::writes(2));
        Logger::set_filter(4);
        EXPECT_FALSE(qv_logging_internal::writes(3));
        EXPECT_TRUE(qv_logging_internal::writes(4));
        Logger::set_filter(-1);
        EXPECT_TRUE(qv_logging_internal::writes(0));
        Logger::set_filter(5);
        EXPECT_FALSE(qv_logging_internal::writes(4));
    });
}

// ---- the in-memory log stream on its own ----

TEST(RingBufferStream, TrimsWholeMebibytesAboveTheBoundAndKeepsAppending)
{
    const test_deadline deadline{std::chrono::seconds(20)};
    const std::pair<std::size_t, std::size_t> cases[] = {// written, kept
                                                         {10485760, 10485760},
                                                         {10485761, 9437185},
                                                         {12 * MiB + 1, 9 * MiB + 1},
                                                         {100, 100}};
    for (const auto& [written, kept] : cases) {
        RingBufferStream s;
        s << std::string(written, 'a');
        EXPECT_EQ(s.size(), kept) << written;
        s << "tail";  // after a trim too, a write goes after the kept text
        const std::string text = s.str();
        EXPECT_EQ(text.size(), kept + 4 > RingBufferStream::max_size ? kept + 4 - MiB : kept + 4) << written;
        EXPECT_EQ(text.substr(text.size() - 5), "atail") << written;
    }
}

TEST(RingBufferStream, StaysBoundedWithoutFlushAndCutsAtLineEnds)
{
    const test_deadline deadline{std::chrono::seconds(20)};
    RingBufferStream s;
    const std::string line = "[record] Удаляю старый лог: pos_quorvix_driver_17.log and some padding text\n";
    std::size_t most = 0;
    for (std::size_t written = 0; written < 25 * MiB; written += line.size()) {
        s << line;
        most = std::max(most, s.size());
    }
    EXPECT_LE(most, RingBufferStream::max_size);
    const std::string text = s.str();
    EXPECT_EQ(text.substr(0, line.size()), line);
    EXPECT_EQ(text.size() % line.size(), 0u);

    // With no line end to cut at, the cut still never splits a UTF-8 character.
    RingBufferStream u;
    std::string letters = "x";  // puts every 2-byte character off the 1 MiB boundary
    while (letters.size() <= RingBufferStream::max_size) letters += "я";
    u << letters;
    EXPECT_EQ(u.size(), letters.size() - MiB - 1);
    EXPECT_EQ(u.str().substr(0, 2), "я");
}

}  // namespace

namespace {

// Every write is checked, the single line end behind a record included, and
// a record of several MiB is cut inside rather than dropped whole.
TEST(RingBufferStream, NeverAboveTheBoundAndCutsInsideAHugeRecord)
{
    const test_deadline deadline{std::chrono::seconds(20)};
    RingBufferStream s;
    s << std::string(RingBufferStream::max_size, 'a');
    s.put('\n');
    EXPECT_LE(s.size(), RingBufferStream::max_size);

    RingBufferStream h;
    h << "first\n" << std::string(3 * MiB, 'b') << "\n";
    h << std::string(RingBufferStream::max_size - 3 * MiB, 'c');
    EXPECT_LE(h.size(), RingBufferStream::max_size);
    EXPECT_GE(h.size(), RingBufferStream::max_size - MiB);  // not the whole huge record dropped
    EXPECT_EQ(h.str()[0], 'b');
}

}  // namespace
