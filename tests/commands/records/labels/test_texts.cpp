// Shop name and user text lines in both forms against a simulated scale:
// Windows-1251 fields cut and padded to their width, UTF-8 texts behind
// their count, line ranges, and replies shorter than the text they state.

#include <string>

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
    const bytes privet_utf8 = U("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80");
    const struct {
        C set, get;
        P text;
        int line;
        input value;
        bytes sent;  // after the line byte
    } cases[] = {
        {C::set_user_text, C::get_user_text, P::StaticTextProp, 5, L"\u041F\u0440\u0438\u0432\u0435\u0442",
         cat({B({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}), bytes(24)})},
        {C::set_name_shop, C::get_name_shop, P::ShopName, 2, L"", bytes(28)},
        // 40 characters: the first 28 go; what lies beyond is never encoded.
        {C::set_name_shop, C::get_name_shop, P::ShopName, 1, alphabet + L"12\n\u4E2D3456789",
         U("ABCDEFGHIJKLMNOPQRSTUVWXYZ12")},
        {C::set_user_text_utf8, C::get_user_text_utf8, P::StaticTextProp, 10, privet_utf8,
         cat({le(privet_utf8.size(), 2), privet_utf8})},
        // The reply's LEN byte reads 0xFF above 254 bytes; 65535 bytes still fit their count.
        {C::set_name_shop_utf8, C::get_name_shop_utf8, P::ShopName, 1, bytes(65535, std::byte{0xD0}),
         cat({le(65535, 2), bytes(65535, std::byte{0xD0})})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.set));
        set({{P::StringNumber, c.line}, {c.text, c.value}});
        ASSERT_EQ(run(c.set), 0);
        EXPECT_EQ(last_data(), cat({B({c.line}), c.sent}));
        set(P::StringNumber, c.line);
        ASSERT_EQ(run(c.get), 0);
        EXPECT_EQ(last_data(), B({c.line}));
        input back = c.value;  // texts read back as far as they went
        if (auto* w = std::get_if<std::wstring>(&back)) w->resize(std::min<std::size_t>(w->size(), 28));
        EXPECT_EQ(out_like(c.value, c.text), back);
    }
}

TEST_F(LabelTexts, RefusalsSendNothing)
{
    const struct {
        C command;
        int line;
        input text;
        int expected;
    } cases[] = {
        {C::set_user_text, 6, L"T", -104},
        {C::set_user_text, 0, L"T", -104},
        {C::set_user_text_utf8, 11, U("T"), -104},
        {C::set_name_shop, 3, L"T", -104},
        {C::get_name_shop, 0, 0, -104},
        {C::set_name_shop_utf8, 1, bytes(65536, std::byte{0xD0}), -104},
        {C::set_name_shop, 1, L"Hi\nthere", -1000},  // outside the code table within the field
        {C::set_name_shop, 1, L"\u4E2D", -1000},
        {C::set_user_text, 1, U("A"), -8},
        {C::set_name_shop_utf8, 1, L"A", -8},
    };
    for (const auto& c : cases) {
        set({{P::StringNumber, c.line}, {P::ShopName, c.text}, {P::StaticTextProp, c.text}});
        EXPECT_EQ(run(c.command), c.expected) << static_cast<int>(c.command) << " line " << c.line;
    }
    device_test::log_capture log;
    EXPECT_EQ(run(C::get_name_shop_utf8), -104);
    EXPECT_TRUE(log.contains("The '180' parameter is missing"));
    EXPECT_EQ(run(C::get_user_text), -7);
    set(P::StringNumber, 1);
    EXPECT_EQ(run(C::set_name_shop), -7);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(LabelTexts, RepliesAreReadWithinTheirLen)
{
    // Windows-1251: LEN minus two bytes, zero bytes dropped, even when shorter than a field.
    sim.on({0x99}, 0, B({'x', 0, 0xC0}));
    set(P::StringNumber, 1);
    ASSERT_EQ(run(C::get_user_text), 0);
    EXPECT_EQ(out_text(P::StaticTextProp), L"x\u0410");

    // Replies shorter than the text they state: -101 and no output.
    const std::pair<C, bytes> cases[] = {
        {C::get_user_text, B({0x02, 0xFF, 0x99, 0x00, 'A', 'B'})},  // LEN 0xFF: 253 bytes of text
        {C::get_name_shop_utf8, B({0x02, 0x04, 0xFF, 0x94, 0x00, 0x01})},
    };
    for (const auto& [command, reply] : cases) {
        const bytes body = reply;
        sim.on(bytes(reply.begin() + 2, reply.begin() + (reply[2] == std::byte{0xFF} ? 4 : 3)),
               [body](const qv_sim::request&) { return qv_sim::reply(body); });
        set(P::StringNumber, 1);
        EXPECT_EQ(run(command), -101) << static_cast<int>(command);
        EXPECT_TRUE(d.output_params.empty());
    }
}

}  // namespace
