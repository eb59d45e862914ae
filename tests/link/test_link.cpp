// The three link clients against the simulated scale, with their log lines. Scales are named with leading zeros
// ("127.000.000.2"): lines and callbacks must give the endpoint's own text.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include <boost/asio/io_context.hpp>

#include "link/permanent_tcp_client.h"
#include "link/tcp_client.h"
#include "link/udp_client.h"
#include "sim_scale.h"

#include "../core/test_deadline.h"
#include "../support/device_test_util.h"

using namespace qv_sim;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using lines = std::vector<std::string>;

namespace {

enum class kind { tcp, udp, kept_open };

const auto with = [](auto set) {
    fault f;
    set(f);
    return f;
};

struct outcome {
    int calls = 0;
    bytes body;
    std::string ip;
    double seconds = 0;
    response_callback record()
    {
        return [this](bytes b, std::string from) { ++calls, body = std::move(b), ip = std::move(from); };
    }
};

// 02 LEN D0 "1234" payload: a PLU-count style request with a password.
bytes frame_d0(const bytes& payload = {})
{
    bytes f = to_bytes({0x02, 0x00, 0xD0, '1', '2', '3', '4'});
    f.insert(f.end(), payload.begin(), payload.end());
    f[1] = std::byte(f.size() - 2);
    return f;
}

std::string zeros(const sim_scale& sim)
{
    return "127.000.000." + sim.ip().substr(8);
}

link_request request_of(const bytes& frame, response_callback callback, int timeout = 1)
{
    link_request r;
    r.frame = frame;
    r.opcode = frame_layout::opcode(bytes(frame.begin() + 2, frame.begin() + 3));
    r.timeout_seconds = timeout;
    r.callback = std::move(callback);
    return r;
}

// A kept-open link used as the device uses it: one exchange at a time, each in its turn.
struct kept_open {
    boost::asio::io_context context;
    std::unique_ptr<permanent_tcp_client> client;

    explicit kept_open(const sim_scale& sim, int timeout = 1)
        : client(std::make_unique<permanent_tcp_client>(context, zeros(sim), sim.port_text(), timeout, true))
    {
        client->run_connect(context, nullptr);
    }

