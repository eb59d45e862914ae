// Request framing, group sending and reply validation, on simulated scales.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/device.h"
#include "device_test_util.h"
#include "send_test_util.h"
#include "sim_scale.h"

using namespace send_test;
using bytes = std::vector<std::byte>;
using clock_type = std::chrono::steady_clock;

namespace {

const bytes D0 = B({0xD0});

struct frame_case {
    const char* name;
    bool with_password;
    bool with_count;
    bytes frame;
    std::size_t payload;  // payload bytes of value 0x55
    std::string password;
    bytes expected_head;  // the frame's first bytes
    std::size_t expected_size;
};

class SendFraming : public ::testing::TestWithParam<frame_case> {};

TEST_P(SendFraming, BuildsTheRequest)
{
    const frame_case& c = GetParam();
    const bytes frame =
        device::build_request_frame(c.with_password, c.with_count, c.frame, bytes(c.payload, std::byte{0x55}), c.password);
    ASSERT_EQ(frame.size(), c.expected_size);
    EXPECT_EQ(bytes(frame.begin(), frame.begin() + static_cast<long>(c.expected_head.size())), c.expected_head);
}

INSTANTIATE_TEST_SUITE_P(
    Send, SendFraming,
    ::testing::Values(
        frame_case{"body254", false, false, D0, 253, "", B({2, 0xFE, 0xD0, 0x55}), 256},
        frame_case{"body255", false, false, D0, 254, "", B({2, 0xFF, 0xD0, 0x55}), 257},
        frame_case{"body256", false, false, D0, 255, "", B({2, 0xFF, 0xD0, 0x55}), 258},
        frame_case{"pw4", true, false, D0, 0, "1234", B({2, 5, 0xD0, 0x31, 0x32, 0x33, 0x34}), 7},
        frame_case{"pw0", true, false, D0, 0, "", B({2, 5, 0xD0, 0, 0, 0, 0}), 7},
        frame_case{"pw5", true, false, D0, 1, "12345", B({2, 6, 0xD0, 0, 0, 0, 0, 0x55}), 8},
        // Four Cyrillic letters: 8 UTF-8 bytes, 4 characters, 4 code-page bytes.
        frame_case{"pwCyrillic", true, false, D0, 0, "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87",
                   B({2, 5, 0xD0, 0xCA, 0xEB, 0xFE, 0xF7}), 7},
        frame_case{"count6", false, true, B({0x1B}), 0, "abcdef", B({2, 6, 0x1B, 6, 0, 0, 0, 0}), 8},
        frame_case{"count4", false, true, B({0x1C}), 0, "1234", B({2, 6, 0x1C, 4, 0x31, 0x32, 0x33, 0x34}), 8},
        frame_case{"passwordWins", true, true, B({0x1B}), 0, "1234", B({2, 5, 0x1B, 0x31, 0x32, 0x33, 0x34}), 7},
        frame_case{"twoByteCommand", false, false, B({0xFF, 0x13}), 2, "", B({2, 4, 0xFF, 0x13, 0x55, 0x55}), 6}),
    [](const auto& info) { return std::string(info.param.name); });

struct validation_case {
    const char* name;
    bytes reply;
    int expected;
};

bytes sized(bytes head, std::size_t size)
{
    head.resize(size, std::byte{0});
    return head;
}

class SendValidation : public ::testing::TestWithParam<validation_case> {};

TEST_P(SendValidation, Checks)
{
    EXPECT_EQ(device::response_validation(GetParam().reply), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Send, SendValidation,
    ::testing::Values(validation_case{"empty", {}, -1}, validation_case{"three", B({2, 1, 0xD0}), -101},
                      validation_case{"noStx", B({3, 2, 0xD0, 0}), -102},
                      validation_case{"lenMismatch", sized(B({2, 5, 0xD0, 0}), 8), -103},
                      validation_case{"lenFFAnySize", B({2, 0xFF, 0xD0, 0, 1}), 0},
                      validation_case{"len300mod256", sized(B({2, 0x2A, 0xD0, 0}), 300), 0},
                      validation_case{"resultUnsigned", B({2, 2, 0xAB, 0xAC}), 172},
                      validation_case{"oneByteCommand", B({2, 2, 0xAB, 0}), 0},
                      validation_case{"twoByteCommand", B({2, 3, 0xFF, 0x41, 0}), 0},
                      validation_case{"twoByteResult", B({2, 3, 0xFF, 0x41, 0x7A}), 122},
                      // Passes the length check but has no result byte at offset 4.
                      validation_case{"shortFF", B({2, 0xFF, 0xFF, 0x41}), -101},
                      validation_case{"shortFFcounted", B({2, 2, 0xFF, 0x41}), -101}),
    [](const auto& info) { return std::string(info.param.name); });

class Sending : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_test::init_test_log();
        d.timeout_seconds = 1;
    }
    device d;
};

TEST_F(Sending, TcpCarriesTheCountUdpTheBareFrame)
{
    qv_sim::sim_scale tcp("127.0.0.2");
    qv_sim::sim_scale udp("127.0.0.3");
    add_scale(d, tcp, 1);
    add_scale(d, udp, 0);
    EXPECT_EQ(d.send_command(true, D0), 0);
    const bytes frame = B({2, 5, 0xD0, 0x31, 0x32, 0x33, 0x34});
    ASSERT_EQ(tcp.request_count(), 1u);
    ASSERT_EQ(udp.request_count(), 1u);
    EXPECT_EQ(tcp.requests()[0].raw, cat(B({7, 0, 0, 0}), frame));
    EXPECT_EQ(udp.requests()[0].raw, frame);
    EXPECT_EQ(d.results.size(), 2u);
    EXPECT_EQ(d.responses.size(), 2u);
}

