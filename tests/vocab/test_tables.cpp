// The vocabulary tables: counts, uniqueness and spot values from every block,
// with the entries that are easy to get wrong.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "core/types.h"
#include "core/vocab_commands.h"
#include "core/vocab_params.h"

namespace {

static_assert(std::is_same_v<std::underlying_type_t<ParamType>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<CommandType>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<ErrorType>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<DataType>, std::int32_t>);
static_assert(static_cast<int>(ParamType::AlignStaticText3) == 303);
static_assert(static_cast<int>(ParamType::ShelfLife) == 186);
static_assert(static_cast<int>(CommandType::get_plu_count) == 29);
static_assert(static_cast<int>(CommandType::start_get_weight) == -33);
static_assert(static_cast<int>(CommandType::upload_product_buttons_file) == -37);
static_assert(static_cast<int>(ErrorType::UnexpectedDriverError) == -1000);
static_assert(static_cast<int>(ErrorType::TimeSyncEnabled) == 209);

ParamType P(int n) { return static_cast<ParamType>(n); }
CommandType C(int n) { return static_cast<CommandType>(n); }

std::vector<std::byte> bytes(std::initializer_list<int> v)
{
    std::vector<std::byte> out;
    for (int b : v)
        out.push_back(static_cast<std::byte>(b));
    return out;
}

TEST(ParamNames, CountsAndCoverage)
{
    const auto& names = vocab::param_names();
    EXPECT_EQ(names.size(), 345u);  // a map: so also 345 distinct names
    std::set<int> numbers;
    for (const auto& entry : names)
        numbers.insert(static_cast<int>(entry.second));
    EXPECT_EQ(numbers.size(), 344u);
    EXPECT_EQ(names.at("ShelfLifeInDays"), P(186));
    EXPECT_EQ(names.at("ShelfLife"), P(186));
    for (int n = 1; n <= 349; ++n) {
        const bool unnamed = n >= 325 && n <= 329;
        EXPECT_EQ(numbers.count(n) == 0, unnamed) << n;
    }
}

TEST(ParamNames, SpotValuesFromEveryBlock)
{
    const std::pair<int, const char*> cases[] = {
        {1, "Ip"}, {8, "AutoZeroInitialInstallationSign"}, {33, "PackagingON"},
        {34, "SoundON"}, {48, "sSum"}, {50, "DisplayType"}, {51, "LabelFormat"},
        {100, "PLUNumberXPos"}, {101, "PLUNumberYPos"}, {150, "FontTare"},
        {186, "ShelfLife"}, {190, "ROSTEST"}, {200, "PrefixBC"},
        {217, "QuorvixFolderContentPath"}, {250, "AlignInscrBrutto"},
        {251, "AlignStaticText1"}, {253, "AlignStaticText4"}, {254, "AlignStaticText5"},
        {300, "ScreenMessageDuration"}, {303, "AlignStaticText3"}, {324, "Gtin"},
        {330, "ButtonNumber"}, {349, "TimeZone"},
    };
    for (const auto& [n, name] : cases) {
        const char* got = vocab::param_name(P(n));
        ASSERT_NE(got, nullptr) << n;
        EXPECT_STREQ(got, name) << n;
        EXPECT_EQ(vocab::param_names().at(name), P(n)) << name;
    }
}

TEST(ParamNames, NumbersWithoutName)
{
    for (int n : {0, 325, 326, 327, 328, 329, 350, 1000, -1, -2, -3, -4, -5, -1000}) {
        EXPECT_EQ(vocab::param_name(P(n)), nullptr) << n;
        EXPECT_EQ(vocab::find_param_name(vocab::param_names(), P(n)), "") << n;
    }
}

TEST(ParamNames, FastLookupAgreesWithTableWalk)
{
    for (int n = -6; n <= 351; ++n) {
        const char* fast = vocab::param_name(P(n));
        EXPECT_EQ(vocab::find_param_name(vocab::param_names(), P(n)), fast ? fast : "") << n;
    }
}

TEST(CommandFrames, CountsShapeAndUniqueness)
{
    const auto& frames = vocab::command_frames();
    EXPECT_EQ(frames.size(), 154u);
    std::set<std::vector<std::byte>> distinct;
    int host = 0;
    for (const auto& [cmd, f] : frames) {
        distinct.insert(f);
        if (static_cast<int>(cmd) >= 0)
            ++host;
        ASSERT_TRUE(f.size() == 1 || f.size() == 2) << static_cast<int>(cmd);
        // The escape byte opens every two-byte frame and no one-byte frame.
        EXPECT_EQ(f[0] == std::byte{0xFF}, f.size() == 2) << static_cast<int>(cmd);
    }
    EXPECT_EQ(distinct.size(), frames.size());
    EXPECT_EQ(host, 119);
    EXPECT_EQ(frames.count(C(-33)) + frames.count(C(-34)), 0u);
}

TEST(CommandFrames, SpotValues)
{
    const struct {
        int cmd;
        std::vector<std::byte> frame;
    } cases[] = {
        {1, bytes({0x13})},         {29, bytes({0xD0})},        {43, bytes({0x11})},
        {55, bytes({0xFF, 0x0F})},  {92, bytes({0xFF, 0x99})},  {124, bytes({0x30})},
        {145, bytes({0xFF, 0x66})}, {-1, bytes({0xA9})},        {-3, bytes({0x1B})},
        {-4, bytes({0x1C})},        {-15, bytes({0xFF, 0x0C})}, {-20, bytes({0xFF, 0x11})},
        {-22, bytes({0xB9})},       {-31, bytes({0xFF, 0x40})}, {-32, bytes({0xFF, 0x41})},
        {-35, bytes({0xFF, 0x56})}, {-36, bytes({0xFF, 0x59})}, {-37, bytes({0xFF, 0x64})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vocab::command_frames().at(C(c.cmd)), c.frame) << c.cmd;
    for (int cmd : {0, 25, 30, 48, 49, 51, 79, 82, 127, 142, 143, -33, -34, -38, 146})
        EXPECT_EQ(vocab::command_frames().count(C(cmd)), 0u) << cmd;
}

TEST(GroupPermissions, CountsAndKeySet)
{
    const auto& flags = vocab::broadcast_validation();
    EXPECT_EQ(flags.size(), 156u);
    int on = 0;
    for (const auto& entry : flags)
        on += entry.second ? 1 : 0;
    EXPECT_EQ(on, 99);
    for (int cmd = 0; cmd <= 145; ++cmd)
        EXPECT_EQ(flags.count(C(cmd)), 1u) << cmd;
    std::set<int> internal;
    for (const auto& entry : flags)
        if (static_cast<int>(entry.first) < 0)
            internal.insert(static_cast<int>(entry.first));
    EXPECT_EQ(internal, (std::set<int>{-36, -35, -34, -33, -32, -26, -25, -24, -22, -21}));
}

TEST(GroupPermissions, SpotValues)
{
    const std::pair<int, bool> cases[] = {
        {0, true},   {1, true},   {6, false},   {29, false},  {43, false},
        {44, false}, {48, true},  {127, true},  {144, false}, {145, true},
        {-33, true}, {-34, true}, {-21, true},  {-26, true},  {-32, false},
        {-35, true}, {-36, false},
    };
    for (const auto& [cmd, flag] : cases)
        EXPECT_EQ(vocab::broadcast_validation().at(C(cmd)), flag) << cmd;
    // Absent means unknown to the dispatcher, not "false".
    for (int cmd : {-1, -3, -20, -23, -31, -37, -38, 146})
        EXPECT_EQ(vocab::broadcast_validation().count(C(cmd)), 0u) << cmd;
}

TEST(BarcodeStructures, KeysAndTemplates)
{
    const auto& t = vocab::barcode_structures();
    std::set<int> keys;
    for (const auto& entry : t)
        keys.insert(entry.first);
    EXPECT_EQ(keys, (std::set<int>{0, 6, 7, 8, 9, 15, 255}));
    EXPECT_EQ(t.at(0), "");
    for (int k : {6, 7, 8, 9, 15})
        EXPECT_EQ(t.at(k).size(), 13u) << k;
    EXPECT_EQ(t.at(8), "PPNNNNQQQQQQC");
    EXPECT_EQ(t.at(15), "NNNNNNNQQQQQC");
    EXPECT_EQ(t.at(255), "STATIC");
}

}  // namespace
