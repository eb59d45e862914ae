// File download: several scales in lock-step, the local names and folders,
// the preparations, and every way a scale or the host can make it fail
// without losing an earlier copy or leaving a partial one.

#include <atomic>
#include <thread>

#include "commands/files/scale_files.h"
#include "files_test_util.h"
#include "replies/folders.h"
#include "replies/prediction.h"
#include "replies/products.h"

using namespace files_test;
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
        saved_ = scale_file_limits();
        scale_file_limits().preparation_pause = 5ms;
        device::set_host_clock([] { return std::int64_t{1796491870}; });  // one fixed second
        stamp = device::return_current_time_and_date();
        save_dir = dir + "/dl";
        set_text(ParamType::FolderForSaveFile, save_dir);
    }
    void TearDown() override
    {
        device::set_host_clock({});
        scale_file_limits() = saved_;
        files_fixture::TearDown();
    }
    // A scale serving `content` for opcode `key`, `packet` bytes a packet.
    std::shared_ptr<qv_sim::download_store> serve(qv_sim::sim_scale& sim, const std::string& serial,
                                                  const std::string& key, const bytes& content,
                                                  std::size_t packet = 1000)
    {
        auto store = qv_sim::add_download_replies(sim);
        store->put(key, content);
        store->set_packet_size(packet);
        store->set_faults({});
        add_scale(d, sim, 1);
        d.ip_address_list.back().serial_number = serial;
        return store;
    }

    std::string stamp;
    std::string save_dir;

private:
    scale_file_limit_values saved_;
};

TEST_F(Download, TwoScalesInLockStep)
{
    qv_sim::sim_scale a("127.0.0.100"), b("127.0.0.101");
    const bytes three = pattern(2500), five = pattern(4100);
    serve(a, "A1", "1E", three);
    auto store_b = serve(b, "B2", "1E", five);
    set_int(ParamType::FileType, 4);
    set_int(ParamType::FileDataSeparator, 59);

    const device_test::log_capture log;
    EXPECT_EQ(d.get_file(), 0);
    const std::string name = "Products_" + stamp + ".csv";
    const std::string path_a = save_dir + "/A1-127.0.0.100/" + name, path_b = save_dir + "/B2-127.0.0.101/" + name;
    EXPECT_EQ(read_all(path_a), three);
    EXPECT_EQ(read_all(path_b), five);
    EXPECT_EQ(files_below(save_dir), (std::vector<std::string>{"A1-127.0.0.100/" + name, "B2-127.0.0.101/" + name}));
    EXPECT_EQ(output(ParamType::SavedFilePaths), path_a + "\n" + path_b);
    EXPECT_EQ(output(ParamType::FilePath), path_b);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.100", -112}, {"127.0.0.101", -112}}));
    EXPECT_EQ(store_b->hash_options(), B({0x3B}));
    // Data requests: 3 to the first scale, 5 to the second.
    const auto data_requests = [](const qv_sim::sim_scale& s) {
        const auto all = s.requests();
        return std::count_if(all.begin(), all.end(),
                             [](const qv_sim::request& r) { return r.rest.size() == 5 && r.rest[4] == std::byte{3}; });
    };
    EXPECT_EQ(data_requests(a), 3);
    EXPECT_EQ(data_requests(b), 5);
    EXPECT_TRUE(log.contains("REQUEST FOR 127.0.0.100: file already received"));
}

