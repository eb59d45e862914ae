// The dispatcher: refusal paths, the keep-list, the per-scale results kept for
// 81 and 82, the catch-all, and the stop command on a busy and an idle device.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/device.h"
#include "core/errors_text.h"
#include "device_test_util.h"
#include "sim_scale.h"

using device_test::bytes_of;
using device_test::log_capture;
using device_test::text_of;

namespace {

const std::string separator(107, '-');

int run(device& d, CommandType c)
{
    return d.execute_command(static_cast<int>(c));
}

std::string result_list(device& d)
{
    EXPECT_EQ(run(d, CommandType::get_result_list), 0);
    std::vector<std::byte> list;
    EXPECT_EQ(d.get_bytes_array_param(ParamType::CommandResults, d.output_params, list, false), 0);
    return text_of(list);
}

bool has_line_starting(const std::vector<std::string>& lines, const std::string& head)
{
    for (const auto& l : lines)
        if (l.rfind(head, 0) == 0)
            return true;
    return false;
}

}  // namespace

TEST(Dispatch, NumbersOutsideTheTableAnswer120WithoutResultLine)
{
    for (const int command : {146, -1, -37}) {
        SCOPED_TRACE(command);
        device d;
        d.results = {{"127.0.0.2", 0}};
        d.set_int_param(ParamType::PLUNumber, d.input_params, 5, false);
        log_capture log;
        EXPECT_EQ(d.execute_command(command), 120);
        EXPECT_EQ(log.lines(), (std::vector<std::string>{separator, "do_command " + std::to_string(command),
                                                         "command not found in broadcast_validation_", separator}));
        EXPECT_TRUE(d.input_params.empty());
        EXPECT_EQ(result_list(d), "127.0.0.2:0:Command completed successful.;");
    }
}

TEST(Dispatch, NumberInTableWithoutMethodAnswers120WithResultLine)
{
    device d;
    d.results = {{"127.0.0.2", 0}};
    d.set_int_param(ParamType::PLUNumber, d.input_params, 5, false);
    d.set_int_param(ParamType::PLUCount, d.output_params, 5, false);
    log_capture log;
    EXPECT_EQ(run(d, CommandType::clear_db_messages), 120);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{separator, "do_command -21",
                                                     "Result code for command -21 : 120. Unknown command.", separator}));
    EXPECT_TRUE(d.input_params.empty());
    EXPECT_TRUE(d.output_params.empty());
    EXPECT_TRUE(d.results.empty());
    EXPECT_FALSE(d.busy.load());
}

TEST(Dispatch, GroupRefusalWithTwoScalesSendsNothing)
{
    qv_sim::sim_scale a("127.0.0.2"), b("127.0.0.3");
    device d;
    for (auto* s : {&a, &b})
        d.ip_address_list.push_back({s->ip(), s->port_text(), "", 1, ""});
    d.results = {{"127.0.0.9", -1}};
    log_capture log;
    // Both protocols would be tried on a send; nothing may go out.
    for (const int protocol : {1, 0}) {
        for (auto& s : d.ip_address_list)
            s.protocol = protocol;
        EXPECT_EQ(run(d, CommandType::get_plu_count), -110);
    }
    EXPECT_TRUE(log.contains("Result code for command 29 : -110. Functionality not for group mode."));
    EXPECT_TRUE(d.results.empty());  // emptied before the refusal
    EXPECT_FALSE(a.wait_for_requests(1, std::chrono::milliseconds(300)));
    EXPECT_EQ(b.request_count(), 0u);

    // A command allowed in group mode, and any command for one scale, is not refused.
    EXPECT_NE(run(d, CommandType::get_driver_version), -110);
    d.ip_address_list.pop_back();
    EXPECT_NE(run(d, CommandType::get_params_label), -110);
}

TEST(Dispatch, KeepListHonoured)
{
    device d;
    // 25 keeps the whole input map for the block send that follows.
    d.set_bytes_array_param(ParamType::PluBlock, d.input_params, bytes_of("block"), false);
    d.set_int_param(ParamType::PLUNumber, d.input_params, 7, false);
    run(d, CommandType::add_plu_to_block);
    EXPECT_EQ(d.input_params.size(), 2u);
    for (const CommandType kept : {CommandType::get_result_list, CommandType::get_db_schema_version}) {
        run(d, kept);
        EXPECT_EQ(d.input_params.size(), 2u);
    }
    // 29 is not on the list.
    run(d, CommandType::get_plu_count);
    EXPECT_TRUE(d.input_params.empty());
    for (const int c : {25, 30, 82, 89, 100, 120})
        EXPECT_TRUE(device::keeps_input_params(c)) << c;
    for (const int c : {0, 26, 29, 31, 81, 90, 127})
        EXPECT_FALSE(device::keeps_input_params(c)) << c;
}

TEST(Dispatch, ResultsOfThePreviousCommandSurvive81And82)
{
    device d;
    d.results = {{"127.0.0.2", 0}, {"127.0.0.10", -1}, {"127.0.0.3", 122}};
    const std::string expected =
        "127.0.0.10:-1:No connection.;127.0.0.2:0:Command completed successful.;127.0.0.3:122:Invalid password.;";
    EXPECT_EQ(result_list(d), expected);
    EXPECT_EQ(result_list(d), expected);
    d.set_int_param(ParamType::ErrorCode, d.input_params, 0, false);
    EXPECT_EQ(run(d, CommandType::get_error_description), 0);
    EXPECT_EQ(result_list(d), expected);
    // Any other command starts with empty results.
    EXPECT_EQ(run(d, CommandType::get_driver_version), 0);
    EXPECT_EQ(result_list(d), "");
}

