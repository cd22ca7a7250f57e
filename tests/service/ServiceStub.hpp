#pragma once

// A service stand-in for client tests: a real HTTP server on loopback that records every
// request exactly as it arrived and answers each "METHOD /path" the way the test says.

#include "NuvelKit/service/CurlTransport.hpp"
#include "tests/support/LoopbackHttpServer.hpp"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nuvel::test {

struct Arrival {
    std::string method;
    std::string path;
    std::optional<std::string> query; // no value when the target had no "?"
    httplib::Headers headers;
    std::string body;

    std::optional<std::string> header(const std::string& name) const {
        auto it = headers.find(name);
        if (it == headers.end())
            return std::nullopt;
        return it->second;
    }
};

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
};

class ServiceStub {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    ServiceStub() {
        auto handler = [this](const httplib::Request& rq, httplib::Response& rs) { handle(rq, rs); };
        http.server.Get(".*", handler);
        http.server.Post(".*", handler);
        http.server.Put(".*", handler);
        http.start();
    }
    // The server's threads reach the members below it: they stop before those go.
    ~ServiceStub() { http.stop(); }
    ServiceStub(const ServiceStub&) = delete;
    ServiceStub& operator=(const ServiceStub&) = delete;

    // Answers of "METHOD /path" from now on; anything unregistered gets a 404.
    void on(const std::string& method, const std::string& path, Reply reply) {
        std::lock_guard guard(lock_);
        replies_[method + " " + path] = [reply](const httplib::Request&, httplib::Response& rs) {
            rs.status = reply.status;
            for (const auto& [name, value] : reply.headers)
                rs.set_header(name, value);
            if (!reply.body.empty() || reply.status != 204)
                rs.set_content(reply.body, reply.contentType.c_str());
        };
    }
    void on(const std::string& method, const std::string& path, Handler handler) {
        std::lock_guard guard(lock_);
        replies_[method + " " + path] = std::move(handler);
    }

    std::vector<Arrival> arrivals() const {
        std::lock_guard guard(lock_);
        return arrivals_;
    }
    Arrival last() const {
        std::lock_guard guard(lock_);
        return arrivals_.empty() ? Arrival{} : arrivals_.back();
    }
    std::size_t count() const {
        std::lock_guard guard(lock_);
        return arrivals_.size();
    }

    std::string origin() const { return http.url(""); }

    LoopbackHttpServer http;

private:
    void handle(const httplib::Request& rq, httplib::Response& rs) {
        Handler handler;
        {
            std::lock_guard guard(lock_);
            Arrival a{rq.method, rq.path, std::nullopt, rq.headers, rq.body};
            if (auto q = rq.target.find('?'); q != std::string::npos)
                a.query = rq.target.substr(q + 1);
            arrivals_.push_back(std::move(a));
            auto it = replies_.find(rq.method + " " + rq.path);
            if (it != replies_.end())
                handler = it->second;
        }
        if (handler) {
            handler(rq, rs);
        } else {
            rs.status = 404;
            rs.set_content(R"({"error":{"code":"not_found"}})", "application/json");
        }
    }

    mutable std::mutex lock_;
    std::map<std::string, Handler> replies_;
    std::vector<Arrival> arrivals_;
};

// The real libcurl transport, keeping a copy of every request the client hands it (header
// order and limits are visible only here: the server side sees headers as a map).
class ObservingTransport : public HttpTransport {
public:
    HttpResponse send(const HttpRequest& request, std::stop_token stop) override {
        {
            std::lock_guard guard(lock_);
            requests_.push_back(request);
        }
        return inner_.send(request, stop);
    }
    HttpRequest last() const {
        std::lock_guard guard(lock_);
        return requests_.empty() ? HttpRequest{} : requests_.back();
    }

private:
    mutable std::mutex lock_;
    std::vector<HttpRequest> requests_;
    CurlTransport inner_;
};

// A workspace contract that passes validation for "acc_1".
inline const char* contractText() {
    return R"({"contract_version":1,"account":{"id":"acc_1","email":"ada@example.com","name":"Ada"},)"
           R"("default_workspace_id":"ws_personal","selected_workspace_id":"ws_team",)"
           R"("workspaces":[{"id":"ws_personal","kind":"personal","name":"Personal","role":"owner","seat":true},)"
           R"({"id":"ws_team","kind":"team","name":"Team","role":"member","seat":false}],)"
           R"("workspace":{"id":"ws_team","kind":"team","name":"Team","role":"member","seat":false,)"
           R"("can_upload":true,"hard_max_meeting_seconds":14400},)"
           R"("limits":{"part_bytes":8388608,"max_parts":512,"max_source_bytes":4294967296,)"
           R"("upload_expires_seconds":86400,"heartbeat_seconds":30,"offline_access_seconds":3600},)"
           R"("capabilities":{"create_idempotency":true,"upload_reconciliation":true,"upload_heartbeat":true,)"
           R"("commit_reconciliation":false,"native_library":true}})";
}

} // namespace nuvel::test
