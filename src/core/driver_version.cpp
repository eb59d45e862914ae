// The driver's own version texts.

#include "core/driver_version.h"

std::wstring get_const_driver_version()
{
    return L"1.3.7152 28.04.26";
}

std::wstring get_const_driver_version_without_date()
{
    return L"1.3.7152";
}

std::wstring get_const_driver_protocol_version()
{
    return L"0.17";
}

std::wstring get_const_db_schema_version()
{
    return L"0.10";
}
