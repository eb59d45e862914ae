// Recognition statistics that the scales prepare for the file download: the
// JSON statistics of one product and the archive, each asked for once and
// then polled until every scale has its file ready.

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "codecs/byte_writer.h"
#include "codecs/device_utils.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

using bytes = std::vector<std::byte>;

// An optional byte-array date as its text: empty when the parameter is
// absent or holds another kind of value (its read logs why).
std::string date_text(device& d, ParamType p)
{
    bytes date;
    if (d.get_bytes_array_param(p, d.input_params, date) != rc(ErrorType::Success)) return {};
    return device_utils::parse_date_string_from_byte_array(date);
}

// The request document in the indented layout of the property-tree JSON
// writer. Written out directly: every value is digits, "-" or one of the
// three request words, none of which that writer would escape.
std::string statistic_document(int item, const std::string& type, const std::string& start, const std::string& end)
{
    return "{\n"
           "    \"productCode\": \"" +
           std::to_string(item) +
           "\",\n"
           "    \"requestType\": \"" +
           type +
           "\",\n"
           "    \"startDate\": \"" +
           start +
           "\",\n"
           "    \"endDate\": \"" +
           end +
           "\"\n"
           "}\n";
}

// One status poll of every scale. A scale whose file is still being made
// gets 172 in `results`, which is what keeps the download polling it; the
// result is 172 while any scale prepares and every answer was good.
int statistic_status(device& d, CommandType type, const std::string& name, const std::string& in_process_line)
{
    const command_log log(name, error_line::name_error);
    int result = d.send_command(type, with_password);
    if (result != rc(ErrorType::Success) && result != rc(ErrorType::BroadcastError)) return log.result(result);

    bool preparing = false;
    result = d.read_each_reply(
        [&](scale_reply& r) {
            const int status = r.data.byte();
            Logger::i("status = " + std::to_string(status));
            if (status == 0) return;
            Logger::i(in_process_line);
            r.result = rc(ErrorType::InProgress);
            preparing = true;
        },
        result);
    if (result != rc(ErrorType::Success)) return log.result(result);
    return preparing ? rc(ErrorType::InProgress) : rc(ErrorType::Success);
}

}  // namespace

int device::create_json_prediction_statistic()  // -24
{
    const command_log log("create_json_prediction_statistic", error_line::name_error);
    int item = 0;
    int read = get_int_param(ParamType::ItemCode, input_params, item);
    if (read != rc(ErrorType::Success)) return read;
    std::wstring type;
    read = get_string_param(ParamType::StatisticRequestType, input_params, type);
    if (read != rc(ErrorType::Success)) return read;
    const std::string start = date_text(*this, ParamType::StatisticStartDate);
    const std::string end = date_text(*this, ParamType::StatisticEndDate);
    if (type != L"DAYS" && type != L"MONTHS" && type != L"YEARS")
        return refused_parameter(ParamType::StatisticRequestType, DataType::String,
                                 quoted_value(device_utils::str(type)), "DAYS, MONTHS or YEARS");

    const std::string document = statistic_document(item, device_utils::str(type), start, end);
    std::cout << "json data: \n" << document << "\n" << std::flush;
    device_utils::byte_writer w;
    if (!w.counted(document)) return rc(ErrorType::InvalidParameterValue);
    return log.result(send_command(CommandType::create_json_prediction_statistic, with_password, w.data()));
}

int device::get_json_prediction_statistic_status()  // -25
{
    return statistic_status(*this, CommandType::get_json_prediction_statistic_status,
                            "get_json_prediction_statistic_status", "status = prediction_statistic_in_process");
}

int device::create_archive_prediction_statistic()  // -27
{
    const command_log log("create_archive_prediction_statistic", error_line::name_error);
    for (ParamType p : {ParamType::ArchiveStatisticByte1, ParamType::ArchiveStatisticByte2})
        if (!parameters_validation(p, input_params)) return refused_absent(p, DataType::Int);
    int first = 0;
    int second = 0;
    int read = get_int_param(ParamType::ArchiveStatisticByte1, input_params, first);
    if (read == rc(ErrorType::Success)) read = get_int_param(ParamType::ArchiveStatisticByte2, input_params, second);
    if (read != rc(ErrorType::Success)) return read;
    // A value the byte cannot hold is refused rather than cut to its low byte.
    read = check_int_range(ParamType::ArchiveStatisticByte1, first, 0, 0xFF);
    if (read == rc(ErrorType::Success)) read = check_int_range(ParamType::ArchiveStatisticByte2, second, 0, 0xFF);
    if (read != rc(ErrorType::Success)) return read;
    device_utils::byte_writer w;
    w.u8(static_cast<std::uint8_t>(first)).u8(static_cast<std::uint8_t>(second));
    return log.result(send_command(CommandType::create_archive_prediction_statistic, with_password, w.data()));
}

int device::get_archive_prediction_statistic_status()  // -28
{
    return statistic_status(*this, CommandType::get_archive_prediction_statistic_status,
                            "get_archive_prediction_statistic_status",
                            "status = archive_prediction_statistic_in_process");
}
