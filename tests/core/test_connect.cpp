// The scale list, connect in both connection types, and the version and serial replies.
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <filesystem>
#include <future>
#include <iterator>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "core/vocab/errors_text.h"
#include "hanging_listener.h"
#include "test_hooks/test_hooks.h"
#include "quorvix_driver.h"
#include "send_test_util.h"
#include "test_deadline.h"

using namespace send_test;

namespace {

// Event loops, and sockets, still to be made before one finds no descriptor; -1: every one is made.
std::atomic<int> event_loops_before_exhaustion{-1};
std::atomic<int> sockets_before_exhaustion{-1};

// True when the countdown has reached the call that is to fail.
bool exhausted(std::atomic<int>& countdown)
{
    int left = countdown.load();
    while (left >= 0 && !countdown.compare_exchange_weak(left, left - 1)) {
    }
    return left == 0;
}

}  // namespace

// Every event loop asks for its epoll descriptor here (this test program's own definition stands in for the C
// library's): a test runs one loop out of descriptors while the process keeps the rest. The sanitizers check a type
// by opening a pipe, so a process truly out of descriptors aborts in the first check it has not made before.
extern "C" int epoll_create1(int flags) noexcept
{
    if (exhausted(event_loops_before_exhaustion)) {
        errno = EMFILE;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_epoll_create1, flags));
}

// Likewise for the link's socket, made once its event loop is there.
extern "C" int socket(int domain, int type, int protocol) noexcept
{
    if (exhausted(sockets_before_exhaustion)) {
        errno = EMFILE;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_socket, domain, type, protocol));
}

