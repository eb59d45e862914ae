// Logger scenarios each run in a forked child (init_log works once per
// process); the in-memory log stream is tested directly.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <pwd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "logging/logger.h"
#include "logging/logger_test_seam.h"
#include "logging/ring_buffer_stream.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MiB = 1048576;

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/qv_logging_XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// Runs a scenario in a child process; its expectations count through the
// child's exit code (their messages appear in the child's output).
void run_in_child(const std::function<void()>& scenario) {
    std::cout.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        scenario();
        std::cout.flush();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "scenario failed in the child, status " << status;
}

// Sends standard output into a file until stop() (or destruction).
struct StdoutCapture {
    int saved = -1;
    explicit StdoutCapture(const std::string& file) {
        std::cout.flush();
        std::fflush(stdout);
        saved = ::dup(1);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::close(fd);
    }
    void stop() {
        if (saved < 0)
            return;
        std::cout.flush();
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        saved = -1;
    }
    ~StdoutCapture() { stop(); }
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& text, long age_seconds) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= age_seconds;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Matches `text` at `pos` against a shape: 'd' a digit, 'A' an upper-case
// and 'a' a lower-case letter, anything else itself.
bool shape_at(const std::string& text, std::size_t pos, const std::string& shape) {
    if (text.size() < pos + shape.size())
        return false;
    for (std::size_t k = 0; k < shape.size(); ++k) {
        const char c = text[pos + k];
        const char p = shape[k];
        const bool ok = p == 'd' ? (c >= '0' && c <= '9')
                      : p == 'A' ? (c >= 'A' && c <= 'Z')
                      : p == 'a' ? (c >= 'a' && c <= 'z')
                      : c == p;
        if (!ok)
            return false;
    }
    return true;
}

// One log line: "[" time stamp "][" severity "][0x" hex "]:" blanks message.
// File and console: ISO-like time stamp, two blanks; memory: the date-time
// library's default time stamp, one blank.
bool parse_line(const std::string& line, bool memory_form, std::pair<std::string, std::string>& record) {
    const std::string stamp = memory_form ? "[dddd-Aaa-dd dd:dd:dd.dddddd][" : "[dddd-dd-dd dd:dd:dd.dddddd][";
    if (!shape_at(line, 0, stamp))
        return false;
    std::size_t pos = stamp.size();
    const std::size_t sev_end = line.find("][0x", pos);
    if (sev_end == std::string::npos)
        return false;
    const std::string severity = line.substr(pos, sev_end - pos);
    if (severity != "trace" && severity != "debug" && severity != "info" && severity != "warning" && severity != "error")
        return false;
    pos = sev_end + 4;
    const std::size_t hex_begin = pos;
    while (pos < line.size() && std::isxdigit(static_cast<unsigned char>(line[pos])))
        ++pos;
    const std::string blanks = memory_form ? "]: " : "]:  ";
    if (pos == hex_begin || line.compare(pos, blanks.size(), blanks) != 0)
        return false;
    pos += blanks.size();
    if (pos < line.size() && line[pos] == ' ')
        return false;  // a blank too many
    record = {severity, line.substr(pos)};
    return true;
}

using Records = std::vector<std::pair<std::string, std::string>>;  // severity, message

// Other lines of standard output (set-up lines) are skipped when
// `skip_others` is set; anything else that is not a record fails.
Records parse(const std::string& text, bool memory_form, bool skip_others = false) {
    Records out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::pair<std::string, std::string> record;
        if (parse_line(line, memory_form, record))
            out.push_back(record);
        else if (!skip_others || (!line.empty() && line[0] == '['))
            ADD_FAILURE() << "not a log line: " << line;
    }
    return out;
}

std::string log_folder(const TempDir& home) { return home.path + "/.VeravAridir/log"; }

TEST(Logger, SilentBeforeInit) {
    TempDir home;
    run_in_child([&] {
        qv_logging_internal::set_home_folder(home.path);
        StdoutCapture out(home.path + ".out");
        Logger::set_filter(0);
        Logger::t("t");
        Logger::i("i");
        Logger::e("e");
        out.stop();
        EXPECT_EQ(Logger::get_log_file_name(), "");
        EXPECT_EQ(Logger::get_memory_log_data(), "");
        EXPECT_TRUE(fs::is_empty(home.path));
        const std::string captured = home.path + ".out";
        EXPECT_EQ(read_file(captured), "");
        fs::remove(captured);
    });
}

