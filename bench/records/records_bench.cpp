// PLU records written per second to one simulated scale: singly (command 27,
// which asks for the group-code switch and then sends the record, and the
// plain command 22) and in blocks of six (six runs of command 25, each with
// its switch exchange, then command 26), over one-shot TCP and a kept-open
// connection. Beside them, raw exchanges of the same request sizes over a
// plain socket, so that the driver's own cost shows.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "quorvix_driver.h"
#include "replies/records_products.h"
#include "replies/version.h"
#include "sim_scale.h"

namespace {

constexpr int p_ip = 1, p_port = 2, p_password = 3, p_protocol = 5, p_timeout = 291, p_connection_type = 342;
constexpr int p_tare = 40, p_price = 41, p_label_format = 51, p_item_code = 182, p_plu_number = 183;
constexpr int p_name_first = 184, p_shelf_life = 186, p_message_number = 189, p_rostest = 190, p_bc_format = 191;
constexpr int p_goods_type = 44;
constexpr int c_connect = 0, c_set_plu = 22, c_add_plu = 25, c_plu_block = 26, c_set_plu_extended = 27;
constexpr int c_connection_type = 143;
constexpr int block_size = 6;  // the most PLU records a block may hold

const char* const scale_ip = "127.0.0.50";

// The one scale of every benchmark, answering what it keeps; made on first use.
qv_sim::sim_scale& scale()
{
    static qv_sim::sim_scale sim(scale_ip);
    static const bool ready = [] {
        qv_sim::add_connect_replies(sim);
        qv_sim::add_product_replies(sim);
        return true;
    }();
    (void)ready;
    return sim;
}

// ---- Through the exported functions.

struct session {
    void* handle = nullptr;
    explicit session(bool kept_open)
    {
        qv_sim::sim_scale& sim = scale();
        create(&handle);
        if (kept_open) {
            set_int_param(handle, p_connection_type, 1);
            execute_command(handle, c_connection_type);
        }
        set_string_param(handle, p_ip, sim.ip());
        set_string_param(handle, p_port, sim.port_text());
        set_string_param(handle, p_password, "1234");
        set_int_param(handle, p_protocol, 1);
        set_int_param(handle, p_timeout, 2);
        connected = execute_command(handle, c_connect) == 0;
    }
    ~session() { destroy(&handle); }
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    // The inputs of one PLU record, as a host sets them.
    void set_record(int number) const
    {
        set_int_param(handle, p_plu_number, number);
        set_int_param(handle, p_item_code, 4600000 + number);
        set_string_param(handle, p_name_first, "Apples, Golden");
        set_int_param(handle, p_price, 12990);
        set_int_param(handle, p_bc_format, 1);
        set_int_param(handle, p_label_format, 2);
        set_int_param(handle, p_shelf_life, 14);
        set_int_param(handle, p_tare, 0);
        set_int_param(handle, p_message_number, 0);
        set_int_param(handle, p_goods_type, 1);
        set_string_param(handle, p_rostest, "0000");
    }
    int run(int command) const { return execute_command(handle, command); }

