// Request framing, group sending and reply validation, on simulated scales.
#include <atomic>
#include <thread>

#include "commands/prediction/polling.h"
#include "core/vocab/errors_text.h"
#include "link/permanent_tcp_client.h"
#include "quorvix_driver.h"
#include "send_test_util.h"
#include "test_deadline.h"

using namespace send_test;

namespace {

const bytes D0 = B({0xD0});
constexpr CommandType plu_count = CommandType::get_plu_count;  // D0

// A kept-open device on `sims`, connected.
void connect_kept_open(device& d, std::initializer_list<qv_sim::sim_scale*> sims)
{
    d.permanent_connection = true;
    for (auto* s : sims) {
        qv_sim::add_connect_replies(*s)->set_plu_count(10000);
        add_scale(d, *s, 1);
    }
    ASSERT_EQ(d.connect(), 0);
    d.results.clear();
}

TEST(Send, FramingAndValidation)
{
    const struct {
        bool with_password, with_count;
        bytes frame;
        std::size_t payload;  // bytes of value 0x55
        std::string password;
        bytes head;  // the request's first bytes
        std::size_t size;
    } table[] = {
        {false, false, D0, 253, "", B({2, 0xFE, 0xD0, 0x55}), 256},  // a body of 254 bytes: its size
        {false, false, D0, 254, "", B({2, 0xFF, 0xD0, 0x55}), 257},  // FF for every body of 255 or more
        {true, false, D0, 1, "12345", B({2, 6, 0xD0, 0, 0, 0, 0, 0x55}), 8},  // not 4 characters: zeros
        // Four Cyrillic letters: 8 UTF-8 bytes, 4 characters, 4 code-page bytes.
        {true, false, D0, 0, "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87", B({2, 5, 0xD0, 0xCA, 0xEB, 0xFE, 0xF7}), 7},
        {false, false, B({0xFF, 0x13}), 2, "", B({2, 4, 0xFF, 0x13, 0x55, 0x55}), 6},
    };
    for (const auto& c : table) {
        const bytes frame = device::build_request_frame(c.with_password, c.with_count, c.frame,
                                                        bytes(c.payload, std::byte{0x55}), c.password);
        ASSERT_EQ(frame.size(), c.size) << qv_sim::hex(c.head);
        EXPECT_EQ(bytes(frame.begin(), frame.begin() + static_cast<long>(c.head.size())), c.head);
    }
    bytes long_reply = B({2, 0x2A, 0xD0, 0});
    long_reply.resize(300);
    // The checks in their order: length, STX, LEN (size - 2 modulo 256; FF: any), the result byte (unsigned).
    // clang-format off
    const std::pair<bytes, int> replies[] = {
        {{}, -1}, {B({3, 1, 0xD0}), -101}, {B({3, 2, 0xD0, 0}), -102}, {B({2, 5, 0xD0, 0}), -103}, {long_reply, 0},
        {B({2, 0xFF, 0xD0, 0, 1}), 0}, {B({2, 2, 0xAB, 0xAC}), 172}, {B({2, 3, 0xFF, 0x41, 0x7A}), 122},
        {B({2, 0xFF, 0xFF, 0x41}), -101}};  // the last: a two-byte command without its result byte
    // clang-format on
    for (const auto& [reply, expected] : replies)
        EXPECT_EQ(device::response_validation(reply), expected) << qv_sim::hex(reply);
}

using Sending = device_test_base;

TEST_F(Sending, ReplyIsFiledUnderTheListEntryAndUploadStatusKeepsTotal)
{
    qv_sim::sim_scale sim("127.0.0.3");
    d.ip_address_list.push_back({"127.0.0.03", sim.port_text(), "abcdef", 1, ""});  // another spelling
    EXPECT_EQ(d.send_command(CommandType::upload_config_file, false, B({7})), 0);
    EXPECT_EQ(d.results.at("127.0.0.03"), 0);
    EXPECT_EQ(d.responses.count("127.0.0.03"), 1u);
    // The 1B frame carries the password's character count, the TCP request its length.
    EXPECT_EQ(sim.requests().at(0).raw, B({9, 0, 0, 0, 2, 7, 0x1B, 6, 0, 0, 0, 0, 7}));
    // The upload status: a silent scale gets -3, the total stays 0, and it is asked again.
    sim.set_fault(silent());
    EXPECT_EQ(d.send_command(CommandType::upload_any_file, true, B({9})), 0);
    EXPECT_EQ(d.results.at("127.0.0.03"), -3);
    sim.clear_faults();
    EXPECT_EQ(d.send_command(CommandType::upload_any_file, true, B({9})), 0);
    EXPECT_EQ(d.results.at("127.0.0.03"), 0);
}

TEST_F(Sending, ABadEntrySendsToNobodyAndTheNextSendIsWhole)
{
    qv_sim::sim_scale sim("127.0.0.2");
    add_scale(d, sim, 1);
    // A port no service answers to, then a password character outside the code table.
    for (const auto& [port, password] :
         {std::pair{std::string("no-such-svc"), std::string("1234")}, {sim.port_text(), "ab\xE4\xB8\xAD\x63"}}) {
        d.ip_address_list.push_back({"127.0.0.3", port, password, 1, ""});
        device_test::log_capture log;
        EXPECT_EQ(d.send_command(plu_count, true), -1000);
        EXPECT_TRUE(d.responses.empty());
        EXPECT_EQ(log.lines().back().rfind("send_command err: ", 0), 0u);
        d.ip_address_list.pop_back();
    }
    EXPECT_EQ(sim.request_count(), 0u);
    d.stop_requested = true;
    EXPECT_EQ(d.send_command(plu_count, true), -9);
    d.stop_requested = false;
    d.results.clear();  // as the dispatcher does before a command
    EXPECT_EQ(d.send_command(plu_count, true), 0);
    EXPECT_EQ(sim.request_count(), 1u);  // nothing goes out once a stop is raised
}

// Stored 172 and -3 are asked again; any other is skipped with its line, kept, and fails the send.
TEST_F(Sending, SkipRuleByTheStoredResult)
{
    qv_sim::sim_scale sim("127.0.0.126"), other("127.0.0.127");
    add_scale(d, sim, 1);
    for (const auto& [stored, sent] : {std::pair{172, true}, {-3, true}, {-1, false}, {-112, false}}) {
        SCOPED_TRACE(stored);
        sim.clear_requests();
        d.results = {{"127.0.0.126", stored}};
        device_test::log_capture log;
        EXPECT_EQ(d.send_command(plu_count, true), sent ? 0 : -1);
        EXPECT_EQ(sim.request_count(), sent ? 1u : 0u);
        EXPECT_EQ(d.results.at("127.0.0.126"), sent ? 0 : stored);
        EXPECT_EQ(log.contains("REQUEST FOR 127.0.0.126: " +
                               std::string(stored == -112 ? "file already received"
                                                          : "not send, because last request had the result = " +
                                                                std::to_string(stored))),
                  !sent);
    }
    // A scale that answered 172 and then stays silent has failed this exchange: -1, with its "BAD RESULT" line.
    sim.on({0xD0}, 0xAC);
    d.results.clear();
    EXPECT_EQ(d.send_command(plu_count, true), 172);
    sim.set_fault(silent());
    device_test::log_capture log;
    EXPECT_EQ(d.send_command(plu_count, true), -1);
    EXPECT_EQ(d.results.at("127.0.0.126"), -1);
    EXPECT_TRUE(log.contains("BAD RESULT FOR 127.0.0.126: -1"));
    add_scale(d, other, 1);
    EXPECT_EQ(d.send_command(plu_count, true), -111);
}

// Kept-open scales: one after the other in list order, each in its link's turn.
TEST_F(Sending, KeptOpenScalesOneAfterTheOtherUnderTheExchangeLock)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale a("127.0.0.122"), b("127.0.0.121");  // list order, not address order
    connect_kept_open(d, {&a, &b});
    std::vector<std::string> expected{"send_command() for D0 "};
    for (const std::string ip : {"127.0.0.122", "127.0.0.121"})
        expected.insert(
            expected.end(),
            {"io_service reset, starting run() for " + ip, "handlers registered, running io_service for " + ip,
             "REQUEST FOR " + ip + ": (11 bytes) 07 00 00 00 02 05 D0 ** ** ** ** ",
             "READ MESSAGE SIZE FOR " + ip + ": (4 bytes) 6", "RESPONSE FOR " + ip + ": (6 bytes) 02 04 D0 00 10 27 "});
    expected.insert(expected.end(), {"RESULT FOR 127.0.0.122: 0", "RESULT FOR 127.0.0.121: 0", "TOTAL RESULT: 0"});
    std::atomic<bool> held{false};
    std::thread holder([&, client = d.permanent_clients.at("127.0.0.121")] {
        const link_turn turn(client->turns(), nullptr);
        held = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    device_test::log_capture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.send_command(plu_count, true), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    holder.join();
    EXPECT_EQ(log.lines(), expected);
}

// The request lines show password bytes (and the new password) as "**".
TEST_F(Sending, PasswordsNeverReachTheTrafficLines)
{
    qv_sim::sim_scale sim("127.0.0.2");
    add_scale(d, sim, 0);
    const struct {
        bool with_password;
        CommandType command;
        bytes data;
        std::string line;
    } table[] = {
        {true, plu_count, B({0x55}), "(8 bytes) 02 06 D0 ** ** ** ** 55 "},
        {true, CommandType::edit_password, B({0x35, 0x36, 0x37, 0x38, 0x55}),
         "(12 bytes) 02 0A 16 ** ** ** ** ** ** ** ** 55 "},
        {false, CommandType::download_config_file, {}, "(8 bytes) 02 06 1C 04 ** ** ** ** "},
    };
    for (const auto& c : table) {
        device_test::log_capture log;
        d.results.clear();
        d.send_command(c.command, c.with_password, c.data);
        EXPECT_TRUE(log.contains("REQUEST FOR 127.0.0.2: " + c.line)) << c.line;
    }
}

// A UDP request is one datagram, which IPv4 limits to 65507 bytes: up to that it goes out whole and is answered; one
// byte more is refused with -104 for the whole list before anything is sent, a TCP scale of the list included. TCP takes
// the longest text the field holds. In kept-open mode a UDP scale of the list has no link and is sent nothing, so the
// request goes to the TCP scale connected before it.
TEST_F(Sending, ARequestLongerThanOneDatagramIsRefusedForTheWholeList)
{
    qv_sim::sim_scale udp("127.0.0.2"), tcp("127.0.0.3"), tcp_after("127.0.0.4");
    const std::string refusal =
        "refused request for 127.0.0.2: 65508 bytes over UDP; allowed: at most 65507 bytes, one datagram";
    struct listed {
        qv_sim::sim_scale* sim;
        int protocol;
        bool receives;  // the request reaches it
    };
    const struct {
        const char* what;
        bool kept_open;  // connected by 0 first, which stops at a UDP scale with -1
        std::vector<listed> list;
        std::size_t text;  // StaticTextProp's size: 11 bytes of frame around it
        int result;
    } cases[] = {
        {"UDP, the longest datagram", false, {{&udp, 0, true}}, 65496, 0},
        {"UDP, one byte more", false, {{&udp, 0, false}}, 65497, -104},
        {"TCP then UDP, one byte more", false, {{&tcp, 1, false}, {&udp, 0, false}}, 65497, -104},
        {"TCP then UDP, the longest datagram", false, {{&tcp, 1, true}, {&udp, 0, true}}, 65496, 0},
        {"one-shot TCP", false, {{&tcp, 1, true}}, 65535, 0},
        {"kept-open TCP", true, {{&tcp, 1, true}}, 65535, 0},
        {"kept-open TCP, UDP, TCP, one byte more", true, {{&tcp, 1, true}, {&udp, 0, false}, {&tcp_after, 1, false}},
         65497, -111},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        d.permanent_connection = c.kept_open;
        d.ip_address_list.clear();
        bool udp_listed = false;
        for (const auto& [sim, protocol, receives] : c.list) {
            qv_sim::add_connect_replies(*sim);
            add_scale(d, *sim, protocol);
            udp_listed = udp_listed || protocol == 0;
        }
        if (c.kept_open) {
            ASSERT_EQ(d.execute_command(0), udp_listed ? -1 : 0);
        }
        for (const auto& l : c.list) l.sim->clear_requests();
        d.set_int_param(ParamType::StringNumber, d.input_params, 1);
        d.set_bytes_array_param(ParamType::StaticTextProp, d.input_params, bytes(c.text, std::byte{'a'}));
        const device_test::log_capture log;
        EXPECT_EQ(d.execute_command(int(CommandType::set_user_text_utf8)), c.result);
        EXPECT_EQ(log.contains(refusal), c.result == -104);
        for (const auto& [sim, protocol, receives] : c.list) {
            ASSERT_EQ(sim->request_count(), receives ? 1u : 0u) << sim->ip();
            if (receives) {
                EXPECT_EQ(sim->requests().at(0).frame.size(), c.text + 11) << sim->ip();
            }
        }
    }
}

}  // namespace

// Command 122: a scale that answers "in progress" once, then nothing, fails with -1; another scale is polled on.
TEST_F(Sending, ScaleSilentAfterInProgressEndsTheEncryptionPoll)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    auto& timing = qv_polling_internal::timing();
    const auto saved = timing;
    timing.encryption_period = std::chrono::milliseconds(20);
    for (const bool two : {false, true}) {
        SCOPED_TRACE(two ? "two scales" : "one scale");
        device dev;
        dev.timeout_seconds = 1;
        qv_sim::sim_scale fading("127.0.0.140"), working("127.0.0.141");
        std::atomic<int> polls{0};
        fading.on({0xFF, 0x40}, [&](const qv_sim::request& r) -> qv_sim::reply {
            if (polls++ == 0) return qv_sim::reply_frame(r.command, 172);
            return {qv_sim::reply_frame(r.command, 172), silent()};
        });
        std::atomic<int> working_polls{0};
        working.on({0xFF, 0x40}, [&](const qv_sim::request& r) -> qv_sim::reply {
            return qv_sim::reply_frame(r.command, working_polls++ < 3 ? 172 : 0);
        });
        add_scale(dev, fading, 1);
        if (two) add_scale(dev, working, 0);
        dev.set_bytes_array_param(ParamType::Scenarios, dev.input_params, B({1, 2, 3}), false);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(dev.execute_command(122), two ? -111 : -1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
        EXPECT_EQ(dev.results.at("127.0.0.140"), -1);
        EXPECT_EQ(polls.load(), 2);  // asked again once, then skipped
        if (two) {
            EXPECT_EQ(dev.results.at("127.0.0.141"), 0);
        }
    }
    timing = saved;
}

// A stop ends command 47's wait for a silent scale on every transport with -9 and nothing sent after it; then "127,
// then destroy" from a second thread while a command waits for a slow reply frees nothing under it (sanitizers).
TEST(Lifecycle, StopEndsTheWaitForASilentScaleAndStopThenDestroyWhileACommandWaits)
{
    const test_deadline deadline{std::chrono::seconds(40)};
    device_test::init_test_log();
    for (const int transport : {0, 1, 2}) {  // UDP, TCP, kept-open TCP
        SCOPED_TRACE(transport);
        qv_sim::sim_scale sim("127.0.0.142"), next("127.0.0.145");
        void* h = nullptr;
        ASSERT_EQ(create(&h), 0);
        device& dev = *static_cast<device*>(h);
        if (transport == 2)
            connect_kept_open(dev, {&sim, &next});
        else
            for (auto* s : {&sim, &next}) qv_sim::add_connect_replies(*s), add_scale(dev, *s, transport);
        dev.timeout_seconds = 4;
        sim.set_fault(silent());
        sim.clear_requests(), next.clear_requests();
        const std::size_t next_asked = transport == 2 ? 0 : 1;
        std::atomic<int> result{1};
        std::thread command([&] { result = dev.execute_command(47); });
        ASSERT_TRUE(sim.wait_for_requests(1, std::chrono::seconds(3)));
        ASSERT_TRUE(next.wait_for_requests(next_asked, std::chrono::seconds(3)));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // inside the wait
        const auto stop = std::chrono::steady_clock::now();
        EXPECT_EQ(dev.execute_command(47), -2);  // a second thread's command is refused, not queued
        device_test::log_capture log;
        EXPECT_EQ(dev.execute_command(127), 0);
        command.join();
        EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(2));  // well within the 4 s time-out
        EXPECT_EQ(result.load(), -9);
        EXPECT_TRUE(log.contains("Result code for command 47 : -9. " +
                                 dev.current_error_texts()->get_text(ErrorType::CommandStopped)));
        EXPECT_EQ(dev.results.at("127.0.0.142"), -9);
        if (next_asked) {
            EXPECT_EQ(dev.results.at("127.0.0.145"), -9);
        }
        const std::size_t at_return = sim.request_count() + next.request_count();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(at_return, 1 + next_asked);
        EXPECT_EQ(sim.request_count() + next.request_count(), at_return);
        // The device goes on: a stop while nothing runs leaves nothing for the next command.
        sim.clear_faults();
        EXPECT_EQ(dev.execute_command(127), 0);
        EXPECT_EQ(dev.execute_command(47), 0);

        qv_sim::fault late;
        late.delay = std::chrono::milliseconds(1500);
        sim.set_fault(late);
        sim.clear_requests(), next.clear_requests();
        std::thread slow([&] { result = execute_command(h, 47); });
        ASSERT_TRUE(sim.wait_for_requests(1, std::chrono::seconds(3)));
        ASSERT_TRUE(next.wait_for_requests(next_asked, std::chrono::seconds(3)));
        std::thread host([&] {
            EXPECT_EQ(execute_command(h, 127), 0);
            destroy(&h);
        });
        host.join();
        slow.join();
        EXPECT_EQ(result.load(), -9);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(sim.request_count() + next.request_count(), 1 + next_asked);
        long long value = 0;
        EXPECT_EQ(get_int_param(h, 17, &value), -1000);
        EXPECT_EQ(execute_command(h, 47), -1000);
    }
}

