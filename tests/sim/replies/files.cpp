#include "replies/files.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace qv_sim {

// ---- MD5 (RFC 1321), written out here so that the scale checks uploads
// with a digest of its own.

bytes md5_digest(const bytes& data)
{
    static const std::array<std::uint32_t, 64> k = [] {
        std::array<std::uint32_t, 64> t{};
        const std::uint32_t values[64] = {
            0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
            0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
            0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
            0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
            0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
            0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
            0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
            0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
        std::copy(std::begin(values), std::end(values), t.begin());
        return t;
    }();
    static const int shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                   5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                   4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                   6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

    bytes msg = data;
    const std::uint64_t bit_length = static_cast<std::uint64_t>(data.size()) * 8;
    msg.push_back(std::byte{0x80});
    while (msg.size() % 64 != 56) msg.push_back(std::byte{0});
    for (int i = 0; i < 8; ++i) msg.push_back(static_cast<std::byte>((bit_length >> (8 * i)) & 0xFF));

    for (std::size_t block = 0; block < msg.size(); block += 64) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i) {
            m[i] = 0;
            for (int b = 3; b >= 0; --b)
                m[i] = (m[i] << 8) | std::to_integer<std::uint32_t>(msg[block + static_cast<std::size_t>(4 * i + b)]);
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const std::uint32_t sum = a + f + k[static_cast<std::size_t>(i)] + m[g];
            a = d;
            d = c;
            c = b;
            b = b + ((sum << shifts[i]) | (sum >> (32 - shifts[i])));
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
    bytes out;
    for (std::uint32_t word : h)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::byte>((word >> (8 * i)) & 0xFF));
    return out;
}

// ---- Status answers.

status_answer status_answer::failed(const std::string& text)
{
    bytes data = to_bytes({2, static_cast<int>(text.size() & 0xFF), static_cast<int>(text.size() >> 8)});
    const bytes t = to_bytes(text);
    data.insert(data.end(), t.begin(), t.end());
    return {0, data, false};
}

// ---- The store.

namespace {

std::uint64_t le(const bytes& b, std::size_t at, std::size_t width)
{
    std::uint64_t v = 0;
    for (std::size_t i = width; i-- > 0;) v = (v << 8) | std::to_integer<std::uint64_t>(b.at(at + i));
    return v;
}

std::string key_of(const received_upload& u)
{
    return u.name.empty() ? hex(u.command) : u.name;
}

}  // namespace

void file_store::set_password(const std::string& four_chars)
{
    std::lock_guard<std::mutex> lock(mu_);
    password_ = to_bytes(four_chars);
}

void file_store::script_status(std::vector<status_answer> answers)
{
    std::lock_guard<std::mutex> lock(mu_);
    script_.assign(answers.begin(), answers.end());
}

void file_store::fail_request(std::uint8_t subcode, std::size_t nth, std::uint8_t result)
{
    std::lock_guard<std::mutex> lock(mu_);
    rules_.push_back({subcode, nth, result, false});
}

void file_store::silent_from(std::uint8_t subcode, std::size_t nth)
{
    std::lock_guard<std::mutex> lock(mu_);
    rules_.push_back({subcode, nth, 0, true});
}

void file_store::clear_faults()
{
    std::lock_guard<std::mutex> lock(mu_);
    rules_.clear();
    seen_.clear();
    silent_ = false;
}

void file_store::corrupt_data(bool on)
{
    std::lock_guard<std::mutex> lock(mu_);
    corrupt_ = on;
}

std::vector<received_upload> file_store::uploads() const
{
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<received_upload> all = done_;
    if (current_) all.push_back(*current_);
    return all;
}

std::map<std::string, bytes> file_store::files() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return files_;
}

std::optional<bytes> file_store::file(const std::string& key) const
{
    std::lock_guard<std::mutex> lock(mu_);
    const auto it = files_.find(key);
    if (it == files_.end()) return std::nullopt;
    return it->second;
}

void file_store::put_file(const std::string& key, bytes content)
{
    std::lock_guard<std::mutex> lock(mu_);
    files_[key] = std::move(content);
}

void file_store::clear_uploads()
{
    std::lock_guard<std::mutex> lock(mu_);
    done_.clear();
    current_.reset();
    files_.clear();
}

// Called with mu_ held.
std::optional<std::uint8_t> file_store::injected(std::uint8_t subcode)
{
    const std::size_t count = ++seen_[subcode];
    std::optional<std::uint8_t> result;
    for (const fault_rule& rule : rules_) {
        if (rule.subcode != subcode) continue;
        if (rule.silent && count >= rule.nth) silent_ = true;
        if (!rule.silent && count == rule.nth) result = rule.result;
    }
    return result;
}

void file_store::finish(received_upload& u)
{
    const auto size = u.options.find(0x04);
    u.md5_ok = u.complete && size != u.options.end() && size->second == static_cast<std::int64_t>(u.content.size()) &&
               md5_digest(u.content) == u.digest;
    if (!u.complete) return;
    files_[key_of(u)] = u.content;
    if (keeper_ && u.md5_ok) keeper_(u.command, u.name, u.content);
}

