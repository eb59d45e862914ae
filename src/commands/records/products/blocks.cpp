// PLU and message blocks: records collected over several commands and sent
// in one frame with their count, and the message-line records sent and read
// one at a time.

#include "commands/records/products/blocks.h"

#include <string>

#include "core/device.h"

namespace {

std::size_t record_size_of(ParamType key)
{
    return key == ParamType::PluBlock ? plu_records::extended_plu_size : plu_records::message_size;
}

// What was collected into `buffer`, or, when it differs from what was
// collected last, all of it as bytes the host stored.
device::collected_block noted_block(const device& d, ParamType key, const std::vector<std::byte>& buffer)
{
    const auto it = d.collected_blocks.find(key);
    if (it != d.collected_blocks.end() && it->second.bytes == buffer) return it->second;
    return device::collected_block{{}, buffer.size(), 0, 0};
}

// The buffer under `key`, empty when absent; -8 for another kind of value.
int read_buffer(device& d, ParamType key, std::vector<std::byte>& buffer)
{
    if (!d.checkParamInMap(key, d.input_params, DataType::ByteArray, false)) return rc(ErrorType::Success);
    return d.get_bytes_array_param(key, d.input_params, buffer);
}

}  // namespace

namespace plu_records {

int block_has_room(device& d, ParamType key)
{
    std::vector<std::byte> buffer;
    const int r = read_buffer(d, key, buffer);
    if (r != rc(ErrorType::Success)) return r;
    const device::collected_block noted = noted_block(d, key, buffer);
    const std::size_t size = record_size_of(key);
    // The host's own bytes count in records, a part of one as a whole one.
    const std::size_t held = noted.fixed_records + noted.utf8_records + (noted.foreign + size - 1) / size;
    const std::size_t most = key == ParamType::PluBlock ? plu_block_most : message_block_most;
    if (held < most) return rc(ErrorType::Success);
    return refused_parameter(key, DataType::ByteArray, std::to_string(held) + " records",
                             "fewer than " + std::to_string(most) + " records before one more is added");
}

int collect_record(device& d, ParamType key, const std::vector<std::byte>& record, text_form form)
{
    std::vector<std::byte> buffer;
    int r = read_buffer(d, key, buffer);
    if (r != rc(ErrorType::Success)) return r;
    // A buffer that differs from what was collected last was stored by the
    // host, or is what is left after the input map was cleared.
    device::collected_block noted = noted_block(d, key, buffer);
    buffer.insert(buffer.end(), record.begin(), record.end());
    r = d.set_bytes_array_param(key, d.input_params, buffer);
    if (r != rc(ErrorType::Success)) return r;
    noted.bytes = std::move(buffer);
    ++(form == text_form::win1251 ? noted.fixed_records : noted.utf8_records);
    d.collected_blocks[key] = std::move(noted);
    return rc(ErrorType::Success);
}

int check_block_form(device& d, ParamType key, text_form form)
{
    std::vector<std::byte> buffer;
    const int r = read_buffer(d, key, buffer);
    if (r != rc(ErrorType::Success)) return r;
    const device::collected_block noted = noted_block(d, key, buffer);
    const bool utf8 = form == text_form::utf8;
    const std::size_t other = utf8 ? noted.fixed_records : noted.utf8_records;
    if (other == 0) return rc(ErrorType::Success);
    return refused_parameter(key, DataType::ByteArray,
                             std::to_string(other) + (utf8 ? " Windows-1251" : " UTF-8") + " records",
                             utf8 ? "UTF-8 records only" : "Windows-1251 records only");
}

int send_collected(device& d, ParamType key, CommandType type)
{
    std::vector<std::byte> buffer;
    const int r = d.get_bytes_array_param(key, d.input_params, buffer);
    if (r != rc(ErrorType::Success)) return r;
    return d.send_command(type, with_password, buffer);
}

}  // namespace plu_records

namespace {

// The number of whole Windows-1251 records of `record_size` bytes in a
// block buffer; 0 when it holds anything else (a UTF-8 record, stray bytes),
// which no count could describe.
std::size_t whole_records(const device& d, ParamType key, const std::vector<std::byte>& buffer, std::size_t record_size)
{
    const device::collected_block noted = noted_block(d, key, buffer);
    if (noted.utf8_records != 0 || noted.foreign % record_size != 0) return 0;
    return noted.foreign / record_size + noted.fixed_records;
}

int send_block(device& d, ParamType key, CommandType type, std::size_t record_size, std::size_t most, const char* name)
{
    const command_log log(name);
    std::vector<std::byte> buffer;
    const int r = d.get_bytes_array_param(key, d.input_params, buffer);
    if (r != rc(ErrorType::Success)) return r;
    const std::size_t count = whole_records(d, key, buffer, record_size);
    // Named by its size: a buffer that no count describes has no record count.
    if (count < 1 || count > most)
        return refused_parameter(
            key, DataType::ByteArray, std::to_string(buffer.size()) + " bytes",
            "1 to " + std::to_string(most) + " whole records of " + std::to_string(record_size) + " bytes");
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(count)).raw(buffer);
    return log.result(d.send_command(type, with_password, payload.data()));
}

