// A refused input names its field in one log line: the parameter's number
// and name, the value and what is allowed, with nothing sent.
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "send_test_util.h"

namespace {

class Refusal : public send_test::device_test_base {};

}  // namespace

TEST_F(Refusal, NamesTheParameterTheValueAndWhatIsAllowed)
{
    enum class given { int_value, nothing, text };
    // set_logging reads LoggingType (221) as one byte.
    const std::tuple<given, int, int, std::string> cases[] = {
        {given::int_value, 300, rc(ErrorType::InvalidParameterValue),
         "refused int param \"(221) LoggingType\": 300; allowed: 0 to 255"},
        {given::int_value, -1, rc(ErrorType::InvalidParameterValue),
         "refused int param \"(221) LoggingType\": -1; allowed: 0 to 255"},
        {given::nothing, 0, rc(ErrorType::RequiredParameterMissing),
         "get int param \"(221) LoggingType\": not found!"},
        {given::text, 0, rc(ErrorType::WrongParameterType),
         "get int param \"(221) LoggingType\": wrong type! As string in driver"},
    };
    qv_sim::sim_scale sim;
    for (const auto& [kind, value, code, line] : cases) {
        SCOPED_TRACE(line);
        d.ip_address_list.clear();
        send_test::add_scale(d, sim, 1);
        if (kind == given::int_value) d.set_int_param(ParamType::LoggingType, d.input_params, value, false);
        if (kind == given::text) d.set_string_param(ParamType::LoggingType, d.input_params, L"1", false);
        const device_test::log_capture log;
        EXPECT_EQ(d.execute_command(static_cast<int>(CommandType::set_logging)), code);
        EXPECT_TRUE(log.contains(line));
        EXPECT_EQ(sim.request_count(), 0U);
    }
}

namespace {

// The warning and error lines logged after `mark` that name the parameter
// as "(number) name", without their heads.
std::vector<std::string> lines_naming(std::size_t mark, ParamType p, const std::string& name)
{
    const std::string all = Logger::get_memory_log_data();
    const std::string tag = "\"(" + std::to_string(static_cast<int>(p)) + ") " + name + "\"";
    std::vector<std::string> out;
    std::istringstream in(all.size() < mark ? std::string() : all.substr(mark));
    for (std::string line; std::getline(in, line);) {
        const bool loud = line.find("][warning][") != std::string::npos || line.find("][error][") != std::string::npos;
        const std::size_t head = line.find("]: ");
        if (loud && head != std::string::npos && line.find(tag) != std::string::npos) out.push_back(line.substr(head + 3));
    }
    return out;
}

}  // namespace

// Commands that check their inputs by hand: a value out of range, a text of
// the wrong length or size, an absent input and one of another kind each
// leave one line that names the parameter, and nothing reaches the scale.
TEST_F(Refusal, HandCheckedInputsNameTheirField)
{
    using setup = std::function<void(device&)>;
    const auto int_of = [](ParamType p, int v) { return [p, v](device& d) { d.set_int_param(p, d.input_params, v, false); }; };
    const struct {
        CommandType command;
        setup given;
        int code;
        ParamType param;
        std::string name;
        std::string line;
    } cases[] = {
        {CommandType::set_date_format, int_of(ParamType::DateFormat, 3), rc(ErrorType::InvalidParameterValue),
         ParamType::DateFormat, "DateFormat", "refused int param \"(29) DateFormat\": 3; allowed: 0 to 2"},
        {CommandType::get_picture_size, int_of(ParamType::PictureNumber, -1), rc(ErrorType::InvalidParameterValue),
         ParamType::PictureNumber, "PictureNumber", "refused int param \"(142) PictureNumber\": -1; allowed: 0 to 10"},
        {CommandType::set_param_prefix_barcode, int_of(ParamType::PrefixBC, 3), rc(ErrorType::InvalidParameterValue),
         ParamType::PrefixBC, "PrefixBC", "refused int param \"(200) PrefixBC\": 3; allowed: 0 to 2"},
        {CommandType::edit_password,
         [](device& d) { d.set_string_param(ParamType::NewPassword, d.input_params, L"123", false); },
         rc(ErrorType::InvalidParameterValue), ParamType::NewPassword, "NewPassword",
         "refused string param \"(206) NewPassword\": 3 characters; allowed: exactly 4 characters"},
        {CommandType::set_scenario,
         [](device& d) {
             d.set_bytes_array_param(ParamType::Scenarios, d.input_params, std::vector<std::byte>(256, std::byte{1}),
                                     false);
         },
         rc(ErrorType::InvalidParameterValue), ParamType::Scenarios, "Scenarios",
         "refused bytes array param \"(220) Scenarios\": 256 bytes; allowed: at most 255 bytes"},
        {CommandType::confirm_item_after_prediction, [](device&) {}, rc(ErrorType::RequiredParameterMissing),
         ParamType::ItemCode, "ItemCode", "get int param \"(182) ItemCode\": not found!"},
        {CommandType::set_date_format,
         [](device& d) { d.set_string_param(ParamType::DateFormat, d.input_params, L"1", false); },
         rc(ErrorType::WrongParameterType), ParamType::DateFormat, "DateFormat",
         "get int param \"(29) DateFormat\": wrong type! As string in driver"},
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
        EXPECT_EQ(lines_naming(mark, c.param, c.name), std::vector<std::string>{c.line});
        EXPECT_EQ(sim.request_count(), 0U);
    }
}