TEST(Logger, LogFolderComesFromPasswordDatabase) {
    run_in_child([] {
        const passwd* pw = ::getpwuid(::getuid());
        const std::string home = (pw && pw->pw_dir && *pw->pw_dir) ? pw->pw_dir : "/var/lib/VeravAridir";
        EXPECT_EQ(Logger::appdata_path(), home + "/.VeravAridir/log");
        EXPECT_EQ(Logger::path_delim(), "/");
    });
}

TEST(Logger, InitFiltersFormatsAndOldLogs) {
    TempDir home;
    const std::string A = log_folder(home);
    const long day = 24 * 3600;
    // name, age in seconds, kept
    const std::vector<std::tuple<std::string, long, bool>> files = {
        {A + "/pos_quorvix_driver_17.log", 7 * day + 1, false},
        {A + "/pos_quorvix_driver_18.log", 6 * day, true},
        {A + "/other.log", 30 * day, true},
        {A + "/quorvix_driver_21.log", 30 * day, true},                 // another prefix
        {A + "/pos_quorvix_driver_sub/pos_quorvix_driver_19.log", 30 * day, true},  // never entered
        {A + "/pos_old/pos_quorvix_driver_20_00.log", 8 * day, false},
        {A + "/pos_old/pos_quorvix_driver_20_01.log", 7 * day - 60, true},
    };
    for (const auto& [name, age, kept] : files)
        write_file(name, "old\n", age);

    run_in_child([&] {
        qv_logging_internal::set_home_folder(home.path);
        const std::string out_file = home.path + "/stdout.txt";
        StdoutCapture out(out_file);
        Logger::init_log("pos_");
        Logger::d("debug-0");
        Logger::i("info-0");
        Logger::init_log("other_");  // ignored
        Logger::set_filter(0);
        Logger::t("trace-1");
        Logger::d("debug-1");
        Logger::set_filter(4);
        Logger::w("warning-4");
        Logger::e("error-4");
        Logger::set_filter(5);
        Logger::e("error-5");
        Logger::set_filter(-3);
        Logger::t("trace-neg");
        Logger::w("Привет, весы");
        out.stop();

        const std::string pid = std::to_string(::getpid());
        EXPECT_EQ(Logger::get_log_file_name(), "pos_quorvix_driver_" + pid + ".log");
        EXPECT_EQ(Logger::appdata_path(), A);
        const Records expected = {{"info", "info-0"},   {"trace", "trace-1"}, {"debug", "debug-1"},
                                  {"error", "error-4"}, {"trace", "trace-neg"}, {"warning", "Привет, весы"}};
        EXPECT_EQ(parse(read_file(A + "/pos_quorvix_driver_" + pid + ".log"), false), expected);
        EXPECT_EQ(parse(Logger::get_memory_log_data(), true), expected);
        const std::string console = read_file(out_file);
        EXPECT_EQ(parse(console, false, true), expected);
        EXPECT_EQ(console.find("path to log file: " + A + "\n"), 0u) << console;
        EXPECT_NE(console.find("Удаляю старый лог: pos_quorvix_driver_17.log\n"), std::string::npos);
        EXPECT_NE(console.find("Удаляю старый лог: pos_quorvix_driver_20_00.log\n"), std::string::npos);
        EXPECT_FALSE(fs::exists(A + "/other_quorvix_driver_" + pid + ".log"));
        for (const auto& [name, age, kept] : files)
            EXPECT_EQ(fs::exists(name), kept) << name;
    });
}

TEST(Logger, UnwritableLogFolderNeverBreaksACaller) {
    TempDir tmp;
    const std::string not_a_folder = tmp.path + "/home";
    write_file(not_a_folder, "a file where a folder should be", 0);
    run_in_child([&] {
        qv_logging_internal::set_home_folder(not_a_folder);
        StdoutCapture out(tmp.path + "/stdout.txt");
        EXPECT_NO_THROW(Logger::init_log("pos_"));
        EXPECT_NO_THROW(Logger::i("still logging"));
        std::thread([] { Logger::e("from a thread"); }).join();
        out.stop();
        const Records expected = {{"info", "still logging"}, {"error", "from a thread"}};
        EXPECT_EQ(parse(Logger::get_memory_log_data(), true), expected);
        EXPECT_EQ(parse(read_file(tmp.path + "/stdout.txt"), false, true), expected);
    });
}

