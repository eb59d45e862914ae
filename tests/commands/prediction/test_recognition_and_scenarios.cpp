// The recognition service and the scenarios, the two polled services: the
// request payload rules, the status polls with their pauses, endings, short
// replies and a stop from a second thread; the camera reset, the statistics
// statistics document, the scenario list read in parts and a group poll.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "commands/prediction/polling.h"
#include "replies/prediction.h"
#include "replies/scenarios.h"
#include "send_test_util.h"

using namespace std::chrono_literals;
using device_test::bytes_of;
using qv_sim::result_step;
using qv_sim::scenario_entry;
using qv_sim::scenario_part;
using qv_sim::status_step;
using send_test::B;
using send_test::bytes;
using steps = std::vector<qv_sim::reply_sequence::step>;

namespace {

// Puts the given periods and bounds in force and the previous ones back.
struct short_polls {
    explicit short_polls(std::chrono::milliseconds period = 5ms, int reset_tries = 500, int reset_failures = 10)
    {
        auto& t = qv_polling_internal::timing();
        t.recognition_period = t.encryption_period = t.reset_period = period;
        t.reset_tries = reset_tries;
        t.reset_failed_exchanges = reset_failures;
    }
    ~short_polls() { qv_polling_internal::timing() = saved; }
    const qv_polling_internal::poll_timing saved = qv_polling_internal::timing();
};

// Runs `command`; once `sim` has received `requests` requests, another thread
// sends the stop command. Gives the result and the time from the stop to the end.
std::pair<int, std::chrono::steady_clock::duration> run_and_stop(device& d, int command, const qv_sim::sim_scale& sim,
                                                                 std::size_t requests)
{
    std::chrono::steady_clock::time_point stopped_at{};
    std::thread stopper([&] {
        if (!sim.wait_for_requests(requests, 10s)) return;
        stopped_at = std::chrono::steady_clock::now();
        d.execute_command(127);
    });
    const int result = d.execute_command(command);
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    return {result, ended - stopped_at};
}

scenario_entry entry(int number, const std::string& name, const std::string& second = "")
{
    return {static_cast<std::uint8_t>(number), bytes_of(name), bytes_of(second)};
}

// 02 LEN FF xx, the password, the payload.
bytes request(int opcode, const bytes& payload = {})
{
    bytes f = B({0x02, static_cast<int>(6 + payload.size()), 0xFF, opcode, '1', '2', '3', '4'});
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

class Polled : public send_test::device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        script = qv_sim::add_recognition_replies(sim);
        scenarios = qv_sim::add_scenario_replies(sim);
        send_test::add_scale(d, sim, 1);
    }
    std::size_t count_of(const bytes& command)
    {
        std::size_t n = 0;
        for (const auto& r : sim.requests()) n += r.command == command ? 1 : 0;
        return n;
    }
    bytes listed()  // empty when the command wrote none
    {
        bytes out;
        d.get_bytes_array_param(ParamType::Scenarios, d.output_params, out, false);
        return out;
    }
    void choose(const bytes& scenario)
    {
        d.set_bytes_array_param(ParamType::Scenarios, d.input_params, scenario, false);
    }
    qv_sim::sim_scale sim{"127.0.0.33"};
    std::shared_ptr<qv_sim::recognition_script> script;
    std::shared_ptr<qv_sim::scenario_script> scenarios;
};

