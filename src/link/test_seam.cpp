// The hooks of the test build's named points.

#include "link/test_seam.h"

#ifdef QV_TEST_SEAMS

#include <map>
#include <mutex>
#include <string>

namespace qv_seam {

namespace {

std::mutex hooks_mutex;
std::map<std::string, std::function<void()>>& hooks()
{
    static std::map<std::string, std::function<void()>> all;
    return all;
}

}  // namespace

void hook(const char* point, std::function<void()> action)
{
    std::lock_guard<std::mutex> lock(hooks_mutex);
    hooks()[point] = std::move(action);
}

void clear()
{
    std::lock_guard<std::mutex> lock(hooks_mutex);
    hooks().clear();
}

void reach(const char* point)
{
    std::function<void()> action;
    {
        std::lock_guard<std::mutex> lock(hooks_mutex);
        const auto found = hooks().find(point);
        if (found == hooks().end()) return;
        action = found->second;
    }
    action();  // outside the lock: a hook may wait for another thread's point
}

}  // namespace qv_seam

#endif
