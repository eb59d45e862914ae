#pragma once
// One driver instance. The handle the host holds is the address of a device
// owned by the registry (core/library.h).
//
// Every command method of every topic is a member of this class; each topic's
// source file adds its declarations to one of the marked blocks below.
//
// Threads and locks
// -----------------
// * Commands run on the host's calling thread. One command at a time owns the
//   device: `busy` is acquired atomically before any parameter map is touched
//   (see the command contract below), and while a command owns the device its
//   input map, output map, `responses` and `results` belong to it alone.
// * A second host thread may issue the stop command (127) while a command
//   runs: it only sets `stop_requested`; `busy` stays with the running command,
//   which notices the flag at its next test and ends with -9.
// * The live-weight thread (`weight_thread`, started by command -33) reads
//   `ip_address_list`, `permanent_clients`, `io_contexts`, `timeout_seconds`,
//   `permanent_connection` and `error_texts` while commands change them.
//   Those six members are guarded by `state_mutex`: every writer holds it while
//   it changes them, and the weight thread holds it only to copy what it needs
//   (shared_ptr copies of a client, its io_context and the text object), then
//   works on its copies without the lock. A thread holding copies of a
//   kept-open client and its io_context drops the client copy first.
//   The host thread that owns the device may read those members without the
//   lock (no other thread writes them).
// * `error_texts` is only ever read through a shared_ptr copy
//   (`current_error_texts()`), so replacing the language never destroys a
//   text object under a reader.
// * The weight thread is joined, never detached: `stop_weight_thread()` clears
//   `weight_running` and waits for it; the destructor does this before it
//   drops the connections and frees the members.
//
// Command contract (execute_command / do_command)
// ------------------------------------------------
// The exported execute_command(handle, command) calls
// `device::execute_command(command)`, which alone acquires and releases
// `busy`:
//   1. under `command_gate` it acquires `busy`. When another command
//      already holds it: the stop command (127) sets `stop_requested` (still
//      under the gate) and goes to `stop_running_command()`, which writes the
//      stop command's lines and touches neither map nor `results` nor `busy`;
//      any other command returns -2 at once, with nothing logged and nothing
//      changed;
//   2. having acquired it: empties the output map and calls
//      `do_command(command)`;
//   3. afterwards empties the input map unless the command is on the
//      keep-list (25, 30, 82, 89, 100, 120), then, under the gate, clears
//      `stop_requested` and releases `busy` (also when do_command ends by an
//      exception) and returns do_command's result.
// So `do_command(command)` runs with `busy` held for its command and never
// changes `busy` itself: it never sees a command to refuse with -2, and the
// input map is emptied before another command can get in. It logs the
// dispatcher's lines, runs the group check, empties `results` (except for 81
// and 82), calls the command's method; the stop command on an idle device
// takes this ordinary path. Sends and polling loops end with -9 when they
// find `stop_requested` set.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "core/json_records.h"
#include "core/params.h"
#include "core/types.h"

class errors_text;
class permanent_tcp_client;
class WeightInterface;

// One scale of the device's scale list.
struct scale_connect_data {
    std::string ip;             // IPv4 address text; key of responses, results and the kept-open maps
    std::string port;           // service text for the resolver
    std::string password;       // admin password, UTF-8
    int protocol = 0;           // 0 UDP, 1 TCP; anything else: never sent to
    std::string serial_number;  // filled by the serial-number query
};

class device {
public:
    device();
    ~device();
    device(const device&) = delete;
    device& operator=(const device&) = delete;

    // ---- Command entry (see the command contract above).
    int execute_command(int command);
    // True for the commands after which the input map is kept.
    static bool keeps_input_params(int command);

