#pragma once

#include "Nuvel/platform/CaptureEngine.hpp"
#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/PulseSystemAudioService.hpp"
#include "Nuvel/platform/SystemAudioService.hpp"
#include "NuvelKit/capture/CaptureClock.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"

#include <memory>

namespace nuvel {

// Everything a capture source takes from its surroundings: a fresh audio engine per capture,
// the application and system audio service, the main actor, the executor for blocking platform
// and store calls, and the host clock. It outlives every capture made with it.
class CapturePlatform {
public:
    virtual ~CapturePlatform() = default;

    virtual std::unique_ptr<CaptureEngine> makeEngine() = 0;
    virtual SystemAudioService& systemAudio() = 0;
    virtual MainQueue& mainQueue() = 0;
    virtual Executor& executor() = 0;
    virtual CaptureClock& clock() = 0;
};

// The real one, over one sound server connection.
class PulseCapturePlatform final : public CapturePlatform {
public:
    PulseCapturePlatform(std::shared_ptr<PulseConnection> connection, MainQueue& mainQueue,
                         Executor& executor, PulseSystemAudioService::Options options = {});

    std::unique_ptr<CaptureEngine> makeEngine() override;
    SystemAudioService& systemAudio() override { return systemAudio_; }
    MainQueue& mainQueue() override { return mainQueue_; }
    Executor& executor() override { return executor_; }
    CaptureClock& clock() override { return HostCaptureClock::shared(); }

private:
    std::shared_ptr<PulseConnection> connection_;
    MainQueue& mainQueue_;
    Executor& executor_;
    PulseSystemAudioService systemAudio_;
};

} // namespace nuvel