void file_store::on_kept(std::function<void(const bytes&, const std::string&, const bytes&)> keeper)
{
    std::lock_guard<std::mutex> lock(mu_);
    keeper_ = std::move(keeper);
}

reply file_store::handle(const request& r)
{
    std::lock_guard<std::mutex> lock(mu_);
    fault quiet;
    quiet.silence = true;
    const auto answer = [&r](std::uint8_t result, const bytes& data = {}) {
        return reply(reply_frame(r.command, result, data));
    };
    if (silent_) return reply(bytes{}, quiet);

    // The password: four bytes, after a count byte for the configuration file.
    const bool counted = r.command == to_bytes({0x1B});
    const std::size_t skip = counted ? 5 : 4;
    if (r.rest.size() <= skip) return answer(124);
    if (!std::equal(password_.begin(), password_.end(), r.rest.begin() + (counted ? 1 : 0))) return answer(122);
    const bytes data(r.rest.begin() + static_cast<long>(skip), r.rest.end());
    const auto subcode = std::to_integer<std::uint8_t>(data[0]);

    if (const auto result = injected(subcode)) return answer(*result);
    if (silent_) return reply(bytes{}, quiet);

    auto start = [&] {
        if (current_) done_.push_back(std::move(*current_));
        current_.emplace();
        current_->command = r.command;
    };
    try {
        switch (subcode) {
            case 0x01: {
                start();
                const std::size_t n = static_cast<std::size_t>(le(data, 1, 2));
                if (data.size() != 3 + n) return answer(124);
                current_->name.assign(reinterpret_cast<const char*>(data.data()) + 3, n);
                return answer(0);
            }
            case 0x05:
                start();
                current_->backup_flags.assign(data.begin() + 1, data.begin() + 4);
                return answer(0);
            case 0x08:
                start();
                current_->item_code = static_cast<std::uint32_t>(le(data, 1, 4));
                return answer(0);
            case 0x02: {
                if (!current_ || !current_->digest.empty() || current_->command != r.command) start();
                current_->digest.assign(data.begin() + 1, data.begin() + 17);
                current_->option_bytes.assign(data.begin() + 17, data.end());
                for (std::size_t at = 17; at < data.size();) {
                    const auto tag = std::to_integer<std::uint8_t>(data[at]);
                    const std::size_t width = tag == 0x04 ? 8 : 1;
                    current_->options[tag] = static_cast<std::int64_t>(le(data, at + 1, width));
                    at += 1 + width;
                }
                return answer(0);
            }
            case 0x03: {
                if (!current_) start();
                received_upload& u = *current_;
                const bool last = data.at(1) == std::byte{1};
                const std::size_t offset = static_cast<std::size_t>(le(data, 2, 4));
                const std::size_t length = static_cast<std::size_t>(le(data, 6, 2));
                if (data.size() != 8 + length) return answer(124);
                // Pieces join up when each starts where the one before ended.
                if (offset != u.content.size()) u.in_order = false;
                if (u.content.size() < offset + length) u.content.resize(offset + length);
                std::copy(data.begin() + 8, data.end(), u.content.begin() + static_cast<long>(offset));
                if (corrupt_ && length > 0) u.content[offset] ^= std::byte{1};
                ++u.packets;
                if (last) u.complete = u.in_order;
                return answer(0);
            }
            case 0x09: {
                if (current_) {
                    finish(*current_);
                    done_.push_back(std::move(*current_));
                    current_.reset();
                }
                status_answer a;
                if (!script_.empty()) {
                    a = script_.front();
                    script_.pop_front();
                } else if (!done_.empty() && !done_.back().md5_ok) {
                    a = status_answer::failed("MD5 mismatch");
                } else {
                    a = status_answer::done();
                }
                if (!done_.empty()) ++done_.back().status_requests;
                if (a.silent) return reply(bytes{}, quiet);
                return answer(a.result, a.data);
            }
            default:
                return answer(124);
        }
    } catch (const std::out_of_range&) {
        return answer(124);  // a packet too short for its fields
    }
}

std::shared_ptr<file_store> add_file_replies(sim_scale& sim)
{
    auto store = std::make_shared<file_store>();
    const octets opcodes[] = {{0xA9},       {0x1B},       {0xA8},       {0x1F},       {0x23},       {0x27},      {0xBF},
                              {0xFF, 0x0C}, {0xFF, 0x10}, {0xFF, 0x13}, {0xFF, 0x26}, {0xFF, 0x56}, {0xFF, 0x64}};
    for (const octets& op : opcodes)
        sim.on(op, [store, &sim](const request& r) {
            // The password the scale checks as it stands now: 5 may have changed it.
            if (const auto password = sim.admin_password()) store->set_password(*password);
            return store->handle(r);
        });
    return store;
}

}  // namespace qv_sim
