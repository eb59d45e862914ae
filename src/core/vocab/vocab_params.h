#pragma once
// The parameter-name table: the name of every parameter number that has one,
// used to name parameters in log lines.

#include <map>
#include <string>

#include "core/vocab/types.h"

namespace vocab {

// Name -> number, 345 entries for 344 numbers: 186 has two names
// ("ShelfLife" and "ShelfLifeInDays"); 325 to 329 and the internal numbers
// have none. Built once on first use and never changed; a device copies it
// into its `param_names`.
const std::map<std::string, ParamType>& param_names();

// The name of a parameter number, or nullptr when the number has none.
// Gives the first name in ascending byte-wise name order, so 186 is always
// "ShelfLife". Constant time; the returned text lives as long as the process.
const char* param_name(ParamType p);

// The same rule applied to a given table (a walk in the map's own order),
// for a caller that holds its own copy. Empty when the number has no name.
std::string find_param_name(const std::map<std::string, ParamType>& names, ParamType p);

}  // namespace vocab
