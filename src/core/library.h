#pragma once
// The process-wide registry of driver instances. It owns every device and
// tells registered handles from any other value.
//
// The mutex guards only the device list: an exported call holds it for the
// handle check and works on the device without it. The host must therefore
// not destroy a handle while another of its threads is inside a call on that
// handle, nor use one handle's parameters from two threads at once.

#include <memory>
#include <mutex>
#include <vector>

class device;

class library {
public:
    // The one registry, built on the first exported call.
    static library& instance();

    bool check_handle(void* handle);
    // Builds a device, registers it and stores its address in *handle: 0.
    // -1000 when handle is null or the device cannot be built (the registry
    // and *handle are then unchanged).
    int create_device(void** handle);
    // Unregisters and destroys the device whose address is in *handle;
    // *handle is left as it was.
    void destroy_device(void** handle);

    library(const library&) = delete;
    library& operator=(const library&) = delete;

private:
    library() = default;
    // Destroys the remaining devices front to back (process exit or unload).
    ~library();

    int get_device_position(void* handle);  // under the lock held by the caller
    static void remove(std::vector<std::unique_ptr<device>>& list, int index);

    std::mutex mutex;
    std::vector<std::unique_ptr<device>> devices;
};
