// Barcode prefixes, default structures and the barcode format against a
// simulated scale that keeps them: request bytes, refusals that send nothing,
// getters reading back what setters wrote, and short replies.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "send_test_util.h"

using namespace send_test;

namespace {

using P = ParamType;

class Barcodes : public device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        qv_sim::add_standard_replies(sim);
        add_scale(d, sim, 1);
    }
    void set(P p, int v) { d.set_int_param(p, d.input_params, v, false); }
    void set(P p, const bytes& v) { d.set_bytes_array_param(p, d.input_params, v, false); }
    int out_int(P p)
    {
        int v = -12345;
        d.get_int_param(p, d.output_params, v, false);
        return v;
    }
    qv_sim::sim_scale sim{"127.0.0.75"};
};

TEST_F(Barcodes, RequestBytesAndRefusals)
{
    bytes long_text(300, std::byte{0});
    for (std::size_t k = 0; k < long_text.size(); ++k) long_text[k] = static_cast<std::byte>(k);
    bytes long_payload = B({0x2C, 0x01});
    long_payload.insert(long_payload.end(), long_text.begin(), long_text.end());
    const struct {
        const char* what;
        int command;
        std::vector<std::pair<P, int>> ints;
        std::optional<bytes> structures;
        int result;
        bytes opcode, payload;  // empty opcode: nothing sent
    } cases[] = {
        {"get type", 35, {}, {}, 0, B({0x72}), {}},
        {"set type 3", 36, {{P::PrefixBCType, 3}}, {}, 0, B({0x73}), B({3})},
        {"type 4", 36, {{P::PrefixBCType, 4}}, {}, -104, {}, {}},
        {"type absent", 36, {}, {}, -7, {}, {}},
        {"get prefixes", 39, {}, {}, 0, B({0x76}), {}},
        {"piece goods prefix, the others absent",
         40,
         {{P::PrefixBC, 1}, {P::PrefixBCPieceGoods, 25}},
         {},
         0,
         B({0x77}),
         B({0x01, 0x19})},
        {"weighed goods prefix 99, the others out of range",
         40,
         {{P::PrefixBC, 0}, {P::PrefixBCWeightGoods, 99}, {P::PrefixBCPieceGoods, 500}, {P::PrefixBCTotalLabel, -1}},
         {},
         0,
         B({0x77}),
         B({0x00, 0x63})},
        {"total label prefix 0", 40, {{P::PrefixBC, 2}, {P::PrefixBCTotalLabel, 0}}, {}, 0, B({0x77}), B({0x02, 0})},
        {"selector 3", 40, {{P::PrefixBC, 3}, {P::PrefixBCWeightGoods, 1}}, {}, -104, {}, {}},
        {"prefix 100", 40, {{P::PrefixBC, 0}, {P::PrefixBCWeightGoods, 100}}, {}, -104, {}, {}},
        {"selected prefix absent", 40, {{P::PrefixBC, 2}, {P::PrefixBCWeightGoods, 20}}, {}, -7, {}, {}},
        {"get structures", 65, {}, {}, 0, B({0xFF, 0x27}), {}},
        {"empty structures", 66, {}, bytes{}, 0, B({0xFF, 0x28}), B({0, 0})},
        {"300 bytes of structures", 66, {}, long_text, 0, B({0xFF, 0x28}), long_payload},
        {"structures of 65536 bytes", 66, {}, bytes(65536, std::byte{'x'}), -104, {}, {}},
        {"structures absent", 66, {}, {}, -7, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.clear_requests();
        for (const auto& [p, v] : c.ints) set(p, v);
        if (c.structures) set(P::JsonBarcodeStructures, *c.structures);
        EXPECT_EQ(d.execute_command(c.command), c.result);
        ASSERT_EQ(sim.request_count(), c.opcode.empty() ? 0u : 1u);
        if (c.opcode.empty()) continue;
        const auto r = sim.requests()[0];
        EXPECT_EQ(r.command, c.opcode);
        bytes expected = B({'1', '2', '3', '4'});
        expected.insert(expected.end(), c.payload.begin(), c.payload.end());
        EXPECT_EQ(r.rest, expected);
        EXPECT_EQ(r.frame[1] == std::byte{0xFF}, expected.size() > 250);  // past 254 bytes the LEN byte reads FF
    }
    d.set_string_param(P::PrefixBCType, d.input_params, L"1", false);
    EXPECT_EQ(d.execute_command(36), -8);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(Barcodes, GettersReadWhatTheSettersWrote)
{
    EXPECT_EQ(d.execute_command(39), 0);
    EXPECT_EQ(out_int(P::PrefixBCWeightGoods), 20);
    EXPECT_EQ(out_int(P::PrefixBCPieceGoods), 21);
    EXPECT_EQ(out_int(P::PrefixBCTotalLabel), 22);
    set(P::PrefixBC, 1);
    set(P::PrefixBCPieceGoods, 25);
    EXPECT_EQ(d.execute_command(40), 0);
    EXPECT_EQ(d.execute_command(39), 0);
    EXPECT_EQ(out_int(P::PrefixBCWeightGoods), 20);
    EXPECT_EQ(out_int(P::PrefixBCPieceGoods), 25);

    set(P::PrefixBCType, 2);
    EXPECT_EQ(d.execute_command(36), 0);
    EXPECT_EQ(d.execute_command(35), 0);
    EXPECT_EQ(out_int(P::PrefixBCType), 2);

    const bytes text = B({'{', '"', 'a', '"', ':', 0, '}'});
    set(P::JsonBarcodeStructures, text);
    EXPECT_EQ(d.execute_command(66), 0);
    EXPECT_EQ(d.execute_command(65), 0);
    bytes got;
    EXPECT_EQ(d.get_bytes_array_param(P::JsonBarcodeStructures, d.output_params, got, false), 0);
    EXPECT_EQ(got, text);
}

TEST_F(Barcodes, ShortRepliesGiveMinus101AndNoOutput)
{
    const struct {
        int command;
        bytes opcode;
        bytes data;
    } cases[] = {
        {35, B({0x72}), B({})},
        {39, B({0x76}), B({20, 21})},
        {65, B({0xFF, 0x27}), B({4, 0, '{', '}'})},
        {37, B({0x74}), {}},  // the barcode format
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        sim.on(c.opcode, 0, c.data);
        EXPECT_EQ(d.execute_command(c.command), -101);
        EXPECT_TRUE(d.output_params.empty());
    }
    device_test::log_capture log;
    sim.on({0x76}, 0, {});
    EXPECT_EQ(d.execute_command(39), -101);
    EXPECT_TRUE(log.contains("get_params_prefixes_barcode -101"));
}

TEST_F(Barcodes, OnlyTheKnownFormatsAreSentAndReadBack)
{
    const auto run = [this](CommandType c) { return d.execute_command(static_cast<int>(c)); };
    for (int format : {6, 7, 8, 9, 15}) {
        set(P::BCFormat, format);
        ASSERT_EQ(run(CommandType::set_barcode_structure), 0) << format;
        EXPECT_EQ(sim.requests().back().rest, B({'1', '2', '3', '4', format}));
        ASSERT_EQ(run(CommandType::get_barcode_structure), 0);
        EXPECT_EQ(sim.requests().back().rest, B({'1', '2', '3', '4'}));
        EXPECT_EQ(out_int(P::BCFormat), format);
    }
    const std::size_t sent = sim.request_count();
    for (int format : {0, 5, 10, 14, 16, 256 + 7, -1}) {
        set(P::BCFormat, format);
        EXPECT_EQ(run(CommandType::set_barcode_structure), -104) << format;
    }
    device_test::log_capture log;
    EXPECT_EQ(run(CommandType::set_barcode_structure), -104);
    EXPECT_TRUE(log.contains("The '191' parameter is missing"));
    EXPECT_FALSE(log.contains("set_barcode_structure -104"));
    EXPECT_EQ(sim.request_count(), sent);
    sim.on({0x75}, 131);
    set(P::BCFormat, 8);
    EXPECT_EQ(run(CommandType::set_barcode_structure), 131);
    EXPECT_TRUE(log.contains("set_barcode_structure 131"));
}

}  // namespace
