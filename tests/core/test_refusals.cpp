// A refused input names its field in one log line: the parameter's number and name, the value and what is allowed, with
// nothing sent.
#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../commands/files/files_test_util.h"
#include "send_test_util.h"

namespace {

using Refusal = send_test::device_test_base;
using Sweep = files_test::files_fixture;

// The warning and error lines logged after `mark` that hold `tag` (the quoted "(number) name" of a parameter), without
// their heads.
std::vector<std::string> lines_naming(std::size_t mark, const std::string& tag)
{
    const std::string all = Logger::get_memory_log_data();
    std::vector<std::string> out;
    std::istringstream in(all.size() < mark ? std::string() : all.substr(mark));
    for (std::string line; std::getline(in, line);) {
        const bool loud = line.find("][warning][") != std::string::npos || line.find("][error][") != std::string::npos;
        const std::size_t head = line.find("]: ");
        if (loud && head != std::string::npos && line.find(tag) != std::string::npos)
            out.push_back(line.substr(head + 3));
    }
    return out;
}

}  // namespace

// A value out of range (a one-byte setter at both edges, and inputs checked by hand), a text of the wrong length or
// size, an absent input and one of another kind each leave one line that names the parameter, and nothing reaches the
// scale.
TEST_F(Refusal, NamesTheParameterTheValueAndWhatIsAllowed)
{
    const auto int_of = [](ParamType p, int v) {
        return [p, v](device& d) { d.set_int_param(p, d.input_params, v, false); };
    };
    const int invalid = rc(ErrorType::InvalidParameterValue);
    const struct {
        CommandType command;
        std::function<void(device&)> given;
        int code;
        std::string line;
    } cases[] = {
        {CommandType::set_logging, int_of(ParamType::LoggingType, 300), invalid,
         "refused int param \"(221) LoggingType\": 300; allowed: 0 to 255"},
        {CommandType::set_logging, int_of(ParamType::LoggingType, -1), invalid,
         "refused int param \"(221) LoggingType\": -1; allowed: 0 to 255"},
        {CommandType::set_date_format, int_of(ParamType::DateFormat, 3), invalid,
         "refused int param \"(29) DateFormat\": 3; allowed: 0 to 2"},
        {CommandType::get_picture_size, int_of(ParamType::PictureNumber, -1), invalid,
         "refused int param \"(142) PictureNumber\": -1; allowed: 0 to 10"},
        {CommandType::set_param_prefix_barcode, int_of(ParamType::PrefixBC, 3), invalid,
         "refused int param \"(200) PrefixBC\": 3; allowed: 0 to 2"},
        {CommandType::edit_password,
         [](device& d) { d.set_string_param(ParamType::NewPassword, d.input_params, L"123", false); }, invalid,
         "refused string param \"(206) NewPassword\": 3 characters; allowed: exactly 4 characters"},
        // A password's character outside the code table: -1000, its position named, the character never.
        {CommandType::edit_password,
         [](device& d) { d.set_string_param(ParamType::NewPassword, d.input_params, L"12\u04044", false); },
         rc(ErrorType::UnexpectedDriverError),
         "refused string param \"(206) NewPassword\": character at position 3; allowed: characters of the Windows-1251 "
         "table"},
        {CommandType::get_plu_count, [](device& d) { d.ip_address_list.front().password = "\xD0\x84" "234"; },
         rc(ErrorType::UnexpectedDriverError),
         "refused string param \"(3) AdminPassword\": character at position 1, scale 127.0.0.2; allowed: characters of "
         "the Windows-1251 table"},
        {CommandType::set_scenario,
         [](device& d) {
             d.set_bytes_array_param(ParamType::Scenarios, d.input_params, send_test::bytes(256, std::byte{1}), false);
         },
         invalid, "refused bytes array param \"(220) Scenarios\": 256 bytes; allowed: at most 255 bytes"},
        {CommandType::confirm_item_after_prediction, [](device&) {}, rc(ErrorType::RequiredParameterMissing),
         "get int param \"(182) ItemCode\": not found!"},
        {CommandType::set_date_format,
         [](device& d) { d.set_string_param(ParamType::DateFormat, d.input_params, L"1", false); },
         rc(ErrorType::WrongParameterType), "get int param \"(29) DateFormat\": wrong type! As string in driver"},
    };
    qv_sim::sim_scale sim;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        d.ip_address_list.clear();
        d.input_params.clear();
        send_test::add_scale(d, sim, 1);
        c.given(d);
        const std::size_t mark = Logger::get_memory_log_data().size();
        EXPECT_EQ(d.execute_command(static_cast<int>(c.command)), c.code);
        const std::size_t quote = c.line.find('"');
        EXPECT_EQ(lines_naming(mark, c.line.substr(quote, c.line.find('"', quote + 1) + 1 - quote)),
                  std::vector<std::string>{c.line});
        EXPECT_EQ(sim.request_count(), 0U);
    }
}

