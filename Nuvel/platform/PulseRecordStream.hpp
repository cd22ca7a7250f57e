#pragma once

#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/RecordStreamTimeline.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pa_stream;
struct pa_time_event;
struct pa_sink_input_info;
struct pa_mainloop_api;
struct timeval;

namespace nuvel {

// Records one source (a microphone, or a sink's monitor for all system audio) or one
// application's sink-input, as timed mono float pieces.
//
// The stream asks the server for float32 samples in fragments of `fragmentSeconds` and lets
// it adjust the device latency to them. Each read is split into pieces of at most
// `maxFramesPerPiece` frames, downmixed to mono (the mean of the channels) into buffers that
// were allocated when the stream was opened, and handed to the consumer with its sample rate
// and the host time (nuvel::hostTimeSeconds) of its first frame.
//
// Host times: the first read is anchored at "now minus the stream's latency", with the
// latency fetched from the server at that moment (the data waits for the answer); later
// pieces follow at frames / rate, kept on the host clock by RecordStreamTimeline (a device
// clock that runs slow leaves a gap, one that runs fast loses a few frames). After a hole in
// the data, or after a stretch of generated silence, the next read is anchored again, never
// earlier than where the previous piece ended, so pieces never overlap. A server may hold back
// a fresh stream's first audio and then send it at once (PipeWire does, for up to about two
// seconds): those pieces keep the times they were recorded at, so they reach the consumer
// late.
//
// A paused application: while the recorded sink-input is corked the server sends nothing. So
// that a quiet meeting still shows a living source, a timer checks every
// `silenceCheckInterval` s; when no data has come for `stallSeconds` and the server reports
// the sink-input corked, silence is delivered up to `silenceLagSeconds` before now, timed as
// if it had been recorded. A sink-input that is not corked but silent gets no filler: its
// stall is real. A server that opens the stream only once the sink-input plays (PipeWire
// does) leaves it opening: after `pendingOpenSeconds` the constructor returns, and the timer's
// silence runs until the audio comes.
//
// Losses (a server's overflow or hole, a timeline's correction) are added to the process's
// CaptureLossTally.
//
// Threads: the consumer and the problem handler run on the connection's mainloop thread, the
// audio thread of this layer. They must not block, lock or allocate; push into a lock-free
// ring and return. After `close()` (or the destructor) returns neither runs again. Open
// and close the stream off the mainloop thread (opening waits for the server).
class PulseRecordStream {
public:
    static constexpr std::uint32_t maxFramesPerPiece = 8192;
    static constexpr double silenceCheckInterval = 0.1;
    static constexpr double stallSeconds = 0.25;
    static constexpr double silenceLagSeconds = 0.1;
    // How long opening waits for the stream of a paused sink-input (see above).
    static constexpr double pendingOpenSeconds = 0.3;

    struct Options {
        // The source to record by name; absent = the default source.
        std::optional<std::string> source;
        // Record only this sink-input (one application's sound) instead of a source.
        std::optional<std::uint32_t> sinkInput;
        // Absent = the source's own rate and channel count. One channel records the device's
        // own channels and mixes them here, the same on every server.
        std::optional<std::uint32_t> sampleRate;
        std::optional<std::uint32_t> channels;
        double fragmentSeconds = 0.025;
        std::string streamName = "Nuvel capture";
        // Above 0: opening also waits, at most this long, until the first piece (or the first
        // silence of a paused application) has been handed on. A fresh stream's first audio
        // comes late, in one lump whose older part is cut downstream; once it has come, what
        // plays after the constructor returns arrives on time.
        double primeSeconds = 0;
    };

    enum class Problem {
        hole,      // the server lost data before we read it
        moved,     // the stream was moved to another device
        suspended, // the device was suspended
        failed,    // the stream ended: its device or sink-input went away or moved, or the
                   // server did
    };

    using Consumer =
        std::function<void(const float* mono, std::uint32_t frames, double sampleRate, double hostTime)>;
    using ProblemHandler = std::function<void(Problem problem)>;

    // Opens the stream and waits until it records. Throws `PulseError`: failed with
    // PA_ERR_NOENTITY for a source or sink-input that does not exist, PA_ERR_INVALID for a
    // rate or channel count the server cannot record.
    PulseRecordStream(std::shared_ptr<PulseConnection> connection, Options options, Consumer consumer,
                      ProblemHandler problems);
    ~PulseRecordStream();
    PulseRecordStream(const PulseRecordStream&) = delete;
    PulseRecordStream& operator=(const PulseRecordStream&) = delete;

    void close();

    double sampleRate() const { return rate_; }
    std::uint32_t channels() const { return channels_; }
    // The source the server records from (for a sink-input, its sink's monitor).
    const std::string& deviceName() const { return deviceName_; }
    // True once the stream reported `Problem::failed`.
    bool hasFailed() const { return failed_.load(); }

private:
    void open(const Options& options);
    void release();
    void onReadable();
    void consume(const unsigned char* data, std::size_t bytes);
    void anchor();
    void flushPiece();
    void emitSilence();
    void noteDelivery();
    void report(Problem problem);
    void fail();
    double latencySeconds() const;

    static void onState(pa_stream* stream, void* self);
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    static void onMoved(pa_stream* stream, void* self);
    static void onSuspended(pa_stream* stream, void* self);
    static void onOverflow(pa_stream* stream, void* self);
    static void onTiming(pa_stream* stream, int success, void* self);
    static void onTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
    static void onCorkInfo(pa_context* context, const pa_sink_input_info* info, int eol, void* self);

    std::shared_ptr<PulseConnection> connection_;
    Consumer consumer_;
    ProblemHandler problems_;
    pa_stream* stream_ = nullptr;
    pa_time_event* timer_ = nullptr;
    pa_operation* corkQuery_ = nullptr;
    pa_operation* timingQuery_ = nullptr;
    std::optional<std::uint32_t> sinkInput_;
    std::string deviceName_;
    double rate_ = 0;
    std::uint32_t channels_ = 0;
    std::size_t frameBytes_ = 0;
    bool ready_ = false;
    bool closed_ = false;
    std::atomic<bool> failed_{false};

    // Mainloop thread only, all allocated when the stream opens.
    std::vector<float> mono_;                                 // maxFramesPerPiece frames
    std::vector<float> silence_;                              // maxFramesPerPiece zeros
    std::array<unsigned char, 32 * sizeof(float)> partial_{}; // a frame split between reads
    std::size_t partialBytes_ = 0;
    std::uint32_t pieceFrames_ = 0;
    RecordStreamTimeline timeline_{1};
    bool needsAnchor_ = true;
    bool timingFresh_ = false; // a timing update arrived since the last anchor
    double lastDataAt_ = 0;    // host time of the last read with data (or of opening)
    bool corkedSeen_ = false;
    bool delivered_ = false; // a piece or silence has been handed on
};

} // namespace nuvel
