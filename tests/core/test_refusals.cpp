// A refused input names its field in one log line: the parameter's number and name, the value and what is allowed, with
// nothing sent.
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "send_test_util.h"

namespace {

using Refusal = send_test::device_test_base;

// The warning and error lines logged after `mark` that hold `tag` (the quoted "(number) name" of a parameter), without
// their heads.
std::vector<std::string> lines_naming(std::size_t mark, const std::string& tag)
{
    const std::string all = Logger::get_memory_log_data();
    std::vector<std::string> out;
    std::istringstream in(all.size() < mark ? std::string() : all.substr(mark));
    for (std::string line; std::getline(in, line);) {
        const bool loud = line.find("][warning][") != std::string::npos || line.find("][error][") != std::string::npos;
        const std::size_t head = line.find("]: ");
        if (loud && head != std::string::npos && line.find(tag) != std::string::npos)
            out.push_back(line.substr(head + 3));
    }
    return out;
}

}  // namespace

// A value out of range (a one-byte setter at both edges, and inputs checked by hand), a text of the wrong length or
// size, an absent input and one of another kind each leave one line that names the parameter, and nothing reaches the
// scale.
TEST_F(Refusal, NamesTheParameterTheValueAndWhatIsAllowed)
{
    const auto int_of = [](ParamType p, int v) {
        return [p, v](device& d) { d.set_int_param(p, d.input_params, v, false); };
    };
    const int invalid = rc(ErrorType::InvalidParameterValue);
    const struct {
        CommandType command;
        std::function<void(device&)> given;
        int code;
        std::string line;
    } cases[] = {
        {CommandType::set_logging, int_of(ParamType::LoggingType, 300), invalid,
         "refused int param \"(221) LoggingType\": 300; allowed: 0 to 255"},
        {CommandType::set_logging, int_of(ParamType::LoggingType, -1), invalid,
         "refused int param \"(221) LoggingType\": -1; allowed: 0 to 255"},
        {CommandType::set_date_format, int_of(ParamType::DateFormat, 3), invalid,
         "refused int param \"(29) DateFormat\": 3; allowed: 0 to 2"},
        {CommandType::get_picture_size, int_of(ParamType::PictureNumber, -1), invalid,
         "refused int param \"(142) PictureNumber\": -1; allowed: 0 to 10"},
        {CommandType::set_param_prefix_barcode, int_of(ParamType::PrefixBC, 3), invalid,
         "refused int param \"(200) PrefixBC\": 3; allowed: 0 to 2"},
        {CommandType::edit_password,
         [](device& d) { d.set_string_param(ParamType::NewPassword, d.input_params, L"123", false); }, invalid,
         "refused string param \"(206) NewPassword\": 3 characters; allowed: exactly 4 characters"},
        // A password's character outside the code table: -1000, its position named, the character never.
        {CommandType::edit_password,
         [](device& d) { d.set_string_param(ParamType::NewPassword, d.input_params, L"12\u04044", false); },
         rc(ErrorType::UnexpectedDriverError),
         "refused string param \"(206) NewPassword\": character at position 3; allowed: characters of the Windows-1251 "
         "table"},
        {CommandType::get_plu_count, [](device& d) { d.ip_address_list.front().password = "\xD0\x84" "234"; },
         rc(ErrorType::UnexpectedDriverError),
         "refused string param \"(3) AdminPassword\": character at position 1, scale 127.0.0.2; allowed: characters of "
         "the Windows-1251 table"},
        {CommandType::set_scenario,
         [](device& d) {
             d.set_bytes_array_param(ParamType::Scenarios, d.input_params, send_test::bytes(256, std::byte{1}), false);
         },
         invalid, "refused bytes array param \"(220) Scenarios\": 256 bytes; allowed: at most 255 bytes"},
        {CommandType::confirm_item_after_prediction, [](device&) {}, rc(ErrorType::RequiredParameterMissing),
         "get int param \"(182) ItemCode\": not found!"},
        {CommandType::set_date_format,
         [](device& d) { d.set_string_param(ParamType::DateFormat, d.input_params, L"1", false); },
         rc(ErrorType::WrongParameterType), "get int param \"(29) DateFormat\": wrong type! As string in driver"},
    };
    qv_sim::sim_scale sim;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        d.ip_address_list.clear();
        d.input_params.clear();
        send_test::add_scale(d, sim, 1);
        c.given(d);
        const std::size_t mark = Logger::get_memory_log_data().size();
        EXPECT_EQ(d.execute_command(static_cast<int>(c.command)), c.code);
        const std::size_t quote = c.line.find('"');
        EXPECT_EQ(lines_naming(mark, c.line.substr(quote, c.line.find('"', quote + 1) + 1 - quote)),
                  std::vector<std::string>{c.line});
        EXPECT_EQ(sim.request_count(), 0U);
    }
}
