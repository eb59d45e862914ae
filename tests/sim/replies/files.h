#pragma once
// What a simulated scale does with file uploads: it takes the opening packet
// (name 01, backup flags 05 or item code 08), the parameters (02: digest, size
// and options) and the data packets (03) of every upload opcode, puts the
// packets together by their offsets, checks size and MD5, keeps the file, and
// answers the status requests (09) from a script, by default "done" for a
// file that arrived whole and "failed" (status 2 with a text) otherwise.
// Requests can be made to fail or go unanswered by sub-code and count.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim_scale.h"

namespace qv_sim {

// The standard MD5 digest of `data` (16 bytes), independent of the driver's.
bytes md5_digest(const bytes& data);

// One status answer: result byte and data, or no answer at all.
struct status_answer {
    std::uint8_t result = 0;
    bytes data;
    bool silent = false;

    static status_answer busy() { return {0, to_bytes({1}), false}; }  // status 1
    static status_answer done() { return {0, {}, false}; }  // no data
    static status_answer done_status(std::uint8_t s) { return {0, to_bytes({s}), false}; }
    static status_answer failed(const std::string& text);  // status 2, u16 length, text
    static status_answer result_only(std::uint8_t result) { return {result, {}, false}; }
    static status_answer no_reply() { return {0, {}, true}; }
};

// One upload as the scale saw it.
struct received_upload {
    bytes command;  // the opcode: one byte, or FF and one byte
    std::string name;  // from the name packet (01); empty otherwise
    std::optional<std::uint32_t> item_code;  // from 08
    bytes backup_flags;  // the three bytes after 05
    bytes digest;  // the 16 bytes of 02
    std::map<std::uint8_t, std::int64_t> options;  // tag -> value (04: the size)
    bytes option_bytes;  // everything after the digest, as sent
    bytes content;  // put together from the data packets
    std::size_t packets = 0;
    bool in_order = true;  // every packet began where the one before ended
    bool complete = false;  // the last packet came and the pieces join up
    bool md5_ok = false;  // complete, of the announced size, with the announced digest
    std::size_t status_requests = 0;
};

class file_store {
public:
    // The scale's admin password as its four request bytes; a request with
    // other bytes is answered 122. "1234" until set; on a scale with a chosen
    // admin password (sim_scale::set_admin_password) each request sets it
    // to that one first.
    void set_password(const std::string& four_chars);

    // Status answers, one per status request, in order; when they run out,
    // the default answer.
    void script_status(std::vector<status_answer> answers);
    // The `nth` request (from 1, counted since the last clear_faults) with
    // this sub-code gets `result` and is not taken in.
    void fail_request(std::uint8_t subcode, std::size_t nth, std::uint8_t result);
    // From the `nth` request with this sub-code on, no request of any upload
    // is answered.
    void silent_from(std::uint8_t subcode, std::size_t nth);
    void clear_faults();
    // Flips the lowest bit of the first byte of every data packet taken in,
    // as a damaged transfer would.
    void corrupt_data(bool on);

    // Uploads that reached their status step, oldest first, and the one in
    // progress (if any) last.
    std::vector<received_upload> uploads() const;
    // The files kept: by the name path for uploads with a name packet, else
    // by the opcode in hex ("1B", "FF 13").
    std::map<std::string, bytes> files() const;
    std::optional<bytes> file(const std::string& key) const;
    void put_file(const std::string& key, bytes content);  // for downloads
    // Called with the opcode, the name (empty without a name packet) and the
    // content of every upload that arrived whole, as the scale keeps it.
    void on_kept(std::function<void(const bytes& command, const std::string& name, const bytes& content)> keeper);
    void clear_uploads();  // forgets uploads and files (long benchmark runs)

    // The request handler for one upload opcode.
    reply handle(const request& r);

private:
    struct fault_rule {
        std::uint8_t subcode;
        std::size_t nth;
        std::uint8_t result;
        bool silent;
    };
    std::optional<std::uint8_t> injected(std::uint8_t subcode);  // an injected result
    void finish(received_upload& u);

    mutable std::mutex mu_;
    bytes password_ = to_bytes("1234");
    std::deque<status_answer> script_;
    std::vector<fault_rule> rules_;
    std::map<std::uint8_t, std::size_t> seen_;
    bool silent_ = false;
    bool corrupt_ = false;
    std::vector<received_upload> done_;
    std::optional<received_upload> current_;
    std::map<std::string, bytes> files_;
    std::function<void(const bytes&, const std::string&, const bytes&)> keeper_;
};

// Installs the upload handlers on every upload opcode and returns the store.
std::shared_ptr<file_store> add_file_replies(sim_scale& sim);

}  // namespace qv_sim
