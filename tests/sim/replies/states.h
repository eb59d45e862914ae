#pragma once
// What a simulated scale answers to the state query (command 11): a 73-byte
// state record built from fields that can be changed while the scale serves.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sim_scale.h"

namespace qv_sim {

// The state record's fields in record order, with plausible values.
struct state_fields {
    std::array<std::uint8_t, 3> version{2, 1, 15};
    std::uint16_t embodiment = 3;
    std::array<std::uint8_t, 3> version_date{5, 12, 26};
    std::uint16_t plu_count = 42;
    std::uint16_t messages_count = 7;
    std::uint8_t strings_in_message = 4;
    std::uint8_t weight_limit = 15;
    std::uint8_t discreteness = 0x02;  // bit 0 1 g, 1 2 g, 2 5 g, 3 10 g
    std::uint8_t scales_number = 1;
    std::uint16_t label_number = 12;
    std::uint16_t mode = 0;
    std::uint8_t advanced_mode = 0;
    std::uint8_t keyboard_mode = 1;
    std::array<std::uint8_t, 3> date{5, 12, 26};
    std::array<std::uint8_t, 3> time{17, 42, 9};
    std::uint8_t date_format = 0;
    std::uint8_t time_format = 0;
    std::uint8_t reserved = 0;
    std::uint8_t point_position = 3;
    std::uint8_t packaging_on = 0;
    std::uint8_t sound_on = 1;
    std::uint8_t print_mode = 0;
    std::uint16_t auto_print_weight = 20;
    std::uint8_t printer_mode = 0x1F;  // paper, label, positioning, head, copy
    std::uint8_t weight_device_mode = 0x01;  // weight fixed
    std::int16_t weight = 1250;
    std::uint16_t tare = 0;
    std::int32_t cost = 12500;
    std::int32_t price = 10000;
    std::uint16_t current_plu = 1;
    std::uint8_t goods_type = 0;
    std::uint8_t currency_equivalent_on = 0;
    std::int32_t currency_course = 0;
    std::int32_t currency_equivalent = 0;
    std::array<std::uint8_t, 7> sum{};
    std::uint16_t ethernet_status = 1;
    std::uint8_t display_type = 2;
};

// The 73 record bytes, little-endian.
bytes state_record(const state_fields& f);

using scale_state = locked<state_fields>;

// Installs the state reply (02 4B 11 00 record) and returns its fields.
std::shared_ptr<scale_state> add_state_replies(sim_scale& sim);

}  // namespace qv_sim
