// Logger scenarios each run in a forked child (init_log works once per process); the memory log stream directly.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/log/attributes/constant.hpp>
#include <boost/log/attributes/current_thread_id.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/trivial.hpp>
#include <boost/log/utility/setup/formatter_parser.hpp>

// GCC 12 at -O1 gives a false -Wmaybe-uninitialized inside <regex>.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>

#include "logging/log_gate.h"
#include "logging/logger.h"
#include "logging/ring_buffer_stream.h"
#include "test_hooks/test_hooks.h"

#include "../core/test_deadline.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MiB = 1048576;
constexpr std::size_t max_size = RingBufferStream::max_size;

struct TempDir {
    std::string path;
    explicit TempDir(const std::string& base = "/tmp")
    {
        std::string tmpl = base + "/qv_logging_XXXXXX";
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string log() const { return path + "/.VeravAridir/log"; }
};

// Runs a scenario in a forked child with its log folder under `home` and std::cout sent into `out`.
void run_in_child(const std::string& home, const std::function<void(std::stringstream& out)>& scenario)
{
    std::cout.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::alarm(30);  // the scenario's own deadline: a stuck child ends, and fails, in seconds
        qv_seam::set_home_folder(home);
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

// A file last written `age_seconds` ago; with `size`, that long (sparse: it takes no room).
void write_file(const std::string& path, long age_seconds, std::uintmax_t size = 0)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "old\n";
    if (size != 0) fs::resize_file(path, size);
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(age_seconds));
}

// /dev/shm when it is another file system than /tmp, so that a link from one to the other crosses file systems.
std::string other_file_system()
{
    struct stat tmp {};
    struct stat shm {};
    const bool other =
        ::stat("/tmp", &tmp) == 0 && ::stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) && tmp.st_dev != shm.st_dev;
    return other ? "/dev/shm" : "/tmp";
}

// Whether this process holds a descriptor on `path` and every one it holds there is close-on-exec.
::testing::AssertionResult open_close_on_exec(const std::string& path)
{
    int found = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(entry.path(), ec) != fs::path(path)) continue;
        const int fd = std::stoi(entry.path().filename().string());
        if ((::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0)
            return ::testing::AssertionFailure() << "fd " << fd << " is inherited";
        ++found;
    }
    if (found == 0) return ::testing::AssertionFailure() << "not open: " << path;
    return ::testing::AssertionSuccess();
}

// Standard output goes nowhere while it lives: bulk records need no copy there.
struct QuietConsole : std::streambuf {
    std::streambuf* const saved = std::cout.rdbuf(this);
    ~QuietConsole() { std::cout.rdbuf(saved); }
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

using Records = std::vector<std::pair<std::string, std::string>>;  // severity, message

// "[" stamp "][" severity "][0x" thread "]:" message; files: ISO-like stamp, two blanks; memory: one blank.
const std::string record_tail = R"(\]\[(trace|debug|info|warning|error)\]\[0x[0-9a-fA-F]+\]:)";
const std::regex file_line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})" + record_tail + "  ([^ ].*)");
const std::regex memory_line(R"(\[\d{4}-[A-Z][a-z]{2}-\d\d \d\d:\d\d:\d\d\.\d{6})" + record_tail + " ([^ ].*)");

// With `skip_others`, standard output's set-up lines are passed over.
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