    // ---- Typed parameter access. Results: 0, -7 absent, -8 another kind,
    // -1000 on an exception. An out-argument is written only on 0. The
    // overloads without `log` log as with log == true.
    int get_int_param(ParamType p, param_map& map, int& out, bool log);
    int get_int_param(ParamType p, param_map& map, int& out);
    int get_string_param(ParamType p, param_map& map, std::wstring& out, bool log);
    int get_string_param(ParamType p, param_map& map, std::wstring& out);
    int get_bytes_array_param(ParamType p, param_map& map, std::vector<std::byte>& out, bool log);
    int get_bytes_array_param(ParamType p, param_map& map, std::vector<std::byte>& out);

    int set_int_param(ParamType p, param_map& map, int value, bool log);
    int set_int_param(ParamType p, param_map& map, int value);
    int set_string_param(ParamType p, param_map& map, const std::wstring& value, bool log);
    int set_string_param(ParamType p, param_map& map, const std::wstring& value);
    // FilePath, FolderPath and FolderForSaveFile are anchored to the root folder.
    int set_bytes_array_param(ParamType p, param_map& map, const std::vector<std::byte>& value, bool log);
    int set_bytes_array_param(ParamType p, param_map& map, const std::vector<std::byte>& value);

    bool checkParamInMap(ParamType p, param_map& map, DataType k, bool log);
    DataType checkParamDataType(ParamType p, param_map& map);  // throws std::out_of_range when absent
    bool parameters_validation(ParamType p, param_map& map);
    bool parameters_validation(const std::vector<ParamType>& list, param_map& map);
    // D(p, k): kind prefix + '"(' + p + ')' [+ ' ' + name] + '"'.
    std::string get_param_info_for_log(ParamType p, DataType k);

    // ---- Shared state (see "Threads and locks").
    // A copy of the current result-text object, taken under the lock.
    std::shared_ptr<errors_text> current_error_texts() const;
    // Replaces the result-text object under the lock.
    void replace_error_texts(std::shared_ptr<errors_text> texts);
    std::unique_lock<std::mutex> lock_state() const { return std::unique_lock<std::mutex>(state_mutex); }

    // ---- Live-weight thread. `loop` runs on a new thread with
    // `weight_running` set and must return soon after `weight_running` turns
    // false. Returns false, starting nothing, while a stream already runs.
    bool start_weight_thread(std::function<void()> loop);
    // Clears `weight_running` and joins the thread. Called from the weight
    // thread itself it only clears the flag (a thread never joins itself).
    void stop_weight_thread() noexcept;

    // ---- dispatch and driver settings (dispatch.cpp, settings.cpp) ----
    // Runs one command with the device acquired (see the command contract):
    // the dispatcher's lines, the group check (-110), the emptying of
    // `results` (not for 81 and 82), the command's method (120 for a number
    // without one), the result line. Never throws: -1000 on an exception.
    int do_command(int command);
    // The stop command arriving while another command owns the device (the
    // request is already raised): logs the stop command's lines and returns
    // 0; touches neither map nor `results` nor `busy`.
    //
    // How a running command honours a stop: `send_command` tests
    // `stop_requested` once its exchanges are over and, finding it set, turns
    // every per-scale result and its total into -9; every polling loop tests
    // it before each wait and each new request and returns -9 when it is
    // set. `busy` is released only when the command really ends.
    int stop_running_command();
    // Sets the process-wide C and C++ locales; -1000 (and an error line) when
    // the system has no locale of that name.
    int change_locale(const std::wstring& name);

    int stop_command();                   // 127
    int get_driver_version();             // 51
    int get_error_description();          // 81
    int get_result_list();                // 82
    int get_db_schema_version();          // 89
    int change_driver_lang();             // 90
    int change_driver_root_folder();      // 120
    int change_driver_connection_type();  // 143
    // ---- end of dispatch and driver settings ----

