#pragma once
// The driver's own version texts. The device copies them at construction.

#include <string>

std::wstring get_const_driver_version();  // version, a blank, the build date
std::wstring get_const_driver_version_without_date();
std::wstring get_const_driver_protocol_version();  // the scale protocol the driver speaks
std::wstring get_const_db_schema_version();
