// What one-shot sends keep between commands, and the connection window under the descriptor limit.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "send_test_util.h"

using namespace send_test;

namespace {

using SendLinks = device_test_base;

TEST_F(SendLinks, FollowTheListFromOneCommandToTheNext)
{
    qv_sim::sim_scale a("127.0.0.110"), a_other_port("127.0.0.110"), b("127.0.0.111");
    using tr = qv_sim::transport;
    // Same address on another port, then over UDP: each step reaches exactly the scales listed.
    const std::vector<std::pair<const qv_sim::sim_scale*, int>> steps[] = {
        {{&a, 1}}, {{&a_other_port, 1}}, {{&a, 0}}, {{&a, 1}, {&b, 0}, {&a_other_port, 0}}, {{&b, 1}}};
    for (const auto& step : steps) {
        d.ip_address_list.clear();
        for (const auto& [sim, protocol] : step) add_scale(d, *sim, protocol);
        for (auto* sim : {&a, &a_other_port, &b}) sim->clear_requests();
        d.results.clear();
        ASSERT_EQ(d.send_command(CommandType::get_plu_count, true), 0);
        for (auto* sim : {&a, &a_other_port, &b}) {
            std::vector<tr> expected, got;
            for (const auto& [listed, protocol] : step)
                if (listed == sim) expected.push_back(protocol == 1 ? tr::tcp : tr::udp);
            for (const auto& r : sim->requests()) got.push_back(r.via);
            EXPECT_EQ(got, expected) << sim->port_text();
        }
    }
}

// 150 list entries (one address written 15 ways) in a child process limited to 64 descriptors.
TEST(SendWindow, AListLongerThanTheDescriptorLimitAllAnswers)
{
    constexpr int per_address = 15, addresses = 10;  // 150 scales, every third over UDP
    int ports_pipe[2];
    ASSERT_EQ(::pipe(ports_pipe), 0);
    std::fflush(nullptr);
    const pid_t pid = ::fork();  // before any scale starts a thread
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::uint16_t ports[addresses];
        if (::read(ports_pipe[0], ports, sizeof ports) != sizeof ports) ::_exit(3);
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = 64;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(4);
        {
            device d;
            d.timeout_seconds = 5;
            for (int k = 0; k < per_address; ++k)
                for (int a = 0; a < addresses; ++a)
                    d.ip_address_list.push_back({"0x" + std::string(k, '0') + "7f.0.0." + std::to_string(110 + a),
                                                 std::to_string(ports[a]), "1234", (k * addresses + a) % 3 ? 1 : 0,
                                                 ""});
            for (int round = 0; round < 2; ++round) {  // nothing left open by the first
                d.results.clear();
                EXPECT_EQ(d.send_command(CommandType::get_plu_count, true), 0) << "round " << round;
                EXPECT_EQ(d.responses.size(), static_cast<std::size_t>(per_address * addresses));
            }
        }
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    std::vector<std::unique_ptr<qv_sim::sim_scale>> sims;
    std::uint16_t ports[addresses];
    for (int a = 0; a < addresses; ++a) {
        sims.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(110 + a)));
        ports[a] = sims.back()->port();
    }
    ASSERT_EQ(::write(ports_pipe[1], ports, sizeof ports), static_cast<ssize_t>(sizeof ports));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed, status " << status;
    std::size_t asked = 0;
    for (const auto& sim : sims) asked += sim->request_count();
    EXPECT_EQ(asked, 2u * per_address * addresses);
    ::close(ports_pipe[0]), ::close(ports_pipe[1]);
}

}  // namespace
