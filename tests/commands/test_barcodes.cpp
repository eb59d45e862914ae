// Barcode prefixes and default structures against a simulated scale that
// keeps them: request bytes, refusals that send nothing, getters reading back
// what setters wrote, and short replies.

#include <functional>
#include <string>

#include "send_test_util.h"

using namespace send_test;

namespace {

void set_int(device& d, ParamType p, int v)
{
    d.set_int_param(p, d.input_params, v, false);
}

int out_int(device& d, ParamType p)
{
    int v = -12345;
    d.get_int_param(p, d.output_params, v, false);
    return v;
}

class Barcodes : public device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        qv_sim::add_standard_replies(sim);
        add_scale(d, sim, 1);
    }

    int run(int command, const std::function<void(device&)>& inputs)
    {
        inputs(d);
        return d.execute_command(command);
    }

    qv_sim::sim_scale sim{"127.0.0.75"};
};

struct wire_case {
    const char* what;
    int command;
    std::function<void(device&)> inputs;
    bytes opcode;
    bytes payload;
};

TEST_F(Barcodes, RequestBytes)
{
    bytes long_text(300, std::byte{0});
    for (std::size_t k = 0; k < long_text.size(); ++k) long_text[k] = static_cast<std::byte>(k);
    bytes long_payload = B({0x2C, 0x01});
    long_payload.insert(long_payload.end(), long_text.begin(), long_text.end());

    const auto none = [](device&) {};
    const wire_case cases[] = {
        {"get type", 35, none, B({0x72}), B({})},
        {"set type 3", 36, [](device& d) { set_int(d, ParamType::PrefixBCType, 3); }, B({0x73}), B({3})},
        {"get prefixes", 39, none, B({0x76}), B({})},
        {"piece goods prefix, the others absent", 40,
         [](device& d) {
             set_int(d, ParamType::PrefixBC, 1);
             set_int(d, ParamType::PrefixBCPieceGoods, 25);
         },
         B({0x77}), B({0x01, 0x19})},
        {"weighed goods prefix 99, the others out of range", 40,
         [](device& d) {
             set_int(d, ParamType::PrefixBC, 0);
             set_int(d, ParamType::PrefixBCWeightGoods, 99);
             set_int(d, ParamType::PrefixBCPieceGoods, 500);
             set_int(d, ParamType::PrefixBCTotalLabel, -1);
         },
         B({0x77}), B({0x00, 0x63})},
        {"total label prefix 0", 40,
         [](device& d) {
             set_int(d, ParamType::PrefixBC, 2);
             set_int(d, ParamType::PrefixBCTotalLabel, 0);
         },
         B({0x77}), B({0x02, 0x00})},
        {"get structures", 65, none, B({0xFF, 0x27}), B({})},
        {"empty structures", 66,
         [](device& d) { d.set_bytes_array_param(ParamType::JsonBarcodeStructures, d.input_params, {}, false); },
         B({0xFF, 0x28}), B({0, 0})},
        {"300 bytes of structures", 66,
         [&](device& d) {
             d.set_bytes_array_param(ParamType::JsonBarcodeStructures, d.input_params, long_text, false);
         },
         B({0xFF, 0x28}), long_payload},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.clear_requests();
        EXPECT_EQ(run(c.command, c.inputs), 0);
        ASSERT_EQ(sim.request_count(), 1u);
        const auto r = sim.requests()[0];
        EXPECT_EQ(r.command, c.opcode);
        bytes expected = B({'1', '2', '3', '4'});
        expected.insert(expected.end(), c.payload.begin(), c.payload.end());
        EXPECT_EQ(r.rest, expected);
    }
    // Past 254 bytes the length byte reads FF.
    sim.clear_requests();
    EXPECT_EQ(run(66,
                  [&](device& d) {
                      d.set_bytes_array_param(ParamType::JsonBarcodeStructures, d.input_params, long_text, false);
                  }),
              0);
    EXPECT_EQ(sim.requests()[0].frame[1], std::byte{0xFF});
}

