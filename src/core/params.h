#pragma once
// Parameter values and the parameter maps of a device.
//
// A value is stored once and never modified: storing a parameter again puts a
// new value object in its place. The map owns its values.

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/vocab/types.h"

class param_base {
public:
    virtual ~param_base() = default;
    virtual DataType get_type() const = 0;

protected:
    param_base() = default;
    param_base(const param_base&) = default;
    param_base& operator=(const param_base&) = default;
};

class param_int final : public param_base {
public:
    explicit param_int(int v) : value(v) {}
    DataType get_type() const override { return type; }

    const int value;
    const DataType type = DataType::Int;
};

class param_bytearray final : public param_base {
public:
    explicit param_bytearray(std::vector<std::byte> v) : value(std::move(v)) {}
    DataType get_type() const override { return type; }

    const std::vector<std::byte> value;
    const DataType type = DataType::ByteArray;
};

class param_string final : public param_base {
public:
    explicit param_string(std::wstring v, bool cut_at_fault = false) : value(std::move(v)), cut(cut_at_fault) {}
    DataType get_type() const override { return type; }

    const std::wstring value;
    const DataType type = DataType::String;
    // The host's UTF-8 held a malformed sequence: `value` is what came
    // before it.
    const bool cut = false;
};

// Ordered by ascending signed number, so the internal negative numbers come
// first. At most one value per number; every entry holds a value.
using param_map = std::map<ParamType, std::unique_ptr<param_base>>;

// The kind prefix of a parameter description ("int param " ...) and the word
// of the wrong-kind line ("int" ...); both empty for a value outside 1..3.
const char* param_kind_prefix(DataType kind);
const char* param_kind_word(DataType kind);

// A value the driver refuses before anything is sent: logs one warning line
// that names the parameter (number and name), the value and what is allowed,
// and gives -104.
int refused_parameter(ParamType p, DataType kind, const std::string& value, const std::string& allowed);

// An int value checked against lo..hi: 0, or the refusal line and -104.
int check_int_range(ParamType p, long long value, long long lo, long long hi);

// A text or byte array longer than `most` bytes: the refusal line and -104.
int refused_size(ParamType p, DataType kind, std::size_t size, std::size_t most);

// A refused text as its refusal line shows it: quoted, control characters
// escaped.
std::string quoted_value(const std::string& text);

// "<what> U+XXXX at position N" for the value at `at` of `text` (of a
// secret, "<what> at position N": the value never reaches the log).
std::string value_at(const char* what, const std::wstring& text, std::size_t at, bool secret = false);

// A text whose first `width` characters the Windows-1251 table cannot all
// encode: one warning line naming the parameter and the first such
// character (of a password, its position alone, and the scale it is for
// when `scale_ip` is given), written before the encoder throws and the
// command answers -1000. Nothing for a text it can encode.
void warn_unencodable(ParamType p, const std::wstring& text, std::size_t width = std::wstring::npos,
                      bool secret = false, const std::string& scale_ip = std::string());

// Marks the string stored under `p` as cut at malformed UTF-8 (a new value
// in its place); any other entry, or none, stays as it is.
void mark_cut_text(param_map& map, ParamType p);

// True when the string stored under `p` was cut at malformed UTF-8.
bool is_cut_text(const param_map& map, ParamType p);

// The position of the first value of `text` that is no Unicode character (a
// lone surrogate, or one above U+10FFFF), or std::wstring::npos.
std::size_t find_no_code_point(const std::wstring& text);

// A wide text (set_wstring_param) holding a value that is no Unicode
// character: a lone surrogate, or one above U+10FFFF. UTF-8 would cut the
// text there, so it is refused: the warning names the first such value (of
// a password, its position alone) and the result is -1000; 0 otherwise.
int refuse_no_code_point(ParamType p, const std::wstring& text, bool secret = false);

class device;

// Reads an int input and checks it against lo..hi: 0 with `out` set, the
// read's own code (-7, -8, -1000, which the read logs), or -104 with the
// refusal line; `out` is left unchanged on every failure.
int read_int_in(device& d, ParamType p, int& out, long long lo, long long hi);

// Writes the error "get " + description + ": wrong type! As " + the word of
// the stored kind + " in driver".
void logging_wrong_type(const std::string& description, DataType stored);

// An input that must be given and is absent, where that is refused rather
// than reported missing: the refusal line ("absent") and -104.
int refused_absent(ParamType p, DataType kind);
