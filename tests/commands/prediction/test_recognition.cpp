// Recognition: the start request's payload rules, the status poll from start
// to the items document, the item confirmation, the camera reset and its
// status sequences, short replies and a stop in each loop.

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "poll_test_util.h"
#include "replies/prediction.h"
#include "send_test_util.h"

using namespace std::chrono_literals;
using device_test::bytes_of;
using device_test::log_capture;
using poll_test::short_polls;
using qv_sim::result_step;
using qv_sim::status_step;
using send_test::B;
using send_test::bytes;

namespace {

constexpr int password[] = {'1', '2', '3', '4'};

class Recognition : public send_test::device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        script = qv_sim::add_recognition_replies(sim);
        send_test::add_scale(d, sim, 1);
    }

    // The payload of the first request with these command bytes, after the
    // password; empty when there was none.
    bytes sent(const bytes& command)
    {
        for (const auto& r : sim.requests())
            if (r.command == command) return bytes(r.rest.begin() + 4, r.rest.end());
        return {};
    }

    std::size_t count_of(const bytes& command)
    {
        std::size_t n = 0;
        for (const auto& r : sim.requests()) n += r.command == command ? 1 : 0;
        return n;
    }

    qv_sim::sim_scale sim{"127.0.0.33"};
    std::shared_ptr<qv_sim::recognition_script> script;
};

struct start_case {
    const char* what;
    std::vector<std::pair<ParamType, int>> inputs;
    int result;
    bytes payload;  // empty: nothing sent
};

TEST_F(Recognition, StartPayloadRules)
{
    short_polls fast;
    script->prediction_status.set({status_step(0, {})});
    using P = ParamType;
    const start_case cases[] = {
        {"defaults", {}, 0, B({5, 0, 10, 10})},
        {"count 20, wait 255", {{P::PredictionCount, 20}, {P::PredictionWaitTimeout, 255}}, 0, B({20, 0, 10, 0xFF})},
        {"count 0", {{P::PredictionCount, 0}}, 0, B({0, 0, 10, 10})},
        {"count 21 becomes 5", {{P::PredictionCount, 21}}, 0, B({5, 0, 10, 10})},
        {"count -1 becomes 5", {{P::PredictionCount, -1}}, 0, B({5, 0, 10, 10})},
        {"confirm type low byte", {{P::PredictionConfirmType, 258}}, 0, B({5, 2, 10, 10})},
        {"confirm timeout 7", {{P::PredictionConfirmTimeout, 7}}, 0, B({5, 0, 7, 10})},
        {"wait timeout 256", {{P::PredictionWaitTimeout, 256}}, -104, {}},
        {"confirm timeout -1", {{P::PredictionConfirmTimeout, -1}}, -104, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.clear_requests();
        for (const auto& [p, v] : c.inputs) d.set_int_param(p, d.input_params, v, false);
        EXPECT_EQ(d.execute_command(121), c.result);
        EXPECT_EQ(sent(B({0xFF, 0x22})), c.payload);
        if (c.payload.empty()) {
            EXPECT_EQ(sim.request_count(), 0u);
        } else {
            EXPECT_EQ(sim.requests()[0].frame, [&] {
                bytes f = B({0x02, 0x0A, 0xFF, 0x22, password[0], password[1], password[2], password[3]});
                f.insert(f.end(), c.payload.begin(), c.payload.end());
                return f;
            }());
        }
    }
    d.set_string_param(ParamType::PredictionCount, d.input_params, L"5", false);
    EXPECT_EQ(d.execute_command(121), -8);
}

TEST_F(Recognition, RunFromStartToTheItemsDocument)
{
    std::vector<std::chrono::steady_clock::time_point> polls;
    std::mutex mu;
    sim.set_observer([&](const qv_sim::request&) {
        std::lock_guard<std::mutex> lock(mu);
        polls.push_back(std::chrono::steady_clock::now());
    });
    const bytes items = bytes_of(R"([{"code":101}])");
    script->prediction_status.set({status_step(1), status_step(1), status_step(0, items)});
    log_capture log;
    EXPECT_EQ(d.execute_command(121), 0);
    sim.set_observer(nullptr);

    bytes out;
    EXPECT_EQ(d.get_bytes_array_param(ParamType::JsonPredictionItems, d.output_params, out, false), 0);
    EXPECT_EQ(out, items);
    ASSERT_EQ(polls.size(), 4u);  // the start and three polls, each after a pause
    for (std::size_t k = 1; k < polls.size(); ++k) EXPECT_GE(polls[k] - polls[k - 1], 190ms);
    EXPECT_EQ(sim.requests()[1].frame, B({0x02, 0x06, 0xFF, 0x23, '1', '2', '3', '4'}));
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "status = 1"), 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "status = recognition_in_process"), 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "status = 0"), 1);
}

