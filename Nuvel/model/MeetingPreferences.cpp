#include "Nuvel/model/MeetingPreferences.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace nuvel {
namespace {
constexpr const char* detectionKey = "meetings.detection";
constexpr const char* remindersKey = "meetings.reminders";
constexpr const char* mutedAppsKey = "meetings.mutedApps";
} // namespace

MeetingPreferences::MeetingPreferences(std::shared_ptr<DefaultsStore> defaults)
    : defaults_(std::move(defaults)) {}

bool MeetingPreferences::detectionEnabled() const {
    return defaults_->boolean(detectionKey).value_or(true);
}

void MeetingPreferences::setDetectionEnabled(bool enabled) {
    defaults_->set(detectionKey, enabled);
}

bool MeetingPreferences::remindersEnabled() const {
    return defaults_->boolean(remindersKey).value_or(true);
}

void MeetingPreferences::setRemindersEnabled(bool enabled) {
    defaults_->set(remindersKey, enabled);
}

std::set<MeetingApp> MeetingPreferences::mutedApps() const {
    std::set<MeetingApp> apps;
    for (const auto& raw : defaults_->stringList(mutedAppsKey).value_or(std::vector<std::string>{}))
        if (auto app = meetingAppFromRawValue(raw))
            apps.insert(*app);
    return apps;
}

void MeetingPreferences::setMutedApps(const std::set<MeetingApp>& apps) {
    std::vector<std::string> raw;
    raw.reserve(apps.size());
    for (MeetingApp app : apps)
        raw.emplace_back(rawValue(app));
    std::sort(raw.begin(), raw.end());
    defaults_->set(mutedAppsKey, json::Value(raw));
}

} // namespace nuvel
