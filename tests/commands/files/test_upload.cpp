// File upload (48) and folder upload (113) against scales that join the packets and check their MD5.

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files_test_util.h"
#include "../../core/test_deadline.h"
#include "test_hooks/test_hooks.h"

using namespace files_test;
using namespace std::string_literals;
using send_test::add_scale;
using send_test::B;

namespace {

std::size_t status_requests(const qv_sim::sim_scale& sim)
{
    const auto all = payloads(sim);
    return std::count(all.begin(), all.end(), B({9}));
}

class Upload : public files_fixture {
public:
    void SetUp() override
    {
        files_fixture::SetUp();
        add_scale(d, sim, 1);
    }
    // A file and its type, ready to send.
    std::string file(int type, const bytes& content, const std::string& name = "f.bin")
    {
        set_int(ParamType::FileType, type);
        set_text(ParamType::FilePath, write(name, content));
        return dir + "/" + name;
    }
    qv_sim::sim_scale sim{"127.0.0.60"};
    std::shared_ptr<qv_sim::file_store> store = qv_sim::add_file_replies(sim);
};

TEST_F(Upload, RequestBytes)
{
    file(4, B({0xAB}));
    EXPECT_EQ(d.send_file(), 0);
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 3u);
    bytes opening = B({2, 31, 0x1F, '1', '2', '3', '4', 0x02});
    for (const bytes& part : {get_file_hash(B({0xAB})), B({4, 1, 0, 0, 0, 0, 0, 0, 0})})
        opening.insert(opening.end(), part.begin(), part.end());
    EXPECT_EQ(requests[0].frame, opening);
    EXPECT_EQ(requests[1].frame, B({2, 14, 0x1F, '1', '2', '3', '4', 3, 1, 0, 0, 0, 0, 1, 0, 0xAB}));
    EXPECT_EQ(requests[2].frame, B({2, 6, 0x1F, '1', '2', '3', '4', 9}));

    // The opening packets before the parameters, and the options in tag order.
    sim.clear_requests();
    set_text(ParamType::FolderOnScale, "dir\\sub");
    file(0, B({7}), "sub\\a.txt");  // a '\' in the local path counts as a '/'
    EXPECT_EQ(d.send_file(), 0);
    EXPECT_EQ(payloads(sim).at(0), B({1, 13, 0, 'd', 'i', 'r', '/', 's', 'u', 'b', '/', 'a', '.', 't', 'x', 't'}));
    d.input_params.clear();
    file(2, B({7}));
    for (auto [p, v] : {std::pair{ParamType::FileEncodingType, 3},
                        {ParamType::PictureNumber, 0x42},
                        {ParamType::ScaleUpdateType, 0},
                        {ParamType::VelunorBackupType, 255},
                        {ParamType::ItemsAddingType, 1}})
        set_int(p, v);
    set_text(ParamType::ShelfLifeType, "NOT_LIMITED");
    EXPECT_EQ(d.send_file(), 0);
    EXPECT_EQ(store->uploads().back().option_bytes,
              B({1, 1, 2, 255, 3, 0, 4, 1, 0, 0, 0, 0, 0, 0, 0, 6, 0x42, 7, 3, 8, 6}));

    // The opening packets of a scale backup and of marking codes, then the parameters.
    const std::tuple<int, std::function<void()>, bytes> openings[] = {
        {7, [&] { set_text(ParamType::BackupParams, "101"); }, B({2, 9, 0xBF, '1', '2', '3', '4', 5, 0xA0, 0, 0})},
        {9, [&] { set_int(ParamType::ItemCode, 9999999); },
         B({2, 11, 0xFF, 0x10, '1', '2', '3', '4', 8, 0x7F, 0x96, 0x98, 0})},
    };
    for (const auto& [type, set, frame] : openings) {
        d.input_params.clear();
        sim.clear_requests();
        file(type, B({7}));
        set();
        EXPECT_EQ(d.send_file(), 0) << type;
        EXPECT_EQ(sim.requests().at(0).frame, frame) << type;
        EXPECT_EQ(payloads(sim).at(1).at(0), std::byte{2}) << type;
    }

