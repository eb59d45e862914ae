// The available fonts (13): the request and the one byte of its reply.

#include "../../command_table.h"

using namespace command_table;

namespace {

class AvailableFonts : public table_test<qv_sim::label_state> {
protected:
    AvailableFonts() : table_test("127.0.0.149", qv_sim::add_label_replies) {}
};

TEST_F(AvailableFonts, RequestAndReply)
{
    expect_replies({{"get_available_fonts (13)", C::get_available_fonts, frame({0xA6}), B({0x3C}),
                     P::AvailableFontsProp, B({0x3C})}});
}

}  // namespace
