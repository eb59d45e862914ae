// The live weight stream against simulated scales: the request on each
// transport, the readings and their period, failed polls, result 120, stops
// in the middle, restarts, and commands running beside the stream on the
// kept-open link.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quorvix_driver.h"
#include "replies/get_weight.h"
#include "send_test_util.h"

using namespace send_test;
using namespace std::chrono_literals;
using answer = qv_sim::weight_source::answer;

namespace {

class recording_sink : public WeightInterface {
public:
    struct reading {
        int weight, tare;
        bytes state;
    };

    void weight_changed(int weight, int tare, std::vector<std::byte> state) override
    {
        record([&] { readings_.push_back({weight, tare, std::move(state)}); });
    }
    void weight_error(std::string text) override
    {
        record([&] { errors_.push_back(std::move(text)); });
    }

    bool wait_readings(std::size_t n, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return changed_.wait_for(lock, timeout, [&] { return readings_.size() >= n; });
    }
    bool wait_errors(std::size_t n, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return changed_.wait_for(lock, timeout, [&] { return errors_.size() >= n; });
    }
    std::vector<reading> readings() const { return locked(readings_); }
    std::vector<std::string> errors() const { return locked(errors_); }
    std::size_t calls() const { return readings().size() + errors().size(); }

    std::function<void()> on_call;  // set before the start

private:
    template <class F>
    void record(F add)
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            add();
            changed_.notify_all();  // under the lock, so thread checkers see no unlocked signal
        }
        if (on_call) on_call();
    }
    template <class T>
    T locked(const T& value) const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return value;
    }

    mutable std::mutex mu_;
    std::condition_variable changed_;
    std::vector<reading> readings_;
    std::vector<std::string> errors_;
};

int start(device& dev, const std::shared_ptr<recording_sink>& sink, int period)
{
    std::shared_ptr<WeightInterface> holder = sink;
    return dev.start_get_weight(holder, period);
}

void connect_kept_open(device& dev, const qv_sim::sim_scale& sim)
{
    dev.permanent_connection = true;
    dev.set_string_param(ParamType::Ip, dev.input_params, device_utils::wstr(sim.ip()), false);
    dev.set_string_param(ParamType::Port, dev.input_params, device_utils::wstr(sim.port_text()), false);
    dev.set_string_param(ParamType::AdminPassword, dev.input_params, L"1234", false);
    dev.set_int_param(ParamType::Protocol, dev.input_params, 1, false);
    dev.set_int_param(ParamType::ConnectTimeout, dev.input_params, 1, false);
    ASSERT_EQ(dev.connect(), 0);
    dev.input_params.clear();
}

std::vector<qv_sim::request> weight_requests(const qv_sim::sim_scale& sim)
{
    std::vector<qv_sim::request> out;
    for (const auto& r : sim.requests())
        if (r.command == B({0xFF, 0x41})) out.push_back(r);
    return out;
}

template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = 5s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

using WeightStream = device_test_base;

TEST_F(WeightStream, ReadingsAtThePeriodOnEveryTransport)
{
    enum class mode { udp, tcp, kept_open };
    const struct {
        mode how;
        bytes request;
    } table[] = {
        {mode::udp, B({0x02, 0x02, 0xFF, 0x41})},
        {mode::tcp, B({0x04, 0, 0, 0, 0x02, 0x02, 0xFF, 0x41})},
        {mode::kept_open, B({0x04, 0, 0, 0, 0x02, 0x02, 0xFF, 0x41})},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(static_cast<int>(row.how));
        device dev;
        dev.timeout_seconds = 1;
        qv_sim::sim_scale sim("127.0.0.20");
        qv_sim::add_connect_replies(sim);
        auto source = qv_sim::add_weight_replies(sim);
        source->set_reading(-1, 10, 0x05);
        if (row.how == mode::kept_open)
            connect_kept_open(dev, sim);
        else
            add_scale(dev, sim, row.how == mode::udp ? 0 : 1);

        auto sink = std::make_shared<recording_sink>();
        ASSERT_EQ(start(dev, sink, 200), 0);
        ASSERT_TRUE(sink->wait_readings(5));
        EXPECT_EQ(dev.stop_get_weight(), 0);
        const auto got = sink->readings();
        EXPECT_EQ(got[0].weight, -1);
        EXPECT_EQ(got[0].tare, 10);
        EXPECT_EQ(got[0].state, B({0x05}));
        EXPECT_TRUE(sink->errors().empty());

        const auto polls = weight_requests(sim);
        ASSERT_GE(polls.size(), 5u);
        for (const auto& p : polls) EXPECT_EQ(p.raw, row.request) << qv_sim::hex(p.raw);
        const auto times = source->poll_times();
        for (std::size_t k = 1; k < times.size(); ++k) {
            const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(times[k] - times[k - 1]);
            EXPECT_GE(gap.count(), 170) << k;
            EXPECT_LE(gap.count(), 1500) << k;
        }
        if (row.how == mode::kept_open) {
            EXPECT_EQ(sim.connections(), 1u);  // every poll on the one link
        }
    }
}

