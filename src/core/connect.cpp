// The scale list and the connection: connect (0), add_ip_to_list (79),
// clear_ip_list (80) and disconnect (142).
//
// The list, the kept-open maps and the time-out are also read by the
// live-weight thread, so every change to them is made under the state lock.

#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "codecs/device_utils.h"
#include "core/device.h"
#include "link/link_exchange.h"
#include "logging/logger.h"

namespace {

// White space as the C library's isspace takes it in the "C" locale.
bool is_c_space(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

// The resolver reads a port as strtoul does (white space, an optional sign,
// digits, the whole text) and keeps the low 16 bits: "70637", " 70637",
// "+70637" would all reach port 5101 and "-1" port 65535. Such a text is
// checked as the number it names; any other is a service name, which the
// resolver decides.
bool port_out_of_range(const std::wstring& port)
{
    std::size_t i = 0;
    while (i < port.size() && is_c_space(port[i])) ++i;
    const bool negative = i < port.size() && port[i] == L'-';
    if (i < port.size() && (port[i] == L'+' || port[i] == L'-')) ++i;
    if (i == port.size()) return false;  // no digits: a service name
    unsigned long value = 0;
    for (; i < port.size(); ++i) {
        const wchar_t c = port[i];
        if (c < L'0' || c > L'9') return false;  // a service name: the resolver decides
        value = value * 10 + static_cast<unsigned long>(c - L'0');
        if (value > 65535) return true;
    }
    return negative && value != 0;  // "-0" is port 0, as "0" is
}

// The resolver reads an address or port text only up to its first zero
// byte: "\0" would reach the local machine with the admin password,
// "127.0.0.2\0x" a listed scale under a second key, "5001\0" "99999" port
// 5001 past the range check.
int refuse_zero_byte(ParamType p, const std::wstring& text, const std::string& allowed)
{
    if (text.find(L'\0') == std::wstring::npos) return rc(ErrorType::Success);
    return refused_parameter(p, DataType::String, quoted_value(device_utils::str(text)), allowed);
}

// A narrow text with malformed UTF-8 is stored up to the fault, which for an
// address or port is the zero-byte fault again: "5001" C0 80 "99999" would
// reach port 5001, "127.0.1.1" C0 80 "junk" that address.
int refuse_cut_text(device& d, ParamType p, const std::wstring& text, const std::string& allowed)
{
    if (!is_cut_text(d.input_params, p)) return rc(ErrorType::Success);
    return refused_parameter(p, DataType::String, quoted_value(device_utils::str(text)) + " cut at malformed UTF-8",
                             allowed);
}

// An Ip or Port read for the list, refused unless the resolver will read it
// as the host wrote it.
int read_scale_text(device& d, ParamType p, std::wstring& text, const std::string& what)
{
    int r = d.get_string_param(p, d.input_params, text);
    if (r == rc(ErrorType::Success)) r = refuse_no_code_point(p, text);
    if (r == rc(ErrorType::Success)) r = refuse_cut_text(d, p, text, what + ", in well-formed UTF-8");
    if (r == rc(ErrorType::Success)) r = refuse_zero_byte(p, text, what + ", no zero byte");
    return r;
}

// The reply time-out, checked before the list changes: absent (or of
// another kind) keeps the one before; 0 or below would end every later
// exchange at once as if the scale were unreachable, so it is refused.
int read_timeout(device& d, int& timeout, bool& given)
{
    const int r = read_int_in(d, ParamType::ConnectTimeout, timeout, 1, std::numeric_limits<int>::max());
    given = r == rc(ErrorType::Success);
    return r == rc(ErrorType::InvalidParameterValue) ? r : rc(ErrorType::Success);
}

}  // namespace

int device::add_ip_to_list()
{
    if (!parameters_validation({ParamType::Ip, ParamType::Port, ParamType::AdminPassword}, input_params))
        return rc(ErrorType::RequiredParameterMissing);

    std::wstring ip;
    std::wstring port;
    std::wstring password;
    int r = read_scale_text(*this, ParamType::Ip, ip, "an address");
    if (r != rc(ErrorType::Success)) return r;
    // The resolver takes an empty host for the local machine, which would
    // get the admin password of a request meant for a scale.
    if (ip.empty()) return refused_parameter(ParamType::Ip, DataType::String, quoted_value(""), "an address, not empty");
    r = read_scale_text(*this, ParamType::Port, port, "a port or service name");
    if (r != rc(ErrorType::Success)) return r;
    if (port_out_of_range(port))
        return refused_parameter(ParamType::Port, DataType::String,
                                 device_utils::escape_control_characters(device_utils::str(port)),
                                 "at most 65535, or a service name");
    r = get_string_param(ParamType::AdminPassword, input_params, password);
    if (r == rc(ErrorType::Success)) r = refuse_no_code_point(ParamType::AdminPassword, password, true);
    if (r != rc(ErrorType::Success)) return r;
    int protocol = 0;  // absent or of another kind: UDP
    get_int_param(ParamType::Protocol, input_params, protocol);

    scale_connect_data entry;
    entry.ip = device_utils::str(ip);
    entry.port = device_utils::str(port);
    entry.password = device_utils::str(password);
    entry.protocol = protocol;

    std::size_t size = 0;
    {
        auto lock = lock_state();
        for (const scale_connect_data& scale : ip_address_list)
            if (scale.ip == entry.ip) return rc(ErrorType::IpAlreadyInList);
        ip_address_list.push_back(std::move(entry));
        size = ip_address_list.size();
    }
    Logger::i("'add_ip_to_list' ip_address_list size = " + std::to_string(size));
    return rc(ErrorType::Success);
}

int device::clear_ip_list()
{
    std::size_t size = 0;
    {
        auto lock = lock_state();
        ip_address_list.clear();
        size = ip_address_list.size();
    }
    Logger::i("clear_ip_list ip_address_list size = " + std::to_string(size));
    return rc(ErrorType::Success);
}

int device::disconnect()
{
    const command_log log("disconnect");
    drop_permanent_connections();
    return rc(ErrorType::Success);
}

int device::connect()
{
    try {
        const command_log log("connect", error_line::name_error);
        int timeout = timeout_seconds;
        bool timeout_given = false;
        const int checked = read_timeout(*this, timeout, timeout_given);
        if (checked != rc(ErrorType::Success)) return checked;
        if (parameters_validation({ParamType::Ip, ParamType::Port, ParamType::AdminPassword}, input_params))
            clear_ip_list();
        if (ip_address_list.empty()) {
            const int r = add_ip_to_list();
            if (r != rc(ErrorType::Success)) return r;
        }

        if (timeout_given) {
            auto lock = lock_state();
            timeout_seconds = timeout;
        }

        if (permanent_connection) {
            disconnect();
            for (const scale_connect_data& scale : ip_address_list) {
                if (scale.protocol != 1) {
                    Logger::e("UDP not support permanent connection!");
                    results[scale.ip] = rc(ErrorType::NoConnection);
                    return rc(ErrorType::NoConnection);
                }
                try {
                    const link_route link = make_kept_open_link(scale.ip, scale.port, timeout_seconds);
                    {
                        auto lock = lock_state();
                        io_contexts[scale.ip] = link.link_context;
                        permanent_clients[scale.ip] = link.link;
                    }
                    // Under the command's stop: a connect that hangs ends with it.
                    open_kept_open_link(link, command_stop.get());
                } catch (...) {
                    // Out of descriptors, most often (four a link): the links
                    // made so far are closed, so that the host gets them back
                    // and can run the connect again on the list as it stands.
                    drop_permanent_connections();
                    results[scale.ip] = rc(ErrorType::UnexpectedDriverError);
                    throw;
                }
            }
        }

        const int r = get_quorvix_protocol_version();
        if (r != rc(ErrorType::Success)) {
            clear_ip_list();
            if (permanent_connection) disconnect();
            log.error(r);
            return r;
        }
        // Drops the protocol marks (-107/-108) so that no scale is skipped.
        results.clear();
        get_serial_number();
        return rc(ErrorType::Success);
    } catch (const std::exception& e) {
        Logger::e(std::string("'connect' error: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    } catch (...) {
        Logger::e("'connect' error");
        return rc(ErrorType::UnexpectedDriverError);
    }
}

namespace {

const command_registration scale_list{
    {CommandType::connect, &device::connect},
    {CommandType::add_ip_to_list, &device::add_ip_to_list},
    {CommandType::clear_ip_list, &device::clear_ip_list},
    {CommandType::disconnect, &device::disconnect},
};

}  // namespace
