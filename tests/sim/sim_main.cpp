// sim_scale [--ip 127.0.0.5] [--port N] [--serial TEXT] [--password TEXT] [--seconds N] [--quiet]
// Serves one simulated scale on a loopback address until killed (or for the
// given number of seconds), printing its port first and then each request.
// The scale answers its serial number (QVSIM0001 unless given) and checks the
// admin password of every request that carries one (0000 unless given; four
// ASCII characters, compared as their bytes).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "sim_scale.h"

namespace {
std::atomic<bool> interrupted{false};
extern "C" void on_signal(int)
{
    interrupted = true;
}
}  // namespace

int main(int argc, char** argv)
{
    std::string ip = "127.0.0.2";
    int port = 0;
    int seconds = 0;
    bool quiet = false;
    std::string serial = "QVSIM0001";
    std::string password = "0000";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--ip" && has_value)
            ip = argv[++i];
        else if (arg == "--port" && has_value)
            port = std::atoi(argv[++i]);
        else if (arg == "--serial" && has_value)
            serial = argv[++i];
        else if (arg == "--password" && has_value)
            password = argv[++i];
        else if (arg == "--seconds" && has_value)
            seconds = std::atoi(argv[++i]);
        else if (arg == "--quiet")
            quiet = true;
        else {
            port = -1;  // reported as a usage error below
            break;
        }
    }
    if (port < 0 || port > 65535 || password.size() != 4) {
        std::fprintf(stderr,
                     "usage: sim_scale [--ip 127.0.0.x] [--port N] [--serial TEXT] [--password 4 characters] "
                     "[--seconds N] [--quiet]\n");
        return 2;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    try {
        qv_sim::sim_scale sim(ip, static_cast<std::uint16_t>(port));
        sim.set_admin_password(password);  // before the replies: they take it over
        qv_sim::add_standard_replies(sim);
        sim.on({0xAE}, [serial](const qv_sim::request& r) {
            return qv_sim::reply(qv_sim::reply_frame(r.command, 0, qv_sim::to_bytes(serial)));
        });
        if (!quiet)
            sim.set_observer([](const qv_sim::request& r) {
                std::printf("%s request: %s\n", r.via == qv_sim::transport::tcp ? "TCP" : "UDP",
                            qv_sim::hex(r.frame).c_str());
                std::fflush(stdout);
            });
        std::printf("sim_scale listening on %s port %u (TCP and UDP)\n", sim.ip().c_str(),
                    static_cast<unsigned>(sim.port()));
        std::fflush(stdout);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!interrupted && (seconds <= 0 || std::chrono::steady_clock::now() < end))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "sim_scale: %s\n", ex.what());
        return 1;
    }
    return 0;
}
