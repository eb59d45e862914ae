#include "replies/folders.h"

#include <algorithm>
#include <utility>

#include "replies/files.h"

namespace qv_sim {

namespace {

void put_u16(bytes& out, std::size_t v)
{
    out.push_back(static_cast<std::byte>(v & 0xFF));
    out.push_back(static_cast<std::byte>((v >> 8) & 0xFF));
}

void put_u32(bytes& out, std::size_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xFF));
}

bytes listing_data(std::size_t total, std::size_t count, const std::vector<folder_entry>& entries)
{
    bytes data;
    put_u16(data, total);
    put_u16(data, count);
    for (const folder_entry& e : entries) {
        data.push_back(std::byte{e.type});
        data.push_back(static_cast<std::byte>(e.name.size() & 0xFF));
        const bytes name = to_bytes(e.name);
        data.insert(data.end(), name.begin(), name.end());
    }
    return data;
}

// A u16 count and that many bytes at `at`; false when the payload does not
// hold them exactly.
bool read_path(const bytes& payload, std::string& path)
{
    if (payload.size() < 2) return false;
    const std::size_t n = std::to_integer<std::size_t>(payload[0]) | std::to_integer<std::size_t>(payload[1]) << 8;
    if (payload.size() != 2 + n) return false;
    path.assign(reinterpret_cast<const char*>(payload.data()) + 2, n);
    return true;
}

constexpr std::uint8_t ok = 0, bad_password = 122, bad_value = 124, no_folder = 129, file_empty = 171,
                       in_progress = 172;

}  // namespace

// ---- Folders.

void scale_folders::set_password(const std::string& four_chars)
{
    std::lock_guard<std::mutex> lock(mu_);
    password_ = to_bytes(four_chars);
}

void scale_folders::set_folder(const std::string& path, std::vector<folder_entry> entries)
{
    std::lock_guard<std::mutex> lock(mu_);
    folders_[path] = std::move(entries);
    cursor_[path] = 0;
}

void scale_folders::add_file(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mu_);
    add_entry(path, 0);
}

void scale_folders::on_deleted(std::function<void(const std::string& path)> hook)
{
    std::lock_guard<std::mutex> lock(mu_);
    on_deleted_ = std::move(hook);
}

void scale_folders::add_entry(const std::string& path, std::uint8_t type)
{
    if (path.empty()) return;  // the root
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (folders_.count(parent) == 0) add_entry(parent, 1);
    std::vector<folder_entry>& entries = folders_[parent];
    const auto same =
        std::find_if(entries.begin(), entries.end(), [&](const folder_entry& e) { return e.name == name; });
    if (same == entries.end())
        entries.push_back({type, name});
    else
        same->type = type;
    if (type == 1) folders_.emplace(path, std::vector<folder_entry>{});
}

bool scale_folders::remove_entry(const std::string& path)
{
    bool found = folders_.erase(path) != 0;
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto folder = folders_.find(parent);
    if (folder != folders_.end()) {
        std::vector<folder_entry>& entries = folder->second;
        const auto end =
            std::remove_if(entries.begin(), entries.end(), [&](const folder_entry& e) { return e.name == name; });
        found = found || end != entries.end();
        entries.erase(end, entries.end());
    }
    return found;
}

void scale_folders::set_page_size(std::size_t entries)
{
    std::lock_guard<std::mutex> lock(mu_);
    page_ = std::max<std::size_t>(entries, 1);
}

void scale_folders::script_listing(std::vector<listing_part> parts, bool repeat)
{
    std::lock_guard<std::mutex> lock(mu_);
    script_ = std::move(parts);
    next_part_ = 0;
    repeat_ = repeat;
}

void scale_folders::set_root(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mu_);
    root_ = path;
}

void scale_folders::set_backup_polls(int polls, std::uint8_t result)
{
    std::lock_guard<std::mutex> lock(mu_);
    backup_polls_ = polls;
    backup_result_ = result;
}

