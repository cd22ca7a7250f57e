#pragma once

#include "NuvelKit/detection/MeetingApp.hpp"
#include "NuvelKit/support/Defaults.hpp"

#include <memory>
#include <set>

namespace nuvel {

// The user's meeting settings, kept in the user defaults. Holds no state of its own: every
// read goes to the store, so a change made elsewhere shows at the next read.
//
//   "meetings.detection"  boolean, absent (or not a boolean) = true
//   "meetings.reminders"  boolean, absent (or not a boolean) = true
//   "meetings.mutedApps"  array of application raw values, absent = none
class MeetingPreferences {
public:
    explicit MeetingPreferences(std::shared_ptr<DefaultsStore> defaults);

    DefaultsStore& defaults() const { return *defaults_; }

    bool detectionEnabled() const;
    void setDetectionEnabled(bool enabled);
    bool remindersEnabled() const;
    void setRemindersEnabled(bool enabled);

    // Strings that name no application are dropped; so is a stored value that is not an array
    // of strings.
    std::set<MeetingApp> mutedApps() const;
    // Stores the raw values sorted in ascending order, so one set is always stored the same way.
    void setMutedApps(const std::set<MeetingApp>& apps);

private:
    std::shared_ptr<DefaultsStore> defaults_;
};

} // namespace nuvel
