#pragma once
// Pacing and bounds of the loops that poll a scale while it works: the
// recognition, the camera-service reset and the scenario encryption.
// Internal to the library and its tests; not part of the host interface.

#include <chrono>

namespace qv_polling_internal {

struct poll_timing {
    std::chrono::milliseconds recognition_period{200};
    std::chrono::milliseconds encryption_period{200};
    std::chrono::milliseconds reset_period{400};
    int reset_tries = 500;
    // Failed exchanges in a row that end the reset wait: a scale that has
    // gone away is not asked for half an hour.
    int reset_failed_exchanges = 10;
};

// The values in force. Tests shorten them and put the defaults back.
__attribute__((visibility("hidden"))) poll_timing& timing();

}  // namespace qv_polling_internal
