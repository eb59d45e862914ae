// Settings commands: each setter's and action's request at the edges of its
// inputs, each getter's reply, and two scales.

#include <string>

#include "../command_table.h"
#include "replies/systems.h"

using namespace command_table;

namespace {

class Settings : public table_test<qv_sim::scale_settings> {
protected:
    Settings() : table_test("127.0.0.13", qv_sim::add_settings_replies) {}
};

TEST_F(Settings, SettersAndActionsSendTheirBytesOrNothing)
{
    const bytes title(65535, std::byte{'T'}), too_long(65536, std::byte{'T'});
    expect_requests({
        // clang-format off
        {"beep (1)", C::beep, {}, 0, unprotected({0x13})},
        {"set_date_format (4) 1", C::set_date_format, {{P::DateFormat, 1}}, 0, frame({0x24}, B({0x01}))},
        {"set_date_format (4) 3", C::set_date_format, {{P::DateFormat, 3}}, -104, {}},
        {"set_date_format (4) -1", C::set_date_format, {{P::DateFormat, -1}}, -104, {}},
        {"set_date_format (4) absent", C::set_date_format, {}, -7, {}},
        {"set_date_format (4) as text", C::set_date_format, {{P::DateFormat, L"1"}}, -8, {}},
        {"edit_password (5) Cyrillic", C::edit_password, {{P::NewPassword, L"\u0416\u0443\u043A1"}}, 0,
         frame({0x16}, B({0xC6, 0xF3, 0xEA, '1'}))},
        {"edit_password (5), 3 characters", C::edit_password, {{P::NewPassword, L"abc"}}, -104, {}},
        {"edit_password (5), 5 characters", C::edit_password, {{P::NewPassword, L"abcde"}}, -104, {}},
        {"edit_password (5) with a line feed", C::edit_password, {{P::NewPassword, L"a\ncd"}}, -1000, {}},
        {"set_logging (73) 255", C::set_logging, {{P::LoggingType, 255}}, 0, frame({0xB7}, B({0xFF}))},
        {"set_logging (73) 256", C::set_logging, {{P::LoggingType, 256}}, -104, {}},
        {"set_logging (73) -1", C::set_logging, {{P::LoggingType, -1}}, -104, {}},
        {"reload_front_application (78)", C::reload_front_application, {}, 0, frame({0xB8})},
        {"set_scale_language (106) 256", C::set_scale_language, {{P::LanguageCode, 256}}, -104, {}},
        {"show_message_on_scale (107) without inputs", C::show_message_on_scale, {}, 0,
         frame({0xFF, 0x05}, B({0, 0, 0, 0, 0}))},
        {"show_message_on_scale (107) 255 s", C::show_message_on_scale, {{P::ScreenMessageDuration, 255}}, 0,
         frame({0xFF, 0x05}, B({0xFF, 0, 0, 0, 0}))},
        {"show_message_on_scale (107) 300 s", C::show_message_on_scale, {{P::ScreenMessageDuration, 300}}, 0,
         frame({0xFF, 0x05}, B({0xFF, 0, 0, 0, 0}))},
        {"show_message_on_scale (107) -5 s", C::show_message_on_scale, {{P::ScreenMessageDuration, -5}}, 0,
         frame({0xFF, 0x05}, B({0xFF, 0, 0, 0, 0}))},
        {"show_message_on_scale (107) title and text", C::show_message_on_scale,
         {{P::ScreenMessageTitle, B({'H', 'i'})}, {P::ScreenMessageText, B({'Y', 0, '!'})}}, 0,
         frame({0xFF, 0x05}, B({0, 2, 0, 'H', 'i', 3, 0, 'Y', 0, '!'}))},
        {"show_message_on_scale (107) title of 65535", C::show_message_on_scale, {{P::ScreenMessageTitle, title}}, 0,
         frame({0xFF, 0x05}, record_test::cat({B({0, 0xFF, 0xFF}), title, B({0, 0})}))},
        {"show_message_on_scale (107) title of 65536", C::show_message_on_scale, {{P::ScreenMessageTitle, too_long}},
         -104, {}},
        {"set_zero (124)", C::set_zero, {}, 0, frame({0x30})},
        {"set_tare (125) without a value", C::set_tare, {}, 0, frame({0x31})},
        {"set_tare (125) 1500", C::set_tare, {{P::Tare, 1500}}, 0, frame({0x31}, B({0xDC, 0x05, 0, 0}))},
        {"set_tare (125) -1", C::set_tare, {{P::Tare, -1}}, 0, frame({0x31}, B({0xFF, 0xFF, 0xFF, 0xFF}))},
        {"set_tare (125) -2", C::set_tare, {{P::Tare, -2}}, 0, frame({0x31}, B({0xFE, 0xFF, 0xFF, 0xFF}))},
        {"set_tare (125) as text", C::set_tare, {{P::Tare, L"1"}}, -8, {}},
        {"set_data_processing_method (141) 0", C::set_data_processing_method, {{P::DataProcessingMethod, 0}}, 0,
         frame({0xFF, 0x63}, B({0}))},
        {"set_data_processing_method (141) 256", C::set_data_processing_method, {{P::DataProcessingMethod, 256}},
         -104, {}},
        // clang-format on
    });
    // The scale keeps the new password; the list keeps the one it knows.
    EXPECT_EQ(state->get().password,
              "\xC6\xF3\xEA"
              "1");
    EXPECT_EQ(d.ip_address_list.front().password, "1234");
    sim.on({0x13}, 122, {});
    device_test::log_capture log;
    EXPECT_EQ(run(C::beep), 122);
    EXPECT_TRUE(log.contains("'beep' error=122"));
    d.set_string_param(P::TimeZone, d.input_params, L"UTC", false);
    EXPECT_EQ(d.execute_command(145), 0);  // the absent flag goes as 0, with its warning
    EXPECT_EQ(qv_sim::hex(sim.requests().back().frame), qv_sim::hex(frame({0xFF, 0x66}, B({0, 3, 'U', 'T', 'C'}))));
    EXPECT_TRUE(log.contains("get int param \"(348) TimeAutoSyncEnabledFlag\": not found!"));
}

TEST_F(Settings, GettersSendTheirFrameAndDecodeTheReply)
{
    expect_replies({
        // clang-format off
        {"get_front_app_version (45)", C::get_front_app_version, frame({0xAC}), B({1, 2, 30}), P::FrontAppVersion,
         L"1.2.30"},
        {"get_model_scale_version (46)", C::get_model_scale_version, frame({0xAD}), B({0xC8}), P::ModelScaleVersion, 200},
        {"get_logging (72)", C::get_logging, frame({0xB6}), B({0x81}), P::LoggingType, 0x81},
        {"get_scale_information (77)", C::get_scale_information, unprotected({0xFF, 0x17}), B({2, 0, '{', '}'}),
         P::JsonScaleInformation, B({'{', '}'})},
        {"get_scale_language (105)", C::get_scale_language, frame({0xFF, 0x03}), B({0xFE}), P::LanguageCode, 254},
        {"get_data_processing_method (140)", C::get_data_processing_method, frame({0xFF, 0x62}), B({7}),
         P::DataProcessingMethod, 7},
        // clang-format on
    });
    // An empty information document is written as an empty output.
    sim.on({0xFF, 0x17}, 0, {0, 0});
    ASSERT_EQ(run(C::get_scale_information), 0);
    EXPECT_EQ(out(P::JsonScaleInformation, B({'x'})), bytes{});
}

TEST_F(Settings, TwoScalesOutputFromTheFirstIpInTextOrder)
{
    // 127.0.0.9 joins the list first, but "127.0.0.10" sorts before it.
    qv_sim::sim_scale nine("127.0.0.9"), ten("127.0.0.10");
    d.ip_address_list.clear();
    send_test::add_scale(d, nine, 1);
    send_test::add_scale(d, ten, 0);
    nine.on({0xB6}, 0, B({9}));
    ten.on({0xB6}, 0, B({10}));
    // Through the dispatcher a getter is for one scale only.
    for (C getter : {C::get_logging, C::query_state_scale, C::get_time, C::get_date, C::get_time_sync})
        EXPECT_EQ(run(getter), -110) << int(getter);
    EXPECT_EQ(nine.request_count() + ten.request_count(), 0u);
    ASSERT_EQ(d.get_logging(), 0);  // called directly, both are asked
    EXPECT_EQ(nine.request_count() + ten.request_count(), 2u);
    EXPECT_EQ(out_int(P::LoggingType), 10);

    // Group setters reach both; one refusal makes the result -111.
    set(P::LanguageCode, 2);
    EXPECT_EQ(run(C::set_scale_language), 0);
    EXPECT_EQ(ten.requests().back().frame, frame({0xFF, 0x04}, B({2})));
    nine.on({0x13}, 122, {});
    EXPECT_EQ(run(C::beep), -111);
}

}  // namespace
