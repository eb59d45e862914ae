#include "core/params.h"

#include <cstdint>
#include <cstdio>

#include "codecs/device_utils.h"
#include "core/vocab/vocab_params.h"
#include "logging/logger.h"

const char* param_kind_prefix(DataType kind)
{
    switch (kind) {
        case DataType::Int:
            return "int param ";
        case DataType::ByteArray:
            return "bytes array param ";
        case DataType::String:
            return "string param ";
    }
    return "";
}

const char* param_kind_word(DataType kind)
{
    switch (kind) {
        case DataType::Int:
            return "int";
        case DataType::ByteArray:
            return "bytes array";
        case DataType::String:
            return "string";
    }
    return "";
}

void logging_wrong_type(const std::string& description, DataType stored)
{
    Logger::e("get " + description + ": wrong type! As " + param_kind_word(stored) + " in driver");
}

int refused_parameter(ParamType p, DataType kind, const std::string& value, const std::string& allowed)
{
    const char* name = vocab::param_name(p);
    Logger::w(std::string("refused ") + param_kind_prefix(kind) + "\"(" + std::to_string(static_cast<int>(p)) + ")" +
              (name ? std::string(" ") + name : std::string()) + "\": " + value + "; allowed: " + allowed);
    return rc(ErrorType::InvalidParameterValue);
}

int check_int_range(ParamType p, long long value, long long lo, long long hi)
{
    if (value >= lo && value <= hi) return rc(ErrorType::Success);
    return refused_parameter(p, DataType::Int, std::to_string(value), std::to_string(lo) + " to " + std::to_string(hi));
}

int refused_size(ParamType p, DataType kind, std::size_t size, std::size_t most)
{
    return refused_parameter(p, kind, std::to_string(size) + " bytes", "at most " + std::to_string(most) + " bytes");
}

std::string quoted_value(const std::string& text)
{
    return "\"" + device_utils::escape_control_characters(text) + "\"";
}

std::string value_at(const char* what, const std::wstring& text, std::size_t at, bool secret)
{
    char code[16] = "";
    if (!secret) std::snprintf(code, sizeof code, " U+%04X", static_cast<unsigned>(text[at]));
    return std::string(what) + code + " at position " + std::to_string(at + 1);
}

void warn_unencodable(ParamType p, const std::wstring& text, std::size_t width, bool secret,
                      const std::string& scale_ip)
{
    const std::size_t at = device_utils::find_unencodable_win1251(text, width);
    if (at == std::wstring::npos) return;
    refused_parameter(
        p, DataType::String,
        value_at("character", text, at, secret) + (scale_ip.empty() ? std::string() : ", scale " + scale_ip),
        "characters of the Windows-1251 table");
}

void mark_cut_text(param_map& map, ParamType p)
{
    const auto found = map.find(p);
    if (found == map.end()) return;
    const auto* text = dynamic_cast<const param_string*>(found->second.get());
    if (text != nullptr) found->second = std::make_unique<param_string>(text->value, true);
}

bool is_cut_text(const param_map& map, ParamType p)
{
    const auto found = map.find(p);
    if (found == map.end()) return false;
    const auto* text = dynamic_cast<const param_string*>(found->second.get());
    return text != nullptr && text->cut;
}

std::size_t find_no_code_point(const std::wstring& text)
{
    for (std::size_t k = 0; k < text.size(); ++k) {
        const auto c = static_cast<std::uint32_t>(text[k]);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return k;
    }
    return std::wstring::npos;
}

int refuse_no_code_point(ParamType p, const std::wstring& text, bool secret)
{
    const std::size_t at = find_no_code_point(text);
    if (at == std::wstring::npos) return rc(ErrorType::Success);
    refused_parameter(p, DataType::String, value_at("code", text, at, secret),
                      "Unicode characters (no surrogate, at most U+10FFFF)");
    return rc(ErrorType::UnexpectedDriverError);
}

int refused_absent(ParamType p, DataType kind)
{
    return refused_parameter(p, kind, "absent", std::string("a value of kind ") + param_kind_word(kind));
}
