#pragma once
// One log per test process in a temporary folder, and a view of the in-memory log from a mark on.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "logging/logger.h"
#include "test_hooks/test_hooks.h"

namespace device_test {

// Sets the log up once, under a temporary home folder removed at exit.
inline void init_test_log()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static std::string home;
        char tmpl[] = "/tmp/qv_device_tests_XXXXXX";
        qv_seam::set_home_folder(home = ::mkdtemp(tmpl));
        Logger::init_log("device_tests_");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(home, ec);
        });
    });
}

// The messages logged after construction, without the "[time][severity][thread]: " head.
struct log_capture {
    std::size_t start = (init_test_log(), Logger::get_memory_log_data().size());
    std::vector<std::string> lines() const
    {
        const std::string all = Logger::get_memory_log_data();
        std::vector<std::string> out;
        std::istringstream in(all.size() < start ? std::string() : all.substr(start));  // ring wrapped: none
        for (std::string line; std::getline(in, line);)
            out.push_back(line.find("]: ") == std::string::npos ? line : line.substr(line.find("]: ") + 3));
        return out;
    }
    bool contains(const std::string& message) const
    {
        const auto all = lines();
        return std::find(all.begin(), all.end(), message) != all.end();
    }
};

inline std::vector<std::byte> bytes_of(const std::string& t)
{
    return {reinterpret_cast<const std::byte*>(t.data()), reinterpret_cast<const std::byte*>(t.data()) + t.size()};
}
inline std::string text_of(const std::vector<std::byte>& b)
{
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

}  // namespace device_test