TEST(Dispatch, ExceptionInsideMethodGivesMinus1000AndDeviceStaysUsable)
{
    const auto home = std::filesystem::current_path();
    device d;
    log_capture log;  // set logging up while the working directory still exists
    // With the working directory gone, the root-folder command's fallback to
    // it throws from inside the method.
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

TEST(Dispatch, StopOnIdleDeviceTakesTheOrdinaryPath)
{
    device d;
    d.set_int_param(ParamType::PLUNumber, d.input_params, 1, false);
    log_capture log;
    EXPECT_EQ(run(d, CommandType::stop_command), 0);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{separator, "do_command 127", "'stop_command' start",
                                                     "Result code for command 127 : 0. Command completed successful.",
                                                     separator}));
    EXPECT_TRUE(d.input_params.empty());
    EXPECT_FALSE(d.busy.load());
}

TEST(Dispatch, WhileBusyOnlyTheStopRequestGetsInAndTouchesNothing)
{
    device d;
    d.busy.store(true);  // as if another thread's command owned the device
    d.set_int_param(ParamType::PLUNumber, d.input_params, 1, false);
    d.set_int_param(ParamType::PLUCount, d.output_params, 2, false);
    d.results = {{"127.0.0.2", 0}};
    log_capture log;
    EXPECT_EQ(run(d, CommandType::get_driver_version), -2);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_FALSE(d.stop_requested.load());

    EXPECT_EQ(run(d, CommandType::stop_command), 0);
    EXPECT_TRUE(d.stop_requested.load());
    EXPECT_TRUE(d.busy.load());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{separator, "do_command 127", "'stop_command' start",
                                                     "Result code for command 127 : 0. Command completed successful.",
                                                     separator}));
    EXPECT_EQ(d.input_params.size(), 1u);
    EXPECT_EQ(d.output_params.size(), 1u);
    EXPECT_EQ(d.results.size(), 1u);
    EXPECT_EQ(run(d, CommandType::get_plu_count), -2);

    // The next command that gets in starts without the old request.
    d.busy.store(false);
    EXPECT_EQ(run(d, CommandType::get_driver_version), 0);
    EXPECT_FALSE(d.stop_requested.load());
}

TEST(Dispatch, StopFromSecondThreadEndsTheLongCommandWithMinus9)
{
    using namespace std::chrono;
    qv_sim::sim_scale scale("127.0.0.2");
    qv_sim::fault late;
    late.delay = milliseconds(1500);
    scale.set_fault(late);
    device d;
    d.ip_address_list.push_back({scale.ip(), scale.port_text(), "", 1, ""});
    log_capture log;

    std::atomic<int> long_result{1};
    std::thread a([&] { long_result = run(d, CommandType::get_plu_count); });
    ASSERT_TRUE(scale.wait_for_requests(1, seconds(2)));

    const auto start = steady_clock::now();
    EXPECT_EQ(run(d, CommandType::get_plu_count), -2);
    EXPECT_LT(steady_clock::now() - start, milliseconds(500));
    EXPECT_EQ(run(d, CommandType::stop_command), 0);
    // The stopped command still owns the device until it really ends.
    EXPECT_EQ(run(d, CommandType::get_driver_version), -2);
    a.join();

    EXPECT_EQ(long_result.load(), -9);
    EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.2", -9}}));
    EXPECT_EQ(scale.request_count(), 1u);
    int runs = 0;
    for (const auto& l : log.lines())
        runs += l == "do_command 29";
    EXPECT_EQ(runs, 1);  // the refused command left no trace
    EXPECT_TRUE(log.contains("Result code for command 29 : -9. " +
                             d.current_error_texts()->get_text(ErrorType::CommandStopped)));
    EXPECT_FALSE(d.busy.load());
    EXPECT_EQ(run(d, CommandType::get_driver_version), 0);
}

TEST(Dispatch, ResultListAfterACommandToThreeScales)
{
    qv_sim::sim_scale a("127.0.0.2"), silent("127.0.0.3"), c("127.0.0.10");
    qv_sim::add_standard_replies(a);
    qv_sim::add_standard_replies(c);
    qv_sim::fault never;
    never.silence = true;
    silent.set_fault(never);
    device d;
    d.timeout_seconds = 1;
    for (auto* s : {&a, &silent, &c})
        d.ip_address_list.push_back({s->ip(), s->port_text(), "", 1, ""});
    // Connect asks every scale of the list for its protocol version.
    EXPECT_EQ(run(d, CommandType::connect), -111);
    ASSERT_EQ(d.results.size(), 3u);
    const std::string list = result_list(d);
    EXPECT_EQ(list.rfind("127.0.0.10:", 0), 0u) << list;
    EXPECT_NE(list.find(";127.0.0.2:"), std::string::npos) << list;
    EXPECT_NE(list.find(";127.0.0.3:-1:No connection.;"), std::string::npos) << list;
    EXPECT_EQ(result_list(d), list);
}
