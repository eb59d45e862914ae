// PLU records of the fixed-record command set: the PLU count, the scale's
// group-code switch, the plain record and the extended record, read and
// written in the Windows-1251 and UTF-8 forms.

#include <map>
#include <string>
#include <vector>

#include "commands/records/products/blocks.h"
#include "commands/records/products/records.h"
#include "core/device.h"
#include "logging/logger.h"

namespace {

// The switch byte of a reply to command 41.
int group_switch_of(device_utils::byte_reader& data)
{
    return data.byte();
}

// Command 41 as the getter runs it (its start and error lines, its request
// to every scale of the list, UseGroupCodeAsProp of the first scale among
// the outputs), giving each scale's switch by IP as its reply is decoded.
int ask_group_switch(device& d, std::map<std::string, int>& switches)
{
    const command_log log("get_using_group_code");
    const int r = d.send_command(CommandType::get_using_group_code, with_password);
    if (r != rc(ErrorType::Success)) return log.result(r);
    const std::string first = d.responses.empty() ? std::string() : d.responses.begin()->first;
    return log.result(d.read_each_reply(
        [&](scale_reply& reply) {
            const int value = group_switch_of(reply.data);
            switches[reply.ip] = value;
            if (reply.ip == first) reply.out.put_int(ParamType::UseGroupCodeAsProp, value);
        },
        r));
}

// The switch that every scale of the list has. Bytes 70-71 of an extended
// record go to every scale alike, so scales that disagree would store a date
// as a group code or the reverse: such a list is refused.
int agreed_group_switch(device& d, int& use_group_code)
{
    std::map<std::string, int> switches;
    const int r = ask_group_switch(d, switches);
    if (r != rc(ErrorType::Success)) return r;
    if (switches.empty()) return rc(ErrorType::NoConnection);
    std::string values;
    bool differ = false;
    for (const auto& [ip, value] : switches) {
        differ = differ || value != switches.begin()->second;
        values += (values.empty() ? "" : ", ") + ip + ": " + std::to_string(value);
    }
    if (differ) {
        Logger::e("UseGroupCodeAsProp differs between the scales (" + values + "): the record is not sent");
        return refused_parameter(ParamType::UseGroupCodeAsProp, DataType::Int, values,
                                 "one value on every scale of the list");
    }
    use_group_code = switches.begin()->second;
    return rc(ErrorType::Success);
}

// Builds one extended PLU record from the inputs; logs the builder's start
// line. Into a block only while the block has room for it: a full block
// refuses the record before the scale is asked for its switch.
int build_extended(device& d, text_form form, bool into_block, std::vector<std::byte>& record)
{
    const command_log log(form == text_form::win1251 ? "add_plu_to_block" : "add_plu_to_block_utf8");
    int r = into_block ? plu_records::block_has_room(d, ParamType::PluBlock) : rc(ErrorType::Success);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer out;
    const field_options options{form, [&d](int& sw) { return agreed_group_switch(d, sw); }};
    r = encode_fields(d, plu_records::extended_plu_record(), out, options);
    if (r != rc(ErrorType::Success)) return r;
    if (form == text_form::win1251 && out.size() != plu_records::extended_plu_size)
        return rc(ErrorType::InvalidParameterValue);
    record = out.take();
    return rc(ErrorType::Success);
}

// The PLU number of a getter as its u16 payload.
int plu_number_payload(device& d, std::vector<std::byte>& payload)
{
    int number = 0;
    const int r = read_int_in(d, ParamType::PLUNumber, number, 1, 65535);
    if (r != rc(ErrorType::Success)) return r;
    payload = device_utils::byte_writer().u16(static_cast<std::uint16_t>(number)).take();
    return rc(ErrorType::Success);
}

int set_plain(device& d, CommandType type, text_form form, const char* name)
{
    const command_log log(name);
    device_utils::byte_writer out;
    const int r = encode_fields(d, plu_records::plain_plu_record(form), out, {form});
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.send_command(type, with_password, out.data()));
}

int get_plain(device& d, CommandType type, text_form form, const char* name)
{
    const command_log log(name);
    std::vector<std::byte> payload;
    const int r = plu_number_payload(d, payload);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.query(
        type, with_password,
        [form](scale_reply& reply) { decode_fields(plu_records::plain_plu_reply(form), reply.data, reply.out, form); },
        payload));
}

