#pragma once
// Internal to the library: whether a record of a severity would be written
// now, so that a line is not built for a log that would drop it.

namespace qv_logging_internal {

// True once the log is set up and while its filter passes `severity`
// (0 trace ... 4 error).
__attribute__((visibility("hidden"))) bool writes(int severity) noexcept;

constexpr int info_severity = 2;

}  // namespace qv_logging_internal
