#pragma once

// Fakes for the capture pipeline's tests: the store's live writer, clocks for consumer runs,
// and a runner for main-queue tasks that wait on consumer threads.

#include "NuvelKit/capture/CaptureClock.hpp"
#include "NuvelKit/capture/LiveAudioSink.hpp"
#include "NuvelKit/capture/SourceCheck.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

namespace nuvel::test {

// The meters of a source check, keeping every microphone level they are given.
struct RecordedMeters final : SourceCheckMeters {
    std::vector<double> microphone;
    int systemSets = 0;
    void setMicrophoneLevel(double level) override { microphone.push_back(level); }
    void setSystemLevel(double) override { ++systemSets; }
};

// The store's live writer, in memory. Finishing turns the frames appended since the last
// finish into one segment of the recording. Safe from any thread (consumers append on theirs).
class FakeLiveAudioSink final : public LiveAudioSink {
public:
    struct Event {
        enum class Kind { append, finish, timeline };
        Kind kind;
        std::int64_t frames = 0; // append: the samples; finish: the segment's frames
        double sampleRate = 0;
        std::optional<CaptureTimeline> timeline;
    };

    FakeLiveAudioSink();

    void appendLiveAudio(std::span<const float> samples, double sampleRate, const Uuid& recordingID) override;
    LocalRecording finishLiveSegment(const Uuid& recordingID) override;
    void setSourceTimeline(const CaptureTimeline& timeline, const Uuid& recordingID) override;

    // Failure injection: the append after `n` more successful ones throws; each finish or
    // timeline save throws while set.
    void failAppendAfter(int n);
    void failFinishes(bool fail);
    void failTimelineSaves(bool fail);

    std::vector<float> samples() const;
    std::int64_t appendedFrames() const;
    std::vector<Event> events() const;
    std::vector<CaptureTimeline> timelines() const;
    int finishes() const;
    LocalRecording recording() const;

private:
    mutable std::mutex mutex_;
    LocalRecording recording_;
    std::vector<float> samples_;
    std::vector<Event> events_;
    std::int64_t pendingFrames_ = 0;
    double pendingRate_ = 0;
    std::optional<int> appendsBeforeFailure_;
    bool failFinish_ = false;
    bool failTimeline_ = false;
};

// A clock whose time the test sets, for consumer runs on their own threads: a sleep does not
// pass time; it waits until the run is stopped or the test lets one pass run (`runPass`). So
// a run makes one pass when it starts, one per `runPass`, and its finishing pass when it is
// cancelled, whatever the speed of the machine.
class ParkingCaptureClock final : public CaptureClock {
public:
    explicit ParkingCaptureClock(double start = 1000.0) : now_(start) {}

    double now() override { return now_.load(); }
    bool sleep(double seconds, std::stop_token stop) override;

    void set(double now) { now_.store(now); }
    void advance(double seconds) { now_.store(now_.load() + seconds); }
    // Waits (really, bounded) until `count` sleeps have begun since the clock was made.
    bool waitForSleeps(int count, double timeoutSeconds = 10.0);
    // Ends the sleep a run is parked in and waits until the run has made its next pass and
    // parked again. False when that does not happen in time.
    bool runPass(double timeoutSeconds = 10.0);

private:
    std::atomic<double> now_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    int sleeps_ = 0;
    int released_ = 0; // sleeps up to this number return as if their time had passed
};

// A clock for consumer runs on the test's own thread: every sleep advances the time by its
// length and calls `onSleep`, where the test plays the producers and may stop the run.
class ScriptedCaptureClock final : public CaptureClock {
public:
    explicit ScriptedCaptureClock(double start = 1000.0) : now_(start) {}

    double now() override { return now_; }
    bool sleep(double seconds, std::stop_token stop) override;

    void set(double now) { now_ = now; }
    int sleeps() const { return sleeps_; }

    std::function<void()> onSleep;

private:
    double now_;
    int sleeps_ = 0;
};

// Runs a task on a manual queue whose work also comes from other threads (consumer runs):
// posted work is drained, timers fire in virtual time, and while neither is there the runner
// waits for the threads. Returns the task's value or rethrows its error; fails after
// `timeoutSeconds` of real time.
void runWithWorkers(ManualMainQueue& queue, Task<void> task, double timeoutSeconds = 20.0);

template <class T> T runWithWorkers(ManualMainQueue& queue, Task<T> task, double timeoutSeconds = 20.0) {
    std::optional<T> value;
    std::exception_ptr error;
    runWithWorkers(queue, detail::storeOutcome(std::move(task), &value, &error), timeoutSeconds);
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

} // namespace nuvel::test
