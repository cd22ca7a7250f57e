#include "NuvelKit/capture/SourceCheck.hpp"

#include "NuvelKit/capture/CaptureWatchdog.hpp"
#include "NuvelKit/store/RecordingError.hpp"

namespace nuvel {

Task<void> SourceCheck::microphonePasses(AudioRing* ring, std::function<double()> now,
                                         std::weak_ptr<SourceCheckMeters> meters) {
    const double checkStart = now();
    for (int pass = 0; pass < passes; ++pass) {
        co_await checkCancellation();
        while (ring->readSamples()) {
        }
        if (auto sink = meters.lock())
            sink->setMicrophoneLevel(ring->level());
        if (ring->overflowed() ||
            !CaptureWatchdog::isHealthy(false, now(), checkStart, ring->lastCallbackHostTime()))
            throw RecordingError(RecordingError::Code::invalidTransport);
        co_await sleepFor(passInterval);
    }
}

} // namespace nuvel
