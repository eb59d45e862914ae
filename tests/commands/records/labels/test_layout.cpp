// Label layout commands against a simulated scale: the exact payload of a
// full set, the round trip through the scale's memory, values that do not
// fit refused before sending, short replies, and the error lines.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "label_records_fixture.h"

using namespace label_test;

namespace {

// The lists written from parameter numbers, independently of the driver's
// tables.
std::vector<ParamType> numbers(std::initializer_list<std::pair<int, int>> ranges)
{
    std::vector<ParamType> out;
    for (const auto& [first, last] : ranges)
        for (int n = first; n <= last; ++n) out.push_back(static_cast<ParamType>(n));
    return out;
}

struct family {
    const char* name;
    CommandType get;
    CommandType set;
    bytes opcode;
    std::vector<ParamType> list;  // after the leading LabelFormat
    int first_format;  // the lowest LabelFormat the setter takes
    int largest;  // the largest value of an entry
    std::size_t trailer;  // zero bytes closing the setter's payload
};

const std::vector<family>& families()
{
    static const std::vector<family> all{
        {"basic", CommandType::get_params_label, CommandType::set_params_label, B({0xA0}), numbers({{52, 105}}), 0, 255,
         0},
        {"extended", CommandType::get_params_label_ex, CommandType::set_params_label_ex, B({0xA2}),
         numbers({{106, 136}, {-2, -2}, {-2, -2}, {-2, -2}, {257, 260}, {308, 309}}), 0, 255, 0},
        {"fonts", CommandType::get_fonts_items, CommandType::set_fonts_items, B({0xA4}),
         numbers({{144, 177}, {261, 262}, {310, 310}}), 10, 6, 2},
        {"alignments", CommandType::get_align_params_label, CommandType::set_align_params_label, B({0xB4}),
         numbers({{222, 252}, {303, 303}, {253, 256}, {311, 311}}), 10, 6, 2},
        {"datamatrix", CommandType::get_datamatrix_param, CommandType::set_datamatrix_param, B({0xFF, 0x0D}),
         numbers({{272, 275}}), 0, 255, 0},
    };
    return all;
}

int value_for(const family& f, std::size_t k)
{
    if (f.list[k] == P::ReservedByte) return 200;  // one hidden input for the three bytes
    return f.largest == 255 ? static_cast<int>(k) + 1 : static_cast<int>(k % 7);
}

class LabelLayout : public label_records_test {
protected:
    void set_all(const family& f, int format)
    {
        set(P::LabelFormat, format);
        for (std::size_t k = 0; k < f.list.size(); ++k) set(f.list[k], value_for(f, k));
    }
};

TEST_F(LabelLayout, FullSetSendsEveryValueInListOrderAndTheGetterReadsItBack)
{
    for (const family& f : families()) {
        SCOPED_TRACE(f.name);
        set_all(f, 12);
        ASSERT_EQ(run(f.set), 0);
        bytes payload{std::byte{12}};
        for (std::size_t k = 0; k < f.list.size(); ++k) payload.push_back(std::byte(value_for(f, k)));
        payload.resize(payload.size() + f.trailer);
        // 02 LEN opcode+1 password payload
        bytes frame{std::byte{0x02}, std::byte(f.opcode.size() + 4 + payload.size())};
        bytes op = f.opcode;
        op.back() = std::byte(std::to_integer<int>(op.back()) + 1);
        frame.insert(frame.end(), op.begin(), op.end());
        for (char c : std::string("1234")) frame.push_back(std::byte(c));
        frame.insert(frame.end(), payload.begin(), payload.end());
        EXPECT_EQ(sim.requests().back().frame, frame);

        set(P::LabelFormat, 12);
        ASSERT_EQ(run(f.get), 0);
        EXPECT_EQ(last_payload(), B({12}));
        for (std::size_t k = 0; k < f.list.size(); ++k)
            EXPECT_EQ(out_int(f.list[k]), value_for(f, k)) << static_cast<int>(f.list[k]);
    }
}

TEST_F(LabelLayout, ValueThatDoesNotFitItsFieldIsRefusedBeforeSending)
{
    for (const family& f : families()) {
        for (std::size_t k : {std::size_t{0}, f.list.size() - 1}) {
            for (int bad : {f.largest + 1, -1}) {
                SCOPED_TRACE(std::string(f.name) + " entry " + std::to_string(k) + " = " + std::to_string(bad));
                set_all(f, 12);
                set(f.list[k], bad);
                const std::size_t sent = sim.request_count();
                EXPECT_EQ(run(f.set), -104);
                EXPECT_EQ(sim.request_count(), sent);
            }
        }
    }
    // LabelLength 300 would have reached the scale as 0x2C.
    set_all(families()[0], 1);
    set(P::LabelLength, 300);
    EXPECT_EQ(run(CommandType::set_params_label), -104);

    // The first bad font in list order decides between out of range and absent.
    const family& fonts = families()[2];
    set_all(fonts, 10);
    set(fonts.list[3], 7);
    d.input_params.erase(fonts.list[5]);
    EXPECT_EQ(run(CommandType::set_fonts_items), -104);
    set_all(fonts, 10);
    d.input_params.erase(fonts.list[3]);
    set(fonts.list[5], 7);
    EXPECT_EQ(run(CommandType::set_fonts_items), -7);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(LabelLayout, LabelFormatRangePerCommand)
{
    using C = CommandType;
    const struct {
        C command;
        int format;
        int expected;
    } cases[] = {
        // clang-format off
        {C::get_params_label, 14, 0}, {C::get_params_label, 15, -104}, {C::get_params_label_ex, -1, -104},
        {C::get_align_params_label, 0, 0}, {C::set_fonts_items, 9, -104}, {C::set_fonts_items, 10, 0},
        {C::set_align_params_label, 15, -104}, {C::set_datamatrix_param, 14, 0}, {C::set_params_label, 256, -104},
        {C::set_params_label, 20, 124},  // fits its byte and reaches the scale, which refuses it
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.command)) + " format " + std::to_string(c.format));
        for (const family& f : families())
            if (f.set == c.command) set_all(f, c.format);
        set(P::LabelFormat, c.format);
        const std::size_t sent = sim.request_count();
        EXPECT_EQ(run(c.command), c.expected);
        EXPECT_EQ(sim.request_count(), sent + (c.expected == -104 ? 0 : 1));
        EXPECT_TRUE(c.expected == -104 || last_payload().at(0) == std::byte(c.format));
    }
}

