// The vocabulary tables: counts, uniqueness and spot values from every block,
// with the entries that are easy to get wrong.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "core/vocab/types.h"
#include "core/vocab/vocab_commands.h"
#include "core/vocab/vocab_params.h"

namespace {

template <class E>
constexpr bool is_int32 = std::is_same_v<std::underlying_type_t<E>, std::int32_t>;
static_assert(is_int32<ParamType> && is_int32<CommandType> && is_int32<ErrorType> && is_int32<DataType>);
static_assert(static_cast<int>(ParamType::AlignStaticText3) == 303 && static_cast<int>(ParamType::ShelfLife) == 186);

ParamType P(int n)
{
    return static_cast<ParamType>(n);
}
CommandType C(int n)
{
    return static_cast<CommandType>(n);
}

// A frame written as one number: 0xFF0F stands for the two bytes FF 0F.
std::vector<std::byte> frame(int f)
{
    if (f > 0xFF) return {std::byte(f >> 8), std::byte(f & 0xFF)};
    return {std::byte(f)};
}

TEST(ParamNames, NamedNumbersSpotValuesAndTheTwoNamesOf186)
{
    const auto& names = vocab::param_names();
    EXPECT_EQ(names.size(), 345u);  // a map: 345 distinct names, two of them for 186
    EXPECT_EQ(names.at("ShelfLifeInDays"), P(186));
    EXPECT_EQ(names.at("ShelfLife"), P(186));
    // Every number 1 to 349 but 325 to 329 has a name; the fast lookup and the
    // walk over a copy of the table agree everywhere.
    for (int n = -6; n <= 351; ++n) {
        const char* name = vocab::param_name(P(n));
        EXPECT_EQ(name != nullptr, n >= 1 && n <= 349 && (n < 325 || n > 329)) << n;
        EXPECT_EQ(vocab::find_param_name(names, P(n)), name ? name : "") << n;
    }
    const std::pair<int, const char*> cases[] = {
        {1, "Ip"},
        {8, "AutoZeroInitialInstallationSign"},
        {33, "PackagingON"},
        {34, "SoundON"},
        {48, "sSum"},
        {50, "DisplayType"},
        {51, "LabelFormat"},
        {100, "PLUNumberXPos"},
        {101, "PLUNumberYPos"},
        {150, "FontTare"},
        {186, "ShelfLife"},
        {190, "ROSTEST"},
        {200, "PrefixBC"},
        {217, "QuorvixFolderContentPath"},
        {250, "AlignInscrBrutto"},
        {251, "AlignStaticText1"},
        {253, "AlignStaticText4"},
        {254, "AlignStaticText5"},
        {300, "ScreenMessageDuration"},
        {303, "AlignStaticText3"},
        {324, "Gtin"},
        {330, "ButtonNumber"},
        {349, "TimeZone"},
    };
    for (const auto& [n, name] : cases) {
        EXPECT_STREQ(vocab::param_name(P(n)), name) << n;
        EXPECT_EQ(names.at(name), P(n)) << name;
    }
    EXPECT_EQ(vocab::param_name(P(-1000)), nullptr);
}

TEST(CommandFrames, CountsShapeUniquenessAndSpotValues)
{
    const auto& frames = vocab::command_frames();
    EXPECT_EQ(frames.size(), 154u);
    std::set<std::vector<std::byte>> distinct;
    int host = 0;
    for (const auto& [cmd, f] : frames) {
        distinct.insert(f);
        host += static_cast<int>(cmd) >= 0;
        ASSERT_TRUE(f.size() == 1 || f.size() == 2) << static_cast<int>(cmd);
        // The escape byte opens every two-byte frame and no one-byte frame.
        EXPECT_EQ(f[0] == std::byte{0xFF}, f.size() == 2) << static_cast<int>(cmd);
    }
    EXPECT_EQ(distinct.size(), frames.size());
    EXPECT_EQ(host, 119);
    const std::pair<int, int> cases[] = {
        {1, 0x13},     {29, 0xD0},    {43, 0x11},    {55, 0xFF0F},  {92, 0xFF99},  {124, 0x30},
        {145, 0xFF66}, {-1, 0xA9},    {-3, 0x1B},    {-4, 0x1C},    {-15, 0xFF0C}, {-20, 0xFF11},
        {-22, 0xB9},   {-31, 0xFF40}, {-32, 0xFF41}, {-35, 0xFF56}, {-36, 0xFF59}, {-37, 0xFF64},
    };
    for (const auto& [cmd, f] : cases) EXPECT_EQ(frames.at(C(cmd)), frame(f)) << cmd;
    for (int cmd : {0, 25, 30, 48, 49, 51, 79, 82, 127, 142, 143, -33, -34, -38, 146})
        EXPECT_EQ(frames.count(C(cmd)), 0u) << cmd;
}

TEST(GroupPermissions, KeySetCountsAndSpotValues)
{
    const auto& flags = vocab::broadcast_validation();
    // Every host command and ten internal numbers; any other number is absent
    // (unknown to the dispatcher), which is not the same as false.
    std::set<int> want{-36, -35, -34, -33, -32, -26, -25, -24, -22, -21}, keys;
    for (int cmd = 0; cmd <= 145; ++cmd) want.insert(cmd);
    int on = 0;
    for (const auto& [cmd, flag] : flags) {
        keys.insert(static_cast<int>(cmd));
        on += flag;
    }
    EXPECT_EQ(keys, want);
    EXPECT_EQ(on, 99);
    const std::pair<int, bool> cases[] = {
        {0, true},   {1, true},   {6, false},   {29, false}, {43, false},  {44, false},
        {48, true},  {127, true}, {144, false}, {145, true}, {-33, true},  {-34, true},
        {-21, true}, {-26, true}, {-32, false}, {-35, true}, {-36, false},
    };
    for (const auto& [cmd, flag] : cases) EXPECT_EQ(flags.at(C(cmd)), flag) << cmd;
}

TEST(BarcodeStructures, KeysAndTemplates)
{
    std::set<int> keys;
    for (const auto& [key, text] : vocab::barcode_structures()) {
        keys.insert(key);
        EXPECT_EQ(text.size(), key == 0 ? 0u : key == 255 ? 6u : 13u) << key;
    }
    EXPECT_EQ(keys, (std::set<int>{0, 6, 7, 8, 9, 15, 255}));
    EXPECT_EQ(vocab::barcode_structures().at(8), "PPNNNNQQQQQQC");
    EXPECT_EQ(vocab::barcode_structures().at(15), "NNNNNNNQQQQQC");
    EXPECT_EQ(vocab::barcode_structures().at(255), "STATIC");
}

}  // namespace
