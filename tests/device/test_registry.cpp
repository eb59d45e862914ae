// The registry and the exported functions, called the way a host calls them:
// in-process through the public header, and from the built shared library
// loaded with dlopen.
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/device.h"
#include "core/errors_text.h"
#include "device_test_util.h"
#include "quorvix_driver.h"

using device_test::bytes_of;
using device_test::log_capture;
using device_test::text_of;

namespace {

// Captures what the registry writes to standard output.
struct cout_capture {
    std::ostringstream text;
    std::streambuf* saved;
    cout_capture() : saved(std::cout.rdbuf(text.rdbuf())) {}
    ~cout_capture() { std::cout.rdbuf(saved); }
};

struct host_handle {
    void* h = nullptr;
    host_handle() { EXPECT_EQ(create(&h), 0); }
    ~host_handle()
    {
        if (h)
            destroy(&h);
    }
    device& dev() { return *static_cast<device*>(h); }
};

// Every int-returning export called with `h`: each gives -1000 and writes
// no output argument.
void expect_every_export_refuses(void* h)
{
    long long i = 7;
    std::string s = "keep";
    std::wstring w = L"keep";
    std::vector<std::byte> b{std::byte{1}};
    EXPECT_EQ(set_int_param(h, 17, 1), -1000);
    EXPECT_EQ(set_string_param(h, 1, "x"), -1000);
    EXPECT_EQ(set_wstring_param(h, 1, L"x"), -1000);
    EXPECT_EQ(set_bytes_array_param(h, 207, b), -1000);
    EXPECT_EQ(get_int_param(h, 17, &i), -1000);
    EXPECT_EQ(get_string_param(h, 1, &s), -1000);
    EXPECT_EQ(get_wstring_param(h, 1, &w), -1000);
    EXPECT_EQ(get_bytes_array_param(h, 207, &b), -1000);
    EXPECT_EQ(get_input_int_param(h, 17, &i), -1000);
    EXPECT_EQ(get_input_string_param(h, 1, &s), -1000);
    EXPECT_EQ(get_input_wstring_param(h, 1, &w), -1000);
    EXPECT_EQ(get_input_bytes_array_param(h, 207, &b), -1000);
    EXPECT_EQ(execute_command(h, 51), -1000);
    EXPECT_EQ(nativedriver::change_locale(h, L"C"), -1000);
    EXPECT_EQ(i, 7);
    EXPECT_EQ(s, "keep");
    EXPECT_EQ(w, L"keep");
    EXPECT_EQ(b, std::vector<std::byte>{std::byte{1}});
}

}  // namespace

TEST(Registry, TwoDevicesAndOneDestroyed)
{
    device_test::init_test_log();
    void* a = nullptr;
    void* b = nullptr;
    std::string out;
    {
        cout_capture cap;
        ASSERT_EQ(create(&a), 0);
        ASSERT_EQ(create(&b), 0);
        out = cap.text.str();
    }
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a, b);
    std::ostringstream expected_create;
    expected_create << "library.create_device() handle:" << a << "\n";
    EXPECT_NE(out.find(expected_create.str()), std::string::npos) << out;

    void* kept = a;
    {
        cout_capture cap;
        destroy(&a);
        EXPECT_EQ(a, kept);  // the host's variable is left as it was
        destroy(&a);         // a second time: only the "missing" lines
        out = cap.text.str();
    }
    EXPECT_NE(out.find("device removed"), std::string::npos);
    EXPECT_NE(out.find("the device is missing"), std::string::npos);
    std::size_t ends = 0;
    for (std::size_t at = out.find("library.destroy_device() END"); at != std::string::npos;
         at = out.find("library.destroy_device() END", at + 1))
        ++ends;
    EXPECT_EQ(ends, 2u);

    EXPECT_EQ(set_int_param(b, 17, 4), 0);
    long long v = 0;
    EXPECT_EQ(get_input_int_param(b, 17, &v), 0);
    EXPECT_EQ(v, 4);
    destroy(&b);
}

