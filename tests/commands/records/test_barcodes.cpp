// The barcode format of the fixed-record command set: its request and reply,
// and the formats the setter accepts at the edges of 6..9 and 15.

#include "../command_table.h"

using namespace command_table;

namespace {

class BarcodeFormat : public table_test<qv_sim::label_state> {
protected:
    BarcodeFormat() : table_test("127.0.0.147", qv_sim::add_label_replies) {}
};

TEST_F(BarcodeFormat, GetterAndSetterAtTheEdges)
{
    expect_replies({{"get_barcode_structure (37)", C::get_barcode_structure, frame({0x74}), B({9}), P::BCFormat, 9}});
    expect_requests({
        // clang-format off
        {"set_barcode_structure (38) 5", C::set_barcode_structure, {{P::BCFormat, 5}}, -104, {}},
        {"set_barcode_structure (38) 6", C::set_barcode_structure, {{P::BCFormat, 6}}, 0, frame({0x75}, B({6}))},
        {"set_barcode_structure (38) 9", C::set_barcode_structure, {{P::BCFormat, 9}}, 0, frame({0x75}, B({9}))},
        {"set_barcode_structure (38) 10", C::set_barcode_structure, {{P::BCFormat, 10}}, -104, {}},
        {"set_barcode_structure (38) 14", C::set_barcode_structure, {{P::BCFormat, 14}}, -104, {}},
        {"set_barcode_structure (38) 15", C::set_barcode_structure, {{P::BCFormat, 15}}, 0, frame({0x75}, B({15}))},
        {"set_barcode_structure (38) 256 + 7", C::set_barcode_structure, {{P::BCFormat, 256 + 7}}, -104, {}},
        {"set_barcode_structure (38) absent", C::set_barcode_structure, {}, -104, {}},
        {"set_barcode_structure (38) as text", C::set_barcode_structure, {{P::BCFormat, L"9"}}, -8, {}},
        // clang-format on
    });
}

}  // namespace
