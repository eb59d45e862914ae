// The command reference a host developer reads (docs/commands.md) held to the code: every row's number, name and
// group flag against the dispatcher's registry and the public header, and every input's kind, requirement, range and
// example run against the simulated scale, its texts as long as one UDP datagram too.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12 warns inside <regex> at -O1: a false alarm
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "../commands/files/files_test_util.h"
#include "codecs/device_utils.h"
#include "commands/prediction/polling.h"
#include "core/command.h"
#include "core/vocab/vocab_commands.h"
#include "core/vocab/vocab_params.h"

namespace {

using bytes = std::vector<std::byte>;

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

// ---- The written form of an input: `Name` (number, kind, requirement, range, e.g. example; prose).

struct condition {
    std::string param;  // another input of the row
    std::vector<long long> values;  // "is V or W"; empty: "is absent"
    bool negated = false;  // "is not V"
};

enum class unit { none, number, bytes, characters, records };

struct range {
    unit of = unit::none;
    std::optional<long long> lo, hi, also;
};

struct input {
    std::string name;
    int number = 0;
    std::string kind;  // int, string, bytes
    bool required = false;
    int absent_code = -7;
    std::optional<int> wrong_kind_code = -8;  // none: such a value counts as absent
    bool any_kind = false;  // a value of another kind is taken too
    std::vector<condition> when;  // "when A is absent and B is 2": all of them
    range limits;
    std::string example;  // as written after "e.g. "
    std::string text;  // everything inside the brackets
};

struct row {
    int number = 0;
    std::string name;
    bool group = false;
    std::vector<input> inputs;
    std::string line;
};

std::string lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Splits at `sep` outside double quotes and brackets.
std::vector<std::string> split_top(const std::string& text, char sep)
{
    std::vector<std::string> out(1);
    int depth = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (!quoted && c == '(') ++depth;
        if (!quoted && c == ')') --depth;
        if (c == sep && !quoted && depth == 0)
            out.emplace_back();
        else
            out.back() += c;
    }
    for (std::string& part : out) {
        part.erase(0, part.find_first_not_of(' '));
        part.erase(part.find_last_not_of(' ') + 1);
    }
    return out;
}

// Reads one field after the kind into `in`; false for a field of no known form.
bool read_field(const std::string& f, input& in)
{
    static const std::regex requirement(R"((required|optional)(?: when (.+))?)");
    static const std::regex is(R"((\w+) is (not )?(absent|-?\d+(?: or -?\d+)*))");
    static const std::regex numbers(R"((-?\d+) to (-?\d+)(?: or (-?\d+))?)");
    static const std::regex sizes(R"((up to )?(\d+) (bytes|characters))");
    static const std::regex bound(R"(at (least|most) (-?\d+))"), records(R"((\d+) to (\d+) records)");
    static const std::regex number(R"(-?\d+)");
    std::smatch m;
    if (std::regex_match(f, m, requirement)) {
        in.required = m[1] == "required";
        const std::string conditions = m[2];
        for (std::size_t at = 0; m[2].matched && at <= conditions.size();) {
            const std::size_t next = std::min(conditions.find(" and ", at), conditions.size());
            const std::string one = conditions.substr(at, next - at);
            std::smatch c;
            if (!std::regex_match(one, c, is)) return false;
            in.when.push_back({c[1].str(), {}, c[2].matched});
            if (c[3] != "absent")
                for (std::sregex_iterator v(c[3].first, c[3].second, number), end; v != end; ++v)
                    in.when.back().values.push_back(std::stoll(v->str()));
            at = next + 5;
        }
    } else if (f == "-104 when absent") {
        in.absent_code = -104;
    } else if (f == "another kind counts as absent") {
        in.wrong_kind_code = std::nullopt;
    } else if (f == "any kind") {
        in.any_kind = true;
    } else if (std::regex_match(f, m, numbers)) {
        in.limits = {unit::number, std::stoll(m[1]), std::stoll(m[2]), std::nullopt};
        if (m[3].matched) in.limits.also = std::stoll(m[3]);
    } else if (std::regex_match(f, m, bound)) {
        in.limits.of = unit::number;
        (m[1] == "least" ? in.limits.lo : in.limits.hi) = std::stoll(m[2]);
    } else if (std::regex_match(f, m, sizes)) {
        in.limits = {m[3] == "bytes" ? unit::bytes : unit::characters, m[1].matched ? 0 : std::stoll(m[2]),
                     std::stoll(m[2]), std::nullopt};
    } else if (std::regex_match(f, m, records)) {
        in.limits = {unit::records, std::stoll(m[1]), std::stoll(m[2]), std::nullopt};
    } else if (f.rfind("e.g. ", 0) == 0) {
        in.example = f.substr(5);
    } else {
        return false;
    }
    return true;
}

// The inputs of one cell; "each of the **list**" stands for every parameter of that list.
std::vector<input> read_inputs(const std::string& cell, const std::map<std::string, std::vector<input>>& lists)
{
    std::vector<input> out;
    if (cell == "-") return out;
    static const std::regex named(R"(`(\w+)` \((.*)\))"), listed(R"(each of the \*\*(.+)\*\* \((.*)\))");
    for (const std::string& entry : split_top(cell, ';')) {
        std::smatch m;
        const bool is_named = std::regex_match(entry, m, named);
        if (!is_named && !std::regex_match(entry, m, listed)) {
            ADD_FAILURE() << "unreadable input: " << entry;
            continue;
        }
        std::vector<std::string> fields = split_top(split_top(m[2].str(), ';').front(), ',');
        input in;
        in.text = m[2].str();
        if (is_named) {
            in.name = m[1];
            in.number = std::stoi(fields.front());
            fields.erase(fields.begin());
        }
        in.kind = fields.front();
        for (std::size_t k = 1; k < fields.size(); ++k)
            if (!read_field(fields[k], in)) ADD_FAILURE() << "unreadable field \"" << fields[k] << "\" in " << entry;
        if (in.example.empty()) ADD_FAILURE() << "no example in " << entry;
        if (is_named) {
            out.push_back(in);
            continue;
        }
        const auto list = lists.find(lower(m[1]));
        if (list == lists.end()) ADD_FAILURE() << "no list " << m[1];
        for (const input& member : list == lists.end() ? std::vector<input>{} : list->second) {
            input each = in;
            each.name = member.name;
            each.number = member.number;
            out.push_back(each);
        }
    }
    return out;
}