TEST_F(WeightStream, FailedPollsAreReportedAndTheStreamGoesOn)
{
    const struct {
        answer how;
        std::uint8_t result;
        const char* text;
    } table[] = {
        {answer::silence, 0, "Get weight error: No connection."},
        {answer::bad_stx, 0, "Get weight error: Response not contain STX."},
        {answer::short_reading, 0, "Get weight error: Invalid response length."},  // never read past its end
        {answer::result, 122, "Get weight error: Invalid password."},
    };
    qv_sim::sim_scale sim("127.0.0.21");
    auto source = qv_sim::add_weight_replies(sim);
    add_scale(d, sim, 0);
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        source->set_answer(row.how, row.result);
        auto sink = std::make_shared<recording_sink>();
        ASSERT_EQ(start(d, sink, 50), 0);
        ASSERT_TRUE(sink->wait_errors(2, 6s));
        source->set_reading(300, 0, 0);
        ASSERT_TRUE(sink->wait_readings(1, 3s));
        d.stop_get_weight();
        const auto errors = sink->errors();
        for (const auto& e : errors) EXPECT_EQ(e, row.text);
        EXPECT_EQ(sink->readings()[0].weight, 300);
    }
}

TEST_F(WeightStream, Result120EndsTheStreamAndAStartIsAcceptedAgain)
{
    qv_sim::sim_scale sim("127.0.0.22");
    auto source = qv_sim::add_weight_replies(sim);
    source->set_reading(-1, 10, 0x05);
    add_scale(d, sim, 1);
    device_test::log_capture log;
    ASSERT_EQ(d.execute_command(-33), 0);  // the log-only sink, every 500 ms
    ASSERT_TRUE(eventually([&] { return log.contains("weight = -1"); }));
    source->set_answer(answer::result, 120);
    ASSERT_TRUE(eventually([&] { return !d.weight_running; }));
    ASSERT_TRUE(eventually([&] { return log.contains("'get_weight' end"); }));
    const auto lines = log.lines();
    const auto at = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    const auto reported = at("'get_weight' error: Unknown command.");
    EXPECT_LT(reported, static_cast<long>(lines.size()));
    EXPECT_EQ(at("'get_weight' end"), reported + 1);  // no pause, no further poll
    std::this_thread::sleep_for(700ms);
    const std::size_t polls = source->polls();
    EXPECT_EQ(weight_requests(sim).size(), polls);

    source->set_reading(5, 0, 0);
    auto sink = std::make_shared<recording_sink>();
    ASSERT_EQ(start(d, sink, 10), 0);  // the ended worker is joined first
    ASSERT_TRUE(sink->wait_readings(1));
    EXPECT_EQ(d.execute_command(-34), 0);
}

TEST_F(WeightStream, OnlyTheFirstScaleIsPolled)
{
    qv_sim::sim_scale a("127.0.0.23"), b("127.0.0.24"), c("127.0.0.25");
    auto source = qv_sim::add_weight_replies(a);
    for (auto* s : {&a, &b, &c}) add_scale(d, *s, 0);
    ASSERT_EQ(d.execute_command(-33), 0);  // accepted for a list
    ASSERT_TRUE(source->wait_for_polls(3, 5s));
    EXPECT_EQ(d.execute_command(-34), 0);
    EXPECT_EQ(b.request_count() + c.request_count(), 0u);
}

