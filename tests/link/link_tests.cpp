// The three clients of the scale link against the simulated scale.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/system/system_error.hpp>

#include "link/permanent_tcp_client.h"
#include "link/tcp_client.h"
#include "link/udp_client.h"
#include "sim_scale.h"

using namespace qv_sim;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

enum class kind { tcp, udp, kept_open };

std::string kind_name(const testing::TestParamInfo<kind>& info)
{
    switch (info.param) {
    case kind::tcp: return "OneShotTcp";
    case kind::udp: return "Udp";
    default: return "KeptOpen";
    }
}

struct outcome {
    int calls = 0;
    bytes body;
    std::string ip;
    double seconds = 0;
};

bytes with_count(const bytes& frame)
{
    bytes out = le32(static_cast<std::uint32_t>(frame.size()));
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

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

    kept_open(const sim_scale& sim, int timeout = 1)
        : client(std::make_unique<permanent_tcp_client>(context, sim.ip(), sim.port_text(),
                                                         timeout, true))
    {
        client->open_connection();
        context.run();
    }

    outcome exchange(const bytes& frame)
    {
        outcome o;
        auto cb = [&o](bytes body, std::string ip) {
            ++o.calls;
            o.body = std::move(body);
            o.ip = std::move(ip);
        };
        auto hold = client->lock_exchange();
        const auto start = clock_type::now();
        context.restart();
        if (client->is_open())
            client->send_message(with_count(frame), cb);
        else
            client->open_connection_and_send_message(with_count(frame), cb);
        context.run();
        o.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
        return o;
    }
};

outcome exchange(kind k, const sim_scale& sim, const bytes& frame, int timeout = 1)
{
    if (k == kind::kept_open)
        return kept_open(sim, timeout).exchange(frame);
    outcome o;
    auto cb = [&o](bytes body, std::string ip) {
        ++o.calls;
        o.body = std::move(body);
        o.ip = std::move(ip);
    };
    const auto start = clock_type::now();
    boost::asio::io_context context;
    {
        std::unique_ptr<tcp_client> tcp;
        std::unique_ptr<udp_client> udp;
        if (k == kind::tcp)
            tcp = std::make_unique<tcp_client>(context, sim.ip(), sim.port_text(), timeout,
                                               with_count(frame), cb, true);
        else
            udp = std::make_unique<udp_client>(context, sim.ip(), sim.port_text(), timeout, frame,
                                               cb, true);
        context.run();
    }
    o.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    return o;
}

class AllClients : public testing::TestWithParam<kind> {
protected:
    sim_scale sim{"127.0.0.2"};
};
class TcpClients : public AllClients {};

INSTANTIATE_TEST_SUITE_P(Link, AllClients, testing::Values(kind::tcp, kind::udp, kind::kept_open),
                         kind_name);
INSTANTIATE_TEST_SUITE_P(Link, TcpClients, testing::Values(kind::tcp, kind::kept_open), kind_name);

}  // namespace

TEST_P(AllClients, SendsExactBytesAndDeliversTheBody)
{
    sim.on({0xD0}, 0, {0x10, 0x27});
    const bytes frame = frame_d0();
    const outcome o = exchange(GetParam(), sim, frame);

    ASSERT_EQ(o.calls, 1);
    EXPECT_EQ(hex(o.body), "02 04 D0 00 10 27");
    EXPECT_EQ(o.ip, "127.0.0.2");
    const auto got = sim.requests();
    ASSERT_EQ(got.size(), 1u);
    // TCP carries the count in front; UDP the bare frame.
    EXPECT_EQ(hex(got[0].raw), GetParam() == kind::udp ? "02 05 D0 31 32 33 34"
                                                       : "07 00 00 00 02 05 D0 31 32 33 34");
    EXPECT_EQ(hex(got[0].command), "D0");
}

TEST_P(AllClients, FaultsOfTheReply)
{
    struct row {
        const char* name;
        fault how;
        int calls;
        const char* body;  // expected body when delivered
        double max_seconds;
    };
    fault late;
    late.delay = 400ms;
    fault very_late;
    very_late.delay = 2500ms;
    fault empty;
    empty.empty_body = true;
    fault short_reply;
    short_reply.truncate = 2;
    fault wrong_first;
    wrong_first.first_byte = 0x03;
    const row rows[] = {
        {"just under the time-out", late, 1, "02 02 D0 00", 0.95},
        {"well over the time-out", very_late, 0, "", 2.2},
        {"empty body", empty, 1, "", 0.9},
        {"too short", short_reply, 1, "02 02", 0.9},
        {"wrong first byte", wrong_first, 1, "03 02 D0 00", 0.9},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        sim.set_fault(r.how);
        const outcome o = exchange(GetParam(), sim, frame_d0());
        EXPECT_EQ(o.calls, r.calls);
        if (r.calls) {
            EXPECT_EQ(hex(o.body), r.body);
        } else {
            EXPECT_GE(o.seconds, 0.9);
        }
        EXPECT_LT(o.seconds, r.max_seconds);
    }
}

