#pragma once
// Result-code texts in the nine languages of the driver.
//
// A text object is filled once by its constructor and never changes
// afterwards, so any number of threads may call get_text on it at once
// without a lock. Whoever swaps the current object for another language must
// let readers keep their own shared ownership of the old one until they are
// done (the device does this; the classes themselves take no lock).

#include <cstddef>
#include <map>
#include <string>
#include <utility>

#include "core/vocab/types.h"

class errors_text {
public:
    virtual ~errors_text() = default;
    // The UTF-8 text of `code`; for a code without a text, the language's
    // fallback words, the code in decimal and ")". Never changes the object.
    virtual std::string get_text(ErrorType code) const = 0;

protected:
    using table = std::map<ErrorType, std::string>;
    // One (code, UTF-8 text) pair of a language's fixed list.
    using entry = std::pair<int, const char*>;

    static table make_table(const entry* first, std::size_t count);
    // Looks `code` up without ever inserting it.
    static std::string lookup(const table& texts, ErrorType code, const char* fallback_words);
};

// Each language class holds in `texts` exactly the codes that have a text in
// that language; every other code gets the language's fallback.

// English: 71 codes, all but -9.
class errors_text_eng final : public errors_text {
public:
    errors_text_eng();
    ~errors_text_eng() override;
    std::string get_text(ErrorType code) const override;

    const std::map<ErrorType, std::string> texts;
};

// Russian: all 72 codes.
class errors_text_rus final : public errors_text {
public:
    errors_text_rus();
    ~errors_text_rus() override;
    std::string get_text(ErrorType code) const override;

    const std::map<ErrorType, std::string> texts;
};

// Chinese: 71 codes, all but -9.
class errors_text_zho final : public errors_text {
public:
    errors_text_zho();
    ~errors_text_zho() override;
    std::string get_text(ErrorType code) const override;

    const std::map<ErrorType, std::string> texts;
};

// Kazakh: 71 codes, all but -9.
class errors_text_kaz final : public errors_text {
public:
    errors_text_kaz();
    ~errors_text_kaz() override;
    std::string get_text(ErrorType code) const override;

    const std::map<ErrorType, std::string> texts;
};

// Kyrgyz: 71 codes, all but -9.
class errors_text_kir final : public errors_text {
public:
    errors_text_kir();
    ~errors_text_kir() override;
    std::string get_text(ErrorType code) const override;

    const std::map<ErrorType, std::string> texts;
};

// Armenian: 68 codes, all but -9, -5, -4 and -3.
class errors_text_arm final : public errors_text {
public:
    errors_text_arm();
    ~errors_text_arm() override;
    std::string get_text(ErrorType code) const override;

    const std::map<ErrorType, std::string> texts;
};

// Uzbek: all 72 codes.
class errors_text_uzb final : public errors_text {
public:
    errors_text_uzb();
    ~errors_text_uzb() override;
    std::string get_text(ErrorType code) const override;

    const std::map<ErrorType, std::string> texts;
};

// Azerbaijani: all 72 codes.
class errors_text_aze final : public errors_text {
public:
    errors_text_aze();
    ~errors_text_aze() override;
    std::string get_text(ErrorType code) const override;

    const std::map<ErrorType, std::string> texts;
};

// Georgian: all 72 codes.
class errors_text_geo final : public errors_text {
public:
    errors_text_geo();
    ~errors_text_geo() override;
    std::string get_text(ErrorType code) const override;

    const std::map<ErrorType, std::string> texts;
};