TEST_F(Download, ADigestMismatchFailsThatScaleOnly)
{
    qv_sim::sim_scale a("127.0.0.100"), b("127.0.0.101");
    serve(a, "A1", "20", pattern(2500));
    auto bad = serve(b, "B2", "20", pattern(3000));
    qv_sim::download_faults f;
    f.wrong_digest = true;
    bad->set_faults(f);
    set_int(ParamType::FileType, 5);
    set_int(ParamType::VelunorBackupType, 1);
    // An earlier copy of the same name stays untouched.
    const std::string name = "VelunorBackup_" + stamp + ".velm";
    write("dl/B2-127.0.0.101/" + name, B({7, 7}));

    EXPECT_EQ(d.get_file(), -111);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.100", -112}, {"127.0.0.101", -105}}));
    EXPECT_EQ(read_all(save_dir + "/A1-127.0.0.100/" + name), pattern(2500));
    EXPECT_EQ(read_all(save_dir + "/B2-127.0.0.101/" + name), B({7, 7}));
    EXPECT_EQ(files_below(save_dir), (std::vector<std::string>{"A1-127.0.0.100/" + name, "B2-127.0.0.101/" + name}));
    EXPECT_EQ(bad->hash_options(), B({0x02, 0x01}));
    EXPECT_EQ(output(ParamType::SavedFilePaths), save_dir + "/A1-127.0.0.100/" + name);
}

TEST_F(Download, AHostileSerialStaysInsideTheDownloadFolder)
{
    qv_sim::sim_scale a("127.0.0.100");
    serve(a, "../../x", "1C", pattern(100));
    set_int(ParamType::FileType, 1);
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_EQ(files_below(dir), (std::vector<std::string>{"dl/.._.._x-127.0.0.100/ScaleServiceConfig.json"}));
    // The configuration file's requests carry the counted password.
    EXPECT_EQ(a.requests().at(0).frame, B({2, 7, 0x1C, 4, '1', '2', '3', '4', 0x02}));

    d.ip_address_list.back().serial_number = "..";
    d.results.clear();
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_TRUE(fs::exists(save_dir + "/__-127.0.0.100/ScaleServiceConfig.json"));
}

TEST_F(Download, FailuresLeaveTheEarlierCopyAndNoPartialFile)
{
    qv_sim::sim_scale a("127.0.0.100");
    auto store = serve(a, "S", "1C", pattern(5000));
    const std::string target = "dl/S-127.0.0.100/ScaleServiceConfig.json";
    write(target, B({1, 2, 3}));
    scale_file_limits().max_download_size = 20000;
    using faults = qv_sim::download_faults;
    const struct {
        const char* what;
        void (*set)(faults&);
        int result;
    } table[] = {
        {"wrong digest", [](faults& f) { f.wrong_digest = true; }, -105},
        {"wrong offset", [](faults& f) { f.wrong_offset_at = 3; }, -113},
        {"short packet", [](faults& f) { f.short_at = 2; }, -101},
        {"silence", [](faults& f) { f.silent_at = 2; }, -1},
        {"no last flag", [](faults& f) { f.no_last_flag = true; }, -113},
        {"endless file", [](faults& f) { f.endless = true; }, -113},
        {"data refused", [](faults& f) { f.data_result = 174; }, 174},
    };
    set_int(ParamType::FileType, 1);
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        faults f;
        c.set(f);
        store->set_faults(f);
        d.results.clear();
        d.output_params.clear();
        EXPECT_EQ(d.get_file(), c.result);
        EXPECT_EQ(read_all(dir + "/" + target), B({1, 2, 3}));
        EXPECT_EQ(files_below(save_dir), (std::vector<std::string>{"S-127.0.0.100/ScaleServiceConfig.json"}));
        EXPECT_EQ(output(ParamType::FilePath), "<unset>");
    }
    store->set_faults({});
    d.results.clear();
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_EQ(read_all(dir + "/" + target), pattern(5000));
}

