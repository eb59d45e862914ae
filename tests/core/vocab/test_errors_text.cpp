// Result texts: the key set of every language, the texts callers rely on word
// for word, and the fallback for codes without a text.

#include <gtest/gtest.h>
#include <utf8.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/vocab/errors_text.h"

namespace {

struct language {
    const char* name;
    std::shared_ptr<const errors_text> obj;
    const std::map<ErrorType, std::string>* texts;
    const char* fallback;  // words before "(<code>)" for a code without a text
    std::set<int> missing;  // codes of the full set that have no text here
    std::map<int, std::string> quoted;  // texts fixed word for word
};

template <class T>
language lang(const char* name, const char* fallback, std::set<int> missing, std::map<int, std::string> quoted)
{
    const auto obj = std::make_shared<const T>();
    return {name, obj, &obj->texts, fallback, std::move(missing), std::move(quoted)};
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
                              {{0, "Всё прошло успешно."},
                               {-1, "Нет связи."},
                               {-1000, "Ошибка драйвера."},
                               {-9, "Выполнение команды остановлено."}}),
        lang<errors_text_zho>("zho", "未知错误 (", {-9},
                              {{0, "命令成功完成"}, {-1, "未连接"}, {-1000, "意外的驱动错误"}}),
        lang<errors_text_kaz>("kaz", "Белгісіз қате (", {-9},
                              {{0, "Пәрмен сәтті аяқталды."}, {-1, "Байланыс жоқ."}, {-1000, "Драйвер қатесі."}}),
        lang<errors_text_kir>(
            "kir", "Белгисиз ката (", {-9},
            {{0, "Буйрук ийгиликтүү аяктады."}, {-1, "Байланыш жок."}, {-1000, "Айдоочунун катасы."}}),
        lang<errors_text_arm>("arm", "Անհայտ սխալ (", {-9, -5, -4, -3},
                              {{0, "Ամեն ինչ հաջողվեց."}, {-1, "Կապ չկա."}, {-1000, "Սարքավարի սխալ."}}),
        lang<errors_text_uzb>("uzb", "Noma'lum xato (", {},
                              {{0, "Barchasi muvaffaqiyatli o'tdi."},
                               {-1, "Bog'lanish yo'q."},
                               {-1000, "Driverda xato."},
                               {-9, "Buyruq bajarish to'xtatildi."}}),
        lang<errors_text_aze>("aze", "Naməlum səhv (", {},
                              {{0, "Hər şey uğurla keçdi."},
                               {-1, "Bağlantı yoxdur."},
                               {-1000, "Sürücü xətası."},
                               {-9, "Əmr icrası dayandırıldı."}}),
        lang<errors_text_geo>("geo", "უცნობი შეცდომა (", {},
                              {{0, "ყველაფრის წარმატებით გადასახადი."},
                               {-1, "შეერთება არ არის."},
                               {-1000, "დრაივერის შეცდომა."},
                               {-9, "ბრძანების შესრულება შეჩერდება."}}),
    };
    return all;
}

}  // namespace

TEST(ErrorsText, KeySetsQuotedTextsAndFallbackOfEveryLanguage)
{
    std::set<int> codes{-1000, 0, 110, 120, 122, 124, 128, 129, 130, 136, 140, 161, 209};
    for (int c = -114; c <= -101; ++c) codes.insert(c);
    for (int c = -9; c <= -1; ++c) codes.insert(c);
    for (int c = 171; c <= 206; ++c) codes.insert(c);
    ASSERT_EQ(codes.size(), 72u);
    for (const auto& l : languages()) {
        SCOPED_TRACE(l.name);
        const auto text = [&](int code) { return l.obj->get_text(static_cast<ErrorType>(code)); };
        for (const auto& [code, want] : l.quoted) EXPECT_EQ(text(code), want) << code;
        // The folder keeps its name; only English says Telmira.
        EXPECT_NE(text(182).find("QuorvixScale"), std::string::npos);
        for (int code : {173, 180, 185})
            EXPECT_EQ(text(code).find("Telmira") != std::string::npos, std::string(l.name) == "eng") << code;
        std::set<int> without_text = l.missing;
        without_text.insert({1, 107, 255, -10, -1001});
        for (int code : without_text) EXPECT_EQ(text(code), l.fallback + std::to_string(code) + ")");
        // Checked after the lookups: asking never adds a text.
        std::set<int> keys;
        for (const auto& [code, t] : *l.texts) {
            keys.insert(static_cast<int>(code));
            EXPECT_TRUE(!t.empty() && utf8::is_valid(t.begin(), t.end())) << static_cast<int>(code);
        }
        std::set<int> expected;
        for (int c : codes)
            if (!l.missing.count(c)) expected.insert(c);
        EXPECT_EQ(keys, expected);
    }
}
