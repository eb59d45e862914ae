// The three clients of the scale link against the simulated scale, and their
// exact log lines.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/system/system_error.hpp>

#include "link/permanent_tcp_client.h"
#include "link/tcp_client.h"
#include "link/udp_client.h"
#include "logging/logger.h"
#include "logging/logger_test_seam.h"
#include "sim_scale.h"

#include "../core/test_deadline.h"

using namespace qv_sim;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using lines = std::vector<std::string>;

namespace {

enum class kind { tcp, udp, kept_open };

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

template <class Set>
fault with(Set set)
{
    fault f;
    set(f);
    return f;
}

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

// A kept-open link used the way the device uses it: one exchange at a time
// under the client's exchange lock. The io_context is declared first so that
// the client is destroyed before it.
struct kept_open {
    boost::asio::io_context context;
    std::unique_ptr<permanent_tcp_client> client;

    kept_open(const std::string& ip, const std::string& port)
        : client(std::make_unique<permanent_tcp_client>(context, ip, port, 1, true))
    {
        client->open_connection();
        context.run();
    }
    explicit kept_open(const sim_scale& sim) : kept_open(sim.ip(), sim.port_text()) {}

    outcome exchange(const bytes& frame)
    {
        outcome o;
        auto hold = client->lock_exchange();
        const auto start = clock_type::now();
        context.restart();
        if (client->is_open())
            client->send_message(with_count(frame), o.record());
        else
            client->open_connection_and_send_message(with_count(frame), o.record());
        context.run();
        o.seconds = seconds_since(start);
        return o;
    }
};

// One exchange with a time-out of 1 s, on a client of its own.
outcome exchange(kind k, const std::string& ip, const std::string& port, const bytes& frame)
{
    if (k == kind::kept_open) return kept_open(ip, port).exchange(frame);
    outcome o;
    int timeout = 1;
    const auto start = clock_type::now();
    boost::asio::io_context context;
    if (k == kind::tcp) {
        tcp_client client(context, ip, port, timeout, with_count(frame), o.record(), true);
        context.run();
    } else {
        udp_client client(context, ip, port, timeout, frame, o.record(), true);
        context.run();
    }
    o.seconds = seconds_since(start);
    return o;
}

outcome exchange(kind k, const sim_scale& sim, const bytes& frame = frame_d0())
{
    return exchange(k, sim.ip(), sim.port_text(), frame);
}

// Logging, set up once per process under a temporary home folder.
struct temporary_home {
    std::string path;
    temporary_home()
    {
        char tmpl[] = "/tmp/qv_link_tests_XXXXXX";
        path = ::mkdtemp(tmpl);
        qv_logging_internal::set_home_folder(path);
        Logger::init_log("link_tests_");
    }
    ~temporary_home()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// Where the log ends now, and the messages logged since then without their
// record heads.
std::size_t log_mark()
{
    static temporary_home home;
    return Logger::get_memory_log_data().size();
}

lines logged_since(std::size_t mark)
{
    std::istringstream in(Logger::get_memory_log_data().substr(mark));
    lines out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line.substr(line.find("]: ") == std::string::npos ? 0 : line.find("]: ") + 3));
    return out;
}

// The lines one exchange logs, the scale answering with the fault `how`.
lines logged(kind k, sim_scale& sim, const fault& how = {})
{
    sim.set_fault(how);
    const std::size_t mark = log_mark();
    exchange(k, sim);
    return logged_since(mark);
}

const std::string request_line = "REQUEST FOR 127.0.0.2: (11 bytes) 07 00 00 00 02 05 D0 31 32 33 34 ";

class AllClients : public testing::TestWithParam<kind> {
protected:
    sim_scale sim{"127.0.0.2"};
};
class TcpClients : public AllClients {};

const auto kind_name = [](const testing::TestParamInfo<kind>& info) {
    return std::string(info.param == kind::tcp ? "OneShotTcp" : info.param == kind::udp ? "Udp" : "KeptOpen");
};
INSTANTIATE_TEST_SUITE_P(Link, AllClients, testing::Values(kind::tcp, kind::udp, kind::kept_open), kind_name);
INSTANTIATE_TEST_SUITE_P(Link, TcpClients, testing::Values(kind::tcp, kind::kept_open), kind_name);

}  // namespace

