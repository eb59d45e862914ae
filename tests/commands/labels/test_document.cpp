// The JSON label document: items added one at a time, the exact document on
// the wire under any locale, the refusals, and reading it back.

#include <algorithm>
#include <locale>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "../products/products_test_util.h"
#include "../records/record_test_util.h"

using namespace record_test;

namespace {

class LabelDocument : public scale_test<qv_sim::label_state> {
protected:
    LabelDocument() : scale_test("127.0.0.80", qv_sim::add_label_replies) {}

    void add(C command, const std::wstring& type, int x, int y, int a, int b, P pa = P::Font, P pb = P::Align)
    {
        set({{P::LabelItemType, type}, {P::XCoordinate, x}, {P::YCoordinate, y}, {pa, a}, {pb, b}});
        ASSERT_EQ(run(command), 0);
    }
    int send_label(int format, int width, int length)
    {
        set({{P::LabelFormat, format}, {P::LabelWidth, width}, {P::LabelLength, length}});
        return run(C::send_json_label_data);
    }
    // The document that reached the scale, checked against its length field.
    std::string sent_document()
    {
        const bytes data = last_data();
        EXPECT_EQ(slice(data, 0, 2), le(data.size() - 2, 2));
        return device_test::text_of(slice(data, 2, data.size()));
    }
    std::size_t pending() const
    {
        const auto& l = d.json_label_data;
        return l.textItems.size() + l.imageItems.size() + l.barcodeItems.size() + l.graphicItems.size();
    }
};

// Groups digits by threes and writes a decimal comma, as some locales do.
struct grouping_punct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST_F(LabelDocument, EveryItemKindInDocumentOrderUnderAnyLocale)
{
    struct restore {
        std::locale previous;
        ~restore() { std::locale::global(previous); }
    } guard{std::locale::global(std::locale(std::locale::classic(), new grouping_punct))};
    // Added barcode first and graphic before image: the document still lists
    // text, image, graphic, barcode.
    set({{P::BCTestLine, 1}, {P::Rotate, 90}});
    add(C::add_json_label_barcode_item, L"QR", 1, 2, 30, 10, P::Width, P::Height);
    set({{P::XCoordinate, 0}, {P::YCoordinate, 1}, {P::X2Coordinate, 100}, {P::Y2Coordinate, 1}});
    ASSERT_EQ(run(C::add_json_label_graphic_item), 0);
    add(C::add_json_label_image_item, L"", 12345, -1000, 3, 3, P::PictureNumber, P::PictureNumber);
    // Width 0, a negative X, a slash and Cyrillic in the type, and a Rotate
    // of the wrong kind (default kept).
    set({{P::Width, 0}, {P::Height, 12}, {P::Rotate, L"90"}});
    add(C::add_json_label_text_item, L"a/b \u0426\u0435\u043d\u0430", -5, 0, 2, 0);

