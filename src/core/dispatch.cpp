// The command entry and dispatch: acquiring the device, the group check,
// the per-scale results, the call of the registered method, the result line,
// and the stop command.
//
// Command contract (execute_command / do_command)
// ------------------------------------------------
// The exported execute_command(handle, command) calls
// `device::execute_command(command)`, which alone acquires and releases
// `busy`:
//   1. the stop command (127) never acquires the device: under
//      `command_gate` it sets `stop_requested` when a command runs (and
//      nothing when none runs), then `stop_running_command()` writes its
//      lines; it touches neither map nor `results` nor `busy`;
//   2. any other command acquires `busy` under the gate, or returns -2 at
//      once, with nothing logged and nothing changed, when another command
//      holds it;
//   3. having acquired it: empties the output map and calls
//      `do_command(command)`;
//   4. afterwards empties the input map unless the command is on the
//      keep-list (25, 30, 82, 89, 100, 120), then, under the gate, clears
//      `stop_requested` and releases `busy` (also when do_command ends by an
//      exception) and returns do_command's result.
// So `do_command(command)` runs with `busy` held for its command and never
// changes `busy` itself. It logs the dispatcher's lines, runs the group
// check, empties `results` (except for 81, 82 and numbers without a method)
// and calls the command's method. Sends and polling loops end with -9 when
// they find `stop_requested` set.

#include <exception>
#include <map>
#include <memory>
#include <string>

#include "core/device.h"
#include "core/vocab/errors_text.h"
#include "link/exchange_stop.h"
#include "test_hooks/test_hooks.h"
#include "logging/logger.h"

namespace {

const std::string separator(107, '-');

bool keeps_results(int command)
{
    // 81 and 82 report on the command before them.
    return command == static_cast<int>(CommandType::get_error_description) ||
           command == static_cast<int>(CommandType::get_result_list);
}

// The text is taken when the line is written, after the method ran, so a
// language change made by this very command already shows.
void log_result_line(const device& d, int command, int result)
{
    const std::shared_ptr<errors_text> texts = d.current_error_texts();
    const std::string text = texts ? texts->get_text(static_cast<ErrorType>(result)) : std::string();
    Logger::i("Result code for command " + std::to_string(command) + " : " + std::to_string(result) + ". " + text);
}

// Empties the input map after a command outside the keep-list, whatever its
// result: a block collected before it ends with it (the single-record
// commands have sent it along with their own record).
void clear_inputs(param_map& inputs, int command)
{
    if (!device::keeps_input_params(command)) inputs.clear();
}

}  // namespace

bool device::keeps_input_params(int command)
{
    switch (command) {
        case 25:
        case 30:
        case 82:
        case 89:
        case 100:
        case 120:
            return true;
        default:
            return false;
    }
}

int device::execute_command(int command)
{
    if (command == static_cast<int>(CommandType::stop_command)) {
        // The stop only ever raises the request of a running command. It
        // never takes the device, so it cannot empty the maps or results
        // that a command just filled for its host thread, and a stop that
        // finds the device idle leaves nothing for the next command.
        raise_stop();
        return stop_running_command();
    }
    {
        // Acquiring the device, raising a stop request and releasing the
        // device each happen whole under the gate, so a stop always reaches
        // the command that holds the device at that moment: never one that
        // has already ended, never lost to one that is just starting.
        std::lock_guard<std::mutex> gate(command_gate);
        if (busy.load()) return rc(ErrorType::PreviousCommandRunning);
        busy.store(true);
    }

    int result = rc(ErrorType::UnexpectedDriverError);
    try {
        output_params.clear();
        result = do_command(command);
    } catch (...) {
        result = rc(ErrorType::UnexpectedDriverError);
    }
    if (!keeps_input_params(command)) clear_inputs(input_params, command);
    std::lock_guard<std::mutex> gate(command_gate);
    stop_requested.store(false);
    busy.store(false);
    return result;
}

void device::raise_stop()
{
    // Decided under the gate, so the request is the running command's; the
    // exchange it ends is the one under way at that moment, so a delivery
    // that comes late finds it over and leaves the next command's alone.
    exchange_stop::ticket meant_for = 0;
    {
        std::lock_guard<std::mutex> gate(command_gate);
        if (!busy.load()) return;
        stop_requested.store(true);
        meant_for = command_stop->current();
    }
    QV_SEAM("stop decided");
    // The running command's exchange ends now rather than at its time-out.
    command_stop->notify(meant_for);
}

int device::do_command(int command)
{
    try {
        Logger::i(separator);
        Logger::i("do_command " + std::to_string(command));
        output_params.clear();

        const auto flag = broadcast_validation_.find(static_cast<CommandType>(command));
        if (flag == broadcast_validation_.end()) {
            Logger::e("command not found in broadcast_validation_");
            Logger::i(separator);
            return rc(ErrorType::UnknownCommand);
        }

        // A number that no method serves is no command: like one outside the
        // table, it leaves the results of the command before it for 82.
        const auto& methods = registered_commands();
        const auto method = methods.find(static_cast<CommandType>(command));
        if (method != methods.end() && !keeps_results(command)) results.clear();

        int result;
        if (!flag->second && ip_address_list.size() > 1) {
            result = rc(ErrorType::NotForGroupMode);
        } else {
            result = method == methods.end() ? rc(ErrorType::UnknownCommand) : (this->*(method->second))();
            clear_inputs(input_params, command);
        }

        log_result_line(*this, command, result);
        Logger::i(separator);
        return result;
    } catch (...) {
        try {
            Logger::e("'do_command' error");
            Logger::i(separator);
        } catch (...) {
        }
        return rc(ErrorType::UnexpectedDriverError);
    }
}

int device::stop_command()
{
    const command_log log("stop_command");
    return rc(ErrorType::Success);
}

int device::stop_running_command()
{
    // Runs on whichever thread sent the stop, after execute_command has
    // raised the request of a running command (if any) under its gate;
    // `busy` stays with the running command until that command really ends
    // (a command arriving meanwhile still gets -2). The maps and `results`
    // belong to the commands, so only the lines are written here.
    try {
        Logger::i(separator);
        Logger::i("do_command " + std::to_string(static_cast<int>(CommandType::stop_command)));
        const int result = stop_command();
        log_result_line(*this, static_cast<int>(CommandType::stop_command), result);
        Logger::i(separator);
        return result;
    } catch (...) {
        return rc(ErrorType::UnexpectedDriverError);
    }
}

namespace {

const command_registration stop{
    {CommandType::stop_command, &device::stop_command},
};

}  // namespace
