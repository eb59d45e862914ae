#pragma once
// Live weight for a host: the sink it implements and the call that starts
// the stream with it.
//
// The driver polls the first scale of the handle's list, the one added first
// (list order; not necessarily the scale whose reply a command decodes, which
// is the one whose address sorts first as text: 127.0.0.10 before 127.0.0.9),
// and calls the sink from its own weight thread: once per good reading, once
// per failed poll, then pauses for `period` milliseconds (none at 0 or less)
// and polls again.
// The driver keeps its own copies of the sink pointer and the period, so the
// host's variables may go once the call has returned.
//
//     struct my_sink : WeightInterface {
//         void weight_changed(int weight, int tare, std::vector<std::byte> state) override { ... }
//         void weight_error(std::string text) override { ... }
//     };
//     std::shared_ptr<WeightInterface> sink = std::make_shared<my_sink>();
//     int period = 200;
//     static_cast<device*>(handle)->start_get_weight(sink, period);  // 0, or -2 while a stream runs
//     ...
//     execute_command(handle, -34);  // stops the stream; returns once the weight thread has ended
//
// A poll in flight when command -34 runs, or when the handle is destroyed,
// ends at once and is reported to nobody, rather than waiting out its
// time-out; in kept-open mode that closes the first scale's connection, and
// the next command to that scale opens a new one.
//
// A sink may stop the stream (command -34) or destroy the handle from inside
// its own call: the stream then ends once that call returns, and no later
// reading is reported.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#ifndef QUORVIX_DRIVER_API
#define QUORVIX_DRIVER_API __attribute__((visibility("default")))
#endif

// The host implements it in its own binary, so the order of its virtual
// functions is part of the interface: destructor, weight_changed,
// weight_error. Defined here entirely, so a host needs none of the driver's
// symbols to derive from it.
class WeightInterface {
public:
    virtual ~WeightInterface() = default;
    // One reading: weight and tare as the scale sent them (signed), `state`
    // the scale's state byte as it came (one element).
    virtual void weight_changed(int weight, int tare, std::vector<std::byte> state) = 0;
    // One failed poll: "Get weight error: " and the result code's text in the
    // driver's current language.
    virtual void weight_error(std::string text) = 0;
};

#ifndef QUORVIX_DRIVER_INTERNAL
// The driver instance behind a handle, as far as a host calls it directly:
// the handle is its address. The driver's own build sees the whole class
// instead; a host never builds, copies or sizes one.
class QUORVIX_DRIVER_API device {
public:
    // Starts the live weight stream: 0; -2 while a stream runs, after one
    // ended by itself until command -34 has run, or with an empty scale list;
    // -104 for an empty sink; -1000 when the thread cannot be started.
    int start_get_weight(std::shared_ptr<WeightInterface>& sink, int& period);

    device() = delete;
    ~device() = delete;
    device(const device&) = delete;
    device& operator=(const device&) = delete;
};
#endif
