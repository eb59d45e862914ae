// File download: names, preparations, and failures that never lose an earlier copy or leave a partial one.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

#include "files_test_util.h"
#include "../../core/test_deadline.h"
#include "test_hooks/test_hooks.h"
#include "replies/folders.h"
#include "replies/products.h"

using namespace files_test;
using namespace std::string_literals;
using send_test::add_scale;
using send_test::B;

namespace {

namespace fs = std::filesystem;

// Every regular file below `root`, as paths relative to it.
std::vector<std::string> files_below(const std::string& root)
{
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

bytes read_all(const std::string& path)
{
    bytes out;
    EXPECT_EQ(read_local_file(path, out), file_read_status::ok) << path;
    return out;
}

class Download : public files_fixture {
protected:
    void SetUp() override
    {
        files_fixture::SetUp();
        device::set_host_clock([] { return std::int64_t{1796491870}; });  // one fixed second
        stamp = device::return_current_time_and_date();
        save_dir = dir + "/dl";
        set_text(ParamType::FolderForSaveFile, save_dir);
    }
    void TearDown() override
    {
        device::set_host_clock({});
        files_fixture::TearDown();
    }
    // A scale serving `content` for opcode `key`, 1000 bytes a packet.
    std::shared_ptr<qv_sim::download_store> serve(qv_sim::sim_scale& sim, const std::string& serial,
                                                  const std::string& key, const bytes& content)
    {
        auto store = qv_sim::add_download_replies(sim);
        store->put(key, content);
        store->set_packet_size(1000);
        add_scale(d, sim, 1);
        d.ip_address_list.back().serial_number = serial;
        return store;
    }

    std::string stamp;
    std::string save_dir;
};

TEST_F(Download, FailuresLeaveTheEarlierCopyAndNoPartialFile)
{
    qv_sim::sim_scale a("127.0.0.100");
    auto store = serve(a, "../../x", "1C", pattern(5000));  // a hostile serial stays inside the folder
    const std::string target = "dl/.._.._x-127.0.0.100/ScaleServiceConfig.json";
    write(target, B({1, 2, 3}));
    scale_file_limits().max_download_size = 20000;
    // Local faults once the temporary copy is made, each with the line expected: the copy's descriptor led to
    // /dev/full (the disk full from its first write on) or to /dev/null (writes land, the flush to disk fails).
    std::string expected_line;
    const auto copy_led_to = [&](const char* device, const std::string& line) {
        qv_seam::hook("download copy created", [&, device, line] {
            const auto [fd, temporary] = open_file(dir + "/dl/.._.._x-127.0.0.100/.ScaleServiceConfig.json.part-");
            const int other = ::open(device, O_WRONLY | O_CLOEXEC);
            ASSERT_TRUE(fd >= 0 && other >= 0);
            ASSERT_EQ(::dup2(other, fd), fd);
            ::close(other);
            expected_line = "get_file err: cannot " + line + " " + temporary + ": ";
            expected_line += device == std::string("/dev/full") ? "No space left on device" : "Invalid argument";
        });
    };
    // A folder removed while the copy is written, or while it is read back, the earlier copy then put back as a
    // restore would: the copy cannot be read back, or not renamed, a local failure rather than the scale's data.
    const auto folder_removed = [&](const std::string& point, const std::string& folder) {
        qv_seam::hook(point.c_str(), [&, point, folder] {
            const std::string temporary =
                open_file(dir + "/dl/.._.._x-127.0.0.100/.ScaleServiceConfig.json.part-").second;
            fs::remove_all(folder);
            write(target, B({1, 2, 3}));
            expected_line = point == "download copy created"
                                ? "get_file err: cannot read back " + temporary + ": No such file or directory"
                                : "get_file err: No such file or directory: " + dir + "/" + target;
        });
    };
    using faults = qv_sim::download_faults;
    const std::pair<std::function<void(faults&)>, int> table[] = {
        {[](faults& f) { f.wrong_digest = true; }, -105},
        {[](faults& f) { f.wrong_offset_at = 3; }, -113},
        {[](faults& f) { f.short_at = 2; }, -101},
        {[](faults& f) { f.silent_at = 2; }, -1},
        {[](faults& f) { f.no_last_flag = true; }, -113},
        {[](faults& f) { f.endless = true; }, -113},
        {[](faults& f) { f.data_result = 120; }, 120},  // the scale's own code, not the upload's -6
        // Local faults: -1000, and the line names the system's reason.
        {[&](faults&) { copy_led_to("/dev/full", "write"); }, -1000},
        {[&](faults&) { copy_led_to("/dev/null", "flush"); }, -1000},
        {[&](faults&) { folder_removed("download copy created", dir + "/dl/.._.._x-127.0.0.100"); }, -1000},
        {[&](faults&) { folder_removed("download copy created", dir + "/dl"); }, -1000},
        {[&](faults&) { folder_removed("digest piece read", dir + "/dl/.._.._x-127.0.0.100"); }, -1000},
    };
    set_int(ParamType::FileType, 1);
    for (const auto& [set, result] : table) {
        SCOPED_TRACE(&result - &table[0].second);
        faults f;
        expected_line.clear();
        set(f);
        store->set_faults(f);
        d.results.clear();
        const device_test::log_capture log;
        EXPECT_EQ(d.get_file(), result);
        qv_seam::clear();
        if (result == -1000) {
            EXPECT_TRUE(!expected_line.empty() && log.contains(expected_line)) << expected_line;
            const auto lines = log.lines();
            EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                    [](const std::string& l) { return l.rfind("md5_check", 0) == 0; }),
                      0);
        }
        // The result list (82) shows the scale's own code.
        ASSERT_EQ(d.execute_command(82), 0);
        const std::string listed = output(ParamType::CommandResults);
        EXPECT_EQ(listed.rfind("127.0.0.100:" + std::to_string(result) + ":", 0), 0u) << listed;
        EXPECT_EQ(read_all(dir + "/" + target), B({1, 2, 3}));
        EXPECT_EQ(files_below(dir), std::vector<std::string>{target});
        EXPECT_EQ(output(ParamType::FilePath), "<unset>");
    }
    store->set_faults({});
    d.results.clear();
    a.clear_requests();
    // The copy is on the disk before its name replaces the earlier copy's, and that name after.
    std::vector<bytes> at_flush;
    for (const char* point : {"download copy flushed", "download folder flushed"})
        qv_seam::hook(point, [&] { at_flush.push_back(read_all(dir + "/" + target)); });
    EXPECT_EQ(d.get_file(), 0);
    qv_seam::clear();
    EXPECT_EQ(at_flush, (std::vector<bytes>{B({1, 2, 3}), pattern(5000)}));
    EXPECT_EQ(read_all(dir + "/" + target), pattern(5000));
    // The configuration file's requests carry the counted password.
    EXPECT_EQ(a.requests().at(0).frame, B({2, 7, 0x1C, 4, '1', '2', '3', '4', 0x02}));
}

