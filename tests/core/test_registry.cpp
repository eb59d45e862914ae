// The registry and the exported functions, called the way a host calls them:
// in-process through the public header, and from the built shared library
// loaded with dlopen.
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/device.h"
#include "core/vocab/errors_text.h"
#include "device_test_util.h"
#include "link/permanent_tcp_client.h"
#include "quorvix_driver.h"
#include "replies/version.h"
#include "sim_scale.h"
#include "test_deadline.h"

using device_test::log_capture;

namespace {

struct host_handle {
    void* h = nullptr;
    host_handle() { EXPECT_EQ(create(&h), 0); }
    ~host_handle() { destroy(&h); }
    device& dev() { return *static_cast<device*>(h); }
};

}  // namespace

// Two devices, one destroyed: the other keeps working, and the destroyed
// handle joins the unregistered ones that every export refuses.
TEST(Registry, DestroyedAndUnregisteredHandlesGiveMinusThousand)
{
    host_handle live;
    void* gone = nullptr;
    testing::internal::CaptureStdout();
    ASSERT_EQ(create(&gone), 0);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(gone != nullptr && gone != live.h);
    std::ostringstream expected_create;
    expected_create << "library.create_device() handle:" << gone << "\n";
    EXPECT_NE(out.find(expected_create.str()), std::string::npos) << out;

    void* kept = gone;
    testing::internal::CaptureStdout();
    destroy(&gone);
    EXPECT_EQ(gone, kept);  // the host's variable is left as it was
    destroy(&gone);  // a second time: only the "missing" lines
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("device removed"), std::string::npos) << out;
    EXPECT_NE(out.find("the device is missing"), std::string::npos) << out;
    EXPECT_NE(out.find("destroy_device() END"), out.rfind("destroy_device() END")) << out;  // twice
    int not_a_device = 0;

    log_capture log;
    for (void* h : {static_cast<void*>(nullptr), static_cast<void*>(&not_a_device), gone}) {
        SCOPED_TRACE(h);
        long long i = 7;
        std::string s = "keep";
        std::wstring w = L"keep";
        std::vector<std::byte> b{std::byte{1}};
        const int results[] = {
            set_int_param(h, 17, 1),
            set_string_param(h, 1, "x"),
            set_wstring_param(h, 1, L"x"),
            set_bytes_array_param(h, 207, b),
            get_int_param(h, 17, &i),
            get_string_param(h, 1, &s),
            get_wstring_param(h, 1, &w),
            get_bytes_array_param(h, 207, &b),
            get_input_int_param(h, 17, &i),
            get_input_string_param(h, 1, &s),
            get_input_wstring_param(h, 1, &w),
            get_input_bytes_array_param(h, 207, &b),
            execute_command(h, 51),
            nativedriver::change_locale(h, L"C"),
        };
        for (int r : results) EXPECT_EQ(r, -1000);
        EXPECT_TRUE(i == 7 && s == "keep" && w == L"keep" && b == std::vector<std::byte>{std::byte{1}});
    }
    EXPECT_TRUE(log.lines().empty());

    // Null handle variables and null output pointers.
    EXPECT_EQ(create(nullptr), -1000);
    destroy(nullptr);
    long long v = 0;
    EXPECT_EQ(set_int_param(live.h, 17, 4), 0);
    EXPECT_EQ(get_input_int_param(live.h, 17, &v), 0);
    EXPECT_EQ(v, 4);
    EXPECT_EQ(get_input_int_param(live.h, 17, nullptr), -1000);
    EXPECT_EQ(get_input_string_param(live.h, 1, nullptr), -1000);
    EXPECT_EQ(get_wstring_param(live.h, 1, nullptr), -1000);
    EXPECT_EQ(get_bytes_array_param(live.h, 1, nullptr), -1000);
}