// Silent before init; the filter decides the records and the gate; every sink gets them; week-old logs go.
TEST(Logger, SilentBeforeInitThenFiltersFormatsAndOldLogs)
{
    TempDir home;
    const std::string A = home.log();
    const long day = 24 * 3600;
    const std::tuple<std::string, long, bool, std::uintmax_t> files[] = {
        // name, age in seconds, kept, size
        {A + "/pos_quorvix_driver_17.log", 7 * day + 1, false, 0},
        {A + "/pos_quorvix_driver_sub/pos_quorvix_driver_19.log", 30 * day, true, 0},  // never entered
        {A + "/pos_old/pos_quorvix_driver_20_01.log", 7 * day - 60, true, 0},
        {A + "/pos_old/pos_quorvix_driver_21_00.log", 8 * day, false, 3 * 1024 * MiB},  // past what 32 bits count
    };
    for (const auto& [name, age, kept, size] : files) write_file(name, age, size);

    run_in_child(home.path, [&](std::stringstream& out) {
        Logger::e("before init");  // no file, no console line, no memory log
        EXPECT_FALSE(qv_logging_internal::writes(4));
        EXPECT_EQ(Logger::get_log_file_name() + Logger::get_memory_log_data() + out.str(), "");
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(home.path), {}), 8) << "only the old logs";
        Logger::init_log("pos_");
        Logger::d("debug-0");  // info and above by default
        Logger::i("info-0");
        Logger::init_log("other_");  // ignored
        Records expected = {{"info", "info-0"}};
        void (*const write[])(std::string) = {Logger::t, Logger::d, Logger::i, Logger::w, Logger::e};
        const char* const names[] = {"trace", "debug", "info", "warning", "error"};
        // filter, severity, message, written
        const std::tuple<int, int, const char*, bool> writes[] = {{0, 0, "trace-0", true},
                                                                  {4, 3, "warning-4", false},
                                                                  {4, 4, "error-4", true},
                                                                  {5, 4, "error-5", false},
                                                                  {-3, 0, "Привет, весы", true}};
        for (const auto& [filter, severity, message, written] : writes) {
            Logger::set_filter(filter);
            EXPECT_EQ(qv_logging_internal::writes(severity), written) << message;
            write[severity](message);
            if (written) expected.emplace_back(names[severity], message);
        }
        const std::string name = "pos_quorvix_driver_" + std::to_string(::getpid()) + ".log";
        EXPECT_EQ(Logger::get_log_file_name(), name);
        EXPECT_TRUE(open_close_on_exec(A + "/" + name)) << "no child the host starts may hold the log file";
        std::ifstream file(A + "/" + name, std::ios::binary);
        EXPECT_EQ(parse({std::istreambuf_iterator<char>(file), {}}, false), expected);
        EXPECT_EQ(parse(Logger::get_memory_log_data(), true), expected);
        const std::string console = out.str();
        EXPECT_EQ(parse(console, false, true), expected);
        EXPECT_EQ(console.find("path to log file: " + A + "\n"), 0u) << console;
        EXPECT_NE(console.find("Удаляю старый лог: pos_quorvix_driver_17.log\n"), std::string::npos);
        for (const auto& [file, age, kept, size] : files) EXPECT_EQ(fs::exists(file), kept) << file;
    });
}

// The record formats are written by hand: they must give what the logging
// library's own format parser and stream output give, byte for byte, also
// for a time with no fraction and when the same record is formatted twice.
TEST(Logger, RecordFormatsMatchTheLoggingLibrarys)
{
    TempDir home;
    run_in_child(home.path, [](std::stringstream&) {
        namespace logging = boost::log;
        namespace expr = boost::log::expressions;
        using namespace boost::posix_time;
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
        const ptime stamps[] = {ptime(boost::gregorian::date(2026, 12, 6), hours(9) + seconds(7) + microseconds(120)),
                                ptime(boost::gregorian::date(2027, 1, 1), hours(0))};
        for (const ptime& stamp : stamps) {
            for (severity level : {severity::trace, severity::info, severity::error}) {
                logging::attribute_set attrs;
                attrs["TimeStamp"] = logging::attributes::constant<ptime>(stamp);
                attrs["Severity"] = logging::attributes::constant<severity>(level);
                logging::record rec = logging::core::get()->open_record(attrs);
                ASSERT_TRUE(rec);
                logging::record_ostream(rec) << "Привет, весы";
                const logging::record_view view = rec.lock();
                const std::string file = format(file_reference, view);
                EXPECT_EQ(format(&qv_seam::format_file_record, view), file);
                EXPECT_EQ(format(&qv_seam::format_file_record, view), file);  // the console's turn
                EXPECT_EQ(format(&qv_seam::format_memory_record, view), format(memory_reference, view));
            }
        }
    });
}

