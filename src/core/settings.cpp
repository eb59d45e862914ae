// The driver's own settings and information commands: they never talk to a
// scale. Language of the result texts, connection type, root folder for
// relative local paths, result texts, per-scale results of the previous
// command, version texts, and the process-wide locale.

#include <clocale>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <functional>
#include <locale>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "codecs/device_utils.h"
#include "core/device.h"
#include "core/vocab/errors_text.h"
#include "logging/logger.h"

namespace {

// The text object of a language code, compared exactly (case and length);
// empty for any other code.
std::shared_ptr<errors_text> make_error_texts(const std::wstring& code)
{
    static const std::pair<const wchar_t*, std::function<std::shared_ptr<errors_text>()>> languages[] = {
        {L"rus", [] { return std::make_shared<errors_text_rus>(); }},
        {L"eng", [] { return std::make_shared<errors_text_eng>(); }},
        {L"zho", [] { return std::make_shared<errors_text_zho>(); }},
        {L"kaz", [] { return std::make_shared<errors_text_kaz>(); }},
        {L"kir", [] { return std::make_shared<errors_text_kir>(); }},
        {L"arm", [] { return std::make_shared<errors_text_arm>(); }},
        {L"uzb", [] { return std::make_shared<errors_text_uzb>(); }},
        {L"aze", [] { return std::make_shared<errors_text_aze>(); }},
        {L"geo", [] { return std::make_shared<errors_text_geo>(); }},
    };
    for (const auto& language : languages)
        if (code == language.first) return language.second();
    return nullptr;
}

std::vector<std::byte> working_directory_bytes()
{
    return device_utils::parse_byte_array_from_string(std::filesystem::current_path().string());
}

}  // namespace

// Command 90.
int device::change_driver_lang()
{
    const command_log log("change_driver_lang");
    std::wstring code;
    const int read = get_string_param(ParamType::Localization, input_params, code);
    if (read != rc(ErrorType::Success)) return read;
    std::shared_ptr<errors_text> texts = make_error_texts(code);
    if (!texts)
        return refused_parameter(ParamType::Localization, DataType::String, quoted_value(device_utils::str(code)),
                                 "rus, eng, zho, kaz, kir, arm, uzb, aze or geo");
    replace_error_texts(std::move(texts));
    return rc(ErrorType::Success);
}

// Command 143. An absent or non-integer parameter selects one-shot exchanges;
// the command answers 0 in every case. Nothing is opened or closed here.
int device::change_driver_connection_type()
{
    const command_log log("change_driver_connection_type");
    int value = 0;
    get_int_param(ParamType::DriverConnectionType, input_params, value);
    const auto lock = lock_state();
    permanent_connection = value != 0;
    return rc(ErrorType::Success);
}

// Command 120.
int device::change_driver_root_folder()
{
    const command_log log("change_driver_root_folder");
    std::vector<std::byte> value;
    const int read = get_bytes_array_param(ParamType::DriverRootFolder, input_params, value);
    if (read != rc(ErrorType::Success)) {
        driver_root_folder = working_directory_bytes();
        return read;
    }
    input_params.erase(ParamType::DriverRootFolder);

    // A zero byte inside is refused with the root unchanged; trailing ones
    // are padding, which the stored value keeps (the path rule drops them
    // wherever the root is used).
    std::string text;
    const int checked = local_path(ParamType::DriverRootFolder, value, text);
    if (checked != rc(ErrorType::Success)) return checked;
    const std::filesystem::path path(text);
    if (!path.has_root_directory())
        return refused_parameter(ParamType::DriverRootFolder, DataType::ByteArray, quoted_value(path.string()),
                                 "an absolute folder");
    driver_root_folder = std::move(value);
    return rc(ErrorType::Success);
}

// Command 81. No start line.
int device::get_error_description()
{
    int code = 0;
    const int read = get_int_param(ParamType::ErrorCode, input_params, code);
    if (read != rc(ErrorType::Success)) return read;
    const std::string text = current_error_texts()->get_text(static_cast<ErrorType>(code));
    return set_bytes_array_param(ParamType::ErrorDescription, output_params,
                                 device_utils::parse_byte_array_from_string(text));
}

// Command 82. No start line. `results` is ordered by the IP text byte by
// byte, which is the order of the list.
int device::get_result_list()
{
    const std::shared_ptr<errors_text> texts = current_error_texts();
    std::string list;
    for (const auto& [ip, result] : results)
        list += ip + ":" + std::to_string(result) + ":" + texts->get_text(static_cast<ErrorType>(result)) + ";";
    return set_bytes_array_param(ParamType::CommandResults, output_params,
                                 device_utils::parse_byte_array_from_string(list));
}

// Command 51.
int device::get_driver_version()
{
    const command_log log("get_driver_version");
    return set_string_param(ParamType::DriverVersion, output_params, driver_version);
}

// Command 89.
int device::get_db_schema_version()
{
    const command_log log("get_db_schema_version");
    return set_string_param(ParamType::ScaleDBSchemaVersion, output_params, db_schema_version);
}

// Behind nativedriver::change_locale. Process-wide: every device and thread
// of the host sees the change.
int device::change_locale(const std::wstring& name)
{
    try {
        // UTF-8 stops at a value that is no character: L"ru_RU.utf8" U+D800
        // would set ru_RU.utf8, and a name that begins with one the
        // environment's locale, each answering 0.
        const std::size_t bad = find_no_code_point(name);
        if (bad != std::wstring::npos)
            throw std::runtime_error("locale name holds " + value_at("code", name, bad) + ", no Unicode character");
        const std::string utf8_name = device_utils::str(name);
        // The C library reads the name up to a zero byte: "C\0x" would set
        // "C" and answer 0 for a locale that does not exist.
        if (utf8_name.find('\0') != std::string::npos)
            throw std::runtime_error("locale name holds a zero byte: " +
                                     device_utils::escape_control_characters(utf8_name));
        std::setlocale(LC_ALL, utf8_name.c_str());
        const std::locale locale(utf8_name);  // throws when the system lacks it
        std::locale::global(locale);
        Logger::i("change_locale: " + utf8_name);
        return rc(ErrorType::Success);
    } catch (const std::exception& e) {
        Logger::e(std::string("change_locale err: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
}

namespace {

const command_registration driver_settings{
    {CommandType::get_driver_version, &device::get_driver_version},
    {CommandType::get_error_description, &device::get_error_description},
    {CommandType::get_result_list, &device::get_result_list},
    {CommandType::get_db_schema_version, &device::get_db_schema_version},
    {CommandType::change_driver_lang, &device::change_driver_lang},
    {CommandType::change_driver_root_folder, &device::change_driver_root_folder},
    {CommandType::change_driver_connection_type, &device::change_driver_connection_type},
};

}  // namespace
