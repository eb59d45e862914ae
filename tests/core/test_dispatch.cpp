// The dispatcher (refusals, keep-list, kept results, catch-all, stop) and the driver's own settings.
#include <atomic>
#include <clocale>
#include <locale>
#include <set>

#include "core/vocab/errors_text.h"
#include "held_replies.h"
#include "test_hooks/test_hooks.h"
#include "send_test_util.h"
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

std::string output_bytes(device& d, CommandType c, ParamType p)
{
    EXPECT_EQ(run(d, c), 0);
    std::vector<std::byte> out;
    EXPECT_EQ(d.get_bytes_array_param(p, d.output_params, out, false), 0);
    return device_test::text_of(out);
}
std::string description(device& d, int code)
{
    d.set_int_param(ParamType::ErrorCode, d.input_params, code, false);
    return output_bytes(d, CommandType::get_error_description, ParamType::ErrorDescription);
}

}  // namespace

TEST(Dispatch, NumbersWithoutMethodAnswer120AndKeepListHonoured)
{
    // Outside the table: no result line; in it (an internal frame) without a method: a result line. Either way
    // nothing is sent and 82 still shows the command before.
    const std::string absent = "command not found in broadcast_validation_";
    const auto unknown = [](int command) {
        return "Result code for command " + std::to_string(command) + " : 120. Unknown command.";
    };
    qv_sim::sim_scale scale("127.0.0.2");
    qv_sim::add_connect_replies(scale);
    for (const auto& [command, line] : {std::pair{999, absent},
                                        {146, absent},
                                        {-1, absent},
                                        {-2, absent},
                                        {-3, absent},
                                        {-37, absent},
                                        {-21, unknown(-21)},
                                        {-32, unknown(-32)},
                                        {-35, unknown(-35)}}) {
        SCOPED_TRACE(command);
        device d;
        add_scale(d, scale, 1);
        ASSERT_EQ(run(d, CommandType::get_plu_count), 0);
        const std::size_t sent = scale.request_count();
        log_capture log;
        EXPECT_EQ(d.execute_command(command), 120);
        EXPECT_EQ(log.lines(),
                  (std::vector<std::string>{separator, "do_command " + std::to_string(command), line, separator}));
        EXPECT_EQ(scale.request_count(), sent);
        EXPECT_EQ(output_bytes(d, CommandType::get_result_list, ParamType::CommandResults),
                  "127.0.0.2:0:Command completed successful.;");
    }
    // After 25, 30, 82, 89, 100 and 120 everything the host set stays for the block send.
    device d;
    const std::set<int> keeping{25, 30, 82, 89, 100, 120};
    for (int command : {25, 30, 82, 89, 100, 120, 29, 81, 146}) {
        d.set_bytes_array_param(ParamType::PluBlock, d.input_params, bytes_of("block"), false);
        d.execute_command(command);
        EXPECT_EQ(d.input_params.size(), keeping.count(command)) << command;
    }
}

TEST(Dispatch, GroupRefusalTimingAndResultList)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale a("127.0.0.2"), silent("127.0.0.3"), c("127.0.0.10");
    qv_sim::add_connect_replies(a);
    qv_sim::add_connect_replies(c);
    silent.set_fault(send_test::silent());
    device d;
    d.timeout_seconds = 1;
    for (auto* s : {&a, &silent, &c}) add_scale(d, *s, 1);
    d.results = {{"127.0.0.9", -1}};
    log_capture log;
    for (int internal : {29, -32, -36}) {  // not for group mode: nothing is sent
        EXPECT_EQ(d.execute_command(internal), -110);
        EXPECT_TRUE(log.contains("Result code for command " + std::to_string(internal) +
                                 " : -110. Functionality not for group mode."));
    }
    EXPECT_TRUE(d.results.empty());  // emptied before the refusal
    EXPECT_EQ(a.request_count() + silent.request_count() + c.request_count(), 0u);
    // All are asked at once: the group fails in about one time-out, not three.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(d, CommandType::connect), -111);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    // Byte-wise order of the IP texts; negative codes with their sign.
    const std::string list = output_bytes(d, CommandType::get_result_list, ParamType::CommandResults);
    EXPECT_EQ(list,
              "127.0.0.10:0:Command completed successful.;127.0.0.2:0:Command completed successful.;"
              "127.0.0.3:-1:No connection.;");
    // 81 and 82 keep the previous command's results; any other command empties them.
    EXPECT_EQ(description(d, 0), "Command completed successful.");
    EXPECT_EQ(output_bytes(d, CommandType::get_result_list, ParamType::CommandResults), list);
    EXPECT_EQ(run(d, CommandType::get_driver_version), 0);
    EXPECT_EQ(output_bytes(d, CommandType::get_result_list, ParamType::CommandResults), "");
    add_scale(d, a, 1);  // for one scale nothing is refused (the failed connect emptied the list)
    EXPECT_EQ(run(d, CommandType::get_plu_count), 0);
}

