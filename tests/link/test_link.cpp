// The three clients of the scale link against the simulated scale, and their
// exact log lines. Every exchange names its scale with leading zeros
// ("127.000.000.2"): lines and callbacks must give the endpoint's own text.
#include <gtest/gtest.h>

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

// A kept-open link used the way the device uses it: one exchange at a time
// under the client's exchange lock. The io_context goes last.
struct kept_open {
    boost::asio::io_context context;
    std::unique_ptr<permanent_tcp_client> client;

    kept_open(const std::string& ip, const std::string& port)
        : client(std::make_unique<permanent_tcp_client>(context, ip, port, 1, true))
    {
        client->open_connection();
        context.run();
    }
    explicit kept_open(const sim_scale& sim) : kept_open(zeros(sim), sim.port_text()) {}

    outcome exchange(const bytes& frame, bool callback = true)
    {
        outcome o;
        auto hold = client->lock_exchange();
        const auto start = clock_type::now();
        context.restart();
        const response_callback cb = callback ? o.record() : response_callback{};
        if (client->is_open())
            client->send_message(with_count(frame), cb);
        else
            client->open_connection_and_send_message(with_count(frame), cb);
        context.run();
        o.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
        return o;
    }
};

// One exchange with a time-out of 1 s, on a client of its own.
outcome exchange(kind k, const std::string& ip, const std::string& port, const bytes& frame, bool callback = true)
{
    if (k == kind::kept_open) return kept_open(ip, port).exchange(frame, callback);
    outcome o;
    const response_callback cb = callback ? o.record() : response_callback{};
    int timeout = 1;
    const auto start = clock_type::now();
    boost::asio::io_context context;
    if (k == kind::tcp) {
        tcp_client client(context, ip, port, timeout, with_count(frame), cb, true);
        context.run();
    } else {
        udp_client client(context, ip, port, timeout, frame, cb, true);
        context.run();
    }
    o.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    return o;
}

outcome exchange(kind k, const sim_scale& sim, const bytes& frame = frame_d0(), bool callback = true)
{
    return exchange(k, zeros(sim), sim.port_text(), frame, callback);
}

// Logging, set up once per process under a temporary home folder; the
// messages logged since `mark` without their record heads.
struct temporary_home {
    std::string path;
    temporary_home()
    {
        char tmpl[] = "/tmp/qv_link_tests_XXXXXX";
        path = ::mkdtemp(tmpl);
        qv_logging_internal::set_home_folder(path);
        Logger::init_log("link_tests_");
    }
    ~temporary_home() { std::filesystem::remove_all(path); }
};

std::size_t log_mark()
{
    static temporary_home home;
    return Logger::get_memory_log_data().size();
}

lines logged_since(std::size_t mark)
{
    std::istringstream in(Logger::get_memory_log_data().substr(mark));
    lines out;
    for (std::string line; std::getline(in, line);) out.push_back(line.substr(line.find("]: ") + 3));
    return out;
}

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

// Every request goes out as exact bytes; the reply is delivered whole, or
// not at all, whatever the scale does; a refused connection ends at once.
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
        {"just under the time-out", with([](fault& f) { f.delay = 400ms; }), false, whole, false},
        {"well over the time-out", with([](fault& f) { f.delay = 2500ms; }), false, nullptr, true},
        {"too short", with([](fault& f) { f.truncate = 2; }), false, "02 08", false},
        // TCP: the count split over two segments, then the body in two
        // pieces, read whole. UDP: three datagrams, only the first delivered.
        {"split", with([](fault& f) {
             f.split_at = {2, 7}, f.split_pause = 200ms;
         }),
         false, udp ? "02 08" : whole, false},
        {"close mid-reply", with([](fault& f) { f.close_mid_reply = true; }), true, nullptr, false},
        {"close inside the count", with([](fault& f) { f.cut_after = 2; }), true, nullptr, false},
        {"negative count", with([](fault& f) { f.count = 0x80000000u; }), true, nullptr, false},
        {"count beyond the body", with([](fault& f) { f.count = 100; }), true, nullptr, true},
    };
    sim.on({0xD0}, 0, {1, 2, 3, 4, 5, 6});
    for (const auto& r : rows) {
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
    sim.stop();  // nothing listens on the port any more
    const outcome refused = exchange(GetParam(), sim);
    EXPECT_EQ(refused.calls, 0);
    EXPECT_LT(refused.seconds, 0.9);  // noticed at once, not at the time-out
}

// A reply to another command (a late or repeated one) is dropped and the
// client goes on waiting for its own answer within the same time-out.
TEST_P(AllClients, ForeignReplyIsDroppedAndTheAnswerStillTaken)
{
    const bytes foreign = reply_frame({0xAB}, 0, {0x00, 0x11}), own = reply_frame({0xD0}, 0, {0x10, 0x27});
    sim.on({0xD0}, [&](const request&) {
        fault how;  // UDP: two datagrams; TCP: two replies in a row
        if (GetParam() == kind::udp) how.split_at = {foreign.size()}, how.split_pause = 50ms;
        if (GetParam() != kind::udp) how.count = static_cast<std::uint32_t>(foreign.size());
        bytes body = foreign, second = GetParam() == kind::udp ? own : with_count(own);
        body.insert(body.end(), second.begin(), second.end());
        return reply(body, how);
    });
    const outcome o = exchange(GetParam(), sim);
    ASSERT_EQ(o.calls, 1);
    EXPECT_EQ(o.body, own);
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

    boost::asio::io_context idle;  // a listener that accepts (in the kernel) but never reads
    boost::asio::ip::tcp::acceptor deaf(idle, {boost::asio::ip::make_address("127.0.0.2"), 0});
    const outcome stuck = exchange(GetParam(), "127.0.0.2", std::to_string(deaf.local_endpoint().port()),
                                   frame_d0(bytes(16 << 20, std::byte{0x5A})));
    EXPECT_EQ(stuck.calls, 0);
    EXPECT_GE(stuck.seconds, 0.9);
    EXPECT_LT(stuck.seconds, 2.5);
}