    outcome exchange(const bytes& frame)
    {
        outcome o;
        const auto start = clock_type::now();
        const link_turn turn(client->turns(), nullptr);
        context.restart();
        client->run_exchange(context, request_of(frame, o.record()), nullptr);
        o.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
        return o;
    }
};

// One exchange on a one-shot client of its own, run to its end as an owner runs it.
template <class Client>
void run_alone(boost::asio::io_context& context, Client& client)
{
    client.start();
    link_detail::run_until_over(
        context, [&] { return client.in_exchange(); }, [&] { return client.deadline(); },
        [&](link_detail::clock::time_point now) { client.expire_if_due(now); });
}

outcome exchange(kind k, const sim_scale& sim, const bytes& frame = frame_d0(), bool callback = true, int timeout = 1)
{
    if (k == kind::kept_open) return kept_open(sim, timeout).exchange(frame);
    outcome o;
    link_request r = request_of(frame, callback ? o.record() : response_callback{}, timeout);
    const auto start = clock_type::now();
    boost::asio::io_context context;
    if (k == kind::tcp) {
        tcp_client client(context, zeros(sim), sim.port_text(), std::move(r));
        run_alone(context, client);
    } else {
        udp_client client(context, zeros(sim), sim.port_text(), std::move(r));
        run_alone(context, client);
    }
    o.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    return o;
}

class AllClients : public testing::TestWithParam<kind> {
protected:
    sim_scale sim{"127.0.0.2"};
};
class TcpClients : public AllClients {};

const auto name = [](const testing::TestParamInfo<kind>& info) {
    return std::string(info.param == kind::tcp ? "OneShotTcp" : info.param == kind::udp ? "Udp" : "KeptOpen");
};
INSTANTIATE_TEST_SUITE_P(Link, AllClients, testing::Values(kind::tcp, kind::udp, kind::kept_open), name);
INSTANTIATE_TEST_SUITE_P(Link, TcpClients, testing::Values(kind::tcp, kind::kept_open), name);

// Exact request bytes; the reply delivered whole or not at all; a refused connection ends at once.
TEST_P(AllClients, RepliesAndTheirFaults)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    const bool udp = GetParam() == kind::udp;
    const char* whole = "02 08 D0 00 01 02 03 04 05 06";
    const struct {
        const char* name;
        fault how;
        bool tcp_only;
        const char* body;  // nullptr: no callback
        bool times_out;
    } rows[] = {
        {"as scripted", {}, false, whole, false},
        {"well over the time-out", with([](fault& f) { f.delay = 2500ms; }), false, nullptr, true},
        // TCP: the count split over two segments, then the body in two pieces, read whole. UDP: three datagrams, only
        // the first delivered.
        {"split", with([](fault& f) {
             f.split_at = {2, 7};
         }),
         false, udp ? "02 08" : whole, false},
        {"close mid-reply", with([](fault& f) { f.close_mid_reply = true; }), true, nullptr, false},
        {"negative count", with([](fault& f) { f.count = 0x80000000u; }), true, nullptr, false},
        {"count beyond the body", with([](fault& f) { f.count = 100; }), true, nullptr, true},
        // TCP: the count 0 and nothing after it; UDP: an empty datagram. Delivered as an empty body, which the reply
        // check refuses.
        {"empty", with([](fault& f) { f.empty_body = true; }), false, "", false},
    };
    sim.on({0xD0}, 0, {1, 2, 3, 4, 5, 6});
    for (const auto& r : rows) {
        if (r.tcp_only && udp) continue;
        SCOPED_TRACE(r.name);
        sim.set_fault(r.how);
        const outcome o = exchange(GetParam(), sim, frame_d0(), true, r.times_out ? 1 : 4);
        EXPECT_EQ(o.calls, r.body ? 1 : 0);
        EXPECT_EQ(hex(o.body), r.body ? r.body : "");
        EXPECT_EQ(o.ip, r.body ? "127.0.0.2" : "");
        EXPECT_GE(o.seconds, r.times_out ? 0.9 : 0);
        EXPECT_LT(o.seconds, r.times_out ? 3 : 2);
        // TCP carries the count in front; UDP the bare frame.
        EXPECT_EQ(hex(sim.requests().back().raw), udp ? "02 05 D0 31 32 33 34" : "07 00 00 00 02 05 D0 31 32 33 34");
    }
    sim.stop();  // nothing listens on the port any more
    const outcome refused = exchange(GetParam(), sim, frame_d0(), true, 4);
    EXPECT_EQ(refused.calls, 0);
    EXPECT_LT(refused.seconds, 2);  // noticed at once, not at the time-out
}

// A reply to another command is dropped within the same time-out: the own answer after it is taken, and foreign
// replies every 200 ms for 4 s still end the exchange at its first deadline of 1 s.
TEST_P(AllClients, ForeignRepliesAreDroppedWithinTheFirstDeadline)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    const bool udp = GetParam() == kind::udp;
    const bytes foreign = reply_frame({0xAB}, 0, {0x00, 0x11}), own = reply_frame({0xD0}, 0, {0x10, 0x27});
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered);
        std::vector<bytes> bodies(answered ? 1 : 20, foreign);
        if (answered) bodies.push_back(own);
        sim.on({0xD0}, [&, bodies](const request&) {
            fault how;  // UDP: one datagram each; TCP: one count and body after the other
            bytes wire;
            for (const bytes& b : bodies) {
                const bytes one = udp ? b : with_count(b);
                wire.insert(wire.end(), one.begin(), one.end());
                how.split_at.push_back(wire.size());
            }
            how.split_at.pop_back();
            how.split_pause = 200ms;
            if (udp) return reply(wire, how);
            how.count = static_cast<std::uint32_t>(bodies[0].size());
            return reply(bytes(wire.begin() + 4, wire.end()), how);
        });
        const outcome o = exchange(GetParam(), sim);
        EXPECT_EQ(o.calls, answered ? 1 : 0);
        EXPECT_EQ(o.body, answered ? own : bytes{});
        if (!answered) {
            EXPECT_GE(o.seconds, 0.9);
            EXPECT_LT(o.seconds, 3);  // not the 4 s of foreign replies and a time-out after them
        }
    }
}

