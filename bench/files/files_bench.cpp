// Upload and download throughput. Upload: a 10 MB file sent with command 48 to 1 and to 8 simulated
// scales at once, over one-shot TCP and over kept-open connections, beside a
// raw socket that sends the same frames (parameters, 60000-byte data packets,
// one status request) to the same simulated scales over one connection each
// and waits for every reply. Bytes per second are those of the file, whatever
// the number of scales. The raw run sends bytes prepared once; the driver
// reads the file and computes its MD5 in every iteration.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "quorvix_driver.h"
#include "replies/files.h"
#include "replies/folders.h"
#include "sim_scale.h"

namespace {

using bytes = qv_sim::bytes;

constexpr int p_ip = 1, p_port = 2, p_password = 3, p_protocol = 5, p_file_path = 207, p_file_type = 208,
              p_folder_for_save = 213, p_timeout = 291, p_connection_type = 342;
constexpr int c_connect = 0, c_send_file = 48, c_get_file = 49, c_add_ip = 79, c_connection_type = 143;
constexpr std::size_t file_size = 10u * 1000u * 1000u;
constexpr std::size_t packet = 60000;

bytes content()
{
    bytes out(file_size);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::byte>((i * 31 + 7) & 0xFF);
    return out;
}

const std::string& file_on_disk()
{
    static const std::string path = [] {
        const std::string p = "/tmp/qv_files_bench_" + std::to_string(::getpid()) + ".bin";
        const bytes c = content();
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(c.data()), c.size());
        return p;
    }();
    return path;
}

struct scales {
    std::vector<std::unique_ptr<qv_sim::sim_scale>> sims;
    std::vector<std::shared_ptr<qv_sim::file_store>> stores;
    explicit scales(int n)
    {
        for (int k = 0; k < n; ++k) {
            sims.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(60 + k)));
            qv_sim::add_standard_replies(*sims.back());
            stores.push_back(qv_sim::add_file_replies(*sims.back()));
        }
    }
    void forget()
    {
        for (auto& s : sims) s->clear_requests();
        for (auto& s : stores) s->clear_uploads();
    }
};

void driver_upload(benchmark::State& state, bool kept_open)
{
    scales group(static_cast<int>(state.range(0)));
    void* handle = nullptr;
    create(&handle);
    if (kept_open) {
        set_int_param(handle, p_connection_type, 1);
        execute_command(handle, c_connection_type);
    }
    for (std::size_t k = 0; k < group.sims.size(); ++k) {
        set_string_param(handle, p_ip, group.sims[k]->ip());
        set_string_param(handle, p_port, group.sims[k]->port_text());
        set_string_param(handle, p_password, "1234");
        set_int_param(handle, p_protocol, 1);
        set_int_param(handle, p_timeout, 5);
        if (execute_command(handle, c_add_ip) != 0) state.SkipWithError("list not built");
    }
    // Connect with the list as it stands: it opens every kept-open link.
    set_int_param(handle, p_timeout, 5);
    if (execute_command(handle, c_connect) != 0) state.SkipWithError("connect failed");
    const std::string& path = file_on_disk();
    const bytes path_bytes(reinterpret_cast<const std::byte*>(path.data()),
                           reinterpret_cast<const std::byte*>(path.data()) + path.size());
    for (auto _ : state) {
        set_int_param(handle, p_file_type, 4);
        set_bytes_array_param(handle, p_file_path, path_bytes);
        if (execute_command(handle, c_send_file) != 0) {
            state.SkipWithError("command 48 failed");
            break;
        }
        state.PauseTiming();
        group.forget();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_size));
    destroy(&handle);
}

// ---- The raw socket: the same frames, one connection per scale.

bytes frame(const bytes& data)
{
    const std::size_t body = 1 + 4 + data.size();
    bytes f = qv_sim::to_bytes({2, body > 254 ? 0xFF : static_cast<int>(body), 0x1F, '1', '2', '3', '4'});
    f.insert(f.end(), data.begin(), data.end());
    bytes counted = qv_sim::with_count(f);
    return counted;
}