    // Packets of 60000 bytes.
    d.input_params.clear();
    sim.clear_requests();
    file(4, pattern(60000));
    EXPECT_EQ(d.send_file(), 0);
    EXPECT_EQ(sim.request_count(), 3u);
    sim.clear_requests();
    file(4, pattern(60001));
    EXPECT_EQ(d.send_file(), 0);
    const auto sent = payloads(sim);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(bytes(sent[1].begin(), sent[1].begin() + 8), B({3, 0, 0, 0, 0, 0, 0x60, 0xEA}));
    EXPECT_EQ(sent[2], B({3, 1, 0x60, 0xEA, 0, 0, 1, 0, std::to_integer<int>(pattern(60001).back())}));
    EXPECT_EQ(store->file("1F"), pattern(60001));
}

TEST_F(Upload, RefusalsSendNothing)
{
    // How the inputs are set, the result, and the line that names the field.
    const std::tuple<std::function<void()>, int, const char*> table[] = {
        {[] {}, -7, "get int param \"(208) FileType\": not found!"},
        {[&] { set_text(ParamType::FileType, "4"); }, -8, "get int param \"(208) FileType\": wrong type! As bytes array in driver"},
        {[&] { set_int(ParamType::FileType, 4); }, -104,
         "refused bytes array param \"(207) FilePath\": absent; allowed: a local file, or the product document"},
        {[&] { file(4, {}); }, 171, nullptr},
        {[&] { file(3, B({1})); }, -104, "refused int param \"(208) FileType\": 3; allowed: 0, 1, 2, 4 to 11, 14, 15"},
        {[&] { file(9, B({1})), set_int(ParamType::ItemCode, 10000000); }, -104, "Invalid ItemCode parameter: 10000000"},
        {[&] { file(4, B({1})), set_int(ParamType::PictureNumber, 256); }, -104,
         "refused int param \"(142) PictureNumber\": 256; allowed: 0 to 255"},
        {[&] { std::filesystem::resize_file(file(4, B({1})), (1ull << 32) + 10); }, -113, nullptr},
        // The file system would read these only up to the zero byte: up/keep, never up/keepme, which the flag
        // would delete.
        {[&] {
             file(0, B({1}), "up/keepme");
             set_int(ParamType::DeletingFileFlag, 1);
             d.driver_root_folder = device_test::bytes_of(dir);
             set_text(ParamType::FilePath, "up/keep\0me"s);
         },
         -104,
         "refused bytes array param \"(207) FilePath\": \"up/keep\\x00me\"; allowed: a path with zero bytes at its end "
         "only"},
        {[&] {
             file(0, B({1}), "up/keepme");
             set_int(ParamType::DeletingFileFlag, 1);
             set_text(ParamType::FilePath, dir + "/up/keep\0me"s);
         },
         -104, nullptr},
    };
    for (const auto& [set, result, line] : table) {
        SCOPED_TRACE(result);
        set();
        const device_test::log_capture log;
        EXPECT_EQ(d.send_file(), result);
        if (line != nullptr) {
            EXPECT_TRUE(log.contains(line)) << line;
        }
        d.input_params.clear();
    }
    EXPECT_EQ(sim.request_count(), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir + "/up/keepme"));
    // Zero bytes at the end are padding.
    file(4, B({1}));
    set_text(ParamType::FilePath, dir + "/f.bin\0\0"s);
    EXPECT_EQ(d.send_file(), 0);
    EXPECT_EQ(store->file("1F"), B({1}));
}