    ASSERT_EQ(send_label(7, 1200, 40), 0);
    EXPECT_EQ(pending(), 0u);
    EXPECT_EQ(sent_document(),
              products_test::laid_out(
                  R"({"labelFormatType": "7", "width": "1200", "height": "40", "textItems": [{"type": "a\/b Цена", )"
                  R"("x": "-5", "y": "0", "font": "2", "align": "0", "orientation": "0", "width": "0", "height": "12"}], )"
                  R"("imageItems": [{"imageNumber": "3", "x": "12345", "y": "-1000", "orientation": "0"}], )"
                  R"("graphicItems": [{"x": "0", "y": "1", "xEnd": "100", "yEnd": "1"}], "barcodeItems": [{"type": "QR", )"
                  R"("x": "1", "y": "2", "width": "30", "height": "10", "lineVerification": "true", "orientation": "90", )"
                  R"("number": "1"}]})"));
    EXPECT_EQ(slice(last().frame, 2, 8), B({0xFF, 0x18, '1', '2', '3', '4'}));
    // Barcode numbers count from one again after a send.
    add(C::add_json_label_barcode_item, L"A", 0, 0, 1, 1, P::Width, P::Height);
    EXPECT_EQ(d.json_label_data.barcodeItems.at(0).number, 1);
}

// Format, width and length are stored as they are read, up to the first read that fails: a refusal of an input keeps
// the items and what was stored before it. Once 63 has all three the items are spent whatever the answer: a refusal
// for size, then a small item goes out over UDP and over TCP; a failed send keeps format and size.
TEST_F(LabelDocument, InputRefusalsKeepItemsSizeRefusalsAndFailedSendsSpendThem)
{
    // A missing required value, or one of the wrong kind, appends nothing.
    set({{P::LabelItemType, L"t"}, {P::XCoordinate, 1}, {P::YCoordinate, 1}, {P::Font, 1}, {P::Width, 1}});
    EXPECT_EQ(run(C::add_json_label_text_item), -7);  // no Align
    set({{P::XCoordinate, L"1"}, {P::YCoordinate, 1}, {P::X2Coordinate, 1}, {P::Y2Coordinate, 1}});
    EXPECT_EQ(run(C::add_json_label_graphic_item), -8);
    EXPECT_EQ(pending(), 0u);
    add(C::add_json_label_text_item, L"t", 1, 1, 1, 1);

    const struct {
        const char* what;
        std::vector<std::pair<P, input>> given;
        int result;
        int format, width, height;  // held by the pending label afterwards
    } steps[] = {
        {"no LabelLength: format and width stored", {{P::LabelFormat, 5}, {P::LabelWidth, 70}}, -7, 5, 70, 30},
        {"width 0 stored, then refused", {{P::LabelFormat, 6}, {P::LabelWidth, 0}, {P::LabelLength, 40}}, -104, 6, 0,
         40},
        {"without LabelFormat the stored width 0 refuses again", {{P::LabelWidth, 80}, {P::LabelLength, 50}}, -104, 6,
         0, 40},
        {"a width of another kind is not stored", {{P::LabelFormat, 7}, {P::LabelWidth, L"80"}}, -104, 7, 0, 40},
        {"a length of 0 refused after format and width", {{P::LabelFormat, 8}, {P::LabelWidth, 58}, {P::LabelLength, 0}},
         -104, 8, 58, 0},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        for (const auto& [p, v] : s.given) std::visit([this, p = p](const auto& x) { set(p, x); }, v);
        EXPECT_EQ(run(C::send_json_label_data), s.result);
        EXPECT_EQ(d.json_label_data.labelFormatType, s.format);
        EXPECT_EQ(d.json_label_data.width, s.width);
        EXPECT_EQ(d.json_label_data.height, s.height);
        EXPECT_EQ(pending(), 1u);
    }
    // Past 65535 bytes the length field cannot say it; past one datagram UDP cannot carry it. Refused before
    // sending with the line that says why, the items spent all the same: a small one then goes out.
    const struct {
        int protocol;
        std::size_t type_size;
        const char* line;
    } too_long[] = {
        {1, 65536, "refused label document: 65"},
        {0, 65536, "refused label document: 65"},
        {0, 65250, "refused request for 127.0.0.80: "},
    };
    for (const auto& t : too_long) {
        SCOPED_TRACE(t.line);
        d.json_label_data.textItems.at(0).type.assign(t.type_size, 'x');
        d.ip_address_list.at(0).protocol = t.protocol;
        const std::size_t sent = sim.request_count();
        const device_test::log_capture log;
        EXPECT_EQ(send_label(4, 58, 30), -104);
        const auto lines = log.lines();
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(t.line, 0) == 0; }),
            1);
        EXPECT_EQ(pending(), 0u);
        EXPECT_EQ(sim.request_count(), sent);
        add(C::add_json_label_text_item, L"small", 1, 1, 1, 1);
        ASSERT_EQ(send_label(4, 58, 30), 0);
        EXPECT_EQ(sim.request_count(), sent + 1);
        const std::string document = sent_document();
        EXPECT_NE(document.find(R"("type": "small")"), std::string::npos);
        EXPECT_LT(document.size(), 400u);
        EXPECT_EQ(pending(), 0u);
        add(C::add_json_label_text_item, L"t", 1, 1, 1, 1);
    }

    sim.on({0xFF, 0x18}, 195);
    EXPECT_EQ(send_label(3, 80, 50), 195);
    EXPECT_EQ(pending(), 0u);
    EXPECT_EQ(d.json_label_data.width, 80);
    EXPECT_EQ(d.json_label_data.height, 50);
}

TEST_F(LabelDocument, ReadBackRequestRangeAndShortReply)
{
    set(P::LabelFormat, 256);
    EXPECT_EQ(run(C::get_json_label_data), -104);
    EXPECT_EQ(sim.request_count(), 0u);

    state->update([](qv_sim::label_state::values& v) { v.documents[255] = U("{}\n"); });
    set(P::LabelFormat, 255);
    ASSERT_EQ(run(C::get_json_label_data), 0);
    EXPECT_EQ(last().raw, B({9, 0, 0, 0, 0x02, 0x07, 0xFF, 0x19, '1', '2', '3', '4', 0xFF}));
    EXPECT_EQ(out(P::JsonLabelData, bytes{}), U("{}\n"));

    // Fewer bytes than the length announces: -101 and no output.
    sim.on({0xFF, 0x19}, [](const qv_sim::request&) {
        return qv_sim::reply(B({0x02, 0x07, 0xFF, 0x19, 0x00, 0x05, 0x00, 'a', 'b'}));
    });
    set(P::LabelFormat, 1);
    EXPECT_EQ(run(C::get_json_label_data), -101);
    EXPECT_TRUE(d.output_params.empty());
}

}  // namespace
