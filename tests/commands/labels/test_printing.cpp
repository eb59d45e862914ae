// Printing and pictures: print requests, the product selector, picture blocks, failures, a stop.

#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <tuple>

#include "../records/record_test_util.h"

using namespace record_test;

namespace {

class Printing : public scale_test<qv_sim::label_state> {
protected:
    Printing() : scale_test("127.0.0.80", qv_sim::add_label_replies) {}

    void set_picture(std::size_t size, int width, int height, int number)
    {
        set({{P::LineData, bytes(size, std::byte{0x5A})},
             {P::PictureWidth, width},
             {P::PictureHeight, height},
             {P::PictureNumber, number}});
    }
};

TEST_F(Printing, PrintRequestsTheProductSelectorAndRefusals)
{
    const std::tuple<C, std::vector<std::pair<P, input>>, bytes> table[] = {
        {C::print_label, {}, B({0x02, 0x05, 0x44, '1', '2', '3', '4'})},
        {C::print_file, {{P::DeleteFileAfterPrint, 1}, {P::FileOnScale, B({'a', 0, 'b'})}},
         B({0x02, 0x0B, 0xFF, 0x06, '1', '2', '3', '4', 0x01, 0x02, 0x00, 'a', 'b'})},
        {C::print_product_label, {{P::PLUNumber, 300}}, B({0x02, 0x0B, 0xFF, 0x42, '1', '2', '3', '4', 1, 0x2C, 1, 0, 0})},
        {C::print_product_label, {{P::ItemCode, 7}, {P::ButtonNumber, 9}},  // the item code goes first
         B({0x02, 0x0B, 0xFF, 0x42, '1', '2', '3', '4', 0, 0x07, 0, 0, 0})},
    };
    for (const auto& [command, given, frame] : table) {
        for (const auto& [p, v] : given) set({{p, v}});
        ASSERT_EQ(run(command), 0);
        EXPECT_EQ(last().frame, frame);
    }
    // A flag beyond one byte, a name the u16 cannot carry, no name, an item code of the wrong kind, no selector.
    expect_refused(
        {{C::print_file, {{P::DeleteFileAfterPrint, 256}, {P::FileOnScale, B({'a'})}}, -104},
         {C::print_file, {{P::DeleteFileAfterPrint, 0}, {P::FileOnScale, bytes(65536, std::byte{'n'})}}, -104},
         {C::print_file, {}, -7},
         {C::print_product_label, {{P::ItemCode, L"7"}, {P::PLUNumber, 1}}, -8},
         {C::print_product_label, {{P::ItemCode, -1}}, -104},  // never a huge unsigned number
         {C::print_product_label, {{P::PLUNumber, -1}}, -104},
         {C::print_product_label, {{P::ButtonNumber, -1}}, -104},
         {C::print_product_label, {}, -104}});
}

TEST_F(Printing, PictureBlocksInOrderAndTheirSizeReadBack)
{
    bytes lines(250);
    for (std::size_t i = 0; i < lines.size(); ++i) lines[i] = std::byte(i);
    set({{P::LineData, lines}, {P::PictureWidth, 64}, {P::PictureHeight, 8}, {P::PictureNumber, 3}});
    ASSERT_EQ(run(C::load_line_data), 0);
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        bytes block(lines.begin() + 100 * k, lines.begin() + std::min<std::size_t>(250, 100 * k + 100));
        block.resize(100);  // the last one padded
        EXPECT_EQ(requests[k].frame,
                  cat({B({0x02, 0x6D, 0xC0, '1', '2', '3', '4', 64, 8, 3, static_cast<int>(k) + 1}), block}));
    }
    set(P::PictureNumber, 3);
    ASSERT_EQ(run(C::get_picture_size), 0);
    EXPECT_EQ(last().frame, B({0x02, 0x06, 0xC5, '1', '2', '3', '4', 3}));
    EXPECT_EQ(out_int(P::PictureWidth), 64);
    EXPECT_EQ(out_int(P::PictureHeight), 8);
}

TEST_F(Printing, PictureLimits)
{
    const std::tuple<std::size_t, int, int, int, std::size_t> table[] = {
        // size, width, number: result, blocks
        // clang-format off
        {0, 1, 11, 0, 0},  // nothing to send: not even the number is checked
        {1, 1, 11, -104, 0}, {1, 256, 10, -104, 0},
        {25500, 255, 10, 0, 255},
        {25501, 1, 0, -104, 0},  // 256 blocks: the block number would wrap
        // clang-format on
    };
    for (const auto& [size, width, number, result, blocks] : table) {
        sim.clear_requests();
        set_picture(size, width, 1, number);
        EXPECT_EQ(run(C::load_line_data), result) << size << " " << number;
        EXPECT_EQ(sim.request_count(), blocks) << size;
    }
    EXPECT_EQ(state->get().pictures.at(10).blocks.rbegin()->first, 255);
}

TEST_F(Printing, FailingBlockStopsThePicture)
{
    // Block 2 refused; "busy" on block 1, a failure too though it would pass on.
    for (const auto& [block, result] : {std::pair{2, 124}, {1, 172}}) {
        sim.clear_requests();
        state->fail_block(2, result == 124 ? 124 : 0);
        if (result == 172) state->fail_block(1, 172, 1);
        set_picture(300, 8, 8, 0);
        EXPECT_EQ(run(C::load_line_data), result);
        EXPECT_EQ(sim.request_count(), static_cast<std::size_t>(block));
    }
}

TEST_F(Printing, StopDuringThePictureEndsIt)
{
    // The host stops from its own thread while block 2 is on its way.
    std::atomic<int> stopped{1};
    sim.set_observer([&](const qv_sim::request& r) {
        if (r.command == B({0xC0}) && r.rest.size() > 7 && r.rest[7] == std::byte{2})
            stopped = d.execute_command(static_cast<int>(C::stop_command));
    });
    set_picture(500, 8, 8, 0);
    EXPECT_EQ(run(C::load_line_data), -9);
    // The command may end before the stop's own call has returned on the scale's thread.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (stopped == 1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sim.set_observer(nullptr);
    EXPECT_EQ(stopped, 0);
    EXPECT_EQ(sim.request_count(), 2u);
}

TEST_F(Printing, FailingScaleOfTwoStillFailsThePicture)
{
    qv_sim::sim_scale second("127.0.0.83");
    qv_sim::add_label_replies(second)->fail_block(2, 124);
    send_test::add_scale(d, second, 0);  // over UDP
    set_picture(300, 8, 8, 4);
    EXPECT_EQ(run(C::load_line_data), -111);
    // The healthy scale has the whole picture; the failed one got no block after its failure.
    EXPECT_EQ(state->get().pictures.at(4).blocks.size(), 3u);
    EXPECT_EQ(second.request_count(), 2u);
}

}  // namespace