// A file cut short between its size and its read, as another process truncating it would: nothing of it is sent and
// the answer is 171, for one file and for a file of a folder.
TEST_F(Upload, AFileCutShortWhileReadSendsNothing)
{
    const std::string big = dir + "/out/big.bin";
    write("out/small.txt", B({1}));
    qv_seam::hook("local file measured", [&] {
        if (open_file(big).first >= 0) std::filesystem::resize_file(big, 1000);
    });
    const std::function<int()> commands[] = {
        [&] {
            set_int(ParamType::FileType, 4);
            set_text(ParamType::FilePath, big);
            return d.send_file();
        },
        [&] {
            set_text(ParamType::FolderPath, dir + "/out");
            return d.send_all_files_from_folder();
        },
    };
    for (const auto& command : commands) {
        write("out/big.bin", pattern(100000));
        const device_test::log_capture log;
        EXPECT_EQ(command(), 171);
        const auto lines = log.lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& l) { return l.rfind("get_bytes_array_from_file err", 0) == 0; }),
                  1);
        EXPECT_TRUE(log.contains("get_bytes_array_from_file err: read 1000 of 100000 bytes: " + big));
        if (&command == &commands[0]) {
            EXPECT_EQ(sim.request_count(), 0u);
        }
        ASSERT_EQ(d.execute_command(82), 0);
        EXPECT_EQ(output(ParamType::CommandResults), "");  // whether small.txt went first or not
        d.input_params.clear();
    }
    qv_seam::clear();
    // Of the folder, at most small.txt went, in whichever order the folder lists them.
    for (const auto& upload : store->uploads()) EXPECT_EQ(upload.name, "small.txt");
    EXPECT_LE(store->uploads().size(), 1u);
}

// Anything but a regular file at the moment it is opened, named so or put in the file's place just before the open
// (as a FIFO renamed over it), answers 171 at once with nothing sent, as does a file that cannot be read; the one line
// names the path and the reason. After 113 answers 171 the result list (82) is empty, as after 48's.
TEST_F(Upload, AnythingButARegularFileAnswersAtOnceWithItsReason)
{
    const test_deadline deadline{std::chrono::seconds(60)};
    const std::string out = dir + "/out", path = out + "/f.bin", other = out + "/g.bin";
    std::string named;  // the path that the line names
    // Puts a FIFO or a folder in the place of `at`, by a rename.
    const auto swap_in = [&](const std::string& at, bool fifo) {
        const std::string made = dir + "/made";
        ASSERT_EQ(fifo ? ::mkfifo(made.c_str(), 0600) : ::mkdir(made.c_str(), 0700), 0);
        if (!fifo) std::filesystem::remove(at);
        std::filesystem::rename(made, at);
    };
    // Just before the (n)th open of a local file.
    const auto before_open = [&](int n, std::function<void()> act) {
        auto opens = std::make_shared<int>(0);
        qv_seam::hook("local file opening", [opens, n, act] {
            if (++*opens == n) act();
        });
    };
    struct row {
        const char* what;
        std::function<void()> set;
        std::string line;  // after "get_bytes_array_from_file err: "
        bool folder_upload;
    };
    const row table[] = {
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, "failed open file! <path>: not a regular file",
         false},
        {"a FIFO renamed over the file",
         [&] { write("out/f.bin", B({1})), before_open(1, [&] { swap_in(path, true); }); },
         "failed open file! <path>: not a regular file", false},
        {"a folder", [&] { std::filesystem::create_directory(path); }, "failed open file! <path>: not a regular file",
         false},
        {"a folder put in the file's place",
         [&] { write("out/f.bin", B({1})), before_open(1, [&] { swap_in(path, false); }); },
         "failed open file! <path>: not a regular file", false},
        {"missing", [] {}, "failed open file! <path>: No such file or directory", false},
        {"no read permission", [&] { ::chmod(write("out/f.bin", B({1})).c_str(), 0); },
         "failed open file! <path>: Permission denied", false},
        // A read error: the descriptor led to a folder once the file is measured.
        {"a read error",
         [&] {
             write("out/f.bin", pattern(100000));
             qv_seam::hook("local file measured", [&] {
                 const int fd = open_file(path).first;
                 const int folder = ::open(dir.c_str(), O_RDONLY | O_CLOEXEC);
                 ASSERT_TRUE(fd >= 0 && folder >= 0);
                 ASSERT_EQ(::dup2(folder, fd), fd);
                 ::close(folder);
             });
         },
         "read 0 of 100000 bytes: <path>: Is a directory", false},
        // The second file of a folder, once the first went: 171, and 82 does not show the first file's success.
        {"a FIFO renamed over a folder's second file",
         [&] {
             write("out/f.bin", B({1})), write("out/g.bin", B({2}));
             qv_seam::hook("local file measured", [&] {
                 if (named.empty()) named = open_file(path).first >= 0 ? other : path;
             });
             before_open(2, [&] { swap_in(named, true); });
         },
         "failed open file! <path>: not a regular file", true},
    };
    for (const row& r : table) {
        SCOPED_TRACE(r.what);
        if (r.line.find("Permission") != std::string::npos && ::geteuid() == 0) continue;  // root reads it all
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        d.input_params.clear();
        d.results.clear();
        named.clear();
        r.set();
        if (named.empty()) named = path;
        const std::size_t sent = sim.request_count(), uploads = store->uploads().size();
        const device_test::log_capture log;
        const auto start = std::chrono::steady_clock::now();
        if (r.folder_upload) {
            set_text(ParamType::FolderPath, out);
            EXPECT_EQ(d.send_all_files_from_folder(), 171);
            EXPECT_EQ(store->uploads().size(), uploads + 1);  // the first file went
        } else {
            set_int(ParamType::FileType, 4);
            set_text(ParamType::FilePath, path);
            EXPECT_EQ(d.send_file(), 171);
            EXPECT_EQ(sim.request_count(), sent);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        qv_seam::clear();
        std::string line = "get_bytes_array_from_file err: " + r.line;
        line.replace(line.find("<path>"), 6, named);
        EXPECT_TRUE(log.contains(line)) << line;
        ASSERT_EQ(d.execute_command(82), 0);
        EXPECT_EQ(output(ParamType::CommandResults), "");
    }
}

