#pragma once
// What a simulated scale keeps of its catalogue in the fixed-record command
// set: PLU records and message lines, written singly or in blocks and read
// back, and the group-code switch that decides whether bytes 70-71 of an
// extended PLU record are a group code (0) or a packed date (1).

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "sim_scale.h"

namespace qv_sim {

class product_store {
public:
    // One PLU as the scale keeps it; texts as UTF-8 whatever form they came in.
    struct plu {
        std::uint32_t item_code = 0;
        std::string name_first;
        std::string name_second;
        std::uint32_t price = 0;
        std::uint8_t formats = 0;  // BCFormat << 4 | LabelFormat
        std::uint16_t shelf_life = 0;
        std::uint16_t tare = 0;
        std::uint16_t group_or_date = 0xFFFF;  // as received: which one, the switch said
        std::uint16_t message_number = 0;
        std::uint8_t goods_type = 0;  // 0x80 or 0
        std::string rostest;
        bytes shelf_life_date = bytes(3);
    };
    using message_key = std::pair<std::uint16_t, std::uint8_t>;  // message number, line number

    std::uint8_t use_group_code() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return use_group_code_;
    }
    void set_use_group_code(std::uint8_t value)
    {
        std::lock_guard<std::mutex> lock(mu_);
        use_group_code_ = value;
    }
    std::optional<plu> find_plu(std::uint16_t number) const
    {
        std::lock_guard<std::mutex> lock(mu_);
        const auto it = plus_.find(number);
        return it == plus_.end() ? std::nullopt : std::optional<plu>(it->second);
    }
    std::optional<std::string> find_message(std::uint16_t number, std::uint8_t line) const
    {
        std::lock_guard<std::mutex> lock(mu_);
        const auto it = messages_.find({number, line});
        return it == messages_.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    std::size_t plu_records() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return plus_.size();
    }
    std::size_t message_lines() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return messages_.size();
    }
    // The messages that have lines, and the lines of one message.
    std::size_t messages() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        std::size_t n = 0;
        for (auto it = messages_.begin(); it != messages_.end(); it = messages_.upper_bound({it->first.first, 0xFF}))
            ++n;
        return n;
    }
    std::size_t lines_of(std::uint16_t number) const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return static_cast<std::size_t>(
            std::distance(messages_.lower_bound({number, 0}), messages_.upper_bound({number, 0xFF})));
    }
    void clear_messages()
    {
        std::lock_guard<std::mutex> lock(mu_);
        messages_.clear();
    }
    // Stores every record of one request at once.
    void store(const std::map<std::uint16_t, plu>& records)
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto& [number, record] : records) plus_[number] = record;
    }
    void store(const std::map<message_key, std::string>& lines)
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto& [key, text] : lines) messages_[key] = text;
    }

private:
    mutable std::mutex mu_;
    std::uint8_t use_group_code_ = 0;
    std::map<std::uint16_t, plu> plus_;
    std::map<message_key, std::string> messages_;
};

// Installs the replies of the PLU and message commands (50-53, 55, 57-59,
// 8C, 8D and their FF forms) on `sim` and returns what they keep.
std::shared_ptr<product_store> add_product_replies(sim_scale& sim);

// The Windows-1251 and UTF-8 texts of the simulated scale: every byte but
// zero has its code point, so a stored text comes back byte for byte; a code
// point outside the table becomes '?'. Zero bytes are padding.
std::string win1251_to_utf8(const bytes& text);
bytes utf8_to_win1251(const std::string& text);

}  // namespace qv_sim