// Builds one message line from the inputs; logs the collecting command's
// start line. Into a block only while the block has room for it.
int build_message(device& d, text_form form, bool into_block, std::vector<std::byte>& record)
{
    const command_log log(form == text_form::win1251 ? "add_message_to_block" : "add_message_to_block_utf8");
    int r = into_block ? plu_records::block_has_room(d, ParamType::MessageBlock) : rc(ErrorType::Success);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer out;
    r = encode_fields(d, plu_records::message_record(), out, {form});
    if (r != rc(ErrorType::Success)) return r;
    if (form == text_form::win1251 && out.size() != plu_records::message_size)
        return rc(ErrorType::InvalidParameterValue);
    record = out.take();
    return rc(ErrorType::Success);
}

int collect_message(device& d, text_form form)
{
    std::vector<std::byte> record;
    const int r = build_message(d, form, true, record);
    if (r != rc(ErrorType::Success)) return r;
    return plu_records::collect_record(d, ParamType::MessageBlock, record, form);
}

// The lines collected before go along in front of the one built now: a
// collecting run may end with this command instead of the block command.
int set_message(device& d, CommandType type, text_form form, const char* name)
{
    const command_log log(name);
    int r = plu_records::check_block_form(d, ParamType::MessageBlock, form);
    if (r != rc(ErrorType::Success)) return r;
    std::vector<std::byte> record;
    r = build_message(d, form, false, record);
    if (r == rc(ErrorType::Success)) r = plu_records::collect_record(d, ParamType::MessageBlock, record, form);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(plu_records::send_collected(d, ParamType::MessageBlock, type));
}

int get_message(device& d, CommandType type, text_form form, const char* name)
{
    const command_log log(name);
    device_utils::byte_writer payload;
    const int r = encode_fields(d, plu_records::message_key(), payload);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.query(
        type, with_password,
        [form](scale_reply& reply) {
            if (form == text_form::win1251) {
                // The text fills the frame: LEN - 2 bytes from the data.
                const int len = std::to_integer<int>(reply.frame[1]);
                reply.out.put_string(ParamType::MessageString, reply.data.win1251_string(len < 2 ? 0 : len - 2));
            } else {
                const int n = reply.data.uint16_le();
                reply.out.put_bytes(ParamType::MessageString, reply.data.byte_array(n));
            }
        },
        payload.data()));
}

}  // namespace

int device::set_plu_block_data()  // 26
{
    return send_block(*this, ParamType::PluBlock, CommandType::set_plu_block_data, plu_records::extended_plu_size,
                      plu_records::plu_block_most, "set_plu_block_data");
}

int device::add_message_to_block()  // 30
{
    return collect_message(*this, text_form::win1251);
}

int device::add_message_to_block_utf8()  // 100
{
    return collect_message(*this, text_form::utf8);
}

int device::set_message_block_data()  // 33
{
    return send_block(*this, ParamType::MessageBlock, CommandType::set_message_block_data, plu_records::message_size,
                      plu_records::message_block_most, "set_message_block_data");
}

int device::set_message_data()  // 31
{
    return set_message(*this, CommandType::set_message_data, text_form::win1251, "set_message_data");
}

int device::set_message_data_utf8()  // 101
{
    return set_message(*this, CommandType::set_message_data_utf8, text_form::utf8, "set_message_data_utf8");
}

int device::get_message_data()  // 32
{
    return get_message(*this, CommandType::get_message_data, text_form::win1251, "get_message_data");
}

int device::get_message_data_utf8()  // 102
{
    return get_message(*this, CommandType::get_message_data_utf8, text_form::utf8, "get_message_data_utf8");
}

namespace {

const command_registration records_blocks{
    {CommandType::set_plu_block_data, &device::set_plu_block_data},
    {CommandType::add_message_to_block, &device::add_message_to_block},
    {CommandType::add_message_to_block_utf8, &device::add_message_to_block_utf8},
    {CommandType::set_message_block_data, &device::set_message_block_data},
    {CommandType::set_message_data, &device::set_message_data},
    {CommandType::set_message_data_utf8, &device::set_message_data_utf8},
    {CommandType::get_message_data, &device::get_message_data},
    {CommandType::get_message_data_utf8, &device::get_message_data_utf8},
};

}  // namespace