TEST_F(Sending, ConfigurationFrameCarriesThePasswordCount)
{
    qv_sim::sim_scale sim("127.0.0.2");
    add_scale(d, sim, 0, "abcdef");
    EXPECT_EQ(d.send_command(false, d.command_frames.at(CommandType::upload_config_file), B({7})), 0);
    ASSERT_EQ(sim.request_count(), 1u);
    EXPECT_EQ(sim.requests()[0].raw, B({2, 7, 0x1B, 6, 0, 0, 0, 0, 7}));
}

TEST_F(Sending, EmptyListKeepsTheLastReplies)
{
    d.responses["x"] = B({1});
    device_test::log_capture log;
    EXPECT_EQ(d.send_command(true, D0), -1);
    EXPECT_EQ(d.responses.size(), 1u);
    EXPECT_TRUE(log.contains("send_command() for D0 "));
}

TEST_F(Sending, ThreeScalesOneSilentFailsTheGroupInAboutOneTimeout)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3"), c("127.0.0.4");
    qv_sim::fault silent;
    silent.silence = true;
    b.set_fault(silent);
    for (auto* s : {&a, &b, &c}) add_scale(d, *s, 1);
    device_test::log_capture log;
    const auto start = clock_type::now();
    EXPECT_EQ(d.send_command(true, D0), -111);
    const auto elapsed = clock_type::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(2500));  // all asked at once, not one after the other
    EXPECT_EQ(d.results.at("127.0.0.2"), 0);
    EXPECT_EQ(d.results.at("127.0.0.3"), -1);
    EXPECT_EQ(d.results.at("127.0.0.4"), 0);
    EXPECT_TRUE(log.contains("BAD RESULT FOR 127.0.0.3: -1"));
    EXPECT_TRUE(log.contains("TOTAL RESULT: -111"));
}

TEST_F(Sending, OneScaleGivesItsOwnCode)
{
    qv_sim::sim_scale sim("127.0.0.2");
    sim.on({0xD0}, 0xAC);
    add_scale(d, sim, 1);
    EXPECT_EQ(d.send_command(true, D0), 172);
    qv_sim::fault stx;
    stx.first_byte = 3;
    sim.set_fault(stx);
    EXPECT_EQ(d.send_command(true, D0), -102);
    EXPECT_EQ(d.responses.count("127.0.0.2"), 1u);  // a malformed reply is kept
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

    // The upload status request: a silent scale becomes -3 and the total stays 0.
    d.results.clear();
    qv_sim::fault silent;
    silent.silence = true;
    b.set_fault(silent);
    const bytes upload = d.command_frames.at(CommandType::upload_any_file);
    EXPECT_EQ(d.send_command(true, upload, B({9})), 0);
    EXPECT_EQ(d.results.at("127.0.0.3"), -3);
    // The next request of the command still goes to it.
    b.clear_faults();
    EXPECT_EQ(d.send_command(true, upload, B({9})), 0);
    EXPECT_EQ(d.results.at("127.0.0.3"), 0);
}

TEST_F(Sending, ReplyIsFiledUnderTheListEntry)
{
    qv_sim::sim_scale sim("127.0.0.3");
    add_scale(d, "127.0.0.03", sim.port_text(), 1);  // same address, another spelling
    EXPECT_EQ(d.send_command(true, D0), 0);
    EXPECT_EQ(d.results.at("127.0.0.03"), 0);
    EXPECT_EQ(d.responses.count("127.0.0.03"), 1u);
}

TEST_F(Sending, UnresolvablePortSendsToNobody)
{
    qv_sim::sim_scale sim("127.0.0.2");
    add_scale(d, sim, 1);
    add_scale(d, "127.0.0.3", "no-such-svc", 1);
    device_test::log_capture log;
    EXPECT_EQ(d.send_command(true, D0), -1000);
    EXPECT_TRUE(d.responses.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(Sending, PasswordOutsideTheCodeTable)
{
    qv_sim::sim_scale sim("127.0.0.2");
    add_scale(d, sim, 1, "ab\xE4\xB8\xAD" "c");
    device_test::log_capture log;
    EXPECT_EQ(d.send_command(true, D0), -1000);
    EXPECT_TRUE(log.contains("send_command err: map::at"));
}

TEST_F(Sending, StopRequestTurnsEveryResultIntoMinus9)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3");
    qv_sim::fault slow;
    slow.delay = std::chrono::milliseconds(400);
    a.set_fault(slow);
    add_scale(d, a, 1);
    add_scale(d, b, 0);
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        d.stop_requested = true;
    });
    EXPECT_EQ(d.send_command(true, D0), -9);
    stopper.join();
    EXPECT_EQ(d.results.at("127.0.0.2"), -9);
    EXPECT_EQ(d.results.at("127.0.0.3"), -9);
}

TEST_F(Sending, OtherProtocolIsNeverSent)
{
    qv_sim::sim_scale sim("127.0.0.2");
    add_scale(d, sim, 2);
    EXPECT_EQ(d.send_command(true, D0), -1);
    EXPECT_EQ(sim.request_count(), 0u);
}

}  // namespace
