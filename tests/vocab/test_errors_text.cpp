// Result texts: the key set of every language, the texts callers rely on word
// for word, the fallback for codes without a text, and that lookups never
// change a text object.

#include <gtest/gtest.h>
#include <utf8.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/errors_text.h"

namespace {

// Every result code that has a text in at least one language.
std::set<int> all_codes()
{
    std::set<int> codes{-1000, 0, 110, 120, 122, 124, 128, 129, 130, 136, 140, 161, 209};
    for (int c = -114; c <= -101; ++c) codes.insert(c);
    for (int c = -9; c <= -1; ++c) codes.insert(c);
    for (int c = 171; c <= 206; ++c) codes.insert(c);
    return codes;
}

struct language {
    const char* name;
    std::function<std::shared_ptr<errors_text>()> make;
    std::function<std::map<ErrorType, std::string>(const errors_text&)> texts;
    const char* fallback;
    std::set<int> missing;
    std::map<int, std::string> quoted;
};

template <class T>
language lang(const char* name, const char* fallback, std::set<int> missing,
              std::map<int, std::string> quoted)
{
    return {name,
            [] { return std::make_shared<T>(); },
            [](const errors_text& t) { return dynamic_cast<const T&>(t).texts; },
            fallback, std::move(missing), std::move(quoted)};
}

const std::vector<language>& languages()
{
    static const std::vector<language> all{
        lang<errors_text_eng>("eng", "Unknown error (", {-9},
            {{0, "Command completed successful."},
             {-1, "No connection."},
             {-1000, "Unexpected driver error."},
             {110, "Invalid lines count for parameter \"Store Name\"."},
             {124, "Invalid parameter value."},
             {-104, "Invalid parameter value."},
             {182, "Backup does not contain QuorvixScale folder."},
             {209, "Cannot set date or time when automatic time synchronization is enabled"}}),
        lang<errors_text_rus>("rus", "Неизвестная ошибка (", {},
            {{0, "Всё прошло успешно."}, {-1, "Нет связи."}, {-1000, "Ошибка драйвера."},
             {-9, "Выполнение команды остановлено."}}),
        lang<errors_text_zho>("zho", "未知错误 (", {-9},
            {{0, "命令成功完成"}, {-1, "未连接"}, {-1000, "意外的驱动错误"}}),
        lang<errors_text_kaz>("kaz", "Белгісіз қате (", {-9},
            {{0, "Пәрмен сәтті аяқталды."}, {-1, "Байланыс жоқ."}, {-1000, "Драйвер қатесі."}}),
        lang<errors_text_kir>("kir", "Белгисиз ката (", {-9},
            {{0, "Буйрук ийгиликтүү аяктады."}, {-1, "Байланыш жок."},
             {-1000, "Айдоочунун катасы."}}),
        lang<errors_text_arm>("arm", "Անհայտ սխալ (", {-9, -5, -4, -3},
            {{0, "Ամեն ինչ հաջողվեց."}, {-1, "Կապ չկա."}, {-1000, "Սարքավարի սխալ."}}),
        lang<errors_text_uzb>("uzb", "Noma'lum xato (", {},
            {{0, "Barchasi muvaffaqiyatli o'tdi."}, {-1, "Bog'lanish yo'q."},
             {-1000, "Driverda xato."}, {-9, "Buyruq bajarish to'xtatildi."}}),
        lang<errors_text_aze>("aze", "Naməlum səhv (", {},
            {{0, "Hər şey uğurla keçdi."}, {-1, "Bağlantı yoxdur."}, {-1000, "Sürücü xətası."},
             {-9, "Əmr icrası dayandırıldı."}}),
        lang<errors_text_geo>("geo", "უცნობი შეცდომა (", {},
            {{0, "ყველაფრის წარმატებით გადასახადი."}, {-1, "შეერთება არ არის."},
             {-1000, "დრაივერის შეცდომა."}, {-9, "ბრძანების შესრულება შეჩერდება."}}),
    };
    return all;
}

std::string text(const errors_text& t, int code) { return t.get_text(static_cast<ErrorType>(code)); }

}  // namespace

TEST(ErrorsText, KeySetOfEveryLanguageIsExact)
{
    const std::set<int> codes = all_codes();
    ASSERT_EQ(codes.size(), 72u);
    for (const auto& l : languages()) {
        SCOPED_TRACE(l.name);
        const auto obj = l.make();
        std::set<int> expected;
        for (int c : codes)
            if (!l.missing.count(c)) expected.insert(c);
        std::set<int> keys;
        for (const auto& [code, t] : l.texts(*obj)) {
            keys.insert(static_cast<int>(code));
            EXPECT_FALSE(t.empty()) << static_cast<int>(code);
            EXPECT_TRUE(utf8::is_valid(t.begin(), t.end())) << static_cast<int>(code);
        }
        EXPECT_EQ(keys, expected);
        EXPECT_EQ(keys.size(), 72 - l.missing.size());
    }
}

TEST(ErrorsText, QuotedTextsAndNamesAreExact)
{
    for (const auto& l : languages()) {
        SCOPED_TRACE(l.name);
        const auto obj = l.make();
        for (const auto& [code, expected] : l.quoted)
            EXPECT_EQ(text(*obj, code), expected) << code;
        // The folder keeps its name; only English says Telmira.
        EXPECT_NE(text(*obj, 182).find("QuorvixScale"), std::string::npos);
        for (int code : {173, 180, 185})
            EXPECT_EQ(text(*obj, code).find("Telmira") != std::string::npos,
                      std::string(l.name) == "eng") << code;
    }
}

TEST(ErrorsText, FallbackForCodesWithoutTextAndNoGrowth)
{
    for (const auto& l : languages()) {
        SCOPED_TRACE(l.name);
        const auto obj = l.make();
        const auto before = l.texts(*obj);
        std::set<int> without_text = l.missing;
        without_text.insert({1, 107, 255, -10, -1001});
        for (int code : without_text) {
            const std::string expected = l.fallback + std::to_string(code) + ")";
            EXPECT_EQ(text(*obj, code), expected);
            EXPECT_EQ(text(*obj, code), expected);  // asked twice: same answer
        }
        EXPECT_EQ(l.texts(*obj), before);
    }
}