namespace {

// The three ways to a scale: kept-open or not, the scale's protocol, and a name for the trace.
const struct {
    bool kept_open;
    int protocol;
    const char* name;
} every_transport[] = {{false, 0, "UDP"}, {false, 1, "TCP"}, {true, 1, "kept-open"}};

class Connecting : public device_test_base {
protected:
    std::wstring out(ParamType p)
    {
        std::wstring s;
        EXPECT_EQ(d.get_string_param(p, d.output_params, s, false), 0) << int(p);
        return s;
    }
    void set_scale(const std::wstring& ip, const std::wstring& port)
    {
        d.set_string_param(ParamType::Ip, d.input_params, ip);
        d.set_string_param(ParamType::Port, d.input_params, port);
        d.set_string_param(ParamType::AdminPassword, d.input_params, L"1234");
    }
};

TEST_F(Connecting, OneShotConnectReplacesTheListAndReadsTheScale)
{
    qv_sim::sim_scale sim("127.0.0.2");
    qv_sim::add_connect_replies(sim)->set_serial_number(std::string("AB12\0\0", 6));  // zero bytes are dropped
    EXPECT_EQ(d.connect(), -7);  // neither a list nor parameters
    d.ip_address_list.push_back({"127.0.0.5", "1", "1234", 0, ""});
    set_scale(L"127.0.0.2", std::to_wstring(sim.port()));
    d.set_int_param(ParamType::Protocol, d.input_params, 1);
    d.set_int_param(ParamType::ConnectTimeout, d.input_params, 2);
    EXPECT_EQ(d.connect(), 0);
    ASSERT_EQ(d.ip_address_list.size(), 1u);
    EXPECT_EQ(d.ip_address_list[0].serial_number, "AB12");
    EXPECT_EQ(d.timeout_seconds, 2);  // the connect's own time-out
    // 0 or below would fail every later exchange at once: refused before the list changes.
    for (const int timeout : {0, -1}) {
        d.set_int_param(ParamType::ConnectTimeout, d.input_params, timeout);
        set_scale(L"127.0.0.3", std::to_wstring(sim.port()));
        EXPECT_EQ(d.connect(), -104) << timeout;
        EXPECT_EQ(d.timeout_seconds, 2);
        EXPECT_EQ(d.ip_address_list.at(0).ip, "127.0.0.2");
    }
    EXPECT_EQ(out(ParamType::ScaleProtocolVersion) + out(ParamType::SerialNumber), L"0.17AB12");
    set_scale(L"127.0.0.2", L"5001");
    EXPECT_EQ(d.add_ip_to_list(), -109);  // the same IP text; the port is not compared
    for (const wchar_t* port : {L"65536", L"99999999999"}) {  // out of range, also past 32 bits
        d.ip_address_list.clear();
        set_scale(L"127.0.0.2", port);
        EXPECT_EQ(d.add_ip_to_list(), -104);
        EXPECT_TRUE(d.ip_address_list.empty());
    }
}

// The version marks (-107 newer, -108 older) never fail a connect.
TEST_F(Connecting, SeveralScalesSortAsTextAndSerialsFollowTheList)
{
    qv_sim::sim_scale a("127.0.0.9"), b("127.0.0.10");
    auto ida = qv_sim::add_connect_replies(a), idb = qv_sim::add_connect_replies(b);
    ida->set_serial_number("S9");
    ida->set_protocol_version(0, 16);
    idb->set_serial_number("S10");
    idb->set_protocol_version(0, 18);
    add_scale(d, a, 1);
    add_scale(d, b, 0);
    EXPECT_EQ(d.connect(), 0);
    // "127.0.0.9" sorts after "127.0.0.10": its version is the one left.
    EXPECT_EQ(out(ParamType::ScaleProtocolVersion), L"0.16");
    EXPECT_EQ(out(ParamType::SerialNumber), L"127.0.0.9: S9; 127.0.0.10: S10; ");
    d.results.clear();
    EXPECT_EQ(d.get_quorvix_protocol_version(), 0);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.9", -108}, {"127.0.0.10", -107}}));
}

TEST_F(Connecting, ShortRepliesGiveMinus101AndNoOutputAndTextsCannotForgeLogRecords)
{
    qv_sim::sim_scale sim("127.0.0.2");
    add_scale(d, sim, 1);
    // LEN 0xFF passes the length check, yet the reply holds 2 bytes of data.
    sim.on({0xAE}, [](const qv_sim::request&) { return qv_sim::reply(B({2, 0xFF, 0xAE, 0, 'A', 'B'})); });
    d.results.clear();
    EXPECT_EQ(d.get_serial_number(), -101);
    EXPECT_EQ(d.results.at("127.0.0.2"), -101);
    EXPECT_TRUE(d.ip_address_list[0].serial_number.empty() && d.output_params.empty());
    qv_sim::add_connect_replies(sim)->set_serial_number("S1\n[info]: forged");
    d.results.clear();
    device_test::log_capture log;
    EXPECT_EQ(d.get_serial_number(), 0);
    EXPECT_TRUE(log.contains("set string param \"(205) SerialNumber\": S1\\x0A[info]: forged"));
    EXPECT_EQ(out(ParamType::SerialNumber), L"S1\n[info]: forged");  // the value itself is kept
}

TEST_F(Connecting, KeptOpenConnectionsAreOpenedOnceAndReused)
{
    qv_sim::sim_scale a("127.0.0.2"), late("127.0.0.4");
    qv_sim::add_connect_replies(a);
    d.permanent_connection = true;
    add_scale(d, a, 1);
    EXPECT_EQ(d.connect(), 0);
    d.results.clear();
    EXPECT_EQ(d.get_serial_number(), 0);
    EXPECT_EQ(a.connections(), 1u);
    EXPECT_EQ(a.request_count(), 3u);  // AB, AE and AE again on one connection
    add_scale(d, late, 1);  // added after the connect: no link, nothing sent
    EXPECT_EQ(d.get_serial_number(), -111);
    EXPECT_EQ(d.disconnect(), 0);
    EXPECT_TRUE(d.permanent_clients.empty() && d.io_contexts.empty());
}

// A wide text that holds no character (a lone surrogate, a value above U+10FFFF) is refused by 0 and 79 with -1000 and
// a line naming its position (a password's character never), on every transport, before anything is sent: 0 leaves
// the list empty, 79 as it was.
TEST_F(Connecting, AWideTextThatHoldsNoCharacterIsRefusedAndNothingIsSent)
{
    qv_sim::sim_scale sim("127.0.0.2");
    qv_sim::add_connect_replies(sim);
    const std::wstring port = std::to_wstring(sim.port());
    const struct {
        ParamType param;
        std::wstring value;
        std::string line;
    } cases[] = {
        {ParamType::AdminPassword, std::wstring(L"12") + wchar_t(0xD800) + L"4",
         "refused string param \"(3) AdminPassword\": code at position 3; allowed: Unicode characters (no surrogate, "
         "at most U+10FFFF)"},
        {ParamType::AdminPassword, std::wstring(L"1234") + wchar_t(0x110000),
         "refused string param \"(3) AdminPassword\": code at position 5; allowed: Unicode characters (no surrogate, "
         "at most U+10FFFF)"},
        {ParamType::Ip, L"127.0.0.2" + std::wstring(1, wchar_t(0xDFFF)),
         "refused string param \"(1) Ip\": code U+DFFF at position 10; allowed: Unicode characters (no surrogate, at "
         "most U+10FFFF)"},
        {ParamType::Port, port + wchar_t(0xD800),
         "refused string param \"(2) Port\": code U+D800 at position " + std::to_string(port.size() + 1) +
             "; allowed: Unicode characters (no surrogate, at most U+10FFFF)"},
    };
    for (const auto& [kept_open, protocol, transport] : every_transport)
        for (const auto& c : cases) {
            SCOPED_TRACE(c.line + " " + transport);
            d.permanent_connection = kept_open;
            for (const int command : {0, 79}) {
                d.ip_address_list = {{"127.0.0.9", "1", "1234", protocol, ""}};
                set_scale(L"127.0.0.2", port);
                d.set_string_param(c.param, d.input_params, c.value);
                d.set_int_param(ParamType::Protocol, d.input_params, protocol);
                const device_test::log_capture log;
                EXPECT_EQ(d.execute_command(command), -1000);
                EXPECT_TRUE(log.contains(c.line));
                EXPECT_EQ(sim.request_count(), 0u);
                EXPECT_EQ(d.ip_address_list.size(), command == 0 ? 0u : 1u);
            }
        }
    // The characters at the edges are taken, and a port given by its service name goes to the resolver.
    for (const wchar_t c : {wchar_t(0xD7FF), wchar_t(0xE000), wchar_t(0x10FFFF)}) {
        d.ip_address_list.clear();
        set_scale(L"127.0.0.2", L"domain");
        d.set_string_param(ParamType::AdminPassword, d.input_params, std::wstring(L"123") + c);
        EXPECT_EQ(d.execute_command(79), 0) << unsigned(c);
    }
}

// A list whose second scale has a password outside the code table: -1000 and nothing sent to either scale, also in
// kept-open mode where the scales are served one after the other; the warning names the scale, not the password.
TEST_F(Connecting, APasswordRefusedForTheSecondScaleSendsNothingToTheFirst)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3");
    qv_sim::add_connect_replies(a);
    qv_sim::add_connect_replies(b);
    for (const auto& [kept_open, protocol, transport] : every_transport) {
        SCOPED_TRACE(transport);
        d.permanent_connection = kept_open;
        d.ip_address_list.clear();
        add_scale(d, a, protocol);
        add_scale(d, b, protocol);
        ASSERT_EQ(d.execute_command(0), 0);  // both links open in kept-open mode
        d.ip_address_list[1].password = "12\xD0\x84" "4";
        const std::size_t sent_a = a.request_count(), sent_b = b.request_count();
        const device_test::log_capture log;
        EXPECT_EQ(d.execute_command(47), -1000);
        EXPECT_EQ(a.request_count(), sent_a);
        EXPECT_EQ(b.request_count(), sent_b);
        EXPECT_TRUE(log.contains("refused string param \"(3) AdminPassword\": character at position 3, scale 127.0.0.3; "
                                 "allowed: characters of the Windows-1251 table"));
        d.ip_address_list[1].password = "1234";  // the links still serve both
        EXPECT_EQ(d.execute_command(47), 0);
        EXPECT_EQ(a.request_count(), sent_a + 1);
        EXPECT_EQ(b.request_count(), sent_b + 1);
    }
}

