#include "core/params.h"

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
