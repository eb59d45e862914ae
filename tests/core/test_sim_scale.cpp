// The simulated scale as a host developer meets it: the bytes and files it stored come back unchanged, it names the
// serial number it was given, and a chosen admin password is checked alike by every request that carries one.
#include <fstream>
#include <iterator>
#include <tuple>

#include "../commands/files/files_test_util.h"
#include "send_test_util.h"

using send_test::B;
using send_test::bytes;

namespace {

// A plain PLU record (frame 50) with its two 28-byte names in `names`.
bytes plain_plu(int number, const bytes& names)
{
    bytes out = B({number, 0, 1, 0, 0, 0});
    out.insert(out.end(), names.begin(), names.end());
    const bytes tail = B({0x10, 0, 0, 0, 7, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, '0', '0', '0', '0'});
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

class SimScale : public send_test::device_test_base {};
using SimScaleFiles = files_test::files_fixture;

}  // namespace

TEST_F(SimScale, EveryUpperByteItStoredComesBack)
{
    qv_sim::sim_scale sim;
    qv_sim::add_standard_replies(sim);
    send_test::add_scale(d, sim, 1);
    // The 128 bytes 80..FF in the names of three records, 56 in each, zeros after the last.
    for (int record = 1; record <= 3; ++record) {
        SCOPED_TRACE("record " + std::to_string(record));
        bytes names(56);
        for (int k = 0, b = 0x80 + (record - 1) * 56; k < 56 && b + k <= 0xFF; ++k) names[k] = std::byte(b + k);
        ASSERT_EQ(d.send_command(CommandType::set_plu_data, true, plain_plu(record, names)), 0);
        ASSERT_EQ(d.send_command(CommandType::get_plu_data, true, B({record, 0})), 0);
        const bytes& reply = d.responses.begin()->second;
        ASSERT_GE(reply.size(), 4U + 4 + 56);
        EXPECT_EQ(bytes(reply.begin() + 8, reply.begin() + 64), names);
    }
}

TEST_F(SimScale, ChosenAdminPasswordIsCheckedAlikeByEveryCommandThatCarriesOne)
{
    qv_sim::sim_scale sim;
    sim.set_admin_password("4321");
    qv_sim::add_standard_replies(sim);
    // command, whether the request carries the password, payload after it
    const std::tuple<CommandType, bool, bytes> requests[] = {
        {CommandType::get_plu_count, true, {}},
        {CommandType::get_plu_data, true, B({1, 0})},
        {CommandType::delete_product, true, B({1, 0, 0, 0})},
        {CommandType::get_contents_list_from_folder, true, B({0, 0})},  // checked by the folder replies
        {CommandType::query_state_scale, false, {}},  // no password part
    };
    for (const auto& [command, with_password, payload] : requests) {
        SCOPED_TRACE(static_cast<int>(command));
        for (const std::string password : {"4321", "1234"}) {
            d.ip_address_list.clear();
            d.results.clear();
            send_test::add_scale(d, sim, 1, password);
            const int r = d.send_command(command, with_password, payload);
            if (!with_password || password == "4321")
                EXPECT_NE(r, 122) << password;
            else
                EXPECT_EQ(r, 122) << password;
        }
    }
}

// A file uploaded by name is listed in its folder and comes back byte for byte; so does the configuration file.
TEST_F(SimScaleFiles, KeepsAnUploadedFileListsItAndHandsItBack)
{
    qv_sim::sim_scale sim("127.0.0.3");
    qv_sim::add_standard_replies(sim);
    send_test::add_scale(d, sim, 1);
    const bytes content = files_test::pattern(70000);  // two packets
    const std::string local = write("upload.bin", content);
    const struct {
        int file_type;
        const char* on_scale;  // the file's path on the scale; empty: the configuration file
    } cases[] = {{0, "labels/upload.bin"}, {1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_type);
        set_int(ParamType::FileType, c.file_type);
        set_text(ParamType::FilePath, local);
        set_text(ParamType::FolderOnScale, "labels");
        ASSERT_EQ(d.execute_command(int(CommandType::send_file)), 0);
        if (c.file_type == 0) {
            set_text(ParamType::QuorvixFolderContentPath, "labels");
            ASSERT_EQ(d.execute_command(int(CommandType::get_contents_list_from_folder)), 0);
            EXPECT_EQ(output(ParamType::FolderContent), "0:upload.bin/");
            set_text(ParamType::FileOnScale, c.on_scale);
        }
        set_int(ParamType::FileType, c.file_type);
        set_text(ParamType::FolderForSaveFile, dir + "/down");
        ASSERT_EQ(d.execute_command(int(CommandType::get_file)), 0);
        std::ifstream copy(output(ParamType::FilePath), std::ios::binary);
        EXPECT_TRUE(device_test::bytes_of(std::string(std::istreambuf_iterator<char>(copy), {})) == content);
    }
}

// The serial number it was given is what 47 reads and what its information document names; its PLU count is the
// number of PLU records it holds.
TEST_F(SimScale, NamesItsSerialAndCountsItsRecords)
{
    qv_sim::sim_scale sim("127.0.0.3");
    sim.set_serial_number("SN \"7\"");
    qv_sim::add_standard_replies(sim);
    send_test::add_scale(d, sim, 1);
    ASSERT_EQ(d.execute_command(int(CommandType::get_serial_number)), 0);
    std::wstring serial;
    d.get_string_param(ParamType::SerialNumber, d.output_params, serial, false);
    EXPECT_EQ(serial, L"SN \"7\"");
    ASSERT_EQ(d.execute_command(int(CommandType::get_scale_information)), 0);
    bytes document;
    d.get_bytes_array_param(ParamType::JsonScaleInformation, d.output_params, document, false);
    EXPECT_NE(device_test::text_of(document).find(R"("serialNumber":"SN \"7\"")"), std::string::npos);
    for (int plu = 1; plu <= 2; ++plu) {
        ASSERT_EQ(d.send_command(CommandType::set_plu_data, true, plain_plu(plu, bytes(56))), 0);
        ASSERT_EQ(d.execute_command(int(CommandType::get_plu_count)), 0);
        int count = 0;
        d.get_int_param(ParamType::PLUCount, d.output_params, count, false);
        EXPECT_EQ(count, plu);
    }
}
