// The driver's own commands: language, connection type, root folder, result
// texts and lists, version texts, and the process-wide locale.

#include <clocale>
#include <filesystem>
#include <locale>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/device.h"
#include "core/errors_text.h"
#include "device_test_util.h"

using device_test::bytes_of;
using device_test::log_capture;
using device_test::text_of;

namespace {

int run(device& d, CommandType c)
{
    return d.execute_command(static_cast<int>(c));
}

int set_language(device& d, const std::wstring& code)
{
    d.set_string_param(ParamType::Localization, d.input_params, code, false);
    return run(d, CommandType::change_driver_lang);
}

std::string description(device& d, int code)
{
    d.set_int_param(ParamType::ErrorCode, d.input_params, code, false);
    EXPECT_EQ(run(d, CommandType::get_error_description), 0);
    std::vector<std::byte> text;
    EXPECT_EQ(d.get_bytes_array_param(ParamType::ErrorDescription, d.output_params, text, false), 0);
    return text_of(text);
}

}  // namespace

TEST(Settings, LanguageSelectsTextsForResultLinesAnd81)
{
    struct language {
        const wchar_t* code;
        std::shared_ptr<errors_text> texts;
    };
    const language languages[] = {
        {L"rus", std::make_shared<errors_text_rus>()},
        {L"zho", std::make_shared<errors_text_zho>()},
        {L"geo", std::make_shared<errors_text_geo>()},
        {L"eng", std::make_shared<errors_text_eng>()},
    };
    device d;
    EXPECT_EQ(description(d, -110), "Functionality not for group mode.");
    for (const auto& l : languages) {
        SCOPED_TRACE(std::string(l.code, l.code + 3));
        log_capture log;
        EXPECT_EQ(set_language(d, l.code), 0);
        // The command's own result line is already in the new language.
        EXPECT_TRUE(log.contains("Result code for command 90 : 0. " +
                                 l.texts->get_text(ErrorType::Success)));
        EXPECT_EQ(description(d, -110), l.texts->get_text(ErrorType::NotForGroupMode));
        // A code without a text gets the language's fallback with the number.
        const std::string unknown = description(d, 12345);
        EXPECT_EQ(unknown, l.texts->get_text(static_cast<ErrorType>(12345)));
        EXPECT_NE(unknown.find("12345"), std::string::npos);
    }
}

TEST(Settings, BadLanguageCodesLeaveTheLanguage)
{
    device d;
    ASSERT_EQ(set_language(d, L"rus"), 0);
    const std::string russian = description(d, -104);
    for (const wchar_t* code : {L"RUS", L"ru", L"rus ", L""})
        EXPECT_EQ(set_language(d, code), -104);
    EXPECT_EQ(run(d, CommandType::change_driver_lang), -7);
    d.set_int_param(ParamType::Localization, d.input_params, 1, false);
    EXPECT_EQ(run(d, CommandType::change_driver_lang), -8);
    EXPECT_EQ(description(d, -104), russian);
    EXPECT_EQ(run(d, CommandType::get_error_description), -7);
    EXPECT_TRUE(d.output_params.empty());
}

TEST(Settings, ResultListFormat)
{
    device d;
    d.results = {{"192.0.2.2", -1}, {"192.0.2.1", 0}};
    ASSERT_EQ(run(d, CommandType::get_result_list), 0);
    std::vector<std::byte> list;
    ASSERT_EQ(d.get_bytes_array_param(ParamType::CommandResults, d.output_params, list, false), 0);
    EXPECT_EQ(text_of(list), "192.0.2.1:0:Command completed successful.;192.0.2.2:-1:No connection.;");
    // Byte arrays, not strings.
    std::wstring as_text;
    EXPECT_EQ(d.get_string_param(ParamType::CommandResults, d.output_params, as_text, false), -8);
    d.results.clear();
    ASSERT_EQ(run(d, CommandType::get_result_list), 0);
    ASSERT_EQ(d.get_bytes_array_param(ParamType::CommandResults, d.output_params, list, false), 0);
    EXPECT_TRUE(list.empty());
}

