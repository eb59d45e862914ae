// Label layouts of the fixed-record command set: for each label format the
// label's length, the position, font and alignment of every printable element
// and the DataMatrix code, one byte per value. Each list is one field table,
// used by the setter to build its payload and by the getter to read its reply.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "codecs/byte_writer.h"
#include "core/device.h"
#include "core/fields.h"
#include "logging/logger.h"

namespace {

using P = ParamType;

constexpr int last_label_format = 14;
constexpr int first_styled_format = 10;  // fonts and alignments can be set for formats 10 to 14 only
constexpr int last_style = 6;  // font numbers and alignment codes are 0 to 6

field_table u8_fields(std::initializer_list<ParamType> params)
{
    field_table table;
    for (ParamType p : params) table.push_back({p, field_kind::u8});
    return table;
}

// Font numbers and alignment codes: each 0 to 6.
field_table style_fields(std::initializer_list<ParamType> params)
{
    field_table table;
    for (ParamType p : params) table.push_back(ranged(p, field_kind::u8, 0, last_style));
    return table;
}

field_table joined(std::initializer_list<field_table> parts)
{
    field_table table;
    for (const field_table& part : parts) table.insert(table.end(), part.begin(), part.end());
    return table;
}

// A reserved byte of the extended layout: the hidden input -2 when the host
// set it, else 0.
const field reserved{P::ReservedByte, field_kind::u8, 0, when_absent::zero};

const field_table label_format{{P::LabelFormat, field_kind::u8}};

// The tables keep two or three entries a line, as they pair on the label.
// clang-format off
// Each list below is what follows the leading format byte: the getter's reply
// data and the setter's payload after that byte.

const field_table basic_layout = u8_fields({
    P::LabelLength,
    P::GoodsNameXPos,          P::GoodsNameYPos,
    P::ShopNameXPos,           P::ShopNameYPos,
    P::DateXPos,               P::DateYPos,
    P::TimeXPos,               P::TimeYPos,
    P::ShelfLifeDateXPos,      P::ShelfLifeDateYPos,
    P::WeightXPos,             P::WeightYPos,
    P::TareXPos,               P::TareYPos,
    P::PriceXPos,              P::PriceYPos,
    P::LabelNumberXPos,        P::LabelNumberYPos,
    P::ScalesNumberXPos,       P::ScalesNumberYPos,
    P::GroupCodeXPos,          P::GroupCodeYPos,
    P::MessageXPos,            P::MessageYPos,
    P::CostXPos,               P::CostYPos,
    P::BCXPos,                 P::BCYPos,
    P::BCHeight,
    P::InscrPackageXPos,       P::InscrPackageYPos,
    P::InscrShelfLifeDateXPos, P::InscrShelfLifeDateYPos,
    P::InscrWeightXPos,        P::InscrWeightYPos,
    P::InscrPriceXPos,         P::InscrPriceYPos,
    P::InscrCostXPos,          P::InscrCostYPos,
    P::Picture1XPos,           P::Picture1YPos,
    P::Picture2XPos,           P::Picture2YPos,
    P::RectUpPos,              P::RectLeftPos,
    P::RectBottomPos,          P::RectRightPos,
    P::PLUNumberXPos,          P::PLUNumberYPos,
    P::ItemCodeXPos,           P::ItemCodeYPos,
    P::SumCountXPos,           P::SumCountYPos,
});

// The reply carries three reserved bytes, all written to output -2 in
// turn: the third one stays.
const field_table extended_layout = joined({
    u8_fields({
        P::Picture3XPos,             P::Picture3YPos,
        P::Picture4XPos,             P::Picture4YPos,
        P::ShelfLifeInDaysXPos,      P::ShelfLifeInDaysYPos,
        P::ManufacturedDateXPos,     P::ManufacturedDateYPos,
        P::BruttoXPos,               P::BruttoYPos,
        P::NettoXPos,                P::NettoYPos,
        P::CurrEquivXPos,            P::CurrEquivYPos,
        P::InscrShelfLifeInDaysXPos, P::InscrShelfLifeInDaysYPos,
        P::InscrManufacturedXPos,    P::InscrManufacturedYPos,
        P::InscrBruttoXPos,          P::InscrBruttoYPos,
        P::StaticText1XPos,          P::StaticText1YPos,
        P::StaticText2XPos,          P::StaticText2YPos,
        P::StaticText3XPos,          P::StaticText3YPos,
        P::StaticText4XPos,          P::StaticText4YPos,
        P::StaticText5XPos,          P::StaticText5YPos,
        P::BCTestLine,
    }),
    {reserved, reserved, reserved},
    u8_fields({
        P::InscrLabelNumberXPos,  P::InscrLabelNumberYPos,
        P::InscrScalesNumberXPos, P::InscrScalesNumberYPos,
        P::PackerNameXPos,        P::PackerNameYPos,
    }),
});

const field_table font_list = style_fields({
    P::FontGoodsName,          P::FontShopName,          P::FontDate,
    P::FontTime,               P::FontShelfLifeDate,     P::FontWeight,
    P::FontTare,               P::FontPrice,             P::FontLabelNumber,
    P::FontScalesNumber,       P::FontGroupCode,         P::FontMessage,
    P::FontCost,               P::FontInscrPackage,      P::FontInscrShelfLifeDate,
    P::FontInscrWeight,        P::FontInscrPrice,        P::FontInscrCost,
    P::FontPLUNumber,          P::FontItemCode,          P::FontSumCount,
    P::FontShelfLifeInDays,    P::FontManufacturedDate,  P::FontBrutto,
    P::FontNetto,              P::FontCurrEquiv,         P::FontInscrShelfLifeInDays,
    P::FontInscrManufactured,  P::FontInscrBrutto,       P::FontStaticText1,
    P::FontStaticText2,        P::FontStaticText3,       P::FontStaticText4,
    P::FontStaticText5,        P::FontInscrLabelNumber,  P::FontInscrScalesNumber,
    P::FontPacker,
});

// AlignStaticText3 has a number of its own far from its neighbours but
// keeps its place between texts 2 and 4.
const field_table align_list = style_fields({
    P::AlignGoodsName,          P::AlignShopName,          P::AlignDate,
    P::AlignTime,               P::AlignShelfLifeDate,     P::AlignWeight,
    P::AlignTare,               P::AlignPrice,             P::AlignLabelNumber,
    P::AlignScalesNumber,       P::AlignGroupCode,         P::AlignMessage,
    P::AlignCost,               P::AlignInscrPackage,      P::AlignInscrShelfLifeDate,
    P::AlignInscrWeight,        P::AlignInscrPrice,        P::AlignInscrCost,
    P::AlignPLUNumber,          P::AlignItemCode,          P::AlignSumCount,
    P::AlignShelfLifeInDays,    P::AlignManufacturedDate,  P::AlignBrutto,
    P::AlignNetto,              P::AlignCurrEquiv,         P::AlignInscrShelfLifeInDays,
    P::AlignInscrManufactured,  P::AlignInscrBrutto,       P::AlignStaticText1,
    P::AlignStaticText2,        P::AlignStaticText3,       P::AlignStaticText4,
    P::AlignStaticText5,        P::AlignInscrLabelNumber,  P::AlignInscrScalesNumber,
    P::AlignPacker,
});

const field_table datamatrix_list = u8_fields({
    P::DataMatrixXPos, P::DataMatrixYPos, P::DataMatrixWidth, P::DataMatrixHeight,
});
// clang-format on

// Reads LabelFormat and checks it against [first, last]: 0, -7, -8 or -104.
int read_label_format(device& d, int first, int& value)
{
    return read_int_in(d, P::LabelFormat, value, first, last_label_format);
}

// Sends the checked format byte and reads `list` from the reply.
int get_list(device& d, const command_log& log, CommandType type, const field_table& list)
{
    int format = 0;
    const int r = read_label_format(d, 0, format);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(format));
    return log.result(d.query(
        type, with_password, [&list](scale_reply& reply) { decode_fields(list, reply.data, reply.out); },
        payload.take()));
}