// Each refusal made outside the field tables, before anything is sent: -104, exactly one "refused ..." warning (the
// input the host can change; for a label document too long, the document), and no request but the extended PLU
// record's switch question, answered by each scale with the value of `switches`.
TEST_F(Sweep, EveryRefusalBeforeSendingIsLogged)
{
    using P = ParamType;
    using given = std::function<void(device&)>;
    const auto i = [](P p, int v) -> given { return [p, v](device& d) { d.set_int_param(p, d.input_params, v); }; };
    const auto b = [](P p, std::string v) -> given {
        return [p, v](device& d) { d.set_bytes_array_param(p, d.input_params, device_test::bytes_of(v)); };
    };
    const auto t = [](P p, std::wstring v) -> given {
        return [p, v](device& d) { d.set_string_param(p, d.input_params, v); };
    };
    // clang-format off
    // The extended record up to its group-code field.
    const auto plu = [&](bool utf8) -> std::vector<given> {
        return {i(P::PLUNumber, 1), i(P::ItemCode, 1), utf8 ? b(P::NameFirst, "A") : t(P::NameFirst, L"A"),
                i(P::Price, 1), i(P::BCFormat, 6), i(P::LabelFormat, 3), i(P::ShelfLife, 1), i(P::Tare, 0)};
    };
    const auto with = [](std::vector<given> all, std::vector<given> more) {
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const std::string date_line = "refused bytes array param \"(188) ManufacturedDate\": ";
    const std::string date_allowed = "; allowed: 3 bytes: day 1 to 31, month 1 to 12, year 0 to 99";
    const std::string absent_int = "absent; allowed: a value of kind int";
    const struct {
        CommandType command;
        std::vector<int> switches;
        std::vector<given> inputs;
        std::string line;
    } cases[] = {
        {CommandType::set_plu_data_extended, {1}, plu(false), date_line + "absent" + date_allowed},
        {CommandType::set_plu_data_extended_utf8, {1}, with(plu(true), {b(P::ManufacturedDate, "\x05\x0C\x1A\x05")}),
         date_line + "4 bytes" + date_allowed},
        {CommandType::add_plu_to_block, {1}, with(plu(false), {b(P::ManufacturedDate, std::string("\x20\x0D\x00", 3))}),
         date_line + "20 0D 00" + date_allowed},
        {CommandType::set_plu_data_extended, {2}, plu(false),
         "refused int param \"(201) UseGroupCodeAsProp\": 2 on the scale; allowed: 0 (GroupCode) or 1 "
         "(ManufacturedDate)"},
        {CommandType::set_plu_data_extended, {0, 1}, plu(false),
         "refused int param \"(201) UseGroupCodeAsProp\": 127.0.0.71: 0, 127.0.0.72: 1; allowed: one value on every "
         "scale of the list"},
        {CommandType::set_plu_data_utf8, {},
         {i(P::PLUNumber, 1), i(P::ItemCode, 1), b(P::NameFirst, std::string(65536, 'a'))},
         "refused bytes array param \"(184) NameFirst\": 65536 bytes; allowed: at most 65535 bytes"},
        {CommandType::set_barcode_structure, {}, {}, "refused int param \"(191) BCFormat\": " + absent_int},
        {CommandType::get_name_shop_utf8, {}, {}, "refused int param \"(180) StringNumber\": " + absent_int},
        {CommandType::get_params_label, {}, {}, "refused int param \"(51) LabelFormat\": " + absent_int},
        {CommandType::get_picture_size, {}, {}, "refused int param \"(142) PictureNumber\": " + absent_int},
        {CommandType::print_product_label, {}, {},
         "refused int param \"(182) ItemCode\": absent, as are PLUNumber and ButtonNumber; allowed: a value of kind "
         "int in one of the three"},
        {CommandType::clear_db_products_and_messages, {}, {i(P::TypeDBClearData, 3), i(P::ItemCode, 10000000)},
         "refused int param \"(182) ItemCode\": 10000000; allowed: 0 to 9999999"},
        {CommandType::send_file, {}, {i(P::FileType, 9), b(P::FilePath, "codes.csv"), i(P::ItemCode, 0)},
         "refused int param \"(182) ItemCode\": 0; allowed: 1 to 9999999"},
        {CommandType::get_file, {}, {b(P::FolderForSaveFile, "in"), i(P::FileType, 0)},
         "refused bytes array param \"(211) FileOnScale\": absent; allowed: a value of kind bytes array"},
        {CommandType::get_file, {}, {b(P::FolderForSaveFile, "in"), i(P::FileType, 13)},
         "refused int param \"(328)\": " + absent_int},
        {CommandType::change_driver_lang, {}, {t(P::Localization, L"fra")},
         "refused string param \"(296) Localization\": \"fra\"; allowed: rus, eng, zho, kaz, kir, arm, uzb, aze or "
         "geo"},
        {CommandType::change_driver_root_folder, {}, {b(P::DriverRootFolder, "var/lib")},
         "refused bytes array param \"(209) DriverRootFolder\": \"var/lib\"; allowed: an absolute folder"},
        {CommandType::send_json_label_data, {},
         {[](device& d) {
              TextItem long_type;
              long_type.type.assign(70000, 'a');
              d.json_label_data.textItems.push_back(long_type);
          },
          i(P::LabelFormat, 2), i(P::LabelWidth, 58), i(P::LabelLength, 30)},
         "refused label document: 70266 bytes; allowed: at most 65535 bytes"},
    };
    // clang-format on
    write("codes.csv", device_test::bytes_of("4600001;1\n"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::unique_ptr<qv_sim::sim_scale>> sims;
        device fresh;
        fresh.timeout_seconds = 1;
        fresh.driver_root_folder = device_test::bytes_of(dir);
        for (std::size_t k = 0; k < std::max<std::size_t>(c.switches.size(), 1); ++k) {
            sims.push_back(std::make_unique<qv_sim::sim_scale>("127.0.0." + std::to_string(71 + k)));
            if (k < c.switches.size()) sims.back()->on({0x8C}, 0, {c.switches[k]});
            send_test::add_scale(fresh, *sims.back(), 1);
        }
        for (const given& g : c.inputs) g(fresh);
        const std::size_t mark = Logger::get_memory_log_data().size();
        EXPECT_EQ(fresh.execute_command(static_cast<int>(c.command)), rc(ErrorType::InvalidParameterValue));
        EXPECT_EQ(lines_naming(mark, "refused "), std::vector<std::string>{c.line});
        for (const auto& sim : sims) {
            EXPECT_EQ(sim->request_count(), c.switches.empty() ? 0U : 1U);
            for (const auto& r : sim->requests()) EXPECT_EQ(r.command, send_test::B({0x8C}));
        }
    }
}