// A file log that cannot be opened is said, with the path and the system's reason, on standard output and in the
// memory log; no file is made and get_log_file_name gives "".
TEST(Logger, UnwritableLogFolderNeverBreaksACaller)
{
    const std::string too_long(300, 'p');
    // home is a file, prefix, the path that fails below the log folder, the reason
    for (const auto& [home_is_file, prefix, failed, reason] :
         {std::tuple{true, std::string("pos_"), std::string("pos_old"), "Not a directory"},
          {false, too_long, too_long + "old", "File name too long"}}) {
        SCOPED_TRACE(reason);
        TempDir tmp;
        const std::string home = tmp.path + "/home", A = home + "/.VeravAridir/log";
        if (home_is_file) write_file(home, 0);
        run_in_child(home, [&, prefix = prefix, failed = failed, reason = reason](std::stringstream& out) {
            EXPECT_NO_THROW(Logger::init_log(prefix));
            EXPECT_NO_THROW(Logger::i("still logging"));
            const Records expected = {{"error", "log file not opened: " + A + "/" + failed + ": " + reason},
                                      {"info", "still logging"}};
            EXPECT_EQ(parse(Logger::get_memory_log_data(), true), expected);
            EXPECT_EQ(parse(out.str(), false, true), expected);
            EXPECT_EQ(Logger::get_log_file_name(), "");
        });
        EXPECT_TRUE(!fs::exists(A) || fs::is_empty(A)) << "no file and no old-log folder";
    }
}

// A "/" or a zero byte of the prefix becomes "_": the file and its old-log folder stay in the log folder, the name
// given is the one used, and old logs of that prefix are found under it. Nothing appears beside the home folder,
// where "../../../" would lead. Any other character, "%" included, stands for itself.
TEST(Logger, PrefixStaysInTheLogFolder)
{
    const long day = 24 * 3600;
    for (const auto& [prefix, used] : {std::pair{std::string("../../../g"), std::string(".._.._.._g")},
                                       {std::string("a\0b/", 4), std::string("a_b_")},
                                       {std::string("pos_"), std::string("pos_")},
                                       {std::string("%D_"), std::string("%D_")},
                                       {std::string("%N_"), std::string("%N_")},
                                       {std::string("%c_"), std::string("%c_")}}) {
        SCOPED_TRACE(used);
        TempDir tmp;
        const std::string home = tmp.path + "/home", A = home + "/.VeravAridir/log";
        const std::string stale[] = {A + "/" + used + "quorvix_driver_17.log",
                                     A + "/" + used + "old/" + used + "quorvix_driver_17_00.log"};
        for (const std::string& file : stale) write_file(file, 8 * day);
        run_in_child(home, [&, prefix = prefix, used = used](std::stringstream& out) {
            Logger::init_log(prefix);
            Logger::i("in the log folder");
            const std::string name = used + "quorvix_driver_" + std::to_string(::getpid()) + ".log";
            EXPECT_EQ(Logger::get_log_file_name(), name);
            std::ifstream file(A + "/" + name, std::ios::binary);
            EXPECT_EQ(parse({std::istreambuf_iterator<char>(file), {}}, false),
                      (Records{{"info", "in the log folder"}}));
            EXPECT_TRUE(fs::is_directory(A + "/" + used + "old"));
            for (const std::string& old : stale) EXPECT_FALSE(fs::exists(old)) << old;
            EXPECT_NE(out.str().find("Удаляю старый лог: " + used + "quorvix_driver_17.log\n"), std::string::npos);
        });
        EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path), {}), 1) << "only the home folder";
        EXPECT_EQ(std::distance(fs::directory_iterator(A), {}), 2) << "the log file and its old-log folder";
    }
}