// The format byte and `list`, each value refused with -104 unless it fits
// its byte.
int set_list(device& d, const command_log& log, CommandType type, const field_table& list)
{
    device_utils::byte_writer payload;
    int r = encode_fields(d, label_format, payload);
    if (r == rc(ErrorType::Success)) r = encode_fields(d, list, payload);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(d.send_command(type, with_password, payload.take()));
}

// Fonts and alignments: a format 10 to 14, then each value 0 to 6, read and
// checked one after the other so that the first bad entry decides the code;
// two zero bytes close the payload.
int set_styles(device& d, const command_log& log, CommandType type, const field_table& list)
{
    int format = 0;
    int r = read_label_format(d, first_styled_format, format);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(format));
    r = encode_fields(d, list, payload);
    if (r != rc(ErrorType::Success)) return r;
    payload.u8(0).u8(0);
    return log.result(d.send_command(type, with_password, payload.take()));
}

}  // namespace

int device::get_params_label()  // 6
{
    const command_log log("get_params_label", error_line::name_error);
    if (!parameters_validation(ParamType::LabelFormat, input_params)) {
        Logger::i("'get_params_label' invalid parameter 'LabelFormat'");
        return refused_absent(ParamType::LabelFormat, DataType::Int);
    }
    return get_list(*this, log, CommandType::get_params_label, basic_layout);
}

