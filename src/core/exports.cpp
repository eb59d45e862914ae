// The functions a host calls. Each checks its handle in the registry (-1000
// for anything not registered, with nothing logged and nothing written) and
// hands the work to the device. No exception leaves these functions.

#include "quorvix_driver.h"

#include <exception>
#include <memory>
#include <string>

#include <utf8.h>

#include "codecs/device_utils.h"
#include "core/device.h"
#include "core/library.h"
#include "logging/logger.h"

namespace {

constexpr int unexpected = rc(ErrorType::UnexpectedDriverError);

// Held for the whole call: a destroy meanwhile leaves the device to it.
std::shared_ptr<device> registered(void* handle)
{
    return library::instance().find(handle);
}

template <class Out, class Read>
int read_into(void* handle, int param, Out* out, Read read)
{
    const std::shared_ptr<device> d = registered(handle);
    if (d == nullptr || out == nullptr) return unexpected;
    try {
        return read(*d, static_cast<ParamType>(param), *out);
    } catch (...) {
        return unexpected;
    }
}

template <class Store>
int store(void* handle, Store s)
{
    const std::shared_ptr<device> d = registered(handle);
    if (d == nullptr) return unexpected;
    try {
        return s(*d);
    } catch (...) {
        return unexpected;
    }
}

int read_int(device& d, param_map& map, ParamType p, long long& out)
{
    int v = 0;
    const int r = d.get_int_param(p, map, v);
    if (r == rc(ErrorType::Success)) out = v;
    return r;
}

}  // namespace

extern "C" {

int create(void** handle)
{
    try {
        return library::instance().create_device(handle);
    } catch (...) {
        return unexpected;
    }
}

void destroy(void** handle)
{
    try {
        library::instance().destroy_device(handle);
    } catch (...) {
    }
}

int set_int_param(void* handle, int param, int value)
{
    return store(handle,
                 [&](device& d) { return d.set_int_param(static_cast<ParamType>(param), d.input_params, value); });
}

int set_string_param(void* handle, int param, const std::string& text)
{
    return store(handle, [&](device& d) {
        // Malformed UTF-8 is stored up to the fault and still succeeds, as
        // hosts may rely on; the fault is logged, and the stored text keeps
        // that it was cut, for the commands that must not take it so.
        const auto p = static_cast<ParamType>(param);
        const auto bad = utf8::find_invalid(text.begin(), text.end());
        if (bad != text.end())
            Logger::w("set_string_param: malformed UTF-8 at byte " + std::to_string(bad - text.begin()) +
                      " for param_type " + std::to_string(param) + "; the text is stored up to it");
        const int r = d.set_string_param(p, d.input_params, device_utils::wstr(text));
        if (r == rc(ErrorType::Success) && bad != text.end()) mark_cut_text(d.input_params, p);
        return r;
    });
}

int set_wstring_param(void* handle, int param, const std::wstring& text)
{
    return store(handle,
                 [&](device& d) { return d.set_string_param(static_cast<ParamType>(param), d.input_params, text); });
}

int set_bytes_array_param(void* handle, int param, const std::vector<std::byte>& bytes)
{
    return store(handle, [&](device& d) {
        return d.set_bytes_array_param(static_cast<ParamType>(param), d.input_params, bytes);
    });
}

int get_int_param(void* handle, int param, long long* value)
{
    return read_into(handle, param, value,
                     [](device& d, ParamType p, long long& out) { return read_int(d, d.output_params, p, out); });
}

int get_string_param(void* handle, int param, std::string* text)
{
    return read_into(handle, param, text, [](device& d, ParamType p, std::string& out) {
        // The host's string is replaced whatever the read gives: empty on failure.
        std::wstring value;
        const int r = d.get_string_param(p, d.output_params, value);
        out = device_utils::str(value);
        return r;
    });
}

int get_wstring_param(void* handle, int param, std::wstring* text)
{
    return read_into(handle, param, text, [](device& d, ParamType p, std::wstring& out) {
        return d.get_string_param(p, d.output_params, out);
    });
}

int get_bytes_array_param(void* handle, int param, std::vector<std::byte>* bytes)
{
    return read_into(handle, param, bytes, [](device& d, ParamType p, std::vector<std::byte>& out) {
        return d.get_bytes_array_param(p, d.output_params, out);
    });
}

int get_input_int_param(void* handle, int param, long long* value)
{
    return read_into(handle, param, value,
                     [](device& d, ParamType p, long long& out) { return read_int(d, d.input_params, p, out); });
}

int get_input_string_param(void* handle, int param, std::string* text)
{
    return read_into(handle, param, text, [](device& d, ParamType p, std::string& out) {
        std::wstring value;
        const int r = d.get_string_param(p, d.input_params, value);
        if (r == rc(ErrorType::Success)) out = device_utils::str(value);
        return r;
    });
}

int get_input_wstring_param(void* handle, int param, std::wstring* text)
{
    return read_into(handle, param, text, [](device& d, ParamType p, std::wstring& out) {
        return d.get_string_param(p, d.input_params, out);
    });
}

int get_input_bytes_array_param(void* handle, int param, std::vector<std::byte>* bytes)
{
    return read_into(handle, param, bytes, [](device& d, ParamType p, std::vector<std::byte>& out) {
        return d.get_bytes_array_param(p, d.input_params, out);
    });
}

int execute_command(void* handle, int command)
{
    const std::shared_ptr<device> d = registered(handle);
    if (d == nullptr) return unexpected;
    try {
        return d->execute_command(command);
    } catch (...) {
        return unexpected;
    }
}

}  // extern "C"

namespace nativedriver {

int change_locale(void* handle, std::wstring name)
{
    const std::shared_ptr<device> d = registered(handle);
    if (d == nullptr) return unexpected;
    try {
        return d->change_locale(name);
    } catch (...) {
        return unexpected;
    }
}

}  // namespace nativedriver