TEST_F(Download, InputsCheckedBeforeAnythingIsSent)
{
    qv_sim::sim_scale a("127.0.0.100"), b("127.0.0.101");
    const std::string too_long = "/d/" + std::string(256, 'n');
    const auto type = [this](int t, const char* on_scale) {
        set_int(ParamType::FileType, t);
        if (on_scale != nullptr) set_text(ParamType::FileOnScale, on_scale);
    };
    // How the inputs are set, the result, and the refused option's line (one-byte options are not cut).
    const std::tuple<std::function<void()>, int, const char*> table[] = {
        {[&] { type(14, nullptr); }, -104, nullptr},
        {[&] { type(0, nullptr); }, -104, nullptr},
        {[&] { type(0, "/data/"); }, -104, nullptr},
        {[&] { type(0, "/data/.."); }, -104, nullptr},
        {[&] { type(0, too_long.c_str()); }, -104, nullptr},  // a name the file system cannot take
        {[&] { type(0, "/data/a"), add_scale(d, b, 1); }, -110, nullptr},
        {[&] { type(4, nullptr), set_int(ParamType::FileDataSeparator, 300); }, -104, "(218) FileDataSeparator\": 300"},
        {[&] { type(5, nullptr), set_int(ParamType::VelunorBackupType, 258); }, -104, "(334) VelunorBackupType\": 258"},
        {[&] {  // a relative folder whose inner ".." leaves the root folder
             type(4, nullptr);
             d.driver_root_folder = device_test::bytes_of(dir);
             set_text(ParamType::FolderForSaveFile, "x/../../OUT");
         },
         -104, nullptr},
        // The file system would read these only up to the zero byte: dl, not otherB or /x.
        {[&] {
             type(4, nullptr);
             d.driver_root_folder = device_test::bytes_of(dir);
             set_text(ParamType::FolderForSaveFile, "dl\0/../otherB"s);
         },
         -104, nullptr},
        {[&] { type(4, nullptr), set_text(ParamType::FolderForSaveFile, save_dir + "\0/../../x"s); }, -104, nullptr},
        {[&] { type(0, nullptr), set_text(ParamType::FileOnScale, "/data/a\0/../../b"s); }, -104, nullptr},
    };
    int row = 0;
    for (const auto& [set, result, line] : table) {
        SCOPED_TRACE(row++);
        reset();
        add_scale(d, a, 1);
        set_text(ParamType::FolderForSaveFile, save_dir);
        set();
        const device_test::log_capture log;
        EXPECT_EQ(d.get_file(), result);
        if (line != nullptr) {
            EXPECT_TRUE(log.contains("refused int param \"" + std::string(line) + "; allowed: 0 to 255")) << line;
        }
    }
    EXPECT_EQ(a.request_count() + b.request_count(), 0u);
    EXPECT_TRUE(files_below(dir).empty());
    reset();
    set_text(ParamType::FolderForSaveFile, save_dir);
    set_int(ParamType::FileType, 4);
    EXPECT_EQ(d.get_file(), -1);  // no scale: never a success
    // A relative path is logged anchored, its control characters escaped as a scale's texts are.
    d.driver_root_folder = device_test::bytes_of(dir);
    const device_test::log_capture log;
    d.set_bytes_array_param(ParamType::FolderForSaveFile, d.input_params, device_test::bytes_of("in\n[info]: x"));
    EXPECT_TRUE(log.contains("as string: " + dir + "/in\\x0A[info]: x"));
}