TEST_P(AllClients, RefusedConnectionEndsWithoutCallback)
{
    sim.stop();  // nothing listens on the port any more
    const outcome o = exchange(GetParam(), sim, frame_d0());
    EXPECT_EQ(o.calls, 0);
    EXPECT_LT(o.seconds, 0.9);  // noticed at once, not at the time-out
}

TEST_P(TcpClients, ExactReadsAndFramingErrors)
{
    struct row {
        const char* name;
        fault how;
        int calls;
        double max_seconds;
    };
    fault split;  // count split over two segments, then the body in two pieces
    split.split_at = {2, 7};
    split.split_pause = 200ms;
    fault mid;
    mid.close_mid_reply = true;
    fault in_count;
    in_count.cut_after = 2;
    fault closed;
    closed.close_before_reply = true;
    fault negative;
    negative.count = 0x80000000u;
    fault oversized;
    oversized.count = static_cast<std::uint32_t>(link_detail::max_reply_size) + 1;
    fault long_count;  // more announced than sent: the body read times out
    long_count.count = 100;
    const row rows[] = {
        {"split", split, 1, 0.95},          {"close mid-reply", mid, 0, 0.9},
        {"close inside the count", in_count, 0, 0.9}, {"close before reply", closed, 0, 0.9},
        {"negative count", negative, 0, 0.9},     {"count over the cap", oversized, 0, 0.9},
        {"count beyond the body", long_count, 0, 2.2},
    };
    sim.on({0xD0}, 0, to_bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        sim.set_fault(r.how);
        const outcome o = exchange(GetParam(), sim, frame_d0());
        EXPECT_EQ(o.calls, r.calls);
        if (r.calls) {
            EXPECT_EQ(hex(o.body), "02 08 D0 00 01 02 03 04 05 06");
        }
        EXPECT_LT(o.seconds, r.max_seconds);
    }
}

TEST_P(TcpClients, LongReplyIsDeliveredWhole)
{
    bytes data(70000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::byte(i * 7);
    sim.on({0xD0}, 0, data);
    const outcome o = exchange(GetParam(), sim, frame_d0());
    ASSERT_EQ(o.calls, 1);
    EXPECT_EQ(o.body, reply_frame({0xD0}, 0, data));
}

// A large request goes out whole, and a scale that never reads cannot hold
// the exchange past its time-out.
TEST_P(TcpClients, LargeRequestsAreSentWholeAndTheSendTimesOut)
{
    bytes big(12 * 1024 * 1024, std::byte{0x5A});
    big[0] = std::byte{0x02};
    big[1] = std::byte{0xFF};
    big[2] = std::byte{0xD0};
    const outcome o = exchange(GetParam(), sim, big);
    EXPECT_EQ(o.calls, 1);
    ASSERT_EQ(sim.request_count(), 1u);
    EXPECT_EQ(sim.requests()[0].frame, big);

    // A listener that accepts (in the kernel) but never reads.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.2", &a.sin_addr);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    big.resize(16 * 1024 * 1024, std::byte{0x5A});
    outcome stuck;
    const auto start = clock_type::now();
    {
        boost::asio::io_context context;
        int timeout = 1;
        auto cb = [&stuck](bytes, std::string) { ++stuck.calls; };
        const std::string port = std::to_string(ntohs(a.sin_port));
        if (GetParam() == kind::tcp) {
            auto c = std::make_unique<tcp_client>(context, "127.0.0.2", port, timeout,
                                                  with_count(big), cb, true);
            context.run();
        } else {
            auto c = std::make_unique<permanent_tcp_client>(context, "127.0.0.2", port, timeout, true);
            c->open_connection_and_send_message(with_count(big), cb);
            context.run();
        }
    }
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    ::close(fd);
    EXPECT_EQ(stuck.calls, 0);
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 2.5);
}

TEST(UdpClient, OnlyTheFirstDatagramIsDelivered)
{
    sim_scale sim("127.0.0.2");
    fault two;
    two.split_at = {2};
    two.split_pause = 10ms;
    sim.set_fault(two);
    const outcome o = exchange(kind::udp, sim, frame_d0());
    ASSERT_EQ(o.calls, 1);
    EXPECT_EQ(hex(o.body), "02 02");
}

TEST(OneShot, NameResolutionFailureThrows)
{
    boost::asio::io_context context;
    int timeout = 1;
    // An unknown service name fails locally, with no name server involved.
    EXPECT_THROW(tcp_client(context, "127.0.0.2", "no-such-service-qv", timeout, {}, {}, true),
                 boost::system::system_error);
    EXPECT_THROW(udp_client(context, "127.0.0.2", "no-such-service-qv", timeout, {}, {}, true),
                 boost::system::system_error);
}