TEST_F(Polled, StartConfirmAndStatisticsPayloadRules)
{
    short_polls fast;
    script->prediction_status.set({status_step(0, {})});
    using P = ParamType;
    const struct {
        const char* what;
        int command;
        std::vector<std::pair<ParamType, int>> inputs;
        int result;
        bytes frame;  // empty: nothing sent
    } cases[] = {
        // clang-format off
        {"defaults", 121, {}, 0, request(0x22, B({5, 0, 10, 10}))},
        {"count 21 becomes 5, wait 255", 121, {{P::PredictionCount, 21}, {P::PredictionWaitTimeout, 255}}, 0,
         request(0x22, B({5, 0, 10, 255}))},
        {"wait timeout 256", 121, {{P::PredictionWaitTimeout, 256}}, -104, {}},
        {"confirm type 255", 121, {{P::PredictionConfirmType, 255}}, 0, request(0x22, B({5, 255, 10, 10}))},
        {"confirm type 256", 121, {{P::PredictionConfirmType, 256}}, -104, {}},
        {"confirm type -1", 121, {{P::PredictionConfirmType, -1}}, -104, {}},
        {"item 9999999", 123, {{P::ItemCode, 9999999}}, 0, request(0x24, B({0x7F, 0x96, 0x98, 0x00}))},
        {"item 10000000", 123, {{P::ItemCode, 10000000}}, -104, {}},
        {"item absent", 123, {}, -7, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.clear_requests();
        for (const auto& [p, v] : c.inputs) d.set_int_param(p, d.input_params, v, false);
        EXPECT_EQ(d.execute_command(c.command), c.result);
        ASSERT_EQ(sim.request_count() == 0, c.frame.empty());
        if (c.frame.empty()) continue;
        EXPECT_EQ(sim.requests()[0].frame, c.frame);
    }
    d.set_string_param(ParamType::PredictionCount, d.input_params, L"5", false);
    EXPECT_EQ(d.execute_command(121), -8);
    // The confirm time-out is judged before the wait time-out is read.
    d.set_int_param(ParamType::PredictionConfirmTimeout, d.input_params, 256, false);
    d.set_string_param(ParamType::PredictionWaitTimeout, d.input_params, L"5", false);
    EXPECT_EQ(d.execute_command(121), -104);

    // The two archive bytes: 255 goes as it is, 256 is refused unsent.
    const std::tuple<int, int, int> archive[] = {{255, 0, 0}, {0, 256, -104}, {-1, 0, -104}};
    for (const auto& [first, second, result] : archive) {
        sim.clear_requests();
        d.set_int_param(ParamType::ArchiveStatisticByte1, d.input_params, first, false);
        d.set_int_param(ParamType::ArchiveStatisticByte2, d.input_params, second, false);
        EXPECT_EQ(d.create_archive_prediction_statistic(), result) << first << " " << second;
        const bytes expected = result == 0 ? request(0x32, B({first, second})) : bytes{};
        EXPECT_EQ(sim.request_count() == 0 ? bytes{} : sim.requests().at(0).frame, expected);
    }
}

TEST_F(Polled, StatusPollFromStartToTheItemsDocumentAndItsEndings)
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
    EXPECT_EQ(sim.requests()[1].frame, request(0x23));

    short_polls fast;
    qv_sim::reply_sequence::step short_items = status_step(0, bytes_of("abcdef"));
    short_items.data.resize(short_items.data.size() - 2);
    script->prediction_status.set({status_step(1), short_items});
    EXPECT_EQ(d.execute_command(121), -101);
    EXPECT_FALSE(d.checkParamInMap(ParamType::JsonPredictionItems, d.output_params, DataType::ByteArray, false));
    sim.on({0xFF, 0x23}, [](const qv_sim::request& r) {
        return qv_sim::reply(qv_sim::reply_frame(r.command, 0), send_test::silent());
    });
    EXPECT_EQ(d.execute_command(121), -1);  // a silent scale ends the wait
}

TEST_F(Polled, ResetStatusSequences)
{
    short_polls fast(5ms, 6, 3);
    script->reset_status.set(
        {{0, {}}, status_step(1), status_step(3, bytes_of("no camera"))});  // a short reply is tried again
    EXPECT_EQ(d.execute_command(128), 188);
    EXPECT_EQ(sim.requests()[0].frame, request(0x43));
    bytes description;
    d.get_bytes_array_param(ParamType::ErrorDescription, d.output_params, description, false);
    EXPECT_EQ(description, bytes_of("no camera"));
    script->reset_status.set({status_step(1)});
    EXPECT_EQ(d.execute_command(128), 172);  // never settles in six tries
    EXPECT_EQ(count_of(B({0xFF, 0x59})), 3u + 6u);

    // A scale that has gone away ends the wait after three failures in a row.
    sim.on({0xFF, 0x59}, [](const qv_sim::request& r) {
        return qv_sim::reply(qv_sim::reply_frame(r.command, 0), send_test::silent());
    });
    EXPECT_EQ(d.execute_command(128), -1);
    EXPECT_EQ(count_of(B({0xFF, 0x59})), 3u + 6u + 3u);
}