TEST_F(Upload, StatusSequences)
{
    using qv_sim::status_answer;
    const std::tuple<int, std::vector<status_answer>, int, std::size_t> table[] = {
        {4, {status_answer::busy(), status_answer::busy(), status_answer::busy()}, 0, 4},
        {8, {status_answer::result_only(120)}, -6, 1},  // unknown status request
        {4, {status_answer::no_reply(), status_answer::no_reply()}, 0, 3},
        {11, {status_answer::no_reply()}, -1, 1},  // the CSV loader: silence ends it
        {4, {status_answer{0, B({2, 50, 0, 'a', 'b'}), false}}, -5, 1},  // error text longer than the reply
        {4, std::vector<status_answer>(600, status_answer::busy()), -5, 500},  // busy for ever
    };
    // The local file is removed only after a success.
    std::string path = file(4, B({1}));
    set_int(ParamType::DeletingFileFlag, 1);
    EXPECT_EQ(d.send_file(), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    store->script_status({status_answer::failed("disk\nfull")});
    path = file(4, B({1}));
    const device_test::log_capture log;
    EXPECT_EQ(d.send_file(), -5);
    EXPECT_TRUE(log.contains("Error message: disk\\x0Afull"));  // never a record of its own
    EXPECT_TRUE(std::filesystem::exists(path));
    file_transfer_waits().status_next = 0ms;
    for (const auto& [type, script, result, tries] : table) {
        reset();  // a fresh scale each time: a failed exchange can leave its link unusable
        qv_sim::sim_scale one("127.0.0.61");
        qv_sim::add_file_replies(one)->script_status(script);
        add_scale(d, one, 1);
        file(type, B({1, 2, 3}));
        EXPECT_EQ(d.send_file(), result) << tries;
        EXPECT_EQ(status_requests(one), tries);
    }
}

TEST_F(Upload, AFailedMd5CheckOnOneScaleOfTwo)
{
    reset();
    qv_sim::sim_scale a("127.0.0.61"), b("127.0.0.62");
    const auto store_a = qv_sim::add_file_replies(a);
    qv_sim::add_file_replies(b)->corrupt_data(true);
    add_scale(d, a, 1);
    add_scale(d, b, 0);  // UDP: each packet is one datagram
    file(4, pattern(130000));
    EXPECT_EQ(d.send_file(), -111);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.61", 0}, {"127.0.0.62", -5}}));
    EXPECT_EQ(store_a->file("1F"), pattern(130000));
}

// A scale that answers 172 once and then falls silent fails; the walk goes on with the other.
TEST_F(Upload, FolderUploadGoesOnWithoutAScaleThatFellSilent)
{
    const test_deadline deadline{std::chrono::seconds(60)};
    reset();
    qv_sim::sim_scale a("127.0.0.61"), b("127.0.0.62");
    const auto store_a = qv_sim::add_file_replies(a);
    const auto store_b = qv_sim::add_file_replies(b);
    store_b->fail_request(2, 1, 172);  // the first parameters packet
    store_b->silent_from(3, 1);  // then nothing more
    add_scale(d, a, 1);
    add_scale(d, b, 1);
    for (const char* name : {"a.txt", "b.txt", "c/d.txt"}) write(name, B({1, 2}));
    set_text(ParamType::FolderPath, dir);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.send_all_files_from_folder(), -111);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.61", 0}, {"127.0.0.62", -1}}));
    EXPECT_EQ(store_a->files().size(), 3u);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(b.request_count(), 3u);  // the name, the parameters (172) and the unanswered packet
}

