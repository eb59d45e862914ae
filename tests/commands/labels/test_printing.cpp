// Printing and pictures: the request bytes of each print command, the
// product selector, picture blocks 1..N and their limits, a failing block,
// and the picture size read back.

#include <atomic>
#include <string>

#include "label_test_util.h"

using namespace label_test;

namespace {

class Printing : public label_test_base {
protected:
    void set_picture(const bytes& lines, int width, int height, int number)
    {
        set({{ParamType::LineData, lines},
             {ParamType::PictureWidth, width},
             {ParamType::PictureHeight, height},
             {ParamType::PictureNumber, number}});
    }
    void set_picture(std::size_t size, int width, int height, int number)
    {
        set_picture(bytes(size, std::byte{0x5A}), width, height, number);
    }
};

TEST_F(Printing, PrintRequests)
{
    ASSERT_EQ(run(CommandType::print_label), 0);
    EXPECT_EQ(last().frame, B({0x02, 0x05, 0x44, '1', '2', '3', '4'}));

    set({{ParamType::DeleteFileAfterPrint, 1}, {ParamType::FileOnScale, B({'a', 0, 'b'})}});
    ASSERT_EQ(run(CommandType::print_file), 0);
    EXPECT_EQ(data_of(last()), B({0x01, 0x02, 0x00, 'a', 'b'}));
    const auto prints = state->get().prints;
    ASSERT_EQ(prints.size(), 2u);
    EXPECT_EQ(prints[0].command, B({0x44}));
    EXPECT_EQ(prints[1].command, B({0xFF, 0x06}));

    // Refused before anything is sent: a flag beyond one byte, a name the
    // u16 cannot carry.
    sim.clear_requests();
    set({{ParamType::DeleteFileAfterPrint, 256}, {ParamType::FileOnScale, B({'a'})}});
    EXPECT_EQ(run(CommandType::print_file), -104);
    set({{ParamType::DeleteFileAfterPrint, 0}, {ParamType::FileOnScale, bytes(65536, std::byte{'n'})}});
    EXPECT_EQ(run(CommandType::print_file), -104);
    set(ParamType::DeleteFileAfterPrint, 0);
    EXPECT_EQ(run(CommandType::print_file), -7);
    EXPECT_EQ(sim.request_count(), 0u);

    device_test::log_capture log;
    sim.on({0xFF, 0x06}, 129);
    set({{ParamType::DeleteFileAfterPrint, 0}, {ParamType::FileOnScale, B({'f'})}});
    EXPECT_EQ(run(CommandType::print_file), 129);
    sim.on({0x44}, 191);
    EXPECT_EQ(run(CommandType::print_label), 191);
    EXPECT_TRUE(log.contains("'print_file' error=129"));
    EXPECT_TRUE(log.contains("print_label 191"));
}

TEST_F(Printing, ProductLabelSelector)
{
    const struct {
        std::vector<std::pair<ParamType, int>> given;
        int result;
        bytes data;  // empty: nothing sent
        std::vector<std::string> warnings;
    } table[] = {
        {{{ParamType::PLUNumber, 300}}, 0, B({0x01, 0x2C, 0x01, 0x00, 0x00}), {"The '182' parameter is missing"}},
        {{{ParamType::ItemCode, 7}, {ParamType::ButtonNumber, 9}}, 0, B({0x00, 0x07, 0, 0, 0}), {}},
        {{{ParamType::ButtonNumber, -1}},
         0,
         B({0x02, 0xFF, 0xFF, 0xFF, 0xFF}),
         {"The '182' parameter is missing", "The '183' parameter is missing"}},
        {{},
         -104,
         {},
         {"The '182' parameter is missing", "The '183' parameter is missing", "The '330' parameter is missing"}},
    };
    for (const auto& c : table) {
        sim.clear_requests();
        for (const auto& [p, v] : c.given) set(p, v);
        device_test::log_capture log;
        EXPECT_EQ(run(CommandType::print_product_label), c.result);
        EXPECT_EQ(sim.request_count(), c.data.empty() ? 0u : 1u);
        if (!c.data.empty()) {
            EXPECT_EQ(data_of(last()), c.data);
        }
        for (const auto& w : c.warnings) EXPECT_TRUE(log.contains(w)) << w;
    }
    // A present item code of the wrong kind does not fall through.
    set({{ParamType::ItemCode, L"7"}, {ParamType::PLUNumber, 1}});
    EXPECT_EQ(run(CommandType::print_product_label), -8);
}

TEST_F(Printing, PictureBlocksInOrder)
{
    bytes lines(250);
    for (std::size_t i = 0; i < lines.size(); ++i) lines[i] = std::byte(i);
    set_picture(lines, 64, 8, 3);
    ASSERT_EQ(run(CommandType::load_line_data), 0);

    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        const bytes frame = requests[k].frame;
        ASSERT_EQ(frame.size(), 111u);
        EXPECT_EQ(bytes(frame.begin(), frame.begin() + 11),
                  B({0x02, 0x6D, 0xC0, '1', '2', '3', '4', 64, 8, 3, static_cast<int>(k) + 1}));
    }
    const auto picture = state->get().pictures.at(3);
    ASSERT_EQ(picture.blocks.size(), 3u);
    bytes third(lines.begin() + 200, lines.end());
    third.resize(100);
    EXPECT_EQ(picture.blocks.at(3), third);
    EXPECT_EQ(picture.blocks.at(1), bytes(lines.begin(), lines.begin() + 100));