struct reference {
    std::vector<row> rows;
    std::multimap<std::string, int> named_params;  // every `Name` (number, of the rows
    std::multimap<std::string, int> named_codes;  // every "number `Name`" of the result-code cells
};

reference read_reference()
{
    const std::string text = file_text(QV_SOURCE_DIR "/docs/commands.md");
    // "- **Font list** (11, 12): `FontGoodsName` (144), ..."
    std::map<std::string, std::vector<input>> lists;
    static const std::regex list_line(R"(- \*\*(.+?)\*\* \([\d, ]+\): (.*))");
    for (std::sregex_iterator m(text.begin(), text.end(), list_line), end; m != end; ++m) {
        const std::string name = lower((*m)[1]);
        for (const auto& [param, number] : pairs((*m)[2], R"(`(\w+)` \((\d+)\))", 1, 2))
            lists[name].push_back({param, number, "", false, -7, -8, false, {}, {}, "", ""});
    }
    reference out;
    std::istringstream lines(text);
    static const std::regex row_re(R"(^\| (-?\d+) \| `(\w+)` \| (yes|no) \| (.*) \| (.*) \| (.*) \|$)");
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row_re)) continue;
        SCOPED_TRACE(line.substr(0, 60));
        out.rows.push_back({std::stoi(m[1]), m[2], m[3] == "yes", read_inputs(m[4], lists), line});
        for (const auto& p : pairs(m[4].str() + m[5].str(), R"(`(\w+)` \((-?\d+),)", 1, 2)) out.named_params.insert(p);
        for (const auto& c : pairs(m[6], R"((?:^|[^\d-])(-?\d+) `(\w+)`)", 2, 1)) out.named_codes.insert(c);
    }
    return out;
}

// ---- What fits one datagram.

// What an input says when a value of it can make a request longer than one UDP datagram.
const std::string udp_limit = "over UDP, the whole request must fit one datagram";
constexpr long long max_datagram = 65507;

// The bytes that "How to read the tables" gives an input of a command for one datagram: the inputs counted together
// with it (itself included) and, for an upload, whether the "/" and the file's name after the folder count too.
struct datagram_room {
    std::vector<std::string> together;
    bool with_file_name = false;
    long long bytes = 0;
};

// From its entries "2 `Time` 65500; 114 and 115 `FolderOnScale` 65497; 96 `NameFirst`, `NameSecond` and `ROSTEST`
// 65474; ...", by command and input.
std::map<std::pair<int, std::string>, datagram_room> datagram_rooms(const std::string& text)
{
    std::map<std::pair<int, std::string>, datagram_room> out;
    const std::size_t begin = text.find("- **One datagram**");
    if (begin == std::string::npos) return out;
    const std::string bullet =
        std::regex_replace(text.substr(begin, text.find("\n- **", begin + 1) - begin), std::regex("\n +"), " ");
    std::smatch list;
    if (!std::regex_search(bullet, list, std::regex(R"(as stored\): ([^.]*)\.)"))) return out;
    static const std::regex entry(R"((\d+(?:(?:, | and )\d+)*) (`\w+`(?:(?:, | and )`\w+`)*))"
                                  R"((, a "/" at its end \(added where it has none\) and the file's name)? (\d+))");
    static const std::regex number(R"(\d+)"), name(R"(`(\w+)`)");
    for (const std::string& one : split_top(list[1], ';')) {
        std::smatch m;
        if (!std::regex_match(one, m, entry)) {
            ADD_FAILURE() << "unreadable entry under One datagram: " << one;
            continue;
        }
        datagram_room room;
        for (std::sregex_iterator n(m[2].first, m[2].second, name), end; n != end; ++n)
            room.together.push_back((*n)[1]);
        room.with_file_name = m[3].matched;
        room.bytes = std::stoll(m[4]);
        for (std::sregex_iterator c(m[1].first, m[1].second, number), end; c != end; ++c)
            for (const std::string& in : room.together) out[{std::stoi(c->str()), in}] = room;
    }
    return out;
}

// ---- Running a row against the simulated scale.

// What a row needs around it, beyond its inputs at their example values.
struct setup {
    bool no_scale = false;  // the command fills the scale list itself
    bool scale_address = false;  // Ip and Port name the simulated scale
    std::vector<int> before;  // commands run first, with their own examples and the values they share with this run
    std::vector<std::string> local_files;  // made under the root folder (a "/" makes the folder too)
    bytes may_precede;  // a request that may reach the scale before a refusal: the extended PLU record's switch
};

const std::map<int, setup>& setups()
{
    // command: no scale, scale address, commands before, local files, request that may precede a refusal
    static const std::map<int, setup> table{
        {0, {true, true, {}, {}, {}}},
        {79, {true, false, {}, {}, {}}},
        {23, {false, false, {22}, {}, {}}},
        {28, {false, false, {27}, {}, {}}},
        {97, {false, false, {96}, {}, {}}},
        {99, {false, false, {98}, {}, {}}},
        {32, {false, false, {31}, {}, {}}},
        {102, {false, false, {101}, {}, {}}},
        {114, {false, false, {115}, {}, {}}},
        {48, {false, false, {}, {"notes.txt"}, {}}},
        {113, {false, false, {}, {"outbox/notes.txt"}, {}}},
        {25, {false, false, {}, {}, qv_sim::to_bytes({0x8C})}},
        {27, {false, false, {}, {}, qv_sim::to_bytes({0x8C})}},
        {98, {false, false, {}, {}, qv_sim::to_bytes({0x8C})}},
    };
    return table;
}

struct other_kind {};  // the input stored as a kind the row does not give it
// int, UTF-8 text, bytes, and a wide text stored as it is (one a UTF-8 text cannot carry)
using value = std::variant<long long, std::string, bytes, other_kind, std::wstring>;
using values = std::map<std::string, std::optional<value>>;  // by input name; nullopt: left out

// The command whose runs fill an input written "e.g. collected by N"; 0 for any other example.
int collector(const input& in)
{
    const std::string mark = "collected by ";
    return in.example.rfind(mark, 0) == 0 ? std::stoi(in.example.substr(mark.size())) : 0;
}

