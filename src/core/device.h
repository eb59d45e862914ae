#pragma once
// One driver instance. The handle the host holds is the address of a device
// owned by the registry (core/library.h). Every command method of every topic
// is a member of this class: the declarations below are grouped by the file
// that defines them, one line per command with its number.
//
// Threads, locks and the command contract are explained where they are
// implemented: device.cpp (the shared state's lock, the weight thread) and
// dispatch.cpp (busy, the stop request, the input and output maps).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/command.h"
#include "core/json_records.h"
#include "core/params.h"
#include "core/vocab/types.h"
// The build defines QUORVIX_DRIVER_INTERNAL, so in any include order the whole
// class below stands for the host's view of `device` there.
#include "quorvix_weight.h"

namespace boost {
namespace asio {
class io_context;
}
}  // namespace boost

class errors_text;
class exchange_stop;
class own_exchange_stop;
struct link_route;
class one_shot_group;
class permanent_tcp_client;

// The bytes of a request frame that hold a password: never logged in clear.
struct secret_span {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// One scale of the device's scale list.
struct scale_connect_data {
    std::string ip;  // IPv4 address text; key of responses, results and the kept-open maps
    std::string port;  // service text for the resolver
    std::string password;  // admin password, UTF-8
    int protocol = 0;  // 0 UDP, 1 TCP; anything else: never sent to
    std::string serial_number;  // filled by the serial-number query
};

class device {
public:
    device();
    ~device();
    device(const device&) = delete;
    device& operator=(const device&) = delete;

    // ---- core/dispatch.cpp: command entry and dispatch
    int execute_command(int command);  // acquires the device, runs do_command, releases it
    static bool keeps_input_params(int command);
    int do_command(int command);  // never throws: -1000 on an exception
    int stop_running_command();  // 127 arriving while another command runs
    int stop_command();  // 127

    // ---- core/settings.cpp: driver settings
    int change_locale(const std::wstring& name);
    int get_driver_version();  // 51
    int get_error_description();  // 81
    int get_result_list();  // 82
    int get_db_schema_version();  // 89
    int change_driver_lang();  // 90
    int change_driver_root_folder();  // 120
    int change_driver_connection_type();  // 143

    // ---- core/param_access.cpp: typed parameter access. Results: 0, -7
    // absent, -8 another kind, -1000 on an exception; an out-argument is
    // written only on 0. The forms without `log` log.
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
    int set_bytes_array_param(ParamType p, param_map& map, const std::vector<std::byte>& value, bool log);
    int set_bytes_array_param(ParamType p, param_map& map, const std::vector<std::byte>& value);
    bool checkParamInMap(ParamType p, param_map& map, DataType k, bool log);
    DataType checkParamDataType(ParamType p, param_map& map);  // throws std::out_of_range when absent
    bool parameters_validation(ParamType p, param_map& map);
    bool parameters_validation(const std::vector<ParamType>& list, param_map& map);
    std::string get_param_info_for_log(ParamType p, DataType k);
    // A path input's bytes as the local path the file system reads: 0 with
    // `path` (trailing zero bytes dropped), or -104 with its warning for a
    // zero byte inside. read_local_path reads p from the input map first.
    static int local_path(ParamType p, const std::vector<std::byte>& value, std::string& path);
    int read_local_path(ParamType p, std::string& path);

    // ---- core/send.cpp: framing, group sending, reply validation
    // The one road of a request: the frame of `type`, the password where the
    // command carries it, then `data`, to every scale of the list; the
    // combined result. A command without a frame throws std::out_of_range.
    int send_command(CommandType type, bool with_password, const std::vector<std::byte>& data = {});
    static int response_validation(std::vector<std::byte> reply);
    static std::vector<std::byte> build_request_frame(bool with_password, bool password_with_count,
                                                      const std::vector<std::byte>& frame,
                                                      const std::vector<std::byte>& data, const std::string& password,
                                                      const std::string& scale_ip = std::string());

    // ---- core/command.cpp: the command skeleton
    const std::vector<std::byte>& frame_of(CommandType type) const;  // throws std::out_of_range
    // send_command, then on 0 read_first_reply.
    int query(CommandType type, bool with_password, const reply_decoder& decode,
              const std::vector<std::byte>& data = {});
    // Decodes the reply of the scale whose IP text sorts first: 0, -1
    // without a reply, or -101 (-111 in a list) when it is too short, with
    // no output written.
    int read_first_reply(const reply_decoder& decode);
    // Decodes the reply of every scale whose result is 0, in IP text order;
    // returns `result`, or -101 (-111 in a list) when a reply was too short.
    int read_each_reply(const reply_decoder& decode, int result);
    int write_outputs(const reply_outputs& out);
    // The last step of a send: after a stop request every per-scale result
    // and the total become -9; logs "TOTAL RESULT: ". Also ends a send that
    // a stop made unnecessary before it began.
    int total_after_stop(int total);
    // Marks the scale -101 and gives the command's result (-111 in a list).
    int reply_too_short(const std::string& ip);

