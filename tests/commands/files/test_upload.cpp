// File upload (48) and folder upload (113) against simulated scales that put
// the packets together and check their MD5.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "files_test_util.h"

using namespace files_test;
using send_test::add_scale;
using send_test::B;

namespace {

bytes cat(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::size_t status_requests(const qv_sim::sim_scale& sim)
{
    std::size_t n = 0;
    for (const bytes& p : payloads(sim)) n += p.size() == 1 && p[0] == std::byte{9};
    return n;
}

class Upload : public files_fixture {
public:
    // One scale at 127.0.0.60 over TCP with the upload replies.
    void one_scale()
    {
        sim = std::make_unique<qv_sim::sim_scale>("127.0.0.60");
        store = qv_sim::add_file_replies(*sim);
        add_scale(d, *sim, 1);
    }
    // A file and its type, ready to send.
    std::string file(int type, const bytes& content, const std::string& name = "f.bin")
    {
        const std::string path = write(name, content);
        set_int(ParamType::FileType, type);
        set_text(ParamType::FilePath, path);
        return path;
    }
    std::unique_ptr<qv_sim::sim_scale> sim;
    std::shared_ptr<qv_sim::file_store> store;
};

using setup = std::function<void(Upload&)>;

// A one-byte file of `type` with one integer input more.
setup with(int type, ParamType p, int v)
{
    return [=](Upload& t) {
        t.file(type, B({1}));
        t.set_int(p, v);
    };
}

TEST_F(Upload, RequestBytesOfASmallFile)
{
    one_scale();
    file(4, B({0xAB}));
    EXPECT_EQ(d.send_file(), 0);
    const auto requests = sim->requests();
    ASSERT_EQ(requests.size(), 3u);
    const bytes digest = get_file_hash(B({0xAB}));
    EXPECT_EQ(requests[0].frame,
              cat(cat(B({2, 31, 0x1F, '1', '2', '3', '4', 0x02}), digest), B({4, 1, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_EQ(requests[1].frame, B({2, 14, 0x1F, '1', '2', '3', '4', 3, 1, 0, 0, 0, 0, 1, 0, 0xAB}));
    EXPECT_EQ(requests[2].frame, B({2, 6, 0x1F, '1', '2', '3', '4', 9}));
    EXPECT_TRUE(store->uploads().at(0).md5_ok);
}

TEST_F(Upload, OpeningPackets)
{
    const struct {
        int type;
        setup set;
        bytes opening;  // empty: the parameters come first
    } table[] = {
        {0, [](Upload& t) { t.set_text(ParamType::FolderOnScale, "dir\\sub"); },
         cat(B({1, 13, 0}), qv_sim::to_bytes("dir/sub/a.txt"))},
        {0, [](Upload& t) { t.set_text(ParamType::FolderOnScale, "dir/"); },
         cat(B({1, 9, 0}), qv_sim::to_bytes("dir/a.txt"))},
        {0, [](Upload&) {}, cat(B({1, 5, 0}), qv_sim::to_bytes("a.txt"))},
        {7, [](Upload& t) { t.set_text(ParamType::BackupParams, "101"); }, B({5, 0xA0, 0, 0})},
        {7, [](Upload&) {}, {}},
        {9, [](Upload& t) { t.set_int(ParamType::ItemCode, 9999999); }, B({8, 0x7F, 0x96, 0x98, 0})},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(qv_sim::hex(c.opening));
        one_scale();
        file(c.type, B({7}), "sub\\a.txt");  // a '\' in the local path counts as a '/'
        c.set(*this);
        EXPECT_EQ(d.send_file(), 0);
        const auto sent = payloads(*sim);
        ASSERT_EQ(sent.size(), c.opening.empty() ? 3u : 4u);
        if (!c.opening.empty()) {
            EXPECT_EQ(sent[0], c.opening);
        }
        EXPECT_EQ(sent[c.opening.empty() ? 0 : 1][0], std::byte{2});
        reset();
    }
}

TEST_F(Upload, OptionsInTagOrder)
{
    one_scale();
    file(2, B({7}));
    set_int(ParamType::FileEncodingType, 3);
    set_int(ParamType::PictureNumber, 0x42);
    set_int(ParamType::ScaleUpdateType, 0);
    set_int(ParamType::VelunorBackupType, 255);
    set_int(ParamType::ItemsAddingType, 1);
    set_text(ParamType::ShelfLifeType, "NOT_LIMITED");
    EXPECT_EQ(d.send_file(), 0);
    EXPECT_EQ(store->uploads().at(0).option_bytes,
              B({1, 1, 2, 255, 3, 0, 4, 1, 0, 0, 0, 0, 0, 0, 0, 6, 0x42, 7, 3, 8, 6}));
    for (const char* unit : {"days", "?"}) {  // any case; an unknown unit is days
        file(4, B({7}));
        set_text(ParamType::ShelfLifeType, unit);
        EXPECT_EQ(d.send_file(), 0);
        EXPECT_EQ(store->uploads().back().options.at(8), 2) << unit;
    }
}

TEST_F(Upload, PacketsOf60000Bytes)
{
    one_scale();
    file(4, pattern(60000));
    EXPECT_EQ(d.send_file(), 0);
    auto sent = payloads(*sim);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(bytes(sent[1].begin(), sent[1].begin() + 8), B({3, 1, 0, 0, 0, 0, 0x60, 0xEA}));
    EXPECT_EQ(sim->requests()[1].frame[1], std::byte{0xFF});

    sim->clear_requests();
    file(4, pattern(60001));
    EXPECT_EQ(d.send_file(), 0);
    sent = payloads(*sim);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(bytes(sent[1].begin(), sent[1].begin() + 8), B({3, 0, 0, 0, 0, 0, 0x60, 0xEA}));
    EXPECT_EQ(sent[2], B({3, 1, 0x60, 0xEA, 0, 0, 1, 0, std::to_integer<int>(pattern(60001).back())}));
    EXPECT_EQ(store->file("1F"), pattern(60001));
}

TEST_F(Upload, RefusalsSendNothing)
{
    const struct {
        const char* what;
        setup set;
        int result;
    } table[] = {
        {"no FileType", [](Upload&) {}, -7},
        {"FileType as text", [](Upload& t) { t.set_text(ParamType::FileType, "4"); }, -8},
        {"no content", [](Upload& t) { t.set_int(ParamType::FileType, 4); }, -104},
        {"FilePath as a number counts as absent", with(4, ParamType::FilePath, 1), -104},
        {"missing file of an unknown type",
         [](Upload& t) {
             t.set_int(ParamType::FileType, 3);
             t.set_text(ParamType::FilePath, t.dir + "/missing");
         },
         171},
        {"empty file", [](Upload& t) { t.file(4, {}); }, 171},
        {"unknown type", [](Upload& t) { t.file(3, B({1})); }, -104},
        {"type above the table", [](Upload& t) { t.file(16, B({1})); }, -104},
        {"option above a byte", with(4, ParamType::PictureNumber, 256), -104},
        {"negative option", with(4, ParamType::ItemsAddingType, -1), -104},
        {"no item code", [](Upload& t) { t.file(9, B({1})); }, -7},
        {"item code 10000000", with(9, ParamType::ItemCode, 10000000), -104},
        {"BackupParams as a number", with(7, ParamType::BackupParams, 1), -8},
        {"file of 4 GiB", [](Upload& t) { std::filesystem::resize_file(t.file(4, B({1})), (1ull << 32) + 10); }, -113},
    };
    one_scale();
    for (const auto& c : table) {
        c.set(*this);
        EXPECT_EQ(d.send_file(), c.result) << c.what;
        d.input_params.clear();
    }
    EXPECT_EQ(sim->request_count(), 0u);
}

TEST_F(Upload, SeveralPacketsToTwoScalesAtOnce)
{
    qv_sim::sim_scale a("127.0.0.60"), b("127.0.0.61");
    const auto store_a = qv_sim::add_file_replies(a);
    const auto store_b = qv_sim::add_file_replies(b);
    add_scale(d, a, 1);
    add_scale(d, b, 0);  // UDP: each packet is one datagram
    const bytes content = pattern(150001);
    file(0, content, "three.bin");
    set_text(ParamType::FolderOnScale, "x");
    EXPECT_EQ(d.send_file(), 0);
    for (const auto& store : {store_a, store_b}) {
        const auto u = store->uploads().at(0);
        EXPECT_EQ(u.packets, 3u);
        EXPECT_TRUE(u.md5_ok);
        EXPECT_EQ(u.digest, from_hex("73bb98be9a77acb3b24b12654770c190"));
        EXPECT_EQ(store->file("x/three.bin"), content);
    }
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.60", 0}, {"127.0.0.61", 0}}));
}

TEST_F(Upload, StatusSequences)
{
    using qv_sim::status_answer;
    const struct {
        const char* what;
        int type;
        std::vector<status_answer> script;
        int result;
        std::size_t tries;
    } table[] = {
        {"done without data", 4, {}, 0, 1},
        {"busy three times", 4, {status_answer::busy(), status_answer::busy(), status_answer::busy()}, 0, 4},
        {"another status is done", 6, {status_answer::done_status(7)}, 0, 1},
        {"unknown status request", 8, {status_answer::result_only(120)}, -6, 1},
        {"in progress", 4, {status_answer::result_only(172)}, 172, 1},
        {"silent twice, then done", 4, {status_answer::no_reply(), status_answer::no_reply()}, 0, 3},
        {"silent: CSV loader", 11, {status_answer::no_reply()}, -1, 1},
        {"error text longer than the reply", 4, {status_answer{0, B({2, 50, 0, 'a', 'b'}), false}}, -5, 1},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        one_scale();
        store->script_status(c.script);
        file(c.type, B({1, 2, 3}));
        const device_test::log_capture log;
        EXPECT_EQ(d.send_file(), c.result);
        EXPECT_EQ(status_requests(*sim), c.tries);
        EXPECT_TRUE(log.contains("Try: " + std::to_string(c.tries) + "/500"));
        reset();
    }
}

TEST_F(Upload, StatusLinesAndErrorText)
{
    one_scale();
    store->script_status({qv_sim::status_answer::busy(), qv_sim::status_answer::failed("disk full")});
    file(4, B({1}));
    const device_test::log_capture log;
    EXPECT_EQ(d.send_file(), -5);
    for (const char* line : {"send_products_file pack 1/1: OK", "send_products_file getting command status",
                             "Command status for IP = 127.0.0.60: 2", "Error message: disk full"})
        EXPECT_TRUE(log.contains(line)) << line;

    // Busy in every try ends after 500 of them.
    reset();
    one_scale();
    store->script_status(std::vector<qv_sim::status_answer>(600, qv_sim::status_answer::busy()));
    file_transfer_waits().status_next = 0ms;
    file(4, B({1}));
    EXPECT_EQ(d.send_file(), -5);
    EXPECT_EQ(status_requests(*sim), 500u);

    // An update without a status poll.
    reset();
    one_scale();
    file(2, B({1}));
    set_int(ParamType::ScaleUpdateType, 1);
    EXPECT_EQ(d.send_file(), 0);
    EXPECT_EQ(status_requests(*sim), 0u);
}

TEST_F(Upload, GroupOutcomesPerScale)
{
    using qv_sim::file_store;
    using qv_sim::status_answer;
    const struct {
        const char* what;
        std::function<void(file_store&)> script;  // of the second scale
        int second;
        int result;
    } table[] = {
        {"one scale in progress, then done", [](file_store& b) { b.script_status({status_answer::result_only(172)}); },
         0, 0},
        {"damaged on one scale: its MD5 check fails", [](file_store& b) { b.corrupt_data(true); }, -5, -111},
        {"one scale does not know the data packet: not 'sent successfully'",
         [](file_store& b) { b.fail_request(3, 1, 120); }, 120, -111},
        {"one scale goes silent in the data packets", [](file_store& b) { b.silent_from(3, 2); }, -1, -111},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        qv_sim::sim_scale a("127.0.0.60"), b("127.0.0.61");
        const auto store_a = qv_sim::add_file_replies(a);
        const auto store_b = qv_sim::add_file_replies(b);
        store_a->script_status({status_answer::busy(), status_answer::busy()});
        c.script(*store_b);
        add_scale(d, a, 1);
        add_scale(d, b, 1);
        file(4, pattern(130000));
        const device_test::log_capture log;
        EXPECT_EQ(d.send_file(), c.result);
        EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.60", 0}, {"127.0.0.61", c.second}}));
        EXPECT_EQ(store_a->file("1F"), pattern(130000));
        if (c.second == -1) {
            EXPECT_TRUE(log.contains("send_products_file pack 3/3 for ip = 127.0.0.61: -1"));
        }
        reset();
    }

    // With one scale a failed packet ends its upload: no later packet, no status request.
    one_scale();
    store->fail_request(3, 2, 122);
    file(4, pattern(130000));
    EXPECT_EQ(d.send_file(), 122);
    EXPECT_EQ(sim->request_count(), 3u);
}

TEST_F(Upload, RemovesTheLocalFileOnlyAfterSuccess)
{
    one_scale();
    std::string path = file(4, B({1}));
    set_int(ParamType::DeletingFileFlag, 1);
    EXPECT_EQ(d.send_file(), 0);
    EXPECT_FALSE(std::filesystem::exists(path));

    store->script_status({qv_sim::status_answer::failed("no")});
    path = file(4, B({1}));
    set_int(ParamType::DeletingFileFlag, 1);
    EXPECT_EQ(d.send_file(), -5);
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(Upload, StopFromAnotherThreadBetweenPackets)
{
    one_scale();
    qv_sim::fault slow;
    slow.delay = 20ms;
    sim->set_fault(slow);
    file(4, pattern(40 * 60000));
    int result = 0;
    std::thread upload([&] { result = d.execute_command(48); });
    ASSERT_TRUE(sim->wait_for_requests(5, 10s));
    EXPECT_EQ(d.execute_command(127), 0);
    upload.join();
    EXPECT_EQ(result, -9);
    EXPECT_EQ(d.results["127.0.0.60"], -9);
    EXPECT_LT(sim->request_count(), 41u);
    EXPECT_EQ(status_requests(*sim), 0u);
    // The device is free for the next command.
    sim->clear_faults();
    set_int(ParamType::FileType, 4);
    set_text(ParamType::FilePath, write("next.bin", B({1})));
    EXPECT_EQ(d.execute_command(48), 0);
}

// ---- Folder upload.

using FolderUpload = Upload;

TEST_F(FolderUpload, WalksRegularFilesAndRealFoldersOnly)
{
    one_scale();
    write("a.txt", B({1}));
    write("pics/b.png", B({2}));
    std::filesystem::create_directory_symlink(dir, dir + "/pics/loop");  // back to the top
    std::filesystem::create_symlink(dir + "/a.txt", dir + "/link.txt");  // a link to a file is a file
    ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
    set_text(ParamType::FolderPath, dir);
    set_text(ParamType::FolderOnScale, "img");
    const device_test::log_capture log;
    EXPECT_EQ(d.send_all_files_from_folder(), 0);
    std::vector<std::string> names;
    for (const auto& u : store->uploads()) names.push_back(u.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"img/a.txt", "img/link.txt", "img/pics/b.png"}));
    EXPECT_TRUE(log.contains("file path = " + dir + "/pipe: not a regular file, skipped"));
    EXPECT_TRUE(log.contains("file path = " + dir + "/pics/loop: not a regular file, skipped"));
}

TEST_F(FolderUpload, EmptyTargetEmptyFolderAndEmptyFile)
{
    one_scale();
    write("pics/b.png", B({2}));
    std::filesystem::create_directory(dir + "/none");
    set_text(ParamType::FolderPath, dir);
    EXPECT_EQ(d.send_all_files_from_folder(), 0);
    ASSERT_EQ(store->uploads().size(), 1u);
    EXPECT_EQ(store->uploads()[0].name, "/pics/b.png");

    const device_test::log_capture log;
    EXPECT_EQ(d.send_all_files_from_folder(dir + "/none", ""), 0);
    EXPECT_TRUE(log.contains("file_list size = 0"));
    EXPECT_EQ(store->uploads().size(), 1u);
    d.input_params.clear();
    EXPECT_EQ(d.send_all_files_from_folder(), -7);

    write("none/empty.txt", {});  // an empty file stops the walk
    EXPECT_EQ(d.send_all_files_from_folder(dir + "/none", ""), 171);
}

TEST_F(FolderUpload, KeepsTheWorstResult)
{
    qv_sim::sim_scale a("127.0.0.60"), b("127.0.0.61");
    qv_sim::add_file_replies(a);
    const auto store_b = qv_sim::add_file_replies(b);
    // The first file ends "in progress" on one scale; the second goes well.
    store_b->script_status({qv_sim::status_answer::result_only(172)});
    add_scale(d, a, 1);
    add_scale(d, b, 1);
    write("one.txt", B({1}));
    write("two.txt", B({2}));
    set_text(ParamType::FolderPath, dir);
    EXPECT_EQ(d.send_all_files_from_folder(), -111);
    EXPECT_EQ(store_b->uploads().size(), 2u);
}

}  // namespace
