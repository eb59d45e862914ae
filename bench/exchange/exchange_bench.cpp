// The driver beside the socket itself, in one run.
//
// A minimal scale server (one epoll thread in a child process) answers every
// request at once. A raw client (plain blocking sockets, a new socket per
// one-shot or UDP exchange) and the driver (command 29 through the exported
// functions) make the same exchanges in alternating rounds, with the log off
// and then with the log set up as a host does (console output sent to a
// file). Ratio = raw time / driver time: 1.0 means the driver costs nothing on
// top of the socket.
//
// Beside each transport's ratio, the system calls of one exchange, raw and
// through the driver (log off), counted by strace when it is installed.
//
// Then command 47 to 1, 8 and 64 scales at once beside 64 raw exchanges made
// concurrently, and long lists (1 to 4,000 scales) with a high descriptor
// limit and under a limit of 1,024.
//
// Usage: exchange_bench [rounds] [exchanges per round] [phase]
//   rounds and exchanges default to 7 and 1000; phase (for profiling one part)
//   is off, on, groups or lists, all of them by default.
// exchange_bench count raw|driver TRANSPORT N PORT makes N exchanges and
// nothing else (TRANSPORT 0 kept-open TCP, 1 one-shot TCP, 2 UDP): what the
// count runs under strace.
// Scales listen on 127.0.0.2 onwards; 4,000 addresses reach 127.0.15.161.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "quorvix_driver.h"
#include "quorvix_logger.h"

namespace {

using clock_type = std::chrono::steady_clock;
using u8 = std::uint8_t;

constexpr int p_ip = 1, p_port = 2, p_password = 3, p_protocol = 5, p_timeout = 291, p_connection_type = 342;
constexpr int c_connect = 0, c_plu_count = 29, c_serial = 47, c_add_ip = 79, c_connection_type = 143;
constexpr int most_scales = 4000;

std::string scale_ip(int k)  // k = 0 is 127.0.0.2
{
    const int n = k + 2;
    return "127.0." + std::to_string(n >> 8) + "." + std::to_string(n & 0xFF);
}

sockaddr_in address(const std::string& ip, std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    return a;
}

void die(const char* what)
{
    std::perror(what);
    std::exit(2);
}

void raise_descriptor_limit(rlim_t want)
{
    rlimit r{};
    ::getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = std::min(want, r.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &r) != 0) die("setrlimit");
}

// ---- the scale server ----

// The reply to a frame: 02 LEN CMD 00 data, with the data of the connect road
// (protocol version 0.17, a serial number, a PLU count of 42).
std::vector<u8> reply_to(const u8* frame, std::size_t n)
{
    std::vector<u8> data;
    const u8 command = n > 2 ? frame[2] : 0;
    if (command == 0xAB) data = {0, 17};
    if (command == 0xAE) data = {'Q', 'V', 'S', 'I', 'M', '0', '0', '0', '1'};
    if (command == 0xD0) data = {42, 0};
    std::vector<u8> r = {0x02, static_cast<u8>(2 + data.size()), command, 0};
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

struct server_connection {
    std::vector<u8> in;
};

[[noreturn]] void serve(const std::vector<int>& listeners, int udp, int stop_fd)
{
    const int ep = ::epoll_create1(0);
    epoll_event ev{};
    for (int fd : listeners) {
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    }
    ev.events = EPOLLIN;
    ev.data.fd = udp;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, udp, &ev);
    ev.data.fd = stop_fd;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, stop_fd, &ev);
    std::vector<bool> is_listener;
    for (int fd : listeners) {
        if (static_cast<std::size_t>(fd) >= is_listener.size()) is_listener.resize(fd + 1);
        is_listener[fd] = true;
    }
    std::map<int, server_connection> connections;
    std::vector<epoll_event> events(512);
    u8 buf[65536];
    for (;;) {
        const int n = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), -1);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == stop_fd) ::_exit(0);
            if (fd == udp) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t got = ::recvfrom(udp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (got <= 0) continue;
                const auto r = reply_to(buf, static_cast<std::size_t>(got));
                ::sendto(udp, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
                continue;
            }
            if (static_cast<std::size_t>(fd) < is_listener.size() && is_listener[fd]) {
                for (;;) {
                    const int c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK);
                    if (c < 0) break;
                    const int one = 1;
                    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    epoll_event cev{};
                    cev.events = EPOLLIN;
                    cev.data.fd = c;
                    ::epoll_ctl(ep, EPOLL_CTL_ADD, c, &cev);
                    connections[c];
                }
                continue;
            }
            server_connection& c = connections[fd];
            const ssize_t got = ::read(fd, buf, sizeof buf);
            if (got <= 0) {
                ::close(fd);
                connections.erase(fd);
                continue;
            }
            c.in.insert(c.in.end(), buf, buf + got);
            while (c.in.size() >= 4) {
                const std::uint32_t count = c.in[0] | c.in[1] << 8 | c.in[2] << 16 | std::uint32_t(c.in[3]) << 24;
                if (c.in.size() < 4 + count) break;
                const auto body = reply_to(c.in.data() + 4, count);
                std::vector<u8> out = {static_cast<u8>(body.size()), 0, 0, 0};
                out.insert(out.end(), body.begin(), body.end());
                if (::write(fd, out.data(), out.size()) < 0) break;
                c.in.erase(c.in.begin(), c.in.begin() + 4 + count);
            }
        }
    }
}