TEST(Registry, UnregisteredHandlesAndNullPointersGiveMinusThousand)
{
    host_handle live;
    void* gone = nullptr;
    ASSERT_EQ(create(&gone), 0);
    destroy(&gone);
    int not_a_device = 0;

    log_capture log;
    for (void* h : {static_cast<void*>(nullptr), static_cast<void*>(&not_a_device), gone}) {
        SCOPED_TRACE(h);
        expect_every_export_refuses(h);
    }
    EXPECT_TRUE(log.lines().empty());

    // Null handle variables and null output pointers.
    EXPECT_EQ(create(nullptr), -1000);
    destroy(nullptr);
    EXPECT_EQ(set_int_param(live.h, 17, 1), 0);
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
    EXPECT_EQ(get_int_param(d.h, 17, &v), 0);
    EXPECT_EQ(v, -5);  // sign-extended to 64 bits
    v = 1;
    EXPECT_EQ(get_int_param(d.h, 1, &v), -8);
    EXPECT_EQ(v, 1);
    std::string s = "old";
    EXPECT_EQ(get_string_param(d.h, 1, &s), 0);
    EXPECT_EQ(s, "h\xC3\xA9");

    // Absent: the output getter empties the host's string, the input getter
    // leaves it alone.
    s = "old";
    EXPECT_EQ(get_string_param(d.h, 2, &s), -7);
    EXPECT_EQ(s, "");
    s = "old";
    EXPECT_EQ(get_input_string_param(d.h, 2, &s), -7);
    EXPECT_EQ(s, "old");
    s = "old";
    EXPECT_EQ(get_string_param(d.h, 17, &s), -8);
    EXPECT_EQ(s, "");

    // Byte-order mark and malformed UTF-8.
    std::wstring w;
    EXPECT_EQ(set_string_param(d.h, 1, "\xEF\xBB\xBF" "abc"), 0);
    EXPECT_EQ(get_input_wstring_param(d.h, 1, &w), 0);
    EXPECT_EQ(w, L"abc");
    EXPECT_EQ(set_string_param(d.h, 1, "\xEF\xBB\xBF"), 0);
    EXPECT_EQ(get_input_wstring_param(d.h, 1, &w), 0);
    EXPECT_EQ(w, std::wstring(1, 0xFEFF));
    {
        log_capture log;
        EXPECT_EQ(set_string_param(d.h, 1, "ab\xC3(cd"), 0);
        EXPECT_TRUE(log.contains("set_string_param: malformed UTF-8 at byte 2 for param_type 1; the text is stored up to it"));
    }
    EXPECT_EQ(get_input_wstring_param(d.h, 1, &w), 0);
    EXPECT_EQ(w, L"ab");

    // Bytes read back exactly as stored (after the root folder joining), and
    // a read does not change the input map.
    dev.driver_root_folder = bytes_of("/srv");
    EXPECT_EQ(set_bytes_array_param(d.h, 207, bytes_of("./f")), 0);
    std::vector<std::byte> b;
    EXPECT_EQ(get_input_bytes_array_param(d.h, 207, &b), 0);
    EXPECT_EQ(text_of(b), "/srv/f");
    EXPECT_EQ(dev.input_params.size(), 2u);
}

TEST(Exports, BusyDeviceKeepsItsMaps)
{
    host_handle d;
    auto& dev = d.dev();
    ASSERT_EQ(set_int_param(d.h, 17, 1), 0);
    dev.set_int_param(static_cast<ParamType>(18), dev.output_params, 2, false);
    dev.results["10.0.0.1"] = 0;

    dev.busy.store(true);  // another command owns the device
    EXPECT_EQ(execute_command(d.h, 29), -2);
    EXPECT_EQ(execute_command(d.h, 127), 0);
    EXPECT_TRUE(dev.stop_requested.load());
    EXPECT_TRUE(dev.busy.load());
    EXPECT_EQ(dev.input_params.size(), 1u);
    EXPECT_EQ(dev.output_params.size(), 1u);
    EXPECT_EQ(dev.results.size(), 1u);

    dev.busy.store(false);
    execute_command(d.h, 29);
    EXPECT_FALSE(dev.busy.load());
    EXPECT_FALSE(dev.stop_requested.load());
    EXPECT_TRUE(dev.input_params.empty());
    EXPECT_TRUE(dev.output_params.empty());
}

