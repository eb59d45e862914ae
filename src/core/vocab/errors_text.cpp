#include "core/vocab/errors_text.h"

errors_text::table errors_text::make_table(const entry* first, std::size_t count)
{
    table texts;
    for (std::size_t i = 0; i < count; ++i) texts.emplace(static_cast<ErrorType>(first[i].first), first[i].second);
    return texts;
}

std::string errors_text::lookup(const table& texts, ErrorType code, const char* fallback_words)
{
    // find, never operator[]: a lookup must not add the missing code.
    const auto found = texts.find(code);
    if (found != texts.end()) return found->second;
    return fallback_words + std::to_string(static_cast<int>(code)) + ")";
}
