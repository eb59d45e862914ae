#pragma once
// The host interface of the Quorvix scale driver.
//
// A host creates a driver instance with create(), stores input parameters in
// it by number, runs one numbered command with execute_command(), and reads
// the outputs back. Every function except destroy() returns a result code:
// 0 for success, -1000 for a handle that is not registered (or a null
// pointer argument), -7 for a parameter that is absent, -8 for a parameter
// stored as another kind of value; commands return the codes of their own.
//
// Text crosses the interface as UTF-8 std::string or as std::wstring (one
// code point per element), bytes as std::vector<std::byte>: host and driver
// must be built against the same C++ standard library.
//
// Threads: execute_command may be called on one handle from several threads
// (a second command on a busy handle is refused with -2; command 127 stops
// the running one, which then ends with -9). destroy() may come from any
// thread: it stops the running command, waits for it to end and for the
// live-weight stream to stop, then frees the instance; from then on every
// call with the handle answers -1000. Never set or read one handle's
// parameters from two threads at once: the parameter maps have no lock.
//
// Logging is set up with Logger::init_log (quorvix_logger.h). The numbers of
// parameters, commands and result codes have their names in quorvix_types.h;
// docs/commands.md (installed as share/doc/quorvix_driver/commands.md) gives
// every command's inputs with their kinds, ranges and examples.

#include <cstddef>
#include <string>
#include <vector>

#include "quorvix_types.h"

// Marks what the library exports; everything else in it is hidden.
#ifndef QUORVIX_DRIVER_API
#define QUORVIX_DRIVER_API __attribute__((visibility("default")))
#endif

extern "C" {

// Builds a driver instance and stores its handle in *handle; 0. Prints
// "library.create_device() handle:" and the handle (0xf5a03c00) on standard
// output, with or without the log.
QUORVIX_DRIVER_API int create(void** handle);
// Destroys the instance whose handle is in *handle (which is left as it
// was): a command running on another thread is stopped and waited for, and
// its kept-open connections are closed. Prints on standard output
// "library.destroy_device() handle:0xf5a03c00", then "device removed0xf5a03c00"
// (or "the device is missing0xf5a03c00" for a handle the registry does not
// hold), then "library.destroy_device() END". A host that unloads the
// library (dlclose) destroys every handle first: once Logger::init_log has
// run, dlclose leaves the library mapped, and an instance left alive goes on
// running, its live-weight stream calling the host's sink.
QUORVIX_DRIVER_API void destroy(void** handle);

// Store a value under a parameter number in the input map; the map is
// emptied after every command except 25, 30, 82, 89, 100 and 120. A relative
// path stored with set_bytes_array_param under FilePath, FolderPath or
// FolderForSaveFile is joined onto the driver's root folder (command 120).
QUORVIX_DRIVER_API int set_int_param(void* handle, int param, int value);
QUORVIX_DRIVER_API int set_string_param(void* handle, int param, const std::string& text);
QUORVIX_DRIVER_API int set_wstring_param(void* handle, int param, const std::wstring& text);
QUORVIX_DRIVER_API int set_bytes_array_param(void* handle, int param, const std::vector<std::byte>& bytes);

// Read a value of the output map (what the last command produced). The
// output argument is written only on 0, except get_string_param, which
// leaves an empty string on failure.
QUORVIX_DRIVER_API int get_int_param(void* handle, int param, long long* value);
QUORVIX_DRIVER_API int get_string_param(void* handle, int param, std::string* text);
QUORVIX_DRIVER_API int get_wstring_param(void* handle, int param, std::wstring* text);
QUORVIX_DRIVER_API int get_bytes_array_param(void* handle, int param, std::vector<std::byte>* bytes);

// The same reads on the input map (what the host has set since the last
// command); the output argument is written only on 0.
QUORVIX_DRIVER_API int get_input_int_param(void* handle, int param, long long* value);
QUORVIX_DRIVER_API int get_input_string_param(void* handle, int param, std::string* text);
QUORVIX_DRIVER_API int get_input_wstring_param(void* handle, int param, std::wstring* text);
QUORVIX_DRIVER_API int get_input_bytes_array_param(void* handle, int param, std::vector<std::byte>* bytes);

// Runs one command and returns its result code. The output map is emptied
// first, so the outputs of one command are read before the next one runs.
QUORVIX_DRIVER_API int execute_command(void* handle, int command);

}  // extern "C"

namespace nativedriver {

// Sets the process-wide locale of the C library and of the C++ standard
// library by name, for every instance and thread; create() sets both back to
// "C". An empty name takes the locale the environment names (LC_ALL, else
// LC_<category> each, else LANG; "C" when none is set). -1000, both locales
// then unchanged: the system has no locale of that name, or the name is not
// whole text (it holds a zero byte, or a value that is no character: a lone
// surrogate, or one above U+10FFFF).
QUORVIX_DRIVER_API int change_locale(void* handle, std::wstring name);

}  // namespace nativedriver
