// A host linked with the driver library that drives a list of scales: adds
// them to one list and connects them, sends a PLU record to all of them at
// once, and reads each scale's own result with command 82. An address given
// with --silent, where no scale answers, is added after the connect to show
// what a partial failure looks like.
//
//     scale_list_host <IP>:<port> [<IP>:<port> ...] [--silent <IP>:<port>] [--password TEXT]
//
// Exits 0 when every scale connected and took the record, and the silent
// address (if any) was reported as not answering.

#include <cstdio>
#include <string>
#include <vector>

#include "quorvix_driver.h"

namespace {

struct scale_address {
    std::string ip;
    std::string port;
};

// The per-scale results of the previous command: "<ip>:<code>:<text>;" each.
std::vector<std::string> result_list(void* handle)
{
    std::vector<std::string> out;
    std::vector<std::byte> bytes;
    if (execute_command(handle, int(CommandType::get_result_list)) != int(ErrorType::Success) ||
        get_bytes_array_param(handle, int(ParamType::CommandResults), &bytes) != int(ErrorType::Success))
        return out;
    std::string entry;
    for (std::byte b : bytes) {
        if (b == std::byte{';'}) {
            out.push_back(entry);
            entry.clear();
        } else {
            entry.push_back(static_cast<char>(b));
        }
    }
    return out;
}

int add_scale(void* handle, const scale_address& scale, const std::string& password)
{
    set_string_param(handle, int(ParamType::Ip), scale.ip);
    set_string_param(handle, int(ParamType::Port), scale.port);
    set_string_param(handle, int(ParamType::AdminPassword), password);
    set_int_param(handle, int(ParamType::Protocol), 1);  // TCP
    return execute_command(handle, int(CommandType::add_ip_to_list));
}

// One plain PLU record to every scale of the list.
int send_plu(void* handle)
{
    set_int_param(handle, int(ParamType::PLUNumber), 7);
    set_int_param(handle, int(ParamType::ItemCode), 4600007);
    set_string_param(handle, int(ParamType::NameFirst), "Pears, Conference");
    set_int_param(handle, int(ParamType::Price), 15990);
    set_int_param(handle, int(ParamType::ShelfLife), 10);
    set_int_param(handle, int(ParamType::Tare), 0);
    set_int_param(handle, int(ParamType::MessageNumber), 0);
    set_string_param(handle, int(ParamType::ROSTEST), "0000");
    return execute_command(handle, int(CommandType::set_plu_data));
}

int run(void* handle, const std::vector<scale_address>& scales, const scale_address& silent,
        const std::string& password)
{
    // The list first, then connect without Ip: it connects the whole list
    // and reads every scale's serial number.
    for (const scale_address& scale : scales)
        if (add_scale(handle, scale, password) != int(ErrorType::Success)) return 1;
    set_int_param(handle, int(ParamType::ConnectTimeout), 2);
    const int connected = execute_command(handle, int(CommandType::connect));
    std::string serials;
    get_string_param(handle, int(ParamType::SerialNumber), &serials);
    std::printf("connect %zu scales -> %d\n  serial numbers: %s\n", scales.size(), connected, serials.c_str());
    if (connected != int(ErrorType::Success)) return 1;

    // A scale added after connect that does not answer: the command still
    // reaches the others, answers -111, and 82 tells which scale failed.
    const bool with_silent = !silent.ip.empty();
    if (with_silent && add_scale(handle, silent, password) != int(ErrorType::Success)) return 1;
    const int sent = send_plu(handle);
    std::printf("set_plu_data to %zu scales -> %d\n", scales.size() + (with_silent ? 1 : 0), sent);
    int answered = 0;
    bool silent_reported = false;
    for (const std::string& entry : result_list(handle)) {
        std::printf("  %s\n", entry.c_str());
        if (with_silent && entry.rfind(silent.ip + ":", 0) == 0)
            silent_reported = entry.rfind(silent.ip + ":-1:", 0) == 0;
        else if (entry.find(":0:") != std::string::npos)
            ++answered;
    }
    const int expected = with_silent ? int(ErrorType::BroadcastError) : int(ErrorType::Success);
    const bool as_expected =
        sent == expected && silent_reported == with_silent && answered == static_cast<int>(scales.size());
    return as_expected ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<scale_address> scales;
    scale_address silent;
    std::string password = "0000";
    bool usable = true;
    for (int i = 1; i < argc && usable; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--password" && has_value) {
            password = argv[++i];
            continue;
        }
        const bool is_silent = arg == "--silent" && has_value;
        const std::string address = is_silent ? argv[++i] : arg;
        const std::size_t colon = address.rfind(':');
        usable = colon != std::string::npos && colon > 0;
        if (!usable) break;
        const scale_address parsed{address.substr(0, colon), address.substr(colon + 1)};
        if (is_silent)
            silent = parsed;
        else
            scales.push_back(parsed);
    }
    if (!usable || scales.empty()) {
        std::fprintf(stderr,
                     "usage: scale_list_host <IP>:<port> [<IP>:<port> ...] [--silent <IP>:<port>] [--password TEXT]\n");
        return 2;
    }
    void* handle = nullptr;
    if (create(&handle) != int(ErrorType::Success)) return 1;
    const int status = run(handle, scales, silent, password);
    destroy(&handle);
    return status;
}