// The resolver takes an empty Ip for the local machine, reads an Ip or Port only up to its first zero byte, and reads
// a Port with leading white space or a sign as a number whose low 16 bits it keeps, so it would carry the admin
// password to the local machine or to a scale the list holds under another text: 0 and 79 refuse such a text, narrow
// or wide, with -104 on every transport before anything is sent (a scale listening on 127.0.0.1 at that port hears
// nothing); 0 leaves the list empty, 79 as it was. Narrow text with malformed UTF-8, stored only up to the fault, is
// refused alike. An Ip that is no IPv4 text is kept by 79 as it stands.
TEST_F(Connecting, AnIpOrPortTheResolverWouldMisreadIsRefusedAndTheLocalMachineHearsNothing)
{
    qv_sim::sim_scale local("127.0.0.1"), listed("127.0.0.2");
    qv_sim::add_connect_replies(local);
    qv_sim::add_connect_replies(listed);
    const std::string port = local.port_text(), zero(1, '\0');
    // Numbers whose low 16 bits are the local scale's port, as the resolver would read them.
    const std::string wrapped = std::to_string(local.port() + 65536), below = std::to_string(65536 - local.port());
    std::string zeros_shown;  // sixteen zero bytes as the line escapes them
    for (int k = 0; k < 16; ++k) zeros_shown += "\\x00";
    const std::string ip_line = "refused string param \"(1) Ip\": \"",
                      port_line = "refused string param \"(2) Port\": \"",
                      ip_allowed = "\"; allowed: an address, no zero byte",
                      port_allowed = "\"; allowed: a port or service name, no zero byte",
                      range_line = "refused string param \"(2) Port\": ",
                      range_allowed = "; allowed: at most 65535, or a service name",
                      cut_ip_allowed = "\" cut at malformed UTF-8; allowed: an address, in well-formed UTF-8",
                      cut_port_allowed = "\" cut at malformed UTF-8; allowed: a port or service name, in well-formed UTF-8";
    const struct {
        std::string ip, port;
        std::string line;  // empty: taken by 79 (0 is not run: it would look the text up as a name)
        bool narrow_only = false;  // malformed UTF-8 has no wide form
    } cases[] = {
        {"", port, ip_line + "\"; allowed: an address, not empty"},
        {zero, port, ip_line + "\\x00" + ip_allowed},
        {zero + "127.0.0.1", port, ip_line + "\\x00127.0.0.1" + ip_allowed},
        {std::string(16, '\0'), port, ip_line + zeros_shown + ip_allowed},
        {"127.0.0.1" + zero + "junk", port, ip_line + "127.0.0.1\\x00junk" + ip_allowed},
        {"127.0.0.1", port + zero, port_line + port + "\\x00" + port_allowed},
        {"127.0.0.1", port + zero + "01", port_line + port + "\\x0001" + port_allowed},
        {"127.0.0.1", port + zero + "99999", port_line + port + "\\x0099999" + port_allowed},
        {" 127.0.0.2", port, ""},  // no IPv4 text, and another text than the listed scale's
        {"127.0.0.1", "+" + wrapped, range_line + "+" + wrapped + range_allowed},
        {"127.0.0.1", " " + wrapped, range_line + " " + wrapped + range_allowed},
        {"127.0.0.1", "\t" + wrapped, range_line + "\\x09" + wrapped + range_allowed},
        {"127.0.0.1", "-" + below, range_line + "-" + below + range_allowed},
        {"127.0.0.1", "+99999", range_line + "+99999" + range_allowed},
        {"127.0.0.1", "-1", range_line + "-1" + range_allowed},
        {"127.0.0.1\xC0\x80junk", port, ip_line + "127.0.0.1" + cut_ip_allowed, true},
        {"127.0.0.1\xC3", port, ip_line + "127.0.0.1" + cut_ip_allowed, true},
        {"\xFF", port, ip_line + cut_ip_allowed, true},
        {"127.0.0.1", port + "\xC0\x80" "99999", port_line + port + cut_port_allowed, true},
        {"127.0.0.1", port + "\xFF" "01", port_line + port + cut_port_allowed, true},
    };
    struct handle {
        void* h = nullptr;
        ~handle() { destroy(&h); }
    } instance;
    ASSERT_EQ(create(&instance.h), 0);
    void* const h = instance.h;
    device& dev = *static_cast<device*>(h);
    dev.timeout_seconds = 1;
    const auto set_text = [h](ParamType p, const std::string& text, bool wide) {
        return wide ? set_wstring_param(h, int(p), std::wstring(text.begin(), text.end()))
                    : set_string_param(h, int(p), text);
    };
    for (const auto& [kept_open, protocol, transport] : every_transport)
        for (const auto& c : cases)
            for (const bool wide : {false, true})
                for (const int command : {0, 79}) {
                    if ((c.line.empty() && command == 0) || (c.narrow_only && wide)) continue;
                    SCOPED_TRACE(std::string(transport) + (wide ? " wide " : " narrow ") + std::to_string(command) +
                                 " " + qv_sim::hex(qv_sim::to_bytes(c.ip + "/" + c.port)));
                    dev.permanent_connection = kept_open;
                    set_text(ParamType::Ip, listed.ip(), wide);
                    set_text(ParamType::Port, listed.port_text(), wide);
                    set_text(ParamType::AdminPassword, "1234", wide);
                    set_int_param(h, int(ParamType::Protocol), protocol);
                    ASSERT_EQ(execute_command(h, 0), 0);
                    listed.clear_requests();
                    EXPECT_EQ(set_text(ParamType::Ip, c.ip, wide), 0);
                    EXPECT_EQ(set_text(ParamType::Port, c.port, wide), 0);
                    set_text(ParamType::AdminPassword, "1234", wide);
                    set_int_param(h, int(ParamType::Protocol), protocol);
                    const device_test::log_capture log;
                    EXPECT_EQ(execute_command(h, command), c.line.empty() ? 0 : -104);
                    EXPECT_TRUE(c.line.empty() || log.contains(c.line)) << c.line;
                    EXPECT_EQ(listed.request_count(), 0u);
                    EXPECT_EQ(local.request_count(), 0u);
                    if (command == 0) {
                        EXPECT_TRUE(dev.ip_address_list.empty());
                        continue;
                    }
                    ASSERT_EQ(dev.ip_address_list.size(), c.line.empty() ? 2u : 1u);
                    EXPECT_EQ(dev.ip_address_list[0].ip, listed.ip());
                    if (c.line.empty()) {
                        EXPECT_EQ(dev.ip_address_list[1].ip, c.ip);
                        continue;
                    }
                    EXPECT_EQ(execute_command(h, 47), 0);  // the list's scale is reached as before
                    EXPECT_EQ(listed.request_count(), 1u);
                }
    // A port written with a blank or a plus before it names that port: the scale is reached, its text kept.
    for (const auto& [kept_open, protocol, transport] : every_transport)
        for (const std::string& written : {" " + listed.port_text(), "+" + listed.port_text()})
            for (const bool wide : {false, true}) {
                SCOPED_TRACE(std::string(transport) + (wide ? " wide \"" : " narrow \"") + written + "\"");
                dev.permanent_connection = kept_open;
                listed.clear_requests();
                set_text(ParamType::Ip, listed.ip(), wide);
                set_text(ParamType::Port, written, wide);
                set_text(ParamType::AdminPassword, "1234", wide);
                set_int_param(h, int(ParamType::Protocol), protocol);
                EXPECT_EQ(execute_command(h, 0), 0);
                EXPECT_GE(listed.request_count(), 2u);  // the version and the serial number
                ASSERT_EQ(dev.ip_address_list.size(), 1u);
                EXPECT_EQ(dev.ip_address_list[0].port, written);
            }
    // The mark of a cut text goes with that value: a host that sets the text again well-formed is served, and a
    // reader sees what was stored.
    dev.ip_address_list.clear();
    set_text(ParamType::Ip, "127.0.0.3\xC0\x80", false);
    std::string stored;
    EXPECT_EQ(get_input_string_param(h, int(ParamType::Ip), &stored), 0);
    EXPECT_EQ(stored, "127.0.0.3");
    set_text(ParamType::Ip, "127.0.0.3", false);
    set_text(ParamType::Port, port + "\xFF", false);
    set_text(ParamType::Port, port, true);
    set_text(ParamType::AdminPassword, "1234", false);
    EXPECT_EQ(execute_command(h, 79), 0);
}

