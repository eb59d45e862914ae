#pragma once
// A stop raised by another thread, and where it lands: the run of the
// io_context that carries the command's exchanges, or the command's wait for
// a kept-open link that the live-weight poll holds.
//
// A stop belongs to what was under way when it was decided, so that one
// delivered late never ends the next command's exchange. The stopping thread
// decides under the lock that makes the flag the running command's:
//     flag = true;  meant_for = stop.current();
// and may deliver after that lock is gone:
//     stop.notify(meant_for);
// The running thread registers what it does for as long as it does it; a
// stop raised before the registration ends it at once:
//     const exchange_stop::watch watching(&stop, context);
//     ... run the context until done or context.stopped()

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include <boost/asio/io_context.hpp>

class link_turns;

class exchange_stop {
public:
    using ticket = std::uint32_t;  // names one run or wait; 0 names none

    explicit exchange_stop(const std::atomic<bool>& flag) : flag_(flag) {}
    exchange_stop(const exchange_stop&) = delete;
    exchange_stop& operator=(const exchange_stop&) = delete;

    bool raised() const { return flag_.load(); }
    // The run or wait under way now.
    ticket current() const;
    // From any thread: ends the run or wait `meant_for` if it is still under
    // way; one begun since is left alone.
    void notify(ticket meant_for);

    // A run of `context`, or a wait for `turns`, registered for its lifetime.
    // A null stop registers nothing.
    class watch {
    public:
        watch(exchange_stop* stop, boost::asio::io_context& context);
        watch(exchange_stop* stop, link_turns& turns);
        ~watch();
        watch(const watch&) = delete;
        watch& operator=(const watch&) = delete;

    private:
        exchange_stop* stop_;
    };

private:
    void enter(boost::asio::io_context* context, link_turns* turns);
    void leave();

    const std::atomic<bool>& flag_;
    mutable std::mutex mutex_;  // taken before a link_turns' own, never after
    ticket issued_ = 0;
    ticket current_ = 0;
    boost::asio::io_context* context_ = nullptr;
    link_turns* turns_ = nullptr;
};

// A stop with a flag of its own, for exchanges that no command owns: the
// live-weight poll, which a stop of the stream ends at once rather than at
// its time-out.
class own_exchange_stop {
public:
    own_exchange_stop() : stop_(raised_) {}
    exchange_stop* get() { return &stop_; }
    // Raises the flag for good and ends the run or wait under way; one that
    // registers later ends at once.
    void raise()
    {
        raised_.store(true);
        stop_.notify(stop_.current());
    }

private:
    std::atomic<bool> raised_{false};
    exchange_stop stop_;
};

// Whose turn it is on a link that two threads share: first come, first
// served, so a command waiting behind a poll takes the link as soon as that
// poll is over, and the poll that follows waits behind it.
class link_turns {
public:
    // False when `stop` was raised before the turn came; the waiter then
    // leaves the queue.
    bool take(exchange_stop* stop);
    void give_back();
    // Waiters look at their stops again.
    void interrupt();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    std::deque<bool*> queue_;  // each waiter's "your turn" flag, first come first
};

// One turn, held for one whole exchange: from the choice of operation to the
// end of its run.
class link_turn {
public:
    link_turn(link_turns& turns, exchange_stop* stop) : turns_(turns), held_(turns.take(stop)) {}
    ~link_turn()
    {
        if (held_) turns_.give_back();
    }
    link_turn(const link_turn&) = delete;
    link_turn& operator=(const link_turn&) = delete;
    bool held() const { return held_; }

private:
    link_turns& turns_;
    const bool held_;
};
