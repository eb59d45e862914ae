#include "sim_scale.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>

namespace qv_sim {

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::uint32_t max_request = 16u * 1024u * 1024u;

void put_le32(std::byte* at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) at[i] = std::byte((v >> (8 * i)) & 0xFF);
}

// Waits until `fd` is readable, or for `ms` milliseconds (-1: no limit);
// false once stop() has begun. poll ignores a negative fd, so fd -1 makes a
// pause that stop() cuts short.
bool wait_for(int stop_fd, int fd, long long ms)
{
    pollfd p[2] = {{stop_fd, POLLIN, 0}, {fd, POLLIN, 0}};
    int r;
    while ((r = ::poll(p, 2, static_cast<int>(ms))) < 0 && errno == EINTR) {
    }
    return r >= 0 && !p[0].revents;
}

bool read_exact(int stop_fd, int fd, std::byte* out, std::size_t n)
{
    for (std::size_t got = 0; got < n;) {
        if (!wait_for(stop_fd, fd, -1)) return false;
        const ssize_t r = ::recv(fd, out + got, n - got, MSG_DONTWAIT);
        if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) return false;
        got += r > 0 ? static_cast<std::size_t>(r) : 0;
    }
    return true;
}

bool write_all(int fd, const std::byte* data, std::size_t n)
{
    for (std::size_t sent = 0; sent < n;) {
        const ssize_t r = ::send(fd, data + sent, n - sent, MSG_NOSIGNAL);
        if (r <= 0 && !(r < 0 && errno == EINTR)) return false;
        sent += r > 0 ? static_cast<std::size_t>(r) : 0;
    }
    return true;
}

sockaddr_in make_address(const std::string& ip, std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1)
        throw std::runtime_error("sim_scale: not an IPv4 address: " + ip);
    if ((ntohl(a.sin_addr.s_addr) >> 24) != 127) throw std::runtime_error("sim_scale: only loopback addresses: " + ip);
    return a;
}

// A socket of `type` bound to `a`, listening when it is TCP; `a` gets the
// port that was chosen. -1 on failure, with errno set.
int bound_socket(int type, sockaddr_in& a)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const bool tcp = type == SOCK_STREAM;
    const int one = 1;
    socklen_t len = sizeof a;
    if (fd >= 0 && (!tcp || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0) &&
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && (!tcp || ::listen(fd, SOMAXCONN) == 0) &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        return fd;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    errno = error;
    return -1;
}

void parse_frame(request& r)
{
    const bytes& f = r.frame;
    std::size_t at = std::min<std::size_t>(f.size(), 3);
    if (f.size() > 3 && f[2] == std::byte{0xFF}) at = 4;
    if (f.size() > 2) r.command.assign(f.begin() + 2, f.begin() + static_cast<std::ptrdiff_t>(at));
    if (f.size() > at) r.rest.assign(f.begin() + static_cast<std::ptrdiff_t>(at), f.end());
}

// The body as the fault shapes it: emptied, cut short, another first byte.
bytes shaped_body(const reply& rep)
{
    const fault& f = rep.how;
    bytes body = f.empty_body ? bytes{} : rep.body;
    if (f.truncate && *f.truncate < body.size()) body.resize(*f.truncate);
    if (f.first_byte && !body.empty()) body[0] = std::byte{*f.first_byte};
    return body;
}

// The offsets at which to split `size` bytes, in order, each inside (0, size).
std::vector<std::size_t> cuts(const fault& f, std::size_t size)
{
    std::vector<std::size_t> out;
    for (std::size_t cut : f.split_at)
        if (cut > 0 && cut < size) out.push_back(cut);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace

bytes to_bytes(std::initializer_list<int> values)
{
    bytes out;
    for (int v : values) out.push_back(static_cast<std::byte>(v & 0xFF));
    return out;
}

bytes to_bytes(const std::string& text)
{
    const auto* first = reinterpret_cast<const std::byte*>(text.data());
    return bytes(first, first + text.size());
}

std::string hex(const bytes& data)
{
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", static_cast<unsigned>(data[i]));
        out += buf;
    }
    return out;
}

