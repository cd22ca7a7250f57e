#include "NuvelKit/capture/CaptureClock.hpp"

#include "NuvelKit/support/Time.hpp"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace nuvel {

double HostCaptureClock::now() {
    return hostTimeSeconds();
}

bool HostCaptureClock::sleep(double seconds, std::stop_token stop) {
    if (stop.stop_requested())
        return false;
    if (!(seconds > 0))
        return true;
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    // Returns early only when the stop is requested: nothing else notifies this variable.
    wake.wait_for(lock, stop, std::chrono::duration<double>(seconds), [] { return false; });
    return !stop.stop_requested();
}

HostCaptureClock& HostCaptureClock::shared() {
    static HostCaptureClock clock;
    return clock;
}

} // namespace nuvel
