// The command skeleton: start and error lines, reading replies through the
// bounded reader, held-back outputs, and the registry of command methods.

#include "core/command.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

#include "core/device.h"
#include "link/frame_layout.h"
#include "logging/logger.h"

// ---- Lines.

command_log::command_log(std::string name, error_line form) : name_(std::move(name)), form_(form)
{
    Logger::i("'" + name_ + "' start");
}

int command_log::result(int code) const
{
    if (code != rc(ErrorType::Success)) error(code);
    return code;
}

void command_log::error(int code) const
{
    if (form_ == error_line::name_code)
        Logger::e(name_ + " " + std::to_string(code));
    else
        Logger::e("'" + name_ + "' error=" + std::to_string(code));
}

// ---- Outputs.

void reply_outputs::put_int(ParamType p, int value)
{
    entries_.push_back({p, DataType::Int, value, {}, {}});
}

void reply_outputs::put_string(ParamType p, std::wstring value)
{
    entries_.push_back({p, DataType::String, 0, std::move(value), {}});
}

void reply_outputs::put_bytes(ParamType p, std::vector<std::byte> value)
{
    entries_.push_back({p, DataType::ByteArray, 0, {}, std::move(value)});
}

int device::write_outputs(const reply_outputs& out)
{
    for (const auto& e : out.entries_) {
        int r = rc(ErrorType::Success);
        switch (e.kind) {
            case DataType::Int:
                r = set_int_param(e.param, output_params, e.number);
                break;
            case DataType::String:
                r = set_string_param(e.param, output_params, e.text);
                break;
            case DataType::ByteArray:
                r = set_bytes_array_param(e.param, output_params, e.data);
                break;
        }
        if (r != rc(ErrorType::Success)) return r;
    }
    return rc(ErrorType::Success);
}

// ---- Replies.

namespace {

// Decodes one reply; false when it ended before the decoder's last field.
bool decode_reply(const std::string& ip, const std::vector<std::byte>& reply, int& result, const reply_decoder& decode,
                  reply_outputs& out)
{
    try {
        device_utils::byte_reader data(reply, frame_layout::data_offset(reply));
        scale_reply r{ip, reply, data, out, result};
        decode(r);
        return true;
    } catch (const device_utils::short_buffer&) {
        return false;
    }
}

}  // namespace

const std::vector<std::byte>& device::frame_of(CommandType type) const
{
    return command_frames.at(type);
}

int device::query(CommandType type, bool with_password, const reply_decoder& decode, const std::vector<std::byte>& data)
{
    const int result = send_command(type, with_password, data);
    return result == rc(ErrorType::Success) ? read_first_reply(decode) : result;
}

int device::read_first_reply(const reply_decoder& decode)
{
    if (responses.empty()) return rc(ErrorType::NoConnection);
    const auto& [ip, reply] = *responses.begin();
    reply_outputs out;
    if (!decode_reply(ip, reply, results[ip], decode, out)) return reply_too_short(ip);
    return write_outputs(out);
}

int device::read_each_reply(const reply_decoder& decode, int result)
{
    for (auto& [ip, scale_result] : results) {
        if (scale_result != rc(ErrorType::Success)) continue;
        const auto reply = responses.find(ip);
        if (reply == responses.end()) continue;
        reply_outputs out;
        if (!decode_reply(ip, reply->second, scale_result, decode, out)) {
            result = reply_too_short(ip);
            continue;
        }
        const int written = write_outputs(out);
        if (written != rc(ErrorType::Success)) result = written;
    }
    return result;
}

int device::reply_too_short(const std::string& ip)
{
    results[ip] = rc(ErrorType::InvalidResponseLength);
    return ip_address_list.size() > 1 ? rc(ErrorType::BroadcastError) : rc(ErrorType::InvalidResponseLength);
}

// ---- Waits.

bool sliced_pause(std::chrono::milliseconds wait, const std::atomic<bool>& flag, bool ends_on)
{
    constexpr std::chrono::milliseconds slice{10};
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (flag.load() == ends_on) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(slice, until - now));
    }
}

// ---- Registry.

namespace {

struct registry {
    std::map<CommandType, command_method> methods;
    std::vector<CommandType> duplicates;
};

// Built on first use: registrations run during static initialisation, in
// whatever order the linker put the topics' files.
registry& the_registry()
{
    static registry r;
    return r;
}

}  // namespace

command_registration::command_registration(std::initializer_list<std::pair<CommandType, command_method>> entries)
{
    registry& r = the_registry();
    for (const auto& [type, method] : entries)
        if (!r.methods.emplace(type, method).second) r.duplicates.push_back(type);
}

const std::map<CommandType, command_method>& registered_commands()
{
    return the_registry().methods;
}

const std::vector<CommandType>& duplicate_registrations()
{
    return the_registry().duplicates;
}
