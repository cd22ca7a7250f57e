#pragma once

#include "Nuvel/platform/PulseError.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

struct pa_context;
struct pa_operation;
struct pa_server_info;
struct pa_sink_input_info;
struct pa_source_info;
struct pa_threaded_mainloop;

namespace nuvel {

// A change on the sound server that the capture layers care about.
struct PulseEvent {
    enum class Kind {
        sourceAdded,
        sourceRemoved,
        sourceChanged,
        sinkInputAdded,
        sinkInputRemoved,
        sinkInputMoved,   // the sink-input now plays to another sink (`sink`)
        sinkInputChanged, // anything else about it changed (cork state, volume, properties)
        defaultSourceChanged,
        defaultSinkChanged,
        disconnected, // the server went away; no further events follow
    };

    Kind kind = Kind::disconnected;
    std::uint32_t index = UINT32_MAX; // the source or sink-input
    std::string name;                 // the source's name, or the new default's name
    bool isMonitor = false;           // source events: the source is a sink's monitor
    std::uint32_t sink = UINT32_MAX;  // sink-input events: the sink it plays to
    bool corked = false;              // sink-input events: the application paused it
};

// One connection to the sound server: a threaded mainloop and a context.
//
// Threads: the mainloop runs on its own thread, which is also where every callback of this
// connection and of its streams runs (event handlers, stream data, stream problems). The
// blocking operations (`connect`, the introspection calls, opening and changing streams) must
// be called from other threads; they wait at most `timeoutSeconds` for the server and throw
// `PulseError` otherwise. Never release the last reference to a connection on its mainloop
// thread.
class PulseConnection {
public:
    struct Options {
        std::string applicationName = "Nuvel";
        // The server address; absent = the default server (which honours PULSE_SERVER).
        std::optional<std::string> server;
        // Bound of every wait for the server: connecting and each operation.
        double timeoutSeconds = 5.0;
    };

    // Connects and subscribes to source, sink-input and server events. Never starts a server.
    // Throws `PulseError` (noServer, timedOut) when no server answers in time.
    static std::shared_ptr<PulseConnection> connect(const Options& options);
    static std::shared_ptr<PulseConnection> connect() { return connect(Options{}); }

    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Debug builds: from now on, a wait for the server on `thread` (connecting, introspection,
    // opening or changing a stream) aborts with a message naming the call, as does the other
    // blocking work refused there (WindowThreadRefusal.hpp). The application names its main
    // thread, so blocking work that slipped onto the main queue shows at once; an empty id
    // lifts the refusal. Release builds ignore it.
    static void refuseWaitsOn(std::thread::id thread);

    // False once the server has gone away.
    bool isConnected() const;
    double timeoutSeconds() const { return timeoutSeconds_; }

    // Event handlers run on the mainloop thread: do not block there, and hop to your own
    // thread before touching state of another thread. After `removeEventHandler` returns
    // (called off the mainloop thread) the handler is not called again.
    using EventHandler = std::function<void(const PulseEvent&)>;
    using HandlerID = std::uint64_t;
    HandlerID addEventHandler(EventHandler handler);
    void removeEventHandler(HandlerID id);

    // ---- For the layers built on this connection ----

    // Holds the mainloop lock; required around every call into the context and its streams.
    // Not to be taken on the mainloop thread (callbacks already hold it), and never nested
    // around a wait.
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* mainloop_;
    };

    pa_context* context() const { return context_; }
    pa_threaded_mainloop* mainloop() const { return mainloop_; }
    bool onMainloopThread() const;

    // Runs `work` holding the mainloop lock, or straight away on the mainloop thread, whose
    // callbacks already hold it; returns what `work` returns.
    template <class Work> decltype(auto) locked(Work&& work) const {
        if (onMainloopThread())
            return work();
        Lock lock(*this);
        return work();
    }

    // With the lock held, off the mainloop thread: waits until `done()` is true. Throws
    // timedOut after the time limit and disconnected when the context fails meanwhile.
    void waitUntil(const std::function<bool()>& done, const char* what) const;
    // The same with a time limit of its own.
    void waitUntil(const std::function<bool()>& done, const char* what, double seconds) const;
    // With the lock held: waits for the operation to finish and releases it. A null operation
    // (refused at once) throws the context's error; a timeout cancels the operation and throws.
    void await(pa_operation* operation, const char* what) const;
    // Throws the context's current error as `PulseError` (failed, or disconnected).
    [[noreturn]] void throwContextError(const char* what) const;

private:
    struct SourceEntry {
        std::string name;
        bool isMonitor = false;
    };
    struct SinkInputEntry {
        std::uint32_t sink = UINT32_MAX;
        bool corked = false;
    };

    explicit PulseConnection(const Options& options);
    void start(const Options& options);
    void shutDown();
    void populateCaches();
    void dispatch(const PulseEvent& event);

    static void onContextState(pa_context* context, void* self);
    static void onSubscription(pa_context* context, int type, std::uint32_t index, void* self);
    static void onSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* self);
    static void onSinkInputInfo(pa_context* context, const pa_sink_input_info* info, int eol, void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    static void onInitialSource(pa_context* context, const pa_source_info* info, int eol, void* self);
    static void onInitialSinkInput(pa_context* context, const pa_sink_input_info* info, int eol, void* self);
    static void onInitialServer(pa_context* context, const pa_server_info* info, void* self);
    void noteSource(const pa_source_info& info, bool announce);
    void noteSinkInput(const pa_sink_input_info& info, bool announce);
    void noteServer(const pa_server_info& info, bool announce);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    double timeoutSeconds_ = 5.0;
    bool ready_ = false;
    bool closing_ = false;
    bool announcedDisconnect_ = false;

    // Touched under the mainloop lock only.
    std::map<HandlerID, std::shared_ptr<EventHandler>> handlers_;
    HandlerID nextHandler_ = 1;
    std::map<std::uint32_t, SourceEntry> sources_;
    std::map<std::uint32_t, SinkInputEntry> sinkInputs_;
    std::string defaultSource_;
    std::string defaultSink_;
};

} // namespace nuvel
