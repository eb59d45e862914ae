#pragma once
// The product database a simulated scale keeps for the database commands:
// products (item code, PLU number, category), categories, messages (number
// and line count), packers, marking codes, and the preparation of the JSON
// items file. Deletes remove, look-ups find, and each can be seeded or
// inspected while the scale serves.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "replies/records_products.h"
#include "sim_scale.h"

namespace qv_sim {

class product_database {
public:
    struct product {
        std::uint16_t plu = 0;
        std::uint32_t category = 0;
    };
    struct packer {
        std::string name;
        std::optional<std::string> password;  // absent when the request carried none
    };

    // ---- Seeding.
    void add_product(std::uint32_t item_code, std::uint16_t plu, std::uint32_t category = 0);
    void add_category(std::uint32_t id);
    void add_message(std::uint16_t number, std::uint8_t lines);
    void add_packer(std::uint32_t id, std::string name);
    void add_marking_codes(std::uint32_t item_code, std::size_t count);
    // After each create request (FF 14) the status request (FF 15) answers
    // 172 this many times, then 0.
    void set_preparation_polls(int polls);
    // From now on the messages are the lines `lines` keeps (those of the
    // message commands): the count (D1) and a message's lines (BB) follow
    // them, and clearing the messages (18, BA) clears them. The messages
    // seeded with add_message are no longer counted.
    void keep_messages_in(std::shared_ptr<product_store> lines);

    // ---- Inspection.
    std::optional<product> find_product(std::uint32_t item_code) const;
    std::size_t product_count() const;
    bool has_category(std::uint32_t id) const;
    std::size_t message_count() const;
    std::optional<packer> find_packer(std::uint32_t id) const;
    std::size_t marking_code_count() const;
    int last_clear_rate() const;  // the rate byte of the last product clear, -1 before any
    int create_requests() const;  // FF 14 requests received

    // ---- The scale's side of each request (payload after the password);
    // the result byte and the reply data.
    struct answer {
        std::uint8_t result = 0;
        bytes data;
    };
    answer handle(const bytes& command, const bytes& payload);

private:
    answer clear(const bytes& command, const bytes& payload);
    answer delete_product(const bytes& payload);
    answer delete_category(const bytes& payload);
    answer set_packer(const bytes& payload);

    mutable std::mutex mu_;
    std::map<std::uint32_t, product> products_;
    std::set<std::uint32_t> categories_;
    std::map<std::uint16_t, std::uint8_t> messages_;
    std::shared_ptr<product_store> lines_;  // when set, the messages instead of messages_
    std::map<std::uint32_t, packer> packers_;
    std::map<std::uint32_t, std::size_t> marking_codes_;
    int preparation_polls_ = 1;
    int polls_left_ = 0;
    int creates_ = 0;
    int last_clear_rate_ = -1;
};

// Installs the database commands' replies on `sim` over an empty database
// and returns it.
std::shared_ptr<product_database> add_product_database_replies(sim_scale& sim);

}  // namespace qv_sim
