// What one-shot sends keep between commands, and the connection window under the descriptor limit.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <stdexcept>
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

// Takes every descriptor the soft limit allows (copies of `fd`) but `free` of them, until destroyed.
struct descriptor_hog {
    std::vector<int> held;
    int last_error = 0;
    descriptor_hog(int fd, int free)
    {
        for (int copy; (copy = ::dup(fd)) >= 0;) held.push_back(copy);
        last_error = errno;
        for (int k = 0; k < free && !held.empty(); ++k) ::close(held.back()), held.pop_back();
    }
    ~descriptor_hog()
    {
        for (int fd : held) ::close(fd);
    }
};

// A child under a soft limit of 64 with every descriptor taken but a few. Room for one or two sockets: a list of 8 is
// served whole over TCP, UDP or both, every scale 0. Room for none: each scale of the list, and a lone scale, -1000 with
// "Too many open files" in its line, none -1; the same for a kept-open link that a time-out closed and that must be
// opened again. A step that throws while the exchanges start leaves the group whole for the next command.
TEST(SendWindow, ShortOfDescriptorsAListIsServedWholeOrEachScaleSaysWhy)
{
    constexpr int scales = 8;
    int ports_pipe[2];
    ASSERT_EQ(::pipe(ports_pipe), 0);
    device_test::init_test_log();
    std::fflush(nullptr);
    const pid_t pid = ::fork();  // before any scale starts a thread
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::uint16_t ports[scales + 1];
        if (::read(ports_pipe[0], ports, sizeof ports) != sizeof ports) ::_exit(3);
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = 64;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(4);
        // The sanitizers' type check opens a pipe the first time it meets a type, which it cannot with no descriptor
        // free: the text of an error is made once while there is room (the exchanges themselves are, by each warm-up).
        link_detail::error_text(boost::system::error_code(EMFILE, boost::system::system_category()));
        const auto ip = [](int k) { return "127.0.0." + std::to_string(150 + k); };
        const struct {
            const char* what;
            int protocol;  // -1: TCP and UDP in turn
            int listed, free;
            int total, each;
        } cases[] = {
            {"TCP, room for one", 1, scales, 1, 0, 0},         {"TCP, room for two", 1, scales, 2, 0, 0},
            {"UDP, room for one", 0, scales, 1, 0, 0},         {"UDP, room for two", 0, scales, 2, 0, 0},
            {"both, room for one", -1, scales, 1, 0, 0},       {"TCP, no room", 1, scales, 0, -111, -1000},
            {"UDP, no room", 0, scales, 0, -111, -1000},       {"both, no room", -1, scales, 0, -111, -1000},
            {"one TCP scale, no room", 1, 1, 0, -1000, -1000},
        };
        {
            device d;
            d.timeout_seconds = 5;
            for (const auto& c : cases) {
                SCOPED_TRACE(c.what);
                d.ip_address_list.clear();
                for (int k = 0; k < c.listed; ++k)
                    d.ip_address_list.push_back(
                        {ip(k), std::to_string(ports[k]), "1234", c.protocol < 0 ? k % 2 : c.protocol, ""});
                d.results.clear();
                EXPECT_EQ(d.send_command(CommandType::get_plu_count, true), 0);  // the event loop and addresses made
                d.results.clear();
                const device_test::log_capture log;
                {
                    const descriptor_hog hog(ports_pipe[0], c.free);
                    EXPECT_EQ(hog.last_error, EMFILE);
                    EXPECT_EQ(d.send_command(CommandType::get_plu_count, true), c.total);
                }
                for (int k = 0; k < c.listed; ++k) {
                    EXPECT_EQ(d.results.at(ip(k)), c.each) << ip(k);
                    EXPECT_EQ(log.contains("REQUEST FOR " + ip(k) + ": error in socket Too many open files"),
                              c.each != 0)
                        << ip(k);
                    EXPECT_FALSE(log.contains("BAD RESULT FOR " + ip(k) + ": -1")) << ip(k);
                }
            }
        }
        {
            device d;  // kept-open: the first request times out and closes the link
            d.timeout_seconds = 1;
            d.permanent_connection = true;
            d.ip_address_list.push_back({ip(scales), std::to_string(ports[scales]), "1234", 1, ""});
            EXPECT_EQ(d.connect(), 0);
            d.results.clear();
            EXPECT_EQ(d.send_command(CommandType::get_plu_count, true), -1);
            d.results.clear();
            const device_test::log_capture log;
            {
                const descriptor_hog hog(ports_pipe[0], 0);
                EXPECT_EQ(d.send_command(CommandType::get_plu_count, true), -1000);
            }
            EXPECT_EQ(d.results.at(ip(scales)), -1000);
            EXPECT_TRUE(log.contains("Connection with " + ip(scales) + " not established: Too many open files"));
            d.results.clear();
            EXPECT_EQ(d.send_command(CommandType::get_plu_count, true), 0);  // with room again
        }
        {
            // A hook that throws from inside the start of the exchanges leaves the run; the same group serves the next
            // command (as after any step that throws there: an event loop that cannot be made, a failed allocation).
            one_shot_group group;
            int answered = 0;
            const auto request = [&](bool throwing) {
                link_request r;
                r.frame = B({0x02, 0x05, 0xD0, '1', '2', '3', '4'});
                r.opcode = frame_layout::opcode(B({0xD0}));
                r.callback = [&](bytes, std::string) { ++answered; };
                if (throwing) r.no_socket = [] { throw std::runtime_error("no socket"); };
                return r;
            };
            group.begin(1);  // the event loop made, with room
            group.add(link_transport::tcp, ip(0), std::to_string(ports[0]), request(false));
            EXPECT_TRUE(group.run());
            group.begin(1);
            group.add(link_transport::tcp, ip(0), std::to_string(ports[0]), request(true));
            {
                const descriptor_hog hog(ports_pipe[0], 0);
                EXPECT_THROW(group.run(), std::runtime_error);
            }
            group.begin(2);
            for (int k = 0; k < 2; ++k) group.add(link_transport::tcp, ip(k), std::to_string(ports[k]), request(false));
            EXPECT_TRUE(group.run());
            EXPECT_EQ(answered, 3);
        }
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    const test_deadline deadline{std::chrono::seconds(60)};  // in the parent only
    std::atomic<bool> first{true};  // the kept-open scale's first D0 goes unanswered
    std::vector<std::unique_ptr<qv_sim::sim_scale>> sims;
    std::uint16_t ports[scales + 1];
    for (int k = 0; k <= scales; ++k) {
        sims.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(150 + k)));
        ports[k] = sims.back()->port();
    }
    qv_sim::add_connect_replies(*sims.back());
    sims.back()->on({0xD0}, [&](const qv_sim::request& r) -> qv_sim::reply {
        const bytes body = qv_sim::reply_frame(r.command, 0, {0x10, 0x27});
        if (first.exchange(false)) return {body, silent()};
        return body;
    });
    ASSERT_EQ(::write(ports_pipe[1], ports, sizeof ports), static_cast<ssize_t>(sizeof ports));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed, status " << status;
    for (int fd : ports_pipe) ::close(fd);
}

}  // namespace