// Two threads write 11 MiB (one rotation) while the memory log is read: whole records only; the oldest old file goes.
TEST(Logger, RotatesBySizeWhileTheMemoryLogIsRead)
{
    TempDir home;
    const std::string old = home.log() + "/pos_old/pos_quorvix_driver_";
    // Left by an earlier process, oldest first; all younger than 7 days.
    for (int k = 0; k < 5; ++k) write_file(old + "1_0" + std::to_string(k) + ".log", (5 - k) * 3600L);
    run_in_child(home.path, [&](std::stringstream&) {
        Logger::init_log("pos_");
        std::atomic<int> running{2};
        auto writer = [&](char c) {
            for (int k = 0; k < 88; ++k) Logger::i(std::string(64 * 1024, c));
            --running;
        };
        std::thread a(writer, 'a'), b(writer, 'b');
        for (int reads = 0; running > 0 || reads == 0; ++reads) {
            const std::string copy = Logger::get_memory_log_data();
            EXPECT_TRUE(copy.empty() || (copy.front() == '[' && copy.back() == '\n'));
            EXPECT_LE(copy.size(), max_size);
        }
        a.join();
        b.join();
        EXPECT_TRUE(fs::exists(old + std::to_string(::getpid()) + "_00.log"));
        EXPECT_FALSE(fs::exists(old + "1_00.log")) << "the oldest file should go";
        EXPECT_EQ(std::distance(fs::directory_iterator(home.log() + "/pos_old"), fs::directory_iterator()), 5);
    });
}

// What the rotation limits count and remove: the rotated files of the prefix (this process's and earlier ones'),
// never a file of another name, a folder or a link, also when the old-log folder is a link to a folder elsewhere
// (on another file system where /dev/shm is one: the rotated file is copied there). The oldest goes first, when the
// files pass 35 MiB and when there are more than 5.
TEST(Logger, RotationRemovesOnlyItsOwnFiles)
{
    const long hour = 3600, day = 24 * hour;
    for (const auto& [prefix, linked] : {std::pair{std::string("rot_"), false}, {std::string("%N_"), true}}) {
        SCOPED_TRACE(prefix);
        TempDir home, elsewhere(linked ? other_file_system() : "/tmp"), outside;
        const std::string old = home.log() + "/" + prefix + "old", kept = linked ? elsewhere.path : old;
        if (linked) {
            fs::create_directories(home.log());
            fs::create_directory_symlink(elsewhere.path, old);
        }
        const std::string own = kept + "/" + prefix + "quorvix_driver_";
        // Older and larger than any file of ours: counted, they would go first.
        std::vector<std::string> others = {
            own + "1_0.log",    own + "1_00.log.bak", own + "x_00.log",
            own + "1_00.txt",   own + "_00.log",      own + "1.log",
            own + "2_00.log/a", own + "1_0a.log",     kept + "/other_quorvix_driver_1_00.log"};
        for (const std::string& name : others) write_file(name, day, 8 * MiB);
        for (int k = 1; k <= 8; ++k) {
            others.push_back(kept + "/foreign" + std::to_string(k) + ".txt");
            write_file(others.back(), (k + 1) * day);
        }
        write_file(outside.path + "/outside.log", day, 8 * MiB);
        fs::create_symlink(outside.path + "/outside.log", own + "3_00.log");
        others.push_back(own + "3_00.log");
        others.push_back(outside.path + "/outside.log");
        // An earlier process's rotated files (a 9 in its number), the oldest alone 29 MiB.
        write_file(own + "19_00.log", 5 * hour, 29 * MiB);
        for (int k = 1; k <= 3; ++k) write_file(own + "19_0" + std::to_string(k) + ".log", (5 - k) * hour);

        run_in_child(home.path, [&, prefix = prefix](std::stringstream&) {
            Logger::init_log(prefix);
            const std::string mine = own + std::to_string(::getpid()) + "_";
            const QuietConsole quiet;
            const std::string record(64 * 1024, 'r');
            auto rotated = [&](const std::string& name) {
                for (int k = 0; k < 200 && !fs::exists(name); ++k) Logger::i(record);
                return fs::exists(name);
            };
            ASSERT_TRUE(rotated(mine + "00.log"));
            EXPECT_FALSE(fs::exists(own + "19_00.log")) << "past 35 MiB: the oldest goes";
            EXPECT_TRUE(fs::exists(own + "19_01.log"));
            ASSERT_TRUE(rotated(mine + "01.log"));
            ASSERT_TRUE(rotated(mine + "02.log"));
            EXPECT_FALSE(fs::exists(own + "19_01.log")) << "a sixth file: the oldest goes";
            for (const std::string& name : {own + "19_02.log", own + "19_03.log", mine + "00.log", mine + "01.log"})
                EXPECT_TRUE(fs::exists(name)) << name;
            EXPECT_GE(fs::file_size(mine + "01.log"), 7 * MiB - record.size() - 100);
            EXPECT_TRUE(open_close_on_exec(home.log() + "/" + Logger::get_log_file_name()));
        });
        for (const std::string& name : others) EXPECT_TRUE(fs::exists(fs::symlink_status(name))) << name;
    }
}

