#pragma once
// The road every scale command takes: its start and error lines, reading
// the data of a reply without ever passing its end, the outputs written only
// once a whole reply has been read, and each topic's registration of its
// command numbers.
//
//     int device::get_plu_count()  // 29
//     {
//         const command_log log("get_plu_count");
//         return log.result(query(CommandType::get_plu_count, with_password, [](scale_reply& r) {
//             r.out.put_int(ParamType::PLUCount, r.data.uint16_le());
//         }));
//     }
//
//     const command_registration records_products{
//         {CommandType::get_plu_count, &device::get_plu_count},
//     };

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "codecs/device_utils.h"
#include "core/vocab/types.h"

class device;

// The first argument of send_command and query.
constexpr bool with_password = true;
constexpr bool without_password = false;

// ---- Start and error lines of a command method.

enum class error_line {
    name_code,  // "get_plu_count -101"
    name_error,  // "'set_zero' error=-101"
};

class command_log {
public:
    // Logs "'<name>' start".
    explicit command_log(std::string name, error_line form = error_line::name_code);
    // Logs the error line for a result other than 0 and returns the result.
    int result(int code) const;
    // Logs the error line for `code` whatever it is.
    void error(int code) const;
    const std::string& name() const { return name_; }

private:
    std::string name_;
    error_line form_;
};

// ---- Outputs of one reply, held back until the whole reply has been read.

class reply_outputs {
public:
    void put_int(ParamType p, int value);
    void put_string(ParamType p, std::wstring value);
    void put_bytes(ParamType p, std::vector<std::byte> value);
    bool empty() const { return entries_.empty(); }

private:
    friend class device;
    struct entry {
        ParamType param;
        DataType kind;
        int number = 0;
        std::wstring text;
        std::vector<std::byte> data;
    };
    std::vector<entry> entries_;
};

// One scale's reply as a decoder sees it.
struct scale_reply {
    const std::string& ip;
    const std::vector<std::byte>& frame;  // the whole reply, from its 0x02 on
    device_utils::byte_reader& data;  // at the data offset: 4, or 5 after an FF xx opcode
    reply_outputs& out;  // written to the output map only if the decoder returns
    int& result;  // the scale's entry in `results`; a decoder may mark it
};

// Reads the fields it needs from `r.data` (a short reply throws
// device_utils::short_buffer) and puts outputs into `r.out`.
using reply_decoder = std::function<void(scale_reply& r)>;

// ---- Waiting between the requests of a polling loop.

// Sleeps `wait` in short slices on the calling thread, so that a signal only
// cuts one slice short and a flag set by another thread is seen within one.
// False as soon as `flag` holds `ends_on` (a stop request, by default).
bool sliced_pause(std::chrono::milliseconds wait, const std::atomic<bool>& flag, bool ends_on = true);

// ---- Registration of command numbers by the topic that serves them.

using command_method = int (device::*)();

class command_registration {
public:
    command_registration(std::initializer_list<std::pair<CommandType, command_method>> entries);
};

// Every registered command and its method.
const std::map<CommandType, command_method>& registered_commands();
// The numbers that more than one registration claimed (the first stays).
const std::vector<CommandType>& duplicate_registrations();