TEST(Lifecycle, DestroyWhileTheWeightThreadReadsTheDevice)
{
    device_test::init_test_log();
    for (int round = 0; round < 3; ++round) {
        void* h = nullptr;
        ASSERT_EQ(create(&h), 0);
        auto& dev = *static_cast<device*>(h);
        auto reads = std::make_shared<std::atomic<int>>(0);
        auto left = std::make_shared<std::atomic<bool>>(false);
        ASSERT_TRUE(dev.start_weight_thread([&dev, reads, left] {
            while (dev.weight_running.load()) {
                std::vector<scale_connect_data> scales;
                int timeout = 0;
                {
                    auto lock = dev.lock_state();
                    scales = dev.ip_address_list;
                    timeout = dev.timeout_seconds;
                }
                auto texts = dev.current_error_texts();
                volatile std::size_t n = texts->get_text(ErrorType::NoConnection).size() + scales.size() + timeout;
                (void)n;
                ++*reads;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            left->store(true);
        }));
        EXPECT_FALSE(dev.start_weight_thread([] {}));  // one stream at a time

        // Writers change the shared members under the lock meanwhile.
        for (int i = 0; i < 50; ++i) {
            {
                auto lock = dev.lock_state();
                dev.ip_address_list.push_back({"127.0.0." + std::to_string(i), "1", "", 1, ""});
                dev.timeout_seconds = i;
            }
            if (i % 2)
                dev.replace_error_texts(std::make_shared<errors_text_rus>());
            else
                dev.replace_error_texts(std::make_shared<errors_text_eng>());
        }
        while (reads->load() < 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        destroy(&h);
        EXPECT_TRUE(left->load());  // the thread had left before the device went
    }
}

TEST(Lifecycle, WeightThreadStopsAndRestarts)
{
    device d;
    std::atomic<int> runs{0};
    auto loop = [&] {
        ++runs;
        while (d.weight_running.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    ASSERT_TRUE(d.start_weight_thread(loop));
    d.stop_weight_thread();
    EXPECT_FALSE(d.weight_thread.joinable());
    ASSERT_TRUE(d.start_weight_thread(loop));
    d.stop_weight_thread();
    EXPECT_EQ(runs.load(), 2);
    // A loop that ends by itself (an error) may be started again.
    ASSERT_TRUE(d.start_weight_thread([] { throw std::runtime_error("poll failed"); }));
    while (d.weight_running.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(d.start_weight_thread(loop));
}

// The built library loaded the way a host loads it.
TEST(SharedLibrary, HostCallsTheUnmangledExports)
{
    void* lib = dlopen(QV_DRIVER_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using create_fn = int (*)(void**);
    using destroy_fn = void (*)(void**);
    using set_int_fn = int (*)(void*, int, int);
    using set_str_fn = int (*)(void*, int, const std::string&);
    using get_int_fn = int (*)(void*, int, long long*);
    using get_str_fn = int (*)(void*, int, std::string*);
    using exec_fn = int (*)(void*, int);
    using locale_fn = int (*)(void*, std::wstring);
    auto sym = [&](const char* name) {
        void* p = dlsym(lib, name);
        EXPECT_NE(p, nullptr) << name;
        return p;
    };
    const char* names[] = {"create", "destroy", "set_int_param", "set_string_param", "set_wstring_param",
                           "set_bytes_array_param", "get_int_param", "get_string_param", "get_wstring_param",
                           "get_bytes_array_param", "get_input_int_param", "get_input_string_param",
                           "get_input_wstring_param", "get_input_bytes_array_param", "execute_command"};
    for (const char* n : names)
        sym(n);
    auto create_p = reinterpret_cast<create_fn>(sym("create"));
    auto destroy_p = reinterpret_cast<destroy_fn>(sym("destroy"));
    auto set_int_p = reinterpret_cast<set_int_fn>(sym("set_int_param"));
    auto set_str_p = reinterpret_cast<set_str_fn>(sym("set_string_param"));
    auto get_input_int_p = reinterpret_cast<get_int_fn>(sym("get_input_int_param"));
    auto get_input_str_p = reinterpret_cast<get_str_fn>(sym("get_input_string_param"));
    auto exec_p = reinterpret_cast<exec_fn>(sym("execute_command"));
    // nativedriver::change_locale(void*, std::wstring) under its C++ name.
    auto locale_p = reinterpret_cast<locale_fn>(
        sym("_ZN12nativedriver13change_localeEPvNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE"));
    ASSERT_TRUE(create_p && destroy_p && set_int_p && set_str_p && get_input_int_p && get_input_str_p && exec_p &&
                locale_p);

    void* h = nullptr;
    ASSERT_EQ(create_p(&h), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(set_int_p(h, 17, 41), 0);
    EXPECT_EQ(set_str_p(h, 1, "127.0.0.9"), 0);
    long long v = 0;
    EXPECT_EQ(get_input_int_p(h, 17, &v), 0);
    EXPECT_EQ(v, 41);
    std::string s;
    EXPECT_EQ(get_input_str_p(h, 1, &s), 0);
    EXPECT_EQ(s, "127.0.0.9");
    EXPECT_EQ(exec_p(h, -37), 120);  // a number no table knows
    EXPECT_EQ(locale_p(h, L"no_such_locale_xx"), -1000);
    EXPECT_EQ(locale_p(nullptr, L"C"), -1000);

    // The library's registry is its own: this process's handles mean nothing there.
    host_handle here;
    EXPECT_EQ(set_int_p(here.h, 17, 1), -1000);

    destroy_p(&h);
    EXPECT_EQ(set_int_p(h, 17, 1), -1000);
    void* left_behind = nullptr;
    ASSERT_EQ(create_p(&left_behind), 0);  // destroyed by the registry at unload
    EXPECT_EQ(dlclose(lib), 0);
}