    // ---- core/connect.cpp: scale list and connection
    int connect();  // 0
    int add_ip_to_list();  // 79
    int clear_ip_list();  // 80
    int disconnect();  // 142

    // ---- commands/states.cpp: scale state record
    int query_state_scale();  // 43

    // ---- commands/systems/: settings, information, clock and scenarios
    int beep();  // 1
    int set_date_format();  // 4
    int edit_password();  // 5
    int get_front_app_version();  // 45
    int get_model_scale_version();  // 46
    int get_logging();  // 72
    int set_logging();  // 73
    int get_scale_information();  // 77
    int reload_front_application();  // 78
    int get_scale_language();  // 105
    int set_scale_language();  // 106
    int show_message_on_scale();  // 107
    int set_zero();  // 124
    int set_tare();  // 125
    int get_data_processing_method();  // 140
    int set_data_processing_method();  // 141
    int set_time();  // 2
    int set_date();  // 3
    int get_time();  // 67
    int get_date();  // 68
    int get_time_sync();  // 144
    int set_time_sync();  // 145
    // The host's local time as "%d-%m-%Y_%H-%M-%S" (05-12-2026_17-42-09),
    // read from the host clock; "" when it cannot be converted.
    static std::string return_current_time_and_date();
    // Replaces the host clock (whole seconds since the Unix epoch) of every
    // device, so that tests can fix the time; an empty function restores the
    // system clock.
    static void set_host_clock(std::function<std::int64_t()> clock);
    int get_scenarios_list();  // 70
    int set_scenario();  // 71
    int encrypt_scenario();  // 122

    // ---- commands/version.cpp: protocol version and serial number
    int get_quorvix_protocol_version();  // 44
    int get_serial_number();  // 47

    // ---- commands/get_weight.cpp: live weight stream
    int start_get_weight();  // -33
    int stop_get_weight();  // -34
    // The host's entry with a sink of its own (quorvix_weight.h), outside the
    // dispatcher; exported under its C++ name.
    QUORVIX_DRIVER_API int start_get_weight(std::shared_ptr<WeightInterface>& sink, int& period);

    // ---- commands/prediction/: recognition service
    int start_prediction();  // 121
    int confirm_item_after_prediction();  // 123
    int velunor_factory_reset();  // 128
    // Internal steps of the commands above and of the file download; they bypass the dispatcher's checks.
    // -30: 0 with JsonPredictionItems written, -114 while the recognition runs, or the exchange's code.
    int get_prediction_status();
    // -36: the status byte (3 also writes ErrorDescription); 0 when the scale answers 120; or the exchange's code.
    int get_velunor_factory_reset_status();
    // -24: reads ItemCode, 325 to 327; send_command's result (0, -111, error), -7/-8, or -104 for another type.
    int create_json_prediction_statistic();
    // -25: every scale's status; a preparing scale gets 172 in results. 0 all ready, 172 while any prepares, or error.
    int get_json_prediction_statistic_status();
    // -27: reads 328 and 329 (absent -104, another kind -8); send_command's result (0, -111 or error).
    int create_archive_prediction_statistic();
    // -28: as -25, for the archive.
    int get_archive_prediction_statistic_status();

    // ---- commands/records/labels/: label layout, shop name and user text (fixed records)
    int get_params_label();  // 6
    int set_params_label();  // 7
    int get_params_label_ex();  // 8
    int set_params_label_ex();  // 9
    int get_fonts_items();  // 11
    int set_fonts_items();  // 12
    int get_available_fonts();  // 13
    int get_align_params_label();  // 74
    int set_align_params_label();  // 75
    int get_datamatrix_param();  // 116
    int set_datamatrix_param();  // 117
    int get_user_text();  // 16
    int set_user_text();  // 17
    int get_name_shop();  // 18
    int set_name_shop();  // 19
    int get_user_text_utf8();  // 92
    int set_user_text_utf8();  // 93
    int get_name_shop_utf8();  // 94
    int set_name_shop_utf8();  // 95

