#include "NuvelKit/store/RecordingClock.hpp"

namespace nuvel {
namespace {
// A negative (or NaN) stretch counts as zero.
double stretch(double from, double to) {
    double d = to - from;
    return d > 0 ? d : 0;
}
} // namespace

void RecordingClock::startAt(double now) {
    if (!start)
        start = now;
}

void RecordingClock::pauseAt(double now) {
    if (!start)
        return;
    accumulated += stretch(*start, now);
    start.reset();
}

double RecordingClock::elapsedAt(double now) const {
    return accumulated + (start ? stretch(*start, now) : 0.0);
}

} // namespace nuvel