// Every request goes out as exact bytes; the reply is delivered whole, or
// not at all, whatever the scale does.
TEST_P(AllClients, RepliesAndTheirFaults)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    const bool udp = GetParam() == kind::udp;
    const char* whole = "02 08 D0 00 01 02 03 04 05 06";
    struct row {
        const char* name;
        fault how;
        bool tcp_only;
        const char* body;  // nullptr: no callback
        bool times_out;
    };
    const row rows[] = {
        {"as scripted", {}, false, whole, false},
        {"just under the time-out", with([](fault& f) { f.delay = 400ms; }), false, whole, false},
        {"well over the time-out", with([](fault& f) { f.delay = 2500ms; }), false, nullptr, true},
        {"empty body", with([](fault& f) { f.empty_body = true; }), false, "", false},
        {"too short", with([](fault& f) { f.truncate = 2; }), false, "02 08", false},
        {"wrong first byte", with([](fault& f) { f.first_byte = 3; }), false, "03 08 D0 00 01 02 03 04 05 06", false},
        // TCP: the count split over two segments, then the body in two
        // pieces, read whole. UDP: three datagrams, only the first delivered.
        {"split", with([](fault& f) {
             f.split_at = {2, 7}, f.split_pause = 200ms;
         }),
         false, udp ? "02 08" : whole, false},
        {"close mid-reply", with([](fault& f) { f.close_mid_reply = true; }), true, nullptr, false},
        {"close inside the count", with([](fault& f) { f.cut_after = 2; }), true, nullptr, false},
        {"close before reply", with([](fault& f) { f.close_before_reply = true; }), true, nullptr, false},
        {"negative count", with([](fault& f) { f.count = 0x80000000u; }), true, nullptr, false},
        {"count over the cap", with([](fault& f) { f.count = 4194305; }), true, nullptr, false},
        {"count beyond the body", with([](fault& f) { f.count = 100; }), true, nullptr, true},
    };
    sim.on({0xD0}, 0, {1, 2, 3, 4, 5, 6});
    for (const row& r : rows) {
        if (r.tcp_only && udp) continue;
        SCOPED_TRACE(r.name);
        sim.set_fault(r.how);
        const outcome o = exchange(GetParam(), sim);
        EXPECT_EQ(o.calls, r.body ? 1 : 0);
        EXPECT_EQ(hex(o.body), r.body ? r.body : "");
        EXPECT_EQ(o.ip, r.body ? "127.0.0.2" : "");
        EXPECT_GE(o.seconds, r.times_out ? 0.9 : 0);
        EXPECT_LT(o.seconds, r.times_out ? 2.2 : 0.95);
        // TCP carries the count in front; UDP the bare frame.
        EXPECT_EQ(hex(sim.requests().back().raw), udp ? "02 05 D0 31 32 33 34" : "07 00 00 00 02 05 D0 31 32 33 34");
    }
}

TEST_P(AllClients, RefusedConnectionEndsWithoutCallback)
{
    sim.stop();  // nothing listens on the port any more
    const outcome o = exchange(GetParam(), sim);
    EXPECT_EQ(o.calls, 0);
    EXPECT_LT(o.seconds, 0.9);  // noticed at once, not at the time-out
}

TEST_P(TcpClients, LongReplyIsDeliveredWhole)
{
    bytes data(70000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::byte(i * 7);
    sim.on({0xD0}, 0, data);
    const outcome o = exchange(GetParam(), sim);
    ASSERT_EQ(o.calls, 1);
    EXPECT_EQ(o.body, reply_frame({0xD0}, 0, data));
}

// A large request goes out whole, and a scale that never reads cannot hold
// the exchange past its time-out.
TEST_P(TcpClients, LargeRequestsAreSentWholeAndTheSendTimesOut)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    const bytes big = frame_d0(bytes(12 << 20, std::byte{0x5A}));
    EXPECT_EQ(exchange(GetParam(), sim, big).calls, 1);
    ASSERT_EQ(sim.request_count(), 1u);
    EXPECT_EQ(sim.requests()[0].frame, big);

    // A listener that accepts (in the kernel) but never reads.
    boost::asio::io_context idle;
    boost::asio::ip::tcp::acceptor deaf(idle, {boost::asio::ip::make_address("127.0.0.2"), 0});
    const outcome stuck = exchange(GetParam(), "127.0.0.2", std::to_string(deaf.local_endpoint().port()),
                                   frame_d0(bytes(16 << 20, std::byte{0x5A})));
    EXPECT_EQ(stuck.calls, 0);
    EXPECT_GE(stuck.seconds, 0.9);
    EXPECT_LT(stuck.seconds, 2.5);
}

