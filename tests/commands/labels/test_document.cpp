// The JSON label document: items added one command at a time, the exact
// document on the wire, the refusals of the send, and reading a format's
// description back.

#include <locale>
#include <string>

#include "label_test_util.h"

using namespace label_test;

namespace {

class LabelDocument : public label_test_base {
protected:
    void add_text(const std::wstring& type, int x, int y, int font, int align)
    {
        set(ParamType::LabelItemType, type);
        set(ParamType::XCoordinate, x);
        set(ParamType::YCoordinate, y);
        set(ParamType::Font, font);
        set(ParamType::Align, align);
    }
    void add_barcode(const std::wstring& type, int x, int y, int w, int h)
    {
        set(ParamType::LabelItemType, type);
        set(ParamType::XCoordinate, x);
        set(ParamType::YCoordinate, y);
        set(ParamType::Width, w);
        set(ParamType::Height, h);
    }
    int send_label(int format, int width, int length)
    {
        set(ParamType::LabelFormat, format);
        set(ParamType::LabelWidth, width);
        set(ParamType::LabelLength, length);
        return run(CommandType::send_json_label_data);
    }
    // The document that reached the scale, checked against its length field.
    std::string sent_document()
    {
        const bytes data = data_of(last());
        EXPECT_GE(data.size(), 2u);
        if (data.size() < 2) return {};
        const std::size_t n = std::to_integer<std::size_t>(data[0]) | std::to_integer<std::size_t>(data[1]) << 8;
        EXPECT_EQ(n, data.size() - 2);
        return device_test::text_of(bytes(data.begin() + 2, data.end()));
    }
    std::size_t pending() const
    {
        const auto& l = d.json_label_data;
        return l.textItems.size() + l.imageItems.size() + l.barcodeItems.size() + l.graphicItems.size();
    }
};

TEST_F(LabelDocument, EmptyLabelFrameByteForByte)
{
    testing::internal::CaptureStdout();
    const int sent = send_label(2, 58, 30);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(sent, 0);
    const std::string doc =
        "{\n"
        "    \"labelFormatType\": \"2\",\n"
        "    \"width\": \"58\",\n"
        "    \"height\": \"30\"\n"
        "}\n";
    ASSERT_EQ(doc.size(), 70u);
    EXPECT_NE(printed.find("json data: \n" + doc + "\n"), std::string::npos) << printed;
    bytes expected = B({0x50, 0, 0, 0, 0x02, 0x4E, 0xFF, 0x18, '1', '2', '3', '4', 0x46, 0x00});
    const bytes text = text_bytes(doc);
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(last().raw, expected);
}

TEST_F(LabelDocument, EveryItemKindInDocumentOrder)
{
    // Added barcode first and graphic before image: the document still
    // lists text, image, graphic, barcode.
    add_barcode(L"EAN13", 1, 2, 30, 10);
    set(ParamType::BCTestLine, 1);
    ASSERT_EQ(run(CommandType::add_json_label_barcode_item), 0);
    add_barcode(L"QR", 3, 4, 5, 6);
    set({{ParamType::BCTestLine, 2}, {ParamType::Rotate, 90}});
    ASSERT_EQ(run(CommandType::add_json_label_barcode_item), 0);
    set({{ParamType::XCoordinate, 0},
         {ParamType::YCoordinate, 1},
         {ParamType::X2Coordinate, 100},
         {ParamType::Y2Coordinate, 1}});
    ASSERT_EQ(run(CommandType::add_json_label_graphic_item), 0);
    set({{ParamType::PictureNumber, 3}, {ParamType::XCoordinate, 7}, {ParamType::YCoordinate, 8}});
    ASSERT_EQ(run(CommandType::add_json_label_image_item), 0);
    // Without Width and Height; then with Width 0, a negative X, a slash and
    // Cyrillic in the type, and a Rotate of the wrong kind (default kept).
    add_text(L"price", 10, 20, 3, 1);
    ASSERT_EQ(run(CommandType::add_json_label_text_item), 0);
    add_text(L"a/b \u0426\u0435\u043d\u0430", -5, 0, 2, 0);
    set({{ParamType::Width, 0}, {ParamType::Height, 12}, {ParamType::Rotate, L"90"}});
    ASSERT_EQ(run(CommandType::add_json_label_text_item), 0);
    ASSERT_EQ(pending(), 6u);

    ASSERT_EQ(send_label(7, 60, 40), 0);
    EXPECT_EQ(pending(), 0u);
    const std::string expected = R"({
    "labelFormatType": "7",
    "width": "60",
    "height": "40",
    "textItems": [
        {
            "type": "price",
            "x": "10",
            "y": "20",
            "font": "3",
            "align": "1",
            "orientation": "0"
        },
        {
            "type": "a\/b )"
                                 "\xD0\xA6\xD0\xB5\xD0\xBD\xD0\xB0"
                                 R"(",
            "x": "-5",
            "y": "0",
            "font": "2",
            "align": "0",
            "orientation": "0",
            "width": "0",
            "height": "12"
        }
    ],
    "imageItems": [
        {
            "imageNumber": "3",
            "x": "7",
            "y": "8",
            "orientation": "0"
        }
    ],
    "graphicItems": [
        {
            "x": "0",
            "y": "1",
            "xEnd": "100",
            "yEnd": "1"
        }
    ],
    "barcodeItems": [
        {
            "type": "EAN13",
            "x": "1",
            "y": "2",
            "width": "30",
            "height": "10",
            "lineVerification": "true",
            "orientation": "0",
            "number": "1"
        },
        {
            "type": "QR",
            "x": "3",
            "y": "4",
            "width": "5",
            "height": "6",
            "lineVerification": "false",
            "orientation": "90",
            "number": "2"
        }
    ]
}
)";
    EXPECT_EQ(sent_document(), expected);
    EXPECT_EQ(state->get().documents.at(7), text_bytes(expected));
}