TEST_F(Download, AnyFileByItsPathAndEmpty)
{
    qv_sim::sim_scale a("127.0.0.100");
    auto store = serve(a, "", "/data/labels/logo.png", {});
    set_int(ParamType::FileType, 0);
    set_text(ParamType::FileOnScale, "/data/labels/logo.png");
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_EQ(read_all(save_dir + "/-127.0.0.100/logo.png"), bytes{});  // an empty file is a file
    bytes frame = B({2, 29, 0xAA, '1', '2', '3', '4', 0x01, 21, 0});
    for (char ch : std::string("/data/labels/logo.png")) frame.push_back(static_cast<std::byte>(ch));
    EXPECT_EQ(a.requests().at(0).frame, frame);
}

// A preparation that never ends drops out at the deadline (-5), one that falls silent at once (-1).
TEST_F(Download, APreparationThatNeverEndsOrFallsSilentLetsTheOtherScaleGoOn)
{
    const test_deadline deadline{std::chrono::seconds(60)};
    for (const bool fades : {false, true}) {
        SCOPED_TRACE(fades ? "falls silent" : "never ready");
        reset();
        std::filesystem::remove_all(save_dir);
        set_text(ParamType::FolderForSaveFile, save_dir);
        qv_sim::sim_scale a("127.0.0.100"), b("127.0.0.101");
        serve(a, "A", "FF 12", pattern(10));
        serve(b, "B", "FF 12", pattern(20));
        qv_sim::add_product_database_replies(a)->set_preparation_polls(1000000);
        qv_sim::add_product_database_replies(b)->set_preparation_polls(3);
        std::atomic<int> statuses{0};
        if (fades)
            a.on({0xFF, 0x15}, [&](const qv_sim::request& r) -> qv_sim::reply {
                return {qv_sim::reply_frame(r.command, 172), statuses++ == 0 ? qv_sim::fault{} : send_test::silent()};
            });
        scale_file_limits().preparation_deadline = fades ? 20s : 300ms;
        set_int(ParamType::FileType, 10);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(d.get_file(), -111);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);  // a few time-outs at most
        EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.100", fades ? -1 : -5}, {"127.0.0.101", -112}}));
        const std::string saved = "B-127.0.0.101/JSON_Items_" + stamp + ".json";
        EXPECT_EQ(files_below(save_dir), std::vector<std::string>{saved});
        EXPECT_EQ(output(ParamType::SavedFilePaths), save_dir + "/" + saved);
        if (fades) {
            std::this_thread::sleep_for(200ms);
            EXPECT_EQ(a.request_count(), 3u);  // create, 172, the unanswered poll
        }
    }
}

