// The recognition camera: start_prediction (121), confirm_item_after_prediction (123), the camera reset (128).

#include <chrono>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "polling_test_util.h"

using namespace std::chrono_literals;
using command_table::frame;
using device_test::bytes_of;
using polling_test::B;
using polling_test::bytes;
using polling_test::short_polls;
using qv_sim::status_step;
using timing = qv_polling_internal::poll_timing;

namespace {

class Recognition : public polling_test::polled_test {};

TEST_F(Recognition, StartAndConfirmPayloadRules)
{
    short_polls fast;
    script->prediction_status.set({status_step(0, {})});
    using P = ParamType;
    const struct {
        const char* what;
        int command;
        std::vector<std::pair<ParamType, std::variant<int, std::wstring>>> inputs;
        int result;
        bytes frame;  // empty: nothing sent
    } cases[] = {
        // clang-format off
        {"121 defaults", 121, {}, 0, frame({0xFF, 0x22}, B({5, 0, 10, 10}))},
        {"121 count 20 as it is", 121, {{P::PredictionCount, 20}}, 0, frame({0xFF, 0x22}, B({20, 0, 10, 10}))},
        {"121 count 21 becomes 5, wait 255", 121, {{P::PredictionCount, 21}, {P::PredictionWaitTimeout, 255}}, 0,
         frame({0xFF, 0x22}, B({5, 0, 10, 255}))},
        {"121 wait timeout 256", 121, {{P::PredictionWaitTimeout, 256}}, -104, {}},
        {"121 confirm type 255", 121, {{P::PredictionConfirmType, 255}}, 0, frame({0xFF, 0x22}, B({5, 255, 10, 10}))},
        {"121 confirm type 256", 121, {{P::PredictionConfirmType, 256}}, -104, {}},
        {"123 item 9999999", 123, {{P::ItemCode, 9999999}}, 0, frame({0xFF, 0x24}, B({0x7F, 0x96, 0x98, 0x00}))},
        {"123 item 10000000", 123, {{P::ItemCode, 10000000}}, -104, {}},
        {"123 item 0", 123, {{P::ItemCode, 0}}, -104, {}},
        {"123 item absent", 123, {}, -7, {}},
        {"121 count as text", 121, {{P::PredictionCount, L"5"}}, -8, {}},
        {"121 confirm time-out judged before the wait time-out is read", 121,
         {{P::PredictionConfirmTimeout, 256}, {P::PredictionWaitTimeout, L"5"}}, -104, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.clear_requests();
        for (const auto& [p, v] : c.inputs)
            if (const int* n = std::get_if<int>(&v))
                d.set_int_param(p, d.input_params, *n, false);
            else
                d.set_string_param(p, d.input_params, std::get<std::wstring>(v), false);
        EXPECT_EQ(d.execute_command(c.command), c.result);
        EXPECT_EQ(sim.request_count() == 0 ? bytes{} : sim.requests()[0].frame, c.frame);  // empty: none sent
    }
}

// 121 polls FF 23 after a pause until the status is 0 and the items follow.
TEST_F(Recognition, StatusPollFromStartToTheItemsDocumentAndItsEndings)
{
    const bytes items = bytes_of(R"([{"code":101}])");
    script->prediction_status.set({status_step(1), status_step(1), status_step(0, items)});
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(d.execute_command(121), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 570ms);  // a pause before each of the three polls
    bytes out;
    EXPECT_EQ(d.get_bytes_array_param(ParamType::JsonPredictionItems, d.output_params, out, false), 0);
    EXPECT_EQ(out, items);
    EXPECT_EQ(count_of(B({0xFF, 0x23})), 3u);
    EXPECT_EQ(sim.requests()[1].frame, frame({0xFF, 0x23}));

    short_polls fast;
    qv_sim::reply_sequence::step short_items = status_step(0, bytes_of("abcdef"));
    short_items.data.resize(short_items.data.size() - 2);
    script->prediction_status.set({status_step(1), short_items});
    EXPECT_EQ(d.execute_command(121), -101);
    EXPECT_FALSE(d.checkParamInMap(ParamType::JsonPredictionItems, d.output_params, DataType::ByteArray, false));
    silence(B({0xFF, 0x23}));
    EXPECT_EQ(d.execute_command(121), -1);  // a silent scale ends the wait
}

// 128 polls FF 59 until the status settles, a bounded number of times.
TEST_F(Recognition, ResetStatusSequences)
{
    short_polls fast(5ms, 6, 3);
    script->reset_status.set(
        {{0, {}}, status_step(1), status_step(3, bytes_of("no camera"))});  // a short reply is tried again
    EXPECT_EQ(d.execute_command(128), 188);
    EXPECT_EQ(sim.requests()[0].frame, frame({0xFF, 0x43}));
    bytes description;
    d.get_bytes_array_param(ParamType::ErrorDescription, d.output_params, description, false);
    EXPECT_EQ(description, bytes_of("no camera"));
    script->reset_status.set({status_step(1)});
    EXPECT_EQ(d.execute_command(128), 172);  // never settles in six tries
    EXPECT_EQ(count_of(B({0xFF, 0x59})), 3u + 6u);

    // A scale that has gone away ends the wait after three failures in a row.
    silence(B({0xFF, 0x59}));
    EXPECT_EQ(d.execute_command(128), -1);
    EXPECT_EQ(count_of(B({0xFF, 0x59})), 3u + 6u + 3u);
}

TEST_F(Recognition, StopInThePauseOrTheExchangeOfThePoll)
{
    script->prediction_status.set({status_step(1)});
    script->reset_status.set({status_step(1)});
    expect_stops({
        {"121: in the pause after FF 22", 121, &timing::recognition_period, 1, false},
        {"121: while FF 23 waits", 121, &timing::recognition_period, 2, true},
        {"128: in the pause after the first FF 59", 128, &timing::reset_period, 2, false},
    });
}

}  // namespace
