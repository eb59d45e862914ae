#pragma once
// The one-shot exchanges of one command: a request to every scale of a list,
// all under way at the same time on one io_context that the calling thread
// runs once.
//
// Kept from one command to the next, because each costs system calls that
// are the same every time: the io_context (its epoll, eventfd and timerfd)
// and each scale's resolved address, for as long as the scale stays in the
// list. At most as many connections are open at once as the process's
// descriptor limit leaves room for: later scales start as earlier ones
// finish, all within the same run.
//
// Use, for each command:
//     group.begin(scales);
//     group.add_tcp(host, port, ...);   // or add_udp, once per scale
//     group.run();                      // every exchange to its end
// add_* and run() may throw; the group is then ready for the next begin().

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include "link/link_common.h"

class exchange_stop;
class tcp_client;
class udp_client;

namespace link_detail {

// Connections that a command to `wanted` scales may hold open at once: what
// the descriptor limit leaves after the descriptors open now and a margin
// for the host; at least 1, at most `wanted`.
std::size_t descriptor_window(std::size_t wanted);

}  // namespace link_detail

class one_shot_group {
public:
    one_shot_group();
    ~one_shot_group();
    one_shot_group(const one_shot_group&) = delete;
    one_shot_group& operator=(const one_shot_group&) = delete;

    // Starts a command that will add `scales` exchanges.
    void begin(std::size_t scales);

    // One exchange. The host and port are resolved as the clients resolve
    // them, once while the same scale stays in the list; a failure throws
    // boost::system::system_error ("resolve") and drops the whole command, so
    // that nothing is sent to any scale. `hidden_*`: the password bytes of
    // `request` that the log masks.
    void add_tcp(const std::string& host, const std::string& port, int timeout_seconds,
                 const std::vector<std::byte>& request, const response_callback& callback, std::size_t hidden_offset,
                 std::size_t hidden_length, bool log_traffic = true);
    void add_udp(const std::string& host, const std::string& port, int timeout_seconds,
                 const std::vector<std::byte>& request, const response_callback& callback, std::size_t hidden_offset,
                 std::size_t hidden_length, bool log_traffic = true);

    // Runs every exchange to its end (reply, error or time-out) on the
    // calling thread, then closes their connections. An exception from a
    // step leaves it after the clients are gone. With `stop`, a stop raised
    // meanwhile ends every exchange at once: nothing more is sent, no
    // callback runs, and run() gives false.
    bool run(exchange_stop* stop = nullptr);

    // Drops a command that failed before run(): nothing of it is sent.
    void abandon() noexcept { drop_clients(); }

private:
    struct exchange {
        bool tcp = true;
        boost::asio::ip::address address;
        unsigned short port = 0;
        int timeout_seconds = 0;
        std::vector<std::byte> request;
        response_callback callback;
        std::size_t hidden_offset = 0;
        std::size_t hidden_length = 0;
        bool log_traffic = true;
    };
    template <class Protocol>
    struct resolved {
        typename Protocol::endpoint to;
        bool used = false;  // by the current command
    };
    using address_key = std::pair<std::string, std::string>;

    boost::asio::ip::tcp::endpoint tcp_address(const std::string& host, const std::string& port);
    boost::asio::ip::udp::endpoint udp_address(const std::string& host, const std::string& port);
    void add(exchange next);
    void start(exchange next);
    template <class Client>
    void finished(Client* client);
    void drop_clients() noexcept;
    bool run_context(exchange_stop* stop);

    std::unique_ptr<boost::asio::io_context> context;
    std::vector<std::unique_ptr<tcp_client>> tcp;
    std::vector<std::unique_ptr<udp_client>> udp;
    std::deque<exchange> waiting;  // for a free connection
    std::size_t window = 0;
    std::map<address_key, resolved<boost::asio::ip::tcp>> tcp_addresses;
    std::map<address_key, resolved<boost::asio::ip::udp>> udp_addresses;
};