    bool connected = false;
};

void records_singly(benchmark::State& state, bool kept_open, int command)
{
    session s(kept_open);
    if (!s.connected) state.SkipWithError("connect failed");
    int number = 0;
    for (auto _ : state) {
        s.set_record(1 + number++ % 1000);
        if (s.run(command) != 0) {
            state.SkipWithError("the record was not written");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void records_in_blocks(benchmark::State& state, bool kept_open)
{
    session s(kept_open);
    if (!s.connected) state.SkipWithError("connect failed");
    for (auto _ : state) {
        bool good = true;
        for (int k = 1; k <= block_size && good; ++k) {
            s.set_record(k);
            good = s.run(c_add_plu) == 0;
        }
        if (!good || s.run(c_plu_block) != 0) {
            state.SkipWithError("the block was not written");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * block_size);
}

void BM_ExtendedRecordSingly_OneShot(benchmark::State& state)
{
    records_singly(state, false, c_set_plu_extended);
}
void BM_ExtendedRecordSingly_KeptOpen(benchmark::State& state)
{
    records_singly(state, true, c_set_plu_extended);
}
void BM_PlainRecordSingly_OneShot(benchmark::State& state)
{
    records_singly(state, false, c_set_plu);
}
void BM_PlainRecordSingly_KeptOpen(benchmark::State& state)
{
    records_singly(state, true, c_set_plu);
}
void BM_RecordsInBlocksOf6_OneShot(benchmark::State& state)
{
    records_in_blocks(state, false);
}
void BM_RecordsInBlocksOf6_KeptOpen(benchmark::State& state)
{
    records_in_blocks(state, true);
}

// ---- Raw exchanges over a plain socket: the request frame of the size
// that a command sends, answered by the same simulated scale.

qv_sim::bytes request_of(std::initializer_list<int> command, std::size_t payload_size)
{
    qv_sim::bytes body = qv_sim::to_bytes(command);
    for (char c : std::string("1234")) body.push_back(std::byte(static_cast<unsigned char>(c)));
    body.resize(body.size() + payload_size, std::byte{0});
    qv_sim::bytes frame(2 + body.size());  // sized once: GCC 12 warns falsely about inserting
    frame[0] = std::byte{0x02};
    frame[1] = std::byte(body.size() <= 254 ? body.size() : 0xFF);
    std::copy(body.begin(), body.end(), frame.begin() + 2);
    return qv_sim::with_count(frame);
}

int open_socket()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(scale().port());
    ::inet_pton(AF_INET, scale_ip, &addr.sin_addr);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool read_exactly(int fd, std::byte* at, std::size_t n)
{
    while (n > 0) {
        const ssize_t got = ::read(fd, at, n);
        if (got <= 0) return false;
        at += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// One request out, one length-prefixed reply in.
bool exchange(int fd, const qv_sim::bytes& request)
{
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return false;
    std::byte count[4];
    if (!read_exactly(fd, count, 4)) return false;
    const std::uint32_t n = std::to_integer<std::uint32_t>(count[0]) | std::to_integer<std::uint32_t>(count[1]) << 8 |
                            std::to_integer<std::uint32_t>(count[2]) << 16 |
                            std::to_integer<std::uint32_t>(count[3]) << 24;
    std::vector<std::byte> body(n);
    return read_exactly(fd, body.data(), n);
}

// The requests of the benchmarks above, by their payload size.
qv_sim::bytes raw_request(std::int64_t which)
{
    switch (which) {
        case 0:
            return request_of({0x8C}, 0);  // the switch
        case 1:
            return request_of({0x50}, 79);  // a plain record
        case 2:
            return request_of({0x57}, 82);  // an extended record
        default:
            return request_of({0x55}, 1 + block_size * 82);  // a block of six
    }
}

const char* const raw_names[] = {"switch 8C", "plain record 50", "extended record 57", "block of 6 (55)"};

void BM_RawExchange_OneShot(benchmark::State& state)
{
    const qv_sim::bytes request = raw_request(state.range(0));
    for (auto _ : state) {
        const int fd = open_socket();
        const bool good = fd >= 0 && exchange(fd, request);
        if (fd >= 0) ::close(fd);
        if (!good) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    state.SetLabel(raw_names[state.range(0)]);
    state.SetItemsProcessed(state.iterations());
}

void BM_RawExchange_KeptOpen(benchmark::State& state)
{
    const qv_sim::bytes request = raw_request(state.range(0));
    const int fd = open_socket();
    if (fd < 0) state.SkipWithError("connect failed");
    for (auto _ : state) {
        if (!exchange(fd, request)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    if (fd >= 0) ::close(fd);
    state.SetLabel(raw_names[state.range(0)]);
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

// Fixed iteration counts: every one-shot exchange leaves a socket in
// TIME_WAIT, so an open-ended run could exhaust the ephemeral ports.
BENCHMARK(BM_ExtendedRecordSingly_OneShot)->Iterations(1500)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ExtendedRecordSingly_KeptOpen)->Iterations(3000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PlainRecordSingly_OneShot)->Iterations(3000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PlainRecordSingly_KeptOpen)->Iterations(3000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RecordsInBlocksOf6_OneShot)->Iterations(400)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RecordsInBlocksOf6_KeptOpen)->Iterations(500)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RawExchange_OneShot)->DenseRange(0, 3)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RawExchange_KeptOpen)->DenseRange(0, 3)->Iterations(5000)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
