// Logger scenarios each run in a forked child (init_log works once per process); the memory log stream directly.
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

// A file last written `age_seconds` ago.
void write_file(const std::string& path, long age_seconds)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "old\n";
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(age_seconds));
}

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
    const std::tuple<std::string, long, bool> files[] = {
        // name, age in seconds, kept
        {A + "/pos_quorvix_driver_17.log", 7 * day + 1, false},
        {A + "/pos_quorvix_driver_sub/pos_quorvix_driver_19.log", 30 * day, true},  // never entered
        {A + "/pos_old/pos_quorvix_driver_20_01.log", 7 * day - 60, true},
    };
    for (const auto& [name, age, kept] : files) write_file(name, age);

    run_in_child(home.path, [&](std::stringstream& out) {
        Logger::e("before init");  // no file, no console line, no memory log
        EXPECT_FALSE(qv_logging_internal::writes(4));
        EXPECT_EQ(Logger::get_log_file_name() + Logger::get_memory_log_data() + out.str(), "");
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(home.path), {}), 7) << "only the old logs";
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
        std::ifstream file(A + "/" + name, std::ios::binary);
        EXPECT_EQ(parse({std::istreambuf_iterator<char>(file), {}}, false), expected);
        EXPECT_EQ(parse(Logger::get_memory_log_data(), true), expected);
        const std::string console = out.str();
        EXPECT_EQ(parse(console, false, true), expected);
        EXPECT_EQ(console.find("path to log file: " + A + "\n"), 0u) << console;
        EXPECT_NE(console.find("Удаляю старый лог: pos_quorvix_driver_17.log\n"), std::string::npos);
        for (const auto& [file, age, kept] : files) EXPECT_EQ(fs::exists(file), kept) << file;
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

TEST(Logger, UnwritableLogFolderNeverBreaksACaller)
{
    TempDir tmp;
    write_file(tmp.path + "/home", 0);  // a file where the home folder should be
    run_in_child(tmp.path + "/home", [&](std::stringstream& out) {
        EXPECT_NO_THROW(Logger::init_log("pos_"));
        EXPECT_NO_THROW(Logger::i("still logging"));
        const Records expected = {{"info", "still logging"}};
        EXPECT_EQ(parse(Logger::get_memory_log_data(), true), expected);
        EXPECT_EQ(parse(out.str(), false, true), expected);
    });
}

// A "/" or a zero byte of the prefix becomes "_": the file and its old-log folder stay in the log folder, the name
// given is the one used, and old logs of that prefix are found under it. Nothing appears beside the home folder,
// where "../../../" would lead.
TEST(Logger, PrefixStaysInTheLogFolder)
{
    const long day = 24 * 3600;
    for (const auto& [prefix, used] : {std::pair{std::string("../../../g"), std::string(".._.._.._g")},
                                       {std::string("a\0b/", 4), std::string("a_b_")},
                                       {std::string("pos_"), std::string("pos_")}}) {
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