// A rotation that cannot be made keeps every record in the file and is tried again at the next 7 MiB; a file that
// still cannot be rotated starts over rather than reach 42 MiB.
TEST(Logger, FailedRotationKeepsTheRecordsWithinABound)
{
    TempDir home;
    const std::string old = home.log() + "/blk_old";
    run_in_child(home.path, [&](std::stringstream&) {
        Logger::init_log("blk_");
        const std::string file = home.log() + "/" + Logger::get_log_file_name();
        const std::string rotated = old + "/blk_quorvix_driver_" + std::to_string(::getpid()) + "_00.log";
        auto block = [&] {
            fs::remove_all(old);
            write_file(old, 0);  // a file where the old-log folder should be
        };
        const QuietConsole quiet;
        const std::string filler(64 * 1024, 'f');
        int written = 0;
        auto write_until = [&](const std::function<bool()>& done) {
            for (int k = 0; k < 1000 && !done(); ++k) Logger::i(std::to_string(written++) + " " + filler);
        };
        block();
        write_until([&] { return fs::file_size(file) >= 10 * MiB; });
        EXPECT_FALSE(fs::exists(rotated));
        fs::remove(old);
        write_until([&] { return fs::exists(rotated); });
        ASSERT_TRUE(fs::exists(rotated));
        EXPECT_LT(fs::file_size(rotated), 14 * MiB);
        EXPECT_GE(fs::file_size(rotated), 14 * MiB - filler.size() - 100);
        // Every record in order, in the rotated file and then the current one.
        int next = 0;
        for (const std::string& path : {rotated, file}) {
            std::ifstream in(path, std::ios::binary);
            for (std::string line; std::getline(in, line); ++next) {
                const auto at = line.find("]:  ");
                ASSERT_NE(at, std::string::npos);
                ASSERT_EQ(std::stoi(line.substr(at + 4)), next);
            }
        }
        EXPECT_EQ(next, written);

        block();
        std::uintmax_t size = 0, largest = 0;
        write_until([&] {
            size = fs::file_size(file);
            largest = std::max(largest, size);
            return size < largest;
        });
        EXPECT_LT(size, largest) << "the file should have started over";
        EXPECT_LT(largest, 42 * MiB);
        EXPECT_GE(largest, 42 * MiB - filler.size() - 100);
    });
}