TEST_F(LabelLayout, MissingLabelFormat)
{
    device_test::log_capture log;
    EXPECT_EQ(run(CommandType::get_params_label), -104);
    EXPECT_TRUE(log.contains("The '51' parameter is missing"));
    EXPECT_TRUE(log.contains("'get_params_label' invalid parameter 'LabelFormat'"));
    EXPECT_FALSE(log.contains("'get_params_label' error=-104"));
    EXPECT_EQ(run(CommandType::get_fonts_items), -7);
    EXPECT_EQ(run(CommandType::set_params_label), -7);
    set(P::LabelFormat, 1);
    set(P::DataMatrixXPos, 1);
    set(P::DataMatrixYPos, 2);
    set(P::DataMatrixWidth, 3);
    EXPECT_EQ(run(CommandType::set_datamatrix_param), -7);  // DataMatrixHeight absent
    set_text(P::LabelFormat, L"1");
    EXPECT_EQ(run(CommandType::get_fonts_items), -8);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(LabelLayout, ReservedBytesOfTheExtendedLayout)
{
    const family& ex = families()[1];
    set_all(ex, 3);
    d.input_params.erase(P::ReservedByte);
    ASSERT_EQ(run(CommandType::set_params_label_ex), 0);
    bytes payload = last_payload();
    ASSERT_EQ(payload.size(), 41u);
    EXPECT_EQ(bytes(payload.begin() + 32, payload.begin() + 35), B({0, 0, 0}));

    set_all(ex, 3);
    set(P::ReservedByte, 7);
    ASSERT_EQ(run(CommandType::set_params_label_ex), 0);
    payload = last_payload();
    EXPECT_EQ(bytes(payload.begin() + 32, payload.begin() + 35), B({7, 7, 7}));

    set_all(ex, 3);
    set_bytes(P::ReservedByte, B({7}));
    EXPECT_EQ(run(CommandType::set_params_label_ex), -8);

    // The reply's three reserved bytes all go to output -2: the third stays.
    records->update([](qv_sim::label_records::values& v) {
        for (std::size_t k = 0; k < 40; ++k) v.layouts[3].extended[k] = std::byte(0x40 + k);
    });
    set(P::LabelFormat, 3);
    ASSERT_EQ(run(CommandType::get_params_label_ex), 0);
    EXPECT_EQ(out_int(P::BCTestLine), 0x40 + 30);
    EXPECT_EQ(out_int(P::ReservedByte), 0x40 + 33);
    EXPECT_EQ(out_int(P::InscrLabelNumberXPos), 0x40 + 34);
    EXPECT_EQ(out_int(P::PackerNameYPos), 0x40 + 39);
}

TEST_F(LabelLayout, ReplyOneByteShortGivesMinus101AndNoOutput)
{
    for (const family& f : families()) {
        SCOPED_TRACE(f.name);
        sim.on(f.opcode, 0, bytes(f.list.size() - 1, std::byte{5}));
        set(P::LabelFormat, 1);
        EXPECT_EQ(run(f.get), -101);
        EXPECT_TRUE(d.output_params.empty());
    }
    // The available fonts: one byte read as a byte array, none at all a short reply.
    records->update([](qv_sim::label_records::values& v) { v.available_fonts = 0x15; });
    ASSERT_EQ(run(CommandType::get_available_fonts), 0);
    EXPECT_EQ(last_payload(), bytes{});
    EXPECT_EQ(out_bytes(P::AvailableFontsProp), B({0x15}));
    sim.on({0xA6}, 0);
    EXPECT_EQ(run(CommandType::get_available_fonts), -101);
    EXPECT_TRUE(d.output_params.empty());
}

TEST_F(LabelLayout, ScaleRefusalAndSilenceGiveTheirErrorLines)
{
    sim.on({0xA0}, 131, B({1, 2, 3}));
    set(P::LabelFormat, 2);
    device_test::log_capture log;
    EXPECT_EQ(run(CommandType::get_params_label), 131);
    EXPECT_TRUE(log.contains("'get_params_label' error=131"));
    EXPECT_TRUE(d.output_params.empty());
    sim.set_fault(send_test::silent());
    set_all(families()[4], 1);
    EXPECT_EQ(run(CommandType::set_datamatrix_param), -1);
    EXPECT_TRUE(log.contains("'set_datamatrix_param' error=-1"));
}

TEST_F(LabelLayout, SettersGoToEveryScaleGettersOnlyToOne)
{
    qv_sim::sim_scale second("127.0.0.41");
    auto second_records = qv_sim::add_label_record_replies(second);
    send_test::add_scale(d, second, 0);  // over UDP
    set_all(families()[4], 5);
    ASSERT_EQ(run(CommandType::set_datamatrix_param), 0);
    EXPECT_EQ(second_records->get().layouts[5].datamatrix, B({1, 2, 3, 4}));
    EXPECT_EQ(records->get().layouts[5].datamatrix, B({1, 2, 3, 4}));
    set(P::LabelFormat, 5);
    EXPECT_EQ(run(CommandType::get_datamatrix_param), -110);
    EXPECT_EQ(sim.request_count() + second.request_count(), 2u);
}

}  // namespace
