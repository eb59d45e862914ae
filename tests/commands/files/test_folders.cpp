// The scale's file system: folder listings in parts, the root path, backups
// and their status, deleting and creating folders.

#include "commands/files/scale_files.h"
#include "files_test_util.h"
#include "replies/folders.h"

using namespace files_test;
using send_test::add_scale;
using send_test::B;

namespace {

class FolderCommands : public files_fixture {
protected:
    void SetUp() override
    {
        files_fixture::SetUp();
        saved_ = scale_file_limits();
        scale_file_limits().listing_pause = 5ms;
        folders = qv_sim::add_folder_replies(sim);
        add_scale(d, sim, 1);
    }
    void TearDown() override
    {
        scale_file_limits() = saved_;
        files_fixture::TearDown();
    }
    std::string content() { return output(ParamType::FolderContent); }

    qv_sim::sim_scale sim{"127.0.0.100"};
    std::shared_ptr<qv_sim::scale_folders> folders;

private:
    scale_file_limit_values saved_;
};

qv_sim::listing_part P(std::uint8_t result, std::uint16_t total = 0, std::uint16_t count = 0,
                       std::vector<qv_sim::folder_entry> entries = {}, std::size_t cut = 0)
{
    return {result, total, count, std::move(entries), cut};
}

TEST_F(FolderCommands, ListingsInParts)
{
    using part = qv_sim::listing_part;
    const std::vector<qv_sim::folder_entry> five = {{0, "a.txt"}, {1, "b"}, {2, "x"}, {0, "c"}, {0, "d"}};
    const struct {
        const char* what;
        std::vector<part> parts;
        int result;
        std::string listing;
        std::size_t requests;
    } table[] = {
        {"three then two",
         {P(0, 5, 3, {five[0], five[1], five[2]}), P(0, 5, 2, {five[3], five[4]})},
         0,
         "0:a.txt/1:b/2:x/0:c/0:d/",
         2},
        {"empty folder", {P(0)}, 0, "<unset>", 1},
        {"172 first", {P(172), P(0, 2, 2, {five[0], five[1]})}, 0, "0:a.txt/1:b/", 2},
        // A name of length 0 ends that reply's list; its count still counts.
        {"empty name", {P(0, 3, 3, {five[0], {0, ""}, five[1]})}, 0, "0:a.txt/", 1},
        {"fails on the second", {P(0, 5, 3, {five[0], five[1], five[2]}), P(129)}, 129, "0:a.txt/1:b/2:x/", 2},
        // Broken counts end the listing instead of asking for ever.
        {"count 0 while entries remain", {P(0, 5, 2, {five[0], five[1]}), P(0, 5, 0)}, 0, "0:a.txt/1:b/", 2},
        {"counts passing the total", {P(0, 2, 3, {five[0], five[1], five[2]})}, 0, "0:a.txt/1:b/2:x/", 1},
        {"short entry",
         {P(0, 5, 2, {five[0], five[1]}), P(0, 5, 3, {five[2], five[3], five[4]}, 10)},
         -101,
         "0:a.txt/1:b/",
         2},
        {"short counts", {P(0, 5, 2, {}, 3)}, -101, "<unset>", 1},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        sim.clear_requests();
        d.output_params.clear();
        d.results.clear();
        folders->script_listing(c.parts);
        EXPECT_EQ(d.get_contents_list_from_folder(), c.result);
        EXPECT_EQ(content(), c.listing);
        EXPECT_EQ(sim.request_count(), c.requests);
        for (const bytes& p : payloads(sim)) EXPECT_EQ(p, B({0, 0}));  // path absent: empty, same every time
    }
}

TEST_F(FolderCommands, ListingOfAFolderAndItsFailureLine)
{
    folders->set_folder("/data", {{0, "1"}, {0, "2"}, {0, "3"}, {0, "4"}, {0, "5"}, {1, "6"}, {1, "7"}});
    set_text(ParamType::QuorvixFolderContentPath, "/data");
    EXPECT_EQ(d.get_contents_list_from_folder(), 0);
    EXPECT_EQ(content(), "0:1/0:2/0:3/0:4/0:5/1:6/1:7/");
    EXPECT_EQ(payloads(sim), (std::vector<bytes>(3, B({5, 0, '/', 'd', 'a', 't', 'a'}))));

    const device_test::log_capture log;
    set_text(ParamType::QuorvixFolderContentPath, "/none");
    EXPECT_EQ(d.get_contents_list_from_folder(), 129);
    EXPECT_TRUE(log.contains("get_contents_list_from_folder 129"));

    set_int(ParamType::QuorvixFolderContentPath, 1);
    EXPECT_EQ(d.get_contents_list_from_folder(), -8);
}

TEST_F(FolderCommands, AScaleInProgressForEverMeetsTheDeadline)
{
    folders->script_listing({P(172)}, true);
    scale_file_limits().listing_deadline = 200ms;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.get_contents_list_from_folder(), 172);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_GE(sim.request_count(), 2u);
}

