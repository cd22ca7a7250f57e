#include "tools/standin-service/StandinSockets.hpp"

#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>

namespace nuvel::standin {

namespace {

std::optional<int> portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return std::nullopt;
}

// Calls `act` with each open descriptor that is a connected socket, with its local and peer port.
template <class F> void eachConnectedSocket(F&& act) {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return;
    const int own = dirfd(dir);
    while (dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own)
            continue;
        sockaddr_storage local{}, peer{};
        socklen_t localLength = sizeof local, peerLength = sizeof peer;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &localLength) != 0)
            continue;
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
            continue;
        const std::optional<int> localPort = portOf(local), peerPort = portOf(peer);
        if (localPort && peerPort)
            act(static_cast<int>(fd), *localPort, *peerPort);
    }
    closedir(dir);
}

} // namespace

void shutdownConnection(int localPort, int remotePort) {
    eachConnectedSocket([&](int fd, int local, int peer) {
        if (local == localPort && peer == remotePort)
            shutdown(fd, SHUT_RDWR);
    });
}

void shutdownConnections(int localPort) {
    eachConnectedSocket([&](int fd, int local, int) {
        if (local == localPort)
            shutdown(fd, SHUT_RDWR);
    });
}

} // namespace nuvel::standin
