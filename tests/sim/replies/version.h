#pragma once
// What a simulated scale answers to the commands of the connect road: its
// protocol version (command AB), its serial number (AE) and its PLU count
// (D0). Each value can be changed while the scale serves.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "sim_scale.h"

namespace qv_sim {

struct connect_values {
    std::uint8_t major = 0;
    std::uint8_t minor = 17;
    std::string serial = "QVSIM0001";  // sent as its bytes, zero bytes included
    std::uint16_t plu_count = 42;
};

class connect_identity : public locked<connect_values> {
public:
    using values = connect_values;

    void set_protocol_version(std::uint8_t major, std::uint8_t minor)
    {
        update([&](values& v) {
            v.major = major;
            v.minor = minor;
        });
    }
    void set_serial_number(std::string serial)
    {
        update([&](values& v) { v.serial = std::move(serial); });
    }
    void set_plu_count(std::uint16_t count)
    {
        update([&](values& v) { v.plu_count = count; });
    }
};

// Installs the three replies on `sim` and returns the values they answer
// with (protocol 0.17, serial QVSIM0001, 42 PLUs until changed).
std::shared_ptr<connect_identity> add_connect_replies(sim_scale& sim);

}  // namespace qv_sim
