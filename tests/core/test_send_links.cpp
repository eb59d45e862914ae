// What one-shot sends keep from one command to the next (the io_context and
// each scale's resolved address), and the window of open connections that a
// long list is served in under the process's descriptor limit.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "send_test_util.h"

using namespace send_test;
using namespace std::chrono_literals;

namespace {

const bytes D0 = B({0xD0});

using SendLinks = device_test_base;

TEST_F(SendLinks, FollowTheListFromOneCommandToTheNext)
{
    qv_sim::sim_scale a("127.0.0.110"), a_other_port("127.0.0.110"), b("127.0.0.111");
    const struct {
        std::vector<std::pair<const qv_sim::sim_scale*, int>> list;  // scale, protocol
    } steps[] = {
        {{{&a, 1}}},
        {{{&a_other_port, 1}}},  // same address, another port
        {{{&a, 0}}},  // same address and port, over UDP
        {{{&a, 1}, {&b, 0}, {&a_other_port, 0}}},
        {{{&b, 1}}},
        {{{&a, 1}}},
    };
    for (const auto& step : steps) {
        d.ip_address_list.clear();
        for (const auto& [sim, protocol] : step.list) add_scale(d, *sim, protocol);
        for (auto* sim : {&a, &a_other_port, &b}) sim->clear_requests();
        d.results.clear();
        ASSERT_EQ(d.send_command(true, D0), 0);
        for (auto* sim : {&a, &a_other_port, &b}) {
            std::vector<qv_sim::transport> expected;
            for (const auto& [listed, protocol] : step.list)
                if (listed == sim) expected.push_back(protocol == 1 ? qv_sim::transport::tcp : qv_sim::transport::udp);
            std::vector<qv_sim::transport> got;
            for (const auto& r : sim->requests()) got.push_back(r.via);
            EXPECT_EQ(got, expected) << sim->port_text();
        }
    }
}

TEST_F(SendLinks, AnAddressThatNoLongerResolvesStopsTheWholeSendAgain)
{
    qv_sim::sim_scale a("127.0.0.112");
    add_scale(d, a, 1);
    ASSERT_EQ(d.send_command(true, D0), 0);

    // A scale whose port text no service answers to joins the list: nothing
    // goes to any scale, whatever was resolved before.
    d.ip_address_list.push_back({"127.0.0.113", "no-such-service-here", "1234", 1, ""});
    const device_test::log_capture log;
    d.responses.clear();
    d.results.clear();
    EXPECT_EQ(d.send_command(true, D0), -1000);
    EXPECT_EQ(a.request_count(), 1u);
    EXPECT_TRUE(d.responses.empty());
    const auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("send_command err: ", 0), 0u) << lines.back();

    // Gone from the list again: served as before.
    d.ip_address_list.pop_back();
    EXPECT_EQ(d.send_command(true, D0), 0);
    EXPECT_EQ(a.request_count(), 2u);
}

TEST_F(SendLinks, AFailedTimedOutOrStoppedSendLeavesTheNextOneWhole)
{
    qv_sim::sim_scale a("127.0.0.114"), silent_scale("127.0.0.115");
    silent_scale.set_fault(silent());
    add_scale(d, a, 1);
    add_scale(d, silent_scale, 0);
    d.ip_address_list.push_back(
        {"127.0.0.116", a.port_text(), "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4", 1, ""});  // four "ä": no code-page byte
    EXPECT_EQ(d.send_command(true, D0), -1000);
    EXPECT_EQ(a.request_count(), 0u) << "nothing runs once the list cannot be framed";

    d.ip_address_list.pop_back();
    d.results.clear();
    EXPECT_EQ(d.send_command(true, D0), -111);  // the silent one times out
    EXPECT_EQ(d.results.at("127.0.0.114"), 0);
    EXPECT_EQ(d.results.at("127.0.0.115"), -1);

    d.results.clear();
    d.stop_requested = true;
    EXPECT_EQ(d.send_command(true, D0), -9);
    d.stop_requested = false;

    silent_scale.clear_faults();
    d.results.clear();
    EXPECT_EQ(d.send_command(true, D0), 0);
    EXPECT_EQ(a.request_count(), 3u);
    EXPECT_EQ(silent_scale.request_count(), 3u);
}

// The same address written `k` more ways: inet_aton's hexadecimal first part
// with k leading zeros. The list holds each text once, so one simulated
// scale stands in for many list entries.
std::string written_another_way(const std::string& last_part, int k)
{
    return "0x" + std::string(static_cast<std::size_t>(k), '0') + "7f.0.0." + last_part;
}

// More scales than the descriptor limit allows connections: the send opens
// them in a window and every scale is asked. The device runs in a child
// process with a low limit; the scales run here.
TEST(SendWindow, AListLongerThanTheDescriptorLimitAllAnswers)
{
    constexpr int per_address = 15;
    constexpr int addresses = 10;  // 150 scales, every third over UDP
    int ports_pipe[2];
    ASSERT_EQ(::pipe(ports_pipe), 0);
    std::fflush(nullptr);
    const pid_t pid = ::fork();  // before any scale starts a thread
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(ports_pipe[1]);
        std::vector<std::uint16_t> ports(addresses);
        const auto want = static_cast<ssize_t>(ports.size() * sizeof ports[0]);
        if (::read(ports_pipe[0], ports.data(), static_cast<std::size_t>(want)) != want) ::_exit(3);
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = 64;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(4);
        {
            device d;
            d.timeout_seconds = 5;
            for (int k = 0; k < per_address; ++k)
                for (int a = 0; a < addresses; ++a)
                    d.ip_address_list.push_back({written_another_way(std::to_string(110 + a), k),
                                                 std::to_string(ports[static_cast<std::size_t>(a)]), "1234",
                                                 (k * addresses + a) % 3 == 0 ? 0 : 1, ""});
            for (int round = 0; round < 2; ++round) {
                d.results.clear();
                EXPECT_EQ(d.send_command(true, D0), 0) << "round " << round;
                EXPECT_EQ(d.results.size(), static_cast<std::size_t>(per_address * addresses));
                EXPECT_EQ(d.responses.size(), static_cast<std::size_t>(per_address * addresses));
            }
        }
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    ::close(ports_pipe[0]);
    std::vector<std::unique_ptr<qv_sim::sim_scale>> sims;
    std::vector<std::uint16_t> ports;
    for (int a = 0; a < addresses; ++a) {
        sims.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(110 + a)));
        ports.push_back(sims.back()->port());
    }
    const auto size = static_cast<ssize_t>(ports.size() * sizeof ports[0]);
    ASSERT_EQ(::write(ports_pipe[1], ports.data(), static_cast<std::size_t>(size)), size);
    ::close(ports_pipe[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed, status " << status;
    std::size_t asked = 0;
    for (const auto& sim : sims) asked += sim->request_count();
    EXPECT_EQ(asked, 2u * per_address * addresses);
}

}  // namespace
