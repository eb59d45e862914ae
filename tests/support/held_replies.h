#pragma once
// Replies that a test lets go one at a time, in the order their requests came. A scale's handler keeps a share of
// it and waits in it; a guard declared after the scale lets every reply go before the scale stops.
//     auto held = std::make_shared<held_replies>();
//     sim.on({0xD0}, [held](const qv_sim::request& r) { held->wait(); return qv_sim::reply_frame(r.command, 0); });
//     const held_replies::guard let_go_at_end(*held);
#include <condition_variable>
#include <cstddef>
#include <mutex>

class held_replies {
public:
    void wait()
    {
        std::unique_lock<std::mutex> lock(mu_);
        const std::size_t mine = ++arrived_;
        changed_.wait(lock, [&] { return all_ || let_go_ >= mine; });
    }
    void let_go()
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++let_go_;
        changed_.notify_all();
    }
    void let_all_go()
    {
        std::lock_guard<std::mutex> lock(mu_);
        all_ = true;
        changed_.notify_all();
    }

    struct guard {
        held_replies& held;
        ~guard() { held.let_all_go(); }
    };

private:
    std::mutex mu_;
    std::condition_variable changed_;
    std::size_t arrived_ = 0;
    std::size_t let_go_ = 0;
    bool all_ = false;
};