struct server {
    pid_t pid = -1;
    int stop_write = -1;
    std::uint16_t port = 0;
};

// Listens on TCP at `scales` addresses and on UDP at the first, all on one
// port, in a child process with a high descriptor limit.
server start_server(int scales)
{
    raise_descriptor_limit(20000);
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::vector<int> listeners;
        std::uint16_t port = 0;
        bool ok = true;
        for (int k = 0; k < scales && ok; ++k) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            const int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            sockaddr_in a = address(scale_ip(k), port);
            ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 4096) == 0;
            if (ok && k == 0) {
                socklen_t len = sizeof a;
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
                port = ntohs(a.sin_port);
            }
            listeners.push_back(fd);
        }
        const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = address(scale_ip(0), port);
        ok = ok && ::bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (!ok) {
            for (int fd : listeners) ::close(fd);
            ::close(udp);
            continue;
        }
        int stop_pipe[2];
        if (::pipe(stop_pipe) != 0) die("pipe");
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(stop_pipe[1]);
            serve(listeners, udp, stop_pipe[0]);
        }
        ::close(stop_pipe[0]);
        for (int fd : listeners) ::close(fd);
        ::close(udp);
        return {pid, stop_pipe[1], port};
    }
    die("no port free at every address");
    return {};
}

void stop_server(server& s)
{
    ::close(s.stop_write);
    ::waitpid(s.pid, nullptr, 0);
}

// ---- the raw client ----

const std::vector<u8> plu_frame = {0x02, 0x05, 0xD0, '1', '2', '3', '4'};
const std::vector<u8> serial_frame = {0x02, 0x05, 0xAE, '1', '2', '3', '4'};

std::vector<u8> counted(const std::vector<u8>& frame)
{
    std::vector<u8> r = {static_cast<u8>(frame.size()), 0, 0, 0};
    r.insert(r.end(), frame.begin(), frame.end());
    return r;
}

bool read_all(int fd, u8* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t got = ::recv(fd, p, n, 0);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool raw_tcp_exchange(int fd, const std::vector<u8>& request)
{
    u8 buf[1024];
    if (::send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) return false;
    if (!read_all(fd, buf, 4)) return false;
    const std::uint32_t count = buf[0] | buf[1] << 8;
    return count <= sizeof buf && read_all(fd, buf, count);
}

bool raw_one_shot_tcp(const sockaddr_in& to, const std::vector<u8>& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool ok =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 && raw_tcp_exchange(fd, request);
    ::close(fd);
    return ok;
}

bool raw_udp(const sockaddr_in& to, const std::vector<u8>& frame)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    u8 buf[1024];
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
                    ::send(fd, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size()) &&
                    ::recv(fd, buf, sizeof buf, 0) > 0;
    ::close(fd);
    return ok;
}