TEST_F(WeightStream, RefusedStartsLeaveTheRunningStreamAlone)
{
    auto sink = std::make_shared<recording_sink>();
    {
        device_test::log_capture log;
        EXPECT_EQ(start(d, sink, 10), -2);  // empty list
        EXPECT_EQ(log.lines(), std::vector<std::string>{"'get_weight' start"});
        EXPECT_FALSE(d.weight_thread.joinable());
    }
    qv_sim::sim_scale sim("127.0.0.26");
    auto source = qv_sim::add_weight_replies(sim);
    add_scale(d, sim, 0);
    std::shared_ptr<WeightInterface> none;
    int period = 10;
    EXPECT_EQ(d.start_get_weight(none, period), -104);

    {
        // The host's holder and int may go once the start has returned.
        std::shared_ptr<WeightInterface> holder = sink;
        int local_period = 20;
        ASSERT_EQ(d.start_get_weight(holder, local_period), 0);
    }
    EXPECT_EQ(start(d, std::make_shared<recording_sink>(), 10), -2);
    EXPECT_EQ(d.execute_command(-33), -2);
    EXPECT_EQ(d.weight_interface, nullptr);  // never replaced under a running stream
    const std::size_t before = sink->readings().size();
    ASSERT_TRUE(sink->wait_readings(before + 3));
    EXPECT_EQ(d.stop_get_weight(), 0);
    EXPECT_EQ(sink.use_count(), 1);  // the thread's copy went with it
    EXPECT_EQ(d.stop_get_weight(), 0);  // nothing to wait for
}