bytes hex_bytes(const std::string& text)
{
    bytes out;
    std::istringstream in(text);
    for (std::string h; in >> h;) out.push_back(static_cast<std::byte>(std::stoi(h, nullptr, 16)));
    return out;
}

struct outcome {
    int result = 0;
    std::size_t sent = 0;  // requests that reached the scale, the allowed preliminary one aside
    std::vector<bytes> frames;  // those requests
    std::size_t all = 0;  // every request that reached the scale
    std::string log;  // what the in-memory log gained meanwhile
};

// Whether `log` holds a warning "refused ..." that names `in` as "(number) Name" (by number alone where the
// parameter-name table has no name).
bool refusal_logged(const std::string& log, const input& in)
{
    const char* name = vocab::param_name(static_cast<ParamType>(in.number));
    const std::string tag = "\"(" + std::to_string(in.number) + ")" + (name ? std::string(" ") + name : "") + "\": ";
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t refused = line.find("]: refused ");
        if (line.find("][warning][") != std::string::npos && refused != std::string::npos &&
            line.find(tag, refused) != std::string::npos)
            return true;
    }
    return false;
}

// The scale's own settings that a condition may name, with the command that sets each: a run of a row with such a
// condition sets it first, to the value the condition needs or else 0.
const std::map<std::string, int>& scale_settings()
{
    static const std::map<std::string, int> table{{"UseGroupCodeAsProp", 42}};
    return table;
}

bool names_setting(const row& r, const std::string& setting)
{
    for (const input& in : r.inputs)
        for (const condition& c : in.when)
            if (c.param == setting) return true;
    return false;
}

class ReferenceRun : public files_test::files_fixture {
protected:
    void SetUp() override
    {
        files_fixture::SetUp();
        Logger::set_filter(3);  // some thousand commands: their info lines would take most of the time
        saved_polls_ = qv_polling_internal::timing();
        qv_polling_internal::timing().recognition_period = qv_polling_internal::timing().encryption_period =
            qv_polling_internal::timing().reset_period = std::chrono::milliseconds(5);
        ref_ = read_reference();
        for (const row& r : ref_.rows) by_number_[r.number] = &r;
    }
    void TearDown() override
    {
        qv_polling_internal::timing() = saved_polls_;
        Logger::set_filter(2);
        files_fixture::TearDown();
    }

    // The example of `in`, or the value this run gives it.
    value example_of(const input& in)
    {
        const std::string& e = in.example;
        if (in.name == "Ip" && setups().count(current_) && setups().at(current_).scale_address) return sim_->ip();
        if (in.name == "Port" && setups().count(current_) && setups().at(current_).scale_address)
            return sim_->port_text();
        if (e.rfind("hex ", 0) == 0) return hex_bytes(e.substr(4));
        if (e.front() == '"') return e.substr(1, e.size() - 2);
        static const std::regex number(R"(-?\d+)");
        if (!std::regex_match(e, number)) throw std::invalid_argument("unreadable example " + e);
        return std::stoll(e);
    }

    void store(device& d, const input& in, const value& v)
    {
        const auto p = static_cast<ParamType>(in.number);
        if (std::holds_alternative<other_kind>(v)) {
            if (in.kind == "int")
                d.set_string_param(p, d.input_params, L"1", false);
            else
                d.set_int_param(p, d.input_params, 1, false);
        } else if (std::holds_alternative<std::wstring>(v)) {
            d.set_string_param(p, d.input_params, std::get<std::wstring>(v), false);
        } else if (in.kind == "int") {
            d.set_int_param(p, d.input_params, static_cast<int>(std::get<long long>(v)), false);
        } else if (in.kind == "string") {
            const std::string text = std::holds_alternative<long long>(v) ? std::to_string(std::get<long long>(v))
                                                                          : std::get<std::string>(v);
            d.set_string_param(p, d.input_params, device_utils::wstr(text), false);
        } else {
            d.set_bytes_array_param(
                p, d.input_params,
                std::holds_alternative<bytes>(v) ? std::get<bytes>(v) : device_test::bytes_of(std::get<std::string>(v)),
                false);
        }
    }

    // Runs command `number` on a new device with the scale in its list: first the set-up, then every input of the
    // row at its example unless `given` says otherwise.
    outcome run(int number, const values& given)
    {
        const row& r = *by_number_.at(number);
        const int outer = current_;
        current_ = number;
        const setup s = setups().count(number) ? setups().at(number) : setup{};
        device d;
        d.timeout_seconds = 2;
        d.driver_root_folder = device_test::bytes_of(dir);
        if (!s.no_scale) send_test::add_scale(d, *sim_, protocol_);
        for (const std::string& f : s.local_files) write(f, device_test::bytes_of("example content\n"));
        values effective;  // this run's value of each input
        for (const input& in : r.inputs) {
            const auto g = given.find(in.name);
            if (g != given.end())
                effective[in.name] = g->second;
            else if (collector(in) == 0)
                effective[in.name] = example_of(in);
        }
        for (const auto& [name, setter] : scale_settings())
            if (names_setting(r, name)) {
                const auto g = given.find(name);
                step_on(d, setter, {{name, g != given.end() && g->second ? *g->second : value(0LL)}});
            }
        for (int step : s.before) step_on(d, step, effective);
        std::set<ParamType> collected;
        for (const input& in : r.inputs)
            if (effective.find(in.name) == effective.end()) {
                step_on(d, collector(in), {});
                collected.insert(static_cast<ParamType>(in.number));
            }
        // A collector keeps the input map: only what it collected is this run's, not the inputs it was given.
        if (!collected.empty())
            for (auto it = d.input_params.begin(); it != d.input_params.end();)
                it = collected.count(it->first) ? std::next(it) : d.input_params.erase(it);
        const std::size_t mark = sim_->request_count();
        for (const input& in : r.inputs) {
            const auto e = effective.find(in.name);
            if (e != effective.end() && e->second) store(d, in, *e->second);
        }
        const outcome o = execute(d, number, mark, s.may_precede);
        current_ = outer;
        return o;
    }

