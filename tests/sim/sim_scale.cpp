#include "sim_scale.h"

#include <arpa/inet.h>
#include <fcntl.h>
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
#include <stdexcept>

namespace qv_sim {

namespace {

constexpr std::uint32_t max_request = 16u * 1024u * 1024u;

void signal_fd(int fd)
{
    const std::uint64_t one = 1;
    ssize_t r = ::write(fd, &one, sizeof one);
    (void)r;
}

sockaddr_in make_address(const std::string& ip, std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1)
        throw std::runtime_error("sim_scale: not an IPv4 address: " + ip);
    if ((ntohl(a.sin_addr.s_addr) >> 24) != 127)
        throw std::runtime_error("sim_scale: only loopback addresses: " + ip);
    return a;
}

void parse_frame(request& r)
{
    const bytes& f = r.frame;
    std::size_t at = 2;
    if (f.size() > 2) {
        r.command.push_back(f[2]);
        at = 3;
        if (f[2] == std::byte{0xFF} && f.size() > 3) {
            r.command.push_back(f[3]);
            at = 4;
        }
    }
    if (f.size() > at)
        r.rest.assign(f.begin() + static_cast<std::ptrdiff_t>(at), f.end());
}

}  // namespace

bytes to_bytes(std::initializer_list<int> values)
{
    bytes out;
    for (int v : values)
        out.push_back(static_cast<std::byte>(v & 0xFF));
    return out;
}