TEST_F(Download, NamesFromTheScaleAndTheHost)
{
    qv_sim::sim_scale a("127.0.0.100");
    const std::string long_name(255, 'n');  // the longest name a folder takes
    std::string long_serial;
    for (int k = 0; k < 150; ++k) long_serial += "Ж";
    // Folder (relative to the test folder), file on the scale (or FileType 1), serial, the local copy.
    const std::tuple<std::string, std::string, std::string, std::string> table[] = {
        {"dl", "/d/f<ip>.bin", "S", "dl/S-127.0.0.100/fS-127.0.0.100.bin"},
        {"dl\0\0"s, "", "S", "dl/S-127.0.0.100/ScaleServiceConfig.json"},  // zero bytes at the end are padding
        {"dl/<ip>/in", "", "S", "dl/S-127.0.0.100/in/S-127.0.0.100/ScaleServiceConfig.json"},  // still a folder below
        {"dl", "/d/" + long_name, "S", "dl/S-127.0.0.100/" + long_name},
        {"dl", "", "АБ-1", "dl/АБ-1-127.0.0.100/ScaleServiceConfig.json"},  // letters of any script stay
        // A serial too long for one name is cut to fit, never inside a character; the IP stays whole.
        {"dl", "", long_serial, "dl/" + long_serial.substr(0, 242) + "-127.0.0.100/ScaleServiceConfig.json"},
        {"dl", "", std::string("a/b\n\\\0", 6), "dl/a_b_\\_-127.0.0.100/ScaleServiceConfig.json"},
    };
    for (const auto& [folder, on_scale, serial, local] : table) {
        SCOPED_TRACE(local);
        reset();
        std::filesystem::remove_all(save_dir);
        auto store = serve(a, serial, on_scale.empty() ? "1C" : on_scale, pattern(1500));
        set_text(ParamType::FolderForSaveFile, dir + "/" + folder);
        set_int(ParamType::FileType, on_scale.empty() ? 1 : 0);
        if (!on_scale.empty()) set_text(ParamType::FileOnScale, on_scale);
        EXPECT_EQ(d.get_file(), 0);
        EXPECT_EQ(files_below(dir), std::vector<std::string>{local});
        EXPECT_EQ(output(ParamType::FilePath), dir + "/" + local);
    }
}

TEST_F(Download, TwoScalesEachToItsEnd)
{
    qv_sim::sim_scale a("127.0.0.100"), b("127.0.0.101");
    auto store_a = serve(a, "A", "1E", pattern(2500));  // 3 packets
    auto store_b = serve(b, "B", "1E", pattern(4500));  // 5 packets
    set_text(ParamType::FolderForSaveFile, save_dir + "/x<ip>y");  // each scale still gets its own folder below
    set_int(ParamType::FileType, 4);
    set_int(ParamType::FileDataSeparator, 59);
    const device_test::log_capture log;
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_EQ(store_a->hash_options(), B({0x3B}));
    EXPECT_EQ(store_a->data_requests(), 3u);
    EXPECT_EQ(store_b->data_requests(), 5u);
    EXPECT_TRUE(log.contains("REQUEST FOR 127.0.0.100: file already received"));
    const std::string a_csv = "xA-127.0.0.100y/A-127.0.0.100/Products_" + stamp;
    const std::string b_csv = "xB-127.0.0.101y/B-127.0.0.101/Products_" + stamp + ".csv";
    EXPECT_EQ(output(ParamType::SavedFilePaths), save_dir + "/" + a_csv + ".csv\n" + save_dir + "/" + b_csv);
    EXPECT_EQ(output(ParamType::FilePath), save_dir + "/" + b_csv);

    // Again in the same second, one digest wrong: the other copy takes a name of its own.
    store_a->put("1E", pattern(20));
    qv_sim::download_faults wrong;
    wrong.wrong_digest = true;
    store_b->set_faults(wrong);
    d.results.clear();
    d.output_params.clear();
    EXPECT_EQ(d.get_file(), -111);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.100", -112}, {"127.0.0.101", -105}}));
    EXPECT_EQ(files_below(save_dir), (std::vector<std::string>{a_csv + ".csv", a_csv + "_2.csv", b_csv}));
    EXPECT_EQ(read_all(save_dir + "/" + a_csv + ".csv"), pattern(2500));
    EXPECT_EQ(read_all(save_dir + "/" + a_csv + "_2.csv"), pattern(20));
    EXPECT_EQ(read_all(save_dir + "/" + b_csv), pattern(4500));
    EXPECT_EQ(output(ParamType::SavedFilePaths), save_dir + "/" + a_csv + "_2.csv");
}

