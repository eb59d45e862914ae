// Settings commands at the edges of their inputs: the exact request of each
// getter, setter and action, the values refused before anything is sent, and
// the decoding of each getter's reply.

#include "../command_table.h"
#include "replies/systems.h"

using namespace command_table;

namespace {

class SettingsEdges : public table_test<qv_sim::scale_settings> {
protected:
    SettingsEdges() : table_test("127.0.0.141", qv_sim::add_settings_replies) {}
};

TEST_F(SettingsEdges, SettersAndActionsSendTheirBytesOrNothing)
{
    expect_requests({
        // clang-format off
        {"edit_password (5), 3 characters", C::edit_password, {{P::NewPassword, L"abc"}}, -104, {}},
        {"set_logging (73) 255", C::set_logging, {{P::LoggingType, 255}}, 0, frame({0xB7}, B({0xFF}))},
        {"set_logging (73) 256", C::set_logging, {{P::LoggingType, 256}}, -104, {}},
        {"set_scale_language (106) -1", C::set_scale_language, {{P::LanguageCode, -1}}, -104, {}},
        {"set_data_processing_method (141) 0", C::set_data_processing_method, {{P::DataProcessingMethod, 0}}, 0,
         frame({0xFF, 0x63}, B({0}))},
        {"set_data_processing_method (141) -1", C::set_data_processing_method, {{P::DataProcessingMethod, -1}}, -104, {}},
        {"reload_front_application (78)", C::reload_front_application, {}, 0, frame({0xB8})},
        {"set_zero (124)", C::set_zero, {}, 0, frame({0x30})},
        {"set_tare (125) without a value", C::set_tare, {}, 0, frame({0x31})},
        {"set_tare (125) 1500", C::set_tare, {{P::Tare, 1500}}, 0, frame({0x31}, B({0xDC, 0x05, 0, 0}))},
        {"set_tare (125) -1", C::set_tare, {{P::Tare, -1}}, 0, frame({0x31}, B({0xFF, 0xFF, 0xFF, 0xFF}))},
        {"set_tare (125) -2", C::set_tare, {{P::Tare, -2}}, 0, frame({0x31}, B({0xFE, 0xFF, 0xFF, 0xFF}))},
        {"set_tare (125) as text", C::set_tare, {{P::Tare, L"1"}}, -8, {}},
        {"show_message_on_scale (107) without inputs", C::show_message_on_scale, {}, 0,
         frame({0xFF, 0x05}, B({0, 0, 0, 0, 0}))},
        {"show_message_on_scale (107) 255 s", C::show_message_on_scale, {{P::ScreenMessageDuration, 255}}, 0,
         frame({0xFF, 0x05}, B({0xFF, 0, 0, 0, 0}))},
        {"show_message_on_scale (107) 300 s", C::show_message_on_scale, {{P::ScreenMessageDuration, 300}}, 0,
         frame({0xFF, 0x05}, B({0xFF, 0, 0, 0, 0}))},
        {"show_message_on_scale (107) 1 s", C::show_message_on_scale, {{P::ScreenMessageDuration, 1}}, 0,
         frame({0xFF, 0x05}, B({0x01, 0, 0, 0, 0}))},
        // clang-format on
    });
}

TEST_F(SettingsEdges, GettersSendTheirFrameAndDecodeTheReply)
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

}  // namespace