// The largest reply count accepted is 4 MiB: 4,194,304 bytes are read and
// delivered whole; 4,194,305 are refused at the count, without waiting.
TEST_P(TcpClients, ReplyCountCapIsFourMebibytes)
{
    const test_deadline deadline{std::chrono::seconds(60)};
    bytes data(4194304 - 4);  // 02 FF D0 00 and the data
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::byte(i * 7);
    sim.on({0xD0}, 0, data);
    const outcome o = exchange(GetParam(), sim);
    ASSERT_EQ(o.calls, 1);
    EXPECT_EQ(o.body, reply_frame({0xD0}, 0, data));

    data.push_back(std::byte{1});
    sim.on({0xD0}, 0, data);
    const std::size_t mark = log_mark();
    const outcome refused = exchange(GetParam(), sim);
    EXPECT_EQ(refused.calls, 0);
    EXPECT_LT(refused.seconds, 0.9);
    EXPECT_EQ(logged_since(mark).back(), GetParam() == kind::tcp
                                             ? "READ MESSAGE SIZE FOR 127.0.0.2: error in handle_read_message_size "
                                               "reply size out of range: 4194305"
                                             : "'handle_read_message_size' error: reply size out of range: 4194305");
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
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    EXPECT_EQ(replies.size(), 3u);
    EXPECT_GE(seconds, 0.75);
    EXPECT_LT(seconds, 1.5);
}

// After a failed exchange, or a link the scale closed while idle, the next
// request opens a fresh connection and goes out once, carrying its own
// request, never the failed one. Unasked bytes waiting on a live link are
// dropped before the next request, so every reply answers its own request.
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

// The dump stops at 100 bytes; an empty callback gets the reply read and
// dropped without the response line.
TEST(LinkLog, OneShotLines)
{
    sim_scale sim("127.0.0.2");
    sim.on({0xD0}, 0, bytes(146, std::byte{0xAB}));  // a 150-byte body
    std::string dump = "02 94 D0 00 ";
    for (int i = 0; i < 96; ++i) dump += "AB ";
    const std::string request = "REQUEST FOR 127.0.0.2: (11 bytes) 07 00 00 00 02 05 D0 31 32 33 34 ";
    const lines size_read{request, "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) 150"};
    std::size_t mark = log_mark();
    exchange(kind::tcp, sim);
    EXPECT_EQ(logged_since(mark), (lines{size_read[0], size_read[1], "RESPONSE FOR 127.0.0.2: (150 bytes) " + dump}));
    mark = log_mark();
    exchange(kind::tcp, sim, frame_d0(), false);
    EXPECT_EQ(logged_since(mark), size_read);
    mark = log_mark();
    exchange(kind::udp, sim, frame_d0(), false);
    EXPECT_EQ(logged_since(mark), (lines{"REQUEST FOR 127.0.0.2: (7 bytes) 02 05 D0 31 32 33 34 "}));
    EXPECT_EQ(sim.request_count(), 3u);
}

// A refused connect, a count read that times out (the link closed, the next
// request opening it again) and an empty callback (the reply read and logged,
// the guard's line, the link closed), then a send on the closed link.
TEST(LinkLog, KeptOpenLines)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    sim_scale sim("127.0.0.2"), dead("127.0.0.3");
    dead.stop();
    std::size_t mark = log_mark();
    kept_open refused(dead);
    EXPECT_EQ(logged_since(mark), (lines{"Connection with 127.0.0.3 not established: Connection refused"}));

    const std::string request = "REQUEST FOR 127.0.0.2: (11 bytes) 07 00 00 00 02 05 D0 31 32 33 34 ";
    const lines answered{request, "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) 4",
                         "RESPONSE FOR 127.0.0.2: (4 bytes) 02 02 D0 00 "};
    sim.set_fault(with([](fault& f) { f.silence = true, f.times = 1; }));
    mark = log_mark();
    kept_open link(sim);
    EXPECT_EQ(link.exchange(frame_d0()).calls, 0);
    EXPECT_EQ(logged_since(mark),
              (lines{"Connection established with 127.0.0.2", request, "RESPONSE FOR 127.0.0.2: timeout is done!",
                     "READ MESSAGE SIZE FOR 127.0.0.2: error in handle_receive_from Operation canceled"}));
    EXPECT_FALSE(link.client->is_open());

    mark = log_mark();
    EXPECT_EQ(link.exchange(frame_d0()).calls, 1);
    lines expected{"Connection established with 127.0.0.2"};
    expected.insert(expected.end(), answered.begin(), answered.end());
    EXPECT_EQ(logged_since(mark), expected);

    mark = log_mark();
    link.exchange(frame_d0(), false);
    EXPECT_FALSE(link.client->is_open());
    link.context.restart();
    link.client->send_message(with_count(frame_d0()), {});
    link.context.run();
    expected = answered;
    expected.push_back("'handle_receive_from' error: bad_function_call");
    expected.push_back("Attempt to send message on closed socket.");
    EXPECT_EQ(logged_since(mark), expected);
    EXPECT_EQ(sim.connections(), 2u);
}

}  // namespace
