#pragma once

#include <optional>

namespace nuvel {

// Elapsed capture time that stands still while paused. Times are seconds on a monotonic clock
// (the coordinator passes the host clock); a clock reading that goes backwards counts as no time.
struct RecordingClock {
    std::optional<double> start; // when the clock last started; absent while stopped or paused
    double accumulated = 0;      // time counted before the last start

    // Starts counting unless already counting (a second start keeps the first).
    void startAt(double now);
    // Adds the running stretch to `accumulated` and stops counting; no effect while stopped.
    void pauseAt(double now);
    double elapsedAt(double now) const;

    bool operator==(const RecordingClock&) const = default;
};

} // namespace nuvel