TEST_F(LabelDocument, BarcodeNumbersCountFromOneAfterEachSend)
{
    for (int round = 0; round < 2; ++round) {
        add_barcode(L"A", 0, 0, 1, 1);
        ASSERT_EQ(run(CommandType::add_json_label_barcode_item), 0);
        add_barcode(L"B", 0, 0, 1, 1);
        set(ParamType::Number, 9);
        ASSERT_EQ(run(CommandType::add_json_label_barcode_item), 0);
        add_barcode(L"C", 0, 0, 1, 1);
        ASSERT_EQ(run(CommandType::add_json_label_barcode_item), 0);
        const auto& items = d.json_label_data.barcodeItems;
        ASSERT_EQ(items.size(), 3u);
        EXPECT_EQ(items[0].number, 1);
        EXPECT_EQ(items[1].number, 9);
        EXPECT_EQ(items[2].number, 3);
        ASSERT_EQ(send_label(1, 58, 30), 0);
    }
}

TEST_F(LabelDocument, MissingRequiredValueAppendsNothing)
{
    const struct {
        CommandType command;
        ParamType left_out;
        int code;
    } table[] = {
        {CommandType::add_json_label_text_item, ParamType::Align, -7},
        {CommandType::add_json_label_barcode_item, ParamType::Height, -7},
        {CommandType::add_json_label_image_item, ParamType::PictureNumber, -7},
        {CommandType::add_json_label_graphic_item, ParamType::Y2Coordinate, -7},
    };
    for (const auto& c : table) {
        for (ParamType p :
             {ParamType::XCoordinate, ParamType::YCoordinate, ParamType::X2Coordinate, ParamType::Y2Coordinate,
              ParamType::Font, ParamType::Align, ParamType::Width, ParamType::Height, ParamType::PictureNumber})
            set(p, 1);
        set(ParamType::LabelItemType, L"t");
        d.input_params.erase(c.left_out);
        EXPECT_EQ(run(c.command), c.code) << static_cast<int>(c.left_out);
    }
    // A required value of the wrong kind: -8.
    set({{ParamType::XCoordinate, L"1"},
         {ParamType::YCoordinate, 1},
         {ParamType::X2Coordinate, 1},
         {ParamType::Y2Coordinate, 1}});
    EXPECT_EQ(run(CommandType::add_json_label_graphic_item), -8);
    EXPECT_EQ(pending(), 0u);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(LabelDocument, RefusedSendKeepsItemsFormatAndSize)
{
    add_text(L"t", 1, 1, 1, 1);
    ASSERT_EQ(run(CommandType::add_json_label_text_item), 0);

    // No LabelLength: -7, and the given format and width are not kept.
    set({{ParamType::LabelFormat, 5}, {ParamType::LabelWidth, 70}});
    EXPECT_EQ(run(CommandType::send_json_label_data), -7);
    // Width 0: -104; the next call without LabelFormat is -7, not -104.
    EXPECT_EQ(send_label(5, 0, 30), -104);
    EXPECT_EQ(run(CommandType::send_json_label_data), -7);
    EXPECT_EQ(send_label(5, 70, -1), -104);

    EXPECT_EQ(d.json_label_data.labelFormatType, 0);
    EXPECT_EQ(d.json_label_data.width, 58);
    EXPECT_EQ(d.json_label_data.height, 30);
    EXPECT_EQ(pending(), 1u);
    EXPECT_EQ(sim.request_count(), 0u);

    ASSERT_EQ(send_label(5, 70, 40), 0);
    EXPECT_EQ(d.json_label_data.labelFormatType, 5);
    EXPECT_EQ(d.json_label_data.width, 70);
    EXPECT_EQ(d.json_label_data.height, 40);
}

TEST_F(LabelDocument, FailedSendSpendsTheItemsButNotTheSize)
{
    device_test::log_capture log;
    add_text(L"t", 1, 1, 1, 1);
    ASSERT_EQ(run(CommandType::add_json_label_text_item), 0);
    sim.on({0xFF, 0x18}, 195);
    EXPECT_EQ(send_label(3, 80, 50), 195);
    EXPECT_EQ(pending(), 0u);
    EXPECT_EQ(d.json_label_data.width, 58);
    EXPECT_TRUE(log.contains("'send_json_label_data' error=195"));

    d.ip_address_list.clear();
    add_text(L"t", 1, 1, 1, 1);
    ASSERT_EQ(run(CommandType::add_json_label_text_item), 0);
    EXPECT_EQ(send_label(3, 80, 50), -1);
    EXPECT_EQ(pending(), 0u);
}

TEST_F(LabelDocument, LengthFieldLimit)
{
    TextItem item;
    item.type.assign(60000, 'x');
    d.json_label_data.textItems.push_back(item);
    ASSERT_EQ(send_label(4, 58, 30), 0);
    const std::string doc = sent_document();
    EXPECT_GT(doc.size(), 60000u);
    EXPECT_EQ(doc.size(), state->get().documents.at(4).size());

    // Read back whole over TCP: n and the bytes.
    set(ParamType::LabelFormat, 4);
    ASSERT_EQ(run(CommandType::get_json_label_data), 0);
    EXPECT_EQ(device_test::text_of(out_bytes(ParamType::JsonLabelData)), doc);

    // Past 65535 bytes the length field cannot say it: refused, items kept.
    sim.clear_requests();
    item.type.assign(65536, 'x');
    d.json_label_data.textItems.push_back(item);
    EXPECT_EQ(send_label(4, 58, 30), -104);
    EXPECT_EQ(pending(), 1u);
    EXPECT_EQ(sim.request_count(), 0u);
}

// Groups digits by threes and writes a decimal comma, as some locales do.
struct grouping_punct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST_F(LabelDocument, SameBytesUnderAnyLocale)
{
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new grouping_punct));
    set({{ParamType::PictureNumber, 1}, {ParamType::XCoordinate, 12345}, {ParamType::YCoordinate, -1000}});
    const int added = run(CommandType::add_json_label_image_item);
    const int sent = send_label(1000, 1200, 30);
    std::locale::global(previous);
    ASSERT_EQ(added, 0);
    ASSERT_EQ(sent, 0);
    const std::string doc = sent_document();
    EXPECT_NE(doc.find("\"labelFormatType\": \"1000\""), std::string::npos) << doc;
    EXPECT_NE(doc.find("\"x\": \"12345\""), std::string::npos) << doc;
    EXPECT_NE(doc.find("\"y\": \"-1000\""), std::string::npos) << doc;
}