    // ---- commands/records/barcodes.cpp: barcode structure (fixed records)
    int get_barcode_structure();  // 37
    int set_barcode_structure();  // 38

    // ---- commands/records/products/: PLU and message records
    int get_plu_count();  // 29
    int set_plu_data();  // 22
    int get_plu_data();  // 23
    int set_plu_data_extended();  // 27
    int get_plu_data_extended();  // 28
    int get_using_group_code();  // 41
    int set_using_group_code();  // 42
    int set_plu_data_utf8();  // 96
    int get_plu_data_utf8();  // 97
    int set_plu_data_extended_utf8();  // 98
    int get_plu_data_extended_utf8();  // 99
    int add_plu_to_block();  // 25
    int set_plu_block_data();  // 26
    int add_message_to_block();  // 30
    int set_message_data();  // 31
    int get_message_data();  // 32
    int set_message_block_data();  // 33
    int add_message_to_block_utf8();  // 100
    int set_message_data_utf8();  // 101
    int get_message_data_utf8();  // 102
    // What the collecting commands (25, 30, 100) put into a block buffer,
    // kept beside its bytes so that a block goes out with the count of its
    // whole records, and any frame with records of its own form only.
    struct collected_block {
        std::vector<std::byte> bytes;  // the buffer as it stood after the last collecting command
        std::size_t foreign = 0;  // leading bytes that were already there (stored by the host)
        std::size_t fixed_records = 0;  // Windows-1251 records
        std::size_t utf8_records = 0;
    };
    std::map<ParamType, collected_block> collected_blocks;  // by buffer: PluBlock, MessageBlock

    // ---- commands/files/: file transfer, scale folders and backups
    int send_file();  // 48
    int send_all_files_from_folder();  // 113
    int get_file();  // 49
    int get_contents_list_from_folder();  // 58
    int create_backup();  // 85
    int get_backup_status();  // 86
    int get_quorvix_folder_path();  // 109
    int delete_file_or_folder();  // 114
    int create_folder();  // 115

    // ---- commands/products/: catalogue, product document and product database
    int add_message_to_json();  // 52
    int add_category_to_json();  // 53
    int add_product_to_json();  // 54
    int add_lot_of_product_to_json();  // 83
    int add_product_rate_to_json();  // 129
    int clear_json_product_data();  // empties the pending catalogue; no command of its own
    // The pending catalogue as the JSON product document into input -1, then
    // the catalogue emptied; always 0. Called by the upload of the JSON items file.
    int fill_byte_array_for_json();
    int clear_db_products_and_messages();  // 20
    int get_plu_by_code();  // 21
    int delete_plu_data();  // 24
    int get_messages_count();  // 34
    int delete_product();  // 55
    int get_strings_count_in_message();  // 84
    int create_json_items_file();  // 87: every scale starts its items file; send's result and `results`, no wait
    int get_json_items_file_status();  // 88: one status ask: 0 ready, 172 preparing (also in `results`), no poll
    int delete_category();  // 91
    int get_packer();  // 110
    int set_packer();  // 111
    int delete_packer();  // 112

    // ---- commands/barcodes.cpp: barcode prefixes and structures
    int get_prefix_barcode_type();  // 35
    int set_prefix_barcode_type();  // 36
    int get_params_prefixes_barcode();  // 39
    int set_param_prefix_barcode();  // 40
    int get_default_barcode_structures();  // 65
    int set_default_barcode_structures();  // 66

    // ---- commands/labels/: JSON label document, label formats and printing
    int add_json_label_text_item();  // 59
    int add_json_label_barcode_item();  // 60
    int add_json_label_image_item();  // 61
    int add_json_label_graphic_item();  // 62
    int send_json_label_data();  // 63
    int get_json_label_data();  // 64
    int load_line_data();  // 10
    int get_default_format_label();  // 14
    int set_default_format_label();  // 15
    int print_label();  // 50
    int set_shop_address();  // 56
    int get_shop_address();  // 57
    int set_scale_number();  // 69
    int get_picture_size();  // 76
    int get_currency();  // 103
    int set_currency();  // 104
    int print_file();  // 108
    int get_default_format_total_label();  // 118
    int set_default_format_total_label();  // 119
    int print_product_label();  // 126
    int set_shop_name_multi_strings();  // 130
    int get_shop_name_multi_strings();  // 131
    int get_default_format_cart_total_label();  // 132
    int set_default_format_cart_total_label();  // 133
    int get_default_format_cart_label();  // 134
    int set_default_format_cart_label();  // 135
    int get_label_rotate_value();  // 136
    int set_label_rotate_value();  // 137
    int get_json_message_tags();  // 138
    int set_json_message_tags();  // 139
    // The one getter and the one setter behind the four default-format
    // commands of each kind (14/15, 118/119, 132/133, 134/135).
    int get_format_label(CommandType type);
    int set_format_label(CommandType type);

