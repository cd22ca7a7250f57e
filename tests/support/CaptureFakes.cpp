#include "tests/support/CaptureFakes.hpp"

#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingSegment.hpp"
#include "NuvelKit/support/Time.hpp"

#include <chrono>
#include <stdexcept>

namespace nuvel::test {

FakeLiveAudioSink::FakeLiveAudioSink()
    : recording_(
          LocalRecording::make("account", std::nullopt, "Test", false, Date{700000000}, Uuid::random())) {}

void FakeLiveAudioSink::appendLiveAudio(std::span<const float> samples, double sampleRate, const Uuid&) {
    std::lock_guard lock(mutex_);
    if (appendsBeforeFailure_) {
        if (*appendsBeforeFailure_ == 0)
            throw std::runtime_error("append failed");
        --*appendsBeforeFailure_;
    }
    if (samples.empty() || samples.size() > 32768 || (pendingFrames_ > 0 && sampleRate != pendingRate_))
        throw RecordingError(RecordingError::Code::invalidTransport);
    samples_.insert(samples_.end(), samples.begin(), samples.end());
    pendingFrames_ += std::int64_t(samples.size());
    pendingRate_ = sampleRate;
    events_.push_back(Event{Event::Kind::append, std::int64_t(samples.size()), sampleRate, std::nullopt});
}

LocalRecording FakeLiveAudioSink::finishLiveSegment(const Uuid&) {
    std::lock_guard lock(mutex_);
    events_.push_back(Event{Event::Kind::finish, pendingFrames_, pendingRate_, std::nullopt});
    if (failFinish_)
        throw std::runtime_error("finish failed");
    if (pendingFrames_ > 0) {
        std::int64_t start = recording_.capturedFrames.value_or(0);
        RecordingSegment segment;
        segment.id = Uuid::random();
        segment.duration = double(pendingFrames_) / pendingRate_;
        segment.startedAt = recording_.createdAt.adding(double(start) / pendingRate_);
        segment.fileExtension = "caf";
        segment.capturedFrameStart = start;
        segment.captureFileKind = "live";
        recording_.segments.push_back(segment);
        recording_.capturedFrames = start + pendingFrames_;
        pendingFrames_ = 0;
    }
    return recording_;
}

void FakeLiveAudioSink::setSourceTimeline(const CaptureTimeline& timeline, const Uuid&) {
    std::lock_guard lock(mutex_);
    if (failTimeline_)
        throw std::runtime_error("timeline save failed");
    recording_.sourceTimeline = timeline;
    events_.push_back(Event{Event::Kind::timeline, timeline.committedFrames, 0, timeline});
}

void FakeLiveAudioSink::failAppendAfter(int n) {
    std::lock_guard lock(mutex_);
    appendsBeforeFailure_ = n;
}

void FakeLiveAudioSink::failFinishes(bool fail) {
    std::lock_guard lock(mutex_);
    failFinish_ = fail;
}

void FakeLiveAudioSink::failTimelineSaves(bool fail) {
    std::lock_guard lock(mutex_);
    failTimeline_ = fail;
}

std::vector<float> FakeLiveAudioSink::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

std::int64_t FakeLiveAudioSink::appendedFrames() const {
    std::lock_guard lock(mutex_);
    return std::int64_t(samples_.size());
}

std::vector<FakeLiveAudioSink::Event> FakeLiveAudioSink::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<CaptureTimeline> FakeLiveAudioSink::timelines() const {
    std::lock_guard lock(mutex_);
    std::vector<CaptureTimeline> result;
    for (const auto& event : events_)
        if (event.timeline)
            result.push_back(*event.timeline);
    return result;
}

int FakeLiveAudioSink::finishes() const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& event : events_)
        count += event.kind == Event::Kind::finish;
    return count;
}

LocalRecording FakeLiveAudioSink::recording() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

bool ParkingCaptureClock::sleep(double, std::stop_token stop) {
    std::unique_lock lock(mutex_);
    const int number = ++sleeps_;
    changed_.notify_all();
    changed_.wait(lock, stop, [&] { return released_ >= number; });
    return !stop.stop_requested();
}

bool ParkingCaptureClock::runPass(double timeoutSeconds) {
    std::unique_lock lock(mutex_);
    const int parked = sleeps_;
    released_ = parked;
    changed_.notify_all();
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                             [&] { return sleeps_ > parked; });
}

bool ParkingCaptureClock::waitForSleeps(int count, double timeoutSeconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                             [&] { return sleeps_ >= count; });
}

bool ScriptedCaptureClock::sleep(double seconds, std::stop_token stop) {
    if (stop.stop_requested())
        return false;
    ++sleeps_;
    now_ += seconds;
    if (onSleep)
        onSleep();
    return !stop.stop_requested();
}

void runWithWorkers(ManualMainQueue& queue, Task<void> task, double timeoutSeconds) {
    bool done = false;
    std::exception_ptr error;
    TaskHandle handle = spawn(queue, detail::storeOutcomeVoid(std::move(task), &done, &error));
    const double deadline = hostTimeSeconds() + timeoutSeconds;
    while (!handle.isFinished()) {
        if (hostTimeSeconds() > deadline)
            throw std::runtime_error("task did not finish in time");
        if (queue.drain() > 0)
            continue;
        // Work from a thread goes first; virtual time moves on only when none is coming.
        if (queue.waitAndDrain(0.002))
            continue;
        if (!handle.isFinished() && !queue.fireNextTimer())
            queue.waitAndDrain(0.05);
    }
    if (error)
        std::rethrow_exception(error);
    if (!done)
        throw std::runtime_error("task ended without finishing");
}

} // namespace nuvel::test
