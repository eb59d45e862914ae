#include "core/vocab/errors_text.h"

#include <iterator>

namespace {

// -9 (stopped command) has no English text and reads through the fallback.
const std::pair<int, const char*> eng_texts[] = {
    {-1000, "Unexpected driver error."},
    {-114, "Recognition in process."},
    {-113, "Incorrect file."},
    {-112, "File received."},
    {-111, "Broadcast error."},
    {-110, "Functionality not for group mode."},
    {-109, "IP address already added to the list."},
    {-108, "Outdated version of the protocol on Scales."},
    {-107, "Scale has a newer version of the protocol."},
    {-106, "Invalid use group code parameter value."},
    {-105, "Invalid hash data."},
    {-104, "Invalid parameter value."},
    {-103, "Response size not match."},
    {-102, "Response not contain STX."},
    {-101, "Invalid response length."},
    {-8, "The parameter is of the wrong type."},
    {-7, "Required parameter is not specified."},
    {-6, "The file was sent successfully, but the processing result is unknown."},
    {-5, "Working with the file on the scale failed with an error."},
    {-4, "Working with the file on the scale was successful."},
    {-3, "Device temporarily unresponsive."},
    {-2, "The execution of the previous command has not yet been completed."},
    {-1, "No connection."},
    {0, "Command completed successful."},
    {110, "Invalid lines count for parameter \"Store Name\"."},
    {120, "Unknown command."},
    {122, "Invalid password."},
    {124, "Invalid parameter value."},
    {128, "Invalid PLU number."},
    {129, "Folder does not exist."},
    {130, "Invalid product code."},
    {136, "Invalid image number."},
    {140, "Empty PLU."},
    {161, "Image size exceeds the allowed limit."},
    {171, "The requested file is empty."},
    {172, "In progress."},
    {173, "Telmira is off."},
    {174, "Backup failure."},
    {175, "Backup file not created."},
    {176, "Not enough disk space to create a backup."},
    {177, "Database version mismatch."},
    {178, "Service version mismatch."},
    {179, "Permission mismatch."},
    {180, "Telmira version mismatch."},
    {181, "Backup does not contain configuration file."},
    {182, "Backup does not contain QuorvixScale folder."},
    {183, "Backup does not contain product data."},
    {184, "Backup does not contain label data."},
    {185, "Backup does not contain Telmira file."},
    {186, "Backup does not contain scenarios folder."},
    {187, "Packer with this number was not found."},
    {188, "Device not initialized."},
    {189, "Old firmware version with no backup option."},
    {190, "Recognition camera does not contain data to back up."},
    {191, "One of the required label elements is missing."},
    {192, "The recognition service is disabled."},
    {193, "The recognition process has not started yet."},
    {194, "The recognition process is not over yet."},
    {195, "The label has not yet been added."},
    {196, "Category not found."},
    {197, "Category for rebinding the product not found."},
    {198, "Barcode not supported."},
    {199, "Category for product reassignment not found."},
    {200, "Cannot encrypt the current scenario."},
    {201, "Error encrypting the scenario."},
    {202, "The scenario is already encrypted."},
    {203, "No space left on the disk."},
    {204, "Task has been queued."},
    {205, "Backup does not contain recognition statistics."},
    {206, "Non-zero weight is required for printing."},
    // No full stop at the end of this one.
    {209, "Cannot set date or time when automatic time synchronization is enabled"},
};

}  // namespace

errors_text_eng::errors_text_eng() : texts(make_table(eng_texts, std::size(eng_texts))) {}
errors_text_eng::~errors_text_eng() = default;

std::string errors_text_eng::get_text(ErrorType code) const
{
    return lookup(texts, code, "Unknown error (");
}
