// Request framing, group sending and reply validation: the one road from a
// command method to the scales of the list and back.

#include <cstddef>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "codecs/convertor.h"
#include "codecs/device_utils.h"
#include "core/device.h"
#include "link/frame_layout.h"
#include "link/link_exchange.h"
#include "link/one_shot_group.h"
#include "logging/log_gate.h"
#include "logging/logger.h"

namespace {

using bytes = std::vector<std::byte>;

// The upload steps whose status request (payload starting with 9) marks a
// silent scale as temporarily unresponsive (-3) rather than failed.
constexpr CommandType upload_steps[] = {
    CommandType::upload_any_file,
    CommandType::upload_config_file,
    CommandType::upload_update_file,
    CommandType::upload_products_file,
    CommandType::upload_velunor_backup_file,
    CommandType::upload_categories_file,
    CommandType::upload_scale_backup_file,
    CommandType::upload_messages_file,
    CommandType::upload_json_items_file,
    CommandType::upload_marking_codes_file,
};

bool is_upload_step(CommandType type)
{
    for (CommandType t : upload_steps)
        if (t == type) return true;
    return false;
}

// The configuration file's upload and download carry the password in its
// counted form: its length in characters, then the four bytes.
bool counts_password(CommandType type, bool with_password)
{
    return !with_password && (type == CommandType::upload_config_file || type == CommandType::download_config_file);
}

// A request too long for one datagram to a UDP scale: the refusal line, -104.
int refused_datagram(const std::string& ip, std::size_t size)
{
    Logger::w("refused request for " + ip + ": " + std::to_string(size) + " bytes over UDP; allowed: at most " +
              std::to_string(frame_layout::max_datagram) + " bytes, one datagram");
    return rc(ErrorType::InvalidParameterValue);
}

// The info lines of every send are built only for a log that writes them.
bool info_logged()
{
    return qv_logging_internal::writes(qv_logging_internal::info_severity);
}

}  // namespace

bytes device::build_request_frame(bool with_password, bool password_with_count, const bytes& frame, const bytes& data,
                                  const std::string& password, const std::string& scale_ip)
{
    std::byte password_part[5] = {};
    std::size_t password_size = 0;
    if (with_password || password_with_count) {
        // Counted in characters, not UTF-8 bytes. Any length other than four
        // gives four zero bytes; a character outside the table throws
        // std::out_of_range ("map::at").
        const std::wstring wide = device_utils::wstr(password);
        if (wide.size() == 4) warn_unencodable(ParamType::AdminPassword, wide, 4, true, scale_ip);
        if (!with_password) password_part[password_size++] = static_cast<std::byte>(wide.size() & 0xFF);
        for (std::size_t k = 0; k < 4; ++k)
            password_part[password_size++] = wide.size() == 4 ? win1251_convertor.map().at(wide[k]) : std::byte{0};
    }

    const std::size_t body_size = frame.size() + password_size + data.size();
    bytes request;
    request.reserve(body_size + 2);
    request.push_back(frame_layout::stx);
    request.push_back(frame_layout::length_byte(body_size));
    for (std::byte b : frame) request.push_back(b);
    for (std::size_t k = 0; k < password_size; ++k) request.push_back(password_part[k]);
    for (std::byte b : data) request.push_back(b);
    return request;
}

int device::response_validation(std::vector<std::byte> reply)
{
    if (reply.empty()) return rc(ErrorType::NoConnection);
    if (reply.size() < 4) return rc(ErrorType::InvalidResponseLength);
    if (reply[0] != frame_layout::stx) return rc(ErrorType::ResponseWithoutStx);
    // The length byte counts what follows it, modulo 256 (FF: any size).
    if (reply[1] != frame_layout::escape &&
        reply[1] != static_cast<std::byte>((reply.size() - frame_layout::opcode_at) & 0xFF))
        return rc(ErrorType::ResponseSizeMismatch);
    // A two-byte command puts its result at offset 4, which a 4-byte reply
    // does not have: treat it as too short rather than read past it.
    const std::size_t result_at = frame_layout::result_offset(reply);
    if (reply.size() <= result_at) return rc(ErrorType::InvalidResponseLength);
    return std::to_integer<int>(reply[result_at]);
}