// `n` one-shot TCP exchanges at once, one to each of the first n addresses,
// on one thread with non-blocking sockets: the raw form of a group command.
bool raw_concurrent(int n, std::uint16_t port, const std::vector<u8>& request)
{
    const int ep = ::epoll_create1(0);
    struct pending {
        int fd;
        std::size_t got = 0;
        u8 buf[64];
    };
    std::vector<pending> all(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        pending& p = all[static_cast<std::size_t>(k)];
        p.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        const sockaddr_in to = address(scale_ip(k), port);
        ::connect(p.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        epoll_event ev{};
        ev.events = EPOLLOUT;
        ev.data.u32 = static_cast<std::uint32_t>(k);
        ::epoll_ctl(ep, EPOLL_CTL_ADD, p.fd, &ev);
    }
    int open = n;
    bool ok = true;
    epoll_event events[64];
    while (open > 0) {
        const int m = ::epoll_wait(ep, events, 64, 4000);
        if (m <= 0) {
            ok = false;
            break;
        }
        for (int i = 0; i < m; ++i) {
            pending& p = all[events[i].data.u32];
            if (events[i].events & EPOLLOUT) {
                if (::send(p.fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) ok = false;
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.u32 = events[i].data.u32;
                ::epoll_ctl(ep, EPOLL_CTL_MOD, p.fd, &ev);
                continue;
            }
            const ssize_t got = ::recv(p.fd, p.buf + p.got, sizeof p.buf - p.got, 0);
            if (got <= 0) ok = false;
            p.got += got > 0 ? static_cast<std::size_t>(got) : 0;
            if (got <= 0 || (p.got >= 4 && p.got >= 4u + p.buf[0])) {
                ::close(p.fd);
                --open;
            }
        }
    }
    ::close(ep);
    return ok;
}

// ---- the driver ----

void* driver_for(int scales, std::uint16_t port, int protocol, bool kept_open)
{
    void* handle = nullptr;
    create(&handle);
    if (kept_open) {
        set_int_param(handle, p_connection_type, 1);
        execute_command(handle, c_connection_type);
    }
    for (int k = 0; k < scales; ++k) {
        set_string_param(handle, p_ip, scale_ip(k));
        set_string_param(handle, p_port, std::to_string(port));
        set_string_param(handle, p_password, "1234");
        set_int_param(handle, p_protocol, protocol);
        set_int_param(handle, p_timeout, 4);
        if (execute_command(handle, k == 0 ? c_connect : c_add_ip) != 0) {
            std::fprintf(stderr, "the scale list could not be built (scale %d)\n", k);
            std::exit(2);
        }
    }
    return handle;
}

// ---- measuring ----

double seconds(const std::function<bool()>& work, int times)
{
    const auto start = clock_type::now();
    for (int k = 0; k < times; ++k)
        if (!work()) {
            std::fprintf(stderr, "an exchange failed\n");
            std::exit(2);
        }
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct row {
    double raw_us = 0;
    double driver_us = 0;
};

// Alternating rounds of raw and driver exchanges; medians per exchange.
row side_by_side(const std::function<bool()>& raw, const std::function<bool()>& driver, int rounds, int per_round)
{
    std::vector<double> r, d;
    seconds(raw, per_round / 10 + 1);  // warm up both
    seconds(driver, per_round / 10 + 1);
    for (int k = 0; k < rounds; ++k) {
        r.push_back(seconds(raw, per_round) / per_round * 1e6);
        d.push_back(seconds(driver, per_round) / per_round * 1e6);
    }
    return {median(r), median(d)};
}

// Runs `body` in a child process and passes what it prints to the pipe on to
// standard error. Each phase has a process of its own: the log is set up
// once per process and the descriptor limit is a process's own.
void in_child(const std::function<void(FILE* out)>& body)
{
    std::fflush(nullptr);
    int out_pipe[2];
    if (::pipe(out_pipe) != 0) die("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out_pipe[0]);
        // The registry writes a line to standard output for every handle.
        const int null_fd = ::open("/dev/null", O_WRONLY);
        ::dup2(null_fd, STDOUT_FILENO);
        ::close(null_fd);
        FILE* out = ::fdopen(out_pipe[1], "w");
        body(out);
        std::fflush(nullptr);
        ::_exit(0);
    }
    ::close(out_pipe[1]);
    char buf[4096];
    for (ssize_t n; (n = ::read(out_pipe[0], buf, sizeof buf)) > 0;)
        ::fwrite(buf, 1, static_cast<std::size_t>(n), stderr);
    ::close(out_pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "(phase failed, status %d)\n", status);
}

// ---- system calls per exchange ----

enum transport_kind { kept_open_tcp = 0, one_shot_tcp = 1, udp_datagram = 2 };

// System calls of one exchange, raw and through the driver; negative when
// they could not be counted.
struct calls {
    double raw = -1;
    double driver = -1;
};

// `n` exchanges over `kind` and nothing else, for the count below.
int count_run(const std::string& who, int kind, int n, std::uint16_t port)
{
    const sockaddr_in to = address(scale_ip(0), port);
    if (who == "raw") {
        const int kept_fd = kind == kept_open_tcp ? ::socket(AF_INET, SOCK_STREAM, 0) : -1;
        if (kept_fd >= 0 && ::connect(kept_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) return 1;
        for (int k = 0; k < n; ++k) {
            const bool ok = kind == kept_open_tcp  ? raw_tcp_exchange(kept_fd, counted(plu_frame))
                            : kind == one_shot_tcp ? raw_one_shot_tcp(to, counted(plu_frame))
                                                   : raw_udp(to, plu_frame);
            if (!ok) return 1;
        }
        return 0;
    }
    void* handle = driver_for(1, port, kind == udp_datagram ? 0 : 1, kind == kept_open_tcp);
    for (int k = 0; k < n; ++k)
        if (execute_command(handle, c_plu_count) != 0) return 1;
    return 0;
}

// strace counts them. No file under /proc gives a process's system-call
// count, and a tracer of the bench's own (ptrace or seccomp) would be more
// code than the rest of it; the totals of n and 2n exchanges, both with the
// same set-up, differ by the calls of n exchanges alone.
double calls_per_exchange(const std::string& who, int kind, std::uint16_t port)
{
    constexpr int n = 300;
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
    long totals[2] = {0, 0};
    for (int twice = 0; twice < 2; ++twice) {
        char out_path[] = "/tmp/qv_exchange_calls_XXXXXX";
        const int fd = ::mkstemp(out_path);
        if (fd < 0) return -1;
        ::close(fd);
        const std::string command = "strace -f -c -o " + std::string(out_path) + " " + self + " count " + who + " " +
                                    std::to_string(kind) + " " + std::to_string(n * (twice + 1)) + " " +
                                    std::to_string(port) + " >/dev/null 2>&1";
        const bool ran = std::system(command.c_str()) == 0;
        // The last "total" line is the traced program's own (32-bit) summary.
        FILE* summary = std::fopen(out_path, "r");
        char line[512];
        while (summary != nullptr && std::fgets(line, sizeof line, summary) != nullptr)
            if (std::strstr(line, " total") != nullptr) std::sscanf(line, "%*s %*s %*s %ld", &totals[twice]);
        if (summary != nullptr) std::fclose(summary);
        std::remove(out_path);
        if (!ran || totals[twice] <= 0) return -1;
    }
    return static_cast<double>(totals[1] - totals[0]) / n;
}

std::vector<calls> count_calls(std::uint16_t port)
{
    std::vector<calls> all(3);
    if (std::system("command -v strace >/dev/null 2>&1") != 0) return all;
    for (int kind : {kept_open_tcp, one_shot_tcp, udp_datagram})
        all[static_cast<std::size_t>(kind)] = {calls_per_exchange("raw", kind, port),
                                               calls_per_exchange("driver", kind, port)};
    return all;
}

void print_row(FILE* out, const char* what, const row& r, const calls* counted_calls = nullptr)
{
    std::fprintf(out, "| %-44s | %8.1f µs | %8.1f µs | %5.2f |", what, r.raw_us, r.driver_us, r.raw_us / r.driver_us);
    if (counted_calls == nullptr)
        std::fprintf(out, " |\n");
    else if (counted_calls->raw < 0 || counted_calls->driver < 0)
        std::fprintf(out, " n/a (no strace) |\n");
    else
        std::fprintf(out, " %.0f / %.0f |\n", counted_calls->raw, counted_calls->driver);
}

void transports(FILE* out, const server& s, bool log_on, int rounds, int per_round, const std::vector<calls>& counts)
{
    std::string log_path;
    std::string console_path;
    if (log_on) {
        // The console sink writes to standard output: send it to a file, as a
        // host that runs as a service does.
        char tmpl[] = "/tmp/qv_exchange_console_XXXXXX";
        const int fd = ::mkstemp(tmpl);
        console_path = tmpl;
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
        Logger::init_log("bench_exchange_");
        // The log lies in the user's home folder, as the README says.
        const passwd* user = ::getpwuid(::getuid());
        log_path = std::string(user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "") +
                   "/.VeravAridir/log/" + Logger::get_log_file_name();
    }
    const sockaddr_in to = address(scale_ip(0), s.port);
    const auto tcp_request = counted(plu_frame);

    void* kept = driver_for(1, s.port, 1, true);
    void* tcp = driver_for(1, s.port, 1, false);
    void* udp = driver_for(1, s.port, 0, false);
    const int kept_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(kept_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) die("connect");
    const int one = 1;
    ::setsockopt(kept_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    const char* suffix = log_on ? "log set up" : "log off";
    const row k = side_by_side([&] { return raw_tcp_exchange(kept_fd, tcp_request); },
                               [&] { return execute_command(kept, c_plu_count) == 0; }, rounds, per_round);
    const row t = side_by_side([&] { return raw_one_shot_tcp(to, tcp_request); },
                               [&] { return execute_command(tcp, c_plu_count) == 0; }, rounds, per_round);
    const row u = side_by_side([&] { return raw_udp(to, plu_frame); },
                               [&] { return execute_command(udp, c_plu_count) == 0; }, rounds, per_round);
    // The counts are of the log off: with the log set up each record adds its writes.
    const auto counted_for = [&](int kind) { return log_on ? nullptr : &counts[static_cast<std::size_t>(kind)]; };
    print_row(out, (std::string("kept-open TCP, ") + suffix).c_str(), k, counted_for(kept_open_tcp));
    print_row(out, (std::string("one-shot TCP, ") + suffix).c_str(), t, counted_for(one_shot_tcp));
    print_row(out, (std::string("UDP, ") + suffix).c_str(), u, counted_for(udp_datagram));
    ::close(kept_fd);
    destroy(&kept);
    destroy(&tcp);
    destroy(&udp);
    if (log_on) {
        std::remove(log_path.c_str());
        std::remove(console_path.c_str());
    }
}

void groups(FILE* out, const server& s, int rounds)
{
    const auto request = counted(serial_frame);
    const int times = 200;
    std::vector<double> raw;
    for (int k = 0; k < rounds; ++k)
        raw.push_back(seconds([&] { return raw_concurrent(64, s.port, request); }, times) / times * 1e3);
    const double raw_ms = median(raw);
    std::fprintf(out, "| 64 raw one-shot TCP exchanges at once %-6s | %8.3f ms |\n", "", raw_ms);
    for (int n : {1, 8, 64}) {
        void* handle = driver_for(n, s.port, 1, false);
        std::vector<double> d;
        for (int k = 0; k < rounds; ++k)
            d.push_back(seconds([&] { return execute_command(handle, c_serial) == 0; }, times) / times * 1e3);
        const double ms = median(d);
        std::fprintf(out, "| command 47 to %2d scales at once (one-shot TCP) | %8.3f ms | %s\n", n, ms,
                     n == 64 ? ("driver / raw " + std::to_string(ms / raw_ms).substr(0, 4) + " |").c_str() : "|");
        destroy(&handle);
    }
}

void long_lists(FILE* out, const server& s, rlim_t limit)
{
    rlimit r{};
    ::getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = std::min(limit, r.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &r) != 0) die("setrlimit");
    for (int n : {1, 64, 1000, 4000}) {
        void* handle = driver_for(n, s.port, 1, false);
        const int times = n >= 1000 ? 5 : 50;
        std::vector<double> d;
        int failed = 0;
        for (int k = 0; k < times; ++k) {
            const auto start = clock_type::now();
            if (execute_command(handle, c_serial) != 0) ++failed;
            d.push_back(std::chrono::duration<double>(clock_type::now() - start).count() * 1e3);
        }
        const double ms = median(d);
        std::fprintf(out, "| command 47 to %4d scales, descriptor limit %5u | %8.2f ms | %.3f ms a scale | %s |\n", n,
                     static_cast<unsigned>(r.rlim_cur), ms, ms / n, failed ? "SOME FAILED" : "all answered");
        destroy(&handle);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::string(argv[1]) == "count") {
        // Standard output goes nowhere: the registry's lines are no part of an exchange.
        return count_run(argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                         static_cast<std::uint16_t>(std::atoi(argv[5])));
    }
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    const int per_round = argc > 2 ? std::atoi(argv[2]) : 1000;
    const std::string phase = argc > 3 ? argv[3] : "";
    const auto runs = [&](const char* name) { return phase.empty() || phase == name; };
    server s = start_server(most_scales);

    const std::vector<calls> counts = runs("off") ? count_calls(s.port) : std::vector<calls>(3);
    std::fprintf(stderr, "| What | raw | driver | ratio | system calls a exchange, raw / driver |\n|---|---|---|---|---|\n");
    if (runs("off")) in_child([&](FILE* out) { transports(out, s, false, rounds, per_round, counts); });
    if (runs("on")) in_child([&](FILE* out) { transports(out, s, true, rounds, per_round, counts); });
    std::fprintf(stderr, "\n");
    if (runs("groups")) in_child([&](FILE* out) { groups(out, s, rounds); });
    std::fprintf(stderr, "\n");
    if (runs("lists")) {
        in_child([&](FILE* out) { long_lists(out, s, 20000); });
        in_child([&](FILE* out) { long_lists(out, s, 1024); });
    }

    stop_server(s);
    return 0;
}
