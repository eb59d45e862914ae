// The stop of a command's exchanges and the turns on a shared link.

#include "link/exchange_stop.h"

#include <algorithm>

#include "test_hooks/test_hooks.h"

exchange_stop::ticket exchange_stop::current() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

void exchange_stop::notify(ticket meant_for)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (meant_for == 0 || meant_for != current_) return;
    if (context_ != nullptr) context_->stop();
    if (turns_ != nullptr) turns_->interrupt();
}

void exchange_stop::enter(boost::asio::io_context* context, link_turns* turns)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (++issued_ == 0) ++issued_;
    current_ = issued_;
    context_ = context;
    turns_ = turns;
}

void exchange_stop::leave()
{
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = 0;
    context_ = nullptr;
    turns_ = nullptr;
}

exchange_stop::watch::watch(exchange_stop* stop, boost::asio::io_context& context) : stop_(stop)
{
    if (stop_ == nullptr) return;
    stop_->enter(&context, nullptr);
    // Raised before the registration: notify() found nothing to end.
    if (stop_->raised()) context.stop();
}

exchange_stop::watch::watch(exchange_stop* stop, link_turns& turns) : stop_(stop)
{
    // The waiter tests the flag itself once registered.
    if (stop_ != nullptr) stop_->enter(nullptr, &turns);
}

exchange_stop::watch::~watch()
{
    if (stop_ != nullptr) stop_->leave();
}

bool link_turns::take(exchange_stop* stop)
{
    const exchange_stop::watch watching(stop, *this);
    QV_SEAM("link turn asked");
    std::unique_lock<std::mutex> lock(mutex_);
    if (!held_ && queue_.empty()) {
        held_ = true;
        return true;
    }
    bool my_turn = false;
    queue_.push_back(&my_turn);
    changed_.wait(lock, [&] { return my_turn || (stop != nullptr && stop->raised()); });
    if (my_turn) return true;
    queue_.erase(std::find(queue_.begin(), queue_.end(), &my_turn));
    return false;
}

void link_turns::give_back()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        held_ = false;
        return;
    }
    // Handed on directly, so the thread that gives the link back cannot take
    // it again before the one that waited.
    *queue_.front() = true;
    queue_.pop_front();
    changed_.notify_all();
}

void link_turns::interrupt()
{
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
}