    // Runs `number` on `d` and counts the requests that reached the scale since `mark`.
    outcome execute(device& d, int number, std::size_t mark, const bytes& may_precede = {})
    {
        const std::size_t logged = Logger::get_memory_log_data().size();
        outcome o{d.execute_command(number), 0, {}, 0, {}};
        const std::string log = Logger::get_memory_log_data();
        // Trimmed meanwhile (it drops a mebibyte at a time): its last part.
        o.log = log.size() >= logged ? log.substr(logged)
                                     : log.substr(log.size() - std::min<std::size_t>(log.size(), 1 << 16));
        const auto requests = sim_->requests();
        for (std::size_t k = mark; k < requests.size(); ++k)
            if (may_precede.empty() || requests[k].command != may_precede) o.frames.push_back(requests[k].frame);
        o.sent = o.frames.size();
        o.all = requests.size() - mark;
        return o;
    }

    // Runs `number` on `d` (a set-up, a collector or one step of a statement): each input of its row as `given`
    // says (left out when nullopt) or at its example; a block buffer is what earlier steps collected.
    outcome step_on(device& d, int number, const values& given)
    {
        const int outer = current_;
        current_ = number;
        for (const input& in : by_number_.at(number)->inputs) {
            const auto g = given.find(in.name);
            if (g != given.end()) {
                if (g->second) store(d, in, *g->second);
            } else if (collector(in) == 0) {
                store(d, in, example_of(in));
            }
        }
        const outcome o = execute(d, number, sim_->request_count());
        current_ = outer;
        return o;
    }

    // A value of the size `n` in the input's unit, built from its example; a buffer that a command collects is built
    // from one record it collected (whole records, or `n` bytes of them).
    value sized(const input& in, long long n)
    {
        const auto count = static_cast<std::size_t>(n);
        if (collector(in) != 0 && record_.empty()) {
            device d;
            send_test::add_scale(d, *sim_, 1);
            step_on(d, collector(in), {});
            d.get_bytes_array_param(static_cast<ParamType>(in.number), d.input_params, record_, false);
        }
        if (in.limits.of == unit::records) {
            bytes out;
            for (std::size_t k = 0; k < count; ++k) out.insert(out.end(), record_.begin(), record_.end());
            return out;
        }
        const value e = collector(in) != 0 ? value(record_) : example_of(in);
        if (!std::holds_alternative<bytes>(e)) return std::string(count, 'a');
        const bytes& pattern = std::get<bytes>(e);
        bytes out(count);
        for (std::size_t k = 0; k < count; ++k) out[k] = pattern[k % pattern.size()];
        return out;
    }

    // The values that put `in`'s conditions in force, a scale setting's included; `settable` turns false when a
    // condition names neither an input of the row nor a setting the run can put in place.
    values conditioned(const row& r, const input& in, bool* settable = nullptr)
    {
        values v;
        if (settable) *settable = true;
        for (const condition& c : in.when) {
            bool named = false;
            for (const input& other : r.inputs) named = named || other.name == c.param;
            if (!named && scale_settings().count(c.param) != 0 && !c.values.empty() && !c.negated)
                v[c.param] = c.values.front();
            else if (!named && settable)
                *settable = false;
            for (const input& other : r.inputs) {
                if (other.name != c.param) continue;
                if (c.values.empty())
                    v[other.name] = std::nullopt;
                else if (!c.negated)
                    v[other.name] = c.values.front();
                else
                    EXPECT_NE(std::get<long long>(example_of(other)), c.values.front()) << "example of " << other.name;
            }
        }
        return v;
    }

    // A value of `n` bytes that no request can carry whole in one datagram once `n` reaches its size: the example's
    // bytes over and over for a byte example; otherwise text in parts of 255 bytes between "/", which an input read as
    // a path takes too (49 keeps the last part as a local file name, which a file system limits to 255 bytes).
    value long_value(const input& in, long long n)
    {
        if (collector(in) != 0 || std::holds_alternative<bytes>(example_of(in))) return sized(in, n);
        std::string text(static_cast<std::size_t>(n), 'a');
        for (std::size_t k = 255; k + 1 < text.size(); k += 256) text[k] = '/';
        return text;
    }

    // The bytes of the example of `in` as sent: a text's in UTF-8.
    std::size_t example_size(const input& in)
    {
        const value e = example_of(in);
        return std::holds_alternative<bytes>(e) ? std::get<bytes>(e).size() : std::get<std::string>(e).size();
    }

    struct udp_outcome {
        outcome run;
        std::optional<long long> refused;  // the size of a request refused as longer than one datagram
    };

    // Runs `number` as `given` says to a UDP scale; a row that names the scale's protocol is given 0.
    udp_outcome over_udp(int number, values given)
    {
        for (const input& in : by_number_.at(number)->inputs)
            if (in.name == "Protocol") given[in.name] = 0LL;
        protocol_ = 0;
        udp_outcome out{run(number, given), std::nullopt};
        protocol_ = 1;
        const std::string ip = std::regex_replace(sim_->ip(), std::regex(R"(\.)"), R"(\.)");
        const std::regex line(R"(\]: refused request for )" + ip +
                              R"(: (\d+) bytes over UDP; allowed: at most 65507 bytes, one datagram)");
        std::smatch m;
        if (out.run.result == -104 && std::regex_search(out.run.log, m, line)) out.refused = std::stoll(m[1]);
        return out;
    }

    reference ref_;
    std::map<int, const row*> by_number_;
    std::unique_ptr<qv_sim::sim_scale> sim_;
    int current_ = 0;
    int protocol_ = 1;  // of the scale a run puts in the list: TCP unless a check says otherwise
    bytes record_;

private:
    qv_polling_internal::poll_timing saved_polls_;
};

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
    const reference ref = read_reference();
    std::set<int> seen;
    for (const row& r : ref.rows) {
        SCOPED_TRACE(r.line.substr(0, 60));
        EXPECT_TRUE(seen.insert(r.number).second) << "two rows";
        const auto type = static_cast<CommandType>(r.number);
        EXPECT_EQ(registered_commands().count(type), 1U) << "not registered";
        EXPECT_EQ(commands.count(r.name) ? commands.at(r.name) : -9999, r.number) << "no such CommandType";
        const auto flag = vocab::broadcast_validation().find(type);
        ASSERT_NE(flag, vocab::broadcast_validation().end());
        EXPECT_EQ(flag->second, r.group);
    }
    EXPECT_GT(ref.named_params.size(), 300U);
    for (const auto& [name, value] : ref.named_params)
        EXPECT_EQ(params.count(name) ? params.at(name) : -9999, value) << name;
    for (const auto& [name, value] : ref.named_codes)
        EXPECT_EQ(codes.count(name) ? codes.at(name) : -9999, value) << name;
    for (const auto& [type, method] : registered_commands()) {
        EXPECT_NE(method, nullptr);
        EXPECT_EQ(seen.count(static_cast<int>(type)), 1U) << "command " << static_cast<int>(type) << " has no row";
    }
}

