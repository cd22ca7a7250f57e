#include "NuvelKit/capture/MicrophoneConsumer.hpp"

#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"

#include <algorithm>
#include <vector>

namespace nuvel {

void MicrophoneConsumer::run(AudioRing& ring, LiveAudioSink& store, const Uuid& recordingID,
                             double sampleRate, CaptureClock& clock, std::stop_token stop) {
    // What is queued goes to the live file in as few appends as the store takes: each append
    // also rewrites the file's header.
    std::vector<float> batch;
    batch.reserve(RecordingStore::maxLiveSamples);
    double sleep = idleSleep;
    auto appendAll = [&] {
        std::size_t slots = 0;
        std::size_t frames = 0;
        for (;;) {
            const std::size_t before = batch.size();
            const bool more = ring.readSamplesInto(batch);
            if (more) {
                ++slots;
                frames += batch.size() - before;
            }
            if (!batch.empty() &&
                (!more || batch.size() + ring.capacity() > RecordingStore::maxLiveSamples)) {
                store.appendLiveAudio(batch, sampleRate, recordingID);
                batch.clear();
            }
            if (!more)
                break;
        }
        if (slots > 0) {
            const double piece = double(frames) / double(slots) / sampleRate;
            sleep = std::clamp(piece * ring.slotCount() / 4, shortestSleep, idleSleep);
        }
    };
    try {
        // Slots are appended back to back without a look at the stop: the stop is seen only
        // when the ring is empty, and then everything left is appended anyway.
        while (!stop.stop_requested()) {
            appendAll();
            if (!clock.sleep(sleep, stop))
                break;
        }
        appendAll();
    } catch (...) {
        ring.markDropped();
        throw;
    }
}

Task<LocalRecording> drainMicrophoneCapture(std::shared_ptr<AudioRing> ring,
                                            std::unique_ptr<ConsumerRun>& consumer,
                                            std::shared_ptr<LiveAudioSink> store, Uuid recordingID,
                                            Executor& executor) {
    // Lambdas inside a co_await expression capture only trivially destructible values: GCC 12
    // destroys such temporaries twice. `store` keeps the sink alive for the whole drain.
    LiveAudioSink* sink = store.get();
    while (!ring->isIdle())
        co_await sleepFor(0.001);

    std::exception_ptr consumerError;
    if (consumer) {
        consumer->cancel();
        co_await consumer->finished();
        consumerError = consumer->error();
        consumer.reset();
    }
    if (consumerError) {
        try {
            co_await runOn(executor, [sink, recordingID] { return sink->finishLiveSegment(recordingID); });
        } catch (...) {
            // The consumer's failure is the one to report; the audio it wrote is kept either way.
        }
        std::rethrow_exception(consumerError);
    }
    LocalRecording recording =
        co_await runOn(executor, [sink, recordingID] { return sink->finishLiveSegment(recordingID); });
    if (ring->overflowed())
        throw RecordingError(RecordingError::Code::invalidTransport);
    co_return recording;
}

} // namespace nuvel
