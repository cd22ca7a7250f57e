#pragma once

// A loopback HTTP server standing in for the meeting-library API in the client tests: it records
// every request exactly as it arrived and answers with the test's handler.

#include "NuvelKit/meetings/NativeMeetingClient.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/support/LoopbackHttpServer.hpp"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace nuvel::test {

struct SeenRequest {
    std::string method;
    std::string path;  // as sent, percent escapes kept
    std::string query; // as sent; "<none>" without "?"
    httplib::Headers headers;
    std::string body;

    bool has(const std::string& name) const { return headers.find(name) != headers.end(); }
    std::string header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? "<none>" : it->second;
    }
    std::string line() const { return method + " " + path + (query == "<none>" ? "" : "?" + query); }
};

using Answer = std::function<void(const httplib::Request&, httplib::Response&)>;

inline Answer answerJSON(std::string body, int status = 200) {
    return [body = std::move(body), status](const httplib::Request&, httplib::Response& rs) {
        rs.status = status;
        rs.set_content(body, "application/json");
    };
}

class MeetingService {
public:
    MeetingService() {
        auto handler = [this](const httplib::Request& rq, httplib::Response& rs) {
            SeenRequest seen{rq.method, rq.target, "<none>", rq.headers, rq.body};
            if (auto q = rq.target.find('?'); q != std::string::npos) {
                seen.path = rq.target.substr(0, q);
                seen.query = rq.target.substr(q + 1);
            }
            Answer answer;
            {
                std::lock_guard guard(lock_);
                log_.push_back(seen);
                answer = answer_;
            }
            cv_.notify_all();
            answer(rq, rs);
        };
        http.server.Get(".*", handler);
        http.server.Post(".*", handler);
        http.server.Put(".*", handler);
        http.server.Patch(".*", handler);
        http.server.Delete(".*", handler);
        http.start();
    }
    // Handlers still running are waited for before the log goes away.
    ~MeetingService() { http.stop(); }
    MeetingService(const MeetingService&) = delete;
    MeetingService& operator=(const MeetingService&) = delete;

    std::string origin() const { return "http://127.0.0.1:" + std::to_string(http.port()); }

    void answer(Answer a) {
        std::lock_guard guard(lock_);
        answer_ = std::move(a);
    }

    std::vector<SeenRequest> log() {
        std::lock_guard guard(lock_);
        return log_;
    }
    SeenRequest last() {
        std::lock_guard guard(lock_);
        if (log_.empty()) {
            ADD_FAILURE() << "no request arrived";
            return {};
        }
        return log_.back();
    }
    void clear() {
        std::lock_guard guard(lock_);
        log_.clear();
    }
    // Waits (bounded) until `count` requests have arrived.
    bool waitForRequests(std::size_t count) {
        std::unique_lock guard(lock_);
        return cv_.wait_for(guard, std::chrono::seconds(20), [&] { return log_.size() >= count; });
    }

    LoopbackHttpServer http;

private:
    std::mutex lock_;
    std::condition_variable cv_;
    std::vector<SeenRequest> log_;
    Answer answer_ = answerJSON("{}");
};

// A gate that handlers wait at until the test opens it; bounded, so a broken test cannot hang.
class Gate {
public:
    void open() {
        {
            std::lock_guard guard(lock_);
            open_ = true;
        }
        cv_.notify_all();
    }
    // True when opened, false when the wait ran out.
    bool wait(std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock guard(lock_);
        return cv_.wait_for(guard, limit, [&] { return open_; });
    }
    bool isOpen() {
        std::lock_guard guard(lock_);
        return open_;
    }

private:
    std::mutex lock_;
    std::condition_variable cv_;
    bool open_ = false;
};

// One exchange read and written as raw bytes, for what the HTTP server would tidy up: takes one
// connection, keeps the request's head and sends `answer` as it is.
class RawHttpExchange {
public:
    explicit RawHttpExchange(std::string answer) : answer_(std::move(answer)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 1) != 0) {
            ::close(listener_);
            throw std::runtime_error("bind/listen");
        }
        socklen_t len = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0)
                return;
            char buffer[4096];
            while (seen_.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                seen_.append(buffer, std::size_t(n));
            }
            (void)!::write(client, answer_.data(), answer_.size());
            ::close(client);
        });
    }
    ~RawHttpExchange() {
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(listener_);
    }
    RawHttpExchange(const RawHttpExchange&) = delete;
    RawHttpExchange& operator=(const RawHttpExchange&) = delete;

    int port() const { return port_; }
    // The request's head; call after the request has been answered.
    std::string request() {
        if (thread_.joinable())
            thread_.join();
        return seen_;
    }

private:
    int listener_ = -1;
    int port_ = 0;
    std::string answer_;
    std::string seen_;
    std::thread thread_;
};

inline std::shared_ptr<HttpTransport> curl() {
    return std::make_shared<CurlTransport>();
}

// The RecordingError case thrown by `f`; fails the test when it throws nothing or something else.
template <class F> RecordingError::Code recordingFailure(F&& f) {
    try {
        f();
    } catch (const RecordingError& e) {
        return e.code();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other error: " << e.what();
        return RecordingError::Code::ambiguousRequest;
    }
    ADD_FAILURE() << "no error";
    return RecordingError::Code::ambiguousRequest;
}

// The MeetingClientError thrown by `f`.
template <class F> MeetingClientError clientFailure(F&& f) {
    try {
        f();
    } catch (const MeetingClientError& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other error: " << e.what();
        return MeetingClientError(0, "");
    }
    ADD_FAILURE() << "no error";
    return MeetingClientError(0, "");
}

} // namespace nuvel::test