bytes with_count(const bytes& frame)
{
    // Sized once and copied into: growing a 4-byte vector draws a false
    // -Warray-bounds from GCC 12 in Release.
    bytes out(4 + frame.size());
    put_le32(out.data(), static_cast<std::uint32_t>(frame.size()));
    std::copy(frame.begin(), frame.end(), out.begin() + 4);
    return out;
}

bytes after_password(const request& r)
{
    constexpr std::size_t password_size = 4;
    return r.rest.size() > password_size ? bytes(r.rest.begin() + password_size, r.rest.end()) : bytes();
}

bytes reply_frame(const octets& command, std::uint8_t result, const octets& data)
{
    const std::size_t len = command.value.size() + 1 + data.value.size();
    bytes out(len + 2);
    out[0] = std::byte{0x02};
    out[1] = std::byte(len <= 254 ? len : 0xFF);
    auto at = std::copy(command.value.begin(), command.value.end(), out.begin() + 2);
    *at++ = std::byte{result};
    std::copy(data.value.begin(), data.value.end(), at);
    return out;
}

// ---------------------------------------------------------------------------

sim_scale::sim_scale(std::string ip, std::uint16_t port) : ip_(std::move(ip))
{
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_fd_ < 0) throw std::runtime_error("sim_scale: eventfd failed");
    // TCP and UDP share the port: let the system choose it for TCP and try it
    // for UDP, choosing again when that port is taken for UDP. The UDP socket
    // is bound to the address itself, so its replies come from the address
    // the client connected its socket to.
    std::string failure;
    for (int attempt = 0; attempt < 50; ++attempt) {
        sockaddr_in a = make_address(ip_, port);
        const int t = bound_socket(SOCK_STREAM, a);
        const int u = t < 0 ? -1 : bound_socket(SOCK_DGRAM, a);
        if (u >= 0) {
            listen_fd_ = t;
            udp_fd_ = u;
            port_ = ntohs(a.sin_port);
            break;
        }
        failure = std::strerror(errno);
        if (t >= 0) ::close(t);
        if (port != 0) break;
    }
    if (listen_fd_ < 0) {
        ::close(stop_fd_);
        throw std::runtime_error("sim_scale: cannot listen on " + ip_ + ": " + failure);
    }
    accept_thread_ = std::thread([this] { accept_loop(); });
    udp_thread_ = std::thread([this] { udp_loop(); });
}

sim_scale::~sim_scale()
{
    stop();
}

void sim_scale::stop()
{
    if (stopped_) return;
    stopped_ = true;
    const std::uint64_t one = 1;
    const ssize_t r = ::write(stop_fd_, &one, sizeof one);
    (void)r;
    accept_thread_.join();
    udp_thread_.join();
    reap(true);
    ::close(listen_fd_);
    ::close(udp_fd_);
    ::close(stop_fd_);
}

// Joins the threads of ended connections, or of all when stopping.
void sim_scale::reap(bool all)
{
    std::list<connection> ended;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto it = connections_.begin(); it != connections_.end();)
            if (all || it->fd < 0)
                ended.splice(ended.end(), connections_, it++);
            else
                ++it;
    }
    for (connection& c : ended) c.thread.join();
}

void sim_scale::accept_loop()
{
    while (wait_for(stop_fd_, listen_fd_, -1)) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int one = 1;
        // Pieces of a split reply must leave as separate segments.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reap(false);
        std::lock_guard<std::mutex> lock(mu_);
        connection& c = connections_.emplace_back();
        c.number = ++accepted_;
        c.fd = fd;
        c.thread = std::thread([this, &c] { serve(c); });
    }
}

void sim_scale::serve(connection& c)
{
    for (;;) {
        request r;
        r.connection = c.number;
        r.raw.resize(4);
        if (!read_exact(stop_fd_, c.fd, r.raw.data(), 4)) break;
        std::uint32_t count = 0;
        for (int i = 3; i >= 0; --i) count = (count << 8) | std::to_integer<std::uint32_t>(r.raw[i]);
        if (count > max_request) break;
        r.raw.resize(4 + std::size_t{count});
        if (!read_exact(stop_fd_, c.fd, r.raw.data() + 4, count)) break;
        r.frame.assign(r.raw.begin() + 4, r.raw.end());
        if (!send_tcp(c.fd, answer(r))) break;
    }
    std::lock_guard<std::mutex> lock(mu_);
    ::close(c.fd);
    c.fd = -1;
    changed_.notify_all();
}

