// The exchange shared by upload and download: MD5 known answers, local files,
// folder names, the hash request and the check of downloaded copies.

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "files_test_util.h"

using namespace files_test;
using send_test::add_scale;
using send_test::B;

namespace {

TEST(FileHash, KnownAnswers)
{
    const struct {
        bytes data;
        const char* digest;
    } table[] = {
        {{}, "d41d8cd98f00b204e9800998ecf8427e"},
        {qv_sim::to_bytes("abc"), "900150983cd24fb0d6963f7d28e17f72"},
        {bytes(1000000, std::byte{'a'}), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& c : table) {
        EXPECT_EQ(get_file_hash(c.data), from_hex(c.digest)) << c.digest;
        EXPECT_EQ(qv_sim::md5_digest(c.data), from_hex(c.digest)) << "simulated scale: " << c.digest;
    }
}

using LocalFiles = files_fixture;

TEST_F(LocalFiles, ReadsRegularFilesOnly)
{
    const std::string full = write("full.bin", pattern(70000));
    const std::string empty = write("empty.bin", {});
    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    bytes out;
    EXPECT_EQ(read_local_file(full, out), file_read_status::ok);
    EXPECT_EQ(out, pattern(70000));

    const device_test::log_capture log;
    EXPECT_EQ(read_local_file(empty, out), file_read_status::ok);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(log.lines().empty());
    // A FIFO would block the open for ever; a folder has no content.
    for (const std::string& path : {dir + "/missing", fifo, dir}) {
        out = B({1});
        EXPECT_EQ(read_local_file(path, out), file_read_status::unreadable) << path;
        EXPECT_TRUE(out.empty());
    }
    EXPECT_TRUE(log.contains("get_bytes_array_from_file err: failed open file!"));
}

TEST_F(LocalFiles, RefusesFilesTooLargeForThePacketOffsetOrMemory)
{
    // Sparse files: no disk space used. 4 GiB + 10 bytes must not be read as
    // 10 bytes; 3 GiB does not fit a vector in a 32-bit process.
    for (const unsigned long long size : {(1ull << 32) + 10, 3ull << 30}) {
        const std::string path = dir + "/big";
        {
            std::ofstream(path, std::ios::binary);
        }
        std::filesystem::resize_file(path, size);
        bytes out;
        const device_test::log_capture log;
        EXPECT_EQ(read_local_file(path, out), file_read_status::too_large) << size;
        EXPECT_TRUE(out.empty());
        EXPECT_TRUE(get_bytes_array_from_file(path).empty());
        EXPECT_TRUE(log.contains("get_bytes_array_from_file err: file too large (" + std::to_string(size) +
                                 " bytes): " + path));
    }
}

TEST(LocalNaming, SubfolderOfAScale)
{
    const std::vector<scale_connect_data> list = {
        {"10.0.0.5", "5001", "1234", 1, "123456"},
        {"10.0.0.6", "5001", "1234", 1, ""},
        {"10.0.0.7", "5001", "1234", 1, "../x/..\\y"},
        {"10.0.0.8", "5001", "1234", 1, std::string("A\n\0B", 4)},
    };
    const struct {
        const char* ip;
        std::string folder;
    } table[] = {
        {"10.0.0.5", "123456-10.0.0.5"},    {"10.0.0.6", "-10.0.0.6"},
        {"10.0.0.7", ".._x_.._y-10.0.0.7"},  // never leaves the download folder
        {"10.0.0.8", "A__B-10.0.0.8"},      {"10.0.0.9", "-10.0.0.9"},  // not listed
        {"10.0.0.50", "-10.0.0.50"},  // the whole text must match, not a prefix
    };
    for (const auto& c : table) EXPECT_EQ(get_subfolder_for_save(list, c.ip), c.folder) << c.ip;
}

// ---- The hash request.

const bytes hash16 = from_hex("00112233445566778899aabbccddeeff");

// A scale that acknowledges 06, then answers `busy` polls with status 1
// before giving the hash.
void hashing_scale(qv_sim::sim_scale& sim, const qv_sim::octets& frame, int busy, const bytes& hash = hash16)
{
    auto polls = std::make_shared<std::atomic<int>>(0);
    sim.on(frame, [polls, busy, hash](const qv_sim::request& r) {
        const std::size_t skip = 4;  // the password
        const auto sub = std::to_integer<int>(r.rest.at(skip));
        if (sub == 6) return qv_sim::reply(qv_sim::reply_frame(r.command, 0, B({0x55})));
        if (++*polls <= busy) return qv_sim::reply(qv_sim::reply_frame(r.command, 0, B({1})));
        bytes data = B({0});
        data.insert(data.end(), hash.begin(), hash.end());
        return qv_sim::reply(qv_sim::reply_frame(r.command, 0, data));
    });
}

std::vector<int> subcodes(const qv_sim::sim_scale& sim, std::size_t frame_size)
{
    std::vector<int> out;
    for (const auto& r : sim.requests()) out.push_back(std::to_integer<int>(r.frame.at(2 + frame_size + 4)));
    return out;
}

using HashRequest = files_fixture;

TEST_F(HashRequest, EachScaleItsOwnOutcome)
{
    // Two-byte opcode: the data start at offset 5.
    qv_sim::sim_scale a("127.0.0.60"), b("127.0.0.61"), c("127.0.0.62");
    hashing_scale(a, {0xFF, 0x0B}, 3);
    b.on({0xFF, 0x0B}, 122);
    c.on({0xFF, 0x0B}, 0);  // result 0, no data: acknowledges 06, then never a status byte
    add_scale(d, b, 1);
    add_scale(d, a, 0);
    add_scale(d, c, 1);
    file_transfer_waits().hash_first = 200ms;
    const auto start = std::chrono::steady_clock::now();
    const auto hashes =
        d.get_file_hash_from_scale(FileSendState::Hash, B({0x33}), false, CommandType::download_messages_file);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_EQ(hashes, (file_hash_map{{"127.0.0.60", hash16}, {"127.0.0.61", {}}, {"127.0.0.62", {}}}));
    EXPECT_EQ(a.requests().at(0).frame, B({2, 8, 0xFF, 0x0B, '1', '2', '3', '4', 0x06, 0x33}));
    EXPECT_EQ(subcodes(a, 2), (std::vector<int>{6, 7, 7, 7, 7}));
    EXPECT_EQ(b.request_count(), 1u);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.60", 0}, {"127.0.0.61", 122}, {"127.0.0.62", -101}}));
}

TEST_F(HashRequest, EndsAtItsDeadline)
{
    qv_sim::sim_scale a("127.0.0.60"), b("127.0.0.61");
    hashing_scale(a, {0xAA}, 1000000);  // hashing for ever
    hashing_scale(b, {0xAA}, 1);
    add_scale(d, a, 1);
    add_scale(d, b, 1);
    file_transfer_waits().hash_deadline = 300ms;
    const device_test::log_capture log;
    const auto start = std::chrono::steady_clock::now();
    const auto hashes = d.get_file_hash_from_scale(FileSendState::Hash, {}, false, CommandType::download_any_file);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(hashes, (file_hash_map{{"127.0.0.60", {}}, {"127.0.0.61", hash16}}));
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.60", -105}, {"127.0.0.61", 0}}));
    EXPECT_TRUE(log.contains("get_file_hash_from_scale: no hash in time for ip = 127.0.0.60"));
}

TEST_F(HashRequest, AStopEndsThePoll)
{
    qv_sim::sim_scale sim("127.0.0.60");
    hashing_scale(sim, {0xAA}, 1000000);
    add_scale(d, sim, 1);
    file_transfer_waits().hash_next = 2s;
    std::thread stopper([&] {
        sim.wait_for_requests(2, 5s);
        d.stop_requested = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const auto hashes = d.get_file_hash_from_scale(FileSendState::Hash, {}, false, CommandType::download_any_file);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);  // the 2-s pause was cut short
    EXPECT_EQ(hashes, (file_hash_map{{"127.0.0.60", {}}}));
    EXPECT_EQ(d.results["127.0.0.60"], -9);
    EXPECT_EQ(sim.request_count(), 2u);
}

// ---- The check of downloaded copies.

using Md5Check = files_fixture;

TEST_F(Md5Check, OneScale)
{
    d.ip_address_list.push_back({"127.0.0.60", "1", "1234", 1, "S1"});
    const bytes content = pattern(1000);
    write("S1-127.0.0.60/f.bin", content);
    write("S1-127.0.0.60/empty.bin", {});
    const bytes good = get_file_hash(content);
    bytes bad = good;
    bad[15] ^= std::byte{1};
    const struct {
        const char* name;
        bytes hash;
        int result;
    } table[] = {
        {"f.bin", good, 0},
        {"f.bin", bad, -105},
        {"f.bin", bytes(good.begin(), good.begin() + 15), -105},  // short digest
        {"f.bin", {}, -105},  // no digest: not verified, whatever the stored result
        {"missing.bin", good, -105},  // unreadable copy
        {"empty.bin", from_hex("d41d8cd98f00b204e9800998ecf8427e"), 0},  // an empty file is a file
    };
    for (const auto& c : table) {
        d.results = {{"127.0.0.60", -112}};
        EXPECT_EQ(d.md5_check(dir + "/<ip>/" + c.name, {{"127.0.0.60", c.hash}}), c.result) << c.name;
        EXPECT_EQ(d.results["127.0.0.60"], c.result == 0 ? -112 : -105) << c.name;
    }
    const device_test::log_capture log;
    d.md5_check(dir + "/<ip>/f.bin", {{"127.0.0.60", bad}});
    EXPECT_TRUE(log.contains("md5_check invalid_hash_data_"));

    // Nothing to compare is not a success while scales are listed.
    EXPECT_EQ(d.md5_check(dir + "/<ip>/f.bin", {}), -105);
    d.ip_address_list.clear();
    EXPECT_EQ(d.md5_check(dir + "/<ip>/f.bin", {}), 0);
}

TEST_F(Md5Check, SeveralScalesEachGetTheirOwnVerdict)
{
    d.ip_address_list.push_back({"127.0.0.60", "1", "1234", 1, "A"});
    d.ip_address_list.push_back({"127.0.0.61", "1", "1234", 1, "B"});
    write("A-127.0.0.60/f.bin", pattern(10));
    write("B-127.0.0.61/f.bin", pattern(11));
    write("same.bin", pattern(10));
    const bytes digest = get_file_hash(pattern(10));
    d.results = {{"127.0.0.60", -112}, {"127.0.0.61", -112}};
    // The second copy is corrupted: its entry says so instead of "File received."
    EXPECT_EQ(d.md5_check(dir + "/<ip>/f.bin", {{"127.0.0.60", digest}, {"127.0.0.61", digest}}), -111);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.60", -112}, {"127.0.0.61", -105}}));
    // Without "<ip>" the one file is checked for every scale.
    d.results = {{"127.0.0.60", -112}, {"127.0.0.61", -112}};
    EXPECT_EQ(d.md5_check(dir + "/same.bin", {{"127.0.0.60", digest}, {"127.0.0.61", digest}}), 0);
}

}  // namespace
