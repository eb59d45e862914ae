// Parameter values, typed access, its log lines, the path rule and the
// device's initial state.
#include <clocale>
#include <filesystem>
#include <locale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/device.h"
#include "core/vocab/errors_text.h"
#include "device_test_util.h"

using device_test::bytes_of;
using device_test::log_capture;
using device_test::text_of;

namespace {
ParamType P(int n)
{
    return static_cast<ParamType>(n);
}
}  // namespace

TEST(PathRule, RelativePathsAreAnchoredToTheRootFolder)
{
    struct path_case {
        const char* name;
        std::string given;  // bytes handed to the store
        std::string stored;  // bytes expected in the map; a leading "R" is the root folder
    };
    const std::vector<path_case> cases = {
        {"dot slash", "./a.bin", "R/a.bin"},
        {"sub folder", "sub/a.bin", "R/sub/a.bin"},
        {"parent steps dropped", "../../a.bin", "R/a.bin"},
        {"backslash parent steps", "..\\..\\a.bin", "R/a.bin"},
        {"leading backslash", "\\a.bin", "R/a.bin"},
        {"hidden name keeps its dot", ".hidden/x", "R/.hidden/x"},
        {"hidden name after a parent step", "../.cfg", "R/.cfg"},
        {"name beginning with two dots", "..x", "R/..x"},
        {"empty", "", "R/"},
        {"dot slash alone", "./", "R/"},
        {"three dots", "...", "R/"},
        {"absolute unchanged", "/tmp/a.bin", "/tmp/a.bin"},
        {"absolute keeps zero bytes", std::string("/tmp/a\0", 7), std::string("/tmp/a\0", 7)},
        {"relative drops zero byte", std::string("a.bin\0", 6), "R/a.bin"},
    };
    device d;
    // A root folder's trailing slash is not doubled; 209 is no path and is kept as given.
    for (const char* root : {"/srv/root", "/srv/root/"}) {
        d.driver_root_folder = bytes_of(root);
        for (int number : {207, 4, 213, 209}) {
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(c.name) + " under " + std::to_string(number) + " in " + root);
                ASSERT_EQ(d.set_bytes_array_param(P(number), d.input_params, bytes_of(c.given), false), 0);
                std::vector<std::byte> out;
                ASSERT_EQ(d.get_bytes_array_param(P(number), d.input_params, out, false), 0);
                const std::string& want = number == 209 ? c.given : c.stored;
                EXPECT_EQ(text_of(out), want[0] == 'R' ? "/srv/root" + want.substr(1) : want);
            }
        }
    }
    // A string store of a path number is kept as given.
    std::wstring w;
    ASSERT_EQ(d.set_string_param(P(207), d.input_params, L"./a.bin", false), 0);
    ASSERT_EQ(d.get_string_param(P(207), d.input_params, w, false), 0);
    EXPECT_EQ(w, L"./a.bin");
}

TEST(TypedAccess, KindMismatchAndAbsenceLeaveTheOutArgumentAlone)
{
    device d;
    auto& m = d.input_params;
    ASSERT_EQ(d.set_int_param(P(17), m, -5, false), 0);
    ASSERT_EQ(d.set_string_param(P(1), m, L"10.0.0.1", false), 0);
    ASSERT_EQ(d.set_bytes_array_param(P(209), m, {std::byte{0}, std::byte{7}}, false), 0);

    using K = DataType;
    const struct {
        int number;
        DataType kind;
        int expected;
    } reads[] = {
        {17, K::Int, 0},        {17, K::String, -8},   {17, K::ByteArray, -8}, {1, K::Int, -8},
        {1, K::String, 0},      {1, K::ByteArray, -8}, {209, K::Int, -8},      {209, K::String, -8},
        {209, K::ByteArray, 0}, {18, K::Int, -7},      {18, K::String, -7},    {18, K::ByteArray, -7},
    };
    for (const auto& r : reads) {
        SCOPED_TRACE("param " + std::to_string(r.number) + " kind " + std::to_string(static_cast<int>(r.kind)));
        int i = 99;
        std::wstring s = L"keep";
        std::vector<std::byte> b{std::byte{9}};
        int got = r.kind == K::Int      ? d.get_int_param(P(r.number), m, i, false)
                  : r.kind == K::String ? d.get_string_param(P(r.number), m, s, false)
                                        : d.get_bytes_array_param(P(r.number), m, b, false);
        EXPECT_EQ(got, r.expected);
        if (got != 0) {
            EXPECT_TRUE(i == 99 && s == L"keep" && b == std::vector<std::byte>{std::byte{9}});
        }
    }
    // The last store decides the kind; the check functions catch nothing.
    ASSERT_EQ(d.set_int_param(P(1), m, 3, false), 0);
    std::wstring s;
    EXPECT_EQ(d.get_string_param(P(1), m, s, false), -8);
    EXPECT_THROW(d.checkParamDataType(P(18), m), std::out_of_range);
}

