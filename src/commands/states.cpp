// The scale's state record (43): the whole state of one scale in one
// exchange, split into one output per field.

#include "core/device.h"
#include "core/fields.h"

namespace {

using P = ParamType;
using K = field_kind;

// The 73 bytes after the result byte, in record order. Cost stands before
// Price; Weight is the one signed 16-bit field.
const field_table state_record{
    {P::VersionLP, K::dotted, 3},
    {P::Embodiment, K::u16},
    {P::DateLP, K::bytes, 3},
    {P::PLUCount, K::u16},
    {P::MessagesCount, K::u16},
    {P::StringsCountInMessage, K::u8},
    {P::WeightLimit, K::u8},
    {P::Discreteness,
     K::bytes,
     1,
     when_absent::missing,
     {P::Discreteness1g, P::Discreteness2g, P::Discreteness5g, P::Discreteness10g}},
    {P::ScalesNumber, K::u8},
    {P::LabelNumber, K::u16},
    {P::Mode, K::u16},
    {P::AdvancedMode, K::u8},
    {P::KeyboardMode, K::u8},
    {P::Date, K::bytes, 3},
    {P::Time, K::bytes, 3},
    {P::DateFormat, K::u8},
    {P::TimeFormat, K::u8},
    {P::ReservedByte, K::bytes, 1},
    {P::PointPosition, K::u8},
    {P::PackagingON, K::u8},
    {P::SoundON, K::u8},
    {P::PrintMode, K::u8},
    {P::AutoPrintWeight, K::u16},
    {P::PrinterMode,
     K::bytes,
     1,
     when_absent::missing,
     {P::PaperPresence, P::PrintedLabelPresence, P::LabelPositioning, P::PrintHead, P::PrintCopyAbility}},
    {P::WeightDeviceMode,
     K::bytes,
     1,
     when_absent::missing,
     {P::WeightFixationSign, P::AutoZeroingSign, P::AutoZeroInitialInstallationSign, P::TareSign, P::CalmingWeightSign,
      P::AutoZeroError, P::OverloadByWeight, P::ReceivingMeasurementError}},
    {P::Weight, K::i16},
    {P::Tare, K::u16},
    {P::Cost, K::i32},
    {P::Price, K::i32},
    {P::CurPLU, K::u16},
    {P::GoodsType, K::u8},
    {P::CurrEquivOn, K::u8},
    {P::CurrencyCourse, K::i32},
    {P::CurrEquiv, K::i32},
    {P::sSum, K::bytes, 7},
    {P::EthernetStatus, K::u16},
    {P::DisplayType, K::u8},
};

}  // namespace

int device::query_state_scale()  // 43
{
    const command_log log("query_state_scale");
    return log.result(query(CommandType::query_state_scale, without_password,
                            [](scale_reply& r) { decode_fields(state_record, r.data, r.out); }));
}

namespace {

const command_registration states{
    {CommandType::query_state_scale, &device::query_state_scale},
};

}  // namespace