// A stop landing between two commands neither empties the first one's outputs nor stops the next.
TEST(Dispatch, StopsFromASecondThreadNeverTakeAnotherCommandsOutputs)
{
    const test_deadline deadline{std::chrono::seconds(60)};
    qv_sim::sim_scale scale("127.0.0.2");
    qv_sim::add_connect_replies(scale)->set_plu_count(77);
    device d;
    d.timeout_seconds = 2;
    add_scale(d, scale, 1);
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        while (!done) run(d, CommandType::stop_command);
    });
    int completed = 0, stopped = 0, lost = 0;
    for (int round = 0; round < 300; ++round) {
        const int r = run(d, CommandType::get_plu_count);
        stopped += r == -9;
        if (r != 0) continue;
        ++completed;
        int count = 0;
        if (d.get_int_param(ParamType::PLUCount, d.output_params, count, false) != 0 || count != 77) ++lost;
    }
    done = true;
    stopper.join();
    EXPECT_EQ(lost, 0);
    EXPECT_GT(stopped, 0);  // the stops did land
    EXPECT_EQ(completed + stopped, 300);
}

// A stop decided for one command and delivered only once the next command waits for its reply ends nothing of the
// next: on every transport that command succeeds, and so does the one after it (nothing of either is left queued).
class LateStop : public testing::TestWithParam<int> {};  // 0 UDP, 1 one-shot TCP, 2 kept-open TCP
INSTANTIATE_TEST_SUITE_P(Dispatch, LateStop, testing::Values(0, 1, 2));

TEST_P(LateStop, EndsOnlyTheCommandItWasDecidedFor)
{
    const test_deadline deadline{std::chrono::seconds(30)};
    qv_sim::sim_scale scale("127.0.0.151");
    qv_sim::add_connect_replies(scale);
    device d;
    d.timeout_seconds = 4;
    add_scale(d, scale, GetParam() == 0 ? 0 : 1);
    d.permanent_connection = GetParam() == 2;
    ASSERT_EQ(run(d, CommandType::connect), 0);
    auto held = std::make_shared<held_replies>();
    scale.on({0xD0}, [held](const qv_sim::request& r) {
        held->wait();
        return qv_sim::reply_frame(r.command, 0, {77, 0});
    });
    const held_replies::guard let_go_at_end{*held};
    scale.clear_requests();
    qv_seam::hook("stop decided", [&] {
        held->let_go();  // the stopped command has its reply and ends
        EXPECT_TRUE(scale.wait_for_requests(2, std::chrono::seconds(5)));  // the next one waits for its own
    });
    int stopped = 1, next = 1;
    std::thread host([&] {
        stopped = run(d, CommandType::get_plu_count);
        next = run(d, CommandType::get_plu_count);
    });
    EXPECT_TRUE(scale.wait_for_requests(1, std::chrono::seconds(5)));
    EXPECT_EQ(run(d, CommandType::stop_command), 0);
    qv_seam::clear();
    held->let_go();
    host.join();
    EXPECT_EQ(stopped, -9);
    EXPECT_EQ(next, 0);
    held->let_all_go();
    EXPECT_EQ(run(d, CommandType::get_plu_count), 0);
    EXPECT_EQ(scale.request_count(), 3u);
}

