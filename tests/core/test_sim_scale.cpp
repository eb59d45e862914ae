// The simulated scale as a host developer meets it: the bytes it stored come back unchanged, and a chosen admin
// password is checked alike by every request that carries one.
#include <tuple>

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
