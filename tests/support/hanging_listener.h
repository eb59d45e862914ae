#pragma once
// A TCP listener on a loopback address whose accept queue is full and never served: the system drops every further
// connect request, so a connect to it hangs until the connecting side gives up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

class hanging_listener {
public:
    explicit hanging_listener(const std::string& ip)
    {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        ::inet_pton(AF_INET, ip.c_str(), &at.sin_addr);
        socklen_t size = sizeof at;
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        // A backlog of 0 queues one connection: the filler's.
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&at), size) != 0 || ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size) != 0)
            throw std::runtime_error("hanging_listener: cannot listen on " + ip);
        port_ = ntohs(at.sin_port);
        filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(filler_, reinterpret_cast<sockaddr*>(&at), size) != 0)
            throw std::runtime_error("hanging_listener: cannot fill the queue on " + ip);
    }
    ~hanging_listener()
    {
        ::close(filler_);
        ::close(listener_);
    }
    hanging_listener(const hanging_listener&) = delete;
    hanging_listener& operator=(const hanging_listener&) = delete;

    std::string port_text() const { return std::to_string(port_); }

private:
    int listener_ = -1;
    int filler_ = -1;
    std::uint16_t port_ = 0;
};
