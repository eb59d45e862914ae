// Typed access to a device's parameter maps: the get and set forms with
// their log lines, presence checks, password masking, path anchoring and the
// local paths that path inputs name.

#include "core/device.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <utility>

#include "codecs/device_utils.h"
#include "core/vocab/vocab_params.h"
#include "logging/logger.h"

namespace {

bool is_secret(ParamType p)
{
    // Passwords never reach the log in clear.
    return p == ParamType::AdminPassword || p == ParamType::NewPassword;
}

const char* const masked_value = "********";

bool is_path_param(ParamType p)
{
    return p == ParamType::FilePath || p == ParamType::FolderPath || p == ParamType::FolderForSaveFile;
}

// True when a zero byte stands before a non-zero one. The file system ends a
// path at its first zero byte, so such a value names another path than its
// text shows; zero bytes at the end are only padding.
bool has_inner_zero(const std::vector<std::byte>& value)
{
    const auto zero = std::find(value.begin(), value.end(), std::byte{0});
    return std::any_of(zero, value.end(), [](std::byte b) { return b != std::byte{0}; });
}

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

// Drops the leading relative steps of a relative path: separators and
// segments made of dots only ("./", "../", "..."), which are dropped rather
// than resolved so that the result stays under the root folder. Dots that
// begin a name (".hidden") are part of that name and stay.
std::string strip_leading_steps(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (is_separator(text[i])) {
            ++i;
            continue;
        }
        if (text[i] != '.') break;
        std::size_t j = i;
        while (j < text.size() && text[j] == '.') ++j;
        if (j < text.size() && !is_separator(text[j])) break;  // the dots begin a name
        i = j;
    }
    return text.substr(i);
}

}  // namespace

std::string device::param_name(ParamType p) const
{
    // The shared table is the same as `param_names` (a copy made at
    // construction and never changed) and answers in constant time.
    const char* name = vocab::param_name(p);
    return name ? name : "";
}

std::string device::get_param_info_for_log(ParamType p, DataType k)
{
    std::string d = param_kind_prefix(k);
    d += "\"(" + std::to_string(static_cast<int>(p)) + ")";
    const std::string name = param_name(p);
    if (!name.empty()) d += " " + name;
    d += "\"";
    return d;
}

bool device::checkParamInMap(ParamType p, param_map& map, DataType k, bool log)
{
    if (map.find(p) != map.end()) return true;
    if (log) Logger::w("get " + get_param_info_for_log(p, k) + ": not found!");
    return false;
}

DataType device::checkParamDataType(ParamType p, param_map& map)
{
    return map.at(p)->get_type();
}

bool device::parameters_validation(ParamType p, param_map& map)
{
    if (map.find(p) != map.end()) return true;
    Logger::w("The '" + std::to_string(static_cast<int>(p)) + "' parameter is missing");
    return false;
}

bool device::parameters_validation(const std::vector<ParamType>& list, param_map& map)
{
    for (ParamType p : list) {
        if (p == ParamType::ReservedByte) continue;  // never required
        if (!parameters_validation(p, map)) return false;
    }
    return true;
}

