#include "sim_replies_connect.h"

#include <utility>

namespace qv_sim {

void connect_identity::set_protocol_version(std::uint8_t major, std::uint8_t minor)
{
    std::lock_guard<std::mutex> lock(mu_);
    major_ = major;
    minor_ = minor;
}

void connect_identity::set_serial_number(std::string serial)
{
    std::lock_guard<std::mutex> lock(mu_);
    serial_ = std::move(serial);
}

void connect_identity::set_plu_count(std::uint16_t count)
{
    std::lock_guard<std::mutex> lock(mu_);
    plu_count_ = count;
}

std::uint8_t connect_identity::major() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return major_;
}

std::uint8_t connect_identity::minor() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return minor_;
}

std::string connect_identity::serial_number() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return serial_;
}

std::uint16_t connect_identity::plu_count() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return plu_count_;
}

std::shared_ptr<connect_identity> add_connect_replies(sim_scale& sim)
{
    auto id = std::make_shared<connect_identity>();
    // 02 04 AB 00 major minor
    sim.on({0xAB}, [id](const request& r) {
        return reply(reply_frame(r.command, 0, to_bytes({id->major(), id->minor()})));
    });
    // 02 LEN AE 00 serial bytes
    sim.on({0xAE}, [id](const request& r) { return reply(reply_frame(r.command, 0, to_bytes(id->serial_number()))); });
    // 02 04 D0 00 count (u16 little-endian)
    sim.on({0xD0}, [id](const request& r) {
        const std::uint16_t n = id->plu_count();
        return reply(reply_frame(r.command, 0, to_bytes({n & 0xFF, n >> 8})));
    });
    return id;
}

}  // namespace qv_sim
