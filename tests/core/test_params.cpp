// Parameter names, the path rule, typed access, its log lines and the device's initial state.
#include <clocale>
#include <locale>

#include "core/vocab/vocab_params.h"
#include "send_test_util.h"

using device_test::bytes_of;
using device_test::log_capture;
using device_test::text_of;

TEST(ParamNames, LookupAndWalkAgreeAndTheTwoNamesOf186)
{
    const auto& names = vocab::param_names();
    EXPECT_TRUE(names.at("ShelfLifeInDays") == ParamType(186) && names.at("ShelfLife") == ParamType(186));
    for (int n = -1; n <= 351; ++n) {  // every number 1 to 349 but 325 to 329 has a name
        const char* name = vocab::param_name(ParamType(n));
        EXPECT_EQ(name != nullptr, n >= 1 && n <= 349 && (n < 325 || n > 329)) << n;
        EXPECT_EQ(vocab::find_param_name(names, ParamType(n)), name ? name : "") << n;
    }
}

TEST(PathRule, RelativePathsAreAnchoredToTheRootFolderWithoutParentSteps)
{
    // given, stored ("R" is the root folder); absolute paths unchanged
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"sub/a.bin", "R/sub/a.bin"}, {"../../a.bin", "R/a.bin"}, {"..\\..\\a.bin", "R/a.bin"}, {"../.cfg", "R/.cfg"},
        {"..x", "R/..x"}, {"...", "R/"}, {std::string("/tmp/a\0", 7), std::string("/tmp/a\0", 7)},
        {std::string("a.bin\0", 6), "R/a.bin"}, {std::string("a.bin\0\0", 7), "R/a.bin"},
        // A zero byte inside is kept where it stands, for the command to refuse: the file system would stop there.
        {std::string("up/keep\0me", 10), std::string("up/keep\0me", 10)},
        {std::string("\0/../../x", 9), std::string("\0/../../x", 9)},
        // An inner ".." that stays below the root is kept; one that climbs above it, "." steps aside, stores nothing.
        {"sub/../a.bin", "R/sub/../a.bin"}, {"a/./../../x", ""}};
    // clang-format on
    device d;
    for (const char* root : {"/srv/root", "/srv/root/"}) {  // a trailing slash is not doubled
        d.driver_root_folder = bytes_of(root);
        for (int number : {207, 209}) {  // 209 is no path: kept as given
            for (const auto& [given, stored] : cases) {
                SCOPED_TRACE(given + " under " + std::to_string(number) + " in " + root);
                ASSERT_EQ(d.set_bytes_array_param(ParamType(number), d.input_params, bytes_of(given), false), 0);
                std::vector<std::byte> out;
                ASSERT_EQ(d.get_bytes_array_param(ParamType(number), d.input_params, out, false), 0);
                const std::string& want = number == 209 ? given : stored;
                EXPECT_EQ(text_of(out), want[0] == 'R' ? "/srv/root" + want.substr(1) : want);
            }
        }
    }
}

// Kind mismatch and absence leave the out argument alone; one log line of each form, secrets masked.
TEST(TypedAccess, KindMismatchAbsenceAndLogLines)
{
    device d;
    d.driver_root_folder = bytes_of("/r");
    auto& m = d.input_params;
    int i = 99;
    std::wstring s = L"keep";
    std::vector<std::byte> b{std::byte{9}};
    std::string dump;
    for (int k = 0; k < 100; ++k) dump += "41 ";
    log_capture log;
    d.set_int_param(ParamType(17), m, 12);
    EXPECT_EQ(d.get_string_param(ParamType(17), m, s), -8);
    EXPECT_EQ(d.get_int_param(ParamType(18), m, i), -7);
    EXPECT_EQ(d.get_bytes_array_param(ParamType(17), m, b, false), -8);
    EXPECT_TRUE(i == 99 && s == L"keep" && b == std::vector<std::byte>{std::byte{9}});
    EXPECT_THROW(d.checkParamDataType(ParamType(18), m), std::out_of_range);
    d.set_bytes_array_param(ParamType(207), m, bytes_of("./x"));
    d.set_string_param(ParamType(3), m, L"s3cr");
    d.set_bytes_array_param(ParamType(206), m, bytes_of("n3w!"));
    d.set_bytes_array_param(ParamType(209), m, std::vector<std::byte>(150, std::byte{0x41}));  // dumped to 100
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "set int param \"(17) PLUCount\": 12",
                               "get string param \"(17) PLUCount\": wrong type! As int in driver",
                               "get int param \"(18) MessagesCount\": not found!",
                               "set bytes array param \"(207) FilePath\" (size: 3): 2E 2F 78 ",
                               "as string: ./x",
                               "change bytes array param (207): 2F 72 2F 78 ",
                               "as string: /r/x",
                               "set string param \"(3) AdminPassword\": ********",
                               "set bytes array param \"(206) NewPassword\" (size: 4): ********",
                               "as string: ********",
                               "set bytes array param \"(209) DriverRootFolder\" (size: 150): " + dump,
                               "as string: " + std::string(100, 'A'),
                           }));
    log_capture quiet;  // nothing with log off
    d.get_string_param(ParamType(17), m, s, false);
    ASSERT_EQ(d.get_bytes_array_param(ParamType(209), m, b, false), 0);
    EXPECT_EQ(b.size(), 150u);  // stored whole
    EXPECT_TRUE(quiet.lines().empty());
}

TEST(DeviceLifecycle, NewDeviceDefaultsAndCLocale)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    device d;
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
    EXPECT_EQ(std::locale().name(), "C");
    EXPECT_EQ(d.timeout_seconds, 4);
    EXPECT_FALSE(d.permanent_connection || d.busy || d.weight_running);
    EXPECT_EQ(text_of(d.driver_root_folder), std::filesystem::current_path().string());
}
