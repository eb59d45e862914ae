// Request framing, group sending and reply validation, on simulated scales.

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include <boost/asio/io_context.hpp>

#include "link/permanent_tcp_client.h"
#include "send_test_util.h"
#include "test_deadline.h"

using namespace send_test;

namespace {

const bytes D0 = B({0xD0});

TEST(Send, Framing)
{
    const struct {
        bool with_password, with_count;
        bytes frame;
        std::size_t payload;  // bytes of value 0x55
        std::string password;
        bytes head;  // the request's first bytes
        std::size_t size;
    } table[] = {
        {false, false, D0, 253, "", B({2, 0xFE, 0xD0, 0x55}), 256},
        {false, false, D0, 254, "", B({2, 0xFF, 0xD0, 0x55}), 257},  // FF for every body of 255 or more
        {false, false, D0, 255, "", B({2, 0xFF, 0xD0, 0x55}), 258},
        {true, false, D0, 0, "1234", B({2, 5, 0xD0, 0x31, 0x32, 0x33, 0x34}), 7},
        {true, false, D0, 0, "", B({2, 5, 0xD0, 0, 0, 0, 0}), 7},  // not 4 characters: zeros
        {true, false, D0, 1, "12345", B({2, 6, 0xD0, 0, 0, 0, 0, 0x55}), 8},
        // Four Cyrillic letters: 8 UTF-8 bytes, 4 characters, 4 code-page bytes.
        {true, false, D0, 0, "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87", B({2, 5, 0xD0, 0xCA, 0xEB, 0xFE, 0xF7}), 7},
        {false, true, B({0x1B}), 0, "abcdef", B({2, 6, 0x1B, 6, 0, 0, 0, 0}), 8},  // the character count first
        {false, true, B({0x1C}), 0, "1234", B({2, 6, 0x1C, 4, 0x31, 0x32, 0x33, 0x34}), 8},
        {true, true, B({0x1B}), 0, "1234", B({2, 5, 0x1B, 0x31, 0x32, 0x33, 0x34}), 7},  // with_password wins
        {false, false, B({0xFF, 0x13}), 2, "", B({2, 4, 0xFF, 0x13, 0x55, 0x55}), 6},
    };
    for (const auto& c : table) {
        const bytes frame = device::build_request_frame(c.with_password, c.with_count, c.frame,
                                                        bytes(c.payload, std::byte{0x55}), c.password);
        ASSERT_EQ(frame.size(), c.size) << qv_sim::hex(c.head);
        EXPECT_EQ(bytes(frame.begin(), frame.begin() + static_cast<long>(c.head.size())), c.head);
    }
}

TEST(Send, Validation)
{
    auto sized = [](bytes head, std::size_t size) {
        head.resize(size);
        return head;
    };
    const struct {
        bytes reply;
        int expected;
    } table[] = {
        {{}, -1},
        {B({2, 1, 0xD0}), -101},
        {B({3, 2, 0xD0, 0}), -102},
        {sized(B({2, 5, 0xD0, 0}), 8), -103},
        {B({2, 0xFF, 0xD0, 0, 1}), 0},  // LEN FF: any size
        {sized(B({2, 0x2A, 0xD0, 0}), 300), 0},  // size - 2 modulo 256
        {B({2, 2, 0xAB, 0xAC}), 172},  // RESULT is unsigned
        {B({2, 3, 0xFF, 0x41, 0x7A}), 122},  // two-byte command
        // No result byte at offset 4, LEN FF or not.
        {B({2, 0xFF, 0xFF, 0x41}), -101},
        {B({2, 2, 0xFF, 0x41}), -101},
        // The checks in their order: length, then STX, then LEN, then the
        // result byte of a two-byte command.
        {B({3}), -101},
        {B({3, 1, 0xD0}), -101},
        {B({3, 2, 0xFF, 0x41}), -102},
        {B({2, 9, 0xFF, 0x41}), -103},
    };
    for (const auto& c : table) EXPECT_EQ(device::response_validation(c.reply), c.expected) << qv_sim::hex(c.reply);
}

using Sending = device_test_base;

TEST_F(Sending, OneScaleGivesItsOwnCode)
{
    qv_sim::sim_scale sim("127.0.0.2");
    sim.on({0xD0}, 0xAC);
    add_scale(d, sim, 1);
    EXPECT_EQ(d.send_command(true, D0), 172);
    d.ip_address_list[0].protocol = 2;  // neither UDP nor TCP: never sent to
    EXPECT_EQ(d.send_command(true, D0), -1);
    EXPECT_EQ(sim.request_count(), 1u);
}

TEST_F(Sending, SkipRuleAndFileStatus)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3");
    add_scale(d, a, 1);
    add_scale(d, b, 1);
    // -112: not sent to, kept, fails the group.
    d.results["127.0.0.2"] = -112;
    device_test::log_capture log;
    EXPECT_EQ(d.send_command(true, D0), -111);
    EXPECT_EQ(a.request_count(), 0u);
    EXPECT_EQ(d.results.at("127.0.0.2"), -112);
    EXPECT_TRUE(log.contains("REQUEST FOR 127.0.0.2: file already received"));
    // The upload status request: a silent scale becomes -3, the total stays 0,
    // and the next request of the command still goes to it.
    d.results.clear();
    b.set_fault(silent());
    const bytes upload = d.command_frames.at(CommandType::upload_any_file);
    EXPECT_EQ(d.send_command(true, upload, B({9})), 0);
    EXPECT_EQ(d.results.at("127.0.0.3"), -3);
    b.clear_faults();
    EXPECT_EQ(d.send_command(true, upload, B({9})), 0);
    EXPECT_EQ(d.results.at("127.0.0.3"), 0);
}

