#include "core/vocab/errors_text.h"

#include <iterator>

namespace {

// Uzbek result texts.
// A text for every result code of the driver, -9 (stopped command) included.
// The product folder name QuorvixScale stays as it is; the recognition camera
// (Telmira in English) is named in Uzbek's own words. Like the English, 209
// ends without a full stop.
// The apostrophe of o', g' and the like is the ASCII one throughout, as in
// the texts for 0, -1, -9 and -1000.
const std::pair<int, const char*> uzb_texts[] = {
    {-1000, "Driverda xato."},
    {-114, "Tanib olish jarayoni davom etmoqda."},
    {-113, "Noto'g'ri fayl."},
    {-112, "Fayl qabul qilindi."},
    {-111, "Guruhli yuborishda xato."},
    {-110, "Funksiya guruh rejimi uchun mo'ljallanmagan."},
    {-109, "IP manzil ro'yxatga allaqachon qo'shilgan."},
    {-108, "Tarozidagi protokol versiyasi eskirgan."},
    {-107, "Tarozida protokolning yangiroq versiyasi bor."},
    {-106, "Guruh kodidan foydalanish parametrining qiymati noto'g'ri."},
    {-105, "Xesh ma'lumotlari noto'g'ri."},
    {-104, "Parametr qiymati noto'g'ri."},
    {-103, "Javob hajmi mos kelmaydi."},
    {-102, "Javobda STX mavjud emas."},
    {-101, "Javob uzunligi noto'g'ri."},
    {-9, "Buyruq bajarish to'xtatildi."},
    {-8, "Parametr turi noto'g'ri."},
    {-7, "Majburiy parametr ko'rsatilmagan."},
    {-6, "Fayl muvaffaqiyatli yuborildi, lekin qayta ishlash natijasi noma'lum."},
    {-5, "Tarozidagi fayl bilan ishlash xato bilan yakunlandi."},
    {-4, "Tarozidagi fayl bilan ishlash muvaffaqiyatli yakunlandi."},
    {-3, "Qurilma vaqtincha javob bermayapti."},
    {-2, "Oldingi buyruqning bajarilishi hali yakunlanmagan."},
    {-1, "Bog'lanish yo'q."},
    {0, "Barchasi muvaffaqiyatli o'tdi."},
    {110, "«Do'kon nomi» parametri uchun qatorlar soni noto'g'ri."},
    {120, "Noma'lum buyruq."},
    {122, "Parol noto'g'ri."},
    {124, "Parametr qiymati noto'g'ri."},
    {128, "PLU raqami noto'g'ri."},
    {129, "Papka mavjud emas."},
    {130, "Mahsulot kodi noto'g'ri."},
    {136, "Rasm raqami noto'g'ri."},
    {140, "PLU bo'sh."},
    {161, "Rasm hajmi ruxsat etilgan chegaradan oshib ketdi."},
    {171, "So'ralgan fayl bo'sh."},
    {172, "Bajarilmoqda."},
    {173, "Tanib olish kamerasi o'chiq."},
    {174, "Zaxira nusxalash muvaffaqiyatsiz tugadi."},
    {175, "Zaxira nusxa fayli yaratilmadi."},
    {176, "Zaxira nusxa yaratish uchun diskda joy yetarli emas."},
    {177, "Ma'lumotlar bazasi versiyasi mos kelmaydi."},
    {178, "Xizmat versiyasi mos kelmaydi."},
    {179, "Ruxsatlar mos kelmaydi."},
    {180, "Tanib olish kamerasi versiyasi mos kelmaydi."},
    {181, "Zaxira nusxada konfiguratsiya fayli yo'q."},
    {182, "Zaxira nusxada QuorvixScale papkasi yo'q."},
    {183, "Zaxira nusxada mahsulotlar ma'lumotlari yo'q."},
    {184, "Zaxira nusxada yorliqlar ma'lumotlari yo'q."},
    {185, "Zaxira nusxada tanib olish kamerasi fayli yo'q."},
    {186, "Zaxira nusxada ssenariylar papkasi yo'q."},
    {187, "Bunday raqamli qadoqlovchi topilmadi."},
    {188, "Qurilma initsializatsiya qilinmagan."},
    {189, "Zaxira nusxalash imkoniyatisiz eski mikrodastur versiyasi."},
    {190, "Tanib olish kamerasida zaxira nusxalash uchun ma'lumot yo'q."},
    {191, "Yorliqning majburiy elementlaridan biri yo'q."},
    {192, "Tanib olish xizmati o'chirilgan."},
    {193, "Tanib olish jarayoni hali boshlanmagan."},
    {194, "Tanib olish jarayoni hali tugamagan."},
    {195, "Yorliq hali qo'shilmagan."},
    {196, "Kategoriya topilmadi."},
    {197, "Mahsulotni qayta bog'lash uchun kategoriya topilmadi."},
    {198, "Shtrix-kod qo'llab-quvvatlanmaydi."},
    {199, "Mahsulotni qayta tayinlash uchun kategoriya topilmadi."},
    {200, "Joriy ssenariyni shifrlab bo'lmaydi."},
    {201, "Ssenariyni shifrlashda xato."},
    {202, "Ssenariy allaqachon shifrlangan."},
    {203, "Diskda bo'sh joy qolmadi."},
    {204, "Vazifa navbatga qo'yildi."},
    {205, "Zaxira nusxada tanib olish statistikasi yo'q."},
    {206, "Chop etish uchun noldan farqli og'irlik talab qilinadi."},
    {209, "Vaqtni avtomatik sinxronlash yoqilganda sana yoki vaqtni o'rnatib bo'lmaydi"},
};

}  // namespace

errors_text_uzb::errors_text_uzb() : texts(make_table(uzb_texts, std::size(uzb_texts))) {}
errors_text_uzb::~errors_text_uzb() = default;

std::string errors_text_uzb::get_text(ErrorType code) const
{
    return lookup(texts, code, "Noma'lum xato (");
}
