// Shop name and user text lines in both forms against a simulated scale:
// Windows-1251 fields cut and padded to their width, UTF-8 texts behind
// their count, line ranges, and replies shorter than the text they state.

#include <string>
#include <vector>

#include "label_records_fixture.h"

using namespace label_test;

namespace {

using C = CommandType;

bytes with_zeros(bytes data, std::size_t width)
{
    data.resize(width);
    return data;
}

bytes utf8(const std::string& text)
{
    return device_test::bytes_of(text);
}

// "Привет, мир" in Windows-1251 and in UTF-8.
const std::wstring privet_mir = L"\u041F\u0440\u0438\u0432\u0435\u0442, \u043C\u0438\u0440";
const bytes privet_mir_1251 = B({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0x2C, 0x20, 0xEC, 0xE8, 0xF0});
const bytes privet_mir_utf8 = utf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80");

class LabelTexts : public label_records_test {};

TEST_F(LabelTexts, Windows1251LinesAreCutOrPaddedAndReadBack)
{
    const std::wstring alphabet = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const struct {
        C set, get;
        ParamType text;
        int line;
        std::wstring value;
        bytes field;  // after the line byte
        std::wstring read_back;
    } cases[] = {
        {C::set_user_text, C::get_user_text, P::StaticTextProp, 5, privet_mir, with_zeros(privet_mir_1251, 30),
         privet_mir},
        {C::set_user_text, C::get_user_text, P::StaticTextProp, 2, alphabet + L"\u0430\u0431\u0432\u0433",
         utf8("ABCDEFGHIJKLMNOPQRSTUVWXYZ\xE0\xE1\xE2\xE3"), alphabet + L"\u0430\u0431\u0432\u0433"},
        {C::set_name_shop, C::get_name_shop, P::ShopName, 2, L"", bytes(28), L""},
        // 40 characters: the first 28 go; what lies beyond is never encoded.
        {C::set_name_shop, C::get_name_shop, P::ShopName, 1, alphabet + L"12\n\u4E2D3456789",
         with_zeros(utf8("ABCDEFGHIJKLMNOPQRSTUVWXYZ12"), 28), alphabet + L"12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(device_utils::str(c.value));
        set(P::StringNumber, c.line);
        set_text(c.text, c.value);
        ASSERT_EQ(run(c.set), 0);
        bytes payload{std::byte(c.line)};
        payload.insert(payload.end(), c.field.begin(), c.field.end());
        EXPECT_EQ(last_payload(), payload);
        set(P::StringNumber, c.line);
        ASSERT_EQ(run(c.get), 0);
        EXPECT_EQ(last_payload(), bytes{std::byte(c.line)});
        EXPECT_EQ(out_text(c.text), c.read_back);
    }

    // A character outside the code table within the field: nothing goes.
    sim.clear_requests();
    for (const std::wstring& bad : {std::wstring(L"Hi\nthere"), std::wstring(L"\u4E2D")}) {
        set(P::StringNumber, 1);
        set_text(P::ShopName, bad);
        EXPECT_EQ(run(C::set_name_shop), -1000);
    }
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(LabelTexts, Utf8LinesTravelBehindTheirCountAndReadBack)
{
    const struct {
        C set, get;
        ParamType text;
        int line;
        bytes value;
    } cases[] = {
        {C::set_user_text_utf8, C::get_user_text_utf8, P::StaticTextProp, 10, privet_mir_utf8},
        {C::set_name_shop_utf8, C::get_name_shop_utf8, P::ShopName, 2, {}},
        // The reply's LEN byte reads 0xFF above 254 bytes; 65535 bytes still fit their count.
        {C::set_user_text_utf8, C::get_user_text_utf8, P::StaticTextProp, 6, bytes(1000, std::byte{'x'})},
        {C::set_name_shop_utf8, C::get_name_shop_utf8, P::ShopName, 1, bytes(65535, std::byte{0xD0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.size());
        set(P::StringNumber, c.line);
        set_bytes(c.text, c.value);
        ASSERT_EQ(run(c.set), 0);
        bytes payload{std::byte(c.line), std::byte(c.value.size() & 0xFF), std::byte(c.value.size() >> 8)};
        payload.insert(payload.end(), c.value.begin(), c.value.end());
        EXPECT_EQ(last_payload(), payload);
        set(P::StringNumber, c.line);
        ASSERT_EQ(run(c.get), 0);
        EXPECT_EQ(out_bytes(c.text), c.value);
    }
    const std::size_t sent = sim.request_count();
    set(P::StringNumber, 1);
    set_bytes(P::ShopName, bytes(65536, std::byte{0xD0}));
    EXPECT_EQ(run(C::set_name_shop_utf8), -104);
    EXPECT_EQ(sim.request_count(), sent);
}

TEST_F(LabelTexts, LineNumberRanges)
{
    const struct {
        C command;
        int line;
        int expected;
    } cases[] = {
        // clang-format off
        {C::set_user_text, 5, 0}, {C::set_user_text, 6, -104}, {C::set_user_text, 0, -104},
        {C::set_user_text_utf8, 10, 0}, {C::set_user_text_utf8, 11, -104}, {C::set_name_shop, 3, -104},
        {C::set_name_shop_utf8, 2, 0}, {C::set_name_shop_utf8, 3, -104}, {C::get_user_text, 6, -104},
        {C::get_user_text_utf8, 11, -104}, {C::get_name_shop, 0, -104},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.command)) + " line " + std::to_string(c.line));
        set(P::StringNumber, c.line);
        const bool in_utf8 = c.command == C::set_user_text_utf8 || c.command == C::set_name_shop_utf8;
        for (ParamType p : {P::ShopName, P::StaticTextProp}) {
            if (in_utf8) set_bytes(p, utf8("Text"));
            if (!in_utf8) set_text(p, L"Text");
        }
        const std::size_t sent = sim.request_count();
        EXPECT_EQ(run(c.command), c.expected);
        EXPECT_EQ(sim.request_count(), sent + (c.expected == 0 ? 1 : 0));
    }
}

TEST_F(LabelTexts, MissingOrWrongKindOfInput)
{
    device_test::log_capture log;
    EXPECT_EQ(run(C::get_name_shop_utf8), -104);
    EXPECT_TRUE(log.contains("The '180' parameter is missing"));
    EXPECT_FALSE(log.contains("get_name_shop_utf8 -104"));
    EXPECT_EQ(run(C::get_user_text), -7);

    const struct {
        C command;
        bool present, as_text;  // the text parameters as strings, else as bytes
        int expected;
    } cases[] = {{C::set_name_shop, false, true, -7},
                 {C::set_user_text, true, false, -8},
                 {C::set_name_shop_utf8, true, true, -8}};
    for (const auto& c : cases) {
        set(P::StringNumber, 1);
        for (ParamType p : {P::ShopName, P::StaticTextProp}) {
            if (c.present && c.as_text) set_text(p, L"A");
            if (c.present && !c.as_text) set_bytes(p, utf8("A"));
        }
        EXPECT_EQ(run(c.command), c.expected) << static_cast<int>(c.command);
    }
    set_bytes(P::StringNumber, B({1}));
    EXPECT_EQ(run(C::get_name_shop), -8);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(LabelTexts, RepliesAreReadWithinTheirLen)
{
    // Windows-1251: LEN minus two bytes, zero bytes dropped, even when shorter than a field.
    sim.on({0x94}, 0, with_zeros(B({'A', 'B', 0, 'C', 0xC0}), 28));
    set(P::StringNumber, 1);
    ASSERT_EQ(run(C::get_name_shop), 0);
    EXPECT_EQ(out_text(P::ShopName), L"ABC\u0410");
    sim.on({0x99}, 0, B({'x', 0, 'y'}));
    set(P::StringNumber, 1);
    ASSERT_EQ(run(C::get_user_text), 0);
    EXPECT_EQ(out_text(P::StaticTextProp), L"xy");

    // Replies shorter than the text they state: -101 and no output.
    const struct {
        C command;
        bytes opcode, reply;
    } cases[] = {
        {C::get_user_text, B({0x99}), B({0x02, 0xFF, 0x99, 0x00, 'A', 'B'})},  // LEN 0xFF: 253 bytes of text
        {C::get_name_shop_utf8, B({0xFF, 0x94}), B({0x02, 0x04, 0xFF, 0x94, 0x00, 0x01})},
    };
    for (const auto& c : cases) {
        const bytes body = c.reply;
        sim.on(c.opcode, [body](const qv_sim::request&) { return qv_sim::reply(body); });
        set(P::StringNumber, 1);
        EXPECT_EQ(run(c.command), -101) << static_cast<int>(c.command);
        EXPECT_TRUE(d.output_params.empty());
    }
}

}  // namespace
