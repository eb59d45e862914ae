#pragma once
// At the top of a test that may hang: ends the process with a message past the limit.
//     const test_deadline deadline{std::chrono::seconds(10)};
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class test_deadline {
public:
    explicit test_deadline(std::chrono::seconds limit) : watchdog_([this, limit] { watch(limit); }) {}
    ~test_deadline()
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            done_ = true;
        }
        ended_.notify_all();
        watchdog_.join();
    }

private:
    void watch(std::chrono::seconds limit)
    {
        std::unique_lock<std::mutex> lock(mu_);
        if (ended_.wait_for(lock, limit, [this] { return done_; })) return;
        std::fprintf(stderr, "\n%s: still running after its deadline of %lld s: failed\n", name_.c_str(),
                     static_cast<long long>(limit.count()));
        std::fflush(nullptr);
        std::_Exit(3);  // the stuck threads cannot be ended one by one
    }

    const testing::TestInfo* info_ = testing::UnitTest::GetInstance()->current_test_info();
    std::string name_ = info_ ? std::string(info_->test_suite_name()) + "." + info_->name() : "a test";
    std::mutex mu_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread watchdog_;  // last: starts once everything it reads exists
};
