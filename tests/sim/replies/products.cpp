// What a simulated scale answers to the product database commands, over the
// database it keeps (replies/products.h).
#include "replies/products.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qv_sim {

namespace {

constexpr std::uint8_t ok = 0;
constexpr std::uint8_t bad_value = 124;  // a malformed or out-of-range request
constexpr std::uint8_t bad_plu = 128;
constexpr std::uint8_t bad_item_code = 130;
constexpr std::uint8_t in_progress = 172;
constexpr std::uint8_t no_packer = 187;
constexpr std::uint8_t no_category = 196;
constexpr std::uint8_t no_rebinding_category = 197;

// Little-endian fields of a request payload; `ok` turns false once a field
// ran past the end, and stays false.
struct payload_reader {
    const bytes& data;
    std::size_t at = 0;
    bool ok = true;

    std::uint32_t take(std::size_t width)
    {
        if (!ok || data.size() - at < width) {
            ok = false;
            return 0;
        }
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < width; ++k) v |= std::to_integer<std::uint32_t>(data[at + k]) << (8 * k);
        at += width;
        return v;
    }
    std::uint8_t u8() { return static_cast<std::uint8_t>(take(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
    std::uint32_t u32() { return take(4); }
    std::string text(std::size_t n)
    {
        if (!ok || data.size() - at < n) {
            ok = false;
            return {};
        }
        std::string out(reinterpret_cast<const char*>(data.data() + at), n);
        at += n;
        return out;
    }
    bool done() const { return ok && at == data.size(); }
};

bytes le(std::uint32_t v, std::size_t width)
{
    bytes out;
    for (std::size_t k = 0; k < width; ++k) out.push_back(static_cast<std::byte>((v >> (8 * k)) & 0xFF));
    return out;
}

}  // namespace

void product_database::add_product(std::uint32_t item_code, std::uint16_t plu, std::uint32_t category)
{
    std::lock_guard<std::mutex> lock(mu_);
    products_[item_code] = {plu, category};
}

void product_database::add_category(std::uint32_t id)
{
    std::lock_guard<std::mutex> lock(mu_);
    categories_.insert(id);
}

void product_database::add_message(std::uint16_t number, std::uint8_t lines)
{
    std::lock_guard<std::mutex> lock(mu_);
    messages_[number] = lines;
}

void product_database::add_packer(std::uint32_t id, std::string name)
{
    std::lock_guard<std::mutex> lock(mu_);
    packers_[id] = {std::move(name), std::nullopt};
}

void product_database::add_marking_codes(std::uint32_t item_code, std::size_t count)
{
    std::lock_guard<std::mutex> lock(mu_);
    marking_codes_[item_code] += count;
}

void product_database::set_preparation_polls(int polls)
{
    std::lock_guard<std::mutex> lock(mu_);
    preparation_polls_ = polls;
}

void product_database::keep_messages_in(std::shared_ptr<product_store> lines)
{
    std::lock_guard<std::mutex> lock(mu_);
    lines_ = std::move(lines);
}

std::optional<product_database::product> product_database::find_product(std::uint32_t item_code) const
{
    std::lock_guard<std::mutex> lock(mu_);
    const auto it = products_.find(item_code);
    if (it == products_.end()) return std::nullopt;
    return it->second;
}

std::size_t product_database::product_count() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return products_.size();
}

bool product_database::has_category(std::uint32_t id) const
{
    std::lock_guard<std::mutex> lock(mu_);
    return categories_.count(id) != 0;
}

std::size_t product_database::message_count() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return lines_ ? lines_->messages() : messages_.size();
}

std::optional<product_database::packer> product_database::find_packer(std::uint32_t id) const
{
    std::lock_guard<std::mutex> lock(mu_);
    const auto it = packers_.find(id);
    if (it == packers_.end()) return std::nullopt;
    return it->second;
}

std::size_t product_database::marking_code_count() const
{
    std::lock_guard<std::mutex> lock(mu_);
    std::size_t n = 0;
    for (const auto& entry : marking_codes_) n += entry.second;
    return n;
}

int product_database::last_clear_rate() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return last_clear_rate_;
}

