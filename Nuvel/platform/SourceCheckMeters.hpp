#pragma once

namespace nuvel {

// The two level meters of the source check sheet, as the check writes them: ten times a
// second, on the main actor, levels 0...1. The check holds them weakly, so an open check never
// keeps a closed sheet alive.
class SourceCheckMeters {
public:
    virtual ~SourceCheckMeters() = default;

    virtual void setMicrophoneLevel(double level) = 0;
    // The application or system audio meter.
    virtual void setSystemLevel(double level) = 0;
};

} // namespace nuvel