TEST_F(Polled, StopWhileTheRecognitionTheResetOrTheEncryptionRuns)
{
    short_polls fast(20ms);
    script->prediction_status.set({status_step(1)});
    script->reset_status.set({status_step(1)});
    scenarios->encrypt_status.set({result_step(172)});
    for (int command : {121, 128, 122}) {
        SCOPED_TRACE(command);
        sim.clear_requests();
        choose(B({'s'}));
        const auto [result, after_stop] = run_and_stop(d, command, sim, 4);
        EXPECT_EQ(result, -9);
        EXPECT_LT(after_stop, 1000ms);
    }
}

TEST_F(Polled, StatisticsJsonRequestDocument)
{
    d.set_int_param(ParamType::ItemCode, d.input_params, -3, false);
    d.set_string_param(ParamType::StatisticRequestType, d.input_params, L"DAYS", false);
    d.set_bytes_array_param(ParamType::StatisticStartDate, d.input_params, B({0x01, 0x02, 0x18}), false);
    d.set_bytes_array_param(ParamType::StatisticEndDate, d.input_params, B({1, 2}), false);  // short: empty
    EXPECT_EQ(d.create_json_prediction_statistic(), 0);
    const std::string document =
        "{\n    \"productCode\": \"-3\",\n    \"requestType\": \"DAYS\",\n"
        "    \"startDate\": \"01-02-24\",\n    \"endDate\": \"\"\n}\n";
    bytes payload = B({static_cast<int>(document.size()), 0});
    const bytes text = bytes_of(document);
    payload.insert(payload.end(), text.begin(), text.end());
    EXPECT_EQ(sim.requests().back().frame, request(0x29, payload));
    // A date of another kind is left empty too.
    d.set_string_param(ParamType::StatisticEndDate, d.input_params, L"01-02-24", false);
    EXPECT_EQ(d.create_json_prediction_statistic(), 0);
    EXPECT_EQ(sim.requests().back().frame, request(0x29, payload));
}

TEST_F(Polled, ScenarioListInThreePartsBecomesOneText)
{
    scenarios->set_list({entry(1, "A"), entry(2, "B", "xy"), entry(3, "Q\"q"), entry(4, "D", "d\"d"), entry(12, "L")},
                        2);
    EXPECT_EQ(d.execute_command(70), 0);
    EXPECT_EQ(listed(), B({0x31, '"', 'A', '"', 'A', '"',  // no second text: the name again
                           0x32, '"', 'B', '"', 'x', 'y', '"',  //
                           0x33, '"', 'Q', '"', 'q', '"', 'Q', 'q', '"',  // the copy loses its quote
                           0x34, '"', 'D', '"', 'd', 'd', '"',  //
                           0x3C, '"', 'L', '"', 'L', '"'}));
    ASSERT_EQ(sim.request_count(), 3u);
    for (const auto& r : sim.requests()) EXPECT_EQ(r.frame, B({0x02, 0x05, 0x2E, '1', '2', '3', '4'}));
}

// The whole list or nothing: a second part that fails in any way leaves no
// half list behind.
TEST_F(Polled, ScenarioListFailingSecondPartWritesNothing)
{
    bytes cut = scenario_part(3, {entry(3, "Cde")});
    cut.pop_back();
    qv_sim::fault silence = send_test::silent(), no_stx, closed, none;
    no_stx.first_byte = 0x03;
    closed.close_mid_reply = true;
    const struct {
        const char* what;
        bytes second_part;
        qv_sim::fault how;
        int result;
    } cases[] = {
        {"no entry while one is due", scenario_part(3, {}), none, -101},
        {"an entry cut short", cut, none, -101},
        {"more entries than announced", scenario_part(3, {entry(3, "C"), entry(4, "D")}), none, -101},
        {"no reply", scenario_part(3, {entry(3, "C")}), silence, -1},
        {"no STX", scenario_part(3, {entry(3, "C")}), no_stx, -102},
        {"connection closed mid-reply", scenario_part(3, {entry(3, "C")}), closed, -1},
    };
    // The first part as usual, the second as `second` and sent the way `how` says.
    const auto serve_parts = [this](const bytes& second, const qv_sim::fault& how) {
        scenarios->list.set({{0, scenario_part(3, {entry(1, "A"), entry(2, "B")})}, {0, second}});
        sim.clear_requests();
        sim.on({0x2E}, [this, how, served = std::make_shared<std::atomic<int>>(0)](const qv_sim::request& r) {
            const qv_sim::reply_sequence::step s = scenarios->list.next();
            return qv_sim::reply(qv_sim::reply_frame(r.command, s.result, s.data), (*served)++ ? how : qv_sim::fault{});
        });
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        serve_parts(c.second_part, c.how);
        EXPECT_EQ(d.execute_command(70), c.result);
        EXPECT_EQ(sim.request_count(), 2u);
        EXPECT_TRUE(listed().empty());
    }

    // A stop while the second part is on its way.
    qv_sim::fault late;
    late.delay = 2s;
    serve_parts(scenario_part(3, {entry(3, "C")}), late);
    EXPECT_EQ(run_and_stop(d, 70, sim, 2).first, -9);
    EXPECT_TRUE(listed().empty());
}