TEST_F(LabelDocument, ReadBackRequestRangeAndShortReplies)
{
    device_test::log_capture log;
    for (int format : {256, -1}) {
        set(ParamType::LabelFormat, format);
        EXPECT_EQ(run(CommandType::get_json_label_data), -104) << format;
    }
    EXPECT_EQ(run(CommandType::get_json_label_data), -7);
    EXPECT_EQ(sim.request_count(), 0u);

    state->update([](qv_sim::label_state::values& v) { v.documents[255] = text_bytes("{}\n"); });
    set(ParamType::LabelFormat, 255);
    ASSERT_EQ(run(CommandType::get_json_label_data), 0);
    EXPECT_EQ(last().raw, B({9, 0, 0, 0, 0x02, 0x07, 0xFF, 0x19, '1', '2', '3', '4', 0xFF}));
    EXPECT_EQ(out_bytes(ParamType::JsonLabelData), text_bytes("{}\n"));

    // No length, or fewer bytes than it announces: -101 and no output.
    for (const bytes& reply :
         {B({0x02, 0x03, 0xFF, 0x19, 0x00}), B({0x02, 0x07, 0xFF, 0x19, 0x00, 0x05, 0x00, 'a', 'b'})}) {
        sim.on({0xFF, 0x19}, [reply](const qv_sim::request&) { return qv_sim::reply(reply); });
        set(ParamType::LabelFormat, 1);
        EXPECT_EQ(run(CommandType::get_json_label_data), -101) << qv_sim::hex(reply);
        EXPECT_FALSE(has_output(ParamType::JsonLabelData));
    }
    sim.on({0xFF, 0x19}, 124);
    set(ParamType::LabelFormat, 1);
    EXPECT_EQ(run(CommandType::get_json_label_data), 124);
    EXPECT_FALSE(log.contains("get_json_label_data 124"));
}

TEST_F(LabelDocument, TwoScales)
{
    qv_sim::sim_scale second("127.0.0.81");
    qv_sim::add_label_replies(second);
    second.on({0xFF, 0x18}, 124);
    send_test::add_scale(d, second, UDP);
    set(ParamType::LabelFormat, 1);
    EXPECT_EQ(run(CommandType::get_json_label_data), -110);
    EXPECT_EQ(send_label(1, 58, 30), -111);
    EXPECT_EQ(state->get().documents.count(1), 1u);
    EXPECT_EQ(second.request_count(), 1u);
}

}  // namespace