TEST_F(Upload, StopFromAnotherThreadBetweenPackets)
{
    qv_sim::fault slow;
    slow.delay = 20ms;
    sim.set_fault(slow);
    file(4, pattern(40 * 60000));
    int result = 0;
    std::thread upload([&] { result = d.execute_command(48); });
    ASSERT_TRUE(sim.wait_for_requests(5, 10s));
    EXPECT_EQ(d.execute_command(127), 0);
    upload.join();
    EXPECT_EQ(result, -9);
    const std::size_t at_return = sim.request_count();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(sim.request_count(), at_return);  // nothing after the stopped command returned
    EXPECT_LT(at_return, 41u);
    EXPECT_EQ(status_requests(sim), 0u);
}

TEST_F(Upload, FolderWalkTakesRegularFilesAndRealFoldersOnly)
{
    write("a.txt", B({1}));
    write("pics/b.png", B({2}));
    std::filesystem::create_directory_symlink(dir, dir + "/pics/loop");  // back to the top
    std::filesystem::create_symlink(dir + "/a.txt", dir + "/link.txt");  // a link to a file is a file
    ASSERT_EQ(::mkfifo((dir + "/pics/pipe").c_str(), 0600), 0);  // would block a read for ever
    set_text(ParamType::FolderPath, dir);
    set_text(ParamType::FolderOnScale, "img");
    const device_test::log_capture log;
    EXPECT_EQ(d.send_all_files_from_folder(), 0);
    std::vector<std::string> names;
    for (const auto& u : store->uploads()) names.push_back(u.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"img/a.txt", "img/link.txt", "img/pics/b.png"}));
    EXPECT_TRUE(log.contains("file path = " + dir + "/pics/loop: not a regular file, skipped"));
    EXPECT_TRUE(log.contains("file path = " + dir + "/pics/pipe: not a regular file, skipped"));
}

TEST_F(Upload, FolderUploadNeedsAFolder)
{
    write("a.txt", B({1}));
    write("outbox/b.txt", B({2}));
    write("secret/c.txt", B({3}));
    d.driver_root_folder = device_test::bytes_of(dir);
    // FolderPath as given (nullopt: absent), result.
    const std::pair<std::optional<std::string>, int> table[] = {
        {std::nullopt, -7},
        {"a.txt", -104},  // a file
        {"missing", -104},
        {"x/../../OUT", -104},  // leaves the root folder
        {"outbox\0/../secret"s, -104},  // the file system would read outbox alone
        {dir + "/outbox\0/../secret"s, -104},
    };
    for (const auto& [folder, result] : table) {
        d.input_params.clear();
        if (folder)
            d.set_bytes_array_param(ParamType::FolderPath, d.input_params, device_test::bytes_of(*folder), false);
        EXPECT_EQ(d.send_all_files_from_folder(), result) << folder.value_or("-");
    }
    d.input_params.clear();
    set_int(ParamType::FileType, 4);
    d.set_bytes_array_param(ParamType::FilePath, d.input_params, device_test::bytes_of("x/../../a.txt"), false);
    EXPECT_EQ(d.send_file(), -104);
    EXPECT_EQ(sim.request_count(), 0u);
    // Zero bytes at the end are padding.
    d.input_params.clear();
    d.set_bytes_array_param(ParamType::FolderPath, d.input_params, device_test::bytes_of("outbox\0\0"s), false);
    EXPECT_EQ(d.send_all_files_from_folder(), 0);
    ASSERT_EQ(store->uploads().size(), 1u);
    EXPECT_EQ(store->uploads().front().name, "b.txt");
}

}  // namespace
