// Printing and pictures: the request bytes of the print commands, the
// product selector, picture blocks 1..N and their limits, a failing block,
// a stop, and the picture size read back.

#include <atomic>
#include <string>

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

TEST_F(Printing, PrintRequestsAndRefusals)
{
    ASSERT_EQ(run(C::print_label), 0);
    EXPECT_EQ(last().frame, B({0x02, 0x05, 0x44, '1', '2', '3', '4'}));
    set({{P::DeleteFileAfterPrint, 1}, {P::FileOnScale, B({'a', 0, 'b'})}});
    ASSERT_EQ(run(C::print_file), 0);
    EXPECT_EQ(last().command, B({0xFF, 0x06}));
    EXPECT_EQ(last_data(), B({0x01, 0x02, 0x00, 'a', 'b'}));

    // Refused before anything is sent: a flag beyond one byte, a name the
    // u16 cannot carry, no name.
    sim.clear_requests();
    set({{P::DeleteFileAfterPrint, 256}, {P::FileOnScale, B({'a'})}});
    EXPECT_EQ(run(C::print_file), -104);
    set({{P::DeleteFileAfterPrint, 0}, {P::FileOnScale, bytes(65536, std::byte{'n'})}});
    EXPECT_EQ(run(C::print_file), -104);
    EXPECT_EQ(run(C::print_file), -7);  // nothing given
    EXPECT_EQ(sim.request_count(), 0u);
}

TEST_F(Printing, ProductLabelSelector)
{
    const struct {
        std::vector<std::pair<P, int>> given;
        int result;
        bytes data;  // empty: nothing sent
    } table[] = {
        {{{P::PLUNumber, 300}}, 0, B({0x01, 0x2C, 0x01, 0x00, 0x00})},
        {{{P::ItemCode, 7}, {P::ButtonNumber, 9}}, 0, B({0x00, 0x07, 0, 0, 0})},
        {{{P::ButtonNumber, -1}}, 0, B({0x02, 0xFF, 0xFF, 0xFF, 0xFF})},
        {{}, -104, {}},
    };
    for (const auto& c : table) {
        sim.clear_requests();
        for (const auto& [p, v] : c.given) set(p, v);
        device_test::log_capture log;
        EXPECT_EQ(run(C::print_product_label), c.result);
        EXPECT_EQ(sim.request_count(), c.data.empty() ? 0u : 1u);
        EXPECT_EQ(c.data.empty() ? c.data : last_data(), c.data);
        EXPECT_EQ(log.contains("The '330' parameter is missing"), c.result != 0);
    }
    // A present item code of the wrong kind does not fall through.
    set({{P::ItemCode, L"7"}, {P::PLUNumber, 1}});
    EXPECT_EQ(run(C::print_product_label), -8);
}

TEST_F(Printing, PictureBlocksInOrderAndItsSizeReadBack)
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
    sim.on({0xC5}, 0, {0x40});
    set(P::PictureNumber, 1);
    EXPECT_EQ(run(C::get_picture_size), -101);
    EXPECT_TRUE(d.output_params.empty());
}

TEST_F(Printing, PictureLimits)
{
    const struct {
        std::size_t size;
        int width, number;
        int result;
        std::size_t blocks;
    } table[] = {
        {0, 1, 11, 0, 0},  // nothing to send: not even the number is checked
        {1, 1, 11, -104, 0},      {1, 256, 0, -104, 0},
        {25501, 1, 0, -104, 0},  // 256 blocks: the block number would wrap
        {25500, 255, 10, 0, 255},
    };
    for (const auto& c : table) {
        sim.clear_requests();
        set_picture(c.size, c.width, 1, c.number);
        EXPECT_EQ(run(C::load_line_data), c.result) << c.size << " " << c.number;
        EXPECT_EQ(sim.request_count(), c.blocks) << c.size;
    }
    EXPECT_EQ(state->get().pictures.at(10).blocks.rbegin()->first, 255);
    set({{P::LineData, B({1})}, {P::PictureWidth, L"1"}});
    EXPECT_EQ(run(C::load_line_data), -8);
    set(P::PictureWidth, 1);
    EXPECT_EQ(run(C::load_line_data), -7);  // LineData is read first
}

TEST_F(Printing, FailingBlockStopsThePicture)
{
    device_test::log_capture log;
    state->fail_block(2, 124);
    set_picture(300, 8, 8, 0);
    EXPECT_EQ(run(C::load_line_data), 124);
    EXPECT_EQ(sim.request_count(), 2u);
    EXPECT_TRUE(log.contains("load_ine_data (block 2) 124"));

    // "Busy" on the first block is a failure too, though it would pass on.
    sim.clear_requests();
    state->fail_block(2, 0);
    state->fail_block(1, 172, 1);
    set_picture(300, 8, 8, 0);
    EXPECT_EQ(run(C::load_line_data), 172);
    EXPECT_EQ(sim.request_count(), 1u);

    sim.clear_requests();
    sim.set_fault(send_test::silent());
    set_picture(300, 8, 8, 0);
    EXPECT_EQ(run(C::load_line_data), -1);
    EXPECT_EQ(sim.request_count(), 1u);
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
    sim.set_observer(nullptr);
    EXPECT_EQ(stopped, 0);
    EXPECT_EQ(sim.request_count(), 2u);
}

TEST_F(Printing, FailingScaleOfTwoStillFailsThePicture)
{
    qv_sim::sim_scale second("127.0.0.83");
    qv_sim::add_label_replies(second)->fail_block(2, 124);
    send_test::add_scale(d, second, UDP);
    set_picture(300, 8, 8, 4);
    EXPECT_EQ(run(C::load_line_data), -111);
    // The healthy scale has the whole picture; the failed one was not sent
    // the block after its failure.
    EXPECT_EQ(state->get().pictures.at(4).blocks.size(), 3u);
    EXPECT_EQ(second.request_count(), 2u);
}

}  // namespace