    // How the scale is reached on the current connection type (read by the
    // weight thread under the state lock).
    link_route route_of(const scale_connect_data& scale) const;
    // Stop request of the running command: ends its exchange at once.
    void raise_stop();
    // Raises the stop of a running command, waits for it to leave and keeps
    // the device from starting another: the step before destruction.
    void retire();

    // ---- Shared state (device.cpp)
    // A copy of the current result-text object, taken under the lock.
    std::shared_ptr<errors_text> current_error_texts() const;
    void replace_error_texts(std::shared_ptr<errors_text> texts);
    std::unique_lock<std::mutex> lock_state() const { return std::unique_lock<std::mutex>(state_mutex); }

    // ---- Live-weight thread (device.cpp). `loop` runs on a new thread with
    // `weight_running` set and must return soon after it turns false; a loop
    // that returns leaves the flag as it is, one that throws clears it. Once
    // the flag has turned false the loop must not touch the device again
    // (reading it through `weight_flag`): a sink may have destroyed it. False,
    // starting nothing, while the flag is set or when called from the weight
    // thread itself. A thread that cannot be created throws and leaves the
    // flag set (further starts are refused until a stop).
    // `poll_stop` is the stop of the loop's exchanges, which a stop of the
    // stream raises.
    bool start_weight_thread(std::function<void()> loop, std::shared_ptr<own_exchange_stop> poll_stop);
    // Clears `weight_running`, ends the poll in flight and joins; from the
    // weight thread itself it only clears the flag.
    void stop_weight_thread() noexcept;

    // Data members, in construction order: the version texts first, the
    // vocabulary tables last. "lock" marks the members that the weight
    // thread reads: written only under state_mutex.
    std::wstring driver_version;
    std::wstring driver_version_without_date;
    std::wstring driver_protocol_version;
    std::wstring db_schema_version;
    param_map input_params;
    param_map output_params;
    std::map<std::string, std::vector<std::byte>> responses;
    bool permanent_connection = false;  // lock
    std::map<std::string, std::shared_ptr<permanent_tcp_client>> permanent_clients;  // lock
    std::map<std::string, std::shared_ptr<boost::asio::io_context>> io_contexts;  // lock
    int timeout_seconds = 4;  // lock
    std::atomic<bool> busy{false};  // a command owns the device
    std::atomic<bool> stop_requested{false};  // set by the stop command, tested by sends and polls
    std::thread weight_thread;
    // The weight thread shares the flag's block: a sink that destroys the
    // device from that thread still finds the flag, cleared, once it returns.
    std::shared_ptr<std::atomic<bool>> weight_flag = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool>& weight_running = *weight_flag;
    std::shared_ptr<WeightInterface> weight_interface;
    int weight_period_ms = 500;
    std::shared_ptr<errors_text> error_texts;  // lock; read through current_error_texts()
    std::vector<std::wstring> languages;
    std::vector<scale_connect_data> ip_address_list;  // lock
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
    mutable std::mutex state_mutex;  // guards the members marked "lock"
    std::mutex command_gate;  // makes acquire, stop request and release one step each
    std::mutex weight_control;  // one start or stop of the weight thread at a time; guards weight_thread
    std::shared_ptr<own_exchange_stop> weight_poll_stop;  // the running stream's; under weight_control

    // The steps of send_command (send.cpp), in the order it takes them.
    bool skipped_by_last_result(const std::string& ip) const;
    secret_span password_span(CommandType type, bool with_password, bool password_with_count,
                              const std::vector<std::byte>& frame) const;
    // `no_socket`: scales whose request found no descriptor for its socket (-1000).
    int fold_results(bool status_request, const std::set<std::string>& skipped,
                     const std::set<std::string>& no_socket);
    // The one-shot exchanges' io_context and resolved addresses, kept from
    // one send to the next (made by the first one-shot send).
    std::shared_ptr<one_shot_group> one_shot_links;
    // Ends the exchange of the running command when a stop is raised.
    std::unique_ptr<exchange_stop> command_stop;

    void drop_permanent_connections() noexcept;
    std::string param_name(ParamType p) const;
    std::vector<std::byte> anchor_path(const std::vector<std::byte>& value) const;
};
