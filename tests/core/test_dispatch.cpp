// The dispatcher (refusals, keep-list, results kept for 81 and 82, catch-all,
// stop command) and the driver's own settings and information commands.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <filesystem>
#include <locale>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/device.h"
#include "core/vocab/errors_text.h"
#include "device_test_util.h"
#include "send_test_util.h"
#include "sim_scale.h"
#include "test_deadline.h"

using device_test::bytes_of;
using device_test::log_capture;
using send_test::add_scale;

namespace {

const std::string separator(107, '-');

int run(device& d, CommandType c)
{
    return d.execute_command(static_cast<int>(c));
}

// Runs `c` and reads its output as a byte array, which proves its kind too.
std::string output_bytes(device& d, CommandType c, ParamType p)
{
    EXPECT_EQ(run(d, c), 0);
    std::vector<std::byte> out;
    EXPECT_EQ(d.get_bytes_array_param(p, d.output_params, out, false), 0);
    return device_test::text_of(out);
}

std::string result_list(device& d)
{
    return output_bytes(d, CommandType::get_result_list, ParamType::CommandResults);
}

std::string description(device& d, int code)
{
    d.set_int_param(ParamType::ErrorCode, d.input_params, code, false);
    return output_bytes(d, CommandType::get_error_description, ParamType::ErrorDescription);
}

int set_language(device& d, const std::wstring& code)
{
    d.set_string_param(ParamType::Localization, d.input_params, code, false);
    return run(d, CommandType::change_driver_lang);
}

bool has_line_starting(const std::vector<std::string>& lines, const std::string& head)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(head, 0) == 0; });
}

}  // namespace

TEST(Dispatch, NumbersWithoutMethodAnswer120)
{
    // Outside the table: no result line, `results` kept. In the table without a method: a result line.
    const std::string not_found = "command not found in broadcast_validation_";
    const std::pair<int, std::string> cases[] = {{146, not_found},
                                                 {-1, not_found},
                                                 {-37, not_found},
                                                 {-21, "Result code for command -21 : 120. Unknown command."}};
    for (const auto& [command, line] : cases) {
        device d;
        d.results = {{"127.0.0.2", 0}};
        d.set_int_param(ParamType::PLUNumber, d.input_params, 5, false);
        log_capture log;
        EXPECT_EQ(d.execute_command(command), 120);
        EXPECT_EQ(log.lines(),
                  (std::vector<std::string>{separator, "do_command " + std::to_string(command), line, separator}));
        EXPECT_TRUE(d.input_params.empty());
        EXPECT_EQ(d.results.size(), command == -21 ? 0u : 1u) << command;
    }
}

TEST(Dispatch, KeepListHonoured)
{
    // After 25, 30 and 100 everything the host set stays for the block send.
    const std::pair<int, bool> cases[] = {{25, true},  {30, true},  {82, true},  {89, true}, {100, true},
                                          {120, true}, {29, false}, {81, false}, {90, false}};
    device d;
    for (const auto& [command, keeps] : cases) {
        d.set_bytes_array_param(ParamType::PluBlock, d.input_params, bytes_of("block"), false);
        d.set_int_param(ParamType::PLUNumber, d.input_params, 7, false);
        d.execute_command(command);
        EXPECT_EQ(d.input_params.size(), keeps ? 2u : 0u) << command;
    }
}

