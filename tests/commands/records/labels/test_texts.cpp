// Shop name and user text lines in both forms: fields cut and padded, UTF-8
// behind its count, refusals, and replies read within their length.

#include <string>
#include <tuple>

#include "../record_test_util.h"

using namespace record_test;

namespace {

class LabelTexts : public scale_test<qv_sim::label_records> {
protected:
    LabelTexts() : scale_test("127.0.0.40", qv_sim::add_label_record_replies) {}
};

TEST_F(LabelTexts, BothFormsGoAsFieldsOrBehindTheirCountAndReadBack)
{
    const std::wstring alphabet = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::tuple<C, C, P, int, input, bytes> cases[] = {
        // setter, getter, text, line, value, sent after the line
        {C::set_user_text, C::get_user_text, P::StaticTextProp, 5, L"\u041F\u0440\u0438\u0432\u0435\u0442",
         cat({B({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}), bytes(24)})},
        // 40 characters: the first 28 go; what lies beyond is never encoded.
        {C::set_name_shop, C::get_name_shop, P::ShopName, 1, alphabet + L"12\n\u4E2D3456789",
         U("ABCDEFGHIJKLMNOPQRSTUVWXYZ12")},
        // The reply's LEN byte reads 0xFF above 254 bytes; 65535 bytes still fit their count.
        {C::set_name_shop_utf8, C::get_name_shop_utf8, P::ShopName, 1, bytes(65535, std::byte{0xD0}),
         cat({le(65535, 2), bytes(65535, std::byte{0xD0})})},
    };
    for (const auto& [setter, get, text, line, value, sent] : cases) {
        SCOPED_TRACE(static_cast<int>(setter));
        set({{P::StringNumber, line}, {text, value}});
        ASSERT_EQ(run(setter), 0);
        EXPECT_EQ(last_data(), cat({B({line}), sent}));
        set(P::StringNumber, line);
        ASSERT_EQ(run(get), 0);
        EXPECT_EQ(last_data(), B({line}));
        input back = value;  // texts read back as far as they went
        if (auto* w = std::get_if<std::wstring>(&back)) w->resize(std::min<std::size_t>(w->size(), 28));
        EXPECT_EQ(out_like(value, text), back);
    }
}

TEST_F(LabelTexts, RefusalsSendNothing)
{
    const auto line = [](int n) { return std::pair<P, input>{P::StringNumber, n}; };
    // clang-format off
    expect_refused({{C::set_user_text, {line(6), {P::StaticTextProp, L"T"}}, -104},
                    {C::set_user_text, {line(0), {P::StaticTextProp, L"T"}}, -104},
                    {C::set_user_text_utf8, {line(11), {P::StaticTextProp, U("T")}}, -104},
                    {C::set_name_shop, {line(3), {P::ShopName, L"T"}}, -104}, {C::get_name_shop, {line(0)}, -104},
                    {C::set_name_shop_utf8, {line(1), {P::ShopName, bytes(65536, std::byte{0xD0})}}, -104},
                    {C::set_name_shop, {line(1), {P::ShopName, L"Hi\nthere"}}, -1000},  // outside the code table
                    {C::set_user_text, {line(1), {P::StaticTextProp, U("A")}}, -8},
                    {C::set_name_shop_utf8, {line(1), {P::ShopName, L"A"}}, -8},
                    {C::get_name_shop_utf8, {}, -104}, {C::get_user_text, {}, -7}, {C::set_name_shop, {line(1)}, -7}});
    // clang-format on
}

TEST_F(LabelTexts, RepliesAreReadWithinTheirLen)
{
    // Windows-1251: LEN minus two bytes, zero bytes dropped, even when shorter than a field.
    sim.on({0x99}, 0, B({'x', 0, 0xC0}));
    set(P::StringNumber, 1);
    ASSERT_EQ(run(C::get_user_text), 0);
    EXPECT_EQ(out(P::StaticTextProp, std::wstring{}), L"x\u0410");

    // A reply shorter than the text it states (LEN 0xFF: 253 bytes): -101 and no output.
    sim.on({0x99}, [](const qv_sim::request&) { return qv_sim::reply(B({0x02, 0xFF, 0x99, 0x00, 'A', 'B'})); });
    set(P::StringNumber, 1);
    EXPECT_EQ(run(C::get_user_text), -101);
    EXPECT_TRUE(d.output_params.empty());
}

}  // namespace