// The longest list a 16-bit total allows, in parts of 4,096 entries: one
// text, stored once, in a few seconds (each entry re-stored took minutes).
TEST_F(Polled, ScenarioListOfTheLargestSize)
{
    std::vector<scenario_entry> all(65535, entry(0, "A"));
    for (std::size_t k = 0; k < all.size(); ++k) all[k].number = static_cast<std::uint8_t>(k);
    scenarios->set_list(all, 4096);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(d.execute_command(70), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 60s);
    EXPECT_EQ(sim.request_count(), 16u);
    const bytes text = listed();
    ASSERT_EQ(text.size(), 65535u * 6);
    EXPECT_EQ(bytes(text.begin(), text.begin() + 6), B({0x30, '"', 'A', '"', 'A', '"'}));
    EXPECT_EQ(bytes(text.end() - 6, text.end()), B({(0x30 + 0xFE) & 0xFF, '"', 'A', '"', 'A', '"'}));
}

TEST_F(Polled, EncryptionPollsUntilTheScaleIsDoneChoiceAndRefusals)
{
    scenarios->encrypt_status.set({result_step(172), result_step(172), result_step(0)});
    choose(B({'x', 'y'}));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(d.execute_command(122), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 380ms);  // a pause after each "busy"
    EXPECT_EQ(scenarios->encrypt_status.served(), 3u);
    EXPECT_EQ(sim.requests()[0].frame, B({0x02, 0x09, 0xFF, 0x39, '1', '2', '3', '4', 2, 'x', 'y'}));
    EXPECT_EQ(sim.requests()[1].frame, B({0x02, 0x06, 0xFF, 0x40, '1', '2', '3', '4'}));
    choose(B({'a', 'b', 'c'}));
    EXPECT_EQ(d.execute_command(71), 0);  // the choice: the same payload
    EXPECT_EQ(sim.requests().back().frame, B({0x02, 0x09, 0x2F, '1', '2', '3', '4', 3, 'a', 'b', 'c'}));
    const std::size_t sent = sim.request_count();
    choose(bytes(256, std::byte{'n'}));
    EXPECT_EQ(d.execute_command(71), -104);
    EXPECT_EQ(d.execute_command(122), -7);
    d.set_string_param(ParamType::Scenarios, d.input_params, L"x", false);
    EXPECT_EQ(d.execute_command(71), -8);
    EXPECT_EQ(sim.request_count(), sent);
}

// One scale fails while the other is still at work: the poll goes on until
// the other is done, then reports the failure and marks both.
TEST_F(Polled, GroupEncryptionWaitsForTheScaleThatFinishesLast)
{
    short_polls fast;
    qv_sim::sim_scale second{"127.0.0.34"};
    auto second_scenarios = qv_sim::add_scenario_replies(second);
    send_test::add_scale(d, second, 0);
    scenarios->encrypt_status.set({result_step(201)});
    second_scenarios->encrypt_status.set({result_step(172), result_step(172), result_step(172), result_step(0)});
    choose(B({'s'}));
    EXPECT_EQ(d.execute_command(122), -111);
    EXPECT_EQ(second_scenarios->encrypt_status.served(), 4u);
    EXPECT_EQ(d.results.at("127.0.0.33"), 201);
    EXPECT_EQ(d.results.at("127.0.0.34"), 0);
}

}  // namespace