std::vector<bytes> upload_frames()
{
    const bytes c = content();
    std::vector<bytes> frames;
    bytes params = qv_sim::to_bytes({2});
    const bytes digest = qv_sim::md5_digest(c);
    params.insert(params.end(), digest.begin(), digest.end());
    params.push_back(std::byte{4});
    for (int i = 0; i < 8; ++i) params.push_back(static_cast<std::byte>((std::uint64_t{c.size()} >> (8 * i)) & 0xFF));
    frames.push_back(frame(params));
    const std::size_t n = (c.size() + packet - 1) / packet;
    for (std::size_t k = 1; k <= n; ++k) {
        const std::size_t offset = (k - 1) * packet, length = std::min(packet, c.size() - offset);
        bytes d = qv_sim::to_bytes({3, k == n ? 1 : 0, static_cast<int>(offset & 0xFF),
                                    static_cast<int>((offset >> 8) & 0xFF), static_cast<int>((offset >> 16) & 0xFF),
                                    static_cast<int>(offset >> 24), static_cast<int>(length & 0xFF),
                                    static_cast<int>(length >> 8)});
        d.insert(d.end(), c.begin() + static_cast<long>(offset), c.begin() + static_cast<long>(offset + length));
        frames.push_back(frame(d));
    }
    frames.push_back(frame(qv_sim::to_bytes({9})));
    return frames;
}

bool read_reply(int fd)
{
    unsigned char head[4];
    std::size_t got = 0;
    while (got < 4) {
        const ssize_t r = ::recv(fd, head + got, 4 - got, 0);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    std::size_t count = head[0] | head[1] << 8 | head[2] << 16 | static_cast<std::size_t>(head[3]) << 24;
    std::vector<unsigned char> body(count);
    for (got = 0; got < count;) {
        const ssize_t r = ::recv(fd, body.data() + got, count - got, 0);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// One raw TCP connection to each simulated scale, as the raw side of every
// comparison uses.
template <class Sims>
std::vector<int> connect_raw(const Sims& sims, benchmark::State& state)
{
    std::vector<int> fds;
    for (const auto& sim : sims) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(sim->port());
        ::inet_pton(AF_INET, sim->ip().c_str(), &a.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) state.SkipWithError("connect failed");
        fds.push_back(fd);
    }
    return fds;
}

bool send_all(int fd, const bytes& b)
{
    for (std::size_t sent = 0; sent < b.size();) {
        const ssize_t r = ::send(fd, b.data() + sent, b.size() - sent, MSG_NOSIGNAL);
        if (r <= 0) return false;
        sent += static_cast<std::size_t>(r);
    }
    return true;
}

void raw_upload(benchmark::State& state)
{
    scales group(static_cast<int>(state.range(0)));
    const std::vector<int> fds = connect_raw(group.sims, state);
    const std::vector<bytes> frames = upload_frames();
    for (auto _ : state) {
        for (const bytes& f : frames) {
            for (int fd : fds)
                if (!send_all(fd, f)) state.SkipWithError("send failed");
            for (int fd : fds)
                if (!read_reply(fd)) state.SkipWithError("no reply");
        }
        state.PauseTiming();
        group.forget();
        state.ResumeTiming();
    }
    for (int fd : fds) ::close(fd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_size));
}

// ---- Download: the configuration file (FileType 1: its digest comes with
// the first reply, so no hash poll waits) of 10 MB in 60000-byte packets from
// each scale, stored and MD5-checked by the driver; beside a raw socket that
// asks the same scales for the same packets over one connection each and
// appends them to a local file, without a digest.

struct download_scales {
    std::vector<std::unique_ptr<qv_sim::sim_scale>> sims;
    explicit download_scales(int n)
    {
        const bytes c = content();
        for (int k = 0; k < n; ++k) {
            sims.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(100 + k)));
            qv_sim::add_standard_replies(*sims.back());
            qv_sim::add_download_replies(*sims.back())->put("1C", c);
        }
    }
};

std::string download_folder()
{
    return "/tmp/qv_files_bench_dl_" + std::to_string(::getpid());
}

