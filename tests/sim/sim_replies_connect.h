#pragma once
// What a simulated scale answers to the commands of the connect road: its
// protocol version (command AB), its serial number (AE) and its PLU count
// (D0). Each value can be changed while the scale serves.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "sim_scale.h"

namespace qv_sim {

class connect_identity {
public:
    void set_protocol_version(std::uint8_t major, std::uint8_t minor);
    void set_serial_number(std::string serial);  // sent as its bytes, zero bytes included
    void set_plu_count(std::uint16_t count);

    std::uint8_t major() const;
    std::uint8_t minor() const;
    std::string serial_number() const;
    std::uint16_t plu_count() const;

private:
    mutable std::mutex mu_;
    std::uint8_t major_ = 0;
    std::uint8_t minor_ = 17;
    std::string serial_ = "QVSIM0001";
    std::uint16_t plu_count_ = 42;
};

// Installs the three replies on `sim` and returns the values they answer
// with (protocol 0.17, serial QVSIM0001, 42 PLUs until changed).
std::shared_ptr<connect_identity> add_connect_replies(sim_scale& sim);

}  // namespace qv_sim
