// The exact log lines of the scale link.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "link/permanent_tcp_client.h"
#include "link/tcp_client.h"
#include "link/udp_client.h"
#include "logging/logger.h"
#include "logging/logger_test_seam.h"
#include "sim_scale.h"

using namespace qv_sim;
using namespace std::chrono_literals;

namespace {

// The messages logged since construction, without the record heads. The
// log is set up once per process under a temporary home folder.
class log_capture {
public:
    log_capture()
    {
        static std::once_flag once;
        std::call_once(once, [] {
            static std::string home;
            char tmpl[] = "/tmp/qv_link_tests_XXXXXX";
            home = ::mkdtemp(tmpl);
            qv_logging_internal::set_home_folder(home);
            Logger::init_log("link_tests_");
            std::atexit([] {
                std::error_code ec;
                std::filesystem::remove_all(home, ec);
            });
        });
        start_ = Logger::get_memory_log_data().size();
    }

    std::vector<std::string> lines() const
    {
        std::istringstream in(Logger::get_memory_log_data().substr(start_));
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            const std::size_t head = line.find("]: ");
            out.push_back(head == std::string::npos ? line : line.substr(head + 3));
        }
        return out;
    }

private:
    std::size_t start_ = 0;
};

const bytes frame = to_bytes({0x02, 0x05, 0xD0, '1', '2', '3', '4'});

bytes with_count(const bytes& f)
{
    bytes out = le32(static_cast<std::uint32_t>(f.size()));
    out.insert(out.end(), f.begin(), f.end());
    return out;
}

template <class Client>
void one_shot(const sim_scale& sim, const bytes& request)
{
    int timeout = 1;
    boost::asio::io_context context;
    auto client = std::make_unique<Client>(context, sim.ip(), sim.port_text(), timeout, request,
                                           [](bytes, std::string) {}, true);
    context.run();
    client.reset();
}

using lines = std::vector<std::string>;

}  // namespace

TEST(LinkLog, OneShotTcpTraffic)
{
    sim_scale sim("127.0.0.2");
    bytes data(146, std::byte{0xAB});  // a 150-byte body: the dump stops at 100 bytes
    sim.on({0xD0}, 0, data);
    log_capture log;
    one_shot<tcp_client>(sim, with_count(frame));
    std::string dump = "02 94 D0 00 ";
    for (int i = 0; i < 96; ++i)
        dump += "AB ";
    EXPECT_EQ(log.lines(), (lines{"REQUEST FOR 127.0.0.2: (11 bytes) 07 00 00 00 02 05 D0 31 32 33 34 ",
                                  "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) 150",
                                  "RESPONSE FOR 127.0.0.2: (150 bytes) " + dump}));
}

TEST(LinkLog, UdpTrafficAndEmptyReply)
{
    sim_scale sim("127.0.0.2");
    fault empty;
    empty.empty_body = true;
    sim.set_fault(empty);
    log_capture log;
    one_shot<udp_client>(sim, frame);
    EXPECT_EQ(log.lines(), (lines{"REQUEST FOR 127.0.0.2: (7 bytes) 02 05 D0 31 32 33 34 ",
                                  "RESPONSE FOR 127.0.0.2: (0 bytes) "}));
}

TEST(LinkLog, TimeOutDuringTheCountRead)
{
    sim_scale sim("127.0.0.2");
    fault silent;
    silent.silence = true;
    sim.set_fault(silent);
    log_capture log;
    one_shot<tcp_client>(sim, with_count(frame));
    const lines got = log.lines();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1], "RESPONSE FOR 127.0.0.2: timeout is done!");
    EXPECT_EQ(got[2].rfind("READ MESSAGE SIZE FOR 127.0.0.2: error in handle_receive_from ", 0), 0u);
}

TEST(LinkLog, OneShotCountOutOfRange)
{
    sim_scale sim("127.0.0.2");
    fault negative;
    negative.count = 0x80000000u;
    sim.set_fault(negative);
    log_capture log;
    one_shot<tcp_client>(sim, with_count(frame));
    const lines got = log.lines();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1], "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) -2147483648");
    EXPECT_EQ(got[2], "READ MESSAGE SIZE FOR 127.0.0.2: error in handle_read_message_size "
                      "reply size out of range: -2147483648");
}

TEST(LinkLog, KeptOpenLines)
{
    sim_scale sim("127.0.0.2");
    log_capture log;
    boost::asio::io_context context;
    auto client = std::make_unique<permanent_tcp_client>(context, sim.ip(), sim.port_text(), 1, true);
    auto exchange = [&] {
        context.restart();
        if (client->is_open())
            client->send_message(with_count(frame), [](bytes, std::string) {});
        else
            client->open_connection_and_send_message(with_count(frame), [](bytes, std::string) {});
        context.run();
    };
    exchange();
    fault negative;
    negative.count = 0xFFFFFFFEu;
    sim.set_fault(negative);
    exchange();
    EXPECT_FALSE(client->is_open());
    context.restart();
    client->send_message(with_count(frame), {});
    context.run();
    client.reset();
    EXPECT_EQ(log.lines(),
              (lines{"Connection established with 127.0.0.2",
                     "REQUEST FOR 127.0.0.2: (11 bytes) 07 00 00 00 02 05 D0 31 32 33 34 ",
                     "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) 4",
                     "RESPONSE FOR 127.0.0.2: (4 bytes) 02 02 D0 00 ",
                     "REQUEST FOR 127.0.0.2: (11 bytes) 07 00 00 00 02 05 D0 31 32 33 34 ",
                     "READ MESSAGE SIZE FOR 127.0.0.2: (4 bytes) -2",
                     "'handle_read_message_size' error: reply size out of range: -2",
                     "Attempt to send message on closed socket."}));
}
