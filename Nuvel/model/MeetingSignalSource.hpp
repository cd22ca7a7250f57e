#pragma once

#include "NuvelKit/detection/MeetingSignals.hpp"

namespace nuvel {

// Where the meeting monitor takes its signals from. Called on the main queue, once per poll;
// it must answer at once (no waiting on other processes).
class MeetingSignalSource {
public:
    virtual ~MeetingSignalSource() = default;
    virtual MeetingSignals currentSignals() = 0;
};

} // namespace nuvel
