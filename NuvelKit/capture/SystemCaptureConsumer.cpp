#include "NuvelKit/capture/SystemCaptureConsumer.hpp"

#include "NuvelKit/capture/CaptureError.hpp"
#include "NuvelKit/capture/CaptureMixer.hpp"
#include "NuvelKit/capture/CaptureWatchdog.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

namespace nuvel {

namespace {

// The state of one run, and its steps.
class Run {
public:
    Run(const SystemCaptureConsumer::Inputs& inputs)
        : in_(inputs), mixer_(SystemCaptureConsumer::mixerCapacity, inputs.startedAt),
          savedFrames_(inputs.ledger->committedFrames()), latest_(inputs.startedAt) {}

    // Moves every buffer of both rings (the microphone's only when it is included) into the
    // mixer and the ledger.
    void drainRings() {
        drain(*in_.system, CaptureMixer::Source::system, SystemCaptureConsumer::systemRate, "system");
        if (in_.includesMicrophone)
            drain(*in_.microphone, CaptureMixer::Source::microphone, in_.microphoneRate, "microphone");
    }

    void checkHealth(double now) const {
        bool healthy =
            !in_.system->overflowed() && !in_.microphone->overflowed() &&
            CaptureWatchdog::isHealthy(false, now, in_.startedAt, in_.system->lastCallbackHostTime()) &&
            (!in_.includesMicrophone ||
             CaptureWatchdog::isHealthy(false, now, in_.startedAt, in_.microphone->lastCallbackHostTime()));
        if (!healthy)
            throw CaptureError(CaptureError::Code::sourceInterrupted);
    }

    // Renders and writes everything up to `until`.
    void writeUntil(double until) {
        for (;;) {
            std::vector<float> chunk = mixer_.render(until, SystemCaptureConsumer::chunkLimit);
            if (chunk.empty())
                return;
            write(chunk);
        }
    }

    // Everything appended so far.
    void writeAll() { writeUntil(latest_); }

    // After a failure: writes what the mixer still holds as far as the store accepts it.
    void flush() noexcept {
        try {
            writeUntil(latest_);
        } catch (...) {
            // The failure that ended the run is the one reported.
        }
    }

    void endSpan() { in_.ledger->endSpan(latest_); }
    void saveTimeline() {
        if (in_.store)
            in_.store->setSourceTimeline(in_.ledger->snapshot(), in_.recordingID);
    }

private:
    void drain(AudioRing& ring, CaptureMixer::Source source, double rate, const char* name) {
        while (auto buffer = ring.read()) {
            if (buffer->sampleRate != rate)
                throw CaptureError(CaptureError::Code::sourceInterrupted);
            const auto count = static_cast<std::int64_t>(buffer->samples.size());
            // Audio captured before this stretch began (a stream delivers what it recorded a
            // little earlier, so the first buffers after a start or resume may be older) is
            // paused time: not recorded, and not a reason to fail the stretch.
            if (buffer->hostTime + double(count) / rate <= in_.startedAt)
                continue;
            mixer_.append(buffer->samples, source, rate, buffer->hostTime);
            latest_ = std::max(latest_, buffer->hostTime + double(count) / rate);
            in_.ledger->recordInterval(name, buffer->hostTime, rate, count);
        }
    }

    void write(const std::vector<float>& chunk) {
        const auto frames = static_cast<std::int64_t>(chunk.size());
        if (!in_.store) {
            in_.ledger->commit(frames);
            return;
        }
        in_.store->appendLiveAudio(chunk, SystemCaptureConsumer::systemRate, in_.recordingID);
        in_.ledger->commit(frames);
        if (in_.ledger->committedFrames() - savedFrames_ >= SystemCaptureConsumer::saveInterval) {
            saveTimeline();
            savedFrames_ = in_.ledger->committedFrames();
        }
    }

    const SystemCaptureConsumer::Inputs& in_;
    CaptureMixer mixer_;
    std::int64_t savedFrames_;
    double latest_; // end of the latest buffer appended in this run
};

} // namespace

std::uint32_t SystemCaptureConsumer::staleFrames(double hostTime, std::uint32_t frames, double rate,
                                                 double now) noexcept {
    const double limit = now - latestAge;
    if (!(hostTime < limit) || !(rate > 0))
        return 0;
    const double stale = std::ceil((limit - hostTime) * rate);
    return stale >= double(frames) ? frames : std::uint32_t(stale);
}

void SystemCaptureConsumer::run(const Inputs& inputs, CaptureClock& clock, std::stop_token stop) {
    Run run(inputs);
    try {
        while (!stop.stop_requested()) {
            // The clock is read before the rings are drained: a buffer pushed after this moment
            // begins no earlier than `latestAge` before it, behind nothing this pass renders, also
            // when this thread is held up between the drain and the render.
            const double now = clock.now();
            run.drainRings();
            run.checkHealth(now);
            run.writeUntil(now - renderLag);
            if (!clock.sleep(passInterval, stop))
                break;
        }
        // Finishing: everything accepted before the stop is written, including the audio that
        // was still inside the render lag.
        run.drainRings();
        run.writeAll();
        run.endSpan();
        run.saveTimeline();
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        run.flush();
        run.endSpan();
        try {
            run.saveTimeline();
        } catch (...) {
            // The failure that ended the run is the one reported.
        }
        // Both rings now refuse pushes and report the loss, so the capture turns unhealthy.
        inputs.system->markDropped();
        inputs.microphone->markDropped();
        std::rethrow_exception(error);
    }
}

Task<LocalRecording> drainSystemCapture(std::shared_ptr<AudioRing> microphone,
                                        std::shared_ptr<AudioRing> system,
                                        std::unique_ptr<ConsumerRun>& consumer,
                                        std::shared_ptr<LiveAudioSink> store, Uuid recordingID,
                                        Executor& executor) {
    // Lambdas inside a co_await expression capture only trivially destructible values: GCC 12
    // destroys such temporaries twice. `store` keeps the sink alive for the whole drain.
    LiveAudioSink* sink = store.get();
    while (!microphone->isIdle() || !system->isIdle())
        co_await sleepFor(0.001);

    std::exception_ptr consumerError;
    if (consumer) {
        consumer->cancel();
        co_await consumer->finished();
        consumerError = consumer->error();
    }
    consumer.reset();

    if (consumerError) {
        if (store) {
            try {
                co_await runOn(executor,
                               [sink, recordingID] { return sink->finishLiveSegment(recordingID); });
            } catch (...) {
                // The run's failure is the one reported; the audio it wrote is kept either way.
            }
        }
        std::rethrow_exception(consumerError);
    }
    if (!store)
        throw RecordingError(RecordingError::Code::invalidManifest);
    LocalRecording recording =
        co_await runOn(executor, [sink, recordingID] { return sink->finishLiveSegment(recordingID); });
    if (microphone->overflowed() || system->overflowed())
        throw CaptureError(CaptureError::Code::sourceInterrupted);
    co_return recording;
}

} // namespace nuvel
