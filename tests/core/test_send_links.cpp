// What one-shot sends keep between commands, and the connection window under the descriptor limit.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "link/one_shot_group.h"
#include "send_test_util.h"
#include "test_deadline.h"

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

// 150 list entries (one address written 15 ways) in a child process limited to 64 descriptors: every scale answers, and
// in a round over TCP alone no more requests are open at once than the window allows.
TEST(SendWindow, AListLongerThanTheDescriptorLimitAllAnswers)
{
    constexpr int per_address = 15, addresses = 10;  // 150 scales, every third over UDP in the first round
    int ports_pipe[2], window_pipe[2];
    ASSERT_EQ(::pipe(ports_pipe), 0);
    ASSERT_EQ(::pipe(window_pipe), 0);
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
            for (int round = 0; round < 2; ++round) {  // nothing left open by the first
                d.ip_address_list.clear();
                for (int k = 0; k < per_address; ++k)
                    for (int a = 0; a < addresses; ++a)
                        d.ip_address_list.push_back({"0x" + std::string(k, '0') + "7f.0.0." + std::to_string(110 + a),
                                                     std::to_string(ports[a]), round ? "5678" : "1234",
                                                     round || (k * addresses + a) % 3 ? 1 : 0, ""});
                if (round == 1) {  // the descriptors open now are those open when the send begins
                    const auto window = static_cast<std::uint32_t>(
                        link_detail::descriptor_window(static_cast<std::size_t>(per_address * addresses)));
                    if (::write(window_pipe[1], &window, sizeof window) != sizeof window) ::_exit(5);
                }
                d.results.clear();
                EXPECT_EQ(d.send_command(CommandType::get_plu_count, true), 0) << "round " << round;
                EXPECT_EQ(d.responses.size(), static_cast<std::size_t>(per_address * addresses));
            }
        }
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    const test_deadline deadline{std::chrono::seconds(60)};  // in the parent only
    std::vector<std::unique_ptr<qv_sim::sim_scale>> sims;
    std::uint16_t ports[addresses];
    std::atomic<std::size_t> open{0}, most_open{0};  // requests of the TCP round not yet answered
    for (int a = 0; a < addresses; ++a) {
        sims.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(110 + a)));
        sims.back()->on({0xD0}, [&](const qv_sim::request& r) {
            if (qv_sim::hex(r.rest).rfind("35 36 37 38", 0) == 0) {
                const std::size_t now = ++open;
                for (std::size_t most = most_open; now > most && !most_open.compare_exchange_weak(most, now);) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the others come meanwhile
                --open;  // before the reply leaves: the next request can only come after it
            }
            return qv_sim::reply_frame(r.command, 0, {0x10, 0x27});
        });
        ports[a] = sims.back()->port();
    }
    ASSERT_EQ(::write(ports_pipe[1], ports, sizeof ports), static_cast<ssize_t>(sizeof ports));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed, status " << status;
    std::size_t asked = 0;
    for (const auto& sim : sims) asked += sim->request_count();
    EXPECT_EQ(asked, 2u * per_address * addresses);
    std::uint32_t window = 0;
    ASSERT_EQ(::read(window_pipe[0], &window, sizeof window), static_cast<ssize_t>(sizeof window));
    ASSERT_LT(window, static_cast<std::uint32_t>(per_address * addresses));  // the limit does bind
    EXPECT_LE(most_open.load(), window);
    EXPECT_GE(most_open.load(), 2u);  // still several at a time
    for (int fd : {ports_pipe[0], ports_pipe[1], window_pipe[0], window_pipe[1]}) ::close(fd);
}

}  // namespace
