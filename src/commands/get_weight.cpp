// The live weight stream: command -33 (with the log-only sink), command -34,
// the host's entry with a sink of its own, and the weight thread that polls
// the first scale of the list.
//
// The thread owns copies of everything the host or a later command could
// replace: the sink pointer, the period, the running flag's shared block
// and the stop of its polls from the start (both outlive a device that its
// sink destroys; a stop of the stream ends the poll in flight), and at
// the top of each poll the first scale's route (its kept-open client and
// io_context included) and the time-out, taken under the state lock. The
// exchange runs without that lock, through the same link exchange as every
// command, so a command and a poll never share one run() of a kept-open link.

#include "commands/get_weight.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "codecs/device_utils.h"
#include "core/device.h"
#include "core/vocab/errors_text.h"
#include "link/frame_layout.h"
#include "link/link_exchange.h"
#include "link/one_shot_group.h"
#include "logging/logger.h"

void TestWeightInterface::weight_changed(int weight, int, std::vector<std::byte>)
{
    Logger::i("weight = " + std::to_string(weight));
}

void TestWeightInterface::weight_error(std::string text)
{
    Logger::i("error_text = " + text);
}

namespace {

using bytes = std::vector<std::byte>;

// 02 0C FF 41 RESULT, then weight (i32 LE), tare (i32 LE) and the state byte.
constexpr std::size_t weight_at = 5;
constexpr std::size_t reading_size = 14;

// What one poll needs from the device, copied under the state lock.
struct poll_target {
    link_route route;
    int timeout_seconds = 0;
};

// False when the list is empty.
bool take_target(device& d, poll_target& t)
{
    auto lock = d.lock_state();
    if (d.ip_address_list.empty()) return false;
    t.route = d.route_of(d.ip_address_list.front());
    t.timeout_seconds = d.timeout_seconds;
    return true;
}

// One request, one reply or none, on the link the send road would take.
// The poll carries no password and hides nothing; over one-shot UDP it
// writes no traffic lines. Resolution failures and io_context errors throw.
void exchange(one_shot_group& links, exchange_stop* stop, const poll_target& t, link_request request)
{
    link_exchange poll_exchange(links, stop);
    poll_exchange.begin(1);
    request.timeout_seconds = t.timeout_seconds;
    request.log_traffic = t.route.transport != link_transport::udp;
    poll_exchange.add(t.route, std::move(request));
    poll_exchange.finish();
}

std::string result_text(const device& d, int code)
{
    const std::shared_ptr<errors_text> texts = d.current_error_texts();
    return texts ? texts->get_text(static_cast<ErrorType>(code)) : std::to_string(code);
}

// One poll: its result code, and the reading when it is 0. Never throws.
int poll(device& d, one_shot_group& links, exchange_stop* stop, const poll_target& t, const bytes& frame, bytes& reply)
{
    try {
        d.weight_response.clear();
        link_request request;
        request.frame = frame;
        request.opcode = frame_layout::opcode(d.frame_of(CommandType::weight_poll));
        request.callback = [&d](bytes body, std::string) { d.weight_response = std::move(body); };
        exchange(links, stop, t, std::move(request));
        reply = d.weight_response;
        const int r = device::response_validation(reply);
        // A result-0 reply too short for the reading is not read past its end.
        if (r == rc(ErrorType::Success) && reply.size() < reading_size) return rc(ErrorType::InvalidResponseLength);
        return r;
    } catch (const std::exception& e) {
        // A failed resolution or an io_context error ends this poll only.
        Logger::e(std::string("'get_weight' error: ") + e.what());
    } catch (...) {
        Logger::e("'get_weight' error");
    }
    return rc(ErrorType::UnexpectedDriverError);
}

// Hands one poll's outcome (a failure with its text) to the sink, unless the
// stream was stopped meanwhile; a sink that throws costs that one report.
void report(const std::atomic<bool>& running, WeightInterface& sink, int r, const std::string& text, const bytes& reply)
{
    try {
        if (r != rc(ErrorType::Success)) {
            if (running.load()) sink.weight_error("Get weight error: " + text);
            return;
        }
        device_utils::byte_reader data(reply, weight_at);
        const int weight = data.int32_le();
        const int tare = data.int32_le();
        const bytes state{static_cast<std::byte>(data.byte())};
        if (running.load()) sink.weight_changed(weight, tare, state);
    } catch (const std::exception& e) {
        Logger::e(std::string("'get_weight' error: ") + e.what());
    } catch (...) {
        Logger::e("'get_weight' error");
    }
}

// From the report on, only `running` and the stream's own copies are used
// until the flag is seen set again: a sink may have destroyed the device.
void run_weight_stream(device& d, const std::shared_ptr<std::atomic<bool>>& running,
                       const std::shared_ptr<own_exchange_stop>& stop, const std::shared_ptr<WeightInterface>& sink,
                       int period_ms, const bytes& frame)
{
    one_shot_group links;  // the stream's own io_context and resolved address
    while (running->load()) {
        poll_target target;
        if (!take_target(d, target)) break;  // the flag stays set until a stop
        bytes reply;
        const int r = poll(d, links, stop->get(), target, frame, reply);
        const std::string text = r == rc(ErrorType::Success) ? std::string() : result_text(d, r);
        report(*running, *sink, r, text, reply);
        if (r == rc(ErrorType::UnknownCommand)) {
            // The scale does not know the weight request: no point asking again.
            running->store(false);
            Logger::e("'get_weight' error: " + text);
            break;
        }
        if (period_ms > 0) sliced_pause(std::chrono::milliseconds(period_ms), *running, false);
    }
    Logger::i("'get_weight' end");
}

}  // namespace