TEST_F(Sending, ReplyIsFiledUnderTheListEntry)
{
    qv_sim::sim_scale sim("127.0.0.3");
    d.ip_address_list.push_back({"127.0.0.03", sim.port_text(), "abcdef", 1, ""});  // another spelling
    EXPECT_EQ(d.send_command(false, d.command_frames.at(CommandType::upload_config_file), B({7})), 0);
    EXPECT_EQ(d.results.at("127.0.0.03"), 0);
    EXPECT_EQ(d.responses.count("127.0.0.03"), 1u);
    // The 1B frame carries the password's character count, the TCP request its length.
    ASSERT_EQ(sim.request_count(), 1u);
    EXPECT_EQ(sim.requests()[0].raw, B({9, 0, 0, 0, 2, 7, 0x1B, 6, 0, 0, 0, 0, 7}));
}

TEST_F(Sending, ABadEntrySendsToNobody)
{
    qv_sim::sim_scale sim("127.0.0.2");
    add_scale(d, sim, 1);
    d.ip_address_list.push_back({"127.0.0.3", "no-such-svc", "1234", 1, ""});
    EXPECT_EQ(d.send_command(true, D0), -1000);
    EXPECT_TRUE(d.responses.empty());
    // A password character outside the code table.
    d.ip_address_list.back() = {"127.0.0.3", sim.port_text(),
                                "ab\xE4\xB8\xAD"
                                "c",
                                1, ""};
    device_test::log_capture log;
    EXPECT_EQ(d.send_command(true, D0), -1000);
    EXPECT_TRUE(log.contains("send_command err: map::at"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sim.request_count(), 0u);
}

// Whether a scale is asked again within one command depends on its stored
// result: 0, 172 (in progress) and -3 are asked, any other is skipped with
// its line, keeps its result and fails the send.
TEST_F(Sending, SkipRuleByTheStoredResult)
{
    qv_sim::sim_scale sim("127.0.0.126");
    sim.on({0xD0}, 0);
    add_scale(d, sim, 1);
    const std::string not_sent = "REQUEST FOR 127.0.0.126: not send, because last request had the result = ";
    const struct {
        int stored;
        bool sent;
    } table[] = {{0, true}, {172, true}, {-3, true}, {-1, false}, {-101, false}, {5, false}, {-110, false}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.stored);
        sim.clear_requests();
        d.results = {{"127.0.0.126", row.stored}};
        device_test::log_capture log;
        EXPECT_EQ(d.send_command(true, D0), row.sent ? 0 : -1);
        EXPECT_EQ(sim.request_count(), row.sent ? 1u : 0u);
        EXPECT_EQ(d.results.at("127.0.0.126"), row.sent ? 0 : row.stored);
        EXPECT_EQ(log.contains(not_sent + std::to_string(row.stored)), !row.sent);
        EXPECT_FALSE(log.contains("BAD RESULT FOR 127.0.0.126: -1"));
        EXPECT_TRUE(log.contains(std::string("TOTAL RESULT: ") + (row.sent ? "0" : "-1")));
    }
}

