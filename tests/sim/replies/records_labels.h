#pragma once
// What a simulated scale keeps of its label records: per label format the
// basic and extended layouts, fonts, alignments and DataMatrix values; the
// shop name and user text lines in both text forms; the available fonts and
// the barcode format. Setters store what they are sent, getters answer it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sim_scale.h"

namespace qv_sim {

class label_records {
public:
    static constexpr std::size_t label_formats = 15;  // 0 to 14
    static constexpr std::size_t first_styled_format = 10;  // fonts and alignments are settable from here
    static constexpr std::size_t basic_size = 54;
    static constexpr std::size_t extended_size = 40;
    static constexpr std::size_t styles_size = 37;
    static constexpr std::size_t datamatrix_size = 4;
    static constexpr std::size_t shop_name_width = 28;
    static constexpr std::size_t user_text_width = 30;

    // Scale results for refused requests.
    static constexpr std::uint8_t bad_shop_line = 110;
    static constexpr std::uint8_t bad_value = 124;

    struct layout {
        bytes basic = bytes(basic_size);
        bytes extended = bytes(extended_size);
        bytes fonts = bytes(styles_size);
        bytes aligns = bytes(styles_size);
        bytes datamatrix = bytes(datamatrix_size);
    };

    struct values {
        std::array<layout, label_formats> layouts;
        std::array<bytes, 5> user_texts;  // Windows-1251 fields of 30 bytes, lines 1 to 5
        std::array<bytes, 2> shop_names;  // Windows-1251 fields of 28 bytes, lines 1 and 2
        std::array<bytes, 10> user_texts_utf8;  // lines 1 to 10
        std::array<bytes, 2> shop_names_utf8;
        std::uint8_t available_fonts = 0x07;
        std::uint8_t barcode_format = 7;
    };

    label_records();

    values get() const { return v_.get(); }
    template <class F>
    void update(F f)
    {
        v_.update(f);
    }

private:
    locked<values> v_;
};

// Installs the replies of the label layout, text and barcode format commands
// on `sim` and returns the records they keep.
std::shared_ptr<label_records> add_label_record_replies(sim_scale& sim);

}  // namespace qv_sim
