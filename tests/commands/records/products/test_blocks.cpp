// PLU and message blocks with their count and limits; message lines sent and read one at a time.

#include <algorithm>
#include <string>
#include <vector>

#include "../record_test_util.h"

using namespace record_test;

namespace {

class blocks : public product_test {
protected:
    blocks() : product_test("127.0.0.53") {}

    void set_message(int number, int line, const input& text)
    {
        set({{P::MessageNumber, number}, {P::StringNumber, line}, {P::MessageString, text}});
    }
    void collect(int n, bool plu = true)  // records numbered from 1
    {
        for (int k = 1; k <= n; ++k) {
            if (plu) {
                set_extended_inputs(false);
                set(P::PLUNumber, k);
            } else {
                set_message(9, k, L"line");
            }
            ASSERT_EQ(run(plu ? C::add_plu_to_block : C::add_message_to_block), 0);
        }
    }
};

TEST_F(blocks, PlusCollectedOverSeveralCommandsGoInOneRequestSixAtMost)
{
    collect(6);
    const bytes six = in_bytes(P::PluBlock);
    // A seventh record is refused before the switch is asked for, the block unchanged.
    sim.clear_requests();
    set(P::PLUNumber, 7);
    EXPECT_EQ(run(C::add_plu_to_block), -104);
    EXPECT_EQ(sim.request_count(), 0u);
    EXPECT_EQ(in_bytes(P::PluBlock), six);
    ASSERT_EQ(run(C::set_plu_block_data), 0);
    EXPECT_EQ(commands(), std::vector<bytes>{B({0x55})});  // the switch is not asked for
    EXPECT_EQ(last_data(), cat({B({6}), six}));
    // Any other command between collecting and sending ends the block.
    qv_sim::add_connect_replies(sim);
    collect(1);
    ASSERT_EQ(run(C::get_plu_count), 0);
    EXPECT_EQ(run(C::set_plu_block_data), -7);
}

TEST_F(blocks, FailedCollectingLeavesTheBlockAsItWas)
{
    collect(1);
    const bytes before = in_bytes(P::PluBlock);
    set(P::BCFormat, 16);
    EXPECT_EQ(run(C::add_plu_to_block), -104);
    EXPECT_EQ(in_bytes(P::PluBlock), before);
    ASSERT_EQ(run(C::set_plu_block_data), 0);
    EXPECT_EQ(last_data()[0], std::byte{1});
}

// A collecting run may end with a single-record command: the records collected so far, then its own, without a
// count byte, and the block is gone. Records of the other form than the frame are refused, nothing sent.
TEST_F(blocks, SingleRecordCommandsSendTheCollectedRecordsInFrontOfTheirOwn)
{
    // What is collected, the single-record command and its frame, the result and the payload's size.
    using row = std::tuple<std::vector<C>, C, bytes, int, std::size_t>;
    const C plu = C::add_plu_to_block, line = C::add_message_to_block, line8 = C::add_message_to_block_utf8;
    const row table[] = {
        {{plu, plu}, C::set_plu_data_extended, B({0x57}), 0, 3 * 82},
        {{line, line}, C::set_message_data, B({0x52}), 0, 3 * 53},
        {{line8, line8}, C::set_message_data_utf8, B({0xFF, 0x52}), 0, 3 * 9},
        {{}, C::set_plu_data_extended, B({0x57}), 0, 82},
        {{plu}, C::set_plu_data_extended_utf8, {}, -104, 0},
        {{line}, C::set_message_data_utf8, {}, -104, 0},
        {{line8}, C::set_message_data, {}, -104, 0},
    };
    for (const auto& [collecting, single, frame, result, size] : table) {
        SCOPED_TRACE(static_cast<int>(single));
        const bool for_plu = single == C::set_plu_data_extended || single == C::set_plu_data_extended_utf8;
        const bool utf8 = single == C::set_plu_data_extended_utf8 || single == C::set_message_data_utf8;
        int number = 0;
        const auto record_inputs = [&](bool as_utf8) {
            ++number;
            for_plu ? set_extended_inputs(as_utf8)
                    : set_message(9, number, as_utf8 ? input(U("line")) : input(L"line"));
            set(P::PLUNumber, number);
        };
        for (const C command : collecting) {
            record_inputs(command == line8);
            ASSERT_EQ(run(command), 0);
        }
        const bytes collected = in_bytes(for_plu ? P::PluBlock : P::MessageBlock);
        const std::size_t sent = sim.request_count();
        record_inputs(utf8);
        ASSERT_EQ(run(single), result);
        if (result == 0) {
            EXPECT_EQ(last().command, frame);
            EXPECT_EQ(slice(last_data(), 0, collected.size()), collected);
            EXPECT_EQ(last_data().size(), size);
        } else {
            EXPECT_EQ(sim.request_count(), sent);  // not even the switch is asked for
        }
        EXPECT_TRUE(d.input_params.empty());
        EXPECT_EQ(run(for_plu ? C::set_plu_block_data : C::set_message_block_data), -7);
    }
    // Bytes the host stored go as they stand.
    const bytes stored = cat({le(9, 2), B({2}), le(2, 2), U("hi")});
    set(P::MessageBlock, stored);
    set_message(9, 1, U("line"));
    ASSERT_EQ(run(C::set_message_data_utf8), 0);
    EXPECT_EQ(last_data(), cat({stored, le(9, 2), B({1}), le(4, 2), U("line")}));
}

TEST_F(blocks, BuffersThatNoCountDescribesAreRefused)
{
    // Bytes stored by the host through the buffer's key: whole records only, 1 to 6 or 1 to 8 of them. The
    // refusal's line names the buffer's size.
    const std::string plus = R"x(refused bytes array param "(-3)": )x",
                      messages = R"x(refused bytes array param "(-4)": )x";
    const struct {
        C command;
        P key;
        std::size_t size;
        std::string line;
    } refused[] = {
        {C::set_plu_block_data, P::PluBlock, 100, plus + "100 bytes; allowed: 1 to 6 whole records of 82 bytes"},
        {C::set_plu_block_data, P::PluBlock, 165, plus + "165 bytes; allowed: 1 to 6 whole records of 82 bytes"},
        {C::set_plu_block_data, P::PluBlock, 7 * 82, plus + "574 bytes; allowed: 1 to 6 whole records of 82 bytes"},
        {C::set_message_block_data, P::MessageBlock, 52,
         messages + "52 bytes; allowed: 1 to 8 whole records of 53 bytes"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.size);
        const device_test::log_capture log;
        expect_refused({{r.command, {{r.key, bytes(r.size, std::byte{1})}}, -104}});
        const auto logged = log.lines();
        EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                                [](const std::string& l) { return l.rfind("refused ", 0) == 0; }),
                  1);
        EXPECT_TRUE(log.contains(r.line)) << r.line;
    }
    set(P::PluBlock, bytes(164, std::byte{1}));
    ASSERT_EQ(run(C::set_plu_block_data), 0);
    EXPECT_EQ(last_data()[0], std::byte{2});
}