TEST(Link, UnresolvableScale)
{
    // An unknown service name fails locally, with no name server involved:
    // the one-shot clients throw, the kept-open one fails its exchange.
    boost::asio::io_context context;
    int timeout = 1;
    EXPECT_THROW(tcp_client(context, "127.0.0.2", "no-such-service-qv", timeout, {}, {}, true),
                 boost::system::system_error);
    EXPECT_THROW(udp_client(context, "127.0.0.2", "no-such-service-qv", timeout, {}, {}, true),
                 boost::system::system_error);
    kept_open link("127.0.0.2", "no-such-service-qv");
    EXPECT_EQ(link.exchange(frame_d0()).calls, 0);
    EXPECT_FALSE(link.client->is_open());
}

TEST(OneShot, ScalesAreServedAtTheSameTime)
{
    // Delays 500, 500 and 800 ms: served one after the other they would take
    // 1.8 s, served together about as long as the slowest.
    sim_scale a("127.0.0.2"), b("127.0.0.3"), c("127.0.0.4");
    std::map<std::string, bytes> replies;
    auto cb = [&replies](bytes body, std::string ip) { replies[ip] = std::move(body); };
    int timeout = 2;
    boost::asio::io_context context;
    std::vector<std::unique_ptr<tcp_client>> clients;
    for (auto [s, delay] : {std::pair{&a, 500ms}, std::pair{&b, 500ms}, std::pair{&c, 800ms}}) {
        s->set_fault(with([delay = delay](fault& f) { f.delay = delay; }));
        clients.push_back(
            std::make_unique<tcp_client>(context, s->ip(), s->port_text(), timeout, with_count(frame_d0()), cb, true));
    }
    const auto start = clock_type::now();
    context.run();
    const double seconds = seconds_since(start);
    clients.clear();
    EXPECT_EQ(replies.size(), 3u);
    EXPECT_GE(seconds, 0.75);
    EXPECT_LT(seconds, 1.5);
}

// After a failed exchange the next one opens a fresh connection and carries
// its own request, never the failed one; its reply reaches its own callback.
// A link the scale closed while idle is opened again by the next request,
// which goes out once, on the new connection; after a time-out the failed
// request is never sent again.
TEST(KeptOpen, ReopensWithItsOwnRequestAfterAFailure)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    enum class failure { reset_idle, close_idle, time_out };
    for (failure f : {failure::reset_idle, failure::close_idle, failure::time_out}) {
        SCOPED_TRACE(static_cast<int>(f));
        sim_scale sim("127.0.0.2");
        sim.on({0xD0}, [](const request& r) { return reply(reply_frame(r.command, 0, r.rest)); });
        kept_open link(sim);
        ASSERT_EQ(link.exchange(frame_d0({std::byte{0xA1}})).calls, 1);
        if (f == failure::time_out)
            sim.set_fault(with([](fault& once) { once.silence = true, once.times = 1; }));
        else
            sim.drop_connections(f == failure::reset_idle);
        EXPECT_EQ(link.exchange(frame_d0({std::byte{0xB2}})).calls, f == failure::time_out ? 0 : 1);

        const outcome third = link.exchange(frame_d0({std::byte{0xC3}}));
        ASSERT_EQ(third.calls, 1);
        EXPECT_EQ(hex(third.body), "02 07 D0 00 31 32 33 34 C3");
        EXPECT_EQ(sim.connections(), 2u);
        const auto got = sim.requests();
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(hex(got.back().raw), "08 00 00 00 02 06 D0 31 32 33 34 C3");
        EXPECT_EQ(got[1].connection, f == failure::time_out ? 1u : 2u);  // B2 once, on a live connection
    }
}