// Each scale of a list gets its own frame: three scales that each know only their own password answer 0 to 47, and
// each request carries that scale's password bytes, on every transport.
TEST_F(Connecting, EachScaleOfAListGetsItsOwnPassword)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3"), c("127.0.0.4");
    const std::pair<qv_sim::sim_scale*, std::string> scales[] = {{&a, "1111"}, {&b, "2222"}, {&c, "3333"}};
    for (const auto& [sim, password] : scales) {
        qv_sim::add_connect_replies(*sim);
        sim->set_admin_password(password);
    }
    for (const auto& [kept_open, protocol, transport] : every_transport) {
        SCOPED_TRACE(transport);
        d.permanent_connection = kept_open;
        d.ip_address_list.clear();
        for (const auto& [sim, password] : scales) add_scale(d, *sim, protocol, password);
        ASSERT_EQ(d.execute_command(0), 0);
        for (const auto& [sim, password] : scales) sim->clear_requests();
        EXPECT_EQ(d.execute_command(47), 0);
        for (const auto& [sim, password] : scales) {
            ASSERT_EQ(sim->request_count(), 1u) << sim->ip();
            bytes frame = B({2, 5, 0xAE});  // the serial-number request, then the password's four bytes
            for (const std::byte b : qv_sim::to_bytes(password)) frame.push_back(b);
            EXPECT_EQ(sim->requests().at(0).frame, frame) << sim->ip();
            EXPECT_EQ(d.results.at(sim->ip()), 0) << sim->ip();
        }
    }
}

