// The test build's hooks: the named points' actions and the log's home folder.

#include "test_hooks/test_hooks.h"

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
std::optional<std::string> home;  // under hooks_mutex

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

void set_home_folder(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(hooks_mutex);
    home = folder;
}

std::optional<std::string> home_folder()
{
    std::lock_guard<std::mutex> lock(hooks_mutex);
    return home;
}

}  // namespace qv_seam

#endif