bytes to_bytes(const std::string& text)
{
    bytes out;
    for (char c : text)
        out.push_back(static_cast<std::byte>(c));
    return out;
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

bytes le32(std::uint32_t v)
{
    return {std::byte(v & 0xFF), std::byte((v >> 8) & 0xFF), std::byte((v >> 16) & 0xFF),
            std::byte((v >> 24) & 0xFF)};
}

bytes reply_frame(const octets& command_bytes, std::uint8_t result, const octets& data_bytes)
{
    const bytes& command = command_bytes;
    const bytes& data = data_bytes;
    const std::size_t len = command.size() + 1 + data.size();
    bytes out;
    out.reserve(len + 2);
    out.push_back(std::byte{0x02});
    out.push_back(std::byte(len <= 254 ? len : 0xFF));
    for (std::byte b : command)
        out.push_back(b);
    out.push_back(std::byte{result});
    for (std::byte b : data)
        out.push_back(b);
    return out;
}

// ---------------------------------------------------------------------------

struct sim_scale::connection {
    std::size_t number = 0;
    int fd = -1;
    int wake_fd = -1;  // eventfd: drop requested
    std::atomic<bool> drop{false};
    std::atomic<bool> drop_reset{true};
    bool done = false;  // under mu_
    std::thread thread;

    // Waits until fd is readable; false when stop or drop came first.
    bool wait_readable(int stop_fd)
    {
        pollfd p[3] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
        for (;;) {
            int r = ::poll(p, 3, -1);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 || p[1].revents || p[2].revents)
                return false;
            return true;
        }
    }

    // Sleeps; false when stop or drop interrupted it.
    bool pause(int stop_fd, std::chrono::milliseconds ms)
    {
        pollfd p[2] = {{wake_fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
        auto until = std::chrono::steady_clock::now() + ms;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return true;
            int r = ::poll(p, 2, static_cast<int>(left.count()));
            if (r > 0)
                return false;
        }
    }

    bool read_exact(int stop_fd, std::byte* out, std::size_t n)
    {
        std::size_t got = 0;
        while (got < n) {
            if (!wait_readable(stop_fd))
                return false;
            ssize_t r = ::recv(fd, out + got, n - got, 0);
            if (r < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (r <= 0)
                return false;
            got += static_cast<std::size_t>(r);
        }
        return true;
    }

    bool write_all(const std::byte* data, std::size_t n)
    {
        std::size_t sent = 0;
        while (sent < n) {
            ssize_t r = ::send(fd, data + sent, n - sent, MSG_NOSIGNAL);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false;
            sent += static_cast<std::size_t>(r);
        }
        return true;
    }

    void set_reset()
    {
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
};

sim_scale::sim_scale(std::string ip, std::uint16_t port) : ip_(std::move(ip))
{
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_fd_ < 0)
        throw std::runtime_error("sim_scale: eventfd failed");
    std::string failure;
    // TCP and UDP share the port: let the system choose it for TCP and try it
    // for UDP, choosing again when that port is taken for UDP.
    for (int attempt = 0; attempt < 50; ++attempt) {
        sockaddr_in a = make_address(ip_, port);
        int t = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(t, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (t < 0 || ::bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(t, SOMAXCONN) != 0) {
            failure = std::strerror(errno);
            if (t >= 0)
                ::close(t);
            if (port != 0)
                break;
            continue;
        }
        socklen_t len = sizeof a;
        ::getsockname(t, reinterpret_cast<sockaddr*>(&a), &len);
        // The UDP socket is bound to the address itself, so its replies come
        // from the address the client connected its socket to.
        int u = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (u < 0 || ::bind(u, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            failure = std::strerror(errno);
            ::close(t);
            if (u >= 0)
                ::close(u);
            if (port != 0)
                break;
            continue;
        }
        listen_fd_ = t;
        udp_fd_ = u;
        port_ = ntohs(a.sin_port);
        break;
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
    if (stopped_.exchange(true))
        return;
    signal_fd(stop_fd_);
    if (accept_thread_.joinable())
        accept_thread_.join();
    if (udp_thread_.joinable())
        udp_thread_.join();
    reap(true);
    ::close(listen_fd_);
    ::close(udp_fd_);
    ::close(stop_fd_);
}

void sim_scale::reap(bool all)
{
    std::list<std::unique_ptr<connection>> finished;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all || (*it)->done)
                finished.splice(finished.end(), connections_, it++);
            else
                ++it;
        }
    }
    for (auto& c : finished) {
        c->thread.join();
        ::close(c->wake_fd);
    }
}

void sim_scale::accept_loop()
{
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    for (;;) {
        int r = ::poll(p, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || p[1].revents)
            return;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        // Pieces of a split reply must leave as separate segments.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reap(false);
        auto c = std::make_unique<connection>();
        c->fd = fd;
        c->wake_fd = ::eventfd(0, EFD_CLOEXEC);
        connection* raw = c.get();
        {
            std::lock_guard<std::mutex> lock(mu_);
            c->number = ++accepted_;
            connections_.push_back(std::move(c));
        }
        raw->thread = std::thread([this, raw] { serve(*raw); });
    }
}

void sim_scale::serve(connection& c)
{
    for (;;) {
        std::byte count_bytes[4];
        if (!c.read_exact(stop_fd_, count_bytes, 4))
            break;
        std::uint32_t count = 0;
        for (int i = 3; i >= 0; --i)
            count = (count << 8) | static_cast<std::uint32_t>(count_bytes[i]);
        if (count > max_request)
            break;
        request r;
        r.via = transport::tcp;
        r.connection = c.number;
        r.frame.resize(count);
        if (count && !c.read_exact(stop_fd_, r.frame.data(), count))
            break;
        r.raw.assign(count_bytes, count_bytes + 4);
        r.raw.insert(r.raw.end(), r.frame.begin(), r.frame.end());
        parse_frame(r);
        record(r);
        if (!send_tcp(c, answer(r)))
            break;
    }
    if (c.drop && c.drop_reset)
        c.set_reset();
    ::close(c.fd);
    {
        std::lock_guard<std::mutex> lock(mu_);
        c.done = true;
    }
    changed_.notify_all();
}

bool sim_scale::send_tcp(connection& c, const reply& rep)
{
    const fault& f = rep.how;
    if (f.silence)
        return true;
    if (f.delay.count() > 0 && !c.pause(stop_fd_, f.delay))
        return false;
    if (f.reset) {
        c.set_reset();
        return false;
    }
    if (f.close_before_reply)
        return false;

    bytes body = f.empty_body ? bytes{} : rep.body;
    if (f.truncate && *f.truncate < body.size())
        body.resize(*f.truncate);
    if (f.first_byte && !body.empty())
        body[0] = std::byte{*f.first_byte};
    bytes wire = le32(f.count ? *f.count : static_cast<std::uint32_t>(body.size()));
    wire.insert(wire.end(), body.begin(), body.end());

    std::size_t limit = wire.size();
    if (f.cut_after)
        limit = std::min(limit, *f.cut_after);
    if (f.close_mid_reply)
        limit = std::min(limit, 4 + body.size() / 2);

    std::size_t from = 0;
    std::vector<std::size_t> cuts = f.split_at;
    std::sort(cuts.begin(), cuts.end());
    for (std::size_t cut : cuts) {
        if (cut <= from || cut >= limit)
            continue;
        if (!c.write_all(wire.data() + from, cut - from) || !c.pause(stop_fd_, f.split_pause))
            return false;
        from = cut;
    }
    if (!c.write_all(wire.data() + from, limit - from))
        return false;
    return limit == wire.size();
}

void sim_scale::udp_loop()
{
    pollfd p[2] = {{udp_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    std::vector<std::byte> buffer(65536);
    for (;;) {
        int r = ::poll(p, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || p[1].revents)
            break;
        sockaddr_in peer{};
        socklen_t peer_len = sizeof peer;
        ssize_t n = ::recvfrom(udp_fd_, buffer.data(), buffer.size(), 0,
                               reinterpret_cast<sockaddr*>(&peer), &peer_len);
        if (n < 0)
            continue;
        request req;
        req.via = transport::udp;
        req.raw.assign(buffer.begin(), buffer.begin() + n);
        req.frame = req.raw;
        parse_frame(req);
        record(req);
        reply rep = answer(req);
        for (auto it = udp_workers_.begin(); it != udp_workers_.end();) {
            if (*it->done) {
                it->thread.join();
                it = udp_workers_.erase(it);
            } else {
                ++it;
            }
        }
        if (rep.how.delay.count() > 0 || !rep.how.split_at.empty()) {
            auto done = std::make_shared<std::atomic<bool>>(false);
            udp_workers_.push_back({std::thread([this, rep, peer, peer_len, done] {
                                        send_udp(rep, &peer, peer_len);
                                        *done = true;
                                    }),
                                    done});
        } else {
            send_udp(rep, &peer, peer_len);
        }
    }
    for (auto& w : udp_workers_)
        w.thread.join();
    udp_workers_.clear();
}

void sim_scale::send_udp(const reply& rep, const void* peer, unsigned peer_len)
{
    const fault& f = rep.how;
    if (f.silence || f.close_before_reply || f.reset)
        return;
    pollfd p{stop_fd_, POLLIN, 0};
    if (f.delay.count() > 0 && ::poll(&p, 1, static_cast<int>(f.delay.count())) > 0)
        return;
    bytes body = f.empty_body ? bytes{} : rep.body;
    if (f.truncate && *f.truncate < body.size())
        body.resize(*f.truncate);
    if (f.first_byte && !body.empty())
        body[0] = std::byte{*f.first_byte};
    std::vector<std::size_t> cuts = f.split_at;
    std::sort(cuts.begin(), cuts.end());
    std::size_t from = 0;
    auto send_piece = [&](std::size_t to) {
        ::sendto(udp_fd_, body.data() + from, to - from, 0, static_cast<const sockaddr*>(peer),
                 peer_len);
        from = to;
    };
    for (std::size_t cut : cuts) {
        if (cut <= from || cut >= body.size())
            continue;
        send_piece(cut);
        if (::poll(&p, 1, static_cast<int>(f.split_pause.count())) > 0)
            return;
    }
    send_piece(body.size());
}

reply sim_scale::answer(const request& r)
{
    handler h;
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = handlers_.find(r.command);
        h = it != handlers_.end() ? it->second : default_;
    }
    reply rep;
    try {
        rep = h ? h(r) : reply(reply_frame(r.command, 0));
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "sim_scale %s: handler for %s threw: %s\n", ip_.c_str(),
                     hex(r.command).c_str(), ex.what());
        rep = reply{};
        rep.how.close_before_reply = true;
    }
    std::lock_guard<std::mutex> lock(mu_);
    auto pick = [&](fault& f) {
        if (f.times == 0)
            return false;
        if (f.times > 0)
            --f.times;
        rep.how = f;
        return true;
    };
    auto it = faults_.find(r.command);
    if (!(it != faults_.end() && pick(it->second)) && global_fault_)
        pick(*global_fault_);
    return rep;
}

void sim_scale::record(const request& r)
{
    std::function<void(const request&)> observer;
    {
        std::lock_guard<std::mutex> lock(mu_);
        requests_.push_back(r);
        observer = observer_;
    }
    changed_.notify_all();
    if (observer)
        observer(r);
}

void sim_scale::on(const octets& command, handler h)
{
    std::lock_guard<std::mutex> lock(mu_);
    handlers_[command.value] = std::move(h);
}

void sim_scale::on(const octets& command, std::uint8_t result, const octets& data_bytes)
{
    const bytes data = data_bytes;
    on(command, [result, data](const request& r) { return reply(reply_frame(r.command, result, data)); });
}

void sim_scale::set_default(handler h)
{
    std::lock_guard<std::mutex> lock(mu_);
    default_ = std::move(h);
}

void sim_scale::set_fault(const octets& command, const fault& f)
{
    std::lock_guard<std::mutex> lock(mu_);
    faults_[command.value] = f;
}

void sim_scale::set_fault(const fault& f)
{
    std::lock_guard<std::mutex> lock(mu_);
    global_fault_ = f;
}

void sim_scale::clear_faults()
{
    std::lock_guard<std::mutex> lock(mu_);
    faults_.clear();
    global_fault_.reset();
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

std::size_t sim_scale::open_connections() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<std::size_t>(std::count_if(
        connections_.begin(), connections_.end(), [](const auto& c) { return !c->done; }));
}

void sim_scale::drop_connections(bool reset)
{
    std::unique_lock<std::mutex> lock(mu_);
    for (auto& c : connections_) {
        if (c->done)
            continue;
        c->drop_reset = reset;
        c->drop = true;
        signal_fd(c->wake_fd);
    }
    changed_.wait_for(lock, std::chrono::seconds(5), [&] {
        return std::all_of(connections_.begin(), connections_.end(),
                           [](const auto& c) { return c->done; });
    });
}

}  // namespace qv_sim
