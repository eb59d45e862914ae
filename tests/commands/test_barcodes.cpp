// Barcode prefixes and default structures: each getter's request and reply,
// and the setters at the edges of their ranges.

#include <memory>

#include "command_table.h"

using namespace command_table;

namespace {

std::shared_ptr<int> standard_replies(qv_sim::sim_scale& sim)
{
    qv_sim::add_standard_replies(sim);
    return std::make_shared<int>();
}

class Barcodes : public table_test<int> {
protected:
    Barcodes() : table_test("127.0.0.146", standard_replies) {}
};

TEST_F(Barcodes, GettersSendTheirFrameAndDecodeTheReply)
{
    expect_replies({
        // clang-format off
        {"get_prefix_barcode_type (35)", C::get_prefix_barcode_type, frame({0x72}), B({3}), P::PrefixBCType, 3},
        {"get_params_prefixes_barcode (39)", C::get_params_prefixes_barcode, frame({0x76}), B({0, 99, 7}),
         P::PrefixBCPieceGoods, 99},
        {"get_default_barcode_structures (65)", C::get_default_barcode_structures, frame({0xFF, 0x27}),
         B({1, 0, '{'}), P::JsonBarcodeStructures, B({'{'})},
        // clang-format on
    });
}

TEST_F(Barcodes, SettersAtTheEdgesOfTheirRanges)
{
    expect_requests({
        // clang-format off
        {"set_prefix_barcode_type (36) 0", C::set_prefix_barcode_type, {{P::PrefixBCType, 0}}, 0, frame({0x73}, B({0}))},
        {"set_prefix_barcode_type (36) -1", C::set_prefix_barcode_type, {{P::PrefixBCType, -1}}, -104, {}},
        {"set_param_prefix_barcode (40) total label 0", C::set_param_prefix_barcode,
         {{P::PrefixBC, 2}, {P::PrefixBCTotalLabel, 0}}, 0, frame({0x77}, B({2, 0}))},
        {"set_param_prefix_barcode (40) prefix -1", C::set_param_prefix_barcode,
         {{P::PrefixBC, 0}, {P::PrefixBCWeightGoods, -1}}, -104, {}},
        {"set_param_prefix_barcode (40) selector 3", C::set_param_prefix_barcode,
         {{P::PrefixBC, 3}, {P::PrefixBCTotalLabel, 1}}, -104, {}},
        {"set_param_prefix_barcode (40) selector -1", C::set_param_prefix_barcode,
         {{P::PrefixBC, -1}, {P::PrefixBCWeightGoods, 1}}, -104, {}},
        {"set_default_barcode_structures (66) empty", C::set_default_barcode_structures,
         {{P::JsonBarcodeStructures, bytes{}}}, 0, frame({0xFF, 0x28}, B({0, 0}))},
        {"set_default_barcode_structures (66) absent", C::set_default_barcode_structures, {}, -7, {}},
        // clang-format on
    });
}

}  // namespace
