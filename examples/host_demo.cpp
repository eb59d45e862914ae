// A small host program: loads the driver library at run time as a host
// application would, connects to one scale over TCP and prints its protocol
// version, serial number and PLU count with the result texts, writes one
// PLU record and reads it back, then shows three readings of its live weight.
//
//     host_demo <path to libquorvix_driver.so> <scale IP> <port> [admin password]
//
// Exits 0 when every command succeeded.

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quorvix_driver.h"
#include "quorvix_weight.h"

namespace {

struct driver {
    void* lib = nullptr;
    decltype(&::create) create = nullptr;
    decltype(&::destroy) destroy = nullptr;
    decltype(&::set_int_param) set_int = nullptr;
    decltype(&::set_string_param) set_string = nullptr;
    decltype(&::get_int_param) get_int = nullptr;
    decltype(&::get_string_param) get_string = nullptr;
    decltype(&::get_bytes_array_param) get_bytes = nullptr;
    decltype(&::execute_command) execute = nullptr;

    template <class F>
    bool find(F& f, const char* name)
    {
        f = reinterpret_cast<F>(dlsym(lib, name));
        if (!f) std::fprintf(stderr, "host_demo: %s not exported\n", name);
        return f != nullptr;
    }

    bool load(const char* path)
    {
        lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "host_demo: %s\n", dlerror());
            return false;
        }
        return find(create, "create") && find(destroy, "destroy") && find(set_int, "set_int_param") &&
               find(set_string, "set_string_param") && find(get_int, "get_int_param") &&
               find(get_string, "get_string_param") && find(get_bytes, "get_bytes_array_param") &&
               find(execute, "execute_command");
    }
};

// The result text of a code in the driver's current language (command 81).
std::string result_text(const driver& d, void* handle, int code)
{
    d.set_int(handle, int(ParamType::ErrorCode), code);
    std::vector<std::byte> text;
    if (d.execute(handle, int(CommandType::get_error_description)) != int(ErrorType::Success) ||
        d.get_bytes(handle, int(ParamType::ErrorDescription), &text) != int(ErrorType::Success))
        return "?";
    std::string out;
    for (std::byte b : text) out.push_back(static_cast<char>(b));
    return out;
}

std::string string_output(const driver& d, void* handle, int param)
{
    std::string text;
    d.get_string(handle, param, &text);
    return text;
}

// Puts one product on the scale as a plain PLU record (command 22) and
// reads it back (command 23): the main job of a retail driver.
int write_and_read_plu(const driver& d, void* handle)
{
    d.set_int(handle, int(ParamType::PLUNumber), 1);
    d.set_int(handle, int(ParamType::ItemCode), 4600001);
    d.set_string(handle, int(ParamType::NameFirst), "Apples, Golden");
    d.set_int(handle, int(ParamType::Price), 12990);  // in the scale's smallest currency unit
    d.set_int(handle, int(ParamType::ShelfLife), 14);
    d.set_int(handle, int(ParamType::Tare), 0);
    d.set_int(handle, int(ParamType::MessageNumber), 0);
    d.set_string(handle, int(ParamType::ROSTEST), "0000");
    const int written = d.execute(handle, int(CommandType::set_plu_data));
    std::printf("set_plu_data -> %d (%s)\n", written, result_text(d, handle, written).c_str());
    if (written != int(ErrorType::Success)) return written;

    d.set_int(handle, int(ParamType::PLUNumber), 1);
    const int read = d.execute(handle, int(CommandType::get_plu_data));
    long long item_code = 0, price = 0;
    const std::string name = string_output(d, handle, int(ParamType::NameFirst));
    d.get_int(handle, int(ParamType::ItemCode), &item_code);
    d.get_int(handle, int(ParamType::Price), &price);
    std::printf("get_plu_data -> %d (%s)\n", read, result_text(d, handle, read).c_str());
    if (read == int(ErrorType::Success)) std::printf("  PLU 1: %s, item code %lld, price %lld\n", name.c_str(), item_code, price);
    return read;
}

// ---- Live weight: the host's own sink, three readings, then the stop.

