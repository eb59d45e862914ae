#include "replies/records_products.h"

#include <vector>

namespace qv_sim {

namespace {

constexpr std::uint8_t ok = 0;
constexpr std::uint8_t invalid_value = 124;
constexpr std::uint8_t invalid_plu_number = 128;
constexpr std::uint8_t empty_plu = 140;

enum class form { win1251, utf8 };

// A bounded cursor over a request payload: reading past the end clears
// `good` and gives zeros.
struct cursor {
    const bytes& data;
    std::size_t at = 0;
    bool good = true;

    std::uint32_t number(std::size_t width)
    {
        if (data.size() - at < width) {
            good = false;
            at = data.size();
            return 0;
        }
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < width; ++k) v |= std::to_integer<std::uint32_t>(data[at + k]) << (8 * k);
        at += width;
        return v;
    }
    bytes take(std::size_t n)
    {
        if (data.size() - at < n) {
            good = false;
            at = data.size();
            return {};
        }
        bytes out(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
        return out;
    }
    std::string text(form f, std::size_t width)
    {
        if (f == form::win1251) return win1251_to_utf8(take(width));
        const bytes raw = take(number(2));
        return std::string(reinterpret_cast<const char*>(raw.data()), raw.size());
    }
    bool done() const { return good && at == data.size(); }
};

void put(bytes& out, std::uint32_t v, std::size_t width)
{
    for (std::size_t k = 0; k < width; ++k) out.push_back(std::byte(static_cast<std::uint8_t>(v >> (8 * k))));
}

void put_text(bytes& out, form f, const std::string& text, std::size_t width)
{
    if (f == form::win1251) {
        bytes w = utf8_to_win1251(text);
        w.resize(width);
        out.insert(out.end(), w.begin(), w.end());
        return;
    }
    put(out, static_cast<std::uint32_t>(text.size()), 2);
    for (char c : text) out.push_back(std::byte(static_cast<unsigned char>(c)));
}

// PLU number and record; `extended` for the records of frames 55 and 57.
std::pair<std::uint16_t, product_store::plu> read_plu(cursor& in, form f, bool extended)
{
    product_store::plu p;
    const auto number = static_cast<std::uint16_t>(in.number(2));
    p.item_code = in.number(4);
    p.name_first = in.text(f, 28);
    p.name_second = in.text(f, 28);
    p.price = in.number(extended ? 3 : 4);
    if (extended) p.formats = static_cast<std::uint8_t>(in.number(1));
    p.shelf_life = static_cast<std::uint16_t>(in.number(2));
    p.tare = static_cast<std::uint16_t>(in.number(2));
    p.group_or_date = static_cast<std::uint16_t>(in.number(2));
    p.message_number = static_cast<std::uint16_t>(in.number(2));
    const auto goods = static_cast<std::uint8_t>(in.number(1));
    if (extended) p.goods_type = goods;
    p.rostest = in.text(f, 4);
    if (extended) p.shelf_life_date = in.take(3);
    return {number, p};
}

bytes write_plu(const product_store::plu& p, form f, bool extended)
{
    bytes out;
    put(out, p.item_code, 4);
    put_text(out, f, p.name_first, 28);
    put_text(out, f, p.name_second, 28);
    put(out, p.price, extended ? 3 : 4);
    if (extended) put(out, p.formats, 1);
    put(out, p.shelf_life, 2);
    put(out, p.tare, 2);
    put(out, p.group_or_date, 2);
    put(out, p.message_number, 2);
    put(out, extended ? p.goods_type : 0, 1);
    put_text(out, f, p.rostest, 4);
    if (extended) out.insert(out.end(), p.shelf_life_date.begin(), p.shelf_life_date.end());
    return out;
}

// Reads `count` PLU records (all that follow when count is 0) up to the
// payload's end; false when the payload is not exactly that.
bool read_plus(cursor& in, form f, bool extended, std::size_t count, std::map<std::uint16_t, product_store::plu>& out)
{
    for (std::size_t k = 0; (count == 0 ? in.at < in.data.size() : k < count) && in.good; ++k) {
        auto [number, record] = read_plu(in, f, extended);
        if (number == 0) return false;
        out[number] = record;
    }
    return in.done() && !out.empty();
}

bool read_messages(cursor& in, form f, std::size_t count, std::map<product_store::message_key, std::string>& out)
{
    for (std::size_t k = 0; (count == 0 ? in.at < in.data.size() : k < count) && in.good; ++k) {
        const auto number = static_cast<std::uint16_t>(in.number(2));
        const auto line = static_cast<std::uint8_t>(in.number(1));
        std::string text = in.text(f, 50);
        if (number == 0 || line == 0) return false;
        out[{number, line}] = std::move(text);
    }
    return in.done() && !out.empty();
}

handler plu_setter(std::shared_ptr<product_store> store, form f, bool extended, bool counted)
{
    return [=](const request& r) {
        const bytes payload = after_password(r);
        cursor in{payload};
        const std::size_t count = counted ? in.number(1) : 0;
        std::map<std::uint16_t, product_store::plu> records;
        if ((counted && count == 0) || !read_plus(in, f, extended, count, records))
            return reply(reply_frame(r.command, invalid_value));
        store->store(records);
        return reply(reply_frame(r.command, ok));
    };
}

handler plu_getter(std::shared_ptr<product_store> store, form f, bool extended)
{
    return [=](const request& r) {
        const bytes payload = after_password(r);
        cursor in{payload};
        const auto number = static_cast<std::uint16_t>(in.number(2));
        if (!in.done() || number == 0) return reply(reply_frame(r.command, invalid_plu_number));
        const auto record = store->find_plu(number);
        if (!record) return reply(reply_frame(r.command, empty_plu));
        return reply(reply_frame(r.command, ok, write_plu(*record, f, extended)));
    };
}

handler message_setter(std::shared_ptr<product_store> store, form f, bool counted)
{
    return [=](const request& r) {
        const bytes payload = after_password(r);
        cursor in{payload};
        const std::size_t count = counted ? in.number(1) : 0;
        std::map<product_store::message_key, std::string> lines;
        if ((counted && count == 0) || !read_messages(in, f, count, lines))
            return reply(reply_frame(r.command, invalid_value));
        store->store(lines);
        return reply(reply_frame(r.command, ok));
    };
}

handler message_getter(std::shared_ptr<product_store> store, form f)
{
    return [=](const request& r) {
        const bytes payload = after_password(r);
        cursor in{payload};
        const auto number = static_cast<std::uint16_t>(in.number(2));
        const auto line = static_cast<std::uint8_t>(in.number(1));
        const auto text = in.done() ? store->find_message(number, line) : std::nullopt;
        if (!text) return reply(reply_frame(r.command, invalid_value));
        bytes data;
        put_text(data, f, *text, 50);
        return reply(reply_frame(r.command, ok, data));
    };
}

// The code points of the bytes 80-BF in Windows-1251; 98, which the
// table leaves free, stands for U+0098 so that every byte comes back.
constexpr std::uint16_t upper_half[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

std::uint32_t code_point_of(std::uint8_t b)
{
    if (b < 0x80) return b;
    if (b >= 0xC0) return 0x410 + (b - 0xC0);
    return upper_half[b - 0x80];
}

// Encodes one code point (below U+10000) as UTF-8.
void append_utf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string win1251_to_utf8(const bytes& text)
{
    std::string out;
    for (std::byte b : text)
        if (b != std::byte{0}) append_utf8(out, code_point_of(std::to_integer<std::uint8_t>(b)));
    return out;
}

bytes utf8_to_win1251(const std::string& text)
{
    bytes out;
    for (std::size_t k = 0; k < text.size();) {
        const auto c = static_cast<unsigned char>(text[k]);
        // The length of the sequence from its first byte; a stray
        // continuation byte counts as one.
        const std::size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::uint32_t cp = n == 1 ? c : c & (0x7Fu >> n);
        for (std::size_t j = 1; j < n && k + j < text.size(); ++j)
            cp = cp << 6 | (static_cast<unsigned char>(text[k + j]) & 0x3Fu);
        std::uint8_t b = '?';
        for (unsigned v = 1; v < 0x100; ++v)
            if (code_point_of(static_cast<std::uint8_t>(v)) == cp) {
                b = static_cast<std::uint8_t>(v);
                break;
            }
        out.push_back(std::byte{b});
        k += n;
    }
    return out;
}

std::shared_ptr<product_store> add_product_replies(sim_scale& sim)
{
    auto store = std::make_shared<product_store>();
    // 8C: the switch as one byte; 8D: set it (0 or 1).
    sim.on({0x8C}, [store](const request& r) {
        return reply(reply_frame(r.command, ok, to_bytes({store->use_group_code()})));
    });
    sim.on({0x8D}, [store](const request& r) {
        const bytes payload = after_password(r);
        if (payload.size() != 1 || std::to_integer<int>(payload[0]) > 1)
            return reply(reply_frame(r.command, invalid_value));
        store->set_use_group_code(std::to_integer<std::uint8_t>(payload[0]));
        return reply(reply_frame(r.command, ok));
    });
    sim.on({0x50}, plu_setter(store, form::win1251, false, false));
    sim.on({0xFF, 0x50}, plu_setter(store, form::utf8, false, false));
    sim.on({0x57}, plu_setter(store, form::win1251, true, false));
    sim.on({0xFF, 0x57}, plu_setter(store, form::utf8, true, false));
    sim.on({0x55}, plu_setter(store, form::win1251, true, true));  // count + records
    sim.on({0x51}, plu_getter(store, form::win1251, false));
    sim.on({0xFF, 0x51}, plu_getter(store, form::utf8, false));
    sim.on({0x58}, plu_getter(store, form::win1251, true));
    sim.on({0xFF, 0x58}, plu_getter(store, form::utf8, true));
    sim.on({0x52}, message_setter(store, form::win1251, false));
    sim.on({0xFF, 0x52}, message_setter(store, form::utf8, false));
    sim.on({0x59}, message_setter(store, form::win1251, true));  // count + lines
    sim.on({0x53}, message_getter(store, form::win1251));
    sim.on({0xFF, 0x53}, message_getter(store, form::utf8));
    return store;
}

}  // namespace qv_sim
