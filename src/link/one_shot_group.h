#pragma once
// The one-shot exchanges of one command: a request to every scale of a list,
// all under way at the same time on one io_context that the calling thread
// runs.
//
// Kept from one command to the next, because each costs system calls that
// are the same every time: the io_context (its epoll, eventfd and timerfd)
// and each scale's resolved address, for as long as the scale stays in the
// list. At most as many connections are open at once as the process's
// descriptor limit leaves room for: later scales start as earlier ones
// finish, all within the same run. A socket that cannot be made for want of
// descriptors waits for one of the command's own connections to close; only
// when the command holds none does its scale fail, through the request's
// no_socket.
//
// Use, for each command:
//     group.begin(scales);
//     group.add(link_transport::tcp, host, port, request);   // once per scale
//     group.run(stop);                                       // every exchange to its end
// add() and run() may throw; the group is then ready for the next begin().

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

    // One exchange, over one-shot TCP or UDP. The host and port are resolved
    // as the clients resolve them, once while the same scale stays in the
    // list; a failure throws boost::system::system_error ("resolve") and
    // drops the whole command, so that nothing is sent to any scale. Nothing
    // is sent before run().
    void add(link_transport how, const std::string& host, const std::string& port, link_request request);

    // Runs every exchange to its end (reply, error or time-out) on the
    // calling thread, then closes their connections. An exception from a
    // step leaves it after the clients are gone. A stop raised meanwhile
    // ends every exchange at once: nothing more is sent, no callback runs,
    // and run() gives false.
    bool run(exchange_stop* stop = nullptr);

    // Drops a command that failed before run(): nothing of it is sent.
    void abandon() noexcept { drop_clients(); }

private:
    struct exchange {
        link_transport how = link_transport::tcp;
        boost::asio::ip::address address;
        unsigned short port = 0;
        link_request request;
    };
    template <class Protocol>
    struct resolved {
        typename Protocol::endpoint to;
        bool used = false;  // by the current command
    };
    using address_key = std::pair<std::string, std::string>;

    void fill_window();
    template <class Client>
    void start(std::vector<std::unique_ptr<Client>>& clients, exchange next);
    // No socket could be made: gives back the sockets of finished exchanges
    // and narrows the window to what the command then holds. False when it
    // holds nothing: no socket can be had by waiting.
    bool make_room();
    template <class Client>
    void finished(Client* client);
    void expire_due(link_detail::clock::time_point now);
    void drop_clients() noexcept;

    std::unique_ptr<boost::asio::io_context> context;
    std::vector<std::unique_ptr<tcp_client>> tcp;
    std::vector<std::unique_ptr<udp_client>> udp;
    std::deque<exchange> waiting;  // for a free connection
    std::size_t window = 0;
    std::size_t open = 0;  // exchanges started and not yet ended
    bool filling = false;
    link_detail::clock::time_point next_deadline = link_detail::clock::time_point::max();
    std::map<address_key, resolved<boost::asio::ip::tcp>> tcp_addresses;
    std::map<address_key, resolved<boost::asio::ip::udp>> udp_addresses;
};
