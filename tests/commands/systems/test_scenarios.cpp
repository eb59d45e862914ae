// Scenarios: the list (get_scenarios_list, 70), the choice (set_scenario, 71), the encryption (122).

#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../prediction/polling_test_util.h"
#include "test_hooks/test_hooks.h"

using namespace std::chrono_literals;
using device_test::bytes_of;
using polling_test::B;
using polling_test::bytes;
using polling_test::run_and_stop;
using qv_sim::result_step;
using qv_sim::scenario_entry;
using qv_sim::scenario_part;

namespace {

scenario_entry entry(int number, const std::string& name, const std::string& second = "")
{
    return {static_cast<std::uint8_t>(number), bytes_of(name), bytes_of(second)};
}

class Scenarios : public polling_test::polled_test {
protected:
    bytes listed()  // empty when the command wrote none
    {
        bytes out;
        d.get_bytes_array_param(ParamType::Scenarios, d.output_params, out, false);
        return out;
    }
};

TEST_F(Scenarios, ListInThreePartsBecomesOneText)
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

// What whole parts delivered stays in Scenarios when a later part fails, a stop comes or an exception ends the
// command, and no more parts are asked for (a stop raised at the tenth request would show). A seam's action runs on
// the command's thread the `at`-th time it reaches the point: a stop from another thread, or a throw. A stop seen in
// the entry loop keeps the entry just appended; a throw in an entry's append keeps only the entries before it.
TEST_F(Scenarios, ListFailingOrStoppedPartKeepsTheEntriesReceived)
{
    bytes cut = scenario_part(3, {entry(3, "Cde")});
    cut.pop_back();
    qv_sim::fault silence = send_test::silent(), late, none;
    late.delay = 800ms;
    const bytes first = scenario_part(3, {entry(1, "A"), entry(2, "B")});
    const bytes first_text = B({0x31, '"', 'A', '"', 'A', '"', 0x32, '"', 'B', '"', 'B', '"'});
    const bytes four = scenario_part(4, {entry(1, "A"), entry(2, "B")});
    const bytes last_two = scenario_part(4, {entry(3, "C"), entry(4, "D", "d")});
    const auto joined = [](bytes a, const bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const bytes with_c = joined(first_text, B({0x33, '"', 'C', '"', 'C', '"'}));
    const bytes all_four = joined(with_c, B({0x34, '"', 'D', '"', 'd', '"'}));
    enum class action { none, stop, fail, no_memory };
    struct seam_at {
        const char* point;
        int at;  // the at-th time the command reaches it
        action does;
    };
    const seam_at no_seam{nullptr, 0, action::none};
    const char* const in_entry = "scenario entry half appended";
    const char* const after_part = "scenario part appended";
    const struct {
        const char* what;
        bytes first_part, second_part;  // the second repeats for ever
        qv_sim::fault how;  // of the second part
        seam_at seam;
        int result;
        std::size_t requests;
        bytes kept;  // Scenarios afterwards
    } cases[] = {
        {"no entry while one is due, for ever", first, scenario_part(3, {}), none, no_seam, -101, 2, first_text},
        {"an entry cut short", first, cut, none, no_seam, -101, 2, first_text},
        {"more entries than announced", first, scenario_part(3, {entry(3, "C"), entry(4, "D")}), none, no_seam, -101, 2,
         first_text},
        {"no reply", first, scenario_part(3, {entry(3, "C")}), silence, no_seam, -1, 2, first_text},
        {"a stop while the second part is late", scenario_part(3, {entry(1, "A")}), scenario_part(3, {entry(2, "B")}),
         late, no_seam, -9, 2, B({0x31, '"', 'A', '"', 'A', '"'})},
        {"the first part cut short", cut, first, none, no_seam, -101, 1, {}},
        {"a stop once the first part is appended", four, last_two, none, seam_at{after_part, 1, action::stop}, -9, 1,
         first_text},
        {"a stop while the second part's first entry is appended", four, last_two, none,
         seam_at{in_entry, 3, action::stop}, -9, 2, with_c},
        {"an exception once the second part is appended", four, last_two, none, seam_at{after_part, 2, action::fail},
         -1000, 2, all_four},
        {"no memory half-way through the second part's last entry", four, last_two, none,
         seam_at{in_entry, 4, action::no_memory}, -1000, 2, with_c},
        {"no memory half-way through the first entry", four, last_two, none, seam_at{in_entry, 1, action::no_memory},
         -1000, 1, bytes()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scenarios->list.set({{0, c.first_part}, {0, c.second_part}});
        sim.clear_requests();
        sim.on({0x2E}, [this, how = c.how, served = std::make_shared<std::atomic<int>>(0)](const qv_sim::request& r) {
            const qv_sim::reply_sequence::step s = scenarios->list.next();
            return qv_sim::reply(qv_sim::reply_frame(r.command, s.result, s.data), (*served)++ ? how : qv_sim::fault{});
        });
        int reached = 0;
        if (c.seam.point)
            qv_seam::hook(c.seam.point, [this, &reached, seam = c.seam] {
                if (++reached != seam.at) return;
                if (seam.does == action::stop) std::thread([this] { d.execute_command(127); }).join();
                if (seam.does == action::fail) throw std::runtime_error("the list broke");
                if (seam.does == action::no_memory) throw std::bad_alloc();
            });
        const device_test::log_capture log;
        const bool late_stop = c.result == -9 && !c.seam.point;
        const polling_test::stopped_run run = run_and_stop(d, 70, sim, late_stop ? 2 : 10);
        qv_seam::clear();
        if (late_stop) polling_test::expect_stopped(run, sim);
        EXPECT_EQ(run.stop_sent, late_stop);
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(sim.request_count(), c.requests);
        EXPECT_EQ(listed(), c.kept);
        if (c.seam.does == action::fail) {
            EXPECT_TRUE(log.contains("get_scenarios_list err: the list broke"));
        } else if (c.seam.does == action::no_memory) {
            EXPECT_TRUE(log.contains(std::string("get_scenarios_list err: ") + std::bad_alloc().what()));
        }
    }
}

// The longest list a 16-bit total allows, in parts of 4,096 entries, within seconds.
TEST_F(Scenarios, ListOfTheLargestSize)
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

// 122 sends FF 39 and polls FF 40 after a pause while the scale says 172; 71 sends the payload with 2F.
TEST_F(Scenarios, EncryptionPollsUntilTheScaleIsDoneChoiceAndRefusals)
{
    scenarios->encrypt_status.set({result_step(172), result_step(172), result_step(0)});
    choose(B({'x', 'y'}));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(d.execute_command(122), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 580ms);  // a pause before each of the three polls
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

TEST_F(Scenarios, EncryptionStopInThePauseOfThePoll)
{
    using timing = qv_polling_internal::poll_timing;
    scenarios->encrypt_status.set({result_step(172)});
    expect_stops({{"in the pause after FF 39", 122, &timing::encryption_period, 1, false}});
}

}  // namespace