TEST(Exports, ReadsAndKinds)
{
    host_handle d;
    auto& dev = d.dev();
    // The output map is the command's; put values there directly.
    dev.set_int_param(static_cast<ParamType>(17), dev.output_params, -5, false);
    dev.set_string_param(static_cast<ParamType>(1), dev.output_params, L"h\u00E9", false);
    long long v = 1;
    EXPECT_EQ(get_int_param(d.h, 1, &v), -8);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(get_int_param(d.h, 17, &v), 0);
    EXPECT_EQ(v, -5);  // sign-extended to 64 bits

    // On failure the output getter empties the host's string, the input
    // getter leaves it alone.
    struct {
        int (*get)(void*, int, std::string*);
        int param;
        int result;
        const char* text;
    } reads[] = {
        {get_string_param, 1, 0, "h\xC3\xA9"},
        {get_string_param, 2, -7, ""},
        {get_string_param, 17, -8, ""},
        {get_input_string_param, 2, -7, "old"},
    };
    for (const auto& r : reads) {
        std::string s = "old";
        EXPECT_EQ(r.get(d.h, r.param, &s), r.result) << r.param;
        EXPECT_EQ(s, r.text) << r.param;
    }

    // Malformed UTF-8 is stored up to the fault, with a log line.
    log_capture log;
    std::wstring w;
    EXPECT_EQ(set_string_param(d.h, 1, "ab\xC3(cd"), 0);
    EXPECT_TRUE(
        log.contains("set_string_param: malformed UTF-8 at byte 2 for param_type 1; the text is stored up to it"));
    EXPECT_EQ(get_input_wstring_param(d.h, 1, &w), 0);
    EXPECT_EQ(w, L"ab");

    const std::vector<std::byte> bytes{std::byte{0}, std::byte{7}};
    std::vector<std::byte> b;
    EXPECT_EQ(set_bytes_array_param(d.h, 209, bytes), 0);
    EXPECT_EQ(get_input_bytes_array_param(d.h, 209, &b), 0);
    EXPECT_EQ(b, bytes);
    EXPECT_EQ(dev.input_params.size() + dev.output_params.size(), 4u);  // reads add nothing
}

// A host thread runs a long command through the exports; a second thread's
// command is refused and its stop accepted, and neither touches the running
// command's parameters: the inputs stay until the command itself ends, with
// -9, and the stop ends with it.
TEST(Exports, ASecondThreadLeavesTheRunningCommandsMaps)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale scale("127.0.0.120");
    qv_sim::add_connect_replies(scale)->set_plu_count(55);
    qv_sim::fault late;
    late.delay = std::chrono::milliseconds(800);
    scale.set_fault(late);
    host_handle d;
    d.dev().timeout_seconds = 2;
    d.dev().ip_address_list.push_back({scale.ip(), scale.port_text(), "1234", 1, ""});
    ASSERT_EQ(set_int_param(d.h, 21, 4), 0);

    std::atomic<int> first{1};
    std::thread host([&] { first = execute_command(d.h, 29); });
    EXPECT_TRUE(scale.wait_for_requests(1, std::chrono::seconds(3)));
    EXPECT_EQ(execute_command(d.h, 29), -2);
    EXPECT_EQ(execute_command(d.h, 127), 0);
    long long v = 0;
    EXPECT_EQ(get_input_int_param(d.h, 21, &v), 0);
    EXPECT_EQ(v, 4);
    host.join();
    EXPECT_EQ(first, -9);
    EXPECT_EQ(get_input_int_param(d.h, 21, &v), -7);  // emptied by the command's own end

    scale.clear_faults();
    EXPECT_EQ(execute_command(d.h, 29), 0);
    EXPECT_EQ(get_int_param(d.h, 17, &v), 0);
    EXPECT_EQ(v, 55);
}

// Destroying a device writes its two lines, also with kept-open links,
// which go with it.
TEST(Lifecycle, DestroyedDeviceWritesItsLines)
{
    qv_sim::sim_scale scale("127.0.0.121");
    qv_sim::add_connect_replies(scale);
    for (const bool kept_open : {false, true}) {
        SCOPED_TRACE(kept_open);
        auto d = std::make_unique<device>();
        std::weak_ptr<permanent_tcp_client> link;
        if (kept_open) {
            d->timeout_seconds = 1;
            d->permanent_connection = true;
            d->ip_address_list.push_back({scale.ip(), scale.port_text(), "1234", 1, ""});
            ASSERT_EQ(d->connect(), 0);
            link = d->permanent_clients.at(scale.ip());
        }
        log_capture log;
        d.reset();
        EXPECT_EQ(log.lines(), (std::vector<std::string>{"~device", "'disconnect' start"}));
        EXPECT_TRUE(link.expired());
    }
}