bool sim_scale::send_tcp(int fd, const reply& rep)
{
    const fault& f = rep.how;
    if (f.silence) return true;
    if (f.delay.count() > 0 && !wait_for(stop_fd_, -1, f.delay.count())) return false;
    if (f.close_before_reply) return false;
    const bytes body = shaped_body(rep);
    bytes wire = with_count(body);
    if (f.count) put_le32(wire.data(), *f.count);
    std::size_t limit = wire.size();
    if (f.cut_after) limit = std::min(limit, *f.cut_after);
    if (f.close_mid_reply) limit = std::min(limit, 4 + body.size() / 2);
    std::size_t from = 0;
    for (std::size_t cut : cuts(f, limit)) {
        if (!write_all(fd, wire.data() + from, cut - from) || !wait_for(stop_fd_, -1, f.split_pause.count()))
            return false;
        from = cut;
    }
    return write_all(fd, wire.data() + from, limit - from) && limit == wire.size();
}

void sim_scale::udp_loop()
{
    // Datagrams waiting for their time, so that a late reply does not hold
    // up the next request; equal times keep their order.
    std::multimap<clock_type::time_point, std::pair<bytes, sockaddr_in>> queue;
    bytes buffer(65536);
    for (;;) {
        for (auto first = queue.begin(); first != queue.end() && first->first <= clock_type::now();
             first = queue.erase(first)) {
            const auto& [datagram, peer] = first->second;
            ::sendto(udp_fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
                     sizeof peer);
        }
        // Never negative: that would make poll wait without limit.
        const long long wait =
            queue.empty()
                ? -1
                : std::max<long long>(
                      0,
                      std::chrono::ceil<std::chrono::milliseconds>(queue.begin()->first - clock_type::now()).count());
        if (!wait_for(stop_fd_, udp_fd_, wait)) return;
        sockaddr_in peer{};
        socklen_t peer_len = sizeof peer;
        const ssize_t n = ::recvfrom(udp_fd_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&peer), &peer_len);
        if (n < 0) continue;
        request r;
        r.via = transport::udp;
        r.raw.assign(buffer.begin(), buffer.begin() + n);
        r.frame = r.raw;
        const reply rep = answer(r);
        const fault& f = rep.how;
        if (f.silence || f.close_before_reply) continue;
        const bytes body = shaped_body(rep);
        auto due = clock_type::now() + f.delay;
        std::size_t from = 0;
        for (std::size_t cut : cuts(f, body.size())) {
            queue.emplace(due, std::pair{bytes(body.begin() + from, body.begin() + cut), peer});
            from = cut;
            due += f.split_pause;
        }
        queue.emplace(due, std::pair{bytes(body.begin() + from, body.end()), peer});
    }
}

// Records the request and makes its reply: the handler's, with the fault set
// for every reply in place of the handler's own.
reply sim_scale::answer(request& r)
{
    parse_frame(r);
    handler h;
    std::function<void(const request&)> observer;
    {
        std::lock_guard<std::mutex> lock(mu_);
        requests_.push_back(r);
        const auto it = handlers_.find(r.command);
        if (it != handlers_.end()) h = it->second;
        if (password_refused(r)) h = [](const request& q) { return reply(reply_frame(q.command, 122)); };
        observer = observer_;
    }
    changed_.notify_all();
    if (observer) observer(r);
    reply rep;
    try {
        rep = h ? h(r) : reply(reply_frame(r.command, 0));
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "sim_scale %s: handler for %s threw: %s\n", ip_.c_str(), hex(r.command).c_str(),
                     ex.what());
        rep.how.close_before_reply = true;
    }
    std::lock_guard<std::mutex> lock(mu_);
    if (fault_ && fault_->times != 0) {
        if (fault_->times > 0) --fault_->times;
        rep.how = *fault_;
    }
    return rep;
}

void sim_scale::set_admin_password(const std::string& four_chars)
{
    std::lock_guard<std::mutex> lock(mu_);
    admin_password_ = to_bytes(four_chars);
}

