// A refused input names its field in one log line: the parameter's number
// and name, the value and what is allowed, with nothing sent.
#include <tuple>

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