bytes scale_folders::backup_flags() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return backup_flags_;
}

int scale_folders::backup_requests() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return backups_;
}

int scale_folders::backup_status_requests() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return backup_statuses_;
}

std::vector<std::string> scale_folders::deleted() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return deleted_;
}

std::vector<std::string> scale_folders::created() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return created_;
}

bool scale_folders::has_folder(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mu_);
    return folders_.count(path) != 0;
}

reply scale_folders::handle(const request& r)
{
    std::lock_guard<std::mutex> lock(mu_);
    const auto answer = [&r](std::uint8_t result, const bytes& data = {}) {
        return reply(reply_frame(r.command, result, data));
    };
    if (r.rest.size() < 4 || !std::equal(password_.begin(), password_.end(), r.rest.begin()))
        return answer(bad_password);
    const bytes payload(r.rest.begin() + 4, r.rest.end());
    const std::string op = hex(r.command);

    if (op == "1D") {
        if (next_part_ < script_.size() || (repeat_ && !script_.empty())) {
            const listing_part& p = script_[std::min(next_part_, script_.size() - 1)];
            if (next_part_ < script_.size()) ++next_part_;
            bytes data = p.result == ok ? listing_data(p.total, p.count, p.entries) : bytes{};
            if (p.cut != 0 && p.cut < data.size()) data.resize(p.cut);
            return answer(p.result, data);
        }
        std::string path;
        if (!read_path(payload, path)) return answer(bad_value);
        const auto folder = folders_.find(path);
        if (folder == folders_.end()) return answer(no_folder);
        std::size_t& at = cursor_[path];
        const std::vector<folder_entry>& all = folder->second;
        const std::size_t n = std::min(page_, all.size() - std::min(at, all.size()));
        const std::vector<folder_entry> part(all.begin() + static_cast<long>(at),
                                             all.begin() + static_cast<long>(at + n));
        at += n;
        if (at >= all.size()) at = 0;  // the next listing starts again
        return answer(ok, listing_data(all.size(), n, part));
    }
    if (op == "FF 07") {
        bytes data{static_cast<std::byte>(root_.size() & 0xFF)};
        const bytes text = to_bytes(root_);
        data.insert(data.end(), text.begin(), text.end());
        return answer(ok, data);
    }
    if (op == "BC") {
        if (payload.size() != 3) return answer(bad_value);
        backup_flags_ = payload;
        ++backups_;
        polls_left_ = backup_polls_;
        return answer(ok);
    }
    if (op == "BD") {
        ++backup_statuses_;
        if (polls_left_ > 0) {
            --polls_left_;
            return answer(in_progress);
        }
        return answer(backup_result_);
    }
    std::string path;
    if (!read_path(payload, path)) return answer(bad_value);
    if (op == "FF 35") {
        deleted_.push_back(path);
        if (!remove_entry(path)) return answer(no_folder);
        if (on_deleted_) on_deleted_(path);
        return answer(ok);
    }
    created_.push_back(path);
    add_entry(path, 1);
    folders_.emplace(path, std::vector<folder_entry>{});
    return answer(ok);
}

std::shared_ptr<scale_folders> add_folder_replies(sim_scale& sim)
{
    auto folders = std::make_shared<scale_folders>();
    const octets commands[] = {{0x1D}, {0xFF, 0x07}, {0xBC}, {0xBD}, {0xFF, 0x35}, {0xFF, 0x36}};
    for (const octets& c : commands)
        sim.on(c, [folders, &sim](const request& r) {
            // The password the scale checks as it stands now: 5 may have changed it.
            if (const auto password = sim.admin_password()) folders->set_password(*password);
            return folders->handle(r);
        });
    return folders;
}

// ---- Downloads.

void download_store::set_password(const std::string& four_chars)
{
    std::lock_guard<std::mutex> lock(mu_);
    password_ = to_bytes(four_chars);
}

void download_store::put(const std::string& key, bytes content)
{
    std::lock_guard<std::mutex> lock(mu_);
    files_[key] = std::move(content);
}