// A stop in the packets, in the hash poll or in the final digest of the whole copy: -9, nothing sent after it, and no
// file kept.
TEST_F(Download, AStopInThePacketsTheHashPollOrTheDigestSendsNothingMoreAndKeepsNoFile)
{
    qv_sim::sim_scale a("127.0.0.100");
    auto store = serve(a, "S", "1E", pattern(200 * 1000));  // 200 packets
    qv_sim::fault slow;
    slow.delay = 5ms;
    enum class lands { in_packets, in_hash_poll, in_digest };
    for (const lands where : {lands::in_packets, lands::in_hash_poll, lands::in_digest}) {
        SCOPED_TRACE(static_cast<int>(where));
        qv_sim::download_faults f;
        f.hash_busy = where == lands::in_hash_poll ? 1000000 : 1;  // polls answered "busy" before the digest
        store->set_faults(f);
        if (where == lands::in_digest)
            a.clear_faults();
        else
            a.set_fault(slow);
        a.clear_requests();
        const std::size_t data_before = store->data_requests();
        d.results.clear();
        set_text(ParamType::FolderForSaveFile, save_dir);
        set_int(ParamType::FileType, 4);
        int result = 0;
        std::size_t at_stop = 0;
        if (where == lands::in_digest) {
            // Every packet is in: the stop comes while the copy is read for its digest.
            qv_seam::hook("digest piece read", [&] {
                at_stop = a.request_count();
                EXPECT_EQ(d.execute_command(127), 0);
            });
            result = d.execute_command(49);
            qv_seam::clear();
        } else {
            std::thread download([&] { result = d.execute_command(49); });
            ASSERT_TRUE(a.wait_for_requests(10, 10s));
            EXPECT_EQ(d.execute_command(127), 0);
            at_stop = a.request_count();
            download.join();
        }
        EXPECT_EQ(result, -9);
        EXPECT_LE(a.request_count(), at_stop + 1);  // at most the one already on its way
        const std::size_t at_return = a.request_count();
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(a.request_count(), at_return);  // nothing after the stopped command returned
        EXPECT_EQ(where != lands::in_hash_poll, store->data_requests() > data_before);
        EXPECT_TRUE(!fs::exists(save_dir) || files_below(save_dir).empty());
    }
}

// Temporary copies of a process that died go, a running one's stay; links planted in the download folder are not
// followed, neither as a temporary copy nor as the scale's folder.
TEST_F(Download, LeftoversAndPlantedLinksInTheDownloadFolder)
{
    qv_sim::sim_scale a("127.0.0.100");
    serve(a, "S", "1C", pattern(1500));
    set_int(ParamType::FileType, 1);
    const std::string folder = "dl/S-127.0.0.100", part = folder + "/.ScaleServiceConfig.json.part-";
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string stale = write(part + std::to_string(dead) + "-7", pattern(10));
    const std::string running = write(part + "1-7", pattern(10));  // process 1 always runs
    const std::string lookalike = write(part + std::to_string(dead) + "-7x", pattern(10));  // no counter: not ours
    const std::string victim = write("victim", B({7}));
    for (int k = 1; k <= 64; ++k)  // every name this process takes first
        fs::create_symlink(victim, dir + "/" + part + std::to_string(::getpid()) + "-" + std::to_string(k));
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_TRUE(fs::exists(lookalike));
    EXPECT_EQ(read_all(victim), B({7}));
    EXPECT_EQ(read_all(dir + "/" + folder + "/ScaleServiceConfig.json"), pattern(1500));

    fs::remove_all(dir + "/" + folder);
    fs::create_directory(dir + "/outside");
    fs::create_directory_symlink(dir + "/outside", dir + "/" + folder);
    d.results.clear();
    EXPECT_EQ(d.get_file(), -1000);
    EXPECT_TRUE(fs::is_empty(dir + "/outside"));
}

}  // namespace