    // ---- sending, scale list and connection (send.cpp, connect.cpp, commands/version.cpp, commands/records/products.cpp) ----
    // Sends one request to every scale of the list and returns the combined
    // result: -1 for an empty list; 0 when every scale answered 0; the
    // scale's code for a one-scale list; -111 when one scale of several
    // failed; -9 after a stop request; -1000 when a standard exception ended
    // the call. Replies are filed in `responses` and per-scale results in
    // `results`, both under the list entry's IP text. Runs on the command
    // thread; kept-open exchanges hold the link's exchange lock.
    int send_command(bool with_password, const std::vector<std::byte>& frame, const std::vector<std::byte>& data);
    int send_command(bool with_password, const std::vector<std::byte>& frame);
    // Checks one reply frame: the scale's result byte (0..255), or -1 empty,
    // -101 too short, -102 no STX, -103 length byte mismatch. No state.
    static int response_validation(std::vector<std::byte> reply);
    // One request frame (without the TCP count): 02, length byte, command
    // bytes, password part, payload. `password_with_count` selects the
    // count byte + four password bytes of the configuration-file frames
    // (with_password wins). Throws std::out_of_range ("map::at") for a
    // four-character password with a character outside the code table.
    static std::vector<std::byte> build_request_frame(bool with_password, bool password_with_count,
                                                      const std::vector<std::byte>& frame,
                                                      const std::vector<std::byte>& data,
                                                      const std::string& password);
    // A reply that validated but is too short for the fields a command reads:
    // marks the scale -101 and gives the command's result (-101, or -111 for
    // a list of several scales).
    int reply_too_short(const std::string& ip);

    int connect();          // 0
    int add_ip_to_list();   // 79
    int clear_ip_list();    // 80
    int disconnect();       // 142
    int get_quorvix_protocol_version();  // 44
    int get_serial_number();             // 47
    int get_plu_count();                 // 29
    // ---- end of sending, scale list and connection ----

    // Data members, in this order (construction order matters: the version
    // texts first, the vocabulary tables last).
    mutable std::mutex state_mutex;  // guards the members named in "Threads and locks"

    std::wstring driver_version;
    std::wstring driver_version_without_date;
    std::wstring driver_protocol_version;
    std::wstring db_schema_version;
    param_map input_params;
    param_map output_params;
    std::map<std::string, std::vector<std::byte>> responses;
    bool permanent_connection = false;                                              // state_mutex
    std::map<std::string, std::shared_ptr<permanent_tcp_client>> permanent_clients;  // state_mutex
    std::map<std::string, std::shared_ptr<boost::asio::io_context>> io_contexts;     // state_mutex
    int timeout_seconds = 4;                                                        // state_mutex
    std::atomic<bool> busy{false};
    std::atomic<bool> stop_requested{false};  // set by the stop command, tested by sends and polls
    std::mutex command_gate;                  // makes acquire, stop request and release one step each
    std::thread weight_thread;
    std::atomic<bool> weight_running{false};
    std::shared_ptr<WeightInterface> weight_interface;
    int weight_period_ms = 500;
    std::shared_ptr<errors_text> error_texts;  // state_mutex; read through current_error_texts()
    std::vector<std::wstring> languages;
    std::vector<scale_connect_data> ip_address_list;  // state_mutex
    std::vector<std::byte> weight_response;
    std::map<std::string, int> results;
    std::vector<std::byte> driver_root_folder;
    jsonProductData json_product_data;
    jsonLabelData json_label_data;
    std::map<int, std::string> barcode_structures;
    std::map<CommandType, std::vector<std::byte>> command_frames;
    std::map<CommandType, bool> broadcast_validation_;
    std::map<std::string, ParamType> param_names;

private:
    // Drops every kept-open connection and then its io_context, under the
    // lock, so that each client is destroyed while its io_context exists.
    // Used by the destructor and by disconnect.
    void drop_permanent_connections() noexcept;
    // The name of p in `param_names` ("" when it has none).
    std::string param_name(ParamType p) const;
    std::vector<std::byte> anchor_path(const std::vector<std::byte>& value) const;
};
