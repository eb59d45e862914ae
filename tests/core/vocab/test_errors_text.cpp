// Result texts: the key set, success text and fallback of every language.
#include <gtest/gtest.h>
#include <utf8.h>

#include <set>
#include <string>

#include "core/vocab/errors_text.h"

namespace {

template <class T>
void check(const std::string& fallback, const std::string& success, const std::set<int>& missing)
{
    SCOPED_TRACE(success);
    const T lang;
    std::set<int> expected{-1000, 0, 110, 120, 122, 124, 128, 129, 130, 136, 140, 161, 209}, keys;
    for (int c : {-114, -9, 171})
        for (int k = c; k <= (c == -114 ? -101 : c == -9 ? -1 : 206); ++k) expected.insert(k);
    for (int c : missing) expected.erase(c);
    EXPECT_EQ(lang.get_text(ErrorType(0)), success);
    for (int code : {1, -10}) EXPECT_EQ(lang.get_text(ErrorType(code)), fallback + std::to_string(code) + ")");
    for (const auto& [code, t] : lang.texts) {  // after the lookups: asking never adds a text
        keys.insert(int(code));
        EXPECT_TRUE(!t.empty() && utf8::is_valid(t.begin(), t.end())) << int(code);
    }
    EXPECT_EQ(keys, expected);
}

}  // namespace

TEST(ErrorsText, KeySetsSuccessTextAndFallbackOfEveryLanguage)
{
    check<errors_text_eng>("Unknown error (", "Command completed successful.", {-9});
    check<errors_text_rus>("Неизвестная ошибка (", "Всё прошло успешно.", {});
    check<errors_text_zho>("未知错误 (", "命令成功完成", {-9});
    check<errors_text_kaz>("Белгісіз қате (", "Пәрмен сәтті аяқталды.", {-9});
    check<errors_text_kir>("Белгисиз ката (", "Буйрук ийгиликтүү аяктады.", {-9});
    check<errors_text_arm>("Անհայտ սխալ (", "Ամեն ինչ հաջողվեց.", {-9, -5, -4, -3});
    check<errors_text_uzb>("Noma'lum xato (", "Barchasi muvaffaqiyatli o'tdi.", {});
    check<errors_text_aze>("Naməlum səhv (", "Hər şey uğurla keçdi.", {});
    check<errors_text_geo>("უცნობი შეცდომა (", "ყველაფრის წარმატებით გადასახადი.", {});
}
