// The recognition service: the start request's payload rules, the status
// poll from start to the items document, the item confirmation, the camera
// reset and its status sequences, short replies and a stop in each loop; the
// statistics requests as the file download uses them, and the status of
// every scale marked in the per-scale results.

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
using steps = std::vector<qv_sim::reply_sequence::step>;

namespace {

class Recognition : public send_test::device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        script = qv_sim::add_recognition_replies(sim);
        send_test::add_scale(d, sim, 1);
    }

    // The payload of the last request, after the password.
    bytes last_payload()
    {
        const auto requests = sim.requests();
        return requests.empty() ? bytes{} : bytes(requests.back().rest.begin() + 4, requests.back().rest.end());
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

// 02 LEN FF xx, the password, the payload.
bytes request(int opcode, const bytes& payload = {})
{
    bytes f = B({0x02, static_cast<int>(6 + payload.size()), 0xFF, opcode, '1', '2', '3', '4'});
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

TEST_F(Recognition, StartAndConfirmPayloadRules)
{
    short_polls fast;
    script->prediction_status.set({status_step(0, {})});
    using P = ParamType;
    const struct {
        const char* what;
        int command;
        std::vector<std::pair<ParamType, int>> inputs;
        int result;
        bytes payload;  // empty: nothing sent
    } cases[] = {
        {"defaults", 121, {}, 0, B({5, 0, 10, 10})},
        {"count 20 wait 255", 121, {{P::PredictionCount, 20}, {P::PredictionWaitTimeout, 255}}, 0, B({20, 0, 10, 255})},
        {"count 21 becomes 5", 121, {{P::PredictionCount, 21}}, 0, B({5, 0, 10, 10})},
        {"confirm type low byte", 121, {{P::PredictionConfirmType, 258}}, 0, B({5, 2, 10, 10})},
        {"confirm timeout 7", 121, {{P::PredictionConfirmTimeout, 7}}, 0, B({5, 0, 7, 10})},
        {"wait timeout 256", 121, {{P::PredictionWaitTimeout, 256}}, -104, {}},
        {"item 9999999", 123, {{P::ItemCode, 9999999}}, 0, B({0x7F, 0x96, 0x98, 0x00})},
        {"item 0", 123, {{P::ItemCode, 0}}, -104, {}},
        {"item 10000000", 123, {{P::ItemCode, 10000000}}, -104, {}},
        {"item absent", 123, {}, -7, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.clear_requests();
        for (const auto& [p, v] : c.inputs) d.set_int_param(p, d.input_params, v, false);
        EXPECT_EQ(d.execute_command(c.command), c.result);
        if (c.payload.empty()) {
            EXPECT_EQ(sim.request_count(), 0u);
        } else {
            ASSERT_GE(sim.request_count(), 1u);
            EXPECT_EQ(sim.requests()[0].frame, request(c.command == 121 ? 0x22 : 0x24, c.payload));
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
    EXPECT_EQ(sim.requests()[1].frame, request(0x23));
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "status = recognition_in_process"), 2);
}

TEST_F(Recognition, StatusPollEndings)
{
    short_polls fast;
    qv_sim::reply_sequence::step short_items = status_step(0, bytes_of("abcdef"));
    short_items.data.resize(short_items.data.size() - 2);
    const struct {
        const char* what;
        steps statuses;
        int result;
        std::string error_line;  // empty: none, and the items written
    } cases[] = {
        {"empty items", {status_step(1), status_step(0, {})}, 0, ""},
        {"scale error", {status_step(1), result_step(122)}, 122, "'start_prediction' error=122"},
        {"no status byte", {status_step(1), {0, {}}}, -101, "'start_prediction' error=-101"},
        {"items cut short", {short_items}, -101, "'get_prediction_status' error=-101"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        script->prediction_status.set(c.statuses);
        log_capture log;
        EXPECT_EQ(d.execute_command(121), c.result);
        EXPECT_EQ(d.checkParamInMap(ParamType::JsonPredictionItems, d.output_params, DataType::ByteArray, false),
                  c.error_line.empty());
        EXPECT_TRUE(c.error_line.empty() || log.contains(c.error_line)) << c.error_line;
    }

    // A silent scale ends the wait.
    sim.on({0xFF, 0x23}, [](const qv_sim::request& r) {
        return qv_sim::reply(qv_sim::reply_frame(r.command, 0), send_test::silent());
    });
    EXPECT_EQ(d.execute_command(121), -1);
}

TEST_F(Recognition, ResetStatusSequences)
{
    short_polls fast(5ms, 6);
    const struct {
        const char* what;
        steps statuses;
        int result;
        std::size_t polls;
        std::string description;  // ErrorDescription, when written
    } cases[] = {
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
        EXPECT_EQ(sim.requests()[0].frame, request(0x43));
        EXPECT_TRUE(log.contains("Try: " + std::to_string(c.polls) + "/6"));
        bytes description;
        d.get_bytes_array_param(ParamType::ErrorDescription, d.output_params, description, false);
        EXPECT_EQ(description, bytes_of(c.description));
    }

    // Asked alone, the status is the result; an unknown request is no error.
    script->reset_status.set({status_step(5), result_step(120)});
    log_capture log;
    EXPECT_EQ(d.get_velunor_factory_reset_status(), 5);
    EXPECT_EQ(d.get_velunor_factory_reset_status(), 0);
    EXPECT_TRUE(log.contains("'get_velunor_factory_reset_status unknown_command' "));
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

TEST_F(Recognition, StopWhileTheRecognitionOrTheResetRuns)
{
    short_polls fast(20ms);
    script->prediction_status.set({status_step(1)});
    script->reset_status.set({status_step(1)});
    for (int command : {121, 128}) {
        SCOPED_TRACE(command);
        sim.clear_requests();
        const auto run = poll_test::run_and_stop(d, command, sim, 4);
        EXPECT_EQ(run.result, -9);
        EXPECT_LT(run.after_stop, 1000ms);
    }
}

TEST_F(Recognition, StatisticsJsonRequestDocument)
{
    const auto document = [](const char* code, const char* start, const char* end) {
        return std::string("{\n    \"productCode\": \"") + code + "\",\n    \"requestType\": \"DAYS\",\n" +
               "    \"startDate\": \"" + start + "\",\n    \"endDate\": \"" + end + "\"\n}\n";
    };
    const struct {
        int item;
        bytes start, end;  // empty: absent
        std::string document;
    } cases[] = {
        {1234, B({0x01, 0x02, 0x18}), B({0x05, 0x02, 0x18}), document("1234", "01-02-24", "05-02-24")},
        {-3, {}, B({1, 2}), document("-3", "", "")},
    };
    for (const auto& c : cases) {
        d.input_params.clear();  // a direct call leaves its inputs
        d.set_int_param(ParamType::ItemCode, d.input_params, c.item, false);
        d.set_string_param(ParamType::StatisticRequestType, d.input_params, L"DAYS", false);
        if (!c.start.empty()) d.set_bytes_array_param(ParamType::StatisticStartDate, d.input_params, c.start, false);
        d.set_bytes_array_param(ParamType::StatisticEndDate, d.input_params, c.end, false);
        testing::internal::CaptureStdout();
        EXPECT_EQ(d.create_json_prediction_statistic(), 0);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(sim.requests().back().command, B({0xFF, 0x29}));
        bytes expected = B({static_cast<int>(c.document.size()), 0});
        const bytes text = bytes_of(c.document);
        expected.insert(expected.end(), text.begin(), text.end());
        EXPECT_EQ(last_payload(), expected);
        // The test log also writes to the console: look for the document's lines among its lines.
        EXPECT_NE(printed.find("json data: \n" + c.document + "\n"), std::string::npos);
    }

    const struct {
        bool item;
        const wchar_t* type;  // nullptr: absent
        int result;
    } refusals[] = {{true, L"days", -104}, {true, L"WEEKS", -104}, {false, L"YEARS", -7}, {true, nullptr, -7}};
    sim.clear_requests();
    for (const auto& c : refusals) {
        if (c.item) d.set_int_param(ParamType::ItemCode, d.input_params, 7, false);
        if (c.type) d.set_string_param(ParamType::StatisticRequestType, d.input_params, c.type, false);
        EXPECT_EQ(d.create_json_prediction_statistic(), c.result);
        d.input_params.clear();
    }
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(Recognition, StatisticsArchiveRequest)
{
    d.set_int_param(ParamType::ArchiveStatisticByte1, d.input_params, 300, false);
    d.set_int_param(ParamType::ArchiveStatisticByte2, d.input_params, 1, false);
    EXPECT_EQ(d.create_archive_prediction_statistic(), 0);
    EXPECT_EQ(sim.requests().at(0).command, B({0xFF, 0x32}));
    EXPECT_EQ(last_payload(), B({0x2C, 0x01}));

    d.input_params.clear();
    d.set_int_param(ParamType::ArchiveStatisticByte1, d.input_params, 1, false);
    EXPECT_EQ(d.create_archive_prediction_statistic(), -104);
    d.set_string_param(ParamType::ArchiveStatisticByte2, d.input_params, L"1", false);
    EXPECT_EQ(d.create_archive_prediction_statistic(), -8);
    EXPECT_EQ(sim.request_count(), 1u);
}

TEST_F(Recognition, StatisticsStatusOfOneScale)
{
    script->json_statistic_status.set({status_step(1), status_step(0), result_step(172), {0, {}}});
    log_capture log;
    const struct {
        int result;
        const char* line;
    } polls[] = {
        {172, "status = prediction_statistic_in_process"},
        {0, nullptr},
        {172, "'get_json_prediction_statistic_status' error=172"},  // the scale's own "in progress"
        {-101, nullptr},  // no status byte
    };
    for (const auto& p : polls) {
        EXPECT_EQ(d.get_json_prediction_statistic_status(), p.result);
        EXPECT_EQ(d.results.at("127.0.0.33"), p.result);
        EXPECT_TRUE(!p.line || log.contains(p.line));
    }

    d.results.clear();
    script->archive_statistic_status.set({status_step(2)});
    EXPECT_EQ(d.get_archive_prediction_statistic_status(), 172);
    EXPECT_EQ(sim.requests().back().frame, B({0x02, 0x06, 0xFF, 0x33, '1', '2', '3', '4'}));
}

TEST_F(Recognition, StatisticsStatusMarksEveryScaleOfAList)
{
    qv_sim::sim_scale second{"127.0.0.34"};
    auto second_script = qv_sim::add_recognition_replies(second);
    send_test::add_scale(d, second, 0);
    script->archive_statistic_status.set({status_step(0)});
    second_script->archive_statistic_status.set({status_step(1), status_step(1), status_step(0)});
    // The download's view: poll while an entry is 172.
    int polls = 0;
    int result = 0;
    do {
        result = d.get_archive_prediction_statistic_status();
        ++polls;
    } while (polls < 10 && (d.results.at("127.0.0.33") == 172 || d.results.at("127.0.0.34") == 172));
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(result, 0);

    // One scale fails: -111, the other is still read and marked.
    d.results.clear();
    script->archive_statistic_status.set({result_step(122)});
    second_script->archive_statistic_status.set({status_step(1)});
    EXPECT_EQ(d.get_archive_prediction_statistic_status(), -111);
    EXPECT_EQ(d.results.at("127.0.0.33"), 122);
    EXPECT_EQ(d.results.at("127.0.0.34"), 172);
}

}  // namespace