// Every "'get_weight' error" line of this file, the stream's included, is
// written by hand: it carries a text, which command_log does not write.
int device::start_get_weight(std::shared_ptr<WeightInterface>& sink, int& period)
{
    try {
        const command_log log("get_weight");
        bool listed = false;
        {
            auto lock = lock_state();
            listed = !ip_address_list.empty();
        }
        if (weight_running.load() || !listed) return rc(ErrorType::PreviousCommandRunning);
        if (!sink) {
            Logger::e("'get_weight' error: no sink");
            return rc(ErrorType::InvalidParameterValue);
        }
        // The thread keeps its own copies: the host's holder and int may
        // change or go as soon as this returns.
        const bytes frame = build_request_frame(without_password, false, frame_of(CommandType::weight_poll), {}, "");
        auto poll_stop = std::make_shared<own_exchange_stop>();
        auto loop = [this, running = weight_flag, stop = poll_stop, own_sink = sink, own_period = period, frame]() {
            run_weight_stream(*this, running, stop, own_sink, own_period, frame);
        };
        if (!start_weight_thread(std::move(loop), std::move(poll_stop)))
            return rc(ErrorType::PreviousCommandRunning);
        return rc(ErrorType::Success);
    } catch (const std::exception& e) {
        Logger::e(std::string("'get_weight' error: ") + e.what());
    } catch (...) {
        Logger::e("'get_weight' error");
    }
    return rc(ErrorType::UnexpectedDriverError);
}

int device::start_get_weight()  // -33
{
    // Installed only once the stream has started, so a running stream never
    // has its sink replaced under it.
    std::shared_ptr<WeightInterface> sink = std::make_shared<TestWeightInterface>();
    int period = weight_period_ms;
    const int r = start_get_weight(sink, period);
    if (r == rc(ErrorType::Success)) weight_interface = std::move(sink);
    return r;
}

int device::stop_get_weight()  // -34
{
    const command_log log("stop_get_weight");
    stop_weight_thread();
    Logger::i("'get_weight' stop");
    return rc(ErrorType::Success);
}

namespace {

const command_registration get_weight{
    {CommandType::start_get_weight, &device::start_get_weight},
    {CommandType::stop_get_weight, &device::stop_get_weight},
};

}  // namespace
