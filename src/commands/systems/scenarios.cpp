// The scale's scenarios: reading the list in as many parts as the scale
// sends, choosing a scenario, and encrypting one while polling its status.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "codecs/byte_writer.h"
#include "commands/prediction/polling.h"
#include "core/device.h"
#include "logging/logger.h"
#include "test_hooks/test_hooks.h"

namespace {

using bytes = std::vector<std::byte>;

constexpr std::byte quote{0x22};
constexpr std::size_t max_scenario_size = 255;

struct scenario_entry {
    int number = 0;
    bytes name;
    bytes second;
};

struct list_part {
    std::uint16_t total = 0;
    std::vector<scenario_entry> entries;
};

// One entry of the output text: number byte, "name", second text (or the
// name) without its quote bytes, then a closing quote. The entry is there
// whole or not at all: a failed allocation part-way takes its bytes out.
void append_entry(bytes& text, const scenario_entry& e)
{
    const std::size_t before = text.size();
    try {
        text.push_back(static_cast<std::byte>((0x30 + e.number) & 0xFF));
        text.push_back(quote);
        text.insert(text.end(), e.name.begin(), e.name.end());
        text.push_back(quote);
        QV_SEAM("scenario entry half appended");
        for (std::byte b : e.second.empty() ? e.name : e.second)
            if (b != quote) text.push_back(b);
        text.push_back(quote);
    } catch (...) {
        text.resize(before);
        throw;
    }
}

// One list reply's data: total, count, then the entries back to back.
list_part read_list_part(device_utils::byte_reader& data)
{
    list_part part;
    part.total = data.uint16_le();
    const std::uint16_t count = data.uint16_le();
    for (std::uint16_t k = 0; k < count; ++k) {
        scenario_entry e;
        e.number = data.byte();
        e.name = data.byte_array(data.byte());
        e.second = data.byte_array(data.byte());
        part.entries.push_back(std::move(e));
    }
    return part;
}

// Reads the scenario from the input map for the two set commands: 0 and the
// payload, or -7, -8, -104.
int scenario_payload(device& d, bytes& payload)
{
    bytes scenario;
    const int read = d.get_bytes_array_param(ParamType::Scenarios, d.input_params, scenario);
    if (read != rc(ErrorType::Success)) return read;
    if (scenario.size() > max_scenario_size)
        return refused_size(ParamType::Scenarios, DataType::ByteArray, scenario.size(), max_scenario_size);
    device_utils::byte_writer w;
    w.u8(static_cast<std::uint8_t>(scenario.size())).raw(scenario);
    payload = w.take();
    return rc(ErrorType::Success);
}

// True while a scale of the list still reports the encryption in progress;
// with several scales the combined result alone would hide it behind -111.
bool any_scale_in_progress(const std::map<std::string, int>& results)
{
    for (const auto& entry : results)
        if (entry.second == rc(ErrorType::InProgress)) return true;
    return false;
}

}  // namespace

int device::get_scenarios_list()  // 70
{
    const command_log log("get_scenarios_list");
    // The entries received reach the output, each whole, on every way out
    // (the end, a stop, a failed part, an exception), so that a host keeps
    // what it was sent. The text grows here and is stored once, not again
    // per entry.
    bytes text;
    const auto with_entries = [&](int result) {
        if (text.empty()) return result;
        const int stored = set_bytes_array_param(ParamType::Scenarios, output_params, text);
        return result == rc(ErrorType::Success) ? log.result(stored) : result;
    };
    try {
        std::uint32_t received = 0;
        for (;;) {
            const int sent = send_command(CommandType::get_scenarios_list, with_password);
            if (sent != rc(ErrorType::Success)) {
                log.error(sent);
                return with_entries(stop_requested.load() ? rc(ErrorType::CommandStopped) : sent);
            }

            list_part part;
            const int read = read_first_reply([&part](scale_reply& r) { part = read_list_part(r.data); });
            if (read != rc(ErrorType::Success)) return with_entries(log.result(read));

            // The request carries no position, so only the counts tell the
            // list's end: a part that adds nothing while entries are due, or
            // more entries than announced, would otherwise be asked for ever.
            const std::uint32_t after = received + static_cast<std::uint32_t>(part.entries.size());
            if ((part.entries.empty() && received < part.total) || after > part.total)
                return with_entries(log.result(rc(ErrorType::InvalidResponseLength)));
            received = after;

            for (const scenario_entry& e : part.entries) {
                append_entry(text, e);
                if (stop_requested.load()) return with_entries(rc(ErrorType::CommandStopped));
            }
            QV_SEAM("scenario part appended");
            if (stop_requested.load()) return with_entries(rc(ErrorType::CommandStopped));
            if (received == part.total) break;
        }
        // An empty list writes no output.
        return with_entries(rc(ErrorType::Success));
    } catch (const std::exception& e) {
        // Not command_log's error line: this one carries the exception's text.
        Logger::e(std::string("get_scenarios_list err: ") + e.what());
        return with_entries(rc(ErrorType::UnexpectedDriverError));
    }
}

int device::set_scenario()  // 71
{
    const command_log log("set_scenario");
    bytes payload;
    const int input = scenario_payload(*this, payload);
    if (input != rc(ErrorType::Success)) return input;
    return log.result(send_command(CommandType::set_scenario, with_password, payload));
}

int device::encrypt_scenario()  // 122
{
    const command_log log("encrypt_scenario", error_line::name_error);
    bytes payload;
    const int input = scenario_payload(*this, payload);
    if (input != rc(ErrorType::Success)) return input;

    int result = send_command(CommandType::encrypt_scenario, with_password, payload);
    if (result != rc(ErrorType::Success)) return log.result(result);

    // No limit on the polls: the scale answers each one, and a scale that
    // stops answering ends the loop with its error.
    do {
        sliced_pause(qv_polling_internal::timing().encryption_period, stop_requested);
        if (stop_requested.load()) return rc(ErrorType::CommandStopped);
        const command_log poll("get_encrypt_scenario_status");
        result = send_command(CommandType::get_encrypt_scenario_status, with_password);
        if (stop_requested.load()) return rc(ErrorType::CommandStopped);
    } while (result != rc(ErrorType::Success) && any_scale_in_progress(results));
    return log.result(result);
}

namespace {

const command_registration systems_scenarios{
    {CommandType::get_scenarios_list, &device::get_scenarios_list},
    {CommandType::set_scenario, &device::set_scenario},
    {CommandType::encrypt_scenario, &device::encrypt_scenario},
};

}  // namespace