// Called on the driver's weight thread: prints the first readings and lets
// the main thread know.
class printing_sink : public WeightInterface {
public:
    void weight_changed(int weight, int tare, std::vector<std::byte> state) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (readings_ >= 3) return;
        ++readings_;
        std::printf("  weight %d, tare %d, state %02X\n", weight, tare,
                    state.empty() ? 0u : std::to_integer<unsigned>(state[0]));
        std::fflush(stdout);
        done_.notify_all();
    }
    void weight_error(std::string text) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        std::printf("  %s\n", text.c_str());
        std::fflush(stdout);
    }
    bool wait_for_three(std::chrono::seconds timeout)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return done_.wait_for(lock, timeout, [this] { return readings_ >= 3; });
    }

private:
    std::mutex mu_;
    std::condition_variable done_;
    int readings_ = 0;
};

int show_live_weight(const driver& d, void* handle)
{
    // A host linked against the library calls the member directly:
    //     static_cast<device*>(handle)->start_get_weight(sink, period);
    // This one loads the library at run time, so it looks the member up by its
    // C++ name; on this platform a non-virtual member function takes the
    // object's address as a hidden first argument.
    using start_fn = int (*)(void*, std::shared_ptr<WeightInterface>&, int&);
    const auto start_get_weight =
        reinterpret_cast<start_fn>(dlsym(d.lib, "_ZN6device16start_get_weightERSt10shared_ptrI15WeightInterfaceERi"));
    if (!start_get_weight) {
        std::fprintf(stderr, "host_demo: device::start_get_weight not exported\n");
        return 1;
    }
    auto printer = std::make_shared<printing_sink>();
    std::shared_ptr<WeightInterface> sink = printer;
    int period_ms = 200;
    const int started = start_get_weight(handle, sink, period_ms);
    std::printf("start_get_weight -> %d (%s)\n", started, result_text(d, handle, started).c_str());
    if (started != int(ErrorType::Success)) return started;
    const bool three = printer->wait_for_three(std::chrono::seconds(10));
    // Returns once the weight thread has ended.
    const int stopped = d.execute(handle, int(CommandType::stop_get_weight));
    std::printf("stop_get_weight -> %d (%s)\n", stopped, result_text(d, handle, stopped).c_str());
    return three ? stopped : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: host_demo <libquorvix_driver.so> <scale IP> <port> [admin password]\n");
        return 2;
    }
    driver d;
    if (!d.load(argv[1])) return 1;

    void* handle = nullptr;
    if (d.create(&handle) != int(ErrorType::Success)) {
        std::fprintf(stderr, "host_demo: create failed\n");
        return 1;
    }
    d.set_string(handle, int(ParamType::Ip), argv[2]);
    d.set_string(handle, int(ParamType::Port), argv[3]);
    d.set_string(handle, int(ParamType::AdminPassword), argc > 4 ? argv[4] : "0000");
    d.set_int(handle, int(ParamType::Protocol), 1);  // TCP
    d.set_int(handle, int(ParamType::ConnectTimeout), 2);

    // Every command replaces the outputs, so each command's outputs are read
    // before the result text is asked for (command 81).
    const int connected = d.execute(handle, int(CommandType::connect));
    const std::string scale_version = string_output(d, handle, int(ParamType::ScaleProtocolVersion));
    const std::string driver_version = string_output(d, handle, int(ParamType::DriverProtocolVersion));
    const std::string serial = string_output(d, handle, int(ParamType::SerialNumber));
    std::printf("connect %s:%s -> %d (%s)\n", argv[2], argv[3], connected, result_text(d, handle, connected).c_str());
    int status = connected;
    if (connected == int(ErrorType::Success)) {
        std::printf("  protocol version of the scale: %s (driver: %s)\n", scale_version.c_str(),
                    driver_version.c_str());
        std::printf("  serial number: %s\n", serial.c_str());

        const int counted = d.execute(handle, int(CommandType::get_plu_count));
        long long count = 0;
        if (counted == int(ErrorType::Success)) d.get_int(handle, int(ParamType::PLUCount), &count);
        std::printf("get_plu_count -> %d (%s)\n", counted, result_text(d, handle, counted).c_str());
        if (counted == int(ErrorType::Success)) std::printf("  PLU count: %lld\n", count);
        status = counted;
        if (status == int(ErrorType::Success)) status = write_and_read_plu(d, handle);
    }
    if (status == int(ErrorType::Success)) status = show_live_weight(d, handle);
    d.destroy(&handle);
    // The library stays loaded: its static objects end with the process.
    return status == int(ErrorType::Success) ? 0 : 1;
}
