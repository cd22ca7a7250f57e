#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct pa_context;
struct pa_source_info;
struct pa_source_output_info;
struct pa_server_info;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace nuvel {

// What the sound server reports about recording at one moment.
struct InputActivity {
    // One stream that records from an input device.
    struct Client {
        std::uint32_t index = UINT32_MAX;      // the server's source-output index
        std::optional<std::int32_t> processID; // application.process.id, as the client declared it
        std::string processBinary;             // application.process.binary; may be empty

        bool operator==(const Client&) const = default;
    };

    // A connection to the server is up.
    bool connected = false;
    // The default source is an input device (not a sink's monitor) and something records from it.
    bool defaultSourceRunning = false;
    // The streams that record, uncorked, from an input device (never from a monitor), in the
    // server's order.
    std::vector<Client> clients;

    bool operator==(const InputActivity&) const = default;
};

// Keeps an `InputActivity` current from a subscription on a connection of its own, so that
// reading it never waits for the server. The connection is made in the background; when the
// server is missing or goes away, the activity reads as disconnected (nothing recording) and
// a new connection is tried every `retrySeconds`.
//
// Threads: the sound library's callbacks run on a thread of this object; `snapshot` may be
// called from any thread.
class PulseInputActivity {
public:
    struct Options {
        std::string applicationName = "Nuvel";
        // The server address; absent = the default server (which honours PULSE_SERVER).
        std::optional<std::string> server;
        double retrySeconds = 5.0;
    };

    // How long after a recorder comes or goes its source is read once more.
    static constexpr double sourceSettleSeconds = 0.5;

    PulseInputActivity();
    explicit PulseInputActivity(Options options);
    ~PulseInputActivity();
    PulseInputActivity(const PulseInputActivity&) = delete;
    PulseInputActivity& operator=(const PulseInputActivity&) = delete;

    // The latest state; never waits for the server.
    InputActivity snapshot() const;

private:
    struct Source {
        std::string name;
        bool isMonitor = false;
        bool running = false;
    };
    struct Output {
        std::uint32_t source = UINT32_MAX;
        bool corked = false;
        std::optional<std::int32_t> processID;
        std::string processBinary;
    };

    // On the mainloop thread (or under its lock).
    void connectNow();
    void scheduleRetry();
    void refreshSourcesSoon();
    void forgetServer();
    void publish();

    static void onContextState(pa_context* context, void* self);
    static void onEvent(pa_context* context, int type, std::uint32_t index, void* self);
    static void onSource(pa_context* context, const pa_source_info* info, int eol, void* self);
    static void onOutput(pa_context* context, const pa_source_output_info* info, int eol, void* self);
    static void onServer(pa_context* context, const pa_server_info* info, void* self);
    static void onRetry(void* self);
    static void onSourceRefresh(void* self);

    Options options_;
    pa_threaded_mainloop* mainloop_ = nullptr;

    // Touched on the mainloop thread, or under its lock.
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    pa_time_event* sourceRefresh_ = nullptr;
    bool ready_ = false;
    bool closing_ = false;
    std::map<std::uint32_t, Source> sources_;
    std::map<std::uint32_t, Output> outputs_;
    std::string defaultSource_;

    mutable std::mutex publishedLock_;
    InputActivity published_;
};

} // namespace nuvel
