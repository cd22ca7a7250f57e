#pragma once

#include "Nuvel/model/capture/SourceChoices.hpp"
#include "Nuvel/ui/sheets/SourceCheckController.hpp"
#include "NuvelKit/support/Task.hpp"

#include <vector>

namespace nuvel {

// What the new-recording sheet reads of the sound server: the microphones to offer, the
// applications whose audio can be captured, and the source checks. The application's own is
// over its sound-server connection; tests fake it.
class RecordingSources {
public:
    virtual ~RecordingSources() = default;

    // The input devices in the order to offer them. Blocks on the sound server: called off the
    // main thread. Throws when they cannot be listed.
    virtual std::vector<MicrophoneChoice> inputDevices() = 0;
    // The capturable applications, each with the identifier detection knows it by where it has
    // one. Main actor; throws when they cannot be listed.
    virtual Task<std::vector<ApplicationChoice>> availableApplications() = 0;
    // The checks the source-check sheet runs.
    virtual SourceChecks checks() = 0;
};

} // namespace nuvel
