// Recognition statistics as the file download uses them: the request
// document byte for byte, the archive request, their refusals, and the
// status of every scale marked in the per-scale results.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "replies/prediction.h"
#include "send_test_util.h"

using device_test::bytes_of;
using device_test::log_capture;
using qv_sim::result_step;
using qv_sim::status_step;
using send_test::B;
using send_test::bytes;

namespace {

class Statistics : public send_test::device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        first_script = qv_sim::add_recognition_replies(first);
        second_script = qv_sim::add_recognition_replies(second);
        send_test::add_scale(d, first, 1);
    }

    bytes sent_to_first()
    {
        const auto requests = first.requests();
        return requests.empty() ? bytes{} : bytes(requests.back().rest.begin() + 4, requests.back().rest.end());
    }

    qv_sim::sim_scale first{"127.0.0.34"};
    qv_sim::sim_scale second{"127.0.0.35"};
    std::shared_ptr<qv_sim::recognition_script> first_script;
    std::shared_ptr<qv_sim::recognition_script> second_script;
};

TEST_F(Statistics, JsonRequestDocument)
{
    d.set_int_param(ParamType::ItemCode, d.input_params, 1234, false);
    d.set_string_param(ParamType::StatisticRequestType, d.input_params, L"DAYS", false);
    d.set_bytes_array_param(ParamType::StatisticStartDate, d.input_params, B({0x01, 0x02, 0x18}), false);
    d.set_bytes_array_param(ParamType::StatisticEndDate, d.input_params, B({0x05, 0x02, 0x18}), false);
    testing::internal::CaptureStdout();
    EXPECT_EQ(d.create_json_prediction_statistic(), 0);
    const std::string printed = testing::internal::GetCapturedStdout();

    const std::string document =
        "{\n"
        "    \"productCode\": \"1234\",\n"
        "    \"requestType\": \"DAYS\",\n"
        "    \"startDate\": \"01-02-24\",\n"
        "    \"endDate\": \"05-02-24\"\n"
        "}\n";
    bytes expected = B({static_cast<int>(document.size()), 0});
    const bytes text = bytes_of(document);
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(first.requests().at(0).command, B({0xFF, 0x29}));
    EXPECT_EQ(sent_to_first(), expected);
    // The test log also writes to the console: look for the document's lines among its lines.
    EXPECT_NE(printed.find("json data: \n" + document + "\n"), std::string::npos);
}

TEST_F(Statistics, JsonRequestRefusalsAndAbsentDates)
{
    struct {
        const char* what;
        bool item;
        const wchar_t* type;  // nullptr: absent
        int result;
    } const cases[] = {
        {"lower-case type", true, L"days", -104},
        {"unknown type", true, L"WEEKS", -104},
        {"no item", false, L"YEARS", -7},
        {"no type", true, nullptr, -7},
    };
    testing::internal::CaptureStdout();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.item) d.set_int_param(ParamType::ItemCode, d.input_params, 7, false);
        if (c.type) d.set_string_param(ParamType::StatisticRequestType, d.input_params, c.type, false);
        EXPECT_EQ(d.create_json_prediction_statistic(), c.result);
        d.input_params.clear();
    }
    EXPECT_EQ(first.request_count(), 0u);

    d.set_int_param(ParamType::ItemCode, d.input_params, -3, false);
    d.set_string_param(ParamType::StatisticRequestType, d.input_params, L"MONTHS", false);
    d.set_bytes_array_param(ParamType::StatisticEndDate, d.input_params, B({1, 2}), false);
    EXPECT_EQ(d.create_json_prediction_statistic(), 0);
    testing::internal::GetCapturedStdout();
    const std::string sent = device_test::text_of(sent_to_first());
    EXPECT_NE(sent.find("\"productCode\": \"-3\""), std::string::npos);
    EXPECT_NE(sent.find("\"startDate\": \"\""), std::string::npos);
    EXPECT_NE(sent.find("\"endDate\": \"\""), std::string::npos);
}

TEST_F(Statistics, ArchiveRequest)
{
    d.set_int_param(ParamType::ArchiveStatisticByte1, d.input_params, 300, false);
    d.set_int_param(ParamType::ArchiveStatisticByte2, d.input_params, 1, false);
    EXPECT_EQ(d.create_archive_prediction_statistic(), 0);
    EXPECT_EQ(first.requests().at(0).command, B({0xFF, 0x32}));
    EXPECT_EQ(sent_to_first(), B({0x2C, 0x01}));

    d.input_params.clear();
    d.set_int_param(ParamType::ArchiveStatisticByte1, d.input_params, 1, false);
    log_capture log;
    EXPECT_EQ(d.create_archive_prediction_statistic(), -104);
    EXPECT_TRUE(log.contains("The '329' parameter is missing"));
    d.set_string_param(ParamType::ArchiveStatisticByte2, d.input_params, L"1", false);
    EXPECT_EQ(d.create_archive_prediction_statistic(), -8);
    EXPECT_EQ(first.request_count(), 1u);
}

TEST_F(Statistics, StatusOfOneScale)
{
    first_script->json_statistic_status.set({status_step(1), status_step(0), result_step(172), {0, {}}});
    log_capture log;
    EXPECT_EQ(d.get_json_prediction_statistic_status(), 172);
    EXPECT_EQ(d.results.at("127.0.0.34"), 172);
    EXPECT_TRUE(log.contains("status = 1"));
    EXPECT_TRUE(log.contains("status = prediction_statistic_in_process"));
    EXPECT_EQ(d.get_json_prediction_statistic_status(), 0);
    EXPECT_EQ(d.results.at("127.0.0.34"), 0);
    EXPECT_EQ(d.get_json_prediction_statistic_status(), 172);  // the scale's own "in progress"
    EXPECT_TRUE(log.contains("'get_json_prediction_statistic_status' error=172"));
    EXPECT_EQ(d.get_json_prediction_statistic_status(), -101);  // no status byte
    EXPECT_EQ(d.results.at("127.0.0.34"), -101);

    d.results.clear();
    first_script->archive_statistic_status.set({status_step(2)});
    EXPECT_EQ(d.get_archive_prediction_statistic_status(), 172);
    EXPECT_TRUE(log.contains("status = archive_prediction_statistic_in_process"));
    EXPECT_EQ(first.requests().back().frame, B({0x02, 0x06, 0xFF, 0x33, '1', '2', '3', '4'}));
}

TEST_F(Statistics, StatusMarksEveryScaleOfAList)
{
    send_test::add_scale(d, second, 0);
    first_script->archive_statistic_status.set({status_step(0)});
    second_script->archive_statistic_status.set({status_step(1), status_step(1), status_step(0)});
    // The download's view: poll while an entry is 172.
    int polls = 0;
    int result = 0;
    do {
        result = d.get_archive_prediction_statistic_status();
        ++polls;
    } while (polls < 10 && (d.results.at("127.0.0.34") == 172 || d.results.at("127.0.0.35") == 172));
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(result, 0);

    // One scale fails: -111, the other is still read and marked.
    d.results.clear();
    first_script->archive_statistic_status.set({result_step(122)});
    second_script->archive_statistic_status.set({status_step(1)});
    EXPECT_EQ(d.get_archive_prediction_statistic_status(), -111);
    EXPECT_EQ(d.results.at("127.0.0.34"), 122);
    EXPECT_EQ(d.results.at("127.0.0.35"), 172);
}

}  // namespace