// A reply count of 4 MiB is read whole, one byte more refused at once; a large request goes out whole.
TEST_P(TcpClients, SizeLimitsOfRepliesAndRequests)
{
    const test_deadline deadline{std::chrono::seconds(60)};
    bytes data(4194304 - 4, std::byte{0x5A});  // 02 FF D0 00 and the data
    sim.on({0xD0}, 0, data);
    const outcome o = exchange(GetParam(), sim);
    ASSERT_EQ(o.calls, 1);
    EXPECT_EQ(o.body, reply_frame({0xD0}, 0, data));
    data.push_back(std::byte{1});
    sim.on({0xD0}, 0, data);
    const device_test::log_capture log;
    const outcome refused = exchange(GetParam(), sim, frame_d0(), true, 4);
    EXPECT_EQ(refused.calls, 0);
    EXPECT_LT(refused.seconds, 2);
    // Each client's own line: the kept-open one its step's guard line.
    EXPECT_TRUE(log.contains(GetParam() == kind::kept_open
                                 ? "'handle_read_message_size' error: reply size out of range: 4194305"
                                 : "READ MESSAGE SIZE FOR 127.0.0.2: error in handle_read_message_size reply size out of "
                                   "range: 4194305"));

    sim.on({0xD0}, 0);
    sim.clear_requests();
    const bytes big = frame_d0(bytes(12 << 20, std::byte{0x5A}));
    EXPECT_EQ(exchange(GetParam(), sim, big).calls, 1);
    ASSERT_EQ(sim.request_count(), 1u);
    EXPECT_EQ(sim.requests()[0].frame, big);
}

// After a failure or an idle close the next request goes out once on a fresh connection; unasked bytes waiting on a
// live link are dropped first, so every reply answers its own request.
TEST(KeptOpen, EveryReplyAnswersItsOwnRequestAfterAFailure)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    enum class failure { reset_idle, close_idle, time_out, unasked_reply };
    for (failure f : {failure::reset_idle, failure::close_idle, failure::time_out, failure::unasked_reply}) {
        SCOPED_TRACE(static_cast<int>(f));
        sim_scale sim("127.0.0.2");
        bool doubled = f == failure::unasked_reply;
        sim.on({0xD0}, [&](const request& r) {
            bytes body = reply_frame(r.command, 0, r.rest), again = with_count(body);
            fault how;  // the reply twice, the second unasked
            how.count = static_cast<std::uint32_t>(body.size());
            if (!std::exchange(doubled, false)) return reply(body);
            body.insert(body.end(), again.begin(), again.end());
            return reply(body, how);
        });
        kept_open link(sim);
        ASSERT_EQ(link.exchange(frame_d0({std::byte{0xA1}})).calls, 1);
        if (f == failure::time_out) sim.set_fault(with([](fault& once) { once.silence = true, once.times = 1; }));
        if (f == failure::reset_idle || f == failure::close_idle) sim.drop_connections(f == failure::reset_idle);
        std::this_thread::sleep_for(100ms);  // the unasked reply is waiting now
        const outcome second = link.exchange(frame_d0({std::byte{0xB2}}));
        EXPECT_EQ(second.calls, f == failure::time_out ? 0 : 1);
        EXPECT_EQ(second.calls ? second.body.back() : std::byte{0xB2}, std::byte{0xB2});

        const outcome third = link.exchange(frame_d0({std::byte{0xC3}}));
        ASSERT_EQ(third.calls, 1);
        EXPECT_EQ(hex(third.body), "02 07 D0 00 31 32 33 34 C3");
        const auto got = sim.requests();
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(hex(got.back().raw), "08 00 00 00 02 06 D0 31 32 33 34 C3");
        EXPECT_EQ(sim.connections(), f == failure::unasked_reply ? 1u : 2u);
        EXPECT_EQ(got[1].connection, f == failure::time_out || f == failure::unasked_reply ? 1u : 2u);
    }
}