TEST_F(blocks, EightMessageLinesGoANinthAndUtf8LinesAreRefused)
{
    for (int k = 1; k <= 8; ++k) {
        set_message(300, k, L"Строка " + std::to_wstring(k));
        ASSERT_EQ(run(C::add_message_to_block), 0);
    }
    const bytes eight = in_bytes(P::MessageBlock);
    set_message(300, 9, U("x"));
    EXPECT_EQ(run(C::add_message_to_block_utf8), -104);  // a ninth line of either form
    EXPECT_EQ(in_bytes(P::MessageBlock), eight);
    ASSERT_EQ(run(C::set_message_block_data), 0);
    const bytes payload = last_data();
    ASSERT_EQ(payload, cat({B({8}), eight}));
    ASSERT_EQ(payload.size(), 1u + 424);
    // The count, then the first line: number, line, 50 bytes of text and padding.
    EXPECT_EQ(bytes(payload.begin(), payload.begin() + 13),
              cat({B({8}), le(300, 2), B({1, 0xD1, 0xF2, 0xF0, 0xEE, 0xEA, 0xE0, ' ', '1', 0})}));
    sim.clear_requests();
    // A UTF-8 line never goes under the fixed-size block frame.
    set_message(5, 1, L"fixed");
    ASSERT_EQ(run(C::add_message_to_block), 0);
    set_message(5, 2, U(std::string(48, 'u')));  // 53 bytes: the size alone would pass
    ASSERT_EQ(run(C::add_message_to_block_utf8), 0);
    EXPECT_EQ(run(C::set_message_block_data), -104);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(blocks, MessageLinesSinglyAndOutOfRange)
{
    set_message(7, 2, std::wstring(60, L'Ж'));  // the first 50 characters go
    ASSERT_EQ(run(C::set_message_data), 0);
    EXPECT_EQ(last_data(), cat({le(7, 2), B({2}), bytes(50, std::byte{0xC6})}));
    set_message(8, 255, U("Ünïcödé"));
    ASSERT_EQ(run(C::set_message_data_utf8), 0);
    EXPECT_EQ(last_data(), cat({le(8, 2), B({255}), le(11, 2), U("Ünïcödé")}));

    const auto line = [](int number, int n, const input& text) {
        return std::vector<std::pair<P, input>>{
            {P::MessageNumber, number}, {P::StringNumber, n}, {P::MessageString, text}};
    };
    expect_refused({{C::add_message_to_block, line(0, 1, L"t"), -104},
                    {C::add_message_to_block, line(65536, 1, L"t"), -104},
                    {C::add_message_to_block, line(1, 0, L"t"), -104},
                    {C::add_message_to_block, line(1, 256, L"t"), -104},
                    {C::set_message_data_utf8, line(1, 0, U("t")), -104}});
    EXPECT_FALSE(d.input_params.count(P::MessageBlock));
}

TEST_F(blocks, MessageRepliesAreReadWithinTheirLength)
{
    // get_message_data (32): the text fills the frame, its last byte included.
    const bytes full = cat({bytes(49, std::byte{0xC6}), B({0xFF})});
    sim.on({0x53}, 0, full);
    set({{P::MessageNumber, 300}, {P::StringNumber, 7}});
    ASSERT_EQ(run(C::get_message_data), 0);
    EXPECT_EQ(last().frame, cat({B({0x02, 0x08, 0x53}), U("1234"), le(300, 2), B({7})}));
    EXPECT_EQ(out(P::MessageString, std::wstring{}), std::wstring(49, L'Ж') + L"я");
    // A length byte that claims more text than the frame holds.
    sim.on({0x53}, [](const qv_sim::request&) { return qv_sim::reply(B({2, 0xFF, 0x53, 0, 'A', 'B'})); });
    set({{P::MessageNumber, 300}, {P::StringNumber, 7}});
    EXPECT_EQ(run(C::get_message_data), -101);
    EXPECT_TRUE(d.output_params.empty());
    // get_message_data_utf8 (102): a line that claims 10 bytes where 3 follow.
    sim.on({0xFF, 0x53}, 0, cat({le(10, 2), U("abc")}));
    set({{P::MessageNumber, 1}, {P::StringNumber, 1}});
    EXPECT_EQ(run(C::get_message_data_utf8), -101);
    EXPECT_TRUE(d.output_params.empty());
}

}  // namespace
