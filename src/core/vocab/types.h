#pragma once
// The driver's enumerations. The numbers a host sees (ParamType, CommandType,
// ErrorType) are declared in the public quorvix_types.h; this header adds the
// kind of a parameter value and the spelling of a result code.

#include <cstdint>

#include "quorvix_types.h"

// Kind of a parameter value.
enum class DataType : std::int32_t {
    Int = 1,
    ByteArray = 2,
    String = 3,
};

// The one spelling of a result code in the code: rc(ErrorType::NoConnection).
constexpr int rc(ErrorType e)
{
    return static_cast<int>(e);
}
