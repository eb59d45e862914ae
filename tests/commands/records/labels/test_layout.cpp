// Label layouts: the exact payload of a full set read back, refusals, short
// replies and silence, and the available fonts.

#include <string>
#include <utility>
#include <vector>

#include "../../command_table.h"

using namespace command_table;
using namespace record_test;

namespace {

// The lists written from parameter numbers, independently of the driver's
// tables.
std::vector<P> numbers(std::initializer_list<std::pair<int, int>> ranges)
{
    std::vector<P> out;
    for (const auto& [first, last] : ranges)
        for (int n = first; n <= last; ++n) out.push_back(static_cast<P>(n));
    return out;
}

struct family {
    const char* name;
    C get, set;
    bytes opcode;
    std::vector<P> list;  // after the leading LabelFormat
    int largest;  // the largest value of an entry
    std::size_t trailer;  // zero bytes closing the setter's payload
};

const family families[] = {
    {"basic", C::get_params_label, C::set_params_label, B({0xA0}), numbers({{52, 105}}), 255, 0},
    {"extended", C::get_params_label_ex, C::set_params_label_ex, B({0xA2}),
     numbers({{106, 136}, {-2, -2}, {-2, -2}, {-2, -2}, {257, 260}, {308, 309}}), 255, 0},
    {"fonts", C::get_fonts_items, C::set_fonts_items, B({0xA4}), numbers({{144, 177}, {261, 262}, {310, 310}}), 6, 2},
    {"alignments", C::get_align_params_label, C::set_align_params_label, B({0xB4}),
     numbers({{222, 252}, {303, 303}, {253, 256}, {311, 311}}), 6, 2},
    {"datamatrix", C::get_datamatrix_param, C::set_datamatrix_param, B({0xFF, 0x0D}), numbers({{272, 275}}), 255, 0},
};
const family& fonts = families[2];

int value_for(const family& f, std::size_t k)
{
    if (f.list[k] == P::ReservedByte) return 200;  // one hidden input for the three bytes
    return f.largest == 255 ? static_cast<int>(k) + 1 : static_cast<int>(k % 7);
}

class LabelLayout : public table_test<qv_sim::label_records> {
protected:
    LabelLayout() : table_test("127.0.0.40", qv_sim::add_label_record_replies) {}

    void set_all(const family& f, int format)
    {
        set(P::LabelFormat, format);
        for (std::size_t k = 0; k < f.list.size(); ++k) set(f.list[k], value_for(f, k));
    }
};

TEST_F(LabelLayout, FullSetSendsEveryValueInListOrderAndTheGetterReadsItBack)
{
    for (const family& f : families) {
        SCOPED_TRACE(f.name);
        set_all(f, 12);
        ASSERT_EQ(run(f.set), 0);
        bytes payload{std::byte{12}};
        for (std::size_t k = 0; k < f.list.size(); ++k) payload.push_back(std::byte(value_for(f, k)));
        payload.resize(payload.size() + f.trailer);
        bytes op = f.opcode;  // the setter's opcode is the getter's plus one
        op.back() = std::byte(std::to_integer<int>(op.back()) + 1);
        EXPECT_EQ(last().frame, cat({B({0x02, int(op.size() + 4 + payload.size())}), op, U("1234"), payload}));
        set(P::LabelFormat, 12);
        ASSERT_EQ(run(f.get), 0);
        EXPECT_EQ(last_data(), B({12}));
        for (std::size_t k = 0; k < f.list.size(); ++k)
            EXPECT_EQ(out_int(f.list[k]), value_for(f, k)) << static_cast<int>(f.list[k]);
    }
}

TEST_F(LabelLayout, RefusalsBeforeSending)
{
    for (const family& f : families) {
        for (const int bad : {f.largest + 1, -1}) {
            set_all(f, 12);
            set(f.list.back(), bad);
            EXPECT_EQ(run(f.set), -104) << f.name << " " << bad;
        }
    }
    set_all(families[0], 1);
    set(P::LabelLength, 300);  // would have reached the scale as 0x2C
    EXPECT_EQ(run(C::set_params_label), -104);
    // The first bad font in list order decides between out of range and absent.
    set_all(fonts, 10);
    drop(fonts.list[3]);
    set(fonts.list[5], 7);
    EXPECT_EQ(run(C::set_fonts_items), -7);
    set(P::LabelFormat, L"1");
    EXPECT_EQ(run(C::get_fonts_items), -8);
    set_all(fonts, 9);  // fonts and alignments from format 10
    EXPECT_EQ(run(C::set_fonts_items), -104);
    EXPECT_EQ(run(C::get_params_label), -104);  // no LabelFormat
    EXPECT_EQ(sim.request_count(), 0u);
    set_all(families[0], 20);  // fits its byte and reaches the scale, which refuses it
    EXPECT_EQ(run(C::set_params_label), 124);
}

TEST_F(LabelLayout, ReplyOneByteShortGivesMinus101AndNoOutputSilenceMinus1)
{
    for (const family& f : families) {
        sim.on(f.opcode, 0, bytes(f.list.size() - 1, std::byte{5}));
        set(P::LabelFormat, 1);
        EXPECT_EQ(run(f.get), -101) << f.name;
        EXPECT_TRUE(d.output_params.empty());
    }
    sim.set_fault(send_test::silent());
    set_all(families[4], 1);
    EXPECT_EQ(run(C::set_datamatrix_param), -1);
}

TEST_F(LabelLayout, AvailableFontsRequestAndReply)
{
    expect_replies({{"get_available_fonts (13)", C::get_available_fonts, frame({0xA6}), B({0x3C}),
                     P::AvailableFontsProp, B({0x3C})}});
}

}  // namespace
