#pragma once
// What a simulated scale answers to the settings, information and clock
// commands: the settings it keeps (setters are answered back by getters),
// its information document, and a clock that holds what was last set.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "sim_scale.h"

namespace qv_sim {

struct scale_settings_values {
    // Settings.
    std::uint8_t date_format = 0;
    // The last new password received (5), as bytes; on a scale with a chosen
    // admin password it is also the one checked from then on.
    std::string password = "1234";
    std::array<std::uint8_t, 3> front_app_version{1, 2, 30};
    std::uint8_t model_version = 5;
    std::uint8_t logging = 0;
    // Empty: {"model":"QV-SIM","serialNumber":"<the scale's serial number>","firmware":"1.2.30"}.
    std::string information;
    std::uint8_t language = 1;
    std::uint8_t data_processing_method = 0;
    // Actions.
    int beeps = 0;
    int zeroings = 0;
    int reloads = 0;
    bytes tare;  // the last tare payload (empty: tare from the weight on the platform)
    std::uint8_t message_duration = 0;
    bytes message_title;
    bytes message_text;
    // Clock: it does not tick, so tests read back exactly what they set.
    std::array<std::uint8_t, 3> time{17, 42, 9};  // hour, minute, second
    std::array<std::uint8_t, 3> date{5, 12, 26};  // day, month, year - 2000
    std::uint8_t time_sync = 0;  // on: the clock refuses to be set (209)
    std::string time_zone = "Europe/Moscow";  // UTF-8 bytes
};

using scale_settings = locked<scale_settings_values>;

// Installs the replies and returns the values they keep.
std::shared_ptr<scale_settings> add_settings_replies(sim_scale& sim);

}  // namespace qv_sim
