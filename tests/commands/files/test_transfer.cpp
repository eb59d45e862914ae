// Shared by upload and download: MD5, local files, the hash request, the check of copies.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "files_test_util.h"
#include "replies/folders.h"
#include "test_hooks/test_hooks.h"

using namespace files_test;
using send_test::add_scale;
using send_test::B;

namespace {

// MD5 of a million 'a' characters.
const bytes million_a_md5 =
    B({0x77, 0x07, 0xd6, 0xae, 0x4e, 0x02, 0x7c, 0x70, 0xee, 0xa2, 0xa9, 0x35, 0xc2, 0x29, 0x6f, 0x21});

using LocalFiles = files_fixture;

TEST_F(LocalFiles, DigestFedInPiecesAndReadInPieces)
{
    // Pieces that straddle the 64-byte blocks and the file reader's buffer.
    const bytes piece(7777, std::byte{'a'});
    md5_stream md5;
    const std::string path = dir + "/a.bin";
    {
        std::ofstream out(path, std::ios::binary);
        for (std::size_t left = 1000000; left > 0;) {
            const std::size_t n = std::min(left, piece.size());
            md5.update(piece.data(), n);
            out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(n));
            left -= n;
        }
    }
    EXPECT_EQ(md5.finish(), million_a_md5);
    EXPECT_EQ(md5.finish(), get_file_hash({}));  // starts again empty
    bytes digest;
    EXPECT_EQ(file_digest(path, digest), file_read_status::ok);
    EXPECT_EQ(digest, million_a_md5);
    EXPECT_EQ(file_digest(dir, digest), file_read_status::unreadable);
    EXPECT_TRUE(digest.empty());
}

TEST_F(LocalFiles, ReadsRegularFilesOnlyAndRefusesHugeOnes)
{
    ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
    bytes out;
    const device_test::log_capture log;
    // A FIFO would block the open for ever; a folder has no content. Each line names the path and the reason.
    for (const auto& [path, reason] : {std::pair{dir + "/missing", "No such file or directory"},
                                       {dir + "/pipe", "not a regular file"},
                                       {dir, "not a regular file"}}) {
        EXPECT_EQ(read_local_file(path, out), file_read_status::unreadable) << path;
        EXPECT_TRUE(log.contains("get_bytes_array_from_file err: failed open file! " + path + ": " + reason)) << path;
    }
    // Sparse: 4 GiB + 10 must not be read as 10 bytes; 3 GiB does not fit a 32-bit process.
    for (const unsigned long long size : {(1ull << 32) + 10, 3ull << 30}) {
        const std::string path = write("big", {});
        std::filesystem::resize_file(path, size);
        EXPECT_EQ(read_local_file(path, out), file_read_status::too_large) << size;
    }
}