TEST(Settings, VersionTexts)
{
    device d;
    std::wstring text;
    ASSERT_EQ(run(d, CommandType::get_driver_version), 0);
    ASSERT_EQ(d.get_string_param(ParamType::DriverVersion, d.output_params, text, false), 0);
    EXPECT_EQ(text, L"1.3.7152 28.04.26");
    ASSERT_EQ(run(d, CommandType::get_db_schema_version), 0);
    ASSERT_EQ(d.get_string_param(ParamType::ScaleDBSchemaVersion, d.output_params, text, false), 0);
    EXPECT_EQ(text, L"0.10");
}

TEST(Settings, ConnectionType)
{
    device d;
    const struct {
        bool given;
        int value;
        bool permanent;
    } cases[] = {{true, 1, true}, {true, 0, false}, {true, 7, true}, {false, 0, false}};
    for (const auto& c : cases) {
        if (c.given)
            d.set_int_param(ParamType::DriverConnectionType, d.input_params, c.value, false);
        EXPECT_EQ(run(d, CommandType::change_driver_connection_type), 0);
        EXPECT_EQ(d.permanent_connection, c.permanent) << c.given << " " << c.value;
    }
}

TEST(Settings, RootFolder)
{
    device d;
    const auto cwd = bytes_of(std::filesystem::current_path().string());
    // Absolute: stored as given, zero bytes included; other pending parameters stay.
    std::vector<std::byte> with_zero = bytes_of("/var/data");
    with_zero.insert(with_zero.begin() + 4, std::byte{0});
    d.set_int_param(ParamType::PLUNumber, d.input_params, 3, false);
    d.set_bytes_array_param(ParamType::DriverRootFolder, d.input_params, with_zero, false);
    EXPECT_EQ(run(d, CommandType::change_driver_root_folder), 0);
    EXPECT_EQ(d.driver_root_folder, with_zero);
    EXPECT_EQ(d.input_params.count(ParamType::PLUNumber), 1u);
    EXPECT_EQ(d.input_params.count(ParamType::DriverRootFolder), 0u);
    // Relative or empty: -104, root unchanged, parameter consumed.
    for (const char* relative : {"data/in", ""}) {
        d.set_bytes_array_param(ParamType::DriverRootFolder, d.input_params, bytes_of(relative), false);
        EXPECT_EQ(run(d, CommandType::change_driver_root_folder), -104);
        EXPECT_EQ(d.driver_root_folder, with_zero);
        EXPECT_EQ(d.input_params.count(ParamType::DriverRootFolder), 0u);
    }
    // Absent or of another kind: the code, and the root is the working directory again.
    EXPECT_EQ(run(d, CommandType::change_driver_root_folder), -7);
    EXPECT_EQ(d.driver_root_folder, cwd);
    d.driver_root_folder = with_zero;
    d.set_string_param(ParamType::DriverRootFolder, d.input_params, L"/x", false);
    EXPECT_EQ(run(d, CommandType::change_driver_root_folder), -8);
    EXPECT_EQ(d.driver_root_folder, cwd);
}

TEST(Settings, LocaleChangeAndRestore)
{
    device d;
    const std::string before = std::locale().name();
    log_capture log;
    EXPECT_EQ(d.change_locale(L"xx_NOWHERE.none"), -1000);
    EXPECT_EQ(std::locale().name(), before);
    bool error_line = false;
    for (const auto& l : log.lines())
        error_line = error_line || l.rfind("change_locale err: ", 0) == 0;
    EXPECT_TRUE(error_line);

    ASSERT_EQ(d.change_locale(L"C.UTF-8"), 0);
    EXPECT_EQ(std::locale().name(), "C.UTF-8");
    EXPECT_TRUE(log.contains("change_locale: C.UTF-8"));

    // Restore the process's locales for the other tests of this binary.
    EXPECT_EQ(d.change_locale(L"C"), 0);
    EXPECT_EQ(std::locale().name(), "C");
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}