TEST(OneShot, ScalesAreServedAtTheSameTime)
{
    // Delays 500, 500 and 800 ms: served one after the other they would take
    // 1.8 s, served together about as long as the slowest.
    sim_scale a("127.0.0.2"), b("127.0.0.3"), c("127.0.0.4");
    fault slow, slower;
    slow.delay = 500ms;
    slower.delay = 800ms;
    a.set_fault(slow);
    b.set_fault(slow);
    c.set_fault(slower);

    std::map<std::string, bytes> replies;
    auto cb = [&replies](bytes body, std::string ip) { replies[ip] = std::move(body); };
    int timeout = 2;
    const auto start = clock_type::now();
    boost::asio::io_context context;
    {
        std::vector<std::unique_ptr<tcp_client>> clients;
        for (const sim_scale* s : {&a, &b, &c})
            clients.push_back(std::make_unique<tcp_client>(
                context, s->ip(), s->port_text(), timeout, with_count(frame_d0()), cb, true));
        context.run();
    }
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    EXPECT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies.count("127.0.0.4"), 1u);
    EXPECT_GE(seconds, 0.75);
    EXPECT_LT(seconds, 1.5);
}

TEST(KeptOpen, ReusesOneConnection)
{
    sim_scale sim("127.0.0.2");
    kept_open link(sim);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(link.exchange(frame_d0({std::byte(i)})).calls, 1);
    EXPECT_EQ(sim.connections(), 1u);
    EXPECT_EQ(sim.request_count(), 3u);
}

// After a failed exchange the next one opens a fresh connection and carries
// its own request, never the failed one; its reply reaches its own callback.
TEST(KeptOpen, ReopensWithItsOwnRequestAfterAFailure)
{
    enum class failure { reset_idle, close_idle, time_out };
    for (failure f : {failure::reset_idle, failure::close_idle, failure::time_out}) {
        SCOPED_TRACE(static_cast<int>(f));
        sim_scale sim("127.0.0.2");
        sim.on({0xD0}, [](const request& r) { return reply(reply_frame(r.command, 0, r.rest)); });
        kept_open link(sim);
        ASSERT_EQ(link.exchange(frame_d0({std::byte{0xA1}})).calls, 1);

        if (f == failure::time_out) {
            fault once;
            once.silence = true;
            once.times = 1;
            sim.set_fault(once);
        } else {
            sim.drop_connections(f == failure::reset_idle);
        }
        EXPECT_EQ(link.exchange(frame_d0({std::byte{0xB2}})).calls, 0);

        const outcome third = link.exchange(frame_d0({std::byte{0xC3}}));
        ASSERT_EQ(third.calls, 1);
        EXPECT_EQ(hex(third.body), "02 07 D0 00 31 32 33 34 C3");
        EXPECT_EQ(sim.connections(), 2u);
        const auto got = sim.requests();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back().connection, 2u);
        EXPECT_EQ(hex(got.back().raw), "08 00 00 00 02 06 D0 31 32 33 34 C3");
        for (const request& r : got) {
            if (r.connection == 2) {
                EXPECT_EQ(r.rest.back(), std::byte{0xC3});
            }
        }
    }
}

TEST(KeptOpen, TwoThreadsEachGetTheirOwnReplies)
{
    sim_scale sim("127.0.0.2");
    sim.on({0xD0}, [](const request& r) { return reply(reply_frame(r.command, 0, r.rest)); });
    kept_open link(sim);
    std::atomic<int> wrong{0}, missing{0};
    auto hammer = [&](std::uint8_t tag) {
        for (int i = 0; i < 40; ++i) {
            const bytes payload{std::byte{tag}, std::byte(i)};
            const outcome o = link.exchange(frame_d0(payload));
            if (o.calls != 1)
                ++missing;
            else if (bytes(o.body.end() - 2, o.body.end()) != payload)
                ++wrong;
        }
    };
    std::thread one(hammer, 0x11), two(hammer, 0x22);
    one.join();
    two.join();
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(sim.connections(), 1u);
    EXPECT_EQ(sim.request_count(), 80u);
}

TEST(KeptOpen, UnresolvableScaleFailsQuietly)
{
    boost::asio::io_context context;
    auto client = std::make_unique<permanent_tcp_client>(context, "127.0.0.2", "no-such-service-qv",
                                                         1, true);
    int calls = 0;
    client->open_connection_and_send_message(with_count(frame_d0()),
                                             [&](bytes, std::string) { ++calls; });
    context.run();
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(client->is_open());
    client.reset();
}
