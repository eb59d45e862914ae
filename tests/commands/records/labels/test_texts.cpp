// Shop name and user text lines in both forms against a simulated scale:
// Windows-1251 fields cut and padded to their width, UTF-8 texts behind
// their count, line ranges, and replies shorter than the text they state.

#include <string>
#include <vector>

#include "label_records_fixture.h"

using namespace label_test;

namespace {

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
    struct text_case {
        CommandType set;
        CommandType get;
        ParamType text;
        int line;
        std::wstring value;
        bytes field;  // after the line byte
        std::wstring read_back;
    };
    const std::wstring alphabet = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const text_case cases[] = {
        {CommandType::set_user_text, CommandType::get_user_text, P::StaticTextProp, 5, privet_mir,
         with_zeros(privet_mir_1251, 30), privet_mir},
        {CommandType::set_user_text, CommandType::get_user_text, P::StaticTextProp, 1, L"Hello",
         with_zeros(utf8("Hello"), 30), L"Hello"},
        {CommandType::set_user_text, CommandType::get_user_text, P::StaticTextProp, 2,
         alphabet + L"\u0430\u0431\u0432\u0433",
         B({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L',  'M',  'N',  'O',
            'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 0xE0, 0xE1, 0xE2, 0xE3}),
         alphabet + L"\u0430\u0431\u0432\u0433"},
        {CommandType::set_name_shop, CommandType::get_name_shop, P::ShopName, 2, L"", bytes(28), L""},
        // 40 characters: the first 28 go; what lies beyond is never encoded.
        {CommandType::set_name_shop, CommandType::get_name_shop, P::ShopName, 1, alphabet + L"12\n\u4E2D3456789",
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
}

TEST_F(LabelTexts, CharacterOutsideTheCodeTableWithinTheFieldSendsNothing)
{
    for (const std::wstring& bad : {std::wstring(L"Hi\nthere"), std::wstring(L"\u4E2D")}) {
        set(P::StringNumber, 1);
        set_text(P::ShopName, bad);
        EXPECT_EQ(run(CommandType::set_name_shop), -1000);
    }
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(LabelTexts, Utf8LinesTravelBehindTheirCountAndReadBack)
{
    struct text_case {
        CommandType set;
        CommandType get;
        ParamType text;
        int line;
        bytes value;
    };
    const text_case cases[] = {
        {CommandType::set_user_text_utf8, CommandType::get_user_text_utf8, P::StaticTextProp, 10, privet_mir_utf8},
        {CommandType::set_name_shop_utf8, CommandType::get_name_shop_utf8, P::ShopName, 2, {}},
        // The reply's LEN byte reads 0xFF above 254 bytes.
        {CommandType::set_user_text_utf8, CommandType::get_user_text_utf8, P::StaticTextProp, 6,
         bytes(1000, std::byte{'x'})},
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
}

TEST_F(LabelTexts, LongestUtf8TextGoesAndOneByteMoreIsRefused)
{
    set(P::StringNumber, 1);
    set_bytes(P::ShopName, bytes(65535, std::byte{0xD0}));
    ASSERT_EQ(run(CommandType::set_name_shop_utf8), 0);
    const bytes payload = last_payload();
    ASSERT_EQ(payload.size(), 3u + 65535u);
    EXPECT_EQ(bytes(payload.begin(), payload.begin() + 3), B({1, 0xFF, 0xFF}));
    EXPECT_EQ(records->get().shop_names_utf8[0].size(), 65535u);

    set(P::StringNumber, 1);
    set_bytes(P::ShopName, bytes(65536, std::byte{0xD0}));
    EXPECT_EQ(run(CommandType::set_name_shop_utf8), -104);
    EXPECT_EQ(sim.request_count(), 1u);
}

TEST_F(LabelTexts, LineNumberRanges)
{
    struct line_case {
        CommandType command;
        int line;
        int expected;
    };
    const line_case cases[] = {
        {CommandType::set_user_text, 5, 0},          {CommandType::set_user_text, 6, -104},
        {CommandType::set_user_text, 0, -104},       {CommandType::set_user_text, -1, -104},
        {CommandType::set_user_text_utf8, 6, 0},     {CommandType::set_user_text_utf8, 10, 0},
        {CommandType::set_user_text_utf8, 11, -104}, {CommandType::set_name_shop, 3, -104},
        {CommandType::set_name_shop_utf8, 2, 0},     {CommandType::set_name_shop_utf8, 3, -104},
        {CommandType::get_user_text, 6, -104},       {CommandType::get_user_text_utf8, 10, 0},
        {CommandType::get_user_text_utf8, 11, -104}, {CommandType::get_name_shop, 0, -104},
        {CommandType::get_name_shop_utf8, -2, -104},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.command)) + " line " + std::to_string(c.line));
        set(P::StringNumber, c.line);
        set_text(P::ShopName, L"Shop");
        set_text(P::StaticTextProp, L"Text");
        if (c.command == CommandType::set_user_text_utf8 || c.command == CommandType::set_name_shop_utf8) {
            set_bytes(P::ShopName, utf8("Shop"));
            set_bytes(P::StaticTextProp, utf8("Text"));
        }
        const std::size_t sent = sim.request_count();
        EXPECT_EQ(run(c.command), c.expected);
        EXPECT_EQ(sim.request_count(), sent + (c.expected == 0 ? 1 : 0));
    }
}

TEST_F(LabelTexts, MissingOrWrongKindOfInput)
{
    device_test::log_capture log;
    EXPECT_EQ(run(CommandType::get_name_shop_utf8), -104);
    EXPECT_TRUE(log.contains("The '180' parameter is missing"));
    EXPECT_FALSE(log.contains("get_name_shop_utf8 -104"));
    for (CommandType c : {CommandType::get_name_shop, CommandType::get_user_text, CommandType::get_user_text_utf8,
                          CommandType::set_user_text_utf8})
        EXPECT_EQ(run(c), -7) << static_cast<int>(c);

    struct input_case {
        CommandType command;
        bool as_text;  // the text parameter as a string, else as bytes; absent when neither is set
        bool present;
        int expected;
    };
    const input_case cases[] = {
        {CommandType::set_name_shop, true, false, -7},       {CommandType::set_name_shop, false, true, -8},
        {CommandType::set_user_text, false, true, -8},       {CommandType::set_name_shop_utf8, true, true, -8},
        {CommandType::set_user_text_utf8, false, false, -7},
    };
    for (const auto& c : cases) {
        set(P::StringNumber, 1);
        for (ParamType p : {P::ShopName, P::StaticTextProp}) {
            if (!c.present) continue;
            if (c.as_text)
                set_text(p, L"A");
            else
                set_bytes(p, utf8("A"));
        }
        EXPECT_EQ(run(c.command), c.expected) << static_cast<int>(c.command);
    }
    set(P::StringNumber, 1);
    set_bytes(P::StringNumber, B({1}));
    EXPECT_EQ(run(CommandType::get_name_shop), -8);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(LabelTexts, Windows1251ReplyIsItsLenMinusTwoBytesWithZeroBytesDropped)
{
    sim.on({0x94}, 0, with_zeros(B({'A', 'B', 0, 'C', 0xC0}), 28));
    set(P::StringNumber, 1);
    ASSERT_EQ(run(CommandType::get_name_shop), 0);
    EXPECT_EQ(out_text(P::ShopName), L"ABC\u0410");

    sim.on({0x99}, 0, B({'x', 0, 'y'}));  // shorter than a field: the LEN byte rules
    set(P::StringNumber, 1);
    ASSERT_EQ(run(CommandType::get_user_text), 0);
    EXPECT_EQ(out_text(P::StaticTextProp), L"xy");
}

TEST_F(LabelTexts, ReplyShorterThanItsTextGivesMinus101AndNoOutput)
{
    struct short_case {
        CommandType command;
        bytes reply;
    };
    const short_case cases[] = {
        // LEN 0xFF states 253 bytes of text.
        {CommandType::get_user_text, B({0x02, 0xFF, 0x99, 0x00, 'A', 'B'})},
        {CommandType::get_user_text_utf8, B({0x02, 0x07, 0xFF, 0x99, 0x00, 0x05, 0x00, 'a', 'b'})},
        {CommandType::get_name_shop_utf8, B({0x02, 0x04, 0xFF, 0x94, 0x00, 0x01})},
    };
    for (const auto& c : cases) {
        const bytes body = c.reply;
        sim.on(bytes(body.begin() + 2, body.begin() + (body[2] == std::byte{0xFF} ? 4 : 3)),
               [body](const qv_sim::request&) { return qv_sim::reply(body); });
        set(P::StringNumber, 1);
        EXPECT_EQ(run(c.command), -101) << static_cast<int>(c.command);
        EXPECT_TRUE(d.output_params.empty());
    }
}

TEST_F(LabelTexts, ScaleRefusalIsLoggedWithTheCommandsLine)
{
    sim.on({0x95}, 131);
    set(P::StringNumber, 1);
    set_text(P::ShopName, L"Shop");
    device_test::log_capture log;
    EXPECT_EQ(run(CommandType::set_name_shop), 131);
    EXPECT_TRUE(log.contains("set_name_shop 131"));
}

}  // namespace