TEST_F(FolderCommands, AStopEndsTheListingWait)
{
    folders->script_listing({P(172)}, true);
    scale_file_limits().listing_pause = 2s;
    std::thread stopper([&] {
        sim.wait_for_requests(1, 5s);
        d.stop_requested = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.get_contents_list_from_folder(), -9);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_EQ(sim.request_count(), 1u);
}

TEST_F(FolderCommands, RootFolderPath)
{
    folders->set_root("/opt/qv/root");
    EXPECT_EQ(d.get_quorvix_folder_path(), 0);
    EXPECT_EQ(output(ParamType::FolderOnScale), "/opt/qv/root");
    EXPECT_EQ(sim.requests().at(0).frame, B({2, 6, 0xFF, 0x07, '1', '2', '3', '4'}));

    // A length byte promising more than the reply holds.
    d.output_params.clear();
    sim.on({0xFF, 0x07}, 0, B({10, 'a', 'b'}));
    EXPECT_EQ(d.get_quorvix_folder_path(), -101);
    EXPECT_TRUE(d.output_params.empty());
}

TEST(BackupFlags, Packing)
{
    const struct {
        std::string chars;
        bytes packed;
    } table[] = {
        {"111111111", B({0xFF, 0x80, 0})},
        {std::string(30, '1'), B({0xFF, 0xFF, 0xFF})},
        {"", B({0, 0, 0})},
        {std::string("1\0"
                     "1",
                     3),
         B({0xA0, 0, 0})},  // a zero byte keeps its place as a 0
        {"000000010000000100000001", B({1, 1, 1})},
    };
    for (const auto& c : table) EXPECT_EQ(pack_backup_flags(device_test::bytes_of(c.chars)), c.packed) << c.chars;
}

TEST_F(FolderCommands, BackupAndItsStatus)
{
    EXPECT_EQ(d.create_backup(), -7);
    EXPECT_EQ(sim.request_count(), 0u);
    set_text(ParamType::BackupParams, "101");
    EXPECT_EQ(d.create_backup(), 0);
    EXPECT_EQ(folders->backup_flags(), B({0xA0, 0, 0}));
    EXPECT_EQ(sim.requests().at(0).frame, B({2, 8, 0xBC, '1', '2', '3', '4', 0xA0, 0, 0}));

    folders->set_backup_polls(1, 174);
    EXPECT_EQ(d.create_backup(), 0);
    const device_test::log_capture log;
    EXPECT_EQ(d.get_backup_status(), 172);
    EXPECT_EQ(d.get_backup_status(), 174);
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "'get_backup_status' error=172"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "'get_backup_status' error=174"), 1);
}

TEST_F(FolderCommands, DeleteAndCreate)
{
    EXPECT_EQ(d.delete_file_or_folder(), -7);
    EXPECT_EQ(d.create_folder(), -7);
    EXPECT_EQ(sim.request_count(), 0u);

    set_text(ParamType::FolderOnScale, "/new");
    EXPECT_EQ(d.create_folder(), 0);
    EXPECT_TRUE(folders->has_folder("/new"));
    EXPECT_EQ(d.delete_file_or_folder(), 0);
    EXPECT_FALSE(folders->has_folder("/new"));
    const device_test::log_capture log;
    EXPECT_EQ(d.delete_file_or_folder(), 129);
    EXPECT_TRUE(log.contains("'delete_file_or_folder' error=129"));
    EXPECT_EQ(sim.requests().at(0).frame, B({2, 12, 0xFF, 0x36, '1', '2', '3', '4', 4, 0, '/', 'n', 'e', 'w'}));

    // A path the 16-bit count cannot describe is refused, not cut.
    set_bytes(ParamType::FolderOnScale, bytes(65536, std::byte{'a'}));
    sim.clear_requests();
    EXPECT_EQ(d.create_folder(), -104);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(FolderCommands, SeveralScalesKeepTheirOwnResults)
{
    qv_sim::sim_scale other("127.0.0.101");
    auto other_folders = qv_sim::add_folder_replies(other);
    other_folders->set_password("9999");
    add_scale(d, other, 0);
    set_text(ParamType::FolderOnScale, "/tmp/x");
    EXPECT_EQ(d.create_folder(), -111);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.100", 0}, {"127.0.0.101", 122}}));
    EXPECT_EQ(d.execute_command(58), -110);  // the listing is for one scale only
}

}  // namespace