TEST(Dispatch, ThreeScalesGroupRefusalAndResultList)
{
    qv_sim::sim_scale a("127.0.0.2"), silent("127.0.0.3"), c("127.0.0.10");
    qv_sim::add_standard_replies(a);
    qv_sim::add_standard_replies(c);
    qv_sim::fault never;
    never.silence = true;
    silent.set_fault(never);
    device d;
    d.timeout_seconds = 1;
    for (auto* s : {&a, &silent, &c}) add_scale(d, *s, 1);
    d.results = {{"127.0.0.9", -1}};
    log_capture log;
    EXPECT_EQ(run(d, CommandType::get_plu_count), -110);  // not for group mode: nothing is sent
    EXPECT_TRUE(log.contains("Result code for command 29 : -110. Functionality not for group mode."));
    EXPECT_TRUE(d.results.empty());  // emptied before the refusal
    EXPECT_EQ(run(d, CommandType::get_driver_version), 0);  // allowed in group mode
    EXPECT_FALSE(a.wait_for_requests(1, std::chrono::milliseconds(300)));
    EXPECT_EQ(silent.request_count() + c.request_count(), 0u);

    EXPECT_EQ(run(d, CommandType::connect), -111);  // asks every scale for its protocol version
    // Byte-wise order of the IP texts; negative codes with their sign.
    const std::string list = result_list(d);
    EXPECT_EQ(list,
              "127.0.0.10:0:Command completed successful.;127.0.0.2:0:Command completed successful.;"
              "127.0.0.3:-1:No connection.;");
    // 81 and 82 keep the previous command's results; any other command empties them.
    EXPECT_EQ(result_list(d), list);
    EXPECT_EQ(description(d, 0), "Command completed successful.");
    EXPECT_EQ(result_list(d), list);
    EXPECT_EQ(run(d, CommandType::get_driver_version), 0);
    EXPECT_EQ(result_list(d), "");
    add_scale(d, a, 1);  // for one scale no command is refused (the failed connect emptied the list)
    EXPECT_EQ(run(d, CommandType::get_plu_count), 0);
}

TEST(Dispatch, ExceptionInsideMethodGivesMinus1000AndDeviceStaysUsable)
{
    const auto home = std::filesystem::current_path();
    device d;
    log_capture log;  // set logging up while the working directory still exists
    // With the working directory gone, the root-folder command's fallback to it throws.
    char tmpl[] = "/tmp/qv_dispatch_cwd_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    std::filesystem::current_path(tmpl);
    std::filesystem::remove(tmpl);
    d.set_int_param(ParamType::PLUNumber, d.input_params, 1, false);
    const int result = run(d, CommandType::change_driver_root_folder);
    std::filesystem::current_path(home);
    EXPECT_EQ(result, -1000);
    const auto lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "'do_command' error");
    EXPECT_EQ(lines.back(), separator);
    EXPECT_FALSE(has_line_starting(lines, "Result code for command"));
    EXPECT_EQ(d.input_params.size(), 1u);  // 120 is on the keep-list
    EXPECT_FALSE(d.busy.load());
    EXPECT_EQ(run(d, CommandType::get_driver_version), 0);
}

TEST(Dispatch, IdleStopWritesItsLinesAndTouchesNothing)
{
    const std::vector<std::string> stop_lines{separator, "do_command 127", "'stop_command' start",
                                              "Result code for command 127 : 0. Command completed successful.",
                                              separator};
    qv_sim::sim_scale scale("127.0.0.2");
    qv_sim::add_connect_replies(scale)->set_plu_count(77);
    device d;
    d.timeout_seconds = 1;
    add_scale(d, scale, 1);
    d.set_int_param(ParamType::PLUNumber, d.input_params, 1, false);
    d.set_int_param(ParamType::PLUCount, d.output_params, 2, false);
    d.results = {{"127.0.0.2", 0}};
    log_capture log;
    EXPECT_EQ(run(d, CommandType::stop_command), 0);
    EXPECT_EQ(log.lines(), stop_lines);
    EXPECT_EQ(d.input_params.size() + d.output_params.size() + d.results.size(), 3u);
    // Nothing is left behind for the next command: it runs whole.
    EXPECT_EQ(run(d, CommandType::get_plu_count), 0);
    int count = 0;
    EXPECT_EQ(d.get_int_param(ParamType::PLUCount, d.output_params, count, false), 0);
    EXPECT_EQ(count, 77);
}

