// The command skeleton: field tables, and reading replies at the data offset.
#include <string>

#include "core/fields.h"
#include "send_test_util.h"

using send_test::B;
using send_test::bytes;

namespace {

TEST(FieldTable, IntegerWidthsSignednessAndRange)
{
    // clang-format off
    const struct {
        field_kind kind;
        int value;
        bytes expected;  // empty: refused with -104
    } cases[] = {
        {field_kind::u8, 255, B({0xFF})}, {field_kind::u8, 256, {}}, {field_kind::u8, -1, {}},
        {field_kind::i8, -128, B({0x80})}, {field_kind::i8, 128, {}}, {field_kind::i16, -2, B({0xFE, 0xFF})},
        {field_kind::u24, 0x123456, B({0x56, 0x34, 0x12})}, {field_kind::u24, 0x1000000, {}},
        {field_kind::u32, -1, B({0xFF, 0xFF, 0xFF, 0xFF})}};
    // clang-format on
    for (const auto& c : cases) {
        device d;
        d.set_int_param(ParamType::LabelLength, d.input_params, c.value, false);
        device_utils::byte_writer out;
        SCOPED_TRACE(std::to_string(int(c.kind)) + " " + std::to_string(c.value));
        EXPECT_EQ(encode_fields(d, {{ParamType::LabelLength, c.kind}}, out), c.expected.empty() ? -104 : 0);
        if (!c.expected.empty()) {
            EXPECT_EQ(out.data(), c.expected);
        }
    }
}

TEST(FieldTable, RecordOfTextsBytesAndAbsentParameters)
{
    const field_table table{
        {ParamType::LabelLength, field_kind::u16},
        {ParamType::ShopName, field_kind::win1251, 5},
        {ParamType::JsonBarcodeStructures, field_kind::bytes, 3},
        {ParamType::PLUNumber, field_kind::u8, 0, when_absent::zero},
        {ParamType::ErrorCode, field_kind::skip, 2},
    };
    EXPECT_EQ(record_size(table), 13u);
    device d, empty;
    d.set_int_param(ParamType::LabelLength, d.input_params, 0x0102, false);
    d.set_string_param(ParamType::ShopName, d.input_params, L"\u0410b", false);
    d.set_bytes_array_param(ParamType::JsonBarcodeStructures, d.input_params, B({7}), false);
    device_utils::byte_writer out, ignored;
    ASSERT_EQ(encode_fields(d, table, out), 0);
    EXPECT_EQ(out.data(), B({0x02, 0x01, 0xC0, 'b', 0, 0, 0, 7, 0, 0, 0, 0, 0}));
    // Absent: -7, or -104 where the field says so; a wrong kind -8; bytes longer than the field -104.
    EXPECT_EQ(encode_fields(empty, table, ignored), -7);
    EXPECT_EQ(encode_fields(empty, {{ParamType::LabelLength, field_kind::u8, 0, when_absent::invalid}}, ignored), -104);
    empty.set_string_param(ParamType::LabelLength, empty.input_params, L"1", false);
    EXPECT_EQ(encode_fields(empty, {{ParamType::LabelLength, field_kind::u8}}, ignored), -8);
    d.set_bytes_array_param(ParamType::JsonBarcodeStructures, d.input_params, B({1, 2, 3, 4}), false);
    EXPECT_EQ(encode_fields(d, table, ignored), -104);
}

TEST(ReplyReading, DataOffsetFollowsTheOpcodeAndShortRepliesWriteNothing)
{
    const field_table state{
        {ParamType::VersionLP, field_kind::dotted, 3},
        {ParamType::Weight, field_kind::i16},
        {ParamType::PrinterMode,
         field_kind::bytes,
         1,
         when_absent::missing,
         {ParamType::PaperPresence, ParamType::PrintHead}},
    };
    const std::pair<bytes, int> cases[] = {
        {B({2, 8, 0x11, 0, 2, 1, 15, 0xFF, 0xFF, 0x02}), 0},  // one-byte opcode: data at 4
        {B({2, 9, 0xFF, 0x17, 0, 2, 1, 15, 0xFF, 0xFF, 0x02}), 0},  // FF xx opcode: data at 5
        {B({2, 7, 0x11, 0, 2, 1, 15, 0xFF, 0xFF}), -101},  // one byte short
    };
    for (const auto& [reply, result] : cases) {
        device d;
        d.ip_address_list.push_back({"127.0.0.2", "1", "1234", 1, ""});
        d.responses["127.0.0.2"] = reply;
        d.results["127.0.0.2"] = 0;
        EXPECT_EQ(d.read_first_reply([&](scale_reply& r) { decode_fields(state, r.data, r.out); }), result);
        if (result != 0) {
            EXPECT_TRUE(d.output_params.empty());
            EXPECT_EQ(d.results["127.0.0.2"], -101);
            continue;
        }
        std::wstring version;
        int weight = 0, paper = -1, head = -1;
        d.get_string_param(ParamType::VersionLP, d.output_params, version, false);
        d.get_int_param(ParamType::Weight, d.output_params, weight, false);
        d.get_int_param(ParamType::PaperPresence, d.output_params, paper, false);
        d.get_int_param(ParamType::PrintHead, d.output_params, head, false);
        EXPECT_TRUE(version == L"2.1.15" && weight == -1 && paper == 0 && head == 1);
    }
}

}  // namespace
