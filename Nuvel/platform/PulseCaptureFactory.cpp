#include "Nuvel/platform/PulseCaptureFactory.hpp"

#include "Nuvel/platform/MicrophoneCapture.hpp"
#include "Nuvel/platform/SystemAudioCapture.hpp"
#include "NuvelKit/capture/StoreLiveAudioSink.hpp"
#include "NuvelKit/store/RecordingError.hpp"

namespace nuvel {

Task<std::unique_ptr<CaptureSource>> PulseCaptureFactory::start(CaptureRequest request) {
    RecordingStore* recordings = request.store ? request.store->recordingStore() : nullptr;
    if (recordings == nullptr)
        throw RecordingError(RecordingError::Code::missingMedia);
    // The sink shares ownership of the workspace store, so the store outlives the capture.
    auto sink =
        std::make_shared<StoreLiveAudioSink>(std::shared_ptr<RecordingStore>(request.store, recordings));
    if (!request.systemAudio) {
        auto capture = std::make_unique<MicrophoneCapture>(request.recordingID, sink,
                                                           request.microphoneDeviceID, platform_);
        // Choosing the device and opening its stream wait for the sound server.
        MicrophoneCapture* starting = capture.get();
        auto begin = [starting] { starting->start(); };
        co_await runOn(platform_.executor(), begin);
        co_return capture;
    }
    auto capture = std::make_unique<SystemAudioCapture>(sink, request.recordingID, *request.systemAudio, true,
                                                        request.microphoneDeviceID, platform_);
    co_await capture->start();
    co_return capture;
}

} // namespace nuvel