TEST(Settings, LanguageConnectionTypeRootFolderAndLocaleAndTheCatchAll)
{
    device d;
    log_capture log;
    d.set_string_param(ParamType::Localization, d.input_params, L"rus", false);
    EXPECT_EQ(run(d, CommandType::change_driver_lang), 0);
    // The command's own result line is already in the new language; a bad code leaves it.
    EXPECT_TRUE(log.contains("Result code for command 90 : 0. " + errors_text_rus().get_text(ErrorType::Success)));
    d.set_string_param(ParamType::Localization, d.input_params, L"RUS", false);
    EXPECT_EQ(run(d, CommandType::change_driver_lang), -104);
    EXPECT_EQ(description(d, -110), errors_text_rus().get_text(ErrorType::NotForGroupMode));
    d.set_int_param(ParamType::DriverConnectionType, d.input_params, 7, false);  // any other than 0: kept open
    EXPECT_EQ(run(d, CommandType::change_driver_connection_type), 0);
    EXPECT_TRUE(d.permanent_connection);
    EXPECT_EQ(run(d, CommandType::change_driver_connection_type), 0);  // without the parameter: one-shot
    EXPECT_FALSE(d.permanent_connection);
    // Absolute (stored as given, trailing zero byte included), a zero byte inside or relative (-104, kept), another
    // kind (-8, working directory).
    auto with_zero = bytes_of("/var/data");
    with_zero.push_back(std::byte{0});
    for (const auto& [path, expected] :
         {std::pair{with_zero, 0}, {bytes_of(std::string("/var\0/../../x", 13)), -104}, {bytes_of("data/in"), -104}}) {
        d.set_bytes_array_param(ParamType::DriverRootFolder, d.input_params, path, false);
        EXPECT_EQ(run(d, CommandType::change_driver_root_folder), expected);
        EXPECT_EQ(d.driver_root_folder, with_zero);
    }
    d.set_string_param(ParamType::DriverRootFolder, d.input_params, L"/x", false);
    EXPECT_EQ(run(d, CommandType::change_driver_root_folder), -8);
    EXPECT_EQ(d.driver_root_folder, bytes_of(std::filesystem::current_path().string()));
    // With the working directory gone that fallback throws: the catch-all gives -1000 and the device stays usable.
    const auto home = std::filesystem::current_path();
    char tmpl[] = "/tmp/qv_dispatch_cwd_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    std::filesystem::current_path(tmpl);
    std::filesystem::remove(tmpl);
    const int result = run(d, CommandType::change_driver_root_folder);
    std::filesystem::current_path(home);
    EXPECT_EQ(result, -1000);
    const auto lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"'do_command' error", separator}));
    EXPECT_EQ(run(d, CommandType::get_driver_version), 0);
    // A name the system lacks, or one that is not whole text, which the C library would read cut short to a locale
    // the system has (a lone surrogate first: to the empty name, the environment's): -1000, the process's C and C++
    // locales unchanged.
    const std::wstring surrogate(1, wchar_t(0xD800));
    const std::pair<std::wstring, std::string> refused_names[] = {
        {L"xx_NOWHERE.none", "change_locale err: locale::facet::_S_create_c_locale name not valid"},
        {std::wstring(L"de_DE.UTF-8\0x", 13), "change_locale err: locale name holds a zero byte: de_DE.UTF-8\\x00x"},
        {L"ru_RU.utf8" + surrogate + L"junk",
         "change_locale err: locale name holds code U+D800 at position 11, no Unicode character"},
        {surrogate + L"ru_RU.utf8", "change_locale err: locale name holds code U+D800 at position 1, no Unicode character"},
        {L"ru_RU.utf8" + std::wstring(1, wchar_t(0x110000)),
         "change_locale err: locale name holds code U+110000 at position 11, no Unicode character"},
    };
    for (const auto& [name, line] : refused_names) {
        SCOPED_TRACE(line);
        EXPECT_EQ(d.change_locale(name), -1000);
        EXPECT_TRUE(log.contains(line));
        EXPECT_EQ(std::locale().name(), "C");
        EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
    }
}