void driver_download(benchmark::State& state, bool kept_open)
{
    download_scales group(static_cast<int>(state.range(0)));
    void* handle = nullptr;
    create(&handle);
    if (kept_open) {
        set_int_param(handle, p_connection_type, 1);
        execute_command(handle, c_connection_type);
    }
    for (const auto& sim : group.sims) {
        set_string_param(handle, p_ip, sim->ip());
        set_string_param(handle, p_port, sim->port_text());
        set_string_param(handle, p_password, "1234");
        set_int_param(handle, p_protocol, 1);
        set_int_param(handle, p_timeout, 5);
        if (execute_command(handle, c_add_ip) != 0) state.SkipWithError("list not built");
    }
    set_int_param(handle, p_timeout, 5);
    if (execute_command(handle, c_connect) != 0) state.SkipWithError("connect failed");
    const std::string folder = download_folder();
    const bytes folder_bytes(reinterpret_cast<const std::byte*>(folder.data()),
                             reinterpret_cast<const std::byte*>(folder.data()) + folder.size());
    for (auto _ : state) {
        set_int_param(handle, p_file_type, 1);
        set_bytes_array_param(handle, p_folder_for_save, folder_bytes);
        if (execute_command(handle, c_get_file) != 0) {
            state.SkipWithError("command 49 failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_size));
    destroy(&handle);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

bytes download_frame(const bytes& data)
{
    // 1C carries the password after its length.
    const std::size_t body = 1 + 5 + data.size();
    bytes f = qv_sim::to_bytes({2, static_cast<int>(body), 0x1C, 4, '1', '2', '3', '4'});
    f.insert(f.end(), data.begin(), data.end());
    return qv_sim::with_count(f);
}

// One reply body into `body`; false on a closed or failed socket.
bool read_body(int fd, std::vector<unsigned char>& body)
{
    unsigned char head[4];
    std::size_t got = 0;
    while (got < 4) {
        const ssize_t r = ::recv(fd, head + got, 4 - got, 0);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    const std::size_t count = head[0] | head[1] << 8 | head[2] << 16 | static_cast<std::size_t>(head[3]) << 24;
    body.resize(count);
    for (got = 0; got < count;) {
        const ssize_t r = ::recv(fd, body.data() + got, count - got, 0);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

void raw_download(benchmark::State& state)
{
    download_scales group(static_cast<int>(state.range(0)));
    const std::vector<int> fds = connect_raw(group.sims, state);
    const bytes parameters = download_frame(qv_sim::to_bytes({2}));
    const bytes packet_request = download_frame(qv_sim::to_bytes({3}));
    const std::string folder = download_folder() + "_raw";
    std::filesystem::create_directories(folder);
    std::vector<unsigned char> body;
    for (auto _ : state) {
        std::vector<std::ofstream> outs;
        for (std::size_t k = 0; k < fds.size(); ++k)
            outs.emplace_back(folder + "/" + std::to_string(k) + ".bin", std::ios::binary | std::ios::trunc);
        for (int fd : fds)
            if (!send_all(fd, parameters) || !read_body(fd, body)) state.SkipWithError("no digest");
        std::vector<bool> active(fds.size(), true);
        for (std::size_t left = fds.size(); left > 0;) {
            for (std::size_t k = 0; k < fds.size(); ++k)
                if (active[k] && !send_all(fds[k], packet_request)) state.SkipWithError("send failed");
            for (std::size_t k = 0; k < fds.size(); ++k) {
                if (!active[k]) continue;
                if (!read_body(fds[k], body) || body.size() < 11) {
                    state.SkipWithError("no packet");
                    return;
                }
                const std::size_t n = body[9] | body[10] << 8;
                outs[k].write(reinterpret_cast<const char*>(body.data() + 11), static_cast<std::streamsize>(n));
                if (body[4] == 1) {
                    active[k] = false;
                    --left;
                }
            }
        }
    }
    for (int fd : fds) ::close(fd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_size));
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

}  // namespace

// Few iterations: each keeps 10 MB per scale in the simulated scales until it
// ends, in a 32-bit process.
// Raw socket, one-shot TCP and kept-open TCP, each to 1 and to 8 scales.
#define QV_FILES_RUNS ->Arg(1)->Arg(8)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(raw_upload) QV_FILES_RUNS;
BENCHMARK_CAPTURE(driver_upload, one_shot_tcp, false) QV_FILES_RUNS;
BENCHMARK_CAPTURE(driver_upload, kept_open, true) QV_FILES_RUNS;
BENCHMARK(raw_download) QV_FILES_RUNS;
BENCHMARK_CAPTURE(driver_download, one_shot_tcp, false) QV_FILES_RUNS;
BENCHMARK_CAPTURE(driver_download, kept_open, true) QV_FILES_RUNS;

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(file_on_disk().c_str());
    return 0;
}
