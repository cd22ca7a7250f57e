#pragma once

#include "Nuvel/platform/RunningApplications.hpp"
#include "Nuvel/platform/SystemAudioCapture.hpp"

#include <vector>

namespace nuvel {

// Gives each capturable application the identifier detection knows its process by ("us.zoom.Zoom"
// rather than the sound server's "zoom"), so that the application a meeting prompt named can be
// found in the list. An application whose process names no known application keeps the
// identifier the sound server gave.
void useDetectionIdentifiers(std::vector<SystemAudioCapture::Application>& applications,
                             const ProcessScanner& processes);

} // namespace nuvel
