// The recognition statistics that the file download asks the scales to
// prepare: the JSON statistics request document, the archive request's two
// bytes, and the status polls with the per-scale results they leave.

#include <map>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "polling_test_util.h"

using command_table::frame;
using device_test::bytes_of;
using polling_test::B;
using polling_test::bytes;
using qv_sim::status_step;

namespace {

class Statistics : public polling_test::polled_test {};

TEST_F(Statistics, JsonRequestDocument)
{
    d.set_int_param(ParamType::ItemCode, d.input_params, -3, false);
    d.set_string_param(ParamType::StatisticRequestType, d.input_params, L"DAYS", false);
    d.set_bytes_array_param(ParamType::StatisticStartDate, d.input_params, B({0x01, 0x02, 0x18}), false);
    d.set_bytes_array_param(ParamType::StatisticEndDate, d.input_params, B({1, 2}), false);  // short: empty
    EXPECT_EQ(d.create_json_prediction_statistic(), 0);
    const std::string document =
        "{\n    \"productCode\": \"-3\",\n    \"requestType\": \"DAYS\",\n"
        "    \"startDate\": \"01-02-24\",\n    \"endDate\": \"\"\n}\n";
    bytes payload = B({static_cast<int>(document.size()), 0});
    const bytes text = bytes_of(document);
    payload.insert(payload.end(), text.begin(), text.end());
    EXPECT_EQ(sim.requests().back().frame, frame({0xFF, 0x29}, payload));
    // A date of another kind is left empty too.
    d.set_string_param(ParamType::StatisticEndDate, d.input_params, L"01-02-24", false);
    EXPECT_EQ(d.create_json_prediction_statistic(), 0);
    EXPECT_EQ(sim.requests().back().frame, frame({0xFF, 0x29}, payload));
}

// The archive request (FF 32): the first byte, then the second; a value the
// byte cannot hold is refused unsent.
TEST_F(Statistics, ArchiveRequestBytesInOrder)
{
    const std::tuple<int, int, int> archive[] = {{255, 0x12, 0}, {0x12, 255, 0}, {0, 256, -104}, {-1, 0, -104}};
    for (const auto& [first, second, result] : archive) {
        sim.clear_requests();
        d.set_int_param(ParamType::ArchiveStatisticByte1, d.input_params, first, false);
        d.set_int_param(ParamType::ArchiveStatisticByte2, d.input_params, second, false);
        EXPECT_EQ(d.create_archive_prediction_statistic(), result) << first << " " << second;
        const bytes expected = result == 0 ? frame({0xFF, 0x32}, B({first, second})) : bytes{};
        EXPECT_EQ(sim.request_count() == 0 ? bytes{} : sim.requests().at(0).frame, expected);
    }
}

// A scale still preparing its file gives 172 and keeps 172 in its own entry
// of the results (what the download polls on); a ready one keeps 0, and the
// status stays 172 while any scale of the list prepares.
TEST_F(Statistics, StatusLeavesPreparingInThatScalesResult)
{
    qv_sim::sim_scale second("127.0.0.34");
    auto second_script = qv_sim::add_recognition_replies(second);
    const struct {
        const char* what;
        int (device::*status)();
        qv_sim::reply_sequence qv_sim::recognition_script::*sequence;
        bytes request;
    } kinds[] = {
        {"json (FF 30)", &device::get_json_prediction_statistic_status,
         &qv_sim::recognition_script::json_statistic_status, frame({0xFF, 0x30})},
        {"archive (FF 33)", &device::get_archive_prediction_statistic_status,
         &qv_sim::recognition_script::archive_statistic_status, frame({0xFF, 0x33})},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.what);
        d.ip_address_list.resize(1);
        d.results.clear();
        sim.clear_requests();
        ((*script).*k.sequence).set({status_step(1), status_step(0)});
        EXPECT_EQ((d.*k.status)(), 172);
        EXPECT_EQ(sim.requests().at(0).frame, k.request);
        EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.33", 172}}));
        EXPECT_EQ((d.*k.status)(), 0);
        EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.33", 0}}));

        send_test::add_scale(d, second, 1);
        ((*second_script).*k.sequence).set({status_step(0)});
        ((*script).*k.sequence).set({status_step(1)});
        d.results.clear();
        EXPECT_EQ((d.*k.status)(), 172);
        EXPECT_EQ(d.results, (std::map<std::string, int>{{"127.0.0.33", 172}, {"127.0.0.34", 0}}));
    }
}

}  // namespace
