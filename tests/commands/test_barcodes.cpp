// Barcode prefixes and default structures: each getter's request and reply,
// and the setters at the edges of their ranges.

#include <memory>

#include "command_table.h"

using namespace command_table;

namespace {

bytes structures()
{
    bytes b(300, std::byte{'s'});
    b[5] = std::byte{0};
    return b;
}

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
        {"get_params_prefixes_barcode (39), piece goods", C::get_params_prefixes_barcode, frame({0x76}),
         B({0, 99, 7}), P::PrefixBCPieceGoods, 99},
        {"get_params_prefixes_barcode (39), total label", C::get_params_prefixes_barcode, frame({0x76}),
         B({20, 21, 22}), P::PrefixBCTotalLabel, 22},
        // Past 254 bytes, and a zero byte kept as written.
        {"get_default_barcode_structures (65)", C::get_default_barcode_structures, frame({0xFF, 0x27}),
         record_test::cat({B({0x2C, 0x01}), structures()}), P::JsonBarcodeStructures, structures()},
        // clang-format on
    });
}

TEST_F(Barcodes, SettersAtTheEdgesOfTheirRanges)
{
    expect_requests({
        // clang-format off
        {"set_prefix_barcode_type (36) 0", C::set_prefix_barcode_type, {{P::PrefixBCType, 0}}, 0, frame({0x73}, B({0}))},
        {"set_prefix_barcode_type (36) 3", C::set_prefix_barcode_type, {{P::PrefixBCType, 3}}, 0, frame({0x73}, B({3}))},
        {"set_prefix_barcode_type (36) 4", C::set_prefix_barcode_type, {{P::PrefixBCType, 4}}, -104, {}},
        {"set_prefix_barcode_type (36) -1", C::set_prefix_barcode_type, {{P::PrefixBCType, -1}}, -104, {}},
        {"set_param_prefix_barcode (40) total label 0", C::set_param_prefix_barcode,
         {{P::PrefixBC, 2}, {P::PrefixBCTotalLabel, 0}}, 0, frame({0x77}, B({2, 0}))},
        {"set_param_prefix_barcode (40) piece goods, the others absent", C::set_param_prefix_barcode,
         {{P::PrefixBC, 1}, {P::PrefixBCPieceGoods, 25}}, 0, frame({0x77}, B({0x01, 0x19}))},
        {"set_param_prefix_barcode (40) weighed goods 99, the others out of range", C::set_param_prefix_barcode,
         {{P::PrefixBC, 0}, {P::PrefixBCWeightGoods, 99}, {P::PrefixBCPieceGoods, 500}, {P::PrefixBCTotalLabel, -1}},
         0, frame({0x77}, B({0x00, 0x63}))},
        {"set_param_prefix_barcode (40) prefix 100", C::set_param_prefix_barcode,
         {{P::PrefixBC, 0}, {P::PrefixBCWeightGoods, 100}}, -104, {}},
        {"set_param_prefix_barcode (40) selected prefix absent", C::set_param_prefix_barcode,
         {{P::PrefixBC, 2}, {P::PrefixBCWeightGoods, 20}}, -7, {}},
        {"set_param_prefix_barcode (40) prefix -1", C::set_param_prefix_barcode,
         {{P::PrefixBC, 0}, {P::PrefixBCWeightGoods, -1}}, -104, {}},
        {"set_param_prefix_barcode (40) selector 3", C::set_param_prefix_barcode,
         {{P::PrefixBC, 3}, {P::PrefixBCTotalLabel, 1}}, -104, {}},
        {"set_param_prefix_barcode (40) selector -1", C::set_param_prefix_barcode,
         {{P::PrefixBC, -1}, {P::PrefixBCWeightGoods, 1}}, -104, {}},
        {"set_default_barcode_structures (66) empty", C::set_default_barcode_structures,
         {{P::JsonBarcodeStructures, bytes{}}}, 0, frame({0xFF, 0x28}, B({0, 0}))},
        {"set_default_barcode_structures (66) of 300 bytes", C::set_default_barcode_structures,
         {{P::JsonBarcodeStructures, structures()}}, 0,
         frame({0xFF, 0x28}, record_test::cat({B({0x2C, 0x01}), structures()}))},
        {"set_default_barcode_structures (66) of 65536 bytes", C::set_default_barcode_structures,
         {{P::JsonBarcodeStructures, bytes(65536, std::byte{'s'})}}, -104, {}},
        {"set_default_barcode_structures (66) absent", C::set_default_barcode_structures, {}, -7, {}},
        // clang-format on
    });
}

}  // namespace
