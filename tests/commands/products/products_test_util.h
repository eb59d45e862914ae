#pragma once
// Shared by the product and label tests: inputs of any kind given as one list,
// and the JSON writer's layout of a document written on one line.

#include <initializer_list>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/device.h"
#include "device_test_util.h"

namespace products_test {

// An integer, a byte array (std::string) or a wide string input.
using value = std::variant<int, std::string, std::wstring>;
using inputs = std::vector<std::pair<ParamType, value>>;

// Bytes by value, for dates and times.
inline std::string raw(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

inline void set_inputs(device& d, const inputs& in)
{
    for (const auto& [p, v] : in) {
        if (const int* i = std::get_if<int>(&v)) {
            d.set_int_param(p, d.input_params, *i, false);
        } else if (const std::string* b = std::get_if<std::string>(&v)) {
            d.set_bytes_array_param(p, d.input_params, device_test::bytes_of(*b), false);
        } else {
            d.set_string_param(p, d.input_params, std::get<std::wstring>(v), false);
        }
    }
}

inline int run(device& d, CommandType c, const inputs& in = {})
{
    set_inputs(d, in);
    return d.execute_command(static_cast<int>(c));
}

// The writer's layout of `flat`: each member and element on its own line,
// four blanks a level, no blank after a comma, a line feed at the end.
inline std::string laid_out(const std::string& flat)
{
    std::string out;
    int depth = 0;
    bool in_text = false;
    const auto next_line = [&] { out += '\n' + std::string(4 * depth, ' '); };
    for (std::size_t i = 0; i < flat.size(); ++i) {
        const char c = flat[i];
        const bool opens = !in_text && (c == '{' || c == '['), closes = !in_text && (c == '}' || c == ']');
        if (closes) --depth, next_line();
        if (c != ' ' || in_text || flat[i - 1] != ',') out += c;
        if (in_text && c == '\\') {
            out += flat[++i];
        } else if (c == '"') {
            in_text = !in_text;
        }
        if (opens) ++depth, next_line();
        if (!in_text && c == ',') next_line();
    }
    return out + '\n';
}

}  // namespace products_test
