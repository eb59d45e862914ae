// The currency code at the edges of its one byte.

#include "../command_table.h"

using namespace command_table;

namespace {

class CurrencyEdges : public table_test<qv_sim::label_state> {
protected:
    CurrencyEdges() : table_test("127.0.0.148", qv_sim::add_label_replies) {}
};

TEST_F(CurrencyEdges, OneByteOrNothingSent)
{
    expect_requests({
        {"set_currency (104) 0", C::set_currency, {{P::CurrencyCode, 0}}, 0, frame({0xFF, 0x02}, B({0}))},
        {"set_currency (104) 256", C::set_currency, {{P::CurrencyCode, 256}}, -104, {}},
        {"set_currency (104) -1", C::set_currency, {{P::CurrencyCode, -1}}, -104, {}},
    });
}

}  // namespace
