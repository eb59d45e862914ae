// sim_scale [--ip 127.0.0.5] [--port N] [--serial TEXT] [--password TEXT] [--seconds N] [--quiet] [--help]
// Serves one simulated scale on a loopback address until killed (or for the
// given number of seconds), printing its port first and then each request.
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

const char usage[] =
    "usage: sim_scale [options]\n"
    "Serves one simulated scale on a loopback address, TCP and UDP on one port, until killed.\n"
    "  --ip ADDRESS        the 127.x.x.x address to listen on (default 127.0.0.2)\n"
    "  --port N            the port (default 0: chosen by the system; printed first)\n"
    "  --serial TEXT       the serial number it answers and names in its information document (default QVSIM0001)\n"
    "  --password TEXT     the admin password every request that carries one must hold: four ASCII characters\n"
    "                      (default 0000)\n"
    "  --seconds N         stop after N seconds (default 0: run until killed)\n"
    "  --quiet             do not print each request (default: print them)\n"
    "  --help              print this text and exit\n";

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
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
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
        std::fputs(usage, stderr);
        return 2;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    try {
        qv_sim::sim_scale sim(ip, static_cast<std::uint16_t>(port));
        sim.set_admin_password(password);  // before the replies: they take it over
        sim.set_serial_number(serial);
        qv_sim::add_standard_replies(sim);
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
