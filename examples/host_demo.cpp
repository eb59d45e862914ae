// A small host program: loads the driver library at run time as a host
// application would, connects to one scale over TCP and prints its protocol
// version, serial number and PLU count with the result texts, then writes one
// PLU record and reads it back.
//
//     host_demo <path to libquorvix_driver.so> <scale IP> <port> [admin password]
//
// Exits 0 when every command succeeded.

#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "quorvix_driver.h"

namespace {

// Parameter and command numbers used here.
constexpr int p_ip = 1, p_port = 2, p_password = 3, p_protocol = 5, p_plu_count = 17;
constexpr int p_scale_protocol = 202, p_serial = 205, p_driver_protocol = 219, p_timeout = 291;
constexpr int p_error_code = 293, p_error_text = 297;
constexpr int c_connect = 0, c_plu_count = 29, c_error_description = 81;

struct driver {
    void* lib = nullptr;
    decltype(&::create) create = nullptr;
    decltype(&::destroy) destroy = nullptr;
    decltype(&::set_int_param) set_int = nullptr;
    decltype(&::set_string_param) set_string = nullptr;
    decltype(&::get_int_param) get_int = nullptr;
    decltype(&::get_string_param) get_string = nullptr;
    decltype(&::get_bytes_array_param) get_bytes = nullptr;
    decltype(&::execute_command) execute = nullptr;

    template <class F>
    bool find(F& f, const char* name)
    {
        f = reinterpret_cast<F>(dlsym(lib, name));
        if (!f) std::fprintf(stderr, "host_demo: %s not exported\n", name);
        return f != nullptr;
    }

    bool load(const char* path)
    {
        lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "host_demo: %s\n", dlerror());
            return false;
        }
        return find(create, "create") && find(destroy, "destroy") && find(set_int, "set_int_param") &&
               find(set_string, "set_string_param") && find(get_int, "get_int_param") &&
               find(get_string, "get_string_param") && find(get_bytes, "get_bytes_array_param") &&
               find(execute, "execute_command");
    }
};

// The result text of a code in the driver's current language (command 81).
std::string result_text(const driver& d, void* handle, int code)
{
    d.set_int(handle, p_error_code, code);
    std::vector<std::byte> text;
    if (d.execute(handle, c_error_description) != 0 || d.get_bytes(handle, p_error_text, &text) != 0) return "?";
    std::string out;
    for (std::byte b : text) out.push_back(static_cast<char>(b));
    return out;
}

std::string string_output(const driver& d, void* handle, int param)
{
    std::string text;
    d.get_string(handle, param, &text);
    return text;
}

// Puts one product on the scale as a plain PLU record (command 22) and
// reads it back (command 23): the main job of a retail driver.
int write_and_read_plu(const driver& d, void* handle)
{
    constexpr int p_item_code = 182, p_plu_number = 183, p_name_first = 184, p_price = 41, p_shelf_life = 186;
    constexpr int p_tare = 40, p_message_number = 189, p_rostest = 190;
    constexpr int c_set_plu = 22, c_get_plu = 23;

    d.set_int(handle, p_plu_number, 1);
    d.set_int(handle, p_item_code, 4600001);
    d.set_string(handle, p_name_first, "Apples, Golden");
    d.set_int(handle, p_price, 12990);  // in the scale's smallest currency unit
    d.set_int(handle, p_shelf_life, 14);
    d.set_int(handle, p_tare, 0);
    d.set_int(handle, p_message_number, 0);
    d.set_string(handle, p_rostest, "0000");
    const int written = d.execute(handle, c_set_plu);
    std::printf("set_plu_data -> %d (%s)\n", written, result_text(d, handle, written).c_str());
    if (written != 0) return written;

    d.set_int(handle, p_plu_number, 1);
    const int read = d.execute(handle, c_get_plu);
    long long item_code = 0, price = 0;
    const std::string name = string_output(d, handle, p_name_first);
    d.get_int(handle, p_item_code, &item_code);
    d.get_int(handle, p_price, &price);
    std::printf("get_plu_data -> %d (%s)\n", read, result_text(d, handle, read).c_str());
    if (read == 0) std::printf("  PLU 1: %s, item code %lld, price %lld\n", name.c_str(), item_code, price);
    return read;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: host_demo <libquorvix_driver.so> <scale IP> <port> [admin password]\n");
        return 2;
    }
    driver d;
    if (!d.load(argv[1])) return 1;

    void* handle = nullptr;
    if (d.create(&handle) != 0) {
        std::fprintf(stderr, "host_demo: create failed\n");
        return 1;
    }
    d.set_string(handle, p_ip, argv[2]);
    d.set_string(handle, p_port, argv[3]);
    d.set_string(handle, p_password, argc > 4 ? argv[4] : "0000");
    d.set_int(handle, p_protocol, 1);  // TCP
    d.set_int(handle, p_timeout, 2);

    // Every command replaces the outputs, so each command's outputs are read
    // before the result text is asked for (command 81).
    const int connected = d.execute(handle, c_connect);
    const std::string scale_version = string_output(d, handle, p_scale_protocol);
    const std::string driver_version = string_output(d, handle, p_driver_protocol);
    const std::string serial = string_output(d, handle, p_serial);
    std::printf("connect %s:%s -> %d (%s)\n", argv[2], argv[3], connected, result_text(d, handle, connected).c_str());
    int status = connected;
    if (connected == 0) {
        std::printf("  protocol version of the scale: %s (driver: %s)\n", scale_version.c_str(),
                    driver_version.c_str());
        std::printf("  serial number: %s\n", serial.c_str());

        const int counted = d.execute(handle, c_plu_count);
        long long count = 0;
        if (counted == 0) d.get_int(handle, p_plu_count, &count);
        std::printf("get_plu_count -> %d (%s)\n", counted, result_text(d, handle, counted).c_str());
        if (counted == 0) std::printf("  PLU count: %lld\n", count);
        status = counted;
        if (status == 0) status = write_and_read_plu(d, handle);
    }
    d.destroy(&handle);
    // The library stays loaded: its static objects end with the process.
    return status == 0 ? 0 : 1;
}