void download_store::remove(const std::string& key)
{
    std::lock_guard<std::mutex> lock(mu_);
    files_.erase(key);
}

void download_store::set_packet_size(std::size_t bytes_per_packet)
{
    std::lock_guard<std::mutex> lock(mu_);
    packet_ = std::max<std::size_t>(bytes_per_packet, 1);
}

void download_store::set_faults(const download_faults& f)
{
    std::lock_guard<std::mutex> lock(mu_);
    faults_ = f;
}

std::vector<std::string> download_store::names() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return names_;
}

bytes download_store::hash_options() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return options_;
}

std::size_t download_store::data_requests() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return data_requests_;
}

reply download_store::handle(const request& r)
{
    std::lock_guard<std::mutex> lock(mu_);
    const auto answer = [&r](std::uint8_t result, const bytes& data = {}) {
        return reply(reply_frame(r.command, result, data));
    };
    // The password: four bytes, after a count byte for the configuration file.
    const bool counted = r.command == to_bytes({0x1C});
    const std::size_t skip = counted ? 5 : 4;
    if (r.rest.size() <= skip) return answer(bad_value);
    if (!std::equal(password_.begin(), password_.end(), r.rest.begin() + (counted ? 1 : 0)))
        return answer(bad_password);
    const bytes data(r.rest.begin() + static_cast<long>(skip), r.rest.end());
    const auto subcode = std::to_integer<std::uint8_t>(data[0]);
    transfer& t = transfers_[r.command];
    if (t.key.empty() && r.command != to_bytes({0xAA})) t.key = hex(r.command);
    const auto file = files_.find(t.key);

    switch (subcode) {
        case 0x01: {
            std::string name;
            if (!read_path(bytes(data.begin() + 1, data.end()), name)) return answer(bad_value);
            names_.push_back(name);
            t = transfer{};
            t.key = name;
            return answer(files_.count(name) != 0 ? ok : no_folder);
        }
        case 0x02:
        case 0x06: {
            options_.assign(data.begin() + 1, data.end());
            if (file == files_.end()) return answer(file_empty);
            const std::string key = t.key;
            t = transfer{};
            t.key = key;
            if (subcode == 0x06) return answer(ok);
            bytes digest = md5_digest(file->second);
            if (faults_.wrong_digest) digest[0] ^= std::byte{0xFF};
            return answer(ok, digest);
        }
        case 0x07: {
            if (file == files_.end()) return answer(file_empty);
            if (t.polls++ < faults_.hash_busy) return answer(ok, to_bytes({1}));
            bytes status_and_digest = to_bytes({0});
            bytes digest = md5_digest(file->second);
            if (faults_.wrong_digest) digest[0] ^= std::byte{0xFF};
            status_and_digest.insert(status_and_digest.end(), digest.begin(), digest.end());
            return answer(ok, status_and_digest);
        }
        case 0x03: {
            ++data_requests_;
            if (file == files_.end()) return answer(file_empty);
            const std::size_t k = ++t.packets;
            if (faults_.silent_at == k) {
                fault quiet;
                quiet.silence = true;
                return reply(bytes{}, quiet);
            }
            if (faults_.data_result != 0) return answer(faults_.data_result);
            const bytes& content = file->second;
            const std::size_t offset = t.sent;
            bytes piece;
            bool last = false;
            if (faults_.endless) {
                for (std::size_t i = 0; i < packet_; ++i)
                    piece.push_back(content.empty() ? std::byte{0} : content[(offset + i) % content.size()]);
            } else if (!t.done) {
                const std::size_t n = std::min(packet_, content.size() - std::min(offset, content.size()));
                piece.assign(content.begin() + static_cast<long>(offset),
                             content.begin() + static_cast<long>(offset + n));
                last = offset + n >= content.size();
            }
            t.sent += piece.size();
            if (last) t.done = true;
            bytes out{static_cast<std::byte>(last && !faults_.no_last_flag ? 1 : (faults_.no_last_flag ? 2 : 0))};
            put_u32(out, faults_.wrong_offset_at == k ? offset + 1 : offset);
            put_u16(out, piece.size());
            out.insert(out.end(), piece.begin(), piece.end());
            if (faults_.short_at == k) out.resize(out.size() > 10 ? out.size() - 10 : 0);
            return answer(ok, out);
        }
        default:
            return answer(bad_value);
    }
}