TEST_F(Download, AStopDuringThePacketsEndsPromptly)
{
    qv_sim::sim_scale a("127.0.0.100");
    serve(a, "S", "BE", pattern(200000), 100);  // 2000 packets
    set_int(ParamType::FileType, 7);
    std::atomic<bool> stopped{false};
    a.set_observer([&](const qv_sim::request& r) {
        if (r.rest.size() == 5 && r.rest[4] == std::byte{3} && !stopped.exchange(true)) d.stop_requested = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.get_file(), -9);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_LE(a.request_count(), 4u);  // 06, 07, 07 and one data request at most
    EXPECT_TRUE(!fs::exists(save_dir) || files_below(save_dir).empty());
}

TEST_F(Download, InputsCheckedBeforeAnythingIsSent)
{
    qv_sim::sim_scale a("127.0.0.100"), b("127.0.0.101");
    serve(a, "S", "AA", pattern(10));
    const struct {
        const char* what;
        int type;
        const char* on_scale;  // nullptr: absent
        bool two_scales;
        int result;
    } table[] = {
        {"type 2", 2, nullptr, false, -104},      {"type -1", -1, nullptr, false, -104},
        {"type 14", 14, nullptr, false, -104},    {"any file without a name", 0, nullptr, false, -104},
        {"a folder", 0, "/data/", false, -104},   {"dot dot", 0, "/data/..", false, -104},
        {"two scales", 0, "/data/a", true, -110},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        d.ip_address_list.resize(1);
        if (c.two_scales) add_scale(d, b, 1);
        set_int(ParamType::FileType, c.type);
        d.input_params.erase(ParamType::FileOnScale);
        if (c.on_scale != nullptr) set_text(ParamType::FileOnScale, c.on_scale);
        EXPECT_EQ(d.get_file(), c.result);
    }
    EXPECT_EQ(a.request_count() + b.request_count(), 0u);
    d.input_params.erase(ParamType::FolderForSaveFile);
    EXPECT_EQ(d.get_file(), -7);
    d.ip_address_list.clear();
    set_text(ParamType::FolderForSaveFile, save_dir);
    set_int(ParamType::FileType, 4);
    EXPECT_EQ(d.get_file(), -1);  // no scale: never a success
}

TEST_F(Download, AnyFileByItsPathOnTheScale)
{
    qv_sim::sim_scale a("127.0.0.100");
    auto store = serve(a, "", "/data/labels/logo.png", pattern(1500));
    set_int(ParamType::FileType, 0);
    set_text(ParamType::FileOnScale, "/data/labels/logo.png");
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_EQ(read_all(save_dir + "/-127.0.0.100/logo.png"), pattern(1500));
    EXPECT_EQ(store->names(), (std::vector<std::string>{"/data/labels/logo.png"}));
    EXPECT_EQ(a.requests().at(0).frame, [] {
        bytes f = B({2, 29, 0xAA, '1', '2', '3', '4', 0x01, 21, 0});
        const bytes name = qv_sim::to_bytes(std::string("/data/labels/logo.png"));
        f.insert(f.end(), name.begin(), name.end());
        return f;
    }());
    EXPECT_TRUE(store->hash_options().empty());

    // A name the scale does not know ends the command at its name step.
    set_text(ParamType::FileOnScale, "/data/none");
    d.results.clear();
    const device_test::log_capture log;
    EXPECT_EQ(d.get_file(), 129);
    EXPECT_TRUE(log.contains("get_file (name state) err: 129"));
}

TEST_F(Download, AnEmptyFileIsAFile)
{
    qv_sim::sim_scale a("127.0.0.100");
    serve(a, "S", "AF", {});
    set_int(ParamType::FileType, 3);
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_EQ(read_all(save_dir + "/S-127.0.0.100/ServiceLog_" + stamp + ".zip"), bytes{});
}

TEST_F(Download, TwoDownloadsInOneSecondBothStay)
{
    qv_sim::sim_scale a("127.0.0.100");
    auto store = serve(a, "S", "FF 0B", pattern(10));
    set_int(ParamType::FileType, 8);
    set_int(ParamType::FileDataSeparator, 59);  // not sent for messages
    EXPECT_EQ(d.get_file(), 0);
    store->put("FF 0B", pattern(20));
    d.results.clear();
    EXPECT_EQ(d.get_file(), 0);
    const std::string folder = save_dir + "/S-127.0.0.100/";
    EXPECT_EQ(read_all(folder + "Messages_" + stamp + ".csv"), pattern(10));
    EXPECT_EQ(read_all(folder + "Messages_" + stamp + "_2.csv"), pattern(20));
    EXPECT_EQ(output(ParamType::FilePath), folder + "Messages_" + stamp + "_2.csv");
    EXPECT_TRUE(store->hash_options().empty());
}

TEST_F(Download, BackupPreparedFirst)
{
    qv_sim::sim_scale a("127.0.0.100");
    serve(a, "S", "BE", pattern(3000));
    auto folders = qv_sim::add_folder_replies(a);
    folders->set_backup_polls(2);
    set_int(ParamType::FileType, 7);
    set_text(ParamType::BackupParams, "101");
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_EQ(folders->backup_flags(), B({0xA0, 0, 0}));
    EXPECT_EQ(folders->backup_status_requests(), 3);
    EXPECT_EQ(read_all(save_dir + "/S-127.0.0.100/ScaleBackup_" + stamp + ".zip"), pattern(3000));

    // A backup the scale cannot make: its code, nothing downloaded.
    folders->set_backup_polls(0, 175);
    d.results.clear();
    a.clear_requests();
    EXPECT_EQ(d.get_file(), 175);
    EXPECT_EQ(a.request_count(), 2u);
}

TEST_F(Download, APreparationThatNeverEndsMeetsItsDeadline)
{
    qv_sim::sim_scale a("127.0.0.100"), b("127.0.0.101");
    serve(a, "A", "FF 12", pattern(10));
    serve(b, "B", "FF 12", pattern(20));
    auto db_a = qv_sim::add_product_database_replies(a);
    auto db_b = qv_sim::add_product_database_replies(b);
    db_a->set_preparation_polls(1000000);
    db_b->set_preparation_polls(1);
    scale_file_limits().preparation_deadline = 300ms;
    set_int(ParamType::FileType, 10);
    const device_test::log_capture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.get_file(), -111);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.100", -5}, {"127.0.0.101", -112}}));
    EXPECT_TRUE(log.contains("get_file() get_json_items_file_status: not ready in time for ip = 127.0.0.100"));
    EXPECT_EQ(files_below(save_dir), (std::vector<std::string>{"B-127.0.0.101/JSON_Items_" + stamp + ".json"}));

    // With one scale its code ends the command, with the step's line.
    d.ip_address_list.resize(1);
    d.results.clear();
    const device_test::log_capture one;
    EXPECT_EQ(d.get_file(), -5);
    EXPECT_TRUE(one.contains("get_file for ip = [127.0.0.100] (get_json_items_file_status state) err: -5"));
}