namespace {

// The common path of the three reads. `Value` is the class of the requested
// kind, `show` renders the value for the success line.
template <class Value, class Out, class Show>
int read_param(device& d, ParamType p, param_map& map, Out& out, bool log, DataType kind, const char* function,
               Show show)
{
    try {
        if (!d.checkParamInMap(p, map, kind, log)) return rc(ErrorType::RequiredParameterMissing);
        const std::string description = d.get_param_info_for_log(p, kind);
        const DataType stored = d.checkParamDataType(p, map);
        if (stored != kind) {
            if (log) logging_wrong_type(description, stored);
            return rc(ErrorType::WrongParameterType);
        }
        const auto* value = dynamic_cast<const Value*>(map.at(p).get());
        if (value == nullptr) {
            Logger::e(std::string(function) + " error: dynamic_cast failed");
            return rc(ErrorType::WrongParameterType);
        }
        out = value->value;
        if (log)
            Logger::i("get " + description + ": " +
                      (is_secret(p) ? std::string(masked_value)
                                    : device_utils::escape_control_characters(show(value->value))));
        return rc(ErrorType::Success);
    } catch (const std::exception& e) {
        Logger::e(std::string(function) + " error for param_type " + std::to_string(static_cast<int>(p)) + ": " +
                  e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
}

}  // namespace

int device::get_int_param(ParamType p, param_map& map, int& out, bool log)
{
    return read_param<param_int>(*this, p, map, out, log, DataType::Int, "get_int_param",
                                 [](int v) { return std::to_string(v); });
}

int device::get_string_param(ParamType p, param_map& map, std::wstring& out, bool log)
{
    return read_param<param_string>(*this, p, map, out, log, DataType::String, "get_string_param",
                                    [](const std::wstring& v) { return device_utils::str(v); });
}

int device::get_bytes_array_param(ParamType p, param_map& map, std::vector<std::byte>& out, bool log)
{
    return read_param<param_bytearray>(*this, p, map, out, log, DataType::ByteArray, "get_bytes_array_param",
                                       [](const std::vector<std::byte>& v) { return device_utils::hex_dump(v, 100); });
}

int device::get_int_param(ParamType p, param_map& map, int& out)
{
    return get_int_param(p, map, out, true);
}

int device::get_string_param(ParamType p, param_map& map, std::wstring& out)
{
    return get_string_param(p, map, out, true);
}

int device::get_bytes_array_param(ParamType p, param_map& map, std::vector<std::byte>& out)
{
    return get_bytes_array_param(p, map, out, true);
}

int device::set_int_param(ParamType p, param_map& map, int value, bool log)
{
    try {
        const std::string description = get_param_info_for_log(p, DataType::Int);
        if (log)
            Logger::i("set " + description + ": " + (is_secret(p) ? std::string(masked_value) : std::to_string(value)));
        map.insert_or_assign(p, std::make_unique<param_int>(value));
        return rc(ErrorType::Success);
    } catch (const std::exception& e) {
        Logger::e("set_int_param error for param_type " + std::to_string(static_cast<int>(p)) + ": " + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
}

int device::set_string_param(ParamType p, param_map& map, const std::wstring& value, bool log)
{
    try {
        const std::string description = get_param_info_for_log(p, DataType::String);
        if (log)
            Logger::i("set " + description + ": " +
                      (is_secret(p) ? std::string(masked_value)
                                    : device_utils::escape_control_characters(device_utils::str(value))));
        map.insert_or_assign(p, std::make_unique<param_string>(value));
        return rc(ErrorType::Success);
    } catch (const std::exception& e) {
        Logger::e(std::string("set_string_param error: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
}

// True when a ".." inside `tail` climbs above the folder `tail` starts in.
static bool climbs_above_start(const std::string& tail)
{
    int depth = 0;
    std::size_t i = 0;
    while (i < tail.size()) {
        std::size_t j = i;
        while (j < tail.size() && !is_separator(tail[j])) ++j;
        const std::string step = tail.substr(i, j - i);
        if (step == "..") {
            if (--depth < 0) return true;
        } else if (!step.empty() && step != ".") {
            ++depth;
        }
        i = j + 1;
    }
    return false;
}

std::vector<std::byte> device::anchor_path(const std::vector<std::byte>& value) const
{
    const std::string text = device_utils::parse_string_from_byte_array(value);
    if (!text.empty() && text[0] == '/') return value;  // absolute: stored exactly as given
    const std::string tail = strip_leading_steps(text);
    // A relative path stays under the root folder: one whose inner ".."
    // would leave it is stored empty, which the commands refuse.
    if (climbs_above_start(tail)) {
        Logger::e("relative path leaves the root folder: " +
                  device_utils::escape_control_characters(device_utils::safe_log_text(text)));
        return {};
    }
    const std::string root = device_utils::parse_string_from_byte_array(driver_root_folder);
    std::string joined;
    if (root.empty())
        joined = tail;
    else if (root.back() == '/')
        joined = root + tail;
    else
        joined = root + "/" + tail;
    return device_utils::parse_byte_array_from_string(joined);
}

int device::set_bytes_array_param(ParamType p, param_map& map, const std::vector<std::byte>& value, bool log)
{
    try {
        const std::string description = get_param_info_for_log(p, DataType::ByteArray);
        if (log) {
            const bool secret = is_secret(p);
            Logger::i("set " + description + " (size: " + std::to_string(value.size()) +
                      "): " + (secret ? std::string(masked_value) : device_utils::hex_dump(value, 100)));
            Logger::i("as string: " + (secret ? std::string(masked_value)
                                              : device_utils::escape_control_characters(
                                                    device_utils::parse_string_from_byte_array(value).substr(0, 100))));
        }
        // A value with a zero byte inside is stored as given: anchoring would
        // drop that zero and hide it, while read_local_path, which every local
        // path passes through, refuses it.
        if (is_path_param(p) && !has_inner_zero(value)) {
            const std::string text = device_utils::parse_string_from_byte_array(value);
            if (text.empty() || text[0] != '/') {
                std::vector<std::byte> joined = anchor_path(value);
                if (log) {
                    Logger::i("change bytes array param (" + std::to_string(static_cast<int>(p)) +
                              "): " + device_utils::hex_dump(joined, joined.size()));
                    Logger::i("as string: " + device_utils::escape_control_characters(device_utils::safe_log_text(
                                                  device_utils::parse_string_from_byte_array(joined))));
                }
                map.insert_or_assign(p, std::make_unique<param_bytearray>(std::move(joined)));
                return rc(ErrorType::Success);
            }
        }
        map.insert_or_assign(p, std::make_unique<param_bytearray>(value));
        return rc(ErrorType::Success);
    } catch (const std::exception& e) {
        Logger::e(std::string("set_bytes_array_param error: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
}

int device::local_path(ParamType p, const std::vector<std::byte>& value, std::string& path)
{
    if (has_inner_zero(value)) {
        const std::string given(reinterpret_cast<const char*>(value.data()), value.size());
        return refused_parameter(p, DataType::ByteArray, quoted_value(device_utils::safe_log_text(given)),
                                 "a path with zero bytes at its end only");
    }
    path = device_utils::parse_string_from_byte_array(value);  // the padding dropped
    return rc(ErrorType::Success);
}

int device::read_local_path(ParamType p, std::string& path)
{
    std::vector<std::byte> value;
    const int r = get_bytes_array_param(p, input_params, value);
    if (r != rc(ErrorType::Success)) return r;
    return local_path(p, value, path);
}

int device::set_int_param(ParamType p, param_map& map, int value)
{
    return set_int_param(p, map, value, true);
}

int device::set_string_param(ParamType p, param_map& map, const std::wstring& value)
{
    return set_string_param(p, map, value, true);
}

int device::set_bytes_array_param(ParamType p, param_map& map, const std::vector<std::byte>& value)
{
    return set_bytes_array_param(p, map, value, true);
}

int read_int_in(device& d, ParamType p, int& out, long long lo, long long hi)
{
    int value = 0;
    const int r = d.get_int_param(p, d.input_params, value);
    if (r != rc(ErrorType::Success)) return r;
    const int checked = check_int_range(p, value, lo, hi);
    if (checked == rc(ErrorType::Success)) out = value;
    return checked;
}