// The internal frames -32 and -36 are in the group table with the flag 0:
// refused for a list of two before anything is sent; for one scale they pass
// the check and find no method.
TEST(Dispatch, InternalFramesRefusedForAGroup)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3");
    for (const int command : {-32, -36}) {
        SCOPED_TRACE(command);
        device d;
        add_scale(d, a, 1);
        add_scale(d, b, 1);
        log_capture log;
        EXPECT_EQ(d.execute_command(command), -110);
        EXPECT_TRUE(log.contains("Result code for command " + std::to_string(command) +
                                 " : -110. Functionality not for group mode."));
        d.ip_address_list.pop_back();
        EXPECT_EQ(d.execute_command(command), 120);
    }
    EXPECT_EQ(a.request_count() + b.request_count(), 0u);
}

// A host thread runs commands and reads their outputs while a second thread
// sends stops as fast as it can: a stop landing between two commands must
// neither empty the first one's outputs nor stop the next one.
TEST(Dispatch, StopsFromASecondThreadNeverTakeAnotherCommandsOutputs)
{
    qv_sim::sim_scale scale("127.0.0.2");
    qv_sim::add_connect_replies(scale)->set_plu_count(77);
    device d;
    d.timeout_seconds = 2;
    add_scale(d, scale, 1);
    std::atomic<bool> done{false};
    const test_deadline deadline{std::chrono::seconds(60)};
    std::thread stopper([&] {
        while (!done) d.execute_command(static_cast<int>(CommandType::stop_command));
    });
    int completed = 0, stopped = 0, lost = 0, failed = 0;
    for (int round = 0; round < 300; ++round) {
        const int r = run(d, CommandType::get_plu_count);
        if (r == -9) {
            ++stopped;
            continue;
        }
        if (r != 0) {
            ++failed;
            continue;
        }
        ++completed;
        int count = 0;
        if (d.get_int_param(ParamType::PLUCount, d.output_params, count, false) != 0 || count != 77) ++lost;
    }
    done = true;
    stopper.join();
    EXPECT_EQ(lost, 0) << completed << " completed, " << stopped << " stopped";
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(completed + stopped, 300);
}

// A long command to two scales (TCP and UDP) on thread A; thread B's
// command is refused at once and its stop accepted: every result -9, and the
// next command runs whole.
TEST(Dispatch, StopFromSecondThreadEndsTheLongCommandWithMinus9)
{
    using namespace std::chrono;
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale slow("127.0.0.2"), udp("127.0.0.3");
    qv_sim::add_connect_replies(slow);
    qv_sim::add_connect_replies(udp);
    qv_sim::fault late;
    late.delay = milliseconds(1500);
    slow.set_fault(late);
    device d;
    add_scale(d, slow, 1);
    add_scale(d, udp, 0);
    log_capture log;

    std::atomic<int> long_result{1};
    std::thread a([&] { long_result = run(d, CommandType::get_serial_number); });
    EXPECT_TRUE(slow.wait_for_requests(1, seconds(2)));
    const auto start = steady_clock::now();
    EXPECT_EQ(run(d, CommandType::get_serial_number), -2);
    EXPECT_LT(steady_clock::now() - start, milliseconds(500));
    EXPECT_EQ(run(d, CommandType::stop_command), 0);
    EXPECT_EQ(run(d, CommandType::get_driver_version), -2);  // the stopped command still owns the device
    a.join();

    EXPECT_EQ(long_result.load(), -9);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.2", -9}, {"127.0.0.3", -9}}));
    EXPECT_EQ(slow.request_count() + udp.request_count(), 2u);
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "do_command 47"), 1);  // the refused one left no trace
    EXPECT_TRUE(log.contains("TOTAL RESULT: -9"));
    EXPECT_TRUE(log.contains("Result code for command 47 : -9. " +
                             d.current_error_texts()->get_text(ErrorType::CommandStopped)));
    slow.clear_faults();
    EXPECT_EQ(run(d, CommandType::get_serial_number), 0);
}