int product_database::create_requests() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return creates_;
}

product_database::answer product_database::clear(const bytes& command, const bytes& payload)
{
    payload_reader in{payload};
    const bool products = command == to_bytes({0x18}) || command == to_bytes({0xB9});
    const bool messages = command == to_bytes({0x18}) || command == to_bytes({0xBA});
    if (products) {
        const std::uint8_t rate = in.u8();
        if (!in.done()) return {bad_value, {}};
        products_.clear();
        last_clear_rate_ = rate;
    }
    if (messages) {
        if (!in.done()) return {bad_value, {}};
        messages_.clear();
        if (lines_) lines_->clear_messages();
    }
    if (command == to_bytes({0xFF, 0x11})) {
        const std::uint32_t item_code = in.u32();
        if (!in.done()) return {bad_value, {}};
        // Item code 0 clears the codes of every product.
        if (item_code == 0)
            marking_codes_.clear();
        else
            marking_codes_.erase(item_code);
    }
    return {ok, {}};
}

product_database::answer product_database::delete_product(const bytes& payload)
{
    payload_reader in{payload};
    const std::uint8_t selector = in.u8();
    if (selector == 0) {
        const std::uint32_t item_code = in.u32();
        if (!in.done()) return {bad_value, {}};
        return {products_.erase(item_code) ? ok : bad_item_code, {}};
    }
    const std::uint16_t plu = in.u16();
    if (selector != 1 || !in.done()) return {bad_value, {}};
    for (auto it = products_.begin(); it != products_.end(); ++it) {
        if (it->second.plu == plu) {
            products_.erase(it);
            return {ok, {}};
        }
    }
    return {bad_plu, {}};
}

product_database::answer product_database::delete_category(const bytes& payload)
{
    payload_reader in{payload};
    const std::uint32_t id = in.u32();
    const std::uint8_t type = in.u8();
    const std::uint32_t rebinding = type == 2 ? in.u32() : 0;
    if (!in.done()) return {bad_value, {}};
    if (!categories_.count(id)) return {no_category, {}};
    if (type == 2 && !categories_.count(rebinding)) return {no_rebinding_category, {}};
    // The simulation's own reading of the types: 2 moves the products to the
    // rebinding category, 1 deletes them, any other leaves them without one.
    for (auto it = products_.begin(); it != products_.end();) {
        if (it->second.category != id) {
            ++it;
        } else if (type == 1) {
            it = products_.erase(it);
        } else {
            it->second.category = rebinding;
            ++it;
        }
    }
    categories_.erase(id);
    return {ok, {}};
}

product_database::answer product_database::set_packer(const bytes& payload)
{
    payload_reader in{payload};
    const std::uint32_t id = in.u32();
    packer p;
    p.name = in.text(in.u16());
    if (in.ok && in.at < payload.size()) p.password = in.text(in.u16());
    if (!in.done()) return {bad_value, {}};
    packers_[id] = std::move(p);
    return {ok, {}};
}

