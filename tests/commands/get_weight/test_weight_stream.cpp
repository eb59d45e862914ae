// The live weight stream against simulated scales.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "test_hooks/test_hooks.h"
#include "quorvix_driver.h"
#include "replies/get_weight.h"
#include "send_test_util.h"
#include "../../core/test_deadline.h"

using namespace send_test;
using namespace std::chrono_literals;
using answer = qv_sim::weight_source::answer;

namespace {

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

struct recording_sink : WeightInterface {
    void weight_changed(int weight, int tare, std::vector<std::byte> state) override
    {
        locked([&] { weights.push_back(weight), tare_state = {tare, std::move(state)}; });
        if (on_call) on_call();
    }
    void weight_error(std::string text) override
    {
        locked([&] { errors.push_back(std::move(text)); });
        if (on_call) on_call();
    }
    template <class F>
    std::invoke_result_t<F> locked(F f)
    {
        std::lock_guard<std::mutex> lock(mu);
        return f();
    }
    bool wait(std::size_t readings, std::size_t errs = 0, std::chrono::milliseconds timeout = 5s)
    {
        return eventually([&] { return locked([&] { return weights.size() >= readings && errors.size() >= errs; }); },
                          timeout);
    }
    std::size_t calls()
    {
        return locked([&] { return weights.size() + errors.size(); });
    }

    std::function<void()> on_call;  // set before the start
    std::mutex mu;
    std::vector<int> weights;  // these under `mu`
    std::pair<int, bytes> tare_state;
    std::vector<std::string> errors;
};

int start(device& dev, const std::shared_ptr<recording_sink>& sink, int period)
{
    std::shared_ptr<WeightInterface> holder = sink;
    return dev.start_get_weight(holder, period);
}

using WeightStream = device_test_base;

TEST_F(WeightStream, ReadingsAtThePeriod)
{
    qv_sim::sim_scale sim("127.0.0.20");
    auto source = qv_sim::add_weight_replies(sim);
    source->set_reading(-1, 10, 0x05);
    add_scale(d, sim, 1);
    auto sink = std::make_shared<recording_sink>();
    ASSERT_EQ(start(d, sink, 200), 0);
    ASSERT_TRUE(sink->wait(5));
    EXPECT_EQ(d.stop_get_weight(), 0);
    const std::size_t at_return = source->polls();
    std::this_thread::sleep_for(500ms);  // more than two periods
    EXPECT_EQ(source->polls(), at_return);
    EXPECT_EQ(sink->locked([&] { return sink->weights; })[0], -1);
    EXPECT_EQ(sink->locked([&] { return sink->tare_state; }), std::make_pair(10, B({0x05})));
    EXPECT_TRUE(sink->locked([&] { return sink->errors; }).empty());
    for (const auto& p : sim.requests()) EXPECT_EQ(p.raw, B({4, 0, 0, 0, 0x02, 0x02, 0xFF, 0x41}));
    const auto times = source->poll_times();
    for (std::size_t k = 1; k < times.size(); ++k) {
        EXPECT_GE(times[k] - times[k - 1], 170ms) << k;
        EXPECT_LE(times[k] - times[k - 1], 1500ms) << k;
    }
}

// A failed poll is reported and the stream goes on; one answered 120 ends it after that poll; a start polls again.
TEST_F(WeightStream, FailedPollsAreReported)
{
    const test_deadline deadline{std::chrono::seconds(60)};
    const struct {
        answer how;
        std::uint8_t result;
        const char* text;
        bool ends;
    } table[] = {
        {answer::silence, 0, "Get weight error: No connection.", false},
        {answer::short_reading, 0, "Get weight error: Invalid response length.", false},  // never read past its end
        {answer::result, 122, "Get weight error: Invalid password.", false},
        {answer::result, 120, "Get weight error: Unknown command.", true},
    };
    qv_sim::sim_scale sim("127.0.0.21");
    auto source = qv_sim::add_weight_replies(sim);
    add_scale(d, sim, 0);
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        source->set_answer(row.how, row.result);
        const std::size_t polls = source->polls();
        auto sink = std::make_shared<recording_sink>();
        ASSERT_EQ(start(d, sink, row.ends ? 0 : 50), 0);  // no pause: a second poll would follow at once
        if (row.ends) {
            ASSERT_TRUE(eventually([&] { return !d.weight_running; }));
            std::this_thread::sleep_for(300ms);
            EXPECT_EQ(source->polls(), polls + 1);
        } else {
            ASSERT_TRUE(sink->wait(0, 2, 6s));
        }
        source->set_reading(300, 0, 0);
        if (row.ends) {
            ASSERT_EQ(start(d, sink, 0), 0);  // the worker that ended is waited for
        }
        ASSERT_TRUE(sink->wait(1, 0, 3s));
        EXPECT_EQ(d.stop_get_weight(), 0);
        const auto errors = sink->locked([&] { return sink->errors; });
        EXPECT_EQ(errors.size() == 1, row.ends);
        for (const auto& e : errors) EXPECT_EQ(e, row.text);
        EXPECT_EQ(sink->locked([&] { return sink->weights; })[0], 300);
    }
}