// Every row against the simulated scale: at its examples the command answers 0; without a required input it answers
// -7 (or the -104 its row gives), with any input of another kind -8, and sends nothing, unless the row says such a
// value counts as absent (then the command answers and sends as without it) or is taken; each end of a range is
// accepted, one past it answers -104 and sends nothing. Each such -104 leaves a "refused" warning that names the input.
// A condition on the scale's group-code switch is put in place first.
TEST_F(ReferenceRun, EveryRowHoldsAgainstTheSimulatedScale)
{
    ASSERT_GT(ref_.rows.size(), 140U);
    for (const row& r : ref_.rows) try {
            SCOPED_TRACE(r.line.substr(0, 60));
            sim_ = std::make_unique<qv_sim::sim_scale>("127.0.0.61");
            qv_sim::add_standard_replies(*sim_);
            record_.clear();
            EXPECT_EQ(run(r.number, {}).result, 0) << "at the examples";
            for (const input& in : r.inputs) {
                SCOPED_TRACE(in.name);
                bool settable = true;
                values v = conditioned(r, in, &settable);
                if (!in.required && settable) {
                    v[in.name] = other_kind{};
                    const outcome o = run(r.number, v);
                    if (in.any_kind) {
                        EXPECT_EQ(o.result, 0) << "of another kind";
                    } else if (in.wrong_kind_code) {
                        EXPECT_EQ(o.result, *in.wrong_kind_code) << "of another kind";
                        EXPECT_EQ(o.sent, 0U) << "of another kind";
                    } else {
                        v[in.name] = std::nullopt;
                        const outcome absent = run(r.number, v);
                        EXPECT_EQ(o.result, absent.result) << "of another kind, as absent";
                        // The same requests; a status poll may be asked once more or less.
                        EXPECT_EQ(std::set<bytes>(o.frames.begin(), o.frames.end()),
                                  std::set<bytes>(absent.frames.begin(), absent.frames.end()))
                            << "of another kind, as absent";
                    }
                    v.erase(in.name);
                }
                if (in.required) {
                    for (const auto& [given, code] :
                         {std::pair{std::optional<value>(), in.absent_code},
                          std::pair{std::optional<value>(other_kind{}), in.wrong_kind_code.value_or(in.absent_code)}}) {
                        v[in.name] = given;
                        const outcome o = run(r.number, v);
                        EXPECT_EQ(o.result, code) << (given ? "of another kind" : "absent");
                        EXPECT_EQ(o.sent, 0U) << (given ? "of another kind" : "absent");
                        if (code == -104) {
                            EXPECT_TRUE(refusal_logged(o.log, in)) << "no refusal line";
                        }
                    }
                }
                const range& lim = in.limits;
                if (lim.of == unit::none) continue;
                std::vector<std::pair<long long, bool>> cases;  // value or size, accepted
                constexpr long long int_min = std::numeric_limits<int>::min(),
                                    int_max = std::numeric_limits<int>::max();
                if (lim.lo) cases.insert(cases.end(), {{*lim.lo, true}, {*lim.lo - 1, false}});
                if (lim.hi) cases.insert(cases.end(), {{*lim.hi, true}, {*lim.hi + 1, false}});
                if (lim.also) cases.push_back({*lim.also, true});
                for (const auto& [n, accepted] : cases) {
                    if (n < (lim.of == unit::number ? int_min : 0) || n > int_max) continue;
                    SCOPED_TRACE(n);
                    v[in.name] = lim.of == unit::number ? value(n) : sized(in, n);
                    const outcome o = run(r.number, v);
                    const bool refused = o.result == -104 && o.sent == 0;
                    if (accepted)
                        EXPECT_TRUE(o.result == 0 || (o.sent > 0 && o.result != -104 && o.result != -7)) << o.result;
                    else
                        EXPECT_TRUE(refused && refusal_logged(o.log, in)) << o.result << ", sent " << o.sent << o.log;
                }
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << r.line.substr(0, 60) << ": " << e.what();
        }
}

// Every text and byte input, as long as its range allows up to one datagram's size, to a UDP scale: the command
// refuses its request as longer than one datagram exactly where the input says so, and sends nothing but what may
// precede a refusal (a command that sends nothing, a collector, is exempt). For each input so refused, the longest
// value that goes out is the one "How to read the tables" gives, less what the inputs counted with it hold at their
// examples; and it gives no other.
TEST_F(ReferenceRun, EveryInputThatCanOverflowADatagramSaysSo)
{
    const auto rooms = datagram_rooms(file_text(QV_SOURCE_DIR "/docs/commands.md"));
    ASSERT_GT(rooms.size(), 15U);
    std::set<std::pair<int, std::string>> overflowing;
    for (const row& r : ref_.rows) try {
            SCOPED_TRACE(r.line.substr(0, 60));
            sim_ = std::make_unique<qv_sim::sim_scale>("127.0.0.61");
            qv_sim::add_standard_replies(*sim_);
            record_.clear();
            const setup s = setups().count(r.number) ? setups().at(r.number) : setup{};
            for (const input& in : r.inputs) {
                if ((in.kind != "string" && in.kind != "bytes") || in.limits.of == unit::number ||
                    in.limits.of == unit::records)
                    continue;
                // The scale's own address goes to the resolver, never to a scale.
                if (s.scale_address && (in.name == "Ip" || in.name == "Port")) continue;
                SCOPED_TRACE(in.name);
                const long long longest = std::min(in.limits.hi.value_or(max_datagram), max_datagram);
                values v = conditioned(r, in);
                const auto sized_run = [&](long long n) {
                    v[in.name] = long_value(in, n);
                    return over_udp(r.number, v);
                };
                const udp_outcome o = sized_run(longest);
                if (!o.refused && o.run.result == 0 && o.run.all == 0) continue;
                EXPECT_EQ(o.refused.has_value(), in.text.find(udp_limit) != std::string::npos)
                    << longest << " bytes over UDP: " << o.run.result << (o.refused ? ", refused as" : ", not")
                    << " longer than one datagram";
                if (!o.refused) continue;
                overflowing.insert({r.number, in.name});
                EXPECT_EQ(o.run.sent, 0U) << "sent before the refusal";
                // The request grows with the value byte for byte.
                const long long fit = max_datagram - (*o.refused - longest);
                EXPECT_FALSE(sized_run(fit).refused) << fit << " bytes";
                EXPECT_TRUE(sized_run(fit + 1).refused) << fit + 1 << " bytes";
                const auto room = rooms.find({r.number, in.name});
                if (room == rooms.end()) {
                    ADD_FAILURE() << "One datagram gives no bytes for it: " << fit;
                    continue;
                }
                const std::vector<std::string>& together = room->second.together;
                std::size_t given = static_cast<std::size_t>(fit);
                for (const input& other : r.inputs)
                    if (other.name != in.name && std::count(together.begin(), together.end(), other.name) != 0)
                        given += example_size(other);
                // The folder's "/" and the name of the row's local file.
                if (room->second.with_file_name)
                    given += 1 + std::filesystem::path(s.local_files.at(0)).filename().string().size();
                EXPECT_EQ(room->second.bytes, static_cast<long long>(given)) << "under One datagram";
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << r.line.substr(0, 60) << ": " << e.what();
        }
    for (const auto& [key, room] : rooms)
        EXPECT_EQ(overflowing.count(key), 1U)
            << "One datagram gives " << key.first << " `" << key.second << "` bytes, but no value of it overflows one";
}

// The extended records ask every scale of the list for its group-code switch before the record is built. Switches that
// differ refuse the record with -104 and the warning row 25 gives, the first scale's switch in IP text order written;
// a scale that fails the question gives -111 and no switch. Only the question reaches a scale, and the block that 25
// collected stays as it was.
TEST_F(ReferenceRun, AnExtendedRecordNeedsOneSwitchOnEveryScale)
{
    std::smatch warning;
    ASSERT_TRUE(std::regex_search(by_number_.at(25)->line, warning,
                                  std::regex("`(refused [^`]*; allowed: one value on every scale of the list)`")));
    qv_sim::sim_scale other("127.0.0.62");
    qv_sim::add_standard_replies(other);
    {
        device only;
        send_test::add_scale(only, other, 1);
        only.set_int_param(ParamType::UseGroupCodeAsProp, only.input_params, 1, false);
        ASSERT_EQ(only.execute_command(static_cast<int>(CommandType::set_using_group_code)), 0);
    }
    for (const int number : {25, 27, 98})
        for (const bool answers : {true, false}) try {
                SCOPED_TRACE(std::to_string(number) + (answers ? ", switches that differ" : ", a scale that fails"));
                sim_ = std::make_unique<qv_sim::sim_scale>("127.0.0.61");
                qv_sim::add_standard_replies(*sim_);
                device d;
                d.timeout_seconds = 2;
                send_test::add_scale(d, *sim_, 1);
                bytes block;  // collected before: 25 keeps it
                if (number == 25) {
                    EXPECT_EQ(step_on(d, 25, {}).result, 0);
                    d.get_bytes_array_param(ParamType::PluBlock, d.input_params, block, false);
                }
                if (answers)
                    send_test::add_scale(d, other, 1);
                else
                    d.ip_address_list.push_back({"127.0.0.63", sim_->port_text(), "1234", 1, ""});  // nobody there
                const std::size_t asked = other.request_count();
                const outcome o = step_on(d, number, {});
                EXPECT_EQ(o.result, answers ? -104 : -111);
                EXPECT_EQ(o.all, 1U) << "the switch question alone";
                int use_group_code = -1;
                EXPECT_EQ(d.get_int_param(ParamType::UseGroupCodeAsProp, d.output_params, use_group_code, false),
                          answers ? 0 : -7);
                if (answers) {
                    EXPECT_EQ(use_group_code, 0) << "the switch of " << sim_->ip();
                    EXPECT_EQ(other.request_count(), asked + 1);
                    const std::string line = std::regex_replace(
                        std::regex_replace(warning[1].str(), std::regex("192\\.0\\.2\\.10"), sim_->ip()),
                        std::regex("192\\.0\\.2\\.11"), other.ip());
                    EXPECT_NE(o.log.find(line), std::string::npos) << line << "\n" << o.log;
                }
                if (number == 25) {
                    bytes after;
                    d.get_bytes_array_param(ParamType::PluBlock, d.input_params, after, false);
                    EXPECT_EQ(after.size(), 82U);
                    EXPECT_EQ(after, block);
                }
            } catch (const std::exception& e) {
                ADD_FAILURE() << number << ": " << e.what();
            }
}

// What the rows and the README's account of the simulated scale say beyond the fixed form, each statement a run of
// steps on one device against the simulated scale: the command, the inputs given (nullopt: left out; the others at
// their examples), its result, the requests that reached the scale (none: not counted) and outputs by name: ints, and
// bytes as text.
TEST_F(ReferenceRun, StatementsOfTheRowsHold)
{
    struct step {
        step(int n, values g, int r, std::optional<std::size_t> s, std::map<std::string, long long> o = {},
             std::map<std::string, std::string> t = {})
            : number(n), given(std::move(g)), result(r), sent(s), outputs(std::move(o)), texts(std::move(t))
        {
        }
        int number;
        values given;
        int result;
        std::optional<std::size_t> sent;
        std::map<std::string, long long> outputs;
        std::map<std::string, std::string> texts;  // bytes outputs
    };
    const std::optional<value> out;  // left out
    // 34 and 84 follow the message lines the scale holds: its messages 1 (three lines) and 2 (one), eight lines of
    // message 7 sent in a block, none once 20 cleared the messages.
    std::vector<step> messages{{34, {}, 0, 1, {{"MessagesCount", 2}}},
                               {84, {{"MessageNumber", 1LL}}, 0, 1, {{"StringsCountInMessage", 3}}}};
    for (long long line = 1; line <= 8; ++line)
        messages.push_back({30, {{"MessageNumber", 7LL}, {"StringNumber", line}}, 0, 0});
    messages.insert(messages.end(), {{33, {}, 0, 1},
                                     {84, {{"MessageNumber", 7LL}}, 0, 1, {{"StringsCountInMessage", 8}}},
                                     {34, {}, 0, 1, {{"MessagesCount", 3}}},
                                     {20, {{"TypeDBClearData", 2LL}}, 0, 1},
                                     {34, {}, 0, 1, {{"MessagesCount", 0}}},
                                     {84, {{"MessageNumber", 7LL}}, 124, 1}});
    const values connect_list{
        {"Ip", out}, {"Port", out}, {"AdminPassword", out}, {"Protocol", out}, {"ConnectTimeout", out}};
    const struct {
        const char* what;
        const char* password;  // the admin password the simulated scale checks; none: it checks none
        std::vector<step> steps;
    } statements[] = {
        {"0: with scales in the list, a partial set is ignored and the list is connected",
         nullptr,
         {{0, {{"Ip", "192.0.2.99"}, {"Port", "5001"}, {"AdminPassword", out}}, 0, 2}, {47, {}, 0, 1}}},
        {"0: with all three given the list is emptied first, so a refused one leaves it empty",
         nullptr,
         {{0, {{"Ip", "192.0.2.99"}, {"Port", "70000"}, {"AdminPassword", "1234"}}, -104, 0}, {47, {}, -1, 0}}},
        {"79 takes an address that is no IPv4 text; the next 0 answers -1000, asks no scale and empties the list",
         nullptr,
         {{79, {{"Ip", "127.0.0.256"}}, 0, 0}, {0, connect_list, -1000, 0}, {47, {}, -1, 0}}},
        {"0 in kept-open mode after 79 took an address that is no IPv4 text: -111 with the good scale asked, -1 alone, "
         "and the list emptied",
         nullptr,
         {{143, {{"DriverConnectionType", 1LL}}, 0, 0},
          {79, {{"Ip", "127.0.0.256"}}, 0, 0},
          {0, connect_list, -111, 1},
          {47, {}, -1, 0},
          {79, {{"Ip", "127.0.0.256"}}, 0, 0},
          {0, connect_list, -1, 0},
          {47, {}, -1, 0}}},
        {"0 and 79 refuse a wide password that holds no character: -1000 and nothing sent; 79 leaves the list as it "
         "was, 0 empties it",
         nullptr,
         {{79, {{"Ip", "127.0.0.62"}, {"AdminPassword", std::wstring(L"12") + wchar_t(0xD800) + L"4"}}, -1000, 0},
          {47, {}, 0, 1},
          {0, {{"AdminPassword", std::wstring(L"1234") + wchar_t(0x110000)}}, -1000, 0},
          {47, {}, -1, 0}}},
        {"0 and 79 refuse an empty Ip with -104 and nothing sent; 79 leaves the list as it was, 0 empties it",
         nullptr,
         {{79, {{"Ip", ""}}, -104, 0}, {47, {}, 0, 1}, {0, {{"Ip", ""}}, -104, 0}, {47, {}, -1, 0}}},
        {"over UDP a request is one datagram: 93 with 65496 bytes goes out, one byte more is refused with -104 and "
         "nothing sent; over TCP 65535 bytes go out",
         nullptr,
         {{0, {{"Protocol", 0LL}}, 0, 2},
          {93, {{"StaticTextProp", bytes(65496, std::byte{'a'})}}, 0, 1},
          {93, {{"StaticTextProp", bytes(65497, std::byte{'a'})}}, -104, 0},
          {0, {{"Protocol", 1LL}}, 0, 2},
          {93, {{"StaticTextProp", bytes(65535, std::byte{'a'})}}, 0, 1}}},
        {"over UDP, 111 without NewPassword sends no length for it: PackerName of 65493 bytes goes out, one more is "
         "refused",
         nullptr,
         {{0, {{"Protocol", 0LL}}, 0, 2},
          {111, {{"PackerName", bytes(65493, std::byte{'a'})}, {"NewPassword", out}}, 0, 1},
          {111, {{"PackerName", bytes(65494, std::byte{'a'})}, {"NewPassword", out}}, -104, 0}}},
        {"over UDP, each line collected by 100 takes its text and 5 bytes from 101's MessageString: after two lines of "
         "10 bytes, 65464 bytes go out, one more is refused",
         nullptr,
         {{0, {{"Protocol", 0LL}}, 0, 2},
          {100, {{"MessageString", bytes(10, std::byte{'b'})}, {"StringNumber", 1LL}}, 0, 0},
          {100, {{"MessageString", bytes(10, std::byte{'b'})}, {"StringNumber", 2LL}}, 0, 0},
          {101, {{"MessageString", bytes(65464, std::byte{'a'})}, {"StringNumber", 3LL}}, 0, 1},
          {100, {{"MessageString", bytes(10, std::byte{'b'})}, {"StringNumber", 1LL}}, 0, 0},
          {100, {{"MessageString", bytes(10, std::byte{'b'})}, {"StringNumber", 2LL}}, 0, 0},
          {101, {{"MessageString", bytes(65465, std::byte{'a'})}, {"StringNumber", 3LL}}, -104, 0}}},
        {"98 over UDP: the switch question reaches the scale, and 82 shows its result, when the record is then refused "
         "as longer than one datagram",
         nullptr,
         {{0, {{"Protocol", 0LL}}, 0, 2},
          {98, {{"NameFirst", bytes(65535, std::byte{'a'})}}, -104, 1, {{"UseGroupCodeAsProp", 0}}},
          {82, {}, 0, 0, {}, {{"CommandResults", "127.0.0.61:0:Command completed successful.;"}}}}},
        {"kept-open, a list whose second scale's password is outside the code table: -1000 and the first scale is not "
         "sent to either",
         nullptr,
         {{143, {{"DriverConnectionType", 1LL}}, 0, 0},
          {0, connect_list, 0, 2},
          {79, {{"Ip", "127.0.0.62"}, {"AdminPassword", "12\u4E2D4"}}, 0, 0},
          {47, {}, -1000, 0},
          {80, {}, 0, 0},
          {0, connect_list, -7, 0}}},
        {"24 with the simulated scale: its product database is apart from the PLU records",
         nullptr,
         {{22, {{"PLUNumber", 5LL}}, 0, 1}, {24, {{"PLUNumber", 5LL}}, 128, 1}, {24, {{"PLUNumber", 1LL}}, 0, 1}}},
        {"142 in kept-open mode: every later command fails until the next 0",
         nullptr,
         {{143, {{"DriverConnectionType", 1LL}}, 0, 0},
          {0, connect_list, 0, 2},
          {142, {}, 0, 0},
          {47, {}, -1, 0},
          {29, {}, -1, 0},
          {0, connect_list, 0, 2},
          {47, {}, 0, 1}}},
        {"120 with DriverRootFolder given as text answers -8, and the text stays in the input map for the next 120",
         nullptr,
         {{120, {{"DriverRootFolder", std::wstring(L"/var/lib/quorvix")}}, -8, 0},
          {120, {{"DriverRootFolder", out}}, -8, 0}}},
        {"21 for an item code the scale does not hold", nullptr, {{21, {{"ItemCode", 4242LL}}, 130, 1}}},
        {"84 for a message the scale does not hold", nullptr, {{84, {{"MessageNumber", 999LL}}, 124, 1}}},
        {"7 and 9 send a format above 14, which the scale refuses; 6 refuses it itself",
         nullptr,
         {{7, {{"LabelFormat", 15LL}}, 124, 1},
          {9, {{"LabelFormat", 255LL}}, 124, 1},
          {6, {{"LabelFormat", 15LL}}, -104, 0}}},
        {"a refused 27 ends the block collected by 25",
         nullptr,
         {{25, {}, 0, std::nullopt}, {27, {{"Price", 10000000LL}}, -104, std::nullopt}, {26, {}, -7, 0}}},
        {"27 without its date while the scale's switch is 1 answers -104 and sends nothing but the switch question",
         nullptr,
         {{42, {{"UseGroupCodeAsProp", 1LL}}, 0, 1}, {27, {{"ManufacturedDate", out}}, -104, 1}}},
        {"a refused 31 ends the lines collected by 30",
         nullptr,
         {{30, {}, 0, 0}, {31, {{"StringNumber", 0LL}}, -104, 0}, {33, {}, -7, 0}}},
        {"25 keeps the inputs for the next record: a PLU collected without GroupCode or even its required ShelfLife "
         "gets the earlier record's, and GroupCode 65535 gives one no group",
         nullptr,
         {{25, {{"PLUNumber", 50LL}, {"ShelfLife", 30LL}}, 0, 1},
          {25, {{"PLUNumber", 51LL}, {"GroupCode", out}, {"ShelfLife", out}}, 0, 1},
          {25, {{"PLUNumber", 52LL}, {"GroupCode", 65535LL}}, 0, 1},
          {26, {}, 0, 1},
          {28, {{"PLUNumber", 51LL}}, 0, 2, {{"GroupCode", 12}, {"ShelfLife", 30}}},
          {28, {{"PLUNumber", 52LL}}, 0, 2, {{"GroupCode", 65535}, {"ShelfLife", 14}}}}},
        {"the simulated scale: 34 and 84 count the message lines it holds", nullptr, messages},
        {"5: the instance keeps sending the old password, answered 122, until 0 gives the new one",
         "1234",
         {{5, {{"NewPassword", "4321"}}, 0, 1},
          {47, {}, 122, 1},
          {0, {{"AdminPassword", "4321"}}, 0, 2},
          {58, {}, 0, std::nullopt},
          {47, {}, 0, 1}}},
    };
    for (const auto& statement : statements) try {
            SCOPED_TRACE(statement.what);
            sim_ = std::make_unique<qv_sim::sim_scale>("127.0.0.61");
            if (statement.password) sim_->set_admin_password(statement.password);
            qv_sim::add_standard_replies(*sim_);
            device d;
            d.timeout_seconds = 2;
            d.driver_root_folder = device_test::bytes_of(dir);
            send_test::add_scale(d, *sim_, 1);
            for (const step& s : statement.steps) {
                SCOPED_TRACE(s.number);
                const outcome o = step_on(d, s.number, s.given);
                EXPECT_EQ(o.result, s.result);
                if (s.sent) {
                    EXPECT_EQ(o.all, *s.sent);
                }
                for (const auto& [name, expected] : s.outputs) {
                    int got = -1;
                    const auto number = ref_.named_params.find(name);
                    ASSERT_NE(number, ref_.named_params.end()) << name;
                    EXPECT_EQ(d.get_int_param(static_cast<ParamType>(number->second), d.output_params, got, false), 0);
                    EXPECT_EQ(got, expected) << name;
                }
                for (const auto& [name, expected] : s.texts) {
                    bytes got;
                    const auto number = ref_.named_params.find(name);
                    ASSERT_NE(number, ref_.named_params.end()) << name;
                    EXPECT_EQ(
                        d.get_bytes_array_param(static_cast<ParamType>(number->second), d.output_params, got, false),
                        0);
                    EXPECT_EQ(device_test::text_of(got), expected) << name;
                }
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << statement.what << ": " << e.what();
        }
}

// Every row against a scale whose admin password is another: a command whose requests carry the password answers
// 122; those that "How to read the tables" names as carrying none do not.
TEST_F(ReferenceRun, AWrongPasswordIsAnswered122WhereTheRequestsCarryIt)
{
    const std::string text = file_text(QV_SOURCE_DIR "/docs/commands.md");
    const std::string head = "except those of commands ";
    const std::size_t at = text.find(head);
    ASSERT_NE(at, std::string::npos);
    std::set<int> without;
    for (const auto& entry : pairs(text.substr(at, text.find(';', at) - at), R"(()(-?\d+))", 1, 2))
        without.insert(entry.second);
    ASSERT_GT(without.size(), 3U);
    std::size_t refused = 0;
    for (const row& r : ref_.rows) try {
            SCOPED_TRACE(r.line.substr(0, 60));
            sim_ = std::make_unique<qv_sim::sim_scale>("127.0.0.61");
            sim_->set_admin_password("4321");  // the runs give 1234
            qv_sim::add_standard_replies(*sim_);
            const outcome o = run(r.number, {});
            if (without.count(r.number) != 0) {
                EXPECT_NE(o.result, 122);
            } else if (o.all > 0) {
                EXPECT_EQ(o.result, 122);
                ++refused;
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << r.line.substr(0, 60) << ": " << e.what();
        }
    EXPECT_GT(refused, 100U);
}