TEST(TypedAccess, LogLines)
{
    device d;
    d.driver_root_folder = bytes_of("/r");
    auto& m = d.input_params;
    int i = 0;
    std::wstring s;
    std::vector<std::byte> b;
    log_capture log;
    d.set_int_param(P(17), m, 12);
    d.get_int_param(P(17), m, i);
    d.get_string_param(P(17), m, s);
    d.get_int_param(P(18), m, i);
    d.set_string_param(P(186), m, L"Åb");
    d.get_string_param(P(186), m, s);
    d.set_int_param(P(-3), m, 1);
    d.set_bytes_array_param(P(-1), m, {});
    d.get_bytes_array_param(P(-1), m, b);
    d.set_bytes_array_param(P(209), m, {std::byte{'a'}, std::byte{0}, std::byte{0xAB}, std::byte{'b'}});
    d.set_bytes_array_param(P(207), m, bytes_of("./x"));
    // Secrets are masked, whichever way they are stored.
    d.set_string_param(P(3), m, L"s3cr");
    d.get_string_param(P(3), m, s);
    d.set_bytes_array_param(P(206), m, bytes_of("n3w!"));
    // Long byte arrays are dumped to 100 bytes but stored whole.
    d.set_bytes_array_param(P(209), m, std::vector<std::byte>(150, std::byte{0x41}));
    std::string dump;
    for (int k = 0; k < 100; ++k) dump += "41 ";
    const std::vector<std::string> expected = {
        "set int param \"(17) PLUCount\": 12",
        "get int param \"(17) PLUCount\": 12",
        "get string param \"(17) PLUCount\": wrong type! As int in driver",
        "get int param \"(18) MessagesCount\": not found!",
        "set string param \"(186) ShelfLife\": \xC3\x85"
        "b",
        "get string param \"(186) ShelfLife\": \xC3\x85"
        "b",
        "set int param \"(-3)\": 1",
        "set bytes array param \"(-1)\" (size: 0): ",
        "as string: ",
        "get bytes array param \"(-1)\": ",
        "set bytes array param \"(209) DriverRootFolder\" (size: 4): 61 00 AB 62 ",
        "as string: a\xAB"
        "b",
        "set bytes array param \"(207) FilePath\" (size: 3): 2E 2F 78 ",
        "as string: ./x",
        "change bytes array param (207): 2F 72 2F 78 ",
        "as string: /r/x",
        "set string param \"(3) AdminPassword\": ********",
        "get string param \"(3) AdminPassword\": ********",
        "set bytes array param \"(206) NewPassword\" (size: 4): ********",
        "as string: ********",
        "set bytes array param \"(209) DriverRootFolder\" (size: 150): " + dump,
        "as string: " + std::string(100, 'A'),
    };
    EXPECT_EQ(log.lines(), expected);

    // Nothing at all with log off, for every outcome.
    log_capture quiet;
    d.set_int_param(P(17), m, 1, false);
    d.get_int_param(P(17), m, i, false);
    d.get_string_param(P(17), m, s, false);
    d.get_int_param(P(18), m, i, false);
    ASSERT_EQ(d.get_bytes_array_param(P(209), m, b, false), 0);
    EXPECT_EQ(b.size(), 150u);
    EXPECT_TRUE(quiet.lines().empty());
}

TEST(TypedAccess, ListCheckStopsAtTheFirstMissing)
{
    device d;
    d.set_int_param(P(1), d.input_params, 1, false);
    log_capture log;
    EXPECT_FALSE(d.parameters_validation({P(1), P(2), P(3)}, d.input_params));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"The '2' parameter is missing"});
    param_map empty;
    EXPECT_TRUE(d.parameters_validation(std::vector<ParamType>{P(-2)}, empty));
}

TEST(DeviceLifecycle, NewDeviceDefaults)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    log_capture log;
    device d;
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
    EXPECT_EQ(std::locale().name(), "C");
    EXPECT_TRUE(log.contains("Initialization of the driver kernel. Version: 1.3.7152 28.04.26"));
    EXPECT_EQ(d.timeout_seconds, 4);
    EXPECT_EQ(d.weight_period_ms, 500);
    EXPECT_FALSE(d.permanent_connection || d.busy || d.weight_running);
    EXPECT_EQ(d.json_label_data.width, 58);
    EXPECT_EQ(d.json_label_data.height, 30);
    EXPECT_EQ(text_of(d.driver_root_folder), std::filesystem::current_path().string());
    EXPECT_EQ(d.current_error_texts()->get_text(ErrorType::Success), "Command completed successful.");
}