TEST_F(WeightStream, RefusedStartsLeaveTheRunningStreamAlone)
{
    auto sink = std::make_shared<recording_sink>();
    EXPECT_EQ(start(d, sink, 10), -2);  // empty list
    qv_sim::sim_scale sim("127.0.0.26"), other("127.0.0.24");
    qv_sim::add_weight_replies(sim);
    add_scale(d, sim, 0);
    add_scale(d, other, 0);  // only the first scale is polled
    std::shared_ptr<WeightInterface> none;
    int period = 10;
    EXPECT_EQ(d.start_get_weight(none, period), -104);
    ASSERT_EQ(start(d, sink, 20), 0);  // its holder goes at once
    EXPECT_EQ(start(d, std::make_shared<recording_sink>(), 10), -2);
    EXPECT_EQ(d.weight_interface, nullptr);  // never replaced under a running stream
    ASSERT_TRUE(sink->wait(3));
    EXPECT_EQ(d.stop_get_weight(), 0);
    EXPECT_EQ(sink.use_count(), 1);  // the thread's copy went with it
    EXPECT_EQ(other.request_count(), 0u);
}

// A stop of the stream, or a destroy, while a poll waits for a scale that never answers ends that wait at once,
// whatever the time-out, on every transport; the stopped poll reports nothing and no other poll follows.
TEST_F(WeightStream, StopOrDestroyInTheMiddleOfAnExchange)
{
    const test_deadline deadline{std::chrono::seconds(60)};
    qv_sim::sim_scale sim("127.0.0.27");
    qv_sim::add_connect_replies(sim)->set_plu_count(42);
    auto source = qv_sim::add_weight_replies(sim);
    source->set_answer(answer::silence);
    auto sink = std::make_shared<recording_sink>();
    for (bool destroyed : {false, true}) {
        for (const int mode : {0, 1, 2}) {  // UDP, one-shot TCP, kept-open TCP
            SCOPED_TRACE(std::string(destroyed ? "destroy, " : "-34, ") + std::to_string(mode));
            void* h = nullptr;
            ASSERT_EQ(create(&h), 0);
            auto& dev = *static_cast<device*>(h);
            dev.timeout_seconds = 1;
            add_scale(dev, sim, mode ? 1 : 0);
            if (mode == 2) {
                dev.permanent_connection = true;
                ASSERT_EQ(dev.connect(), 0);
            }
            dev.timeout_seconds = 600;
            const std::size_t polls = source->polls();
            ASSERT_EQ(start(dev, sink, 0), 0);  // no pause at all
            ASSERT_TRUE(source->wait_for_polls(polls + 1, 3s));
            const auto t0 = std::chrono::steady_clock::now();
            if (!destroyed) {
                EXPECT_EQ(dev.execute_command(-34), 0);
            }
            destroy(&h);
            EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);  // not the poll's time-out
            const std::size_t at_return = source->polls();
            std::this_thread::sleep_for(300ms);
            EXPECT_EQ(source->polls(), at_return);
            EXPECT_EQ(at_return, polls + 1);  // the poll in flight, no other
            EXPECT_EQ(sink.use_count(), 1);  // the thread and its copy are gone
            EXPECT_EQ(sink->calls(), 0u);
        }
    }
}