product_database::answer product_database::handle(const bytes& command, const bytes& payload)
{
    std::lock_guard<std::mutex> lock(mu_);
    payload_reader in{payload};
    const std::uint8_t first = command.empty() ? 0 : std::to_integer<std::uint8_t>(command.back());
    if (command.size() == 1) {
        switch (first) {
            case 0x18:
            case 0xB9:
            case 0xBA:
                return clear(command, payload);
            case 0xD1:  // messages count
                return {ok, le(static_cast<std::uint32_t>(lines_ ? lines_->messages() : messages_.size()), 2)};
            case 0x54: {  // delete PLU
                const std::uint16_t plu = in.u16();
                if (!in.done()) return {bad_value, {}};
                for (auto it = products_.begin(); it != products_.end(); ++it) {
                    if (it->second.plu == plu) {
                        products_.erase(it);
                        return {ok, {}};
                    }
                }
                return {bad_plu, {}};
            }
            case 0x5A: {  // PLU number by item code
                const std::uint32_t item_code = in.u32();
                if (!in.done()) return {bad_value, {}};
                const auto it = products_.find(item_code);
                if (it == products_.end()) return {bad_item_code, {}};
                return {ok, le(it->second.plu, 2)};
            }
            case 0xBB: {  // lines of a message
                const std::uint16_t number = in.u16();
                if (!in.done()) return {bad_value, {}};
                if (lines_) {
                    const std::size_t n = lines_->lines_of(number);
                    if (n == 0) return {bad_value, {}};
                    return {ok, {static_cast<std::byte>(n)}};
                }
                const auto it = messages_.find(number);
                if (it == messages_.end()) return {bad_value, {}};
                return {ok, {static_cast<std::byte>(it->second)}};
            }
            default:
                break;
        }
        return {bad_value, {}};
    }
    switch (first) {
        case 0x11:
            return clear(command, payload);
        case 0x0F:
            return delete_product(payload);
        case 0x25:
            return delete_category(payload);
        case 0x09:
            return set_packer(payload);
        case 0x08: {  // packer by id: id, u16 n, name
            const std::uint32_t id = in.u32();
            if (!in.done()) return {bad_value, {}};
            const auto it = packers_.find(id);
            if (it == packers_.end()) return {no_packer, {}};
            bytes data = le(id, 4);
            const bytes n = le(static_cast<std::uint32_t>(it->second.name.size()), 2);
            data.insert(data.end(), n.begin(), n.end());
            const bytes name = to_bytes(it->second.name);
            data.insert(data.end(), name.begin(), name.end());
            return {ok, data};
        }
        case 0x0A: {  // delete packer
            const std::uint32_t id = in.u32();
            if (!in.done()) return {bad_value, {}};
            return {packers_.erase(id) ? ok : no_packer, {}};
        }
        case 0x14:  // start preparing the items file
            ++creates_;
            polls_left_ = preparation_polls_;
            return {ok, {}};
        case 0x15:  // preparation status
            if (polls_left_ > 0) {
                --polls_left_;
                return {in_progress, {}};
            }
            return {ok, {}};
        default:
            break;
    }
    return {bad_value, {}};
}

std::shared_ptr<product_database> add_product_database_replies(sim_scale& sim)
{
    auto db = std::make_shared<product_database>();
    const std::vector<octets> commands{{0x18},       {0xB9},       {0xBA},       {0xD1},       {0x54},
                                       {0x5A},       {0xBB},       {0xFF, 0x11}, {0xFF, 0x0F}, {0xFF, 0x25},
                                       {0xFF, 0x09}, {0xFF, 0x08}, {0xFF, 0x0A}, {0xFF, 0x14}, {0xFF, 0x15}};
    for (const octets& command : commands) {
        sim.on(command, [db](const request& r) {
            const product_database::answer a = db->handle(r.command, after_password(r));
            return reply(reply_frame(r.command, a.result, a.data));
        });
    }
    return db;
}

}  // namespace qv_sim

namespace {

// The standard scale keeps one catalogue for both command sets: its PLU
// count (D0) is the number of PLU records it holds, and the message count
// (D1) and a message's line count (BB) follow the message lines it keeps.
// It starts with a few records to find and delete, and messages 1 (three
// lines) and 2 (one line).
const qv_sim::replies_registration catalogue_replies{[](qv_sim::sim_scale& sim) {
    const auto records = qv_sim::add_product_replies(sim);
    sim.on({0xD0}, [records](const qv_sim::request& r) {
        const auto n = static_cast<int>(records->plu_records());
        return qv_sim::reply(qv_sim::reply_frame(r.command, 0, qv_sim::to_bytes({n & 0xFF, (n >> 8) & 0xFF})));
    });
    auto db = qv_sim::add_product_database_replies(sim);
    db->keep_messages_in(records);
    db->add_category(1);
    db->add_category(2);
    db->add_product(1001, 1, 1);
    db->add_product(1002, 2, 1);
    db->add_product(2001, 3, 2);
    records->store(std::map<qv_sim::product_store::message_key, std::string>{
        {{1, 1}, "Fresh from the farm"},
        {{1, 2}, "Keep refrigerated"},
        {{1, 3}, "Best before: see label"},
        {{2, 1}, "Baked today"},
    });
    db->add_packer(1, "Packer 1");
}};

}  // namespace