// Also the reuse of one connection: 80 requests, one accepted connection.
TEST(KeptOpen, TwoThreadsEachGetTheirOwnReplies)
{
    sim_scale sim("127.0.0.2");
    sim.on({0xD0}, [](const request& r) { return reply(reply_frame(r.command, 0, r.rest)); });
    kept_open link(sim);
    std::atomic<int> wrong{0};
    auto hammer = [&](std::uint8_t tag) {
        for (int i = 0; i < 40; ++i) {
            const bytes payload{std::byte{tag}, std::byte(i)};
            const outcome o = link.exchange(frame_d0(payload));
            wrong += o.calls != 1 || bytes(o.body.end() - 2, o.body.end()) != payload;
        }
    };
    std::thread one(hammer, 0x11), two(hammer, 0x22);
    one.join();
    two.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(sim.connections(), 1u);
    EXPECT_EQ(sim.request_count(), 80u);
}

TEST(LinkLog, OneShotLines)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    sim_scale sim("127.0.0.2");
    sim.on({0xD0}, 0, bytes(146, std::byte{0xAB}));  // a 150-byte body: the dump stops at 100 bytes
    std::string dump = "02 94 D0 00 ";
    for (int i = 0; i < 96; ++i) dump += "AB ";
    EXPECT_EQ(logged(kind::tcp, sim), (lines{request_line, "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) 150",
                                             "RESPONSE FOR 127.0.0.2: (150 bytes) " + dump}));
    EXPECT_EQ(logged(kind::udp, sim, with([](fault& f) { f.empty_body = true; })),
              (lines{"REQUEST FOR 127.0.0.2: (7 bytes) 02 05 D0 31 32 33 34 ", "RESPONSE FOR 127.0.0.2: (0 bytes) "}));
    EXPECT_EQ(logged(kind::tcp, sim, with([](fault& f) { f.count = 0x80000000u; })),
              (lines{request_line, "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) -2147483648",
                     "READ MESSAGE SIZE FOR 127.0.0.2: error in handle_read_message_size "
                     "reply size out of range: -2147483648"}));
    const lines timed_out = logged(kind::tcp, sim, with([](fault& f) { f.silence = true; }));
    ASSERT_EQ(timed_out.size(), 3u);
    EXPECT_EQ(timed_out[1], "RESPONSE FOR 127.0.0.2: timeout is done!");
    // The aborted count read names handle_receive_from; the system's error text follows.
    EXPECT_EQ(timed_out[2].rfind("READ MESSAGE SIZE FOR 127.0.0.2: error in handle_receive_from ", 0), 0u);
}

TEST(LinkLog, KeptOpenLines)
{
    sim_scale sim("127.0.0.2");
    const std::size_t mark = log_mark();
    kept_open link(sim);
    link.exchange(frame_d0());
    sim.set_fault(with([](fault& f) { f.count = 0xFFFFFFFEu; }));
    link.exchange(frame_d0());
    EXPECT_FALSE(link.client->is_open());
    link.context.restart();
    link.client->send_message(with_count(frame_d0()), {});
    link.context.run();
    link.client.reset();
    EXPECT_EQ(logged_since(mark),
              (lines{"Connection established with 127.0.0.2", request_line,
                     "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) 4", "RESPONSE FOR 127.0.0.2: (4 bytes) 02 02 D0 00 ",
                     request_line, "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) -2",
                     "'handle_read_message_size' error: reply size out of range: -2",
                     "Attempt to send message on closed socket."}));
}

