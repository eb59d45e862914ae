// Scale settings and information: beep, zero and tare, the date format,
// password, logging, language and data-processing settings, the versions
// and information document, and messages on the scale's display.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codecs/byte_writer.h"
#include "codecs/device_utils.h"
#include "core/device.h"
#include "core/fields.h"

namespace {

// An optional input: absence is no error, any other failure is.
int optional_input(int read)
{
    return read == rc(ErrorType::RequiredParameterMissing) ? rc(ErrorType::Success) : read;
}

// One byte at the reply's data offset into an int output.
int byte_getter(device& d, const command_log& log, CommandType type, ParamType out)
{
    return log.result(d.query(type, with_password, [out](scale_reply& r) { r.out.put_int(out, r.data.byte()); }));
}

// One byte from an int input; a value outside 0..255 is refused (-104)
// rather than cut, so the scale never keeps another value than the host set.
int byte_setter(device& d, const command_log& log, CommandType type, ParamType in)
{
    device_utils::byte_writer payload;
    const int r = encode_fields(d, {{in, field_kind::u8}}, payload);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.send_command(type, with_password, payload.data()));
}

// A command without inputs or outputs.
int action(device& d, const command_log& log, CommandType type, bool password)
{
    return log.result(d.send_command(type, password));
}

}  // namespace

int device::beep()  // 1
{
    const command_log log("beep", error_line::name_error);
    return action(*this, log, CommandType::beep, without_password);
}

int device::set_date_format()  // 4
{
    const command_log log("set_date_format", error_line::name_error);
    int format = 0;
    const int r = read_int_in(*this, ParamType::DateFormat, format, 0, 2);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(format));
    return log.result(send_command(CommandType::set_date_format, with_password, payload.data()));
}

int device::edit_password()  // 5
{
    const command_log log("edit_password");
    std::wstring password;
    const int r = get_string_param(ParamType::NewPassword, input_params, password);
    if (r != rc(ErrorType::Success)) return r;
    // The line gives the length only: a password never reaches the log.
    if (password.size() != 4)
        return refused_parameter(ParamType::NewPassword, DataType::String,
                                 std::to_string(password.size()) + " characters", "exactly 4 characters");
    // A character outside the Windows-1251 table throws: -1000 from the
    // dispatcher, after a line that names its position, never the character.
    warn_unencodable(ParamType::NewPassword, password, std::wstring::npos, true);
    const std::vector<std::byte> payload = device_utils::encode_win1251(password);
    return log.result(send_command(CommandType::edit_password, with_password, payload));
}

int device::get_front_app_version()  // 45
{
    const command_log log("get_front_app_version");
    return log.result(query(CommandType::get_front_app_version, with_password, [](scale_reply& r) {
        decode_fields({{ParamType::FrontAppVersion, field_kind::dotted, 3}}, r.data, r.out);
    }));
}

int device::get_model_scale_version()  // 46
{
    const command_log log("get_model_scale_version");
    return byte_getter(*this, log, CommandType::get_model_scale_version, ParamType::ModelScaleVersion);
}

int device::get_logging()  // 72
{
    const command_log log("get_logging");
    return byte_getter(*this, log, CommandType::get_logging, ParamType::LoggingType);
}

int device::set_logging()  // 73
{
    const command_log log("set_logging");
    return byte_setter(*this, log, CommandType::set_logging, ParamType::LoggingType);
}

int device::get_scale_information()  // 77
{
    const command_log log("get_scale_information", error_line::name_error);
    return log.result(query(CommandType::get_scale_information, without_password, [](scale_reply& r) {
        const int n = r.data.uint16_le();
        r.out.put_bytes(ParamType::JsonScaleInformation, r.data.byte_array(n));
    }));
}

int device::reload_front_application()  // 78
{
    const command_log log("reload_front_application");
    return action(*this, log, CommandType::reload_front_application, with_password);
}

int device::get_scale_language()  // 105
{
    const command_log log("get_scale_language");
    return byte_getter(*this, log, CommandType::get_scale_language, ParamType::LanguageCode);
}

int device::set_scale_language()  // 106
{
    const command_log log("set_scale_language");
    return byte_setter(*this, log, CommandType::set_scale_language, ParamType::LanguageCode);
}

int device::show_message_on_scale()  // 107
{
    const command_log log("show_message_on_scale");
    int duration = 0;
    std::vector<std::byte> title;
    std::vector<std::byte> text;
    int r = optional_input(get_int_param(ParamType::ScreenMessageDuration, input_params, duration));
    if (r == rc(ErrorType::Success))
        r = optional_input(get_bytes_array_param(ParamType::ScreenMessageTitle, input_params, title));
    if (r == rc(ErrorType::Success))
        r = optional_input(get_bytes_array_param(ParamType::ScreenMessageText, input_params, text));
    if (r != rc(ErrorType::Success)) return r;
    // The duration's documented clamp: above 255, or negative, shows for 255.
    const bool in_range = duration >= 0 && duration <= 0xFF;
    device_utils::byte_writer payload;
    payload.u8(in_range ? static_cast<std::uint8_t>(duration) : std::uint8_t{0xFF});
    if (!payload.counted(title))
        return refused_size(ParamType::ScreenMessageTitle, DataType::ByteArray, title.size(),
                            device_utils::byte_writer::max_counted);
    if (!payload.counted(text))
        return refused_size(ParamType::ScreenMessageText, DataType::ByteArray, text.size(),
                            device_utils::byte_writer::max_counted);
    return log.result(send_command(CommandType::show_message_on_scale, with_password, payload.data()));
}

int device::set_zero()  // 124
{
    const command_log log("set_zero", error_line::name_error);
    return action(*this, log, CommandType::set_zero, with_password);
}

int device::set_tare()  // 125
{
    const command_log log("set_tare", error_line::name_error);
    int tare = 0;
    const int r = get_int_param(ParamType::Tare, input_params, tare);
    if (optional_input(r) != rc(ErrorType::Success)) return r;
    device_utils::byte_writer payload;
    if (r == rc(ErrorType::Success)) payload.i32(tare);  // absent: the frame alone
    return log.result(send_command(CommandType::set_tare, with_password, payload.data()));
}

int device::get_data_processing_method()  // 140
{
    const command_log log("get_data_processing_method");
    return byte_getter(*this, log, CommandType::get_data_processing_method, ParamType::DataProcessingMethod);
}

int device::set_data_processing_method()  // 141
{
    const command_log log("set_data_processing_method");
    return byte_setter(*this, log, CommandType::set_data_processing_method, ParamType::DataProcessingMethod);
}

namespace {

const command_registration systems_settings{
    {CommandType::beep, &device::beep},
    {CommandType::set_date_format, &device::set_date_format},
    {CommandType::edit_password, &device::edit_password},
    {CommandType::get_front_app_version, &device::get_front_app_version},
    {CommandType::get_model_scale_version, &device::get_model_scale_version},
    {CommandType::get_logging, &device::get_logging},
    {CommandType::set_logging, &device::set_logging},
    {CommandType::get_scale_information, &device::get_scale_information},
    {CommandType::reload_front_application, &device::reload_front_application},
    {CommandType::get_scale_language, &device::get_scale_language},
    {CommandType::set_scale_language, &device::set_scale_language},
    {CommandType::show_message_on_scale, &device::show_message_on_scale},
    {CommandType::set_zero, &device::set_zero},
    {CommandType::set_tare, &device::set_tare},
    {CommandType::get_data_processing_method, &device::get_data_processing_method},
    {CommandType::set_data_processing_method, &device::set_data_processing_method},
};

}  // namespace