    set(ParamType::PictureNumber, 3);
    ASSERT_EQ(run(CommandType::get_picture_size), 0);
    EXPECT_EQ(sim.requests().back().frame, B({0x02, 0x06, 0xC5, '1', '2', '3', '4', 3}));
    EXPECT_EQ(out_int(ParamType::PictureWidth), 64);
    EXPECT_EQ(out_int(ParamType::PictureHeight), 8);
}

TEST_F(Printing, PictureLimits)
{
    const struct {
        std::size_t size;
        int width, height, number;
        int result;
        std::size_t blocks;
    } table[] = {
        {0, 1, 1, 11, 0, 0},  // nothing to send: not even the number is checked
        {1, 1, 1, 11, -104, 0},        {1, 1, 1, -1, -104, 0},    {1, 256, 1, 0, -104, 0},
        {1, 1, -1, 0, -104, 0},        {25501, 1, 1, 0, -104, 0},  // 256 blocks: the block number would wrap
        {25500, 255, 255, 10, 0, 255},
    };
    for (const auto& c : table) {
        sim.clear_requests();
        set_picture(c.size, c.width, c.height, c.number);
        EXPECT_EQ(run(CommandType::load_line_data), c.result) << c.size << " " << c.number;
        EXPECT_EQ(sim.request_count(), c.blocks) << c.size;
    }
    EXPECT_EQ(state->get().pictures.at(10).blocks.rbegin()->first, 255);

    // Read in order: LineData first.
    set(ParamType::PictureWidth, 1);
    EXPECT_EQ(run(CommandType::load_line_data), -7);
    set({{ParamType::LineData, B({1})}, {ParamType::PictureWidth, L"1"}});
    EXPECT_EQ(run(CommandType::load_line_data), -8);
}

TEST_F(Printing, FailingBlockStopsThePicture)
{
    device_test::log_capture log;
    state->fail_block(2, 124);
    set_picture(300, 8, 8, 0);
    EXPECT_EQ(run(CommandType::load_line_data), 124);
    EXPECT_EQ(sim.request_count(), 2u);
    EXPECT_TRUE(log.contains("load_ine_data (block 2) 124"));

    // "Busy" on the first block is a failure too, though it would pass on.
    sim.clear_requests();
    state->fail_block(2, 0);
    state->fail_block(1, 172, 1);
    set_picture(300, 8, 8, 0);
    EXPECT_EQ(run(CommandType::load_line_data), 172);
    EXPECT_EQ(sim.request_count(), 1u);

    // No answer: -1 for that block.
    sim.clear_requests();
    sim.set_fault(send_test::silent());
    set_picture(300, 8, 8, 0);
    EXPECT_EQ(run(CommandType::load_line_data), -1);
    EXPECT_EQ(sim.request_count(), 1u);
}

TEST_F(Printing, StopDuringThePictureEndsIt)
{
    // The host stops from its own thread while block 2 is on its way.
    std::atomic<int> stopped{1};
    sim.set_observer([&](const qv_sim::request& r) {
        if (r.command == B({0xC0}) && r.rest.size() > 7 && r.rest[7] == std::byte{2}) {
            stopped = d.execute_command(static_cast<int>(CommandType::stop_command));
        }
    });
    set_picture(500, 8, 8, 0);
    EXPECT_EQ(run(CommandType::load_line_data), -9);
    sim.set_observer(nullptr);
    EXPECT_EQ(stopped, 0);
    EXPECT_EQ(sim.request_count(), 2u);
}

TEST_F(Printing, FailingScaleOfTwoStillFailsThePicture)
{
    qv_sim::sim_scale second("127.0.0.83");
    auto second_state = qv_sim::add_label_replies(second);
    second_state->fail_block(2, 124);
    send_test::add_scale(d, second, UDP);
    device_test::log_capture log;
    set_picture(300, 8, 8, 4);
    EXPECT_EQ(run(CommandType::load_line_data), -111);
    // The healthy scale has the whole picture; the failed one was not sent
    // the block after its failure.
    EXPECT_EQ(state->get().pictures.at(4).blocks.size(), 3u);
    EXPECT_EQ(second.request_count(), 2u);
    for (const auto& line : log.lines()) EXPECT_EQ(line.find("load_ine_data"), std::string::npos) << line;
}

TEST_F(Printing, PictureSizeRefusalsAndShortReply)
{
    device_test::log_capture log;
    EXPECT_EQ(run(CommandType::get_picture_size), -104);
    EXPECT_TRUE(log.contains("The '142' parameter is missing"));
    set(ParamType::PictureNumber, 11);
    EXPECT_EQ(run(CommandType::get_picture_size), -104);
    set(ParamType::PictureNumber, L"1");
    EXPECT_EQ(run(CommandType::get_picture_size), -8);
    EXPECT_EQ(sim.request_count(), 0u);

    sim.on({0xC5}, 0, {0x40});
    set(ParamType::PictureNumber, 1);
    EXPECT_EQ(run(CommandType::get_picture_size), -101);
    EXPECT_FALSE(has_output(ParamType::PictureWidth));
    sim.on({0xC5}, 136);
    set(ParamType::PictureNumber, 1);
    EXPECT_EQ(run(CommandType::get_picture_size), 136);
    EXPECT_TRUE(log.contains("get_picture_size 136"));
}

}  // namespace
