#pragma once

#include <httplib.h>
#include <string>
#include <thread>

namespace nuvel::test {

// A real HTTP server on 127.0.0.1 with an ephemeral port, run on its own thread for the life of
// the object. Register handlers on `server` before calling `start`.
class LoopbackHttpServer {
public:
    LoopbackHttpServer() = default;
    ~LoopbackHttpServer() { stop(); }
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    void start() {
        port_ = server.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::yield();
    }
    void stop() {
        server.stop();
        if (thread_.joinable())
            thread_.join();
    }
    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    httplib::Server server;

private:
    int port_ = 0;
    std::thread thread_;
};

// A TCP listener that reads one request and closes the connection without answering.
class DroppingServer {
public:
    DroppingServer();
    ~DroppingServer();
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens.
int closedLoopbackPort();

} // namespace nuvel::test