namespace {

// A reply to another command (a late or repeated one) is dropped and the
// client goes on waiting for its own answer within the same time-out.
TEST(AllClients, ForeignReplyIsDroppedAndTheAnswerStillTaken)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    const bytes foreign = reply_frame({0xAB}, 0, {0x00, 0x11});
    const bytes own = reply_frame({0xD0}, 0, {0x10, 0x27});
    for (kind k : {kind::tcp, kind::udp, kind::kept_open}) {
        SCOPED_TRACE(static_cast<int>(k));
        sim_scale sim("127.0.0.2");
        sim.on({0xD0}, [&](const request&) {
            bytes body = foreign;
            fault how;
            if (k == kind::udp) {
                how.split_at = {foreign.size()};  // two datagrams
                how.split_pause = 50ms;
                body.insert(body.end(), own.begin(), own.end());
            } else {
                how.count = static_cast<std::uint32_t>(foreign.size());  // two TCP replies in a row
                const bytes second = with_count(own);
                body.insert(body.end(), second.begin(), second.end());
            }
            return reply(body, how);
        });
        const outcome o = exchange(k, sim);
        ASSERT_EQ(o.calls, 1);
        EXPECT_EQ(o.body, own);
    }
}

// A kept-open link holding an unasked reply between two exchanges drops it
// before the next request, so every later reply answers its own request.
TEST(KeptOpen, UnaskedBytesBetweenExchangesAreDropped)
{
    sim_scale sim("127.0.0.2");
    bool doubled = true;
    sim.on({0xD0}, [&](const request& r) {
        const bytes body = reply_frame(r.command, 0, r.rest);
        if (!std::exchange(doubled, false)) return reply(body);
        fault how;  // the reply twice
        how.count = static_cast<std::uint32_t>(body.size());
        bytes twice = body;
        const bytes again = with_count(body);
        twice.insert(twice.end(), again.begin(), again.end());
        return reply(twice, how);
    });
    kept_open link(sim);
    ASSERT_EQ(link.exchange(frame_d0({std::byte{0xA1}})).calls, 1);
    std::this_thread::sleep_for(100ms);  // the duplicate is waiting now
    for (std::uint8_t tag : {0xB2, 0xC3}) {
        const outcome o = link.exchange(frame_d0({std::byte{tag}}));
        ASSERT_EQ(o.calls, 1);
        EXPECT_EQ(o.body.back(), std::byte{tag});
    }
    EXPECT_EQ(sim.connections(), 1u);
}

}  // namespace

namespace {

// ---- edge cases: exact lines, stray datagrams, address texts, the count cap

int bound_socket(int type, const std::string& ip, std::uint16_t port, std::uint16_t* bound_port = nullptr)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ADD_FAILURE() << "cannot bind " << ip << ":" << port;
        return fd;
    }
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    if (bound_port) *bound_port = ntohs(a.sin_port);
    return fd;
}

// A listener whose accept queue is full and never emptied: the kernel drops
// further connection requests, so a connect to it neither succeeds nor fails
// until the client's own time-out.
struct unanswered_listener {
    int fd = -1;
    std::uint16_t port = 0;
    std::vector<int> fillers;
    explicit unanswered_listener(const std::string& ip)
    {
        fd = bound_socket(SOCK_STREAM, ip, 0, &port);
        ::listen(fd, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
        for (int k = 0; k < 3; ++k) {
            fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        std::this_thread::sleep_for(100ms);  // the queue fills
    }
    ~unanswered_listener()
    {
        for (int f : fillers) ::close(f);
        ::close(fd);
    }
};

}  // namespace

// A connect that times out: exactly two lines and no callback. The one-shot
// client's send then fails on the closed socket; the kept-open link reports
// the aborted connect, at set-up and for a request alike.
TEST(LinkLog, ConnectTimeOutLines)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    unanswered_listener deaf("127.0.0.121");
    const std::string port = std::to_string(deaf.port);
    const std::string timed_out = "RESPONSE FOR 127.0.0.121: timeout is done!";

    std::size_t mark = log_mark();
    const outcome one_shot = exchange(kind::tcp, "127.0.0.121", port, frame_d0());
    EXPECT_EQ(one_shot.calls, 0);
    EXPECT_GE(one_shot.seconds, 0.9);
    const lines tcp = logged_since(mark);
    EXPECT_EQ(tcp, (lines{timed_out, "REQUEST FOR 127.0.0.121: error in handle_send_to Bad file descriptor"}));