TEST_F(WeightStream, AFailingPollOrSinkNeverEndsTheProcess)
{
    // A port the resolver cannot look up throws on the weight thread.
    d.ip_address_list.push_back({"127.0.0.29", "qv-no-such-service", "", 0, ""});
    auto sink = std::make_shared<recording_sink>();
    sink->on_call = [] { throw std::runtime_error("host sink failed"); };
    ASSERT_EQ(start(d, sink, 10), 0);
    ASSERT_TRUE(sink->wait(0, 3));
    EXPECT_EQ(sink->locked([&] { return sink->errors; })[0], "Get weight error: Unexpected driver error.");
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

// A sink that destroys its own handle: the stream leaves without touching the freed device, also while a stop of that
// very stream, on another thread, waits for the weight thread.
TEST_F(WeightStream, ASinkThatDestroysItsOwnHandle)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale sim("127.0.0.35");
    qv_sim::add_weight_replies(sim);
    struct watched_sink : recording_sink {
        explicit watched_sink(std::atomic<bool>& gone) : gone(gone) {}
        ~watched_sink() override { gone = true; }
        std::atomic<bool>& gone;
    };
    for (const bool stopping : {false, true}) {
        SCOPED_TRACE(stopping);
        void* h = nullptr;
        ASSERT_EQ(create(&h), 0);
        add_scale(*static_cast<device*>(h), sim, 1);
        std::atomic<bool> gone{false};
        std::thread stopper;
        auto sink = std::make_shared<watched_sink>(gone);
        sink->on_call = [&, h] {
            if (stopping) {
                stopper = std::thread([h] { EXPECT_EQ(execute_command(h, -34), 0); });
                EXPECT_TRUE(eventually([h] { return !static_cast<device*>(h)->weight_running; }));
            }
            void* own = h;
            destroy(&own);
        };
        ASSERT_EQ(start(*static_cast<device*>(h), sink, 10), 0);
        sink.reset();
        ASSERT_TRUE(eventually([&] { return gone.load(); }));  // the thread has left, its copy of the sink gone
        if (stopper.joinable()) stopper.join();
        EXPECT_EQ(set_int_param(h, 17, 1), -1000);
    }
}

// A sink calling another handle while a second thread destroys the stream's handle: no deadlock, and other handles'
// calls are not held up by the destroy waiting for a silent poll.
TEST_F(WeightStream, DestroyBesideASinkCallingAnotherHandle)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale sim("127.0.0.30");
    auto source = qv_sim::add_weight_replies(sim);
    void *streaming = nullptr, *other = nullptr;
    ASSERT_EQ(create(&other), 0);
    for (const bool silent_poll : {false, true}) {
        SCOPED_TRACE(silent_poll);
        source->set_answer(silent_poll ? answer::silence : answer::reading);
        ASSERT_EQ(create(&streaming), 0);
        auto& dev = *static_cast<device*>(streaming);
        dev.timeout_seconds = 4;
        add_scale(dev, sim, 1);
        auto sink = std::make_shared<recording_sink>();
        std::atomic<int> sink_calls{0};
        sink->on_call = [&] {
            long long v = 0;
            get_int_param(other, 17, &v);  // the registry, from the weight thread
            ++sink_calls;
        };
        const std::size_t polls = source->polls();
        ASSERT_EQ(start(dev, sink, 0), 0);
        ASSERT_TRUE(source->wait_for_polls(polls + 2, 5s));
        std::atomic<bool> destroyed{false};
        std::atomic<long long> longest_us{0};
        std::thread caller([&] {
            for (long long v = 0; !destroyed; std::this_thread::sleep_for(1ms)) {
                const auto t0 = std::chrono::steady_clock::now();
                get_int_param(other, 17, &v);
                longest_us = std::max<long long>(longest_us, (std::chrono::steady_clock::now() - t0) / 1us);
            }
        });
        std::thread destroyer([&] {
            destroy(&streaming);
            destroyed = true;
        });
        destroyer.join();
        caller.join();
        EXPECT_LT(longest_us.load(), 1500000);  // well within one poll's 4 s time-out
        EXPECT_EQ(set_int_param(streaming, 17, 1), -1000);
        EXPECT_EQ(sink.use_count(), 1);
        if (!silent_poll) {
            EXPECT_GT(sink_calls.load(), 0);
        }
    }
    destroy(&other);
}

// A list emptied under the stream ends the polls; the stream stays started (a start is refused) until it is stopped.
TEST_F(WeightStream, ClearedListEndsThePollsAndTheStreamWaitsForItsStop)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale sim("127.0.0.34");
    auto source = qv_sim::add_weight_replies(sim);
    add_scale(d, sim, 1);
    auto sink = std::make_shared<recording_sink>();
    ASSERT_EQ(start(d, sink, 20), 0);
    ASSERT_TRUE(sink->wait(2));
    device_test::log_capture log;
    {
        const auto lock = d.lock_state();
        d.ip_address_list.clear();
    }
    ASSERT_TRUE(eventually([&] { return log.contains("'get_weight' end"); }));
    const std::size_t at_end = source->polls();
    std::this_thread::sleep_for(200ms);  // ten periods
    EXPECT_EQ(source->polls(), at_end);
    EXPECT_TRUE(d.weight_running);
    add_scale(d, sim, 1);
    EXPECT_EQ(start(d, sink, 20), -2);
    EXPECT_EQ(source->polls(), at_end);
    EXPECT_EQ(d.stop_get_weight(), 0);
    EXPECT_FALSE(d.weight_running);
    ASSERT_EQ(start(d, sink, 20), 0);
    EXPECT_TRUE(source->wait_for_polls(at_end + 1, 3s));
    EXPECT_EQ(d.stop_get_weight(), 0);
}

