// The command reference a host developer reads (docs/commands.md) against the dispatcher's registry, the group flags
// and the names of the public header, so that the reference cannot drift from the code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12 warns inside <regex> at -O1: a false alarm
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "core/command.h"
#include "core/vocab/vocab_commands.h"

namespace {

std::string file_text(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every match of `pattern` in `text` as (group `name`, number in group `number`).
std::multimap<std::string, int> pairs(const std::string& text, const std::string& pattern, int name, int number)
{
    std::multimap<std::string, int> out;
    const std::regex re(pattern);
    for (std::sregex_iterator m(text.begin(), text.end(), re), end; m != end; ++m)
        out.emplace((*m)[name].str(), std::stoi((*m)[number].str()));
    return out;
}

// Enumerator name -> value of one enumeration of the public header, from its lines "    Name = value,".
std::map<std::string, int> enumerators(const std::string& header, const std::string& enumeration)
{
    const std::size_t begin = header.find("enum class " + enumeration + " : std::int32_t {");
    const std::string body = header.substr(begin, header.find("\n};", begin) - begin);
    const auto found = pairs(body, R"(\n +(\w+) = (-?\d+),)", 1, 2);
    return {found.begin(), found.end()};
}

}  // namespace

// Rows "| number | `name` | yes or no | inputs | outputs | result codes |": every registered command has exactly one,
// with its name and group flag; parameters are written "`Name` (number," and result codes "number `Name`".
TEST(CommandReference, EveryRowMatchesTheRegistryAndTheHeaderNames)
{
    const std::string header = file_text(QV_SOURCE_DIR "/include/quorvix_types.h");
    const auto commands = enumerators(header, "CommandType"), params = enumerators(header, "ParamType"),
               codes = enumerators(header, "ErrorType");
    ASSERT_FALSE(commands.empty() || params.empty() || codes.empty());
    EXPECT_TRUE(duplicate_registrations().empty());
    std::istringstream reference(file_text(QV_SOURCE_DIR "/docs/commands.md"));
    const std::regex row_re(R"(^\| (-?\d+) \| `(\w+)` \| (yes|no) (\|.*\|)([^|]*\|) *$)");
    std::set<int> seen;
    std::size_t named_params = 0;
    for (std::string line; std::getline(reference, line);) {
        std::smatch row;
        if (!std::regex_match(line, row, row_re)) continue;
        const int number = std::stoi(row[1].str());
        SCOPED_TRACE(line.substr(0, 60));
        EXPECT_TRUE(seen.insert(number).second) << "two rows";
        const auto type = static_cast<CommandType>(number);
        EXPECT_EQ(registered_commands().count(type), 1U) << "not registered";
        EXPECT_EQ(commands.count(row[2].str()) ? commands.at(row[2].str()) : -9999, number) << "no such CommandType";
        const auto flag = vocab::broadcast_validation().find(type);
        ASSERT_NE(flag, vocab::broadcast_validation().end());
        EXPECT_EQ(flag->second, row[3].str() == "yes");
        for (const auto& [name, value] : pairs(row[4].str(), R"(`(\w+)` \((-?\d+),)", 1, 2)) {
            EXPECT_EQ(params.count(name) ? params.at(name) : -9999, value) << name;
            ++named_params;
        }
        for (const auto& [name, value] : pairs(row[5].str(), R"((?:^|[^\d-])(-?\d+) `(\w+)`)", 2, 1))
            EXPECT_EQ(codes.count(name) ? codes.at(name) : -9999, value) << name;
    }
    EXPECT_GT(named_params, 100U);
    for (const auto& [type, method] : registered_commands()) {
        EXPECT_NE(method, nullptr);
        EXPECT_EQ(seen.count(static_cast<int>(type)), 1U) << "command " << static_cast<int>(type) << " has no row";
    }
}
