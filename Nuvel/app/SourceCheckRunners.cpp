#include "Nuvel/app/SourceCheckRunners.hpp"

#include "Nuvel/platform/MicrophoneSourceCheck.hpp"
#include "Nuvel/platform/SystemAudioCapture.hpp"

namespace nuvel {

SourceChecks makeSourceChecks(Executor& executor, CapturePlatform& platform) {
    SourceChecks checks;
    checks.microphone = [&executor](std::optional<std::uint32_t> deviceID, std::weak_ptr<SourceCheckMeters> meters) {
        return microphoneSourceCheck(&executor, {}, deviceID, std::move(meters));
    };
    checks.system = [&platform](SystemAudioSelection selection, bool includesMicrophone,
                                std::optional<std::uint32_t> deviceID, std::weak_ptr<SourceCheckMeters> meters) {
        return SystemAudioCapture::sourceCheck(selection, includesMicrophone, deviceID, std::move(meters), platform);
    };
    return checks;
}

} // namespace nuvel
