#pragma once
// Shared by the file tests: a device with short poll waits, a temporary
// folder for local files, and inputs by kind.

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "commands/files/scale_files.h"
#include "commands/files/transfer.h"
#include "replies/files.h"
#include "send_test_util.h"

namespace files_test {

using bytes = qv_sim::bytes;
using namespace std::chrono_literals;

// Deterministic content of `n` bytes.
inline bytes pattern(std::size_t n)
{
    bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::byte>((i * 7 + 3) & 0xFF);
    return out;
}

// A file this process holds open whose path begins with `start`: its
// descriptor and path, or -1. A seam's hook acts through it on the very file
// the library is reading or writing.
inline std::pair<int, std::string> open_file(const std::string& start)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code gone;  // another thread's descriptor may close meanwhile
        const std::string target = std::filesystem::read_symlink(it->path(), gone).string();
        if (!gone && target.compare(0, start.size(), start) == 0)
            return {std::stoi(it->path().filename().string()), target};
    }
    return {-1, ""};
}

// The data of each request after the command bytes and the four password bytes.
inline std::vector<bytes> payloads(const qv_sim::sim_scale& sim)
{
    std::vector<bytes> out;
    for (const auto& r : sim.requests()) out.emplace_back(r.rest.begin() + 4, r.rest.end());
    return out;
}

class files_fixture : public send_test::device_test_base {
protected:
    void SetUp() override
    {
        device_test_base::SetUp();
        saved_ = file_transfer_waits();
        saved_limits_ = scale_file_limits();
        scale_file_limits().listing_pause = scale_file_limits().preparation_pause = 5ms;
        file_transfer_waits().hash_first = file_transfer_waits().hash_next = file_transfer_waits().status_next = 5ms;
        char tmpl[] = "/tmp/qv_files_test_XXXXXX";
        dir = ::mkdtemp(tmpl);
    }
    void TearDown() override
    {
        file_transfer_waits() = saved_;
        scale_file_limits() = saved_limits_;
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

public:  // reached from the lambdas of case tables
    std::string write(const std::string& name, const bytes& content)
    {
        const std::string path = dir + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        return path;
    }
    void set_int(ParamType p, int v) { d.set_int_param(p, d.input_params, v, false); }
    void set_text(ParamType p, const std::string& v)
    {
        d.set_bytes_array_param(p, d.input_params, device_test::bytes_of(v), false);
    }
    // A byte-array output as text, "<unset>" when absent.
    std::string output(ParamType p)
    {
        bytes out;
        return d.get_bytes_array_param(p, d.output_params, out, false) != 0 ? "<unset>" : device_test::text_of(out);
    }
    // Ready for the next case of a table: no inputs, scales or results.
    void reset()
    {
        d.input_params.clear();
        d.ip_address_list.clear();
        d.results.clear();
    }

    std::string dir;

private:
    file_transfer_wait_times saved_;
    scale_file_limit_values saved_limits_;
};

}  // namespace files_test
