// Command dispatch: the group check, the per-scale results, the one table
// from command number to device method, the result line, and the stop
// command.
//
// device::execute_command (device.cpp) owns `busy`: do_command always runs
// with the device acquired for its command, after the output map has been
// emptied, and the input map is emptied again after it returns (keep-list
// aside). A stop command that finds another command running never reaches
// do_command: it goes to stop_running_command, which touches no map.

#include <exception>
#include <map>
#include <memory>
#include <string>

#include "core/device.h"
#include "core/errors_text.h"
#include "logging/logger.h"

namespace {

const std::string separator(107, '-');

using command_method = int (device::*)();

// Every command number the host can run, with the device method that serves
// it. A number that the group-permission table knows but that has no entry
// here is answered with 120 (unknown command): each topic adds its entries as
// its methods land, and none may stand in for a missing one.
const std::map<CommandType, command_method>& command_methods()
{
    static const std::map<CommandType, command_method> table{
        // ---- dispatch and driver settings ----
        {CommandType::get_driver_version, &device::get_driver_version},
        {CommandType::get_error_description, &device::get_error_description},
        {CommandType::get_result_list, &device::get_result_list},
        {CommandType::get_db_schema_version, &device::get_db_schema_version},
        {CommandType::change_driver_lang, &device::change_driver_lang},
        {CommandType::change_driver_root_folder, &device::change_driver_root_folder},
        {CommandType::stop_command, &device::stop_command},
        {CommandType::change_driver_connection_type, &device::change_driver_connection_type},

        // ---- sending, scale list and connection ----
        {CommandType::connect, &device::connect},
        {CommandType::get_plu_count, &device::get_plu_count},
        {CommandType::get_quorvix_protocol_version, &device::get_quorvix_protocol_version},
        {CommandType::get_serial_number, &device::get_serial_number},
        {CommandType::add_ip_to_list, &device::add_ip_to_list},
        {CommandType::clear_ip_list, &device::clear_ip_list},
        {CommandType::disconnect, &device::disconnect},
        // ---- end of sending, scale list and connection ----

        // The command services of the other topics: each entry is enabled when
        // its method exists.
        // ---- scale state, settings, recognition and live weight ----
        // {CommandType::stop_get_weight, &device::stop_get_weight},
        // {CommandType::start_get_weight, &device::start_get_weight},
        // {CommandType::beep, &device::beep},
        // {CommandType::set_time, &device::set_time},
        // {CommandType::set_date, &device::set_date},
        // {CommandType::set_date_format, &device::set_date_format},
        // {CommandType::edit_password, &device::edit_password},
        // {CommandType::query_state_scale, &device::query_state_scale},
        // {CommandType::get_front_app_version, &device::get_front_app_version},
        // {CommandType::get_model_scale_version, &device::get_model_scale_version},
        // {CommandType::get_time, &device::get_time},
        // {CommandType::get_date, &device::get_date},
        // {CommandType::get_scenarios_list, &device::get_scenarios_list},
        // {CommandType::set_scenario, &device::set_scenario},
        // {CommandType::get_logging, &device::get_logging},
        // {CommandType::set_logging, &device::set_logging},
        // {CommandType::get_scale_information, &device::get_scale_information},
        // {CommandType::reload_front_application, &device::reload_front_application},
        // {CommandType::get_scale_language, &device::get_scale_language},
        // {CommandType::set_scale_language, &device::set_scale_language},
        // {CommandType::show_message_on_scale, &device::show_message_on_scale},
        // {CommandType::start_prediction, &device::start_prediction},
        // {CommandType::encrypt_scenario, &device::encrypt_scenario},
        // {CommandType::confirm_item_after_prediction, &device::confirm_item_after_prediction},
        // {CommandType::set_zero, &device::set_zero},
        // {CommandType::set_tare, &device::set_tare},
        // {CommandType::velunor_factory_reset, &device::velunor_factory_reset},
        // {CommandType::get_data_processing_method, &device::get_data_processing_method},
        // {CommandType::set_data_processing_method, &device::set_data_processing_method},
        // {CommandType::get_time_sync, &device::get_time_sync},
        // {CommandType::set_time_sync, &device::set_time_sync},
        // ---- fixed-record labels and PLU records ----
        // {CommandType::get_params_label, &device::get_params_label},
        // {CommandType::set_params_label, &device::set_params_label},
        // {CommandType::get_params_label_ex, &device::get_params_label_ex},
        // {CommandType::set_params_label_ex, &device::set_params_label_ex},
        // {CommandType::get_fonts_items, &device::get_fonts_items},
        // {CommandType::set_fonts_items, &device::set_fonts_items},
        // {CommandType::get_available_fonts, &device::get_available_fonts},
        // {CommandType::get_user_text, &device::get_user_text},
        // {CommandType::set_user_text, &device::set_user_text},
        // {CommandType::get_name_shop, &device::get_name_shop},
        // {CommandType::set_name_shop, &device::set_name_shop},
        // {CommandType::set_plu_data, &device::set_plu_data},
        // {CommandType::get_plu_data, &device::get_plu_data},
        // {CommandType::add_plu_to_block, &device::add_plu_to_block},
        // {CommandType::set_plu_block_data, &device::set_plu_block_data},
        // {CommandType::set_plu_data_extended, &device::set_plu_data_extended},
        // {CommandType::get_plu_data_extended, &device::get_plu_data_extended},
        // {CommandType::add_message_to_block, &device::add_message_to_block},
        // {CommandType::set_message_data, &device::set_message_data},
        // {CommandType::get_message_data, &device::get_message_data},
        // {CommandType::set_message_block_data, &device::set_message_block_data},
        // {CommandType::get_barcode_structure, &device::get_barcode_structure},
        // {CommandType::set_barcode_structure, &device::set_barcode_structure},
        // {CommandType::get_using_group_code, &device::get_using_group_code},
        // {CommandType::set_using_group_code, &device::set_using_group_code},
        // {CommandType::get_align_params_label, &device::get_align_params_label},
        // {CommandType::set_align_params_label, &device::set_align_params_label},
        // {CommandType::get_user_text_utf8, &device::get_user_text_utf8},
        // {CommandType::set_user_text_utf8, &device::set_user_text_utf8},
        // {CommandType::get_name_shop_utf8, &device::get_name_shop_utf8},
        // {CommandType::set_name_shop_utf8, &device::set_name_shop_utf8},
        // {CommandType::set_plu_data_utf8, &device::set_plu_data_utf8},
        // {CommandType::get_plu_data_utf8, &device::get_plu_data_utf8},
        // {CommandType::set_plu_data_extended_utf8, &device::set_plu_data_extended_utf8},
        // {CommandType::get_plu_data_extended_utf8, &device::get_plu_data_extended_utf8},
        // {CommandType::add_message_to_block_utf8, &device::add_message_to_block_utf8},
        // {CommandType::set_message_data_utf8, &device::set_message_data_utf8},
        // {CommandType::get_message_data_utf8, &device::get_message_data_utf8},
        // {CommandType::get_datamatrix_param, &device::get_datamatrix_param},
        // {CommandType::set_datamatrix_param, &device::set_datamatrix_param},
        // ---- file transfer and the scale file system ----
        // {CommandType::send_file, &device::send_file},
        // {CommandType::get_file, &device::get_file},
        // {CommandType::get_contents_list_from_folder, &device::get_contents_list_from_folder},
        // {CommandType::create_backup, &device::create_backup},
        // {CommandType::get_backup_status, &device::get_backup_status},
        // {CommandType::get_quorvix_folder_path, &device::get_quorvix_folder_path},
        // {CommandType::send_all_files_from_folder, &device::send_all_files_from_folder},
        // {CommandType::delete_file_or_folder, &device::delete_file_or_folder},
        // {CommandType::create_folder, &device::create_folder},
        // ---- catalogue and label documents ----
        // {CommandType::load_line_data, &device::load_line_data},
        // {CommandType::get_default_format_label, &device::get_default_format_label},
        // {CommandType::set_default_format_label, &device::set_default_format_label},
        // {CommandType::clear_db_products_and_messages, &device::clear_db_products_and_messages},
        // {CommandType::get_plu_by_code, &device::get_plu_by_code},
        // {CommandType::delete_plu_data, &device::delete_plu_data},
        // {CommandType::get_messages_count, &device::get_messages_count},
        // {CommandType::get_prefix_barcode_type, &device::get_prefix_barcode_type},
        // {CommandType::set_prefix_barcode_type, &device::set_prefix_barcode_type},
        // {CommandType::get_params_prefixes_barcode, &device::get_params_prefixes_barcode},
        // {CommandType::set_param_prefix_barcode, &device::set_param_prefix_barcode},
        // {CommandType::print_label, &device::print_label},
        // {CommandType::add_message_to_json, &device::add_message_to_json},
        // {CommandType::add_category_to_json, &device::add_category_to_json},
        // {CommandType::add_product_to_json, &device::add_product_to_json},
        // {CommandType::delete_product, &device::delete_product},
        // {CommandType::set_shop_address, &device::set_shop_address},
        // {CommandType::get_shop_address, &device::get_shop_address},
        // {CommandType::add_json_label_text_item, &device::add_json_label_text_item},
        // {CommandType::add_json_label_barcode_item, &device::add_json_label_barcode_item},
        // {CommandType::add_json_label_image_item, &device::add_json_label_image_item},
        // {CommandType::add_json_label_graphic_item, &device::add_json_label_graphic_item},
        // {CommandType::send_json_label_data, &device::send_json_label_data},
        // {CommandType::get_json_label_data, &device::get_json_label_data},
        // {CommandType::get_default_barcode_structures, &device::get_default_barcode_structures},
        // {CommandType::set_default_barcode_structures, &device::set_default_barcode_structures},
        // {CommandType::set_scale_number, &device::set_scale_number},
        // {CommandType::get_picture_size, &device::get_picture_size},
        // {CommandType::add_lot_of_product_to_json, &device::add_lot_of_product_to_json},
        // {CommandType::get_strings_count_in_message, &device::get_strings_count_in_message},
        // {CommandType::create_json_items_file, &device::create_json_items_file},
        // {CommandType::get_json_items_file_status, &device::get_json_items_file_status},
        // {CommandType::delete_category, &device::delete_category},
        // {CommandType::get_currency, &device::get_currency},
        // {CommandType::set_currency, &device::set_currency},
        // {CommandType::print_file, &device::print_file},
        // {CommandType::get_packer, &device::get_packer},
        // {CommandType::set_packer, &device::set_packer},
        // {CommandType::delete_packer, &device::delete_packer},
        // {CommandType::get_default_format_total_label, &device::get_default_format_total_label},
        // {CommandType::set_default_format_total_label, &device::set_default_format_total_label},
        // {CommandType::print_product_label, &device::print_product_label},
        // {CommandType::add_product_rate_to_json, &device::add_product_rate_to_json},
        // {CommandType::set_shop_name_multi_strings, &device::set_shop_name_multi_strings},
        // {CommandType::get_shop_name_multi_strings, &device::get_shop_name_multi_strings},
        // {CommandType::get_default_format_cart_total_label, &device::get_default_format_cart_total_label},
        // {CommandType::set_default_format_cart_total_label, &device::set_default_format_cart_total_label},
        // {CommandType::get_default_format_cart_label, &device::get_default_format_cart_label},
        // {CommandType::set_default_format_cart_label, &device::set_default_format_cart_label},
        // {CommandType::get_label_rotate_value, &device::get_label_rotate_value},
        // {CommandType::set_label_rotate_value, &device::set_label_rotate_value},
        // {CommandType::get_json_message_tags, &device::get_json_message_tags},
        // {CommandType::set_json_message_tags, &device::set_json_message_tags},
    };
    return table;
}

bool keeps_results(int command)
{
    // 81 and 82 report on the command before them.
    return command == static_cast<int>(CommandType::get_error_description) ||
           command == static_cast<int>(CommandType::get_result_list);
}

// The text is taken when the line is written, after the method ran, so a
// language change made by this very command already shows.
void log_result_line(const device& d, int command, int result)
{
    const std::shared_ptr<errors_text> texts = d.current_error_texts();
    const std::string text = texts ? texts->get_text(static_cast<ErrorType>(result)) : std::string();
    Logger::i("Result code for command " + std::to_string(command) + " : " + std::to_string(result) + ". " + text);
}

}  // namespace