TEST_F(WeightStream, StopInTheMiddleOfAnExchangeOrAPause)
{
    qv_sim::sim_scale sim("127.0.0.27");
    auto source = qv_sim::add_weight_replies(sim);
    add_scale(d, sim, 1);

    // A poll in flight is completed but reported to nobody.
    source->set_answer(answer::silence);
    auto sink = std::make_shared<recording_sink>();
    device_test::log_capture log;
    ASSERT_EQ(start(d, sink, 10), 0);
    ASSERT_TRUE(source->wait_for_polls(1, 3s));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(d.execute_command(-34), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);  // the rest of one time-out
    EXPECT_EQ(sink->calls(), 0u);
    const auto lines = log.lines();
    const auto end = std::find(lines.begin(), lines.end(), "'get_weight' end");
    EXPECT_LT(end, std::find(lines.begin(), lines.end(), "'get_weight' stop"));

    // A long pause does not hold the stop.
    source->set_reading(1, 2, 3);
    ASSERT_EQ(start(d, sink, 60000), 0);
    ASSERT_TRUE(sink->wait_readings(1));
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(d.stop_get_weight(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
}

TEST_F(WeightStream, EndedOnAnEmptyListUntilTheHostStops)
{
    qv_sim::sim_scale sim("127.0.0.28");
    qv_sim::add_weight_replies(sim);
    add_scale(d, sim, 0);
    auto sink = std::make_shared<recording_sink>();
    device_test::log_capture log;
    ASSERT_EQ(start(d, sink, 20), 0);
    d.clear_ip_list();
    ASSERT_TRUE(eventually([&] { return log.contains("'get_weight' end"); }));
    add_scale(d, sim, 0);
    EXPECT_TRUE(d.weight_running);
    EXPECT_EQ(start(d, sink, 20), -2);  // until the host runs -34
    EXPECT_EQ(d.execute_command(-34), 0);
    EXPECT_EQ(start(d, sink, 20), 0);
    EXPECT_EQ(d.stop_get_weight(), 0);
}

TEST_F(WeightStream, AFailingPollOrSinkNeverEndsTheProcess)
{
    // A port the resolver cannot look up: the client throws on the weight thread.
    d.ip_address_list.push_back({"127.0.0.29", "qv-no-such-service", "", 0, ""});
    auto sink = std::make_shared<recording_sink>();
    sink->on_call = [] { throw std::runtime_error("host sink failed"); };
    ASSERT_EQ(start(d, sink, 10), 0);
    ASSERT_TRUE(sink->wait_errors(3));
    EXPECT_EQ(sink->errors()[0], "Get weight error: Unexpected driver error.");
    EXPECT_TRUE(d.weight_running);

    // A sink that stops its own stream: no self-join.
    d.stop_get_weight();
    auto stopper = std::make_shared<recording_sink>();
    stopper->on_call = [this] { d.stop_get_weight(); };
    ASSERT_EQ(start(d, stopper, 10), 0);
    ASSERT_TRUE(eventually([&] { return !d.weight_running; }));
    EXPECT_EQ(d.stop_get_weight(), 0);
    EXPECT_EQ(stopper->calls(), 1u);
}

TEST_F(WeightStream, DestroyWhileTheStreamRuns)
{
    qv_sim::sim_scale sim("127.0.0.20");
    auto source = qv_sim::add_weight_replies(sim);
    auto sink = std::make_shared<recording_sink>();
    for (int round = 0; round < 2; ++round) {
        void* h = nullptr;
        ASSERT_EQ(create(&h), 0);
        auto& dev = *static_cast<device*>(h);
        dev.timeout_seconds = 1;
        add_scale(dev, sim, round == 0 ? 0 : 1);
        source->set_answer(round == 0 ? answer::reading : answer::silence);
        const std::size_t polls = source->polls();
        ASSERT_EQ(start(dev, sink, 0), 0);  // no pause at all
        ASSERT_TRUE(source->wait_for_polls(polls + 1, 3s));
        const auto t0 = std::chrono::steady_clock::now();
        destroy(&h);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
        EXPECT_EQ(sink.use_count(), 1);  // the thread and its copy are gone
        const std::size_t calls = sink->calls();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(sink->calls(), calls);
    }
}

// Two host threads: one runs commands on the kept-open link, the other
// starts and stops the stream on the same link. Every reply must reach the
// caller that asked for it: a weight reply read as a PLU count, or the
// reverse, would show as a wrong value or a failed validation.
TEST_F(WeightStream, KeptOpenCommandsBesideTheStream)
{
    qv_sim::sim_scale sim("127.0.0.21");
    qv_sim::add_connect_replies(sim)->set_plu_count(42);
    qv_sim::add_weight_replies(sim)->set_reading(777, 3, 1);
    connect_kept_open(d, sim);
    auto sink = std::make_shared<recording_sink>();

    // The host rule: one thread at a time sets or reads a handle's
    // parameters, so a command and the reading of its outputs go together.
    // The weight thread's polls and the starts are not covered by it.
    std::mutex host_maps;
    std::atomic<bool> done{false};
    std::atomic<int> commands{0}, wrong{0};
    std::thread host_commands([&] {
        while (!done) {
            {
                std::lock_guard<std::mutex> lock(host_maps);
                const int r = d.execute_command(29);
                int count = -1;
                d.get_int_param(ParamType::PLUCount, d.output_params, count, false);
                if (r != 0 || count != 42) ++wrong;
                ++commands;
            }
            std::this_thread::yield();
        }
    });
    std::thread host_stream([&] {
        for (int k = 0; k < 4; ++k) {
            const std::size_t before = sink->readings().size();
            const int commands_before = commands;
            EXPECT_EQ(start(d, sink, 0), 0);
            EXPECT_TRUE(sink->wait_readings(before + 20));
            EXPECT_TRUE(eventually([&] { return commands >= commands_before + 10; }));  // beside the stream
            std::lock_guard<std::mutex> lock(host_maps);
            EXPECT_EQ(d.execute_command(-34), 0);
        }
    });
    host_stream.join();
    done = true;
    host_commands.join();

    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(sink->errors().empty());
    for (const auto& r : sink->readings()) EXPECT_EQ(r.weight, 777);
    EXPECT_EQ(sim.connections(), 1u);
}

}  // namespace