int device::send_command(CommandType type, bool with_password, const bytes& data)
{
    const bytes& frame = frame_of(type);  // a command without a frame throws before anything is logged
    if (info_logged()) Logger::i("send_command() for " + device_utils::hex_dump(frame, frame.size()));
    if (ip_address_list.empty()) return rc(ErrorType::NoConnection);

    if (!one_shot_links) one_shot_links = std::make_shared<one_shot_group>();
    link_exchange exchange(*one_shot_links, command_stop.get());
    try {
        responses.clear();
        std::set<std::string> skipped;
        // Asked, but no socket could be made for the request. Shared: a
        // kept-open link keeps its last request after this call.
        const auto no_socket = std::make_shared<std::set<std::string>>();
        const bool password_with_count = counts_password(type, with_password);
        const secret_span secret = password_span(type, with_password, password_with_count, frame);
        const frame_layout::opcode opcode(frame);
        // Every frame is built before the first is sent: a password that
        // cannot be encoded throws here, and no scale of the list (a
        // kept-open one served first included) carries out the command.
        // The system refuses a datagram longer than IPv4 carries, which would
        // report a reachable scale as silent while the TCP scales of the list
        // carry the command out: such a frame refuses the whole call here.
        std::vector<bytes> frames;
        frames.reserve(ip_address_list.size());
        for (const scale_connect_data& scale : ip_address_list) {
            frames.push_back(
                build_request_frame(with_password, password_with_count, frame, data, scale.password, scale.ip));
            if (frames.back().size() > frame_layout::max_datagram && route_of(scale).transport == link_transport::udp)
                return refused_datagram(scale.ip, frames.back().size());
        }
        // Every scale of the list at the same time (one-shot), or one after
        // the other (kept-open), on the calling thread.
        exchange.begin(ip_address_list.size());
        for (std::size_t k = 0; k < ip_address_list.size(); ++k) {
            const scale_connect_data& scale = ip_address_list[k];
            link_request request;
            request.frame = std::move(frames[k]);
            if (skipped_by_last_result(scale.ip)) {
                skipped.insert(scale.ip);
                continue;
            }
            request.opcode = opcode;
            request.hidden_offset = secret.offset;
            request.hidden_length = secret.length;
            // The time-out is read now, as a client's constructor reads it.
            request.timeout_seconds = timeout_seconds;
            // Each reply is filed under the list entry it answers, whatever
            // text the socket reports for the endpoint (a host name or a
            // non-canonical address would otherwise orphan the reply).
            request.callback = [this, ip = scale.ip](bytes body, std::string) { responses[ip] = std::move(body); };
            request.no_socket = [no_socket, ip = scale.ip] { no_socket->insert(ip); };
            request.log_runs = true;
            exchange.add(route_of(scale), std::move(request));
        }
        exchange.finish();
        const bool status_request = !data.empty() && data[0] == std::byte{9} && is_upload_step(type);
        return total_after_stop(fold_results(status_request, skipped, *no_socket));
    } catch (const std::exception& e) {
        Logger::e(std::string("send_command err: ") + e.what());
        return rc(ErrorType::UnexpectedDriverError);
    }
    // Any other exception leaves after the exchange has dropped its clients.
}

link_route device::route_of(const scale_connect_data& scale) const
{
    link_route route;
    route.host = scale.ip;
    route.port = scale.port;
    if (!permanent_connection) {
        route.transport = scale.protocol == 0   ? link_transport::udp
                          : scale.protocol == 1 ? link_transport::tcp
                                                : link_transport::none;
        return route;
    }
    // Kept-open links are TCP only, and only the scales of the last
    // kept-open connect have one.
    const auto client = permanent_clients.find(scale.ip);
    const auto context = io_contexts.find(scale.ip);
    if (scale.protocol != 1 || client == permanent_clients.end() || context == io_contexts.end()) return route;
    route.transport = link_transport::tcp_kept_open;
    route.link_context = context->second;
    route.link = client->second;
    return route;
}

bool device::skipped_by_last_result(const std::string& ip) const
{
    const auto stored = results.find(ip);
    if (stored == results.end()) return false;
    const int last = stored->second;
    if (last == rc(ErrorType::Success) || last == rc(ErrorType::InProgress) ||
        last == rc(ErrorType::DeviceTemporarilyUnresponsive))
        return false;
    if (last == rc(ErrorType::FileReceived))
        Logger::i("REQUEST FOR " + ip + ": file already received");
    else
        Logger::e("REQUEST FOR " + ip + ": not send, because last request had the result = " + std::to_string(last));
    return true;
}

secret_span device::password_span(CommandType type, bool with_password, bool password_with_count,
                                  const bytes& frame) const
{
    // 02, the length byte and the opcode come first; the count form puts the
    // password's length in front of it.
    secret_span span;
    if (!with_password && !password_with_count) return span;
    span.offset = frame_layout::opcode_at + frame.size() + (with_password ? 0 : 1);
    span.length = 4;
    // The password change carries the new password right behind the old.
    if (with_password && type == CommandType::edit_password) span.length += 4;
    return span;
}

int device::fold_results(bool status_request, const std::set<std::string>& skipped,
                         const std::set<std::string>& no_socket)
{
    int total = rc(ErrorType::Success);
    const bool group = ip_address_list.size() > 1;
    const int failed = rc(ErrorType::BroadcastError);
    for (const scale_connect_data& scale : ip_address_list) {
        const auto reply = responses.find(scale.ip);
        if (reply != responses.end()) {
            const int r = response_validation(reply->second);
            if (info_logged()) Logger::i("RESULT FOR " + scale.ip + ": " + std::to_string(r));
            results[scale.ip] = r;
            if (r != rc(ErrorType::Success)) total = group ? failed : r;
            continue;
        }
        // No socket for the request: this process's failure, not the scale's
        // silence (the link's line gives the reason).
        if (no_socket.count(scale.ip) != 0) {
            Logger::i("BAD RESULT FOR " + scale.ip + ": " + std::to_string(rc(ErrorType::UnexpectedDriverError)));
            results[scale.ip] = rc(ErrorType::UnexpectedDriverError);
            total = group ? failed : rc(ErrorType::UnexpectedDriverError);
            continue;
        }
        // Asked and silent: this exchange failed, whatever the scale said
        // before (an earlier 172 included). A skipped scale keeps its result.
        if (skipped.count(scale.ip) == 0) {
            Logger::i("BAD RESULT FOR " + scale.ip + ": -1");
            results[scale.ip] =
                status_request ? rc(ErrorType::DeviceTemporarilyUnresponsive) : rc(ErrorType::NoConnection);
        }
        if (results[scale.ip] != rc(ErrorType::DeviceTemporarilyUnresponsive))
            total = group ? failed : rc(ErrorType::NoConnection);
    }
    return total;
}

int device::total_after_stop(int total)
{
    if (stop_requested.load()) {
        for (const scale_connect_data& scale : ip_address_list) results[scale.ip] = rc(ErrorType::CommandStopped);
        for (auto& entry : results) entry.second = rc(ErrorType::CommandStopped);
        total = rc(ErrorType::CommandStopped);
    }
    if (info_logged()) Logger::i("TOTAL RESULT: " + std::to_string(total));
    return total;
}