struct status_case {
    const char* what;
    std::vector<qv_sim::reply_sequence::step> statuses;
    int result;
    bool has_items;
    std::string error_line;  // empty: none
};

TEST_F(Recognition, StatusPollEndings)
{
    short_polls fast;
    qv_sim::reply_sequence::step short_items = status_step(0, bytes_of("abcdef"));
    short_items.data.resize(short_items.data.size() - 2);
    const status_case cases[] = {
        {"empty items", {status_step(1), status_step(0, {})}, 0, true, ""},
        {"scale error", {status_step(1), result_step(122)}, 122, false, "'start_prediction' error=122"},
        {"no status byte", {status_step(1), {0, {}}}, -101, false, "'start_prediction' error=-101"},
        {"items cut short", {short_items}, -101, false, "'get_prediction_status' error=-101"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        script->prediction_status.set(c.statuses);
        log_capture log;
        EXPECT_EQ(d.execute_command(121), c.result);
        EXPECT_EQ(d.checkParamInMap(ParamType::JsonPredictionItems, d.output_params, DataType::ByteArray, false),
                  c.has_items);
        if (!c.error_line.empty()) {
            EXPECT_TRUE(log.contains(c.error_line));
        }
    }
}

TEST_F(Recognition, SilentScaleEndsTheWait)
{
    short_polls fast;
    sim.on({0xFF, 0x23}, [](const qv_sim::request& r) {
        return qv_sim::reply(qv_sim::reply_frame(r.command, 0), send_test::silent());
    });
    EXPECT_EQ(d.execute_command(121), -1);
}

TEST_F(Recognition, StopWhileTheRecognitionRuns)
{
    short_polls fast(20ms);
    script->prediction_status.set({status_step(1)});
    const auto run = poll_test::run_and_stop(d, 121, sim, 4);
    EXPECT_EQ(run.result, -9);
    EXPECT_LT(run.after_stop, 1000ms);
}

TEST_F(Recognition, ConfirmItemRange)
{
    const struct {
        int item;
        int result;
        bytes payload;
    } cases[] = {
        {1, 0, B({1, 0, 0, 0})}, {9999999, 0, B({0x7F, 0x96, 0x98, 0x00})}, {0, -104, {}}, {10000000, -104, {}},
        {-5, -104, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        sim.clear_requests();
        d.set_int_param(ParamType::ItemCode, d.input_params, c.item, false);
        EXPECT_EQ(d.execute_command(123), c.result);
        EXPECT_EQ(sent(B({0xFF, 0x24})), c.payload);
    }
    sim.clear_requests();
    EXPECT_EQ(d.execute_command(123), -7);
    EXPECT_EQ(sim.request_count(), 0u);
}

struct reset_case {
    const char* what;
    std::vector<qv_sim::reply_sequence::step> statuses;
    int result;
    std::size_t polls;
    std::string description;  // ErrorDescription, when written
};

TEST_F(Recognition, ResetStatusSequences)
{
    short_polls fast(5ms, 6);
    const reset_case cases[] = {
        {"done at once", {status_step(0)}, 0, 1, ""},
        {"done later", {status_step(1), status_step(1), status_step(0)}, 0, 3, ""},
        {"service disabled", {status_step(1), status_step(2)}, 192, 2, ""},
        {"not initialised", {status_step(1), status_step(3, bytes_of("no camera"))}, 188, 2, "no camera"},
        {"never settles", {status_step(1)}, 172, 6, ""},
        {"status request unknown", {result_step(120)}, 0, 1, ""},
        {"short reply, then done", {{0, {}}, status_step(0)}, 0, 2, ""},
        {"scale errors are tried again", {result_step(122), result_step(122), status_step(0)}, 0, 3, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        script->reset_status.set(c.statuses);
        sim.clear_requests();
        log_capture log;
        EXPECT_EQ(d.execute_command(128), c.result);
        EXPECT_EQ(count_of(B({0xFF, 0x59})), c.polls);
        EXPECT_EQ(sim.requests()[0].frame, B({0x02, 0x06, 0xFF, 0x43, '1', '2', '3', '4'}));
        EXPECT_TRUE(log.contains("Try: " + std::to_string(c.polls) + "/6"));
        bytes description;
        d.get_bytes_array_param(ParamType::ErrorDescription, d.output_params, description, false);
        EXPECT_EQ(description, bytes_of(c.description));
    }
}

TEST_F(Recognition, ResetStatusAloneAndItsLines)
{
    script->reset_status.set({status_step(5), result_step(120), result_step(122), status_step(3, bytes_of("ab"))});
    log_capture log;
    EXPECT_EQ(d.get_velunor_factory_reset_status(), 5);
    EXPECT_TRUE(log.contains("status = 5"));
    EXPECT_EQ(d.get_velunor_factory_reset_status(), 0);
    EXPECT_TRUE(log.contains("'get_velunor_factory_reset_status unknown_command' "));
    d.results.clear();
    EXPECT_EQ(d.get_velunor_factory_reset_status(), 122);
    EXPECT_TRUE(log.contains("'get_velunor_factory_reset_status' error=122"));
    d.results.clear();
    EXPECT_EQ(d.get_velunor_factory_reset_status(), 3);
    bytes description;
    EXPECT_EQ(d.get_bytes_array_param(ParamType::ErrorDescription, d.output_params, description, false), 0);
    EXPECT_EQ(description, bytes_of("ab"));
}

TEST_F(Recognition, ResetKeepsAskingAScaleThatMissedTries)
{
    short_polls fast(5ms, 500, 3);
    int asked = 0;
    std::mutex mu;
    sim.on({0xFF, 0x59}, [&](const qv_sim::request& r) {
        std::lock_guard<std::mutex> lock(mu);
        const bool answer = ++asked > 2;
        return answer ? qv_sim::reply(qv_sim::reply_frame(r.command, 0, B({0})))
                      : qv_sim::reply(qv_sim::reply_frame(r.command, 0), send_test::silent());
    });
    EXPECT_EQ(d.execute_command(128), 0);
    EXPECT_EQ(asked, 3);

    // A scale that has gone away ends the wait after the failures in a row.
    {
        std::lock_guard<std::mutex> lock(mu);
        asked = -1000;
    }
    log_capture log;
    EXPECT_EQ(d.execute_command(128), -1);
    EXPECT_EQ(count_of(B({0xFF, 0x59})), 6u);
    EXPECT_TRUE(log.contains("'velunor_factory_reset' error=-1"));
}

TEST_F(Recognition, StopWhileTheResetRuns)
{
    short_polls fast(20ms);
    script->reset_status.set({status_step(1)});
    const auto run = poll_test::run_and_stop(d, 128, sim, 4);
    EXPECT_EQ(run.result, -9);
    EXPECT_LT(run.after_stop, 1000ms);
}

}  // namespace