TEST(Logger, RotatesBySizeAndKeepsFiveOldFiles) {
    TempDir home;
    const std::string old = log_folder(home) + "/pos_old";
    // Left by an earlier process, oldest first; all younger than 7 days.
    for (int k = 0; k < 5; ++k)
        write_file(old + "/pos_quorvix_driver_1_0" + std::to_string(k) + ".log", "old\n", (5 - k) * 3600L);
    run_in_child([&] {
        qv_logging_internal::set_home_folder(home.path);
        StdoutCapture out("/dev/null");
        Logger::init_log("pos_");
        // 11 MiB of records: one size rotation, and the memory log trimmed.
        const std::string chunk(64 * 1024, 'x');
        for (int k = 0; k < 176; ++k)
            Logger::i(chunk);
        out.stop();
        const std::string pid = std::to_string(::getpid());
        EXPECT_TRUE(fs::exists(old + "/pos_quorvix_driver_" + pid + "_00.log"));
        EXPECT_FALSE(fs::exists(old + "/pos_quorvix_driver_1_00.log")) << "the oldest file should go";
        EXPECT_EQ(std::distance(fs::directory_iterator(old), fs::directory_iterator()), 5);
        EXPECT_LT(fs::file_size(log_folder(home) + "/pos_quorvix_driver_" + pid + ".log"), 7340032u);
        const std::string memory = Logger::get_memory_log_data();
        EXPECT_LE(memory.size(), RingBufferStream::max_size);
        EXPECT_GT(memory.size(), 9 * MiB);
        EXPECT_EQ(memory.substr(0, 1), "[");
        EXPECT_EQ(memory.back(), '\n');
    });
}

TEST(Logger, MemoryLogReadWhileTwoThreadsWrite) {
    TempDir home;
    run_in_child([&] {
        qv_logging_internal::set_home_folder(home.path);
        StdoutCapture out("/dev/null");
        Logger::init_log("");
        constexpr int per_writer = 1000;
        std::atomic<int> running{2};
        auto writer = [&](const std::string& name) {
            for (int k = 0; k < per_writer; ++k)
                Logger::i(name + std::to_string(k));
            --running;
        };
        std::thread a(writer, "writer-a-"), b(writer, "writer-b-");
        int reads = 0;
        while (running > 0 || reads == 0) {
            const std::string copy = Logger::get_memory_log_data();
            // Every copy holds whole records only.
            EXPECT_TRUE(copy.empty() || copy.back() == '\n');
            if (++reads % 50 == 0)
                parse(copy, true);
        }
        a.join();
        b.join();
        out.stop();
        EXPECT_EQ(parse(Logger::get_memory_log_data(), true).size(), 2u * per_writer);
    });
}

// ---- the in-memory log stream on its own ----

TEST(RingBufferStream, TrimsWholeMebibytesAboveTheBoundAndKeepsAppending) {
    const std::vector<std::pair<std::size_t, std::size_t>> cases = {
        {10485760, 10485760}, {10485761, 9437185}, {12 * MiB + 1, 9 * MiB + 1}, {100, 100}};
    for (const auto& [written, kept] : cases) {
        RingBufferStream s;
        s << std::string(written, 'a');
        EXPECT_EQ(s.size(), kept) << written;
        s.flush();
        EXPECT_EQ(s.size(), kept) << written;
        s << "tail";  // after a trim too, a write goes after the kept text
        const std::string text = s.str();
        const std::size_t after = kept + 4 > RingBufferStream::max_size ? kept + 4 - MiB : kept + 4;
        EXPECT_EQ(text.size(), after) << written;
        EXPECT_EQ(text.substr(text.size() - 5), "atail") << written;
    }
}

TEST(RingBufferStream, StaysBoundedWithoutFlushAndCutsAtLineEnds) {
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
}

TEST(RingBufferStream, CutWithoutLineEndNeverSplitsAUtf8Character) {
    RingBufferStream s;
    std::string text = "x";  // puts every 2-byte character off the 1 MiB boundary
    while (text.size() <= RingBufferStream::max_size)
        text += "я";
    s << text;
    const std::string kept = s.str();
    EXPECT_EQ(kept.size(), text.size() - MiB - 1);
    EXPECT_EQ(kept.substr(0, 2), "я");
}

}  // namespace