std::shared_ptr<download_store> add_download_replies(sim_scale& sim)
{
    auto store = std::make_shared<download_store>();
    const octets opcodes[] = {{0xAA}, {0x1C},       {0xAF},       {0x1E},       {0x20},      {0x26},
                              {0xBE}, {0xFF, 0x0B}, {0xFF, 0x12}, {0xFF, 0x31}, {0xFF, 0x34}};
    for (const octets& op : opcodes)
        sim.on(op, [store, &sim](const request& r) {
            // The password the scale checks as it stands now: 5 may have changed it.
            if (const auto password = sim.admin_password()) store->set_password(*password);
            return store->handle(r);
        });
    return store;
}

}  // namespace qv_sim

namespace {

using qv_sim::bytes;
using qv_sim::to_bytes;

// The upload opcodes whose file the standard scale hands back on a download opcode: the configuration file,
// products, recognition backup, categories, scale backup, messages and the JSON items file.
const std::map<bytes, bytes> download_of_upload{
    {to_bytes({0x1B}), to_bytes({0x1C})},
    {to_bytes({0x1F}), to_bytes({0x1E})},
    {to_bytes({0x23}), to_bytes({0x20})},
    {to_bytes({0x27}), to_bytes({0x26})},
    {to_bytes({0xBF}), to_bytes({0xBE})},
    {to_bytes({0xFF, 0x0C}), to_bytes({0xFF, 0x0B})},
    {to_bytes({0xFF, 0x13}), to_bytes({0xFF, 0x12})},
};

// The standard scale: one file system for uploads, listings and downloads. A file uploaded by name (FileType 0) is
// listed in its folder and downloaded by that name; a file of another kind replaces what the download of its kind
// hands back. Until then every download kind has a small canned file.
const qv_sim::replies_registration folder_replies{[](qv_sim::sim_scale& sim) {
    const auto folders = qv_sim::add_folder_replies(sim);
    const auto downloads = qv_sim::add_download_replies(sim);
    const auto uploads = qv_sim::add_file_replies(sim);
    folders->set_folder("", {{1, "labels"}, {1, "images"}});
    folders->set_folder("labels", {});
    folders->set_folder("images", {});
    const std::pair<const char*, const char*> canned[] = {
        {"config.json", "{\"scale\":\"simulated\"}"},
        {"readme.txt", "A simulated scale.\n"},
        {"1C", "{\"scale\":\"simulated\"}"},
        {"AF", "service log"},
        {"1E", "1;Apples;12.99\n"},
        {"20", "recognition backup"},
        {"26", "1;Fruit\n"},
        {"BE", "scale backup"},
        {"FF 0B", "1;1;Fresh\n"},
        {"FF 12", "{\"products\":[]}"},
        {"FF 31", "{\"statistics\":[]}"},
        {"FF 34", "archived statistics"},
    };
    for (const auto& [key, text] : canned) {
        downloads->put(key, to_bytes(std::string(text)));
        if (std::string(key).find('.') != std::string::npos) folders->add_file(key);
    }
    uploads->on_kept([folders, downloads](const bytes& command, const std::string& name, const bytes& content) {
        if (!name.empty()) {
            downloads->put(name, content);
            folders->add_file(name);
            return;
        }
        const auto kind = download_of_upload.find(command);
        if (kind != download_of_upload.end()) downloads->put(qv_sim::hex(kind->second), content);
    });
    folders->on_deleted([downloads](const std::string& path) { downloads->remove(path); });
}};

}  // namespace
