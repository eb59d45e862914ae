// The registry and the exported functions, called the way a host calls them.
#include <atomic>

#include "core/vocab/errors_text.h"
#include "quorvix_driver.h"
#include "send_test_util.h"
#include "test_deadline.h"

using device_test::log_capture;

// Destroyed, unregistered and null handles are refused by every export, leaving the host's values.
TEST(Registry, DestroyedUnregisteredAndNullGiveMinusThousandAndLeaveTheHostsValues)
{
    void *live = nullptr, *gone = nullptr;
    ASSERT_EQ(create(&live), 0);
    ASSERT_EQ(create(&gone), 0);
    void* kept = gone;
    destroy(&gone);
    EXPECT_EQ(gone, kept);  // the host's variable is left as it was
    destroy(&gone);  // a second time: nothing happens
    int not_a_device = 0;
    log_capture log;
    for (void* h : {static_cast<void*>(nullptr), static_cast<void*>(&not_a_device), gone}) {
        long long i = 7;
        std::string s = "keep";
        std::wstring w = L"keep";
        std::vector<std::byte> b{std::byte{1}};
        for (int r :
             {set_int_param(h, 17, 1), set_string_param(h, 1, "x"), set_wstring_param(h, 1, L"x"),
              set_bytes_array_param(h, 207, b), get_int_param(h, 17, &i), get_string_param(h, 1, &s),
              get_wstring_param(h, 1, &w), get_bytes_array_param(h, 207, &b), get_input_int_param(h, 17, &i),
              get_input_string_param(h, 1, &s), get_input_wstring_param(h, 1, &w),
              get_input_bytes_array_param(h, 207, &b), execute_command(h, 51), nativedriver::change_locale(h, L"C")})
            EXPECT_EQ(r, -1000);
        EXPECT_TRUE(i == 7 && s == "keep" && w == L"keep" && b == std::vector<std::byte>{std::byte{1}});
    }
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(create(nullptr), -1000);
    destroy(nullptr);
    EXPECT_EQ(get_input_int_param(live, 17, nullptr), -1000);
    // Reads: kind mismatch -8 and sign extension; on failure the output getter empties the host's string.
    auto& dev = *static_cast<device*>(live);
    dev.set_int_param(ParamType(17), dev.output_params, -5, false);  // the output map is the command's
    long long v = 1;
    std::string s = "old";
    EXPECT_EQ(get_string_param(live, 17, &s), -8);
    EXPECT_EQ(get_int_param(live, 17, &v), 0);
    EXPECT_EQ(s + std::to_string(v), "-5");
    // Malformed UTF-8 is stored up to the fault, with a log line.
    std::wstring w;
    EXPECT_EQ(set_string_param(live, 1, "ab\xC3(cd"), 0);
    EXPECT_TRUE(
        log.contains("set_string_param: malformed UTF-8 at byte 2 for param_type 1; the text is stored up to it"));
    EXPECT_EQ(get_input_wstring_param(live, 1, &w), 0);
    EXPECT_EQ(w, L"ab");
    destroy(&live);
}

// Destroy waits for the weight thread reading the device; a loop that ended by itself may restart.
TEST(Lifecycle, DestroyWhileTheWeightThreadReadsTheDevice)
{
    const test_deadline deadline{std::chrono::seconds(20)};
    device_test::init_test_log();
    std::atomic<int> reads{0};
    std::atomic<bool> left{false};
    void* h = nullptr;
    ASSERT_EQ(create(&h), 0);
    auto& dev = *static_cast<device*>(h);
    ASSERT_TRUE(dev.start_weight_thread([] { throw std::runtime_error("poll failed"); }, nullptr));
    while (dev.weight_running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(dev.start_weight_thread([&] {
        while (dev.weight_running) {
            const auto scales = (dev.lock_state(), dev.ip_address_list);  // copied under the lock
            reads += dev.current_error_texts()->get_text(ErrorType::NoConnection).empty() ? 0 : 1;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        left = true;
    }, nullptr));
    EXPECT_FALSE(dev.start_weight_thread([] {}, nullptr));
    for (int i = 0; i < 50; ++i) {
        (dev.lock_state(), dev.ip_address_list.push_back({"127.0.0." + std::to_string(i), "1", "", 1, ""}));
        dev.replace_error_texts(i % 2 ? std::shared_ptr<errors_text>(std::make_shared<errors_text_rus>())
                                      : std::make_shared<errors_text_eng>());
    }
    while (reads < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    destroy(&h);
    EXPECT_TRUE(left);  // the thread had left before the device went
}