    const lines aborted{timed_out, "Connection with 127.0.0.121 not established: Operation canceled"};
    mark = log_mark();
    kept_open link("127.0.0.121", port);  // the set-up connect
    EXPECT_EQ(logged_since(mark), aborted);
    EXPECT_FALSE(link.client->is_open());
    mark = log_mark();
    const outcome request = link.exchange(frame_d0());  // the connect for a request
    EXPECT_EQ(request.calls, 0);
    EXPECT_GE(request.seconds, 0.9);
    EXPECT_EQ(logged_since(mark), aborted);
}

// A kept-open link: a count read that times out writes exactly two lines
// after the request and closes the link, which the next request opens again;
// an empty callback gets the reply read and logged, then the guard's line,
// and the link closed.
TEST(LinkLog, KeptOpenTimeOutAndEmptyCallbackLines)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    sim_scale sim("127.0.0.120");
    kept_open link(sim);
    const std::string request = "REQUEST FOR 127.0.0.120: (11 bytes) 07 00 00 00 02 05 D0 31 32 33 34 ";
    const lines answered{request, "READ MESSAGE SIZE FOR 127.0.0.120: (4 bytes) 4",
                         "RESPONSE FOR 127.0.0.120: (4 bytes) 02 02 D0 00 "};

    sim.set_fault(with([](fault& f) { f.silence = true, f.times = 1; }));
    std::size_t mark = log_mark();
    EXPECT_EQ(link.exchange(frame_d0()).calls, 0);
    EXPECT_EQ(logged_since(mark),
              (lines{request, "RESPONSE FOR 127.0.0.120: timeout is done!",
                     "READ MESSAGE SIZE FOR 127.0.0.120: error in handle_receive_from Operation canceled"}));
    EXPECT_FALSE(link.client->is_open());

    mark = log_mark();
    EXPECT_EQ(link.exchange(frame_d0()).calls, 1);
    lines reopened{"Connection established with 127.0.0.120"};
    reopened.insert(reopened.end(), answered.begin(), answered.end());
    EXPECT_EQ(logged_since(mark), reopened);

    mark = log_mark();
    link.context.restart();
    link.client->send_message(with_count(frame_d0()), {});
    link.context.run();
    lines guarded = answered;
    guarded.push_back("'handle_receive_from' error: bad_function_call");
    EXPECT_EQ(logged_since(mark), guarded);
    EXPECT_FALSE(link.client->is_open());
    EXPECT_EQ(sim.connections(), 2u);
}

// The one-shot clients read a reply for an empty callback and drop it
// without the response line.
TEST(LinkLog, OneShotEmptyCallbackDropsTheReplyWithoutALine)
{
    sim_scale sim("127.0.0.120");
    int timeout = 1;
    boost::asio::io_context context;
    std::size_t mark = log_mark();
    {
        tcp_client client(context, sim.ip(), sim.port_text(), timeout, with_count(frame_d0()), {}, true);
        context.run();
    }
    EXPECT_EQ(logged_since(mark), (lines{"REQUEST FOR 127.0.0.120: (11 bytes) 07 00 00 00 02 05 D0 31 32 33 34 ",
                                         "READ MESSAGE SIZE FOR 127.0.0.120: (4 bytes) 4"}));
    context.restart();
    mark = log_mark();
    {
        udp_client client(context, sim.ip(), sim.port_text(), timeout, frame_d0(), {}, true);
        context.run();
    }
    EXPECT_EQ(logged_since(mark), (lines{"REQUEST FOR 127.0.0.120: (7 bytes) 02 05 D0 31 32 33 34 "}));
    EXPECT_EQ(sim.request_count(), 2u);
}