std::optional<std::string> sim_scale::admin_password() const
{
    std::lock_guard<std::mutex> lock(mu_);
    if (!admin_password_) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(admin_password_->data()), admin_password_->size());
}

void sim_scale::set_serial_number(std::string serial)
{
    std::lock_guard<std::mutex> lock(mu_);
    serial_ = std::move(serial);
}

std::string sim_scale::serial_number() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return serial_;
}

bool sim_scale::password_refused(const request& r) const
{
    if (!admin_password_) return false;
    // Requests that carry no password part.
    static const std::set<bytes> without_password{
        to_bytes({0x11}), to_bytes({0x13}), to_bytes({0x2A}), to_bytes({0x2B}),
        to_bytes({0xFF, 0x17}), to_bytes({0xFF, 0x41}), to_bytes({0xFF, 0x65}),
    };
    // The file transfer and folder replies check the same password
    // themselves: their layouts put it after a count byte for some frames.
    static const std::set<bytes> checked_by_replies{
        to_bytes({0xA9}), to_bytes({0x1B}), to_bytes({0xA8}), to_bytes({0x1F}), to_bytes({0x23}),
        to_bytes({0x27}), to_bytes({0xBF}), to_bytes({0xFF, 0x0C}), to_bytes({0xFF, 0x10}), to_bytes({0xFF, 0x13}),
        to_bytes({0xFF, 0x26}), to_bytes({0xFF, 0x56}), to_bytes({0xFF, 0x64}), to_bytes({0xAA}), to_bytes({0x1C}),
        to_bytes({0xAF}), to_bytes({0x1E}), to_bytes({0x20}), to_bytes({0x26}), to_bytes({0xBE}),
        to_bytes({0xFF, 0x0B}), to_bytes({0xFF, 0x12}), to_bytes({0xFF, 0x31}), to_bytes({0xFF, 0x34}),
        to_bytes({0x1D}), to_bytes({0xFF, 0x07}), to_bytes({0xBC}), to_bytes({0xBD}), to_bytes({0xFF, 0x35}),
        to_bytes({0xFF, 0x36}),
    };
    if (without_password.count(r.command) || checked_by_replies.count(r.command)) return false;
    const bytes& pw = *admin_password_;
    return r.rest.size() < pw.size() || !std::equal(pw.begin(), pw.end(), r.rest.begin());
}

void sim_scale::on(const octets& command, handler h)
{
    std::lock_guard<std::mutex> lock(mu_);
    handlers_[command.value] = std::move(h);
}

void sim_scale::on(const octets& command, std::uint8_t result, const octets& data_bytes)
{
    on(command,
       [result, data = data_bytes.value](const request& r) { return reply(reply_frame(r.command, result, data)); });
}

void sim_scale::set_fault(const fault& f)
{
    std::lock_guard<std::mutex> lock(mu_);
    fault_ = f;
}

void sim_scale::clear_faults()
{
    std::lock_guard<std::mutex> lock(mu_);
    fault_.reset();
}

void sim_scale::set_observer(std::function<void(const request&)> observer)
{
    std::lock_guard<std::mutex> lock(mu_);
    observer_ = std::move(observer);
}

std::vector<request> sim_scale::requests() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

std::size_t sim_scale::request_count() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return requests_.size();
}

bool sim_scale::wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

void sim_scale::clear_requests()
{
    std::lock_guard<std::mutex> lock(mu_);
    requests_.clear();
}

std::size_t sim_scale::connections() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return accepted_;
}

void sim_scale::drop_connections(bool reset)
{
    std::unique_lock<std::mutex> lock(mu_);
    const linger hard{1, 0};
    for (connection& c : connections_) {
        if (c.fd < 0) continue;
        // SO_LINGER 0 turns the close into an RST. Shutting the reading side
        // wakes the serving thread, which then sees the end of the stream and
        // closes.
        if (reset) ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::shutdown(c.fd, SHUT_RD);
    }
    changed_.wait_for(lock, std::chrono::seconds(5), [&] {
        return std::all_of(connections_.begin(), connections_.end(), [](const connection& c) { return c.fd < 0; });
    });
}

}  // namespace qv_sim
