// A host linked with the driver library (no dlopen): connects to one scale
// over TCP, prints its PLU count and one reading of its live weight.
//
//     linked_host <scale IP> <port> [admin password]
//
// Exits 0 when every step succeeded.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quorvix_driver.h"
#include "quorvix_logger.h"
#include "quorvix_weight.h"

namespace {

// Called on the driver's weight thread; the main thread waits for a reading.
class first_reading : public WeightInterface {
public:
    void weight_changed(int weight, int tare, std::vector<std::byte>) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!got_) std::printf("  weight %d, tare %d\n", weight, tare);
        got_ = true;
        done_.notify_all();
    }
    void weight_error(std::string text) override { std::printf("  %s\n", text.c_str()); }
    bool wait(std::chrono::seconds timeout)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return done_.wait_for(lock, timeout, [this] { return got_; });
    }

private:
    std::mutex mu_;
    std::condition_variable done_;
    bool got_ = false;
};

int run(void* handle)
{
    const int connected = execute_command(handle, int(CommandType::connect));
    std::printf("connect -> %d\n", connected);
    if (connected != int(ErrorType::Success)) return connected;

    const int counted = execute_command(handle, int(CommandType::get_plu_count));
    long long count = 0;
    if (counted == int(ErrorType::Success)) get_int_param(handle, int(ParamType::PLUCount), &count);
    std::printf("get_plu_count -> %d, PLU count %lld\n", counted, count);
    if (counted != int(ErrorType::Success)) return counted;

    auto reading = std::make_shared<first_reading>();
    std::shared_ptr<WeightInterface> sink = reading;
    int period_ms = 100;
    const int started = static_cast<device*>(handle)->start_get_weight(sink, period_ms);
    std::printf("start_get_weight -> %d\n", started);
    if (started != int(ErrorType::Success)) return started;
    const bool got = reading->wait(std::chrono::seconds(10));
    const int stopped = execute_command(handle, int(CommandType::stop_get_weight));
    std::printf("stop_get_weight -> %d\n", stopped);
    return got ? stopped : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: linked_host <scale IP> <port> [admin password]\n");
        return 2;
    }
    // Logging stays off (Logger::init_log is never called): nothing to read.
    if (!Logger::get_memory_log_data().empty()) return 1;

    void* handle = nullptr;
    if (create(&handle) != int(ErrorType::Success)) return 1;
    set_string_param(handle, int(ParamType::Ip), argv[1]);
    set_string_param(handle, int(ParamType::Port), argv[2]);
    set_string_param(handle, int(ParamType::AdminPassword), argc > 3 ? argv[3] : "0000");
    set_int_param(handle, int(ParamType::Protocol), 1);  // TCP
    set_int_param(handle, int(ParamType::ConnectTimeout), 2);
    const int status = run(handle);
    destroy(&handle);
    return status == int(ErrorType::Success) ? 0 : 1;
}
