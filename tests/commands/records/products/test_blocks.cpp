// PLU and message blocks collected over several commands and sent in one
// request with the count of their records; message lines sent and read one
// at a time; the refusals of blocks that no count could describe.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "products_test_util.h"

using namespace products_test;
using P = ParamType;
using C = CommandType;

namespace {

const bytes op_plu_block = B({0x55});
const bytes op_message_block = B({0x59});

class blocks : public scale_test {
protected:
    blocks() : scale_test("127.0.0.53") {}

    void set_message(int number, int line, const std::wstring& text)
    {
        set(P::MessageNumber, number);
        set(P::StringNumber, line);
        set(P::MessageString, text);
    }
    void set_message_utf8(int number, int line, const std::string& text)
    {
        set(P::MessageNumber, number);
        set(P::StringNumber, line);
        set(P::MessageString, U(text));
    }
    // Collects `n` PLUs numbered from 1 through command 25.
    void collect_plus(int n)
    {
        for (int k = 1; k <= n; ++k) {
            set_extended_inputs(false);
            set(P::PLUNumber, k);
            ASSERT_EQ(run(C::add_plu_to_block), 0);
        }
    }
};

TEST_F(blocks, ThreePlusCollectedOverThreeCommandsGoInOneRequest)
{
    collect_plus(3);
    const bytes collected = in_bytes(P::PluBlock);
    ASSERT_EQ(collected.size(), 3u * 82);
    sim.clear_requests();
    ASSERT_EQ(run(C::set_plu_block_data), 0);
    EXPECT_EQ(commands_of(sim), std::vector<bytes>{op_plu_block});
    EXPECT_EQ(payload_of(sim, op_plu_block), cat({B({3}), collected}));
    EXPECT_EQ(store->plu_records(), 3u);
    // The block is gone with the sending command.
    EXPECT_EQ(run(C::set_plu_block_data), -7);

    set(P::PLUNumber, 2);
    ASSERT_EQ(run(C::get_plu_data_extended), 0);
    EXPECT_EQ(out_text(P::NameFirst), L"Сыр Российский");
    EXPECT_EQ(out_int(P::GroupCode), 9999);
}

TEST_F(blocks, SixPlusAtMostAndNoneIsMissing)
{
    collect_plus(6);
    ASSERT_EQ(run(C::set_plu_block_data), 0);
    EXPECT_EQ(payload_of(sim, op_plu_block).size(), 1u + 492);
    EXPECT_EQ(payload_of(sim, op_plu_block)[0], std::byte{6});

    sim.clear_requests();
    collect_plus(7);
    EXPECT_EQ(run(C::set_plu_block_data), -104);
    EXPECT_FALSE(received(sim, op_plu_block));
    EXPECT_EQ(run(C::set_plu_block_data), -7);
    // Any other command between collecting and sending ends the block.
    qv_sim::add_connect_replies(sim);
    collect_plus(1);
    ASSERT_EQ(run(C::get_plu_count), 0);
    EXPECT_EQ(run(C::set_plu_block_data), -7);
}

TEST_F(blocks, AFailedCollectingCommandLeavesTheBlockAsItWas)
{
    collect_plus(1);
    const bytes before = in_bytes(P::PluBlock);
    set(P::BCFormat, 16);
    EXPECT_EQ(run(C::add_plu_to_block), -104);
    EXPECT_EQ(in_bytes(P::PluBlock), before);
    store->set_use_group_code(1);  // a date is needed now, and none is given
    set_extended_inputs(false);
    EXPECT_EQ(run(C::add_plu_to_block), -104);
    EXPECT_EQ(in_bytes(P::PluBlock), before);
    ASSERT_EQ(run(C::set_plu_block_data), 0);
    EXPECT_EQ(payload_of(sim, op_plu_block)[0], std::byte{1});
}

TEST_F(blocks, SingleRecordCommandsSendOnlyTheirOwnRecord)
{
    collect_plus(2);
    set_extended_inputs(false);
    ASSERT_EQ(run(C::set_plu_data_extended), 0);
    EXPECT_EQ(payload_of(sim, B({0x57})).size(), 82u);

    for (int k = 1; k <= 2; ++k) {
        set_message(1, k, L"line");
        ASSERT_EQ(run(C::add_message_to_block), 0);
    }
    set_message_utf8(1, 3, "строка");
    ASSERT_EQ(run(C::set_message_data_utf8), 0);
    EXPECT_EQ(payload_of(sim, B({0xFF, 0x52})), cat({le(1, 2), B({3}), le(12, 2), U("строка")}));
}

TEST_F(blocks, BuffersThatNoCountDescribesAreRefused)
{
    const struct {
        const char* what;
        P buffer;
        C command;
        bytes bytes_stored;  // by the host, through the buffer's key
        int expected;
    } cases[] = {
        {"one record and 18 stray bytes", P::PluBlock, C::set_plu_block_data, bytes(100, std::byte{1}), -104},
        {"two whole records", P::PluBlock, C::set_plu_block_data, bytes(164, std::byte{1}), 0},
        {"fewer bytes than a record", P::MessageBlock, C::set_message_block_data, bytes(52, std::byte{1}), -104},
        {"three message lines", P::MessageBlock, C::set_message_block_data, bytes(159, std::byte{1}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.clear_requests();
        set(c.buffer, c.bytes_stored);
        EXPECT_EQ(run(c.command), c.expected);
        if (c.expected == 0)
            EXPECT_EQ(
                payload_of(sim, c.buffer == P::PluBlock ? op_plu_block : op_message_block)[0],
                std::byte(static_cast<std::uint8_t>(c.bytes_stored.size() / (c.buffer == P::PluBlock ? 82 : 53))));
        else
            EXPECT_EQ(sim.request_count(), 0u);
    }
    // Records collected behind bytes the host stored count with them.
    set(P::PluBlock, bytes(82, std::byte{1}));
    collect_plus(1);
    ASSERT_EQ(run(C::set_plu_block_data), 0);
    EXPECT_EQ(payload_of(sim, op_plu_block)[0], std::byte{2});
}

TEST_F(blocks, EightMessageLinesRoundTripAndANinthIsRefused)
{
    for (int k = 1; k <= 8; ++k) {
        set_message(300, k, L"Строка " + std::to_wstring(k));
        ASSERT_EQ(run(C::add_message_to_block), 0);
    }
    ASSERT_EQ(run(C::set_message_block_data), 0);
    const bytes payload = payload_of(sim, op_message_block);
    ASSERT_EQ(payload.size(), 1u + 424);
    EXPECT_EQ(payload[0], std::byte{8});
    // The first line: number, line, then 50 bytes of text and padding.
    EXPECT_EQ(bytes(payload.begin() + 1, payload.begin() + 13),
              cat({le(300, 2), B({1}), B({0xD1, 0xF2, 0xF0, 0xEE, 0xEA, 0xE0, ' ', '1', 0})}));
    for (int k = 1; k <= 8; ++k) {
        set(P::MessageNumber, 300);
        set(P::StringNumber, k);
        ASSERT_EQ(run(C::get_message_data), 0);
        EXPECT_EQ(out_text(P::MessageString), L"Строка " + std::to_wstring(k));
    }

    for (int k = 1; k <= 9; ++k) {
        set_message(301, k, L"x");
        ASSERT_EQ(run(C::add_message_to_block), 0);
    }
    sim.clear_requests();
    EXPECT_EQ(run(C::set_message_block_data), -104);
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(blocks, Utf8LinesNeverGoUnderTheFixedBlockFrame)
{
    // Only UTF-8 lines, then a mix: the fixed-size block cannot carry them.
    for (const bool mixed : {false, true}) {
        SCOPED_TRACE(mixed ? "mixed" : "UTF-8 only");
        if (mixed) {
            set_message(5, 1, L"fixed");
            ASSERT_EQ(run(C::add_message_to_block), 0);
        }
        for (int k = 2; k <= 3; ++k) {
            set_message_utf8(5, k, std::string(48, 'u'));  // 53 bytes: the size alone would pass
            ASSERT_EQ(run(C::add_message_to_block_utf8), 0);
        }
        EXPECT_EQ(run(C::set_message_block_data), -104);
    }
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(blocks, MessageLinesSingly)
{
    set_message(7, 2, std::wstring(60, L'Ж'));  // the first 50 characters go
    ASSERT_EQ(run(C::set_message_data), 0);
    EXPECT_EQ(payload_of(sim, B({0x52})), cat({le(7, 2), B({2}), bytes(50, std::byte{0xC6})}));
    set(P::MessageNumber, 7);
    set(P::StringNumber, 2);
    ASSERT_EQ(run(C::get_message_data_utf8), 0);
    std::string expected;
    for (int k = 0; k < 50; ++k) expected += "Ж";
    EXPECT_EQ(out_bytes(P::MessageString), U(expected));

    set_message_utf8(8, 255, "Ünïcödé");
    ASSERT_EQ(run(C::set_message_data_utf8), 0);
    set(P::MessageNumber, 8);
    set(P::StringNumber, 255);
    ASSERT_EQ(run(C::get_message_data_utf8), 0);
    EXPECT_EQ(out_bytes(P::MessageString), U("Ünïcödé"));
    EXPECT_EQ(payload_of(sim, B({0xFF, 0x53})), cat({le(8, 2), B({255})}));
}

TEST_F(blocks, MessageNumbersAndLinesOutOfRange)
{
    const struct {
        int number, line;
    } cases[] = {{0, 1}, {65536, 1}, {1, 0}, {1, 256}};
    for (const C c : {C::add_message_to_block, C::add_message_to_block_utf8, C::set_message_data,
                      C::set_message_data_utf8, C::get_message_data, C::get_message_data_utf8}) {
        for (const auto& r : cases) {
            SCOPED_TRACE(std::to_string(static_cast<int>(c)) + ": " + std::to_string(r.number) + "/" +
                         std::to_string(r.line));
            const bool utf8 = c == C::add_message_to_block_utf8 || c == C::set_message_data_utf8;
            if (utf8)
                set_message_utf8(r.number, r.line, "t");
            else
                set_message(r.number, r.line, L"t");
            EXPECT_EQ(run(c), -104);
            EXPECT_FALSE(d.input_params.count(P::MessageBlock));
        }
        d.input_params.clear();
    }
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(blocks, MessageRepliesAreReadWithinTheirBounds)
{
    // LEN 52: fifty text bytes from offset 4, zero bytes dropped.
    bytes text(50, std::byte{0});
    text[0] = std::byte{'O'};
    text[2] = std::byte{'K'};
    sim.on({0x53}, 0, text);
    set(P::MessageNumber, 1);
    set(P::StringNumber, 1);
    ASSERT_EQ(run(C::get_message_data), 0);
    EXPECT_EQ(out_text(P::MessageString), L"OK");

    // A UTF-8 line that claims 10 bytes where 3 follow.
    sim.on({0xFF, 0x53}, 0, cat({le(10, 2), U("abc")}));
    set(P::MessageNumber, 1);
    set(P::StringNumber, 1);
    EXPECT_EQ(run(C::get_message_data_utf8), -101);
    EXPECT_TRUE(d.output_params.empty());
}

}  // namespace
