#pragma once
// Shared helpers of the device tests: one log per test process in a
// temporary folder, and a view of the in-memory log from a mark onwards.

#include <stdlib.h>

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "logging/logger.h"
#include "logging/logger_test_seam.h"

namespace device_test {

// Sets the process's log up once, under a temporary home folder that is
// removed when the process ends. Safe to call from every test.
inline void init_test_log()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static std::string home;
        char tmpl[] = "/tmp/qv_device_tests_XXXXXX";
        home = ::mkdtemp(tmpl);
        qv_logging_internal::set_home_folder(home);
        Logger::init_log("device_tests_");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(home, ec);
        });
    });
}

// The messages logged after construction, one per record, without the
// "[time][severity][thread]: " head.
class log_capture {
public:
    log_capture()
    {
        init_test_log();
        start_ = Logger::get_memory_log_data().size();
    }

    std::vector<std::string> lines() const
    {
        const std::string all = Logger::get_memory_log_data();
        std::vector<std::string> out;
        if (all.size() < start_)
            return out;  // the ring dropped old text: not expected in tests
        std::istringstream in(all.substr(start_));
        std::string line;
        while (std::getline(in, line)) {
            const std::size_t head = line.find("]: ");
            out.push_back(head == std::string::npos ? line : line.substr(head + 3));
        }
        return out;
    }

    bool contains(const std::string& message) const
    {
        for (const auto& l : lines())
            if (l == message)
                return true;
        return false;
    }

private:
    std::size_t start_ = 0;
};

inline std::vector<std::byte> bytes_of(const std::string& text)
{
    std::vector<std::byte> out;
    for (char c : text)
        out.push_back(static_cast<std::byte>(c));
    return out;
}

inline std::string text_of(const std::vector<std::byte>& bytes)
{
    std::string out;
    for (std::byte b : bytes)
        out.push_back(static_cast<char>(b));
    return out;
}

}  // namespace device_test