// The dump cut at 100 bytes; empty callbacks on one-shot and kept-open clients; a count read that times out.
TEST(LinkLog, LinesOfEachForm)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    sim_scale sim("127.0.0.2");
    sim.on({0xD0}, 0, bytes(146, std::byte{0xAB}));  // a 150-byte body
    std::string dump = "02 94 D0 00 ";
    for (int i = 0; i < 96; ++i) dump += "AB ";
    const std::string request = "REQUEST FOR 127.0.0.2: (11 bytes) 07 00 00 00 02 05 D0 31 32 33 34 ";
    const lines answered{request, "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) 150",
                         "RESPONSE FOR 127.0.0.2: (150 bytes) " + dump};
    const device_test::log_capture log;
    exchange(kind::tcp, sim);
    exchange(kind::tcp, sim, frame_d0(), false);
    exchange(kind::udp, sim, frame_d0(), false);
    kept_open link(sim);
    for (int k = 0; k < 2; ++k) {  // the second on the closed link
        link.context.restart();
        link.client->send_message(request_of(frame_d0(), {}));
        link.context.run();
    }
    sim.set_fault(with([](fault& f) { f.silence = true, f.times = 1; }));
    EXPECT_EQ(link.exchange(frame_d0()).calls, 0);
    EXPECT_EQ(link.exchange(frame_d0()).calls, 1);
    const std::string opened = "Connection established with 127.0.0.2";
    lines expected = answered;
    for (const lines& more :
         {lines{answered[0], answered[1], "REQUEST FOR 127.0.0.2: (7 bytes) 02 05 D0 31 32 33 34 ", opened}, answered,
          lines{"'handle_receive_from' error: bad_function_call", "Attempt to send message on closed socket.", opened,
                request, "RESPONSE FOR 127.0.0.2: timeout is done!",
                "READ MESSAGE SIZE FOR 127.0.0.2: error in handle_receive_from Operation canceled", opened},
          answered})
        expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(log.lines(), expected);
}

// The inodes of this process's sockets connected to `sim`: the clients' own.
std::set<ino_t> sockets_to(const sim_scale& sim)
{
    std::set<ino_t> found;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        struct stat st {};
        if (entry->d_name[0] == '.' || ::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode) ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 || peer.sin_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        if (text == sim.ip() && ntohs(peer.sin_port) == sim.port()) found.insert(st.st_ino);
    }
    ::closedir(dir);
    return found;
}

// What a child started by fork and exec finds open: `ls -l /proc/self/fd/`, a line a descriptor ("socket:[inode]").
std::string descriptors_of_a_child()
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::execl("/bin/ls", "ls", "-l", "/proc/self/fd/", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string listing;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) listing.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    return listing;
}

std::string socket_text(ino_t inode)
{
    return "socket:[" + std::to_string(inode) + "]";
}

// Every socket of the three clients is close-on-exec from the moment it is made: a child started while a one-shot TCP
// and a UDP exchange wait for a late reply and a kept-open link is open inherits none of them (a socket made without
// the flag it does inherit), and the late replies still reach their exchanges.
TEST(LinkDescriptors, NoChildInheritsAConnection)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    sim_scale sim("127.0.0.2");
    sim.on({0xD0}, 0, {1, 2});
    kept_open link(sim);
    ASSERT_TRUE(link.client->is_open());
    sim.set_fault(with([](fault& f) { f.delay = 1500ms; }));
    outcome tcp_late, udp_late;
    std::thread tcp_waits([&] { tcp_late = exchange(kind::tcp, sim, frame_d0(), true, 4); });
    std::thread udp_waits([&] { udp_late = exchange(kind::udp, sim, frame_d0(), true, 4); });
    const bool asked = sim.wait_for_requests(2, 3s);
    const std::set<ino_t> clients = sockets_to(sim);
    const int plain = ::socket(AF_INET, SOCK_DGRAM, 0);
    struct stat plain_stat {};
    ::fstat(plain, &plain_stat);
    const std::string inherited = descriptors_of_a_child();
    ::close(plain);
    tcp_waits.join();
    udp_waits.join();
    ASSERT_TRUE(asked);
    EXPECT_EQ(clients.size(), 3u);  // the kept-open link, the one-shot TCP connection, the UDP socket
    EXPECT_NE(inherited.find(socket_text(plain_stat.st_ino)), std::string::npos) << inherited;
    for (ino_t inode : clients) EXPECT_EQ(inherited.find(socket_text(inode)), std::string::npos) << inherited;
    EXPECT_EQ(tcp_late.calls, 1);
    EXPECT_EQ(udp_late.calls, 1);
}

}  // namespace