TEST(Lifecycle, DestroyWhileTheWeightThreadReadsTheDevice)
{
    const test_deadline deadline{std::chrono::seconds(20)};
    device_test::init_test_log();
    std::atomic<int> reads{0};
    std::atomic<bool> left{false};
    for (int round = 0; round < 3; ++round) {
        void* h = nullptr;
        ASSERT_EQ(create(&h), 0);
        auto& dev = *static_cast<device*>(h);
        reads = 0;
        left = false;
        ASSERT_TRUE(dev.start_weight_thread([&] {
            while (dev.weight_running) {
                std::vector<scale_connect_data> scales;
                {
                    auto lock = dev.lock_state();
                    scales = dev.ip_address_list;
                }
                reads += dev.current_error_texts()->get_text(ErrorType::NoConnection).empty() ? 0 : 1;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            left = true;
        }));
        EXPECT_FALSE(dev.start_weight_thread([] {}));  // one stream at a time

        // Writers change the shared members under the lock meanwhile.
        for (int i = 0; i < 50; ++i) {
            {
                auto lock = dev.lock_state();
                dev.ip_address_list.push_back({"127.0.0." + std::to_string(i), "1", "", 1, ""});
                dev.timeout_seconds = i;
            }
            dev.replace_error_texts(i % 2 ? std::shared_ptr<errors_text>(std::make_shared<errors_text_rus>())
                                          : std::make_shared<errors_text_eng>());
        }
        while (reads < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        destroy(&h);
        EXPECT_TRUE(left);  // the thread had left before the device went
    }
}

TEST(Lifecycle, WeightThreadStopsAndRestarts)
{
    const test_deadline deadline{std::chrono::seconds(20)};
    device d;
    auto loop = [&] {
        while (d.weight_running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(d.start_weight_thread(loop));
        d.stop_weight_thread();
        EXPECT_FALSE(d.weight_thread.joinable());
    }
    // A loop that ends by itself (an error) may be started again.
    ASSERT_TRUE(d.start_weight_thread([] { throw std::runtime_error("poll failed"); }));
    while (d.weight_running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(d.start_weight_thread(loop));  // left running: the destructor stops it
}

// The built library loaded the way a host loads it.
TEST(SharedLibrary, HostCallsTheUnmangledExports)
{
    void* lib = dlopen(QV_DRIVER_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char* name :
         {"create", "destroy", "set_int_param", "set_string_param", "set_wstring_param", "set_bytes_array_param",
          "get_int_param", "get_string_param", "get_wstring_param", "get_bytes_array_param", "get_input_int_param",
          "get_input_string_param", "get_input_wstring_param", "get_input_bytes_array_param", "execute_command",
          // nativedriver::change_locale(void*, std::wstring) under its C++ name
          "_ZN12nativedriver13change_localeEPvNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE"})
        ASSERT_NE(dlsym(lib, name), nullptr) << name;
    auto fn = [lib](const char* name) { return dlsym(lib, name); };
    auto create_p = reinterpret_cast<int (*)(void**)>(fn("create"));
    auto destroy_p = reinterpret_cast<void (*)(void**)>(fn("destroy"));
    auto set_str_p = reinterpret_cast<int (*)(void*, int, const std::string&)>(fn("set_string_param"));
    auto get_str_p = reinterpret_cast<int (*)(void*, int, std::string*)>(fn("get_input_string_param"));
    auto locale_p = reinterpret_cast<int (*)(void*, std::wstring)>(
        fn("_ZN12nativedriver13change_localeEPvNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE"));

    void* h = nullptr;
    std::string s;
    ASSERT_EQ(create_p(&h), 0);
    EXPECT_EQ(set_str_p(h, 1, "127.0.0.9"), 0);
    EXPECT_EQ(get_str_p(h, 1, &s), 0);
    EXPECT_EQ(s, "127.0.0.9");
    EXPECT_EQ(locale_p(h, L"no_such_locale_xx"), -1000);
    destroy_p(&h);
    EXPECT_EQ(set_str_p(h, 1, "x"), -1000);
    void* left_behind = nullptr;
    ASSERT_EQ(create_p(&left_behind), 0);  // destroyed by the registry at unload
    EXPECT_EQ(dlclose(lib), 0);
}
