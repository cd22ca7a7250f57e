#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// The sixteen closures through which the settings window reaches the rest of the application.
// The application delegate binds them, each holding the delegate weakly: once it is gone each
// answers its neutral value ("Not signed in", false, empty, absent, off) and does nothing.
struct SettingsActions {
    // Calendar access as the settings window tells it apart.
    enum class CalendarAccess { off = 0, needsPermission = 1, denied = 2, granted = 3 };

    std::function<bool()> signedIn;
    std::function<std::string()> accountSummary;
    std::function<void()> signIn;
    std::function<void()> signOut;
    std::function<void()> clearCompletedCache;
    std::function<void()> exportDiagnostics;
    std::function<void()> checkForUpdates;
    std::function<std::string()> updateStatus;
    std::function<bool()> canCheckForUpdates;
    std::function<bool()> isCapturing;
    std::function<std::optional<std::int64_t>()> serverRetentionDays;
    std::function<std::vector<std::int64_t>()> serverRetentionChoices;
    std::function<void()> refreshRetention;
    std::function<void(std::int64_t days)> setServerRetentionDays;
    std::function<CalendarAccess()> calendarAccess;
    std::function<void(bool requestAccess)> meetingSettingsChanged;
};

} // namespace nuvel
