#pragma once
// Tables of commands run one at a time on one simulated scale: the inputs
// given, the result, the exact frame sent (or that nothing was sent), and for
// getters the reply's data and the output it gives.

#include <string>
#include <utility>
#include <vector>

#include "records/record_test_util.h"

namespace command_table {

using record_test::B;
using record_test::bytes;
using record_test::C;
using record_test::P;
using value = std::variant<int, std::wstring, bytes>;

// 02 LEN, the command bytes, the password "1234" when asked for, the payload.
inline bytes frame(std::initializer_list<int> command, const bytes& payload = {}, bool password = true)
{
    bytes body = record_test::cat({B(command), password ? B({'1', '2', '3', '4'}) : bytes{}, payload});
    return record_test::cat({B({0x02, body.size() > 254 ? 0xFF : static_cast<int>(body.size())}), body});
}
inline bytes unprotected(std::initializer_list<int> command)
{
    return frame(command, {}, false);
}

struct request_row {
    const char* name;  // the command's name and number
    C command;
    std::vector<std::pair<P, value>> given;
    int result;
    bytes sent;  // the whole frame; empty: nothing reaches the scale
};

struct reply_row {
    const char* name;
    C command;
    bytes sent;  // the request frame
    bytes data;  // the reply after its result byte
    P output;
    value expected;
};

// Any topic's replies installed, then `State`'s own from `add`.
template <class State>
class table_test : public record_test::scale_test<State> {
protected:
    using base = record_test::scale_test<State>;
    using base::base;

    void expect_requests(const std::vector<request_row>& rows)
    {
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            this->sim.clear_requests();
            for (const auto& [p, v] : row.given) this->set({{p, v}});
            EXPECT_EQ(this->run(row.command), row.result);
            ASSERT_EQ(this->sim.request_count(), row.sent.empty() ? 0u : 1u);
            if (!row.sent.empty()) {
                EXPECT_EQ(qv_sim::hex(this->last().frame), qv_sim::hex(row.sent));
            }
        }
    }

    // Each getter sends its frame and decodes the reply; one byte short, it
    // gives -101 and writes nothing.
    void expect_replies(const std::vector<reply_row>& rows)
    {
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            const bytes command(row.sent.begin() + 2, row.sent.begin() + (row.sent[2] == std::byte{0xFF} ? 4 : 3));
            this->sim.clear_requests();
            this->sim.on(command, 0, row.data);
            ASSERT_EQ(this->run(row.command), 0);
            ASSERT_EQ(this->sim.request_count(), 1u);
            EXPECT_EQ(qv_sim::hex(this->last().frame), qv_sim::hex(row.sent));
            EXPECT_EQ(this->out_like(row.expected, row.output), row.expected);
            if (row.data.empty()) continue;
            this->sim.on(command, 0, bytes(row.data.begin(), row.data.end() - 1));
            EXPECT_EQ(this->run(row.command), -101);
            EXPECT_TRUE(this->d.output_params.empty());
        }
    }
};

}  // namespace command_table
