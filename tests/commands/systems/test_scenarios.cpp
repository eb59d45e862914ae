// Scenarios: the list read in parts and its broken counts, the choice and
// encryption requests, the encryption poll with one and two scales, short
// replies and a stop in each loop.

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../prediction/poll_test_util.h"
#include "replies/scenarios.h"
#include "send_test_util.h"

using namespace std::chrono_literals;
using device_test::bytes_of;
using device_test::log_capture;
using poll_test::short_polls;
using qv_sim::result_step;
using qv_sim::scenario_entry;
using qv_sim::scenario_part;
using send_test::B;
using send_test::bytes;

namespace {

scenario_entry entry(int number, const std::string& name, const std::string& second = "")
{
    return {static_cast<std::uint8_t>(number), bytes_of(name), bytes_of(second)};
}

class Scenarios : public send_test::device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        script = qv_sim::add_scenario_replies(sim);
        send_test::add_scale(d, sim, 1);
    }

    // The Scenarios output, or empty when the command wrote none.
    bytes listed()
    {
        bytes out;
        d.get_bytes_array_param(ParamType::Scenarios, d.output_params, out, false);
        return out;
    }

    void choose(const bytes& scenario)
    {
        d.set_bytes_array_param(ParamType::Scenarios, d.input_params, scenario, false);
    }

    qv_sim::sim_scale sim{"127.0.0.30"};
    std::shared_ptr<qv_sim::scenario_script> script;
};

TEST_F(Scenarios, ListInThreePartsBecomesOneText)
{
    script->set_list({entry(1, "A"), entry(2, "B", "xy"), entry(3, "Q\"q"), entry(4, "D", "d\"d"), entry(12, "L")}, 2);
    EXPECT_EQ(d.execute_command(70), 0);
    EXPECT_EQ(listed(), B({0x31, '"', 'A', '"', 'A', '"',  // no second text: the name again
                           0x32, '"', 'B', '"', 'x', 'y', '"',  //
                           0x33, '"', 'Q', '"', 'q', '"', 'Q', 'q', '"',  // the copy loses its quote
                           0x34, '"', 'D', '"', 'd', 'd', '"',  //
                           0x3C, '"', 'L', '"', 'L', '"'}));
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& r : requests) EXPECT_EQ(r.frame, B({0x02, 0x05, 0x2E, '1', '2', '3', '4'}));
}

TEST_F(Scenarios, EmptyListBrokenCountsAndShortReplies)
{
    const bytes two = scenario_part(3, {entry(1, "A"), entry(2, "B")});
    const bytes two_listed = B({0x31, '"', 'A', '"', 'A', '"', 0x32, '"', 'B', '"', 'B', '"'});
    bytes cut = scenario_part(2, {entry(1, "A"), entry(2, "Bcd")});
    cut.pop_back();
    const struct {
        const char* what;
        std::vector<bytes> parts;
        int result;
        std::size_t requests;
        bytes output;  // what stays from the parts before the broken one
    } cases[] = {
        {"empty list", {scenario_part(0, {})}, 0, 1, {}},
        {"nothing more while one is due", {two, scenario_part(3, {})}, -101, 2, two_listed},
        {"more than announced at once", {scenario_part(2, {entry(1, "A"), entry(2, "B"), entry(3, "C")})}, -101, 1, {}},
        {"more than announced in the end", {two, two}, -101, 2, two_listed},
        {"entry cut short", {cut}, -101, 1, {}},
        {"header cut short", {B({0x02, 0x00, 0x02})}, -101, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<qv_sim::reply_sequence::step> steps;
        for (const bytes& p : c.parts) steps.push_back({0, p});
        script->list.set(steps, true);
        sim.clear_requests();
        log_capture log;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(d.execute_command(70), c.result);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
        EXPECT_EQ(sim.request_count(), c.requests);
        EXPECT_EQ(listed(), c.output);
        EXPECT_EQ(log.contains("get_scenarios_list -101"), c.result == -101);
    }
}

TEST_F(Scenarios, ChoiceAndEncryptionRequests)
{
    short_polls fast;
    script->encrypt_status.set({result_step(0)});
    bytes longest(1, std::byte{0xFF});
    longest.insert(longest.end(), 255, std::byte{'n'});
    const struct {
        const char* what;
        int command;
        bytes scenario;  // empty with `absent`
        bool absent;
        int result;
        bytes sent_payload;  // after the password; empty: nothing sent
    } cases[] = {
        {"set: three bytes", 71, B({'a', 'b', 'c'}), false, 0, B({3, 'a', 'b', 'c'})},
        {"set: empty", 71, {}, false, 0, B({0})},
        {"set: 255 bytes", 71, bytes(255, std::byte{'n'}), false, 0, longest},
        {"set: 256 bytes", 71, bytes(256, std::byte{'n'}), false, -104, {}},
        {"set: absent", 71, {}, true, -7, {}},
        {"encrypt: two bytes", 122, B({'x', 'y'}), false, 0, B({2, 'x', 'y'})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.clear_requests();
        if (!c.absent) choose(c.scenario);
        EXPECT_EQ(d.execute_command(c.command), c.result);
        const auto requests = sim.requests();
        ASSERT_EQ(requests.empty(), c.sent_payload.empty());
        if (requests.empty()) continue;
        EXPECT_EQ(requests[0].command, c.command == 71 ? B({0x2F}) : B({0xFF, 0x39}));
        EXPECT_EQ(script->chosen(), c.sent_payload);
    }
    d.set_string_param(ParamType::Scenarios, d.input_params, L"x", false);
    EXPECT_EQ(d.execute_command(71), -8);
}

TEST_F(Scenarios, EncryptionPollsEvery200msUntilTheScaleIsDone)
{
    std::vector<std::chrono::steady_clock::time_point> polls;
    std::mutex mu;
    sim.set_observer([&](const qv_sim::request& r) {
        std::lock_guard<std::mutex> lock(mu);
        if (r.command == B({0xFF, 0x40})) polls.push_back(std::chrono::steady_clock::now());
    });
    script->encrypt_status.set({result_step(172), result_step(172), result_step(172), result_step(0)});
    choose(B({'s'}));
    log_capture log;
    EXPECT_EQ(d.execute_command(122), 0);
    sim.set_observer(nullptr);
    ASSERT_EQ(polls.size(), 4u);
    for (std::size_t k = 1; k < polls.size(); ++k) EXPECT_GE(polls[k] - polls[k - 1], 190ms);
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "'get_encrypt_scenario_status' start"), 4);
    EXPECT_EQ(sim.requests()[1].frame, B({0x02, 0x06, 0xFF, 0x40, '1', '2', '3', '4'}));
}

