// The scale's clock, date and automatic time synchronisation, and the host's
// local clock text that the clock setters fall back on.

#include <time.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "codecs/byte_writer.h"
#include "codecs/device_utils.h"
#include "core/device.h"
#include "core/fields.h"

namespace {

struct host_clock {
    std::mutex mu;
    std::function<std::int64_t()> now;  // empty: the system clock
};

host_clock& the_host_clock()
{
    static host_clock c;
    return c;
}

std::int64_t host_seconds()
{
    host_clock& c = the_host_clock();
    std::function<std::int64_t()> now;
    {
        std::lock_guard<std::mutex> lock(c.mu);
        now = c.now;
    }
    return now ? now() : static_cast<std::int64_t>(std::time(nullptr));
}

// The three decimal numbers of "a-b-c"; false unless the text is exactly
// that (the host clock text always is).
bool three_numbers(const std::string& text, int (&out)[3])
{
    std::size_t k = 0;
    int digits = 0;
    out[0] = out[1] = out[2] = 0;
    for (char c : text) {
        if (c == '-') {
            if (digits == 0 || ++k == 3) return false;
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 9) {
            out[k] = out[k] * 10 + (c - '0');
            ++digits;
        } else {
            return false;
        }
    }
    return k == 2 && digits > 0;
}

std::uint8_t low_byte(int value)
{
    return static_cast<std::uint8_t>(static_cast<unsigned>(value) & 0xFFU);
}

// The host clock as date and time bytes: day, month, year - 2000 and hour,
// minute, second. False when the clock text could not be read, so that no
// scale gets an empty or partial clock.
bool host_date_and_time(std::vector<std::byte>& date, std::vector<std::byte>& time)
{
    const std::string text = device::return_current_time_and_date();
    const std::size_t cut = text.find('_');
    int d[3];
    int t[3];
    if (cut == std::string::npos || !three_numbers(text.substr(0, cut), d) || !three_numbers(text.substr(cut + 1), t))
        return false;
    date = {std::byte{low_byte(d[0])}, std::byte{low_byte(d[1])}, std::byte{low_byte(d[2] - 2000)}};
    time = {std::byte{low_byte(t[0])}, std::byte{low_byte(t[1])}, std::byte{low_byte(t[2])}};
    return true;
}

// The clock setters: the given bytes unchanged, whatever their number, or
// the host clock when the parameter is absent.
int set_clock(device& d, const command_log& log, CommandType type, ParamType given, bool with_time)
{
    std::vector<std::byte> payload;
    const int r = d.get_bytes_array_param(given, d.input_params, payload);
    if (r == rc(ErrorType::RequiredParameterMissing)) {
        std::vector<std::byte> date;
        std::vector<std::byte> time;
        if (!host_date_and_time(date, time)) return log.result(rc(ErrorType::UnexpectedDriverError));
        payload = given == ParamType::Time ? time : date;
        if (with_time) payload.insert(payload.end(), time.begin(), time.end());
    } else if (r != rc(ErrorType::Success)) {
        return r;
    }
    return log.result(d.send_command(type, with_password, payload));
}

int three_byte_getter(device& d, const command_log& log, CommandType type, ParamType out)
{
    return log.result(d.query(type, without_password, [out](scale_reply& r) {
        decode_fields({{out, field_kind::bytes, 3}}, r.data, r.out);
    }));
}

}  // namespace

std::string device::return_current_time_and_date()
{
    const std::int64_t seconds = host_seconds();
    const auto t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (static_cast<std::int64_t>(t) != seconds || localtime_r(&t, &local) == nullptr) return {};
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%d-%m-%Y_%H-%M-%S", &local);
    return std::string(text, n);
}

void device::set_host_clock(std::function<std::int64_t()> clock)
{
    host_clock& c = the_host_clock();
    std::lock_guard<std::mutex> lock(c.mu);
    c.now = std::move(clock);
}

int device::set_time()  // 2
{
    const command_log log("set_time", error_line::name_error);
    return set_clock(*this, log, CommandType::set_time, ParamType::Time, false);
}

int device::set_date()  // 3
{
    // Without a given Date the host clock goes as date and time: 6 bytes.
    const command_log log("set_date");
    return set_clock(*this, log, CommandType::set_date, ParamType::Date, true);
}

int device::get_time()  // 67
{
    const command_log log("get_time");
    return three_byte_getter(*this, log, CommandType::get_time, ParamType::Time);
}

int device::get_date()  // 68
{
    const command_log log("get_date");
    return three_byte_getter(*this, log, CommandType::get_date, ParamType::Date);
}

int device::get_time_sync()  // 144
{
    const command_log log("get_time_sync");
    return log.result(query(CommandType::get_time_sync, without_password, [](scale_reply& r) {
        r.out.put_int(ParamType::TimeAutoSyncEnabledFlag, r.data.byte());
        const int n = r.data.byte();
        r.out.put_string(ParamType::TimeZone, device_utils::wstr(r.data.string(n)));  // zero bytes dropped
    }));
}

int device::set_time_sync()  // 145
{
    const command_log log("set_time_sync", error_line::name_error);
    // Both optional; the flag's read logs the missing-parameter warning.
    int flag = 0;
    int r = get_int_param(ParamType::TimeAutoSyncEnabledFlag, input_params, flag);
    if (r != rc(ErrorType::Success) && r != rc(ErrorType::RequiredParameterMissing)) return r;
    r = check_int_range(ParamType::TimeAutoSyncEnabledFlag, flag, 0, 0xFF);
    if (r != rc(ErrorType::Success)) return r;
    std::wstring zone;
    r = get_string_param(ParamType::TimeZone, input_params, zone);
    if (r != rc(ErrorType::Success) && r != rc(ErrorType::RequiredParameterMissing)) return r;
    const std::string utf8 = device_utils::str(zone);
    // A count byte that no longer matched the text would make the scale misread it.
    if (utf8.size() > 0xFF) return refused_size(ParamType::TimeZone, DataType::String, utf8.size(), 0xFF);
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(flag)).u8(static_cast<std::uint8_t>(utf8.size())).raw(utf8);
    return log.result(send_command(CommandType::set_time_sync, with_password, payload.data()));
}

namespace {

const command_registration systems_clock{
    {CommandType::set_time, &device::set_time},           {CommandType::set_date, &device::set_date},
    {CommandType::get_time, &device::get_time},           {CommandType::get_date, &device::get_date},
    {CommandType::get_time_sync, &device::get_time_sync}, {CommandType::set_time_sync, &device::set_time_sync},
};

}  // namespace