TEST_F(Barcodes, RefusalsSendNothing)
{
    struct refusal_case {
        const char* what;
        int command;
        std::function<void(device&)> inputs;
        int result;
    };
    const auto prefix = [](int which, ParamType p, int value) {
        return [=](device& d) {
            set_int(d, ParamType::PrefixBC, which);
            set_int(d, p, value);
        };
    };
    const refusal_case cases[] = {
        {"type 4", 36, [](device& d) { set_int(d, ParamType::PrefixBCType, 4); }, -104},
        {"type -1", 36, [](device& d) { set_int(d, ParamType::PrefixBCType, -1); }, -104},
        {"type absent", 36, [](device&) {}, -7},
        {"type of another kind", 36,
         [](device& d) { d.set_string_param(ParamType::PrefixBCType, d.input_params, L"1", false); }, -8},
        {"selector 3", 40, prefix(3, ParamType::PrefixBCWeightGoods, 1), -104},
        {"selector -1", 40, prefix(-1, ParamType::PrefixBCWeightGoods, 1), -104},
        {"prefix 100", 40, prefix(0, ParamType::PrefixBCWeightGoods, 100), -104},
        {"prefix -1", 40, prefix(1, ParamType::PrefixBCPieceGoods, -1), -104},
        {"selected prefix absent", 40, prefix(2, ParamType::PrefixBCWeightGoods, 20), -7},
        {"structures absent", 66, [](device&) {}, -7},
        {"structures of 65536 bytes", 66,
         [](device& d) {
             d.set_bytes_array_param(ParamType::JsonBarcodeStructures, d.input_params, bytes(65536, std::byte{'x'}),
                                     false);
         },
         -104},
        {"structures of another kind", 66,
         [](device& d) { d.set_string_param(ParamType::JsonBarcodeStructures, d.input_params, L"{}", false); }, -8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run(c.command, c.inputs), c.result);
        EXPECT_EQ(sim.request_count(), 0u);
    }
}

TEST_F(Barcodes, GettersReadWhatTheSettersWrote)
{
    EXPECT_EQ(run(39, [](device&) {}), 0);
    EXPECT_EQ(out_int(d, ParamType::PrefixBCWeightGoods), 20);
    EXPECT_EQ(out_int(d, ParamType::PrefixBCPieceGoods), 21);
    EXPECT_EQ(out_int(d, ParamType::PrefixBCTotalLabel), 22);

    EXPECT_EQ(run(40,
                  [](device& d) {
                      set_int(d, ParamType::PrefixBC, 1);
                      set_int(d, ParamType::PrefixBCPieceGoods, 25);
                  }),
              0);
    EXPECT_EQ(run(39, [](device&) {}), 0);
    EXPECT_EQ(out_int(d, ParamType::PrefixBCWeightGoods), 20);
    EXPECT_EQ(out_int(d, ParamType::PrefixBCPieceGoods), 25);

    EXPECT_EQ(run(36, [](device& d) { set_int(d, ParamType::PrefixBCType, 2); }), 0);
    EXPECT_EQ(run(35, [](device&) {}), 0);
    EXPECT_EQ(out_int(d, ParamType::PrefixBCType), 2);

    const bytes text = B({'{', '"', 'a', '"', ':', 0, '}'});
    EXPECT_EQ(
        run(66,
            [&](device& d) { d.set_bytes_array_param(ParamType::JsonBarcodeStructures, d.input_params, text, false); }),
        0);
    EXPECT_EQ(run(65, [](device&) {}), 0);
    bytes got;
    EXPECT_EQ(d.get_bytes_array_param(ParamType::JsonBarcodeStructures, d.output_params, got, false), 0);
    EXPECT_EQ(got, text);
}

TEST_F(Barcodes, ShortRepliesGiveMinus101AndNoOutput)
{
    struct short_case {
        int command;
        bytes opcode;
        bytes data;
        ParamType output;
    };
    const short_case cases[] = {
        {35, B({0x72}), B({}), ParamType::PrefixBCType},
        {39, B({0x76}), B({20, 21}), ParamType::PrefixBCWeightGoods},
        {65, B({0xFF, 0x27}), B({1}), ParamType::JsonBarcodeStructures},
        {65, B({0xFF, 0x27}), B({4, 0, '{', '}'}), ParamType::JsonBarcodeStructures},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        sim.on(c.opcode, 0, c.data);
        device_test::log_capture log;
        EXPECT_EQ(d.execute_command(c.command), -101);
        EXPECT_EQ(d.output_params.count(c.output), 0u);
        EXPECT_EQ(d.output_params.count(ParamType::PrefixBCPieceGoods), 0u);
    }
    device_test::log_capture log;
    sim.on({0x76}, 0, {});
    EXPECT_EQ(d.execute_command(39), -101);
    EXPECT_TRUE(log.contains("get_params_prefixes_barcode -101"));
}

}  // namespace