TEST_F(Download, StatisticsPreparedFirst)
{
    qv_sim::sim_scale a("127.0.0.100");
    serve(a, "S", "FF 31", pattern(700));
    auto script = qv_sim::add_recognition_replies(a);
    script->json_statistic_status.set({qv_sim::status_step(1), qv_sim::status_step(1), qv_sim::status_step(0)});
    set_int(ParamType::FileType, 12);
    set_int(ParamType::ItemCode, 101);
    d.set_string_param(ParamType::StatisticRequestType, d.input_params, L"DAYS", false);
    EXPECT_EQ(d.get_file(), 0);
    EXPECT_EQ(script->json_statistic_status.served(), 3u);
    EXPECT_EQ(read_all(save_dir + "/S-127.0.0.100/JSON_Prediction_Statistic_" + stamp + ".json"), pattern(700));
}

TEST_F(Download, AllScalesFailingIsNeverASuccess)
{
    qv_sim::sim_scale a("127.0.0.100"), b("127.0.0.101");
    serve(a, "A", "1E", pattern(10))->set_password("0000");
    serve(b, "B", "1E", pattern(10))->set_password("0000");
    set_int(ParamType::FileType, 4);
    EXPECT_EQ(d.get_file(), -111);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.100", 122}, {"127.0.0.101", 122}}));
    EXPECT_EQ(output(ParamType::FilePath), "<unset>");
    EXPECT_EQ(output(ParamType::SavedFilePaths), "<unset>");
}

}  // namespace