// A scale that answers 172 is asked again by the next send of the command;
// when it then stays silent it keeps 172, without a "BAD RESULT" line, and
// fails the send (-1 alone, -111 in a group).
TEST_F(Sending, AScaleAt172IsAskedAgainAndKeepsIt)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale busy("127.0.0.127"), other("127.0.0.128");
    busy.on({0xD0}, 0xAC);
    add_scale(d, busy, 1);
    EXPECT_EQ(d.send_command(true, D0), 172);
    EXPECT_EQ(d.send_command(true, D0), 172);
    EXPECT_EQ(busy.request_count(), 2u);
    EXPECT_EQ(d.results.at("127.0.0.127"), 172);

    busy.set_fault(silent());
    device_test::log_capture log;
    EXPECT_EQ(d.send_command(true, D0), -1);
    EXPECT_EQ(busy.request_count(), 3u);
    EXPECT_EQ(d.results.at("127.0.0.127"), 172);
    EXPECT_FALSE(log.contains("BAD RESULT FOR 127.0.0.127: -1"));
    EXPECT_TRUE(log.contains("TOTAL RESULT: -1"));

    add_scale(d, other, 1);
    EXPECT_EQ(d.send_command(true, D0), -111);
    EXPECT_EQ(busy.request_count(), 4u);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.127", 172}, {"127.0.0.128", 0}}));
}

// A device on kept-open links to two scales, connected.
class KeptOpenSending : public device_test_base {
protected:
    void connect_to(std::initializer_list<qv_sim::sim_scale*> scales)
    {
        d.permanent_connection = true;
        for (auto* s : scales) {
            qv_sim::add_connect_replies(*s)->set_plu_count(10000);
            add_scale(d, *s, 1);
        }
        ASSERT_EQ(d.connect(), 0);
        d.results.clear();  // as the dispatcher does before a command
    }
};

// Kept-open scales are served one after the other, each exchange between
// its two lines, in list order; then the results in list order.
TEST_F(KeptOpenSending, ScalesOneAfterTheOtherWithTheirLinesInOrder)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale a("127.0.0.122"), b("127.0.0.121");  // list order, not address order
    connect_to({&a, &b});
    qv_sim::fault slow;
    slow.delay = std::chrono::milliseconds(300);
    std::map<std::string, std::chrono::steady_clock::time_point> asked;
    std::mutex asked_mutex;
    for (auto* s : {&a, &b}) {
        s->set_fault(slow);
        s->set_observer([&, ip = s->ip()](const qv_sim::request&) {
            std::lock_guard<std::mutex> lock(asked_mutex);
            asked[ip] = std::chrono::steady_clock::now();
        });
    }
    std::vector<std::string> expected{"send_command() for D0 "};
    for (const std::string ip : {"127.0.0.122", "127.0.0.121"}) {
        expected.insert(
            expected.end(),
            {"io_service reset, starting run() for " + ip, "handlers registered, running io_service for " + ip,
             "REQUEST FOR " + ip + ": (11 bytes) 07 00 00 00 02 05 D0 ** ** ** ** ",
             "READ MESSAGE SIZE FOR " + ip + ": (4 bytes) 6", "RESPONSE FOR " + ip + ": (6 bytes) 02 04 D0 00 10 27 "});
    }
    expected.insert(expected.end(), {"RESULT FOR 127.0.0.122: 0", "RESULT FOR 127.0.0.121: 0", "TOTAL RESULT: 0"});
    device_test::log_capture log;
    EXPECT_EQ(d.send_command(true, D0), 0);
    EXPECT_EQ(log.lines(), expected);
    std::lock_guard<std::mutex> lock(asked_mutex);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_GE(asked["127.0.0.121"] - asked["127.0.0.122"], std::chrono::milliseconds(280));  // after a's reply
    EXPECT_EQ(a.connections() + b.connections(), 2u);
}