int device::set_params_label()  // 7
{
    const command_log log("set_params_label", error_line::name_error);
    return set_list(*this, log, CommandType::set_params_label, basic_layout);
}

int device::get_params_label_ex()  // 8
{
    const command_log log("get_params_label_ex");
    return get_list(*this, log, CommandType::get_params_label_ex, extended_layout);
}

int device::set_params_label_ex()  // 9
{
    const command_log log("set_params_label_ex");
    return set_list(*this, log, CommandType::set_params_label_ex, extended_layout);
}

int device::get_fonts_items()  // 11
{
    const command_log log("get_fonts_items");
    return get_list(*this, log, CommandType::get_fonts_items, font_list);
}

int device::set_fonts_items()  // 12
{
    const command_log log("set_fonts_items");
    return set_styles(*this, log, CommandType::set_fonts_items, font_list);
}

int device::get_available_fonts()  // 13
{
    const command_log log("get_available_fonts");
    return log.result(query(CommandType::get_available_fonts, with_password, [](scale_reply& r) {
        r.out.put_bytes(ParamType::AvailableFontsProp, r.data.byte_array(1));
    }));
}

int device::get_align_params_label()  // 74
{
    const command_log log("get_align_params_label");
    return get_list(*this, log, CommandType::get_align_params_label, align_list);
}

int device::set_align_params_label()  // 75
{
    const command_log log("set_align_params_label");
    return set_styles(*this, log, CommandType::set_align_params_label, align_list);
}

int device::get_datamatrix_param()  // 116
{
    const command_log log("get_datamatrix_param", error_line::name_error);
    return get_list(*this, log, CommandType::get_datamatrix_param, datamatrix_list);
}

int device::set_datamatrix_param()  // 117
{
    const command_log log("set_datamatrix_param", error_line::name_error);
    int format = 0;
    int r = read_label_format(*this, 0, format);
    if (r != rc(ErrorType::Success)) return r;
    device_utils::byte_writer payload;
    payload.u8(static_cast<std::uint8_t>(format));
    r = encode_fields(*this, datamatrix_list, payload);
    if (r != rc(ErrorType::Success)) return r;
    return log.result(send_command(CommandType::set_datamatrix_param, with_password, payload.take()));
}

namespace {

const command_registration records_label_layout{
    {CommandType::get_params_label, &device::get_params_label},
    {CommandType::set_params_label, &device::set_params_label},
    {CommandType::get_params_label_ex, &device::get_params_label_ex},
    {CommandType::set_params_label_ex, &device::set_params_label_ex},
    {CommandType::get_fonts_items, &device::get_fonts_items},
    {CommandType::set_fonts_items, &device::set_fonts_items},
    {CommandType::get_available_fonts, &device::get_available_fonts},
    {CommandType::get_align_params_label, &device::get_align_params_label},
    {CommandType::set_align_params_label, &device::set_align_params_label},
    {CommandType::get_datamatrix_param, &device::get_datamatrix_param},
    {CommandType::set_datamatrix_param, &device::set_datamatrix_param},
};

}  // namespace