TEST_F(Scenarios, EncryptionErrors)
{
    short_polls fast;
    choose(B({'s'}));
    script->encrypt_status.set({result_step(172), result_step(201)});
    log_capture log;
    EXPECT_EQ(d.execute_command(122), 201);
    EXPECT_TRUE(log.contains("'encrypt_scenario' error=201"));

    // The request itself refused: no poll.
    sim.clear_requests();
    sim.on({0xFF, 0x39}, 202, {});
    choose(B({'s'}));
    EXPECT_EQ(d.execute_command(122), 202);
    EXPECT_EQ(sim.request_count(), 1u);
}

TEST_F(Scenarios, StopWhileTheListIsReadOrTheEncryptionIsPolled)
{
    // A long list served one entry per part, slowly.
    std::vector<scenario_entry> many(200, entry(1, "S"));
    script->set_list(many, 1);
    qv_sim::fault slow;
    slow.delay = 20ms;
    sim.set_fault(slow);
    auto run = poll_test::run_and_stop(d, 70, sim, 3);
    EXPECT_EQ(run.result, -9);
    EXPECT_LT(run.after_stop, 1500ms);
    EXPECT_LT(sim.request_count(), 200u);

    sim.clear_faults();
    sim.clear_requests();
    short_polls fast(20ms);
    script->encrypt_status.set({result_step(172)});
    choose(B({'s'}));
    log_capture log;
    run = poll_test::run_and_stop(d, 122, sim, 4);
    EXPECT_EQ(run.result, -9);
    EXPECT_LT(run.after_stop, 1000ms);
    EXPECT_FALSE(log.contains("'encrypt_scenario' error=-9"));
}

TEST_F(Scenarios, GroupEncryptionWaitsForTheScaleThatFinishesLast)
{
    short_polls fast;
    qv_sim::sim_scale late("127.0.0.32");
    auto late_script = qv_sim::add_scenario_replies(late);
    send_test::add_scale(d, late, 0);
    const auto busy = [](std::size_t n, qv_sim::reply_sequence::step last) {
        std::vector<qv_sim::reply_sequence::step> steps(n, result_step(172));
        steps.push_back(last);
        return steps;
    };

    script->encrypt_status.set(busy(1, result_step(0)));
    late_script->encrypt_status.set(busy(4, result_step(0)));
    choose(B({'s'}));
    EXPECT_EQ(d.execute_command(122), 0);
    EXPECT_EQ(late_script->encrypt_status.served(), 5u);

    // One scale fails while the other is still at work: the poll goes on
    // until the other is done, then reports the failure.
    script->encrypt_status.set({result_step(201)});
    late_script->encrypt_status.set(busy(3, result_step(0)));
    const std::size_t late_before = late_script->encrypt_status.served();
    choose(B({'s'}));
    EXPECT_EQ(d.execute_command(122), -111);
    EXPECT_EQ(late_script->encrypt_status.served() - late_before, 4u);
    EXPECT_EQ(d.results.at("127.0.0.30"), 201);
    EXPECT_EQ(d.results.at("127.0.0.32"), 0);
}

}  // namespace