// The send holds the link's exchange lock, which the live-weight thread
// shares: while another thread holds it, the request waits.
TEST_F(KeptOpenSending, SendWaitsForTheLinksExchangeLock)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale sim("127.0.0.123");
    connect_to({&sim});
    using clock = std::chrono::steady_clock;
    std::atomic<clock::rep> asked{0}, released{0};
    sim.set_observer([&](const qv_sim::request&) { asked = clock::now().time_since_epoch().count(); });
    std::atomic<bool> held{false};
    std::thread holder([&, client = d.permanent_clients.at("127.0.0.123")] {
        auto hold = client->lock_exchange();
        held = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        released = clock::now().time_since_epoch().count();
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = clock::now();
    EXPECT_EQ(d.send_command(true, D0), 0);
    EXPECT_GE(clock::now() - start, std::chrono::milliseconds(400));
    holder.join();
    EXPECT_GE(asked.load(), released.load());
}

}  // namespace

namespace {

// The request lines show the password bytes (and the new password of the
// password change) as "**", every other byte as it was sent.
TEST(Send, PasswordsNeverReachTheTrafficLines)
{
    const struct {
        int protocol;
        bool permanent;
        bool with_password;
        bytes frame;
        bytes data;
        std::string line;
    } table[] = {
        {1, false, true, D0, {}, "REQUEST FOR 127.0.0.2: (11 bytes) 07 00 00 00 02 05 D0 ** ** ** ** "},
        {0, false, true, D0, B({0x55}), "REQUEST FOR 127.0.0.2: (8 bytes) 02 06 D0 ** ** ** ** 55 "},
        {1, true, true, D0, {}, "REQUEST FOR 127.0.0.2: (11 bytes) 07 00 00 00 02 05 D0 ** ** ** ** "},
        {0, false, true, B({0x16}), B({0x35, 0x36, 0x37, 0x38, 0x55}),
         "REQUEST FOR 127.0.0.2: (12 bytes) 02 0A 16 ** ** ** ** ** ** ** ** 55 "},
        {0, false, false, B({0x1C}), {}, "REQUEST FOR 127.0.0.2: (8 bytes) 02 06 1C 04 ** ** ** ** "},
        {0, false, false, D0, B({0x31}), "REQUEST FOR 127.0.0.2: (4 bytes) 02 02 D0 31 "},
    };
    for (const auto& c : table) {
        qv_sim::sim_scale sim("127.0.0.2");
        device d;
        d.timeout_seconds = 1;
        add_scale(d, sim, c.protocol);
        if (c.permanent) {
            d.permanent_connection = true;
            auto context = std::make_shared<boost::asio::io_context>();
            d.io_contexts[sim.ip()] = context;
            d.permanent_clients[sim.ip()] =
                std::make_shared<permanent_tcp_client>(*context, sim.ip(), sim.port_text(), d.timeout_seconds, true);
        }
        device_test::log_capture log;
        d.send_command(c.with_password, c.frame, c.data);
        EXPECT_TRUE(log.contains(c.line)) << c.line;
    }
}

}  // namespace
