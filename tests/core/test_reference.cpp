// The command reference a host developer reads (docs/commands.md) against
// the dispatcher's registry, the group flags and the names of the public
// header, so that the reference cannot drift from the code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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

bool is_name_char(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The integer written at `at` (an optional minus sign and digits); false
// when there is none. `at` moves past it.
bool read_number(const std::string& text, std::size_t& at, int& value)
{
    const std::size_t begin = at;
    if (at < text.size() && text[at] == '-') ++at;
    const std::size_t digits = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == digits) {
        at = begin;
        return false;
    }
    value = std::stoi(text.substr(begin, at - begin));
    return true;
}

// Enumerator name -> value of one enumeration of the public header, from
// its lines "    Name = value,".
std::map<std::string, int> enumerators(const std::string& header, const std::string& enumeration)
{
    const std::size_t begin = header.find("enum class " + enumeration + " : std::int32_t {");
    const std::size_t end = header.find("\n};", begin);
    std::map<std::string, int> out;
    if (begin == std::string::npos || end == std::string::npos) return out;
    std::istringstream body(header.substr(begin, end - begin));
    for (std::string line; std::getline(body, line);) {
        std::size_t at = line.find_first_not_of(' ');
        const std::size_t eq = line.find(" = ");
        if (at == std::string::npos || eq == std::string::npos) continue;
        const std::string name = line.substr(at, eq - at);
        at = eq + 3;
        int value = 0;
        if (std::all_of(name.begin(), name.end(), is_name_char) && read_number(line, at, value)) out[name] = value;
    }
    return out;
}

// Every "`Name` (number," of a cell: a parameter; every "number `Name`": a
// result code.
std::vector<std::pair<std::string, int>> named_numbers(const std::string& text, bool code_first)
{
    std::vector<std::pair<std::string, int>> out;
    std::size_t close = 0;
    for (std::size_t open = text.find('`'); open != std::string::npos; open = text.find('`', close + 1)) {
        close = text.find('`', open + 1);
        if (close == std::string::npos) break;
        const std::string name = text.substr(open + 1, close - open - 1);
        if (name.empty() || !std::all_of(name.begin(), name.end(), is_name_char)) continue;
        int value = 0;
        if (code_first) {
            // "number `Name`": the number ends at the blank before the name.
            if (open < 2 || text[open - 1] != ' ') continue;
            std::size_t at = open - 1;
            while (at > 0 && (std::isdigit(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '-')) --at;
            if (read_number(text, at, value) && at == open - 1) out.emplace_back(name, value);
        } else {
            std::size_t at = close + 1;
            if (text.compare(at, 2, " (") != 0) continue;
            at += 2;
            if (read_number(text, at, value) && at < text.size() && text[at] == ',') out.emplace_back(name, value);
        }
    }
    return out;
}

struct reference_row {
    int number = 0;
    std::string name;
    bool several_scales = false;
    std::string rest;  // inputs, outputs and result codes
};

// The rows "| number | `name` | yes or no | ... |" of the tables.
std::vector<reference_row> rows_of(const std::string& reference)
{
    std::vector<reference_row> rows;
    std::istringstream in(reference);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 2, "| ") != 0) continue;
        std::size_t at = 2;
        reference_row row;
        if (!read_number(line, at, row.number) || line.compare(at, 4, " | `") != 0) continue;
        at += 4;
        const std::size_t close = line.find('`', at);
        if (close == std::string::npos) continue;
        row.name = line.substr(at, close - at);
        at = close + 1;
        if (line.compare(at, 8, " | yes |") == 0)
            row.several_scales = true;
        else if (line.compare(at, 7, " | no |") != 0)
            continue;
        row.rest = line.substr(line.find('|', at + 3));
        rows.push_back(row);
    }
    return rows;
}

class CommandReference : public ::testing::Test {
protected:
    void SetUp() override
    {
        header = file_text(QV_SOURCE_DIR "/include/quorvix_types.h");
        rows = rows_of(file_text(QV_SOURCE_DIR "/docs/commands.md"));
        commands = enumerators(header, "CommandType");
        ASSERT_FALSE(commands.empty());
        ASSERT_FALSE(rows.empty());
    }
    std::string header;
    std::vector<reference_row> rows;
    std::map<std::string, int> commands;
};

}  // namespace

TEST_F(CommandReference, OneRowPerRegisteredCommandWithItsNameAndGroupFlag)
{
    std::set<int> seen;
    for (const reference_row& row : rows) {
        SCOPED_TRACE("row " + std::to_string(row.number) + " " + row.name);
        EXPECT_TRUE(seen.insert(row.number).second) << "two rows";
        const auto type = static_cast<CommandType>(row.number);
        EXPECT_EQ(registered_commands().count(type), 1U) << "not registered";
        const auto named = commands.find(row.name);
        ASSERT_NE(named, commands.end()) << "no such CommandType";
        EXPECT_EQ(named->second, row.number);
        const auto flag = vocab::broadcast_validation().find(type);
        ASSERT_NE(flag, vocab::broadcast_validation().end());
        EXPECT_EQ(flag->second, row.several_scales);
    }
    for (const auto& [type, method] : registered_commands())
        EXPECT_EQ(seen.count(static_cast<int>(type)), 1U) << "command " << static_cast<int>(type) << " has no row";
}

TEST_F(CommandReference, EveryParameterAndResultCodeNamedWithItsNumber)
{
    const std::map<std::string, int> params = enumerators(header, "ParamType");
    const std::map<std::string, int> codes = enumerators(header, "ErrorType");
    for (const reference_row& row : rows) {
        SCOPED_TRACE("row " + std::to_string(row.number) + " " + row.name);
        // The last cell holds the result codes; the others the parameters.
        const std::size_t last_cell = row.rest.rfind('|', row.rest.size() - 2);
        const std::string cells = row.rest.substr(0, last_cell);
        const std::string result_cell = row.rest.substr(last_cell);
        for (const auto& [name, number] : named_numbers(cells, false)) {
            const auto found = params.find(name);
            ASSERT_NE(found, params.end()) << name;
            EXPECT_EQ(found->second, number) << name;
        }
        for (const auto& [name, number] : named_numbers(result_cell, true)) {
            const auto found = codes.find(name);
            ASSERT_NE(found, codes.end()) << name;
            EXPECT_EQ(found->second, number) << name;
        }
    }
}
