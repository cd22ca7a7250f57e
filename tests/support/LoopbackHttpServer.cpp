#include "tests/support/LoopbackHttpServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace nuvel::test {
namespace {

int listenOnLoopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

DroppingServer::DroppingServer() {
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([fd = listener_] {
        for (;;) {
            int client = ::accept(fd, nullptr, nullptr);
            if (client < 0)
                return;
            char buffer[4096];
            std::string seen;
            while (seen.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                seen.append(buffer, std::size_t(n));
            }
            ::close(client);
        }
    });
}

DroppingServer::~DroppingServer() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    if (thread_.joinable())
        thread_.join();
}

int closedLoopbackPort() {
    int port = 0;
    int fd = listenOnLoopback(port);
    ::close(fd);
    return port;
}

} // namespace nuvel::test
