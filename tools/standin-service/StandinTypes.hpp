#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuvel {

using StandinHeaders = std::vector<std::pair<std::string, std::string>>;

// How the service was started.
struct StandinOptions {
    int port = 0;      // 0: a free port chosen by the system
    bool seed = false; // add sample meetings to the default account at start
    // A request whose declared body is longer than this is refused with 413 before it is read.
    std::size_t maxBodyBytes = 64u * 1024 * 1024;
    // true: every read of a committed meeting's status (GET meetings/{id}) moves its processing one
    // step on ("queued" → "running" → "completed"); false: only setProcessingState moves it.
    bool advanceOnRead = true;
    // Most hits one search answers with; more matches set "truncated".
    std::size_t searchResultLimit = 50;
    // A folder where the service keeps its world between runs (empty: in memory only). A kept
    // world is loaded at start instead of seeding, and saved after every request that may change it.
    std::string stateFolder;
};

// Feature flags of the workspace contract.
struct StandinCapabilities {
    bool createIdempotency = true;
    bool uploadReconciliation = true;
    bool uploadHeartbeat = true;
    bool commitReconciliation = true;
    bool nativeLibrary = true;
    std::optional<bool> notepadSync = true; // nullopt: the key is left out
};

// Upload limits of the workspace contract. Values are sent as set, so a test may hand the client a
// contract that breaks its rules.
struct StandinLimits {
    std::int64_t partBytes = 4 * 1024 * 1024;
    std::int64_t maxParts = 256;
    std::int64_t maxSourceBytes = 1024LL * 1024 * 1024;
    std::int64_t uploadExpiresSeconds = 86400;
    std::int64_t heartbeatSeconds = 30;
    std::optional<double> offlineAccessSeconds = 86400; // nullopt: the key is left out
};

struct StandinWorkspace {
    std::string id;
    std::string kind = "team";
    std::string name;
    std::string role = "owner"; // "owner" and "admin" may change the workspace's settings
    bool seat = true;
    bool canUpload = true;
    double hardMaxMeetingSeconds = 4 * 3600;
};

struct StandinAccount {
    std::string id;
    std::string email;
    std::optional<std::string> name;
    std::vector<StandinWorkspace> workspaces; // in the order the bootstrap lists them
    std::string defaultWorkspaceId;
    StandinCapabilities capabilities;
    StandinLimits limits;
};

// One request as the service received it.
struct StandinLoggedRequest {
    std::uint64_t sequence = 0; // counts up from 1 over the service's life
    std::string method;
    std::string target;               // the request target exactly as sent (path and query)
    std::string path;                 // the target before "?", not decoded
    std::optional<std::string> query; // the text after "?", not decoded; nullopt without "?"
    StandinHeaders headers;           // as sent, ordered by name (the server library keeps no order)
    std::string bodySha256;           // lower-case hex of the body's SHA-256 (of nothing when the
                                      // body was over the limit and not kept)
    std::size_t bodyLength = 0;       // bytes sent (or declared, when refused unread)
    std::chrono::system_clock::time_point time;
    int status = 0; // the answer's status; 0 while pending or when dropped

    // The first header of that name (case-insensitive).
    std::optional<std::string> header(std::string_view name) const;
};

// What the service does instead of (or before) its normal answer to a matching request.
struct StandinFault {
    enum class Action {
        respond, // answer with `status`, `headers` and `body`
        drop,    // close the connection without an answer once the request was read
        proceed, // answer normally (after `delay`)
        lose,    // carry the request out, then close the connection without its answer
    };

    Action action = Action::respond;
    int status = 500;
    std::string body;
    std::string contentType = "application/json";
    StandinHeaders headers;
    std::chrono::milliseconds delay{0}; // waited before acting; stop() ends the wait
    std::optional<int> remaining;       // requests left to hit; nullopt: every matching request

    // {"error":{"code":code}} with that status.
    static StandinFault error(int status, std::string code);
    static StandinFault respond(int status, std::string body, std::string contentType = "application/json");
    // A small HTML error page, as a proxy in front of the service would send.
    static StandinFault htmlPage(int status);
    static StandinFault redirect(std::string location, int status = 302);
    static StandinFault delayed(std::chrono::milliseconds delay); // then the normal answer
    static StandinFault dropConnection();
    // The request takes effect, but its answer never arrives.
    static StandinFault loseAnswer();

    StandinFault& retryAfter(std::string value) { return header("Retry-After", std::move(value)); }
    StandinFault& header(std::string name, std::string value) {
        headers.emplace_back(std::move(name), std::move(value));
        return *this;
    }
    StandinFault& after(std::chrono::milliseconds wait) {
        delay = wait;
        return *this;
    }
    StandinFault& times(int count) {
        remaining = count;
        return *this;
    }
};

// The service's copy of a meeting's shared notepad.
struct StandinNotepad {
    std::int64_t revision = 0;
    std::string linesJson = "[]"; // the lines as a JSON array
};

// Rights one account gets on one meeting, replacing the computed ones.
struct StandinAccess {
    std::string role;
    std::string via;
    std::vector<std::pair<std::string, bool>> can;
};

} // namespace nuvel
