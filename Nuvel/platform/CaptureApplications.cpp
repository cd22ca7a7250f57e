#include "Nuvel/platform/CaptureApplications.hpp"

#include "Nuvel/platform/ApplicationIdentity.hpp"

namespace nuvel {

void useDetectionIdentifiers(std::vector<SystemAudioCapture::Application>& applications,
                             const ProcessScanner& processes) {
    for (auto& application : applications)
        if (auto identity = processes.identity(application.id))
            if (auto bundleID = bundleIDFor(*identity))
                application.bundleIdentifier = *bundleID;
}

} // namespace nuvel