thread_local bool on_command_thread = false;

// A command behind a poll answered after 1.5 s on the shared kept-open link (no pause between polls) has the link
// right after that poll; a stop while it waits for the link ends the wait at once, and nothing of it is sent.
TEST_F(WeightStream, ACommandBehindAPollHasTheLinkNextAndAStopEndsItsWait)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale sim("127.0.0.36");
    qv_sim::add_connect_replies(sim)->set_plu_count(42);
    auto source = qv_sim::add_weight_replies(sim);
    sim.on({0xFF, 0x41}, [source](const qv_sim::request& r) {
        qv_sim::reply slow = source->serve(r);
        slow.how.delay = 1500ms;
        return slow;
    });
    add_scale(d, sim, 1);
    d.permanent_connection = true;
    d.timeout_seconds = 4;
    ASSERT_EQ(d.connect(), 0);
    const auto commands_sent = [&] {
        std::size_t n = 0;
        for (const auto& r : sim.requests()) n += r.command == B({0xD0});
        return n;
    };
    auto sink = std::make_shared<recording_sink>();
    ASSERT_EQ(start(d, sink, 0), 0);
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "served");
        ASSERT_TRUE(source->wait_for_polls(source->polls() + 1, 5s));  // a poll in flight
        const std::size_t asked = sim.request_count();
        std::promise<void> waiting;
        qv_seam::hook("link turn asked", [&] {
            if (on_command_thread) waiting.set_value();
        });
        int result = 1;
        std::thread command([&] {
            on_command_thread = true;
            result = d.execute_command(29);
        });
        if (stopped) {
            waiting.get_future().wait();
            const auto stop = std::chrono::steady_clock::now();
            EXPECT_EQ(d.execute_command(127), 0);
            command.join();
            EXPECT_LT(std::chrono::steady_clock::now() - stop, 1s);  // well before the poll's reply
            EXPECT_EQ(result, -9);
            // The command would have gone out right after the poll in flight, before the next poll.
            EXPECT_TRUE(source->wait_for_polls(source->polls() + 1, 5s));
            EXPECT_EQ(commands_sent(), 1u);  // only the first command's request ever went out
        } else {
            command.join();
            EXPECT_EQ(result, 0);
            ASSERT_GT(sim.request_count(), asked);
            EXPECT_EQ(sim.requests()[asked].command, B({0xD0}));  // the first request after the poll in flight
        }
        qv_seam::clear();
    }
    EXPECT_EQ(d.stop_get_weight(), 0);
}

// UDP polls write no traffic lines; TCP polls show their own bytes, also kept open after a password command.
TEST_F(WeightStream, TrafficLinesOfThePolls)
{
    for (const int mode : {0, 1, 2}) {  // UDP, TCP, kept-open TCP after a password command
        SCOPED_TRACE(mode);
        device dev;
        dev.timeout_seconds = 1;
        qv_sim::sim_scale sim("127.0.0.33");
        qv_sim::add_connect_replies(sim)->set_plu_count(42);
        qv_sim::add_weight_replies(sim)->set_reading(5, 0, 0);
        add_scale(dev, sim, mode ? 1 : 0);
        if (mode == 2) {
            dev.permanent_connection = true;
            ASSERT_EQ(dev.connect(), 0);
            ASSERT_EQ(dev.execute_command(29), 0);  // D0 with the password
        }
        device_test::log_capture log;
        auto sink = std::make_shared<recording_sink>();
        ASSERT_EQ(start(dev, sink, 0), 0);
        ASSERT_TRUE(sink->wait(3));
        dev.stop_get_weight();
        std::size_t traffic = 0;
        for (const auto& line : log.lines())
            traffic += line.rfind("REQUEST FOR 127.0.0.33", 0) == 0 || line.rfind("RESPONSE FOR 127.0.0.33", 0) == 0;
        EXPECT_EQ(traffic > 0, mode > 0);
        EXPECT_EQ(log.contains("REQUEST FOR 127.0.0.33: (8 bytes) 04 00 00 00 02 02 FF 41 "), mode > 0);
    }
}

}  // namespace
