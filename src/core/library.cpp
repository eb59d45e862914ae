#include "core/library.h"

#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "core/device.h"
#include "logging/logger.h"

library& library::instance()
{
    static library registry;
    return registry;
}

library::~library()
{
    // No lock: nothing else can run while the process ends or the library
    // is unloaded. Each device stops its own weight thread first.
    for (auto& d : devices) d.reset();
    devices.clear();
}

std::shared_ptr<device> library::find(void* handle)
{
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& d : devices)
        if (d.get() == handle) return d;
    return nullptr;
}

namespace {

// One line on standard output, formatted apart and written unformatted, so
// that the shared stream's format state is never touched while the log's
// console sink writes to it from another thread.
void print_line(const char* text, const void* handle = nullptr, bool with_handle = true)
{
    std::ostringstream line;
    line << text;
    if (with_handle) line << handle;
    line << '\n';
    const std::string s = line.str();
    std::cout.write(s.data(), static_cast<std::streamsize>(s.size()));
    std::cout.flush();
}

}  // namespace

int library::get_device_position(void* handle)
{
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (devices[i].get() == handle) return static_cast<int>(i);
    return -1;  // not a result code: no such position
}

void library::remove(std::vector<std::shared_ptr<device>>& list, int index)
{
    list.erase(list.begin() + index);
}

int library::create_device(void** handle)
{
    if (handle == nullptr) return rc(ErrorType::UnexpectedDriverError);
    std::lock_guard<std::mutex> lock(mutex);
    try {
        // Built before it is registered: a failure leaves the registry as it was.
        auto d = std::make_unique<device>();
        devices.push_back(std::move(d));
    } catch (const std::exception& e) {
        // The host gets a result code rather than an exception across the
        // library's C interface.
        Logger::e(std::string("create error: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
    *handle = devices.back().get();
    print_line("library.create_device() handle:", *handle);
    return rc(ErrorType::Success);
}

void library::destroy_device(void** handle)
{
    std::shared_ptr<device> doomed;
    void* h = handle != nullptr ? *handle : nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        print_line("library.destroy_device() handle:", h);
        const int position = h != nullptr ? get_device_position(h) : -1;
        if (position >= 0) {
            doomed = devices[static_cast<std::size_t>(position)];
            remove(devices, position);
            print_line("device removed", h);
        } else {
            print_line("the device is missing", h);
        }
    }
    // From here on every call with this handle answers -1000. The teardown
    // waits for the device's command and weight thread, which may call other
    // handles meanwhile: never under the registry's mutex.
    if (doomed) {
        doomed->retire();
        doomed.reset();
    }
    print_line("library.destroy_device() END", nullptr, false);
}
