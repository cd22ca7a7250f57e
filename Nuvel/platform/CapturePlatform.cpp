#include "Nuvel/platform/CapturePlatform.hpp"

#include "Nuvel/platform/PulseCaptureEngine.hpp"

namespace nuvel {

PulseCapturePlatform::PulseCapturePlatform(std::shared_ptr<PulseConnection> connection, MainQueue& mainQueue,
                                           Executor& executor, PulseSystemAudioService::Options options)
    : connection_(connection), mainQueue_(mainQueue), executor_(executor),
      systemAudio_(std::move(connection), std::move(options)) {}

std::unique_ptr<CaptureEngine> PulseCapturePlatform::makeEngine() {
    return std::make_unique<PulseCaptureEngine>(connection_);
}

} // namespace nuvel