// The descriptors the process holds.
std::size_t open_descriptors()
{
    const std::filesystem::directory_iterator listing("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(listing), end(listing)));
}

// A kept-open connect whose event loop for the third scale finds no descriptor closes the two links it opened (four
// descriptors each) before it answers -1000, 82 shows -1000 for that scale, and the list stays, so that 0 connects it
// once descriptors are free.
TEST_F(Connecting, AKeptOpenConnectOutOfDescriptorsClosesItsLinksAndKeepsTheList)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    std::vector<std::unique_ptr<qv_sim::sim_scale>> sims;
    for (int k = 0; k < 5; ++k) {
        sims.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(60 + k)));
        qv_sim::add_connect_replies(*sims.back());
        add_scale(d, *sims.back(), 1);
    }
    d.set_int_param(ParamType::DriverConnectionType, d.input_params, 1);
    ASSERT_EQ(d.execute_command(143), 0);
    // The third scale's event loop, or its socket, is the one that finds none.
    const struct {
        std::atomic<int>& countdown;
        const char* line;
    } exhaustions[] = {{event_loops_before_exhaustion, "'connect' error: epoll: Too many open files"},
                       {sockets_before_exhaustion, "'connect' error: socket: Too many open files"}};
    for (const auto& exhaustion : exhaustions) {
        SCOPED_TRACE(exhaustion.line);
        const std::size_t before = open_descriptors();
        const device_test::log_capture log;
        exhaustion.countdown = 2;
        const int result = d.execute_command(0);
        exhaustion.countdown = -1;
        EXPECT_EQ(result, -1000);
        EXPECT_TRUE(log.contains(exhaustion.line));
        for (std::size_t k = 0; k < sims.size(); ++k)
            EXPECT_EQ(log.contains("Connection established with " + sims[k]->ip()), k < 2) << k;
        EXPECT_TRUE(d.permanent_clients.empty() && d.io_contexts.empty());
        // The scales close their ends once they read the end of the links.
        for (int k = 0; k < 500 && open_descriptors() != before; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(open_descriptors(), before);

        ASSERT_EQ(d.execute_command(82), 0);
        std::vector<std::byte> list;
        ASSERT_EQ(d.get_bytes_array_param(ParamType::CommandResults, d.output_params, list, false), 0);
        EXPECT_EQ(device_test::text_of(list),
                  "127.0.0.62:-1000:" + d.current_error_texts()->get_text(ErrorType::UnexpectedDriverError) + ";");
        EXPECT_EQ(d.ip_address_list.size(), sims.size());
    }
    EXPECT_EQ(d.execute_command(0), 0);
    EXPECT_EQ(d.permanent_clients.size(), sims.size());
}