// An old-log folder on another file system takes a copy; a copy that cannot be made (its name taken meanwhile by
// another process) leaves the file and its records where they were, and the other file alone.
TEST(Logger, ARotatedCopyThatCannotBeMadeLosesNothing)
{
    if (other_file_system() == "/tmp") GTEST_SKIP() << "no second file system at hand";
    TempDir home, elsewhere(other_file_system());
    fs::create_directories(home.log());
    fs::create_directory_symlink(elsewhere.path, home.log() + "/cp_old");
    run_in_child(home.path, [&](std::stringstream&) {
        Logger::init_log("cp_");
        const std::string file = home.log() + "/" + Logger::get_log_file_name();
        const std::string target = elsewhere.path + "/cp_quorvix_driver_" + std::to_string(::getpid()) + "_00.log";
        qv_seam::hook("log file copying", [&] { write_file(target, 0, 3); });
        const QuietConsole quiet;
        Logger::i("first");
        const std::string filler(64 * 1024, 'f');
        for (int k = 0; k < 200 && fs::file_size(file) < 8 * MiB; ++k) Logger::i(filler);
        qv_seam::clear();
        std::ifstream in(file, std::ios::binary);
        std::string line;
        ASSERT_TRUE(std::getline(in, line));
        EXPECT_NE(line.find("]:  first"), std::string::npos) << line;
        EXPECT_GE(fs::file_size(file), 8 * MiB);
        EXPECT_EQ(fs::file_size(target), 3u) << "the other process's file";
    });
}

// The file is rotated once the local time passes midnight: the time zone puts it two seconds ahead.
TEST(Logger, RotatesAtLocalMidnight)
{
    TempDir home;
    run_in_child(home.path, [&](std::stringstream&) {
        const std::time_t now = std::time(nullptr), midnight = now + 2;
        // Local time = UTC + offset; "QVT-h:mm:ss" is ahead of UTC, "QVT+h:mm:ss" behind it.
        long offset = (86400 - midnight % 86400) % 86400;
        if (offset > 43200) offset -= 86400;
        const long ahead = offset < 0 ? -offset : offset;
        char tz[32];
        std::snprintf(tz, sizeof tz, "QVT%c%ld:%02ld:%02ld", offset < 0 ? '+' : '-', ahead / 3600, ahead / 60 % 60,
                      ahead % 60);
        ::setenv("TZ", tz, 1);
        ::tzset();
        Logger::init_log("day_");
        Logger::i("before midnight");
        ASSERT_LT(std::time(nullptr), midnight) << "too slow to see midnight come";
        while (std::time(nullptr) < midnight) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Logger::i("after midnight");
        const std::string pid = std::to_string(::getpid());
        std::ifstream before(home.log() + "/day_old/day_quorvix_driver_" + pid + "_00.log", std::ios::binary);
        std::ifstream after(home.log() + "/day_quorvix_driver_" + pid + ".log", std::ios::binary);
        EXPECT_EQ(parse({std::istreambuf_iterator<char>(before), {}}, false), (Records{{"info", "before midnight"}}));
        EXPECT_EQ(parse({std::istreambuf_iterator<char>(after), {}}, false), (Records{{"info", "after midnight"}}));
    });
}

// ---- the in-memory log stream on its own ----

// Whole mebibytes go, cut at a line end, or inside a huge record but never inside a UTF-8 character.
TEST(RingBufferStream, TrimsAtTheBoundAtLineEndsOrInsideAHugeRecord)
{
    const test_deadline deadline{std::chrono::seconds(20)};
    for (const std::size_t written : {max_size, max_size + 1}) {
        RingBufferStream s;
        s << std::string(written, 'a');
        EXPECT_EQ(s.size(), written == max_size ? max_size : written - MiB);
        s.put('\n');
        s << "tail";
        EXPECT_EQ(s.size(), written + 5 - MiB) << written;
        EXPECT_EQ(s.str().substr(s.size() - 6), "a\ntail") << written;
    }
    RingBufferStream h;
    h << "first\n" << std::string(3 * MiB, 'b') << "\n" << std::string(max_size - 3 * MiB, 'c');
    EXPECT_GE(h.size(), max_size - MiB);  // not the whole huge record dropped
    EXPECT_EQ(h.str()[0], 'b');

    RingBufferStream u;
    std::string letters = "x";  // puts every 2-byte character off the 1 MiB boundary
    while (letters.size() <= max_size) letters += "я";
    u << letters;
    EXPECT_EQ(u.size(), letters.size() - MiB - 1);
    EXPECT_EQ(u.str().substr(0, 2), "я");
}

}  // namespace