// After a dropped foreign reply timed an exchange out, each following kept-open exchange has its own deadline.
TEST_F(Sending, KeptOpenExchangesAfterADroppedForeignReplyHaveTheirOwnDeadline)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale sim("127.0.0.143");
    connect_kept_open(d, {&sim});
    std::atomic<bool> foreign{true};
    sim.on({0xD0}, [&](const qv_sim::request& r) -> qv_sim::reply {
        if (foreign.exchange(false)) return qv_sim::reply_frame({0xAB}, 0, {0x00});  // only someone else's answer
        return qv_sim::reply_frame(r.command, 0, {0x10, 0x27});
    });
    EXPECT_EQ(d.send_command(plu_count, true), -1);
    for (int k = 0; k < 5; ++k) {
        d.results.clear();
        EXPECT_EQ(d.send_command(plu_count, true), 0) << k;
    }
}

// An empty reply (a TCP count of 0, an empty datagram) fails its exchange with -1 on every transport, and the next
// request on that scale is answered, over the same kept-open connection.
TEST_F(Sending, AnEmptyReplyFailsItsExchangeAndTheNextIsAnswered)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    const struct {
        const char* name;
        int protocol;
        bool kept_open;
    } transports[] = {{"UDP", 0, false}, {"one-shot TCP", 1, false}, {"kept-open TCP", 1, true}};
    for (const auto& t : transports) {
        SCOPED_TRACE(t.name);
        device fresh;
        fresh.timeout_seconds = 1;
        qv_sim::sim_scale sim("127.0.0.145");
        if (t.kept_open) {
            connect_kept_open(fresh, {&sim});
        } else {
            add_scale(fresh, sim, t.protocol);
            qv_sim::add_connect_replies(sim)->set_plu_count(10000);
        }
        qv_sim::fault empty;
        empty.empty_body = true, empty.times = 1;
        sim.set_fault(empty);
        EXPECT_EQ(fresh.send_command(plu_count, true), -1);
        fresh.results.clear();
        EXPECT_EQ(fresh.send_command(plu_count, true), 0);
        EXPECT_EQ(sim.connections(), t.protocol == 0 ? 0u : t.kept_open ? 1u : 2u);
    }
}
