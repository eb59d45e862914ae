#include "core/vocab/errors_text.h"

#include <iterator>

namespace {

// Azerbaijani result texts.
// A text for every result code of the driver, -9 (stopped command) included.
// The product folder name QuorvixScale stays as it is; the recognition camera
// (Telmira in English) is named in Azerbaijani's own words. Like the English, 209
// ends without a full stop.
const std::pair<int, const char*> aze_texts[] = {
    {-1000, "Sürücü xətası."},
    {-114, "Tanınma davam edir."},
    {-113, "Yanlış fayl."},
    {-112, "Fayl qəbul edildi."},
    {-111, "Qrup göndərişi xətası."},
    {-110, "Funksiya qrup rejimi üçün nəzərdə tutulmayıb."},
    {-109, "IP ünvanı artıq siyahıya əlavə edilib."},
    {-108, "Tərəzidə protokolun köhnə versiyası var."},
    {-107, "Tərəzidə protokolun daha yeni versiyası var."},
    {-106, "Qrup kodundan istifadə parametrinin dəyəri yanlışdır."},
    {-105, "Heş məlumatları yanlışdır."},
    {-104, "Parametr dəyəri yanlışdır."},
    {-103, "Cavabın ölçüsü uyğun gəlmir."},
    {-102, "Cavabda STX yoxdur."},
    {-101, "Cavabın uzunluğu yanlışdır."},
    {-9, "Əmr icrası dayandırıldı."},
    {-8, "Parametrin tipi yanlışdır."},
    {-7, "Məcburi parametr göstərilməyib."},
    {-6, "Fayl uğurla göndərildi, lakin emal nəticəsi məlum deyil."},
    {-5, "Tərəzidəki faylla iş xəta ilə başa çatdı."},
    {-4, "Tərəzidəki faylla iş uğurla başa çatdı."},
    {-3, "Cihaz müvəqqəti olaraq cavab vermir."},
    {-2, "Əvvəlki əmrin icrası hələ başa çatmayıb."},
    {-1, "Bağlantı yoxdur."},
    {0, "Hər şey uğurla keçdi."},
    {110, "«Mağaza adı» parametri üçün sətirlərin sayı yanlışdır."},
    {120, "Naməlum əmr."},
    {122, "Yanlış parol."},
    {124, "Parametr dəyəri yanlışdır."},
    {128, "Yanlış PLU nömrəsi."},
    {129, "Qovluq mövcud deyil."},
    {130, "Yanlış məhsul kodu."},
    {136, "Yanlış şəkil nömrəsi."},
    {140, "Boş PLU."},
    {161, "Şəklin ölçüsü icazə verilən həddi aşır."},
    {171, "Sorğulanan fayl boşdur."},
    {172, "İcra olunur."},
    {173, "Tanınma kamerası söndürülüb."},
    {174, "Ehtiyat nüsxə yaratmaq alınmadı."},
    {175, "Ehtiyat nüsxə faylı yaradılmayıb."},
    {176, "Ehtiyat nüsxə yaratmaq üçün diskdə kifayət qədər yer yoxdur."},
    {177, "Verilənlər bazasının versiyası uyğun gəlmir."},
    {178, "Xidmətin versiyası uyğun gəlmir."},
    {179, "İcazələr uyğun gəlmir."},
    {180, "Tanınma kamerasının versiyası uyğun gəlmir."},
    {181, "Ehtiyat nüsxədə konfiqurasiya faylı yoxdur."},
    {182, "Ehtiyat nüsxədə QuorvixScale qovluğu yoxdur."},
    {183, "Ehtiyat nüsxədə məhsul məlumatları yoxdur."},
    {184, "Ehtiyat nüsxədə etiket məlumatları yoxdur."},
    {185, "Ehtiyat nüsxədə tanınma kamerasının faylı yoxdur."},
    {186, "Ehtiyat nüsxədə ssenarilər qovluğu yoxdur."},
    {187, "Bu nömrəli qablaşdırıcı tapılmadı."},
    {188, "Cihaz inisializasiya olunmayıb."},
    {189, "Ehtiyat nüsxə imkanı olmayan köhnə mikroproqram versiyası."},
    {190, "Tanınma kamerasında ehtiyat nüsxəsi çıxarılacaq məlumat yoxdur."},
    {191, "Etiketin məcburi elementlərindən biri yoxdur."},
    {192, "Tanınma xidməti söndürülüb."},
    {193, "Tanınma prosesi hələ başlamayıb."},
    {194, "Tanınma prosesi hələ bitməyib."},
    {195, "Etiket hələ əlavə edilməyib."},
    {196, "Kateqoriya tapılmadı."},
    {197, "Məhsulun yenidən bağlanması üçün kateqoriya tapılmadı."},
    {198, "Ştrix-kod dəstəklənmir."},
    {199, "Məhsulun yenidən təyin edilməsi üçün kateqoriya tapılmadı."},
    {200, "Cari ssenarini şifrələmək mümkün deyil."},
    {201, "Ssenarinin şifrələnməsi zamanı xəta."},
    {202, "Ssenari artıq şifrələnib."},
    {203, "Diskdə boş yer qalmayıb."},
    {204, "Tapşırıq növbəyə qoyuldu."},
    {205, "Ehtiyat nüsxədə tanınma statistikası yoxdur."},
    {206, "Çap üçün sıfırdan fərqli çəki tələb olunur."},
    {209, "Avtomatik vaxt sinxronizasiyası aktiv olduqda tarixi və ya vaxtı təyin etmək mümkün deyil"},
};

}  // namespace

errors_text_aze::errors_text_aze() : texts(make_table(aze_texts, std::size(aze_texts))) {}
errors_text_aze::~errors_text_aze() = default;

std::string errors_text_aze::get_text(ErrorType code) const
{
    return lookup(texts, code, "Naməlum səhv (");
}
