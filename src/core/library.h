#pragma once
// The process-wide registry of driver instances. It owns every device and
// tells registered handles from any other value.
//
// The mutex guards only the device list: an exported call holds it for the
// handle check and works on the device without it, keeping the device alive
// through a shared owner. Destroy takes the device out of the list under the
// mutex and tears it down after releasing it, so a destroy never holds up a
// call on another handle (nor a weight sink making one). The host should
// still not use one handle's parameters from two threads at once.

#include <memory>
#include <mutex>
#include <vector>

class device;

class library {
public:
    // The one registry, built on the first exported call.
    static library& instance();

    // The registered device at `handle`, kept alive for the caller; empty
    // for anything not registered.
    std::shared_ptr<device> find(void* handle);
    // Builds a device, registers it and stores its address in *handle: 0.
    // -1000 when handle is null or the device cannot be built (the registry
    // and *handle are then unchanged).
    int create_device(void** handle);
    // Unregisters the device whose address is in *handle, then, with the
    // registry released: stops its running command and waits for it to
    // leave, stops its weight thread and destroys it (the last call still
    // inside it, if any, finishes the destruction). *handle is left as it was.
    void destroy_device(void** handle);

    library(const library&) = delete;
    library& operator=(const library&) = delete;

private:
    library() = default;
    // Destroys the remaining devices front to back (process exit or unload).
    ~library();

    int get_device_position(void* handle);  // under the lock held by the caller
    static void remove(std::vector<std::shared_ptr<device>>& list, int index);

    std::mutex mutex;
    std::vector<std::shared_ptr<device>> devices;
};