TEST(Settings, LanguageSelectsTextsForResultLinesAnd81)
{
    const std::pair<const wchar_t*, std::shared_ptr<errors_text>> languages[] = {
        {L"zho", std::make_shared<errors_text_zho>()},
        {L"eng", std::make_shared<errors_text_eng>()},
        {L"rus", std::make_shared<errors_text_rus>()}};
    device d;
    EXPECT_EQ(description(d, -110), "Functionality not for group mode.");
    for (const auto& [code, texts] : languages) {
        log_capture log;
        EXPECT_EQ(set_language(d, code), 0);
        // The command's own result line is already in the new language.
        EXPECT_TRUE(log.contains("Result code for command 90 : 0. " + texts->get_text(ErrorType::Success)));
        EXPECT_EQ(description(d, -110), texts->get_text(ErrorType::NotForGroupMode));
        // A code without a text gets the language's fallback with the number.
        EXPECT_EQ(description(d, 12345), texts->get_text(static_cast<ErrorType>(12345)));
    }
    // Codes compare exactly; a bad one leaves the language (now Russian).
    const std::string russian = description(d, -104);
    for (const wchar_t* code : {L"RUS", L"ru", L"rus ", L""}) EXPECT_EQ(set_language(d, code), -104);
    EXPECT_EQ(description(d, -104), russian);
}

TEST(Settings, VersionTextsAreStrings)
{
    device d;
    std::wstring version, schema;
    ASSERT_EQ(run(d, CommandType::get_driver_version), 0);
    EXPECT_EQ(d.get_string_param(ParamType::DriverVersion, d.output_params, version, false), 0);
    ASSERT_EQ(run(d, CommandType::get_db_schema_version), 0);
    EXPECT_EQ(d.get_string_param(ParamType::ScaleDBSchemaVersion, d.output_params, schema, false), 0);
    EXPECT_EQ(version + L" " + schema, L"1.3.7152 28.04.26 0.10");
}

TEST(Settings, ConnectionType)
{
    device d;
    // {value set, -1 for none; permanent}: without the parameter, one-shot and still 0.
    for (const auto& [value, permanent] : {std::pair{1, true}, {0, false}, {7, true}, {-1, false}}) {
        if (value >= 0) d.set_int_param(ParamType::DriverConnectionType, d.input_params, value, false);
        EXPECT_EQ(run(d, CommandType::change_driver_connection_type), 0);
        EXPECT_EQ(d.permanent_connection, permanent) << value;
    }
}

TEST(Settings, RootFolder)
{
    device d;
    const auto cwd = bytes_of(std::filesystem::current_path().string());
    auto with_zero = bytes_of("/var/data");
    with_zero.insert(with_zero.begin() + 4, std::byte{0});  // stored as given, zero byte included
    d.set_int_param(ParamType::PLUNumber, d.input_params, 3, false);
    // Absolute, then relative and empty (-104, root unchanged); each consumes the parameter.
    for (const auto& [path, expected] : {std::pair{with_zero, 0}, {bytes_of("data/in"), -104}, {bytes_of(""), -104}}) {
        d.set_bytes_array_param(ParamType::DriverRootFolder, d.input_params, path, false);
        EXPECT_EQ(run(d, CommandType::change_driver_root_folder), expected);
        EXPECT_EQ(d.driver_root_folder, with_zero);
        EXPECT_EQ(d.input_params.count(ParamType::DriverRootFolder), 0u);
    }
    EXPECT_EQ(d.input_params.count(ParamType::PLUNumber), 1u);  // other pending parameters stay
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
    EXPECT_TRUE(has_line_starting(log.lines(), "change_locale err: "));
    ASSERT_EQ(d.change_locale(L"C.UTF-8"), 0);
    EXPECT_EQ(std::locale().name(), "C.UTF-8");
    EXPECT_TRUE(log.contains("change_locale: C.UTF-8"));
    // Restore the process's locales for the other tests of this binary.
    EXPECT_EQ(d.change_locale(L"C"), 0);
    EXPECT_EQ(std::locale().name(), "C");
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}