// Only the scale's own address and port reach a UDP client: a datagram from
// another port or another address is never read as the reply.
TEST(Udp, DatagramsFromAnotherSourceAreIgnored)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    const struct {
        const char* name;
        const char* stray_ip;
        bool same_port;
        bool answered;
    } rows[] = {
        {"another port", "127.0.0.122", false, true},
        {"another address, the same port", "127.0.0.123", true, true},
        {"only the stray datagram", "127.0.0.122", false, false},
    };
    const bytes own = reply_frame({0xD0}, 0, {0x10, 0x27});
    const bytes stray = reply_frame({0xD0}, 0, {0x66, 0x66});
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::uint16_t port = 0;
        const int scale = bound_socket(SOCK_DGRAM, "127.0.0.122", 0, &port);
        const int other = bound_socket(SOCK_DGRAM, r.stray_ip, r.same_port ? port : 0);
        const timeval wait{2, 0};
        ::setsockopt(scale, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::thread server([&] {
            std::byte in[512];
            sockaddr_in from{};
            socklen_t size = sizeof from;
            if (::recvfrom(scale, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &size) <= 0) return;
            ::sendto(other, stray.data(), stray.size(), 0, reinterpret_cast<sockaddr*>(&from), size);
            std::this_thread::sleep_for(100ms);
            if (r.answered) ::sendto(scale, own.data(), own.size(), 0, reinterpret_cast<sockaddr*>(&from), size);
        });
        const outcome o = exchange(kind::udp, "127.0.0.122", std::to_string(port), frame_d0());
        server.join();
        ::close(scale);
        ::close(other);
        EXPECT_EQ(o.calls, r.answered ? 1 : 0);
        EXPECT_EQ(o.body, r.answered ? own : bytes{});
        EXPECT_GE(o.seconds, r.answered ? 0.09 : 0.9);
    }
}

// The address in the lines and in the callback is the endpoint's dotted
// text, not the host text: an empty host is the loopback address, and an
// address written with leading zeros comes back in its standard form.
TEST_P(AllClients, LinesAndCallbackNameTheEndpointAddress)
{
    sim_scale loopback("127.0.0.1");  // where an empty host resolves to (its port is the system's choice)
    sim_scale zeros("127.0.0.124");
    const struct {
        std::string host;
        const sim_scale& sim;
        std::string ip;
    } rows[] = {{"", loopback, "127.0.0.1"}, {"127.000.000.124", zeros, "127.0.0.124"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.host);
        const std::size_t mark = log_mark();
        const outcome o = exchange(GetParam(), r.host, r.sim.port_text(), frame_d0());
        EXPECT_EQ(o.calls, 1);
        EXPECT_EQ(o.ip, r.ip);
        EXPECT_EQ(r.sim.request_count(), 1u);
        const lines got = logged_since(mark);
        const std::string head = "REQUEST FOR " + r.ip + ": (";
        EXPECT_TRUE(std::any_of(got.begin(), got.end(), [&](const std::string& l) { return l.rfind(head, 0) == 0; }))
            << testing::PrintToString(got);
    }
}

// The largest reply count accepted is 4 MiB: 4,194,304 bytes are read and
// delivered; 4,194,305 are refused at the count, without waiting.
TEST_P(TcpClients, ReplyCountCapIsFourMebibytes)
{
    const test_deadline deadline{std::chrono::seconds(60)};
    sim_scale sim("127.0.0.125");
    const std::string refused = GetParam() == kind::tcp
                                    ? "READ MESSAGE SIZE FOR 127.0.0.125: error in handle_read_message_size "
                                      "reply size out of range: 4194305"
                                    : "'handle_read_message_size' error: reply size out of range: 4194305";
    for (const std::size_t size : {std::size_t{4194304}, std::size_t{4194305}}) {
        SCOPED_TRACE(size);
        sim.on({0xD0}, 0, bytes(size - 4, std::byte{0x5A}));  // 02 FF D0 00 and the data
        const std::size_t mark = log_mark();
        const outcome o = exchange(GetParam(), sim);
        const lines got = logged_since(mark);
        const bool has_refusal = std::find(got.begin(), got.end(), refused) != got.end();
        if (size == 4194304) {
            ASSERT_EQ(o.calls, 1);
            EXPECT_EQ(o.body.size(), size);
            EXPECT_FALSE(has_refusal);
        } else {
            EXPECT_EQ(o.calls, 0);
            EXPECT_TRUE(has_refusal) << testing::PrintToString(got);
            EXPECT_LT(o.seconds, 0.9);
        }
    }
}