int device::do_command(int command)
{
    try {
        Logger::i(separator);
        Logger::i("do_command " + std::to_string(command));
        output_params.clear();

        const auto flag = broadcast_validation_.find(static_cast<CommandType>(command));
        if (flag == broadcast_validation_.end()) {
            Logger::e("command not found in broadcast_validation_");
            Logger::i(separator);
            return static_cast<int>(ErrorType::UnknownCommand);
        }

        if (!keeps_results(command))
            results.clear();

        int result;
        if (!flag->second && ip_address_list.size() > 1) {
            result = static_cast<int>(ErrorType::NotForGroupMode);
        } else {
            const auto& methods = command_methods();
            const auto method = methods.find(static_cast<CommandType>(command));
            result = method == methods.end() ? static_cast<int>(ErrorType::UnknownCommand) : (this->*(method->second))();
            if (!keeps_input_params(command))
                input_params.clear();
        }

        log_result_line(*this, command, result);
        Logger::i(separator);
        return result;
    } catch (...) {
        try {
            Logger::e("'do_command' error");
            Logger::i(separator);
        } catch (...) {
        }
        return static_cast<int>(ErrorType::UnexpectedDriverError);
    }
}

int device::stop_command()
{
    Logger::i("'stop_command' start");
    return 0;
}

int device::stop_running_command()
{
    // Runs on a second thread while another command owns the device, after
    // execute_command has raised the stop request under its gate; `busy`
    // stays with the running command until that command really ends (a
    // command arriving meanwhile still gets -2). The maps and `results`
    // belong to the running command, so only the lines are written here.
    try {
        Logger::i(separator);
        Logger::i("do_command " + std::to_string(static_cast<int>(CommandType::stop_command)));
        const int result = stop_command();
        log_result_line(*this, static_cast<int>(CommandType::stop_command), result);
        Logger::i(separator);
        return result;
    } catch (...) {
        return static_cast<int>(ErrorType::UnexpectedDriverError);
    }
}