// The records collected before go along in front of the one built now: a
// collecting run may end with this command instead of the block command.
// A mixture of forms is refused before the scale is asked for its switch.
int set_extended(device& d, CommandType type, text_form form, const char* name)
{
    const command_log log(name);
    int r = plu_records::check_block_form(d, ParamType::PluBlock, form);
    if (r != rc(ErrorType::Success)) return r;
    std::vector<std::byte> record;
    r = build_extended(d, form, false, record);
    if (r == rc(ErrorType::Success)) r = plu_records::collect_record(d, ParamType::PluBlock, record, form);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(plu_records::send_collected(d, ParamType::PluBlock, type));
}

int get_extended(device& d, CommandType type, text_form form, const char* name)
{
    const command_log log(name);
    std::vector<std::byte> payload;
    int r = plu_number_payload(d, payload);
    if (r != rc(ErrorType::Success)) return r;
    int use_group_code = 0;
    r = agreed_group_switch(d, use_group_code);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.query(
        type, with_password,
        [form, use_group_code](scale_reply& reply) {
            decode_fields(plu_records::extended_plu_reply(), reply.data, reply.out, form, use_group_code);
        },
        payload));
}

}  // namespace

int device::get_plu_count()  // 29
{
    const command_log log("get_plu_count");
    return log.result(query(CommandType::get_plu_count, with_password,
                            [](scale_reply& r) { r.out.put_int(ParamType::PLUCount, r.data.uint16_le()); }));
}

int device::get_using_group_code()  // 41
{
    std::map<std::string, int> switches;
    return ask_group_switch(*this, switches);
}

int device::set_using_group_code()  // 42
{
    const command_log log("set_using_group_code");
    int value = 0;
    const int r = read_int_in(*this, ParamType::UseGroupCodeAsProp, value, 0, 1);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(send_command(CommandType::set_using_group_code, with_password,
                                   device_utils::byte_writer().u8(static_cast<std::uint8_t>(value)).take()));
}

int device::set_plu_data()  // 22
{
    return set_plain(*this, CommandType::set_plu_data, text_form::win1251, "set_plu_data");
}

int device::set_plu_data_utf8()  // 96
{
    return set_plain(*this, CommandType::set_plu_data_utf8, text_form::utf8, "set_plu_data_utf8");
}

int device::get_plu_data()  // 23
{
    return get_plain(*this, CommandType::get_plu_data, text_form::win1251, "get_plu_data");
}

int device::get_plu_data_utf8()  // 97
{
    return get_plain(*this, CommandType::get_plu_data_utf8, text_form::utf8, "get_plu_data_utf8");
}

int device::set_plu_data_extended()  // 27
{
    return set_extended(*this, CommandType::set_plu_data_extended, text_form::win1251, "set_plu_data_extended");
}

int device::set_plu_data_extended_utf8()  // 98
{
    return set_extended(*this, CommandType::set_plu_data_extended_utf8, text_form::utf8, "set_plu_data_extended_utf8");
}

int device::get_plu_data_extended()  // 28
{
    return get_extended(*this, CommandType::get_plu_data_extended, text_form::win1251, "get_plu_data_extended");
}

int device::get_plu_data_extended_utf8()  // 99
{
    return get_extended(*this, CommandType::get_plu_data_extended_utf8, text_form::utf8, "get_plu_data_extended_utf8");
}

int device::add_plu_to_block()  // 25
{
    std::vector<std::byte> record;
    const int r = build_extended(*this, text_form::win1251, true, record);
    if (r != rc(ErrorType::Success)) return r;
    return plu_records::collect_record(*this, ParamType::PluBlock, record, text_form::win1251);
}

namespace {

const command_registration records_plu{
    {CommandType::get_plu_count, &device::get_plu_count},
    {CommandType::get_using_group_code, &device::get_using_group_code},
    {CommandType::set_using_group_code, &device::set_using_group_code},
    {CommandType::set_plu_data, &device::set_plu_data},
    {CommandType::get_plu_data, &device::get_plu_data},
    {CommandType::set_plu_data_utf8, &device::set_plu_data_utf8},
    {CommandType::get_plu_data_utf8, &device::get_plu_data_utf8},
    {CommandType::add_plu_to_block, &device::add_plu_to_block},
    {CommandType::set_plu_data_extended, &device::set_plu_data_extended},
    {CommandType::set_plu_data_extended_utf8, &device::set_plu_data_extended_utf8},
    {CommandType::get_plu_data_extended, &device::get_plu_data_extended},
    {CommandType::get_plu_data_extended_utf8, &device::get_plu_data_extended_utf8},
};

}  // namespace