// A kept-open connect to two scales whose connects hang ends within a moment of a stop, or of destroy, with -9.
TEST(KeptOpenConnect, AStopOrDestroyEndsConnectsThatHang)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    device_test::init_test_log();
    const hanging_listener first("127.0.0.152"), second("127.0.0.153");
    for (const bool destroyed : {false, true}) {
        SCOPED_TRACE(destroyed ? "destroy" : "stop");
        void* h = nullptr;
        ASSERT_EQ(create(&h), 0);
        device& d = *static_cast<device*>(h);
        d.permanent_connection = true;  // the 4 s time-out of each connect stays
        d.ip_address_list = {{"127.0.0.152", first.port_text(), "1234", 1, ""},
                             {"127.0.0.153", second.port_text(), "1234", 1, ""}};
        std::promise<void> connecting;
        std::atomic<bool> told{false};
        qv_seam::hook("link turn asked", [&] {
            if (!told.exchange(true)) connecting.set_value();
        });
        std::atomic<int> result{1};
        std::thread command([&] { result = execute_command(h, 0); });
        connecting.get_future().wait();
        const auto start = std::chrono::steady_clock::now();
        if (destroyed)
            destroy(&h);
        else
            EXPECT_EQ(execute_command(h, 127), 0);
        command.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(result.load(), -9);
        qv_seam::clear();
        if (!destroyed) {
            EXPECT_TRUE(d.ip_address_list.empty() && d.permanent_clients.empty());  // a failed connect
            destroy(&h);
        }
    }
}

}  // namespace
