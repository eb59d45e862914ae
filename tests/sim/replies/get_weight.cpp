#include "replies/get_weight.h"

namespace qv_sim {

namespace {

bytes le32(std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    return to_bytes({static_cast<int>(u & 0xFF), static_cast<int>((u >> 8) & 0xFF), static_cast<int>((u >> 16) & 0xFF),
                     static_cast<int>(u >> 24)});
}

}  // namespace

void weight_source::set_reading(std::int32_t weight, std::int32_t tare, std::uint8_t state)
{
    std::lock_guard<std::mutex> lock(mu_);
    weight_ = weight;
    tare_ = tare;
    state_ = state;
    answer_ = answer::reading;
}

void weight_source::set_answer(answer a, std::uint8_t result)
{
    std::lock_guard<std::mutex> lock(mu_);
    answer_ = a;
    result_ = result;
}

std::size_t weight_source::polls() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return times_.size();
}

std::vector<weight_source::clock::time_point> weight_source::poll_times() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return times_;
}

bool weight_source::wait_for_polls(std::size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mu_);
    return polled_.wait_for(lock, timeout, [&] { return times_.size() >= n; });
}

reply weight_source::serve(const request& r)
{
    std::lock_guard<std::mutex> lock(mu_);
    times_.push_back(clock::now());
    polled_.notify_all();
    bytes data = le32(weight_);
    const bytes tare = le32(tare_);
    data.insert(data.end(), tare.begin(), tare.end());
    data.push_back(static_cast<std::byte>(state_));
    switch (answer_) {
        case answer::silence: {
            fault f;
            f.silence = true;
            return reply(reply_frame(r.command, 0, data), f);
        }
        case answer::result:
            return reply(reply_frame(r.command, result_));
        case answer::bad_stx: {
            bytes body = reply_frame(r.command, 0, data);
            body[0] = std::byte{0x03};
            return reply(body);
        }
        case answer::short_reading:
            return reply(reply_frame(r.command, 0, bytes(data.begin(), data.begin() + 4)));
        case answer::reading:
            break;
    }
    return reply(reply_frame(r.command, 0, data));
}

std::shared_ptr<weight_source> add_weight_replies(sim_scale& sim)
{
    auto source = std::make_shared<weight_source>();
    sim.on({0xFF, 0x41}, [source](const request& r) { return source->serve(r); });
    return source;
}

}  // namespace qv_sim

namespace {

const qv_sim::replies_registration weight_replies{[](qv_sim::sim_scale& sim) { qv_sim::add_weight_replies(sim); }};

}  // namespace