// True when a child that this process starts (fork and exec) holds descriptor `fd`.
bool child_inherits(int fd)
{
    const std::string check = "test -e /proc/self/fd/" + std::to_string(fd);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", check.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A child the host starts while 48 reads its file, or while 49 writes, reads back and stores its copy, inherits none
// of the files or folders open then.
TEST_F(LocalFiles, NoChildStartedMeanwhileInheritsThem)
{
    const int plain = ::open(dir.c_str(), O_RDONLY);  // the check itself: without close-on-exec, inherited
    EXPECT_TRUE(child_inherits(plain));
    ::close(plain);
    qv_sim::sim_scale up("127.0.0.60"), down("127.0.0.61");
    qv_sim::add_file_replies(up);
    qv_sim::add_download_replies(down)->put("1C", pattern(1500));
    const std::string copies = dir + "/dl/-127.0.0.61";
    // Where a command holds a local file or folder open, and the start of its path.
    const std::pair<const char*, std::string> points[] = {
        {"local file measured", dir + "/f.bin"},
        {"download copy created", copies + "/."},
        {"digest piece read", copies + "/."},
        {"download folder flushed", copies},
    };
    std::map<std::string, std::string> seen;
    for (const auto& [point, start] : points)
        qv_seam::hook(point, [&seen, point = std::string(point), start = start] {
            const int fd = open_file(start).first;
            seen[point] = fd < 0 ? "not open" : child_inherits(fd) ? "inherited" : "closed on exec";
        });
    add_scale(d, up, 1);
    set_int(ParamType::FileType, 4);
    set_text(ParamType::FilePath, write("f.bin", B({1, 2, 3})));
    EXPECT_EQ(d.send_file(), 0);
    reset();
    add_scale(d, down, 1);
    set_int(ParamType::FileType, 1);
    set_text(ParamType::FolderForSaveFile, dir + "/dl");
    EXPECT_EQ(d.get_file(), 0);
    qv_seam::clear();
    for (const auto& [point, start] : points) EXPECT_EQ(seen[point], "closed on exec") << point;
}

const bytes hash16 = B({0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff});

// A scale that acknowledges 06, then answers `busy` polls with status 1 before giving the hash.
void hashing_scale(qv_sim::sim_scale& sim, const qv_sim::octets& frame, int busy)
{
    auto polls = std::make_shared<std::atomic<int>>(0);
    sim.on(frame, [polls, busy](const qv_sim::request& r) {
        bytes data = B({std::to_integer<int>(r.rest.at(4)) == 6 ? 0x55 : ++*polls <= busy ? 1 : 0});
        if (data[0] == std::byte{0}) data.insert(data.end(), hash16.begin(), hash16.end());
        return qv_sim::reply(qv_sim::reply_frame(r.command, 0, data));
    });
}

using HashRequest = files_fixture;

TEST_F(HashRequest, EachScaleItsOwnOutcomeWithinTheDeadline)
{
    // Two-byte opcode: the data start at offset 5.
    qv_sim::sim_scale a("127.0.0.60"), b("127.0.0.61"), c("127.0.0.62"), e("127.0.0.63");
    hashing_scale(a, {0xFF, 0x0B}, 3);
    b.on({0xFF, 0x0B}, 122);
    c.on({0xFF, 0x0B}, 0);  // result 0, no data: acknowledges 06, then never a status byte
    hashing_scale(e, {0xFF, 0x0B}, 1000000);  // hashing for ever
    add_scale(d, b, 1);
    add_scale(d, a, 0);
    add_scale(d, c, 1);
    add_scale(d, e, 1);
    file_transfer_waits().hash_deadline = 300ms;
    const auto start = std::chrono::steady_clock::now();
    const auto hashes = hash_by_poll(d, CommandType::download_messages_file, with_password, B({0x33}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(hashes,
              (file_hash_map{{"127.0.0.60", hash16}, {"127.0.0.61", {}}, {"127.0.0.62", {}}, {"127.0.0.63", {}}}));
    EXPECT_EQ(a.requests().at(0).frame, B({2, 8, 0xFF, 0x0B, '1', '2', '3', '4', 0x06, 0x33}));
    EXPECT_EQ(d.results, (std::map<std::string, int>{
                             {"127.0.0.60", 0}, {"127.0.0.61", 122}, {"127.0.0.62", -101}, {"127.0.0.63", -105}}));
}

using Md5Check = files_fixture;

TEST_F(Md5Check, EachScaleItsOwnVerdict)
{
    d.ip_address_list = {{"127.0.0.60", "1", "1234", 1, "A"}, {"127.0.0.61", "1", "1234", 1, "B"}};
    const std::map<std::string, std::string> paths = {{"127.0.0.60", write("A/f.bin", pattern(10))},
                                                      {"127.0.0.61", write("B/f.bin", pattern(11))}};
    const bytes good = get_file_hash(pattern(10));  // the second copy is corrupted: only its entry says so
    const device_test::log_capture log;
    // A short digest or none is no verification, whatever the stored result.
    for (const bytes& hash_a : {good, bytes(good.begin(), good.begin() + 15), bytes{}}) {
        d.results = {{"127.0.0.60", -112}, {"127.0.0.61", -112}};
        EXPECT_EQ(md5_check(d, paths, {{"127.0.0.60", hash_a}, {"127.0.0.61", good}}), -111);
        EXPECT_EQ(d.results,
                  (std::map<std::string, int>{{"127.0.0.60", hash_a == good ? -112 : -105}, {"127.0.0.61", -105}}));
    }
    EXPECT_TRUE(log.contains("md5_check invalid_hash_data"));
    EXPECT_EQ(md5_check(d, paths, {}), -105);  // nothing to compare is no success while scales are listed
    d.results = {{"127.0.0.60", -112}, {"127.0.0.61", -112}};
    EXPECT_EQ(md5_check(d, {}, {{"127.0.0.60", good}}), -111);  // no copy to read
    EXPECT_EQ(d.results.at("127.0.0.60"), -105);
    // A copy that cannot be read back was lost here, not by the scale.
    d.results = {{"127.0.0.60", -112}, {"127.0.0.61", -112}};
    const std::string gone = dir + "/gone.bin";
    EXPECT_EQ(md5_check(d, {{"127.0.0.60", gone}, {"127.0.0.61", paths.at("127.0.0.61")}},
                        {{"127.0.0.60", good}, {"127.0.0.61", get_file_hash(pattern(11))}}),
              -111);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.60", -1000}, {"127.0.0.61", -112}}));
    EXPECT_TRUE(log.contains("get_file err: cannot read back " + gone + ": No such file or directory"));
}

}  // namespace
