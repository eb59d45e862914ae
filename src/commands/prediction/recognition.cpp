// The recognition camera: starting a recognition and waiting for its items,
// confirming the chosen item, and resetting the camera service.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "codecs/byte_writer.h"
#include "commands/prediction/polling.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

using bytes = std::vector<std::byte>;
namespace polling = qv_polling_internal;

constexpr int default_prediction_count = 5;
constexpr unsigned max_prediction_count = 20;
constexpr unsigned max_byte_value = 255;
constexpr int max_item_code = 9999999;

// Reset statuses that end the wait.
constexpr int reset_done = 0;
constexpr int reset_service_disabled = 2;
constexpr int reset_not_initialised = 3;

// Reads an optional int; `value` keeps its default when the host did not
// set it. 0, or the read's error (-8, -1000).
int optional_int(device& d, ParamType p, int& value)
{
    const int read = d.get_int_param(p, d.input_params, value);
    return read == rc(ErrorType::RequiredParameterMissing) ? rc(ErrorType::Success) : read;
}

// An optional int sent as one byte: a value the byte cannot hold (negative
// ones included) is refused with -104 rather than cut to its low byte.
int optional_byte(device& d, ParamType p, int& value)
{
    const int read = optional_int(d, p, value);
    if (read != rc(ErrorType::Success)) return read;
    return check_int_range(p, value, 0, max_byte_value);
}

// One reset-status poll. `code` is the status byte when `is_status`, else
// the failed exchange's code.
struct reset_poll {
    int code = 0;
    bool is_status = false;
};

reset_poll poll_reset_status(device& d)
{
    const command_log log("get_velunor_factory_reset_status", error_line::name_error);
    int result = d.send_command(CommandType::get_velunor_factory_reset_status, with_password);
    if (result == rc(ErrorType::UnknownCommand)) {
        // A scale without the status request: the reset counts as done.
        Logger::w("'get_velunor_factory_reset_status unknown_command' ");
        return {reset_done, true};
    }
    if (result != rc(ErrorType::Success)) return {log.result(result), false};

    int status = reset_done;
    result = d.read_first_reply([&status](scale_reply& r) {
        status = r.data.byte();
        Logger::i("status = " + std::to_string(status));
        if (status == reset_not_initialised)
            r.out.put_bytes(ParamType::ErrorDescription, r.data.byte_array(r.data.uint16_le()));
    });
    if (result != rc(ErrorType::Success)) return {log.result(result), false};
    return {status, true};
}

}  // namespace

int device::start_prediction()  // 121
{
    const command_log log("start_prediction", error_line::name_error);
    // Each parameter is read and judged before the next one is read.
    int count = default_prediction_count;
    int read = optional_int(*this, ParamType::PredictionCount, count);
    if (read != rc(ErrorType::Success)) return read;
    // Compared as unsigned: a negative value counts as too large.
    if (static_cast<unsigned>(count) > max_prediction_count) count = default_prediction_count;
    int confirm_type = 0;
    int confirm_timeout = 10;
    int wait_timeout = 10;
    for (auto [p, value] : {std::pair{ParamType::PredictionConfirmType, &confirm_type},
                            std::pair{ParamType::PredictionConfirmTimeout, &confirm_timeout},
                            std::pair{ParamType::PredictionWaitTimeout, &wait_timeout}}) {
        read = optional_byte(*this, p, *value);
        if (read != rc(ErrorType::Success)) return read;
    }

    device_utils::byte_writer w;
    w.u8(static_cast<std::uint8_t>(count))
        .u8(static_cast<std::uint8_t>(confirm_type))
        .u8(static_cast<std::uint8_t>(confirm_timeout))
        .u8(static_cast<std::uint8_t>(wait_timeout));
    const int sent = send_command(CommandType::start_prediction, with_password, w.data());
    if (sent != rc(ErrorType::Success)) return log.result(sent);

    // No limit while the scale reports the recognition running; a failed
    // exchange ends the wait at once, and so does a stop request.
    for (;;) {
        sliced_pause(polling::timing().recognition_period, stop_requested);
        if (stop_requested.load()) return rc(ErrorType::CommandStopped);
        const int status = get_prediction_status();
        if (stop_requested.load()) return rc(ErrorType::CommandStopped);
        if (status != rc(ErrorType::RecognitionInProcess)) return log.result(status);
    }
}

int device::get_prediction_status()  // -30
{
    const command_log log("get_prediction_status", error_line::name_error);
    bool running = false;
    const int result = query(CommandType::get_prediction_status, with_password, [&running](scale_reply& r) {
        const int status = r.data.byte();
        Logger::i("status = " + std::to_string(status));
        if (status != 0) {
            Logger::i("status = recognition_in_process");
            running = true;
            return;
        }
        r.out.put_bytes(ParamType::JsonPredictionItems, r.data.byte_array(r.data.uint16_le()));
    });
    if (result != rc(ErrorType::Success)) return log.result(result);
    return running ? rc(ErrorType::RecognitionInProcess) : rc(ErrorType::Success);
}

int device::confirm_item_after_prediction()  // 123
{
    const command_log log("confirm_item_after_prediction", error_line::name_error);
    int item = 0;
    const int read = read_int_in(*this, ParamType::ItemCode, item, 1, max_item_code);
    if (read != rc(ErrorType::Success)) return read;
    device_utils::byte_writer w;
    w.u32(static_cast<std::uint32_t>(item));
    return log.result(send_command(CommandType::confirm_item_after_prediction, with_password, w.data()));
}

int device::velunor_factory_reset()  // 128
{
    const command_log log("velunor_factory_reset", error_line::name_error);
    const int sent = send_command(CommandType::velunor_factory_reset, with_password);
    if (sent != rc(ErrorType::Success)) return log.result(sent);

    const polling::poll_timing& t = polling::timing();
    reset_poll last;
    int failed_in_a_row = 0;
    for (int attempt = 1; attempt <= t.reset_tries; ++attempt) {
        Logger::i("Try: " + std::to_string(attempt) + "/" + std::to_string(t.reset_tries));
        // Every try reaches the scale: a failed poll must not make the send
        // skip it for the rest of the command.
        results.clear();
        last = poll_reset_status(*this);
        if (last.is_status) {
            if (last.code == reset_done) return rc(ErrorType::Success);
            if (last.code == reset_service_disabled) return rc(ErrorType::RecognitionServiceDisabled);
            if (last.code == reset_not_initialised) return rc(ErrorType::DeviceNotInitialized);
        }
        if (stop_requested.load()) return rc(ErrorType::CommandStopped);
        failed_in_a_row = last.is_status ? 0 : failed_in_a_row + 1;
        if (failed_in_a_row >= t.reset_failed_exchanges) return log.result(last.code);
        if (attempt < t.reset_tries) sliced_pause(t.reset_period, stop_requested);
    }
    if (stop_requested.load()) return rc(ErrorType::CommandStopped);
    // Never settled: still running, or the scale's last exchange failed.
    return log.result(last.is_status ? rc(ErrorType::InProgress) : last.code);
}

int device::get_velunor_factory_reset_status()  // -36
{
    return poll_reset_status(*this).code;
}

namespace {

const command_registration prediction_recognition{
    {CommandType::start_prediction, &device::start_prediction},
    {CommandType::confirm_item_after_prediction, &device::confirm_item_after_prediction},
    {CommandType::velunor_factory_reset, &device::velunor_factory_reset},
};

}  // namespace
