// The scale's file system: listings in parts, the root path, backups, deleting and creating folders.

#include "files_test_util.h"
#include "../../core/test_deadline.h"
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
        folders = qv_sim::add_folder_replies(sim);
        add_scale(d, sim, 1);
    }

    qv_sim::sim_scale sim{"127.0.0.100"};
    std::shared_ptr<qv_sim::scale_folders> folders;
};

qv_sim::listing_part P(std::uint8_t result, std::uint16_t total = 0, std::uint16_t count = 0,
                       std::vector<qv_sim::folder_entry> entries = {}, std::size_t cut = 0)
{
    return {result, total, count, std::move(entries), cut};
}

TEST_F(FolderCommands, ListingsInParts)
{
    const std::vector<qv_sim::folder_entry> e = {{0, "a.txt"}, {1, "b"}, {2, "x"}, {0, "c"}, {0, "d"}};
    // The parts served, the result, the listing and the requests sent.
    const std::tuple<std::vector<qv_sim::listing_part>, int, std::string, std::size_t> table[] = {
        {{P(0, 5, 3, {e[0], e[1], e[2]}), P(0, 5, 2, {e[3], e[4]})}, 0, "0:a.txt/1:b/2:x/0:c/0:d/", 2},
        {{P(172), P(0, 2, 2, {e[0], e[1]})}, 0, "0:a.txt/1:b/", 2},  // in progress first
        {{P(0, 3, 3, {e[0], {0, ""}, e[1]})}, 0, "0:a.txt/", 1},  // a name of length 0 ends that reply's list
        // Broken counts end the listing; one that stops short keeps what came but is no success.
        {{P(0, 5, 2, {e[0], e[1]}), P(0, 5, 0)}, -101, "0:a.txt/1:b/", 2},
        {{P(0, 2, 3, {e[0], e[1], e[2]})}, 0, "0:a.txt/1:b/2:x/", 1},
        {{P(0, 5, 2, {e[0], e[1]}), P(0, 5, 3, {e[2], e[3], e[4]}, 10)}, -101, "0:a.txt/1:b/", 2},  // short entry
    };
    for (const auto& [parts, result, listing, requests] : table) {
        SCOPED_TRACE(listing);
        sim.clear_requests();
        d.output_params.clear();
        d.results.clear();
        folders->script_listing(parts);
        EXPECT_EQ(d.get_contents_list_from_folder(), result);
        EXPECT_EQ(d.results.at("127.0.0.100"), result);  // what the result list (82) shows for the scale
        EXPECT_EQ(output(ParamType::FolderContent), listing);
        EXPECT_EQ(sim.request_count(), requests);
        for (const bytes& p : payloads(sim)) EXPECT_EQ(p, B({0, 0}));  // path absent: empty, same every time
    }
}

// "In progress" for ever: the listing ends at its deadline with 172 and nothing stored.
TEST_F(FolderCommands, ListingInProgressForEverEndsAtItsDeadline)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    scale_file_limits().listing_deadline = 200ms;
    folders->script_listing({P(172)}, true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.get_contents_list_from_folder(), 172);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_GT(sim.request_count(), 1u);  // asked again while in progress
    EXPECT_EQ(output(ParamType::FolderContent), "<unset>");
}

TEST_F(FolderCommands, RootFolderPathAndItsShortReply)
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

TEST_F(FolderCommands, BackupFlagsAndStatus)
{
    EXPECT_EQ(pack_backup_flags(device_test::bytes_of(std::string(30, '1'))), B({0xFF, 0xFF, 0xFF}));
    set_text(ParamType::BackupParams, "101");
    EXPECT_EQ(d.create_backup(), 0);
    EXPECT_EQ(sim.requests().at(0).frame, B({2, 8, 0xBC, '1', '2', '3', '4', 0xA0, 0, 0}));
    folders->set_backup_polls(1, 174);
    EXPECT_EQ(d.create_backup(), 0);
    const device_test::log_capture log;
    EXPECT_EQ(d.get_backup_status(), 172);
    EXPECT_EQ(d.get_backup_status(), 174);
    EXPECT_FALSE(log.contains("'get_backup_status' error=172"));
    EXPECT_TRUE(log.contains("'get_backup_status' error=174"));
}

TEST_F(FolderCommands, DeleteAndCreate)
{
    EXPECT_EQ(d.delete_file_or_folder(), -7);
    set_text(ParamType::FolderOnScale, "/new");
    EXPECT_EQ(d.create_folder(), 0);
    EXPECT_EQ(d.delete_file_or_folder(), 0);
    EXPECT_EQ(sim.requests().at(0).frame, B({2, 12, 0xFF, 0x36, '1', '2', '3', '4', 4, 0, '/', 'n', 'e', 'w'}));
    EXPECT_EQ(d.delete_file_or_folder(), 129);
    // A path the 16-bit count cannot describe is refused, not cut.
    d.set_bytes_array_param(ParamType::FolderOnScale, d.input_params, bytes(65536, std::byte{'a'}), false);
    sim.clear_requests();
    EXPECT_EQ(d.create_folder(), -104);
    EXPECT_EQ(sim.request_count(), 0u);
}

}  // namespace
