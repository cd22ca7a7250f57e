#include "Nuvel/platform/MicrophoneSourceCheck.hpp"

#include "Nuvel/platform/MicrophoneDevices.hpp"
#include "Nuvel/platform/PulseRecordStream.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Time.hpp"

namespace nuvel {

namespace {

constexpr std::uint32_t ringSlots = 64;
constexpr std::uint32_t ringFrames = 8192;

// What one check holds on the server. The ring is declared first so that it outlives the
// stream whose callbacks write into it.
struct CheckSession {
    std::unique_ptr<AudioRing> ring;
    std::shared_ptr<PulseConnection> connection;
    std::unique_ptr<PulseRecordStream> stream;

    CheckSession() : ring(std::make_unique<AudioRing>(ringSlots, ringFrames)) {}
    CheckSession(const CheckSession&) = delete;
    CheckSession& operator=(const CheckSession&) = delete;
    ~CheckSession() { close(); }

    // Called on the main thread or a worker, never on the server's thread: closing takes the
    // mainloop lock and releasing the connection joins that thread.
    void close() {
        if (stream)
            stream->close();
        stream.reset();
        connection.reset();
    }
};

// Runs on a worker: everything here may wait for the server.
void open(CheckSession& session, const PulseConnection::Options& server,
          std::optional<std::uint32_t> microphoneDeviceID) {
    session.connection = PulseConnection::connect(server);
    PulseRecordStream::Options options;
    options.source = MicrophoneDevices::apply(*session.connection, microphoneDeviceID);
    options.streamName = "Nuvel source check";
    AudioRing* ring = session.ring.get();
    // The server's thread: push and return, no lock, no allocation.
    auto consumer = [ring](const float* mono, std::uint32_t frames, double sampleRate, double hostTime) {
        const float* channels[1] = {mono};
        ring->push(channels, 1, frames, hostTime, sampleRate);
    };
    auto problems = [ring](PulseRecordStream::Problem problem) {
        if (problem == PulseRecordStream::Problem::failed)
            ring->markDropped();
    };
    session.stream = std::make_unique<PulseRecordStream>(session.connection, options, consumer, problems);
}

} // namespace

Task<void> microphoneSourceCheck(Executor* executor, PulseConnection::Options server,
                                 std::optional<std::uint32_t> microphoneDeviceID,
                                 std::weak_ptr<SourceCheckMeters> meters) {
    auto session = std::make_shared<CheckSession>();
    // A named callable: GCC 12 destroys a capturing lambda written inside a co_await twice.
    auto opening = [session, server, microphoneDeviceID] { open(*session, server, microphoneDeviceID); };
    co_await runOn(*executor, opening);
    if (!(session->stream->sampleRate() > 0) || session->stream->channels() < 1)
        throw RecordingError(RecordingError::Code::invalidTransport);
    co_await SourceCheck::microphonePasses(session->ring.get(), &hostTimeSeconds, std::move(meters));
    session->close();
}

} // namespace nuvel
