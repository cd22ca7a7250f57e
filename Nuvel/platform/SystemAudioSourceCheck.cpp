// The two operations of the system-audio capture that serve the screens before a recording:
// the list of capturable applications and the three-second source check.
#include "Nuvel/platform/SystemAudioCapture.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>
#include <exception>
#include <unistd.h>

namespace nuvel {

Task<std::vector<SystemAudioCapture::Application>>
SystemAudioCapture::availableApplications(CapturePlatform& platform) {
    platform.mainQueue().requireCurrent("SystemAudioCapture::availableApplications");
    SystemAudioService& service = platform.systemAudio();
    SystemAudioService::Content content =
        co_await runOn(platform.executor(), [&service] { return service.shareableContent(); });
    const auto own = static_cast<std::int32_t>(getpid());
    std::vector<Application> applications;
    for (const auto& entry : content.applications)
        if (entry.processID != own)
            applications.push_back(Application{entry.processID, entry.name, entry.bundleIdentifier});
    std::stable_sort(applications.begin(), applications.end(),
                     [](const Application& a, const Application& b) {
                         return unicode::localizedStandardCompare(a.name, b.name) < 0;
                     });
    co_return applications;
}

Task<void> SystemAudioCapture::sourceCheck(Selection selection, bool includesMicrophone,
                                           std::optional<std::uint32_t> microphoneDeviceID,
                                           std::weak_ptr<SourceCheckMeters> meters,
                                           CapturePlatform& platform) {
    platform.mainQueue().requireCurrent("SystemAudioCapture::sourceCheck");
    auto capture = std::make_unique<SystemAudioCapture>(nullptr, Uuid::random(), selection,
                                                        includesMicrophone, microphoneDeviceID, platform);
    // A failed start has cleaned up after itself.
    co_await capture->start();

    std::exception_ptr failure;
    try {
        for (int pass = 0; pass < SourceCheck::passes; ++pass) {
            co_await checkCancellation();
            const double microphoneLevel = capture->microphone_->level();
            const double systemLevel = capture->system_->level();
            if (auto target = meters.lock()) {
                target->setMicrophoneLevel(microphoneLevel);
                target->setSystemLevel(systemLevel);
            }
            if (!capture->isHealthy())
                throw CaptureError(CaptureError::Code::sourceInterrupted);
            co_await sleepFor(SourceCheck::passInterval);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    co_await capture->shutdown();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace nuvel
