// The settings window's refresh and the actions of its controls.

#include "Nuvel/model/CalendarService.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/settings/SettingsController.hpp"
#include "NuvelKit/support/Files.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <filesystem>
#include <system_error>

namespace nuvel {

namespace {

QString daysTitle(const char* format, std::int64_t days) {
    return localized(format).replace(QStringLiteral("%d"), QString::number(days));
}

QString loginStatusText(LoginItem::Status status) {
    switch (status) {
    case LoginItem::Status::notRegistered:
        return localized("Launch at login is off.");
    case LoginItem::Status::enabled:
        return localized("Launch at login is enabled.");
    case LoginItem::Status::requiresApproval:
        return localized("Approve Nuvel in Login Items Settings to enable launch at login.");
    case LoginItem::Status::notFound:
        return localized("Install Nuvel in Applications before enabling launch at login.");
    }
    return localized("Check Login Items Settings for current status.");
}

QString calendarStatusText(SettingsActions::CalendarAccess access) {
    switch (access) {
    case SettingsActions::CalendarAccess::off:
        return localized("Calendar access is requested only when you turn this on.");
    case SettingsActions::CalendarAccess::needsPermission:
        return localized("Waiting for Calendar access.");
    case SettingsActions::CalendarAccess::denied:
        return localized("Calendar access is off. Allow Nuvel in System Settings to show upcoming meetings.");
    case SettingsActions::CalendarAccess::granted:
        return localized("Upcoming meetings appear in the library sidebar.");
    }
    return {};
}

// Shows a stored setting without running the box's handler, which is for the user's changes.
void setQuietly(QAbstractButton* box, bool checked) {
    const QSignalBlocker quiet(box);
    box->setChecked(checked);
}

} // namespace

void SettingsController::refresh() {
    const bool capturing = actions_.isCapturing && actions_.isCapturing();
    updateStatus_->setText(
        QString::fromStdString(actions_.updateStatus ? actions_.updateStatus() : std::string()));
    updateButton_->setEnabled(actions_.canCheckForUpdates && actions_.canCheckForUpdates());
    account_->setText(QString::fromStdString(actions_.accountSummary ? actions_.accountSummary()
                                                                     : localize("Not signed in")));
    const bool signedIn = actions_.signedIn && actions_.signedIn();
    signInButton_->setText(localized(signedIn ? "Sign out…" : "Sign in"));
    signInButton_->setEnabled(!capturing);
    setQuietly(notes_, preferences_.aiNotesDefault());

    const LoginItem::Status status =
        platform_.loginItem ? platform_.loginItem->status() : LoginItem::Status::notFound;
    setQuietly(login_, status == LoginItem::Status::enabled);
    loginStatus_->setText(loginStatusText(status));

    setQuietly(detection_, meetings_->detectionEnabled());
    const std::set<MeetingApp> muted = meetings_->mutedApps();
    const bool detectionOn = meetings_->defaults().boolean("meetings.detection").value_or(true);
    for (auto& [app, box] : appToggles_) {
        setQuietly(box, muted.count(app) == 0);
        box->setEnabled(detectionOn);
    }
    const bool calendarOn =
        meetings_->defaults().boolean(CalendarService::calendarSettingKey).value_or(false);
    setQuietly(calendar_, calendarOn);
    setQuietly(reminders_, meetings_->remindersEnabled());
    reminders_->setEnabled(calendarOn);
    calendarStatus_->setText(calendarStatusText(
        actions_.calendarAccess ? actions_.calendarAccess() : SettingsActions::CalendarAccess::off));

    retentionChoices_.clear();
    for (std::int64_t choice :
         actions_.serverRetentionChoices ? actions_.serverRetentionChoices() : std::vector<std::int64_t>{})
        if (choice > 0)
            retentionChoices_.push_back(choice);
    retention_->clear();
    retention_->addItem(localized("Choose server audio retention…"));
    for (std::int64_t choice : retentionChoices_)
        retention_->addItem(daysTitle("%d days", choice));
    const std::optional<std::int64_t> days =
        actions_.serverRetentionDays ? actions_.serverRetentionDays() : std::nullopt;
    if (!days) {
        retentionStatus_->setText(localized("Server retention is not loaded or unavailable."));
        retention_->setEnabled(false);
        retention_->setCurrentIndex(0);
        return;
    }
    retentionStatus_->setText(daysTitle("Server audio retention: %d days", *days));
    retention_->setEnabled(!capturing && !retentionChoices_.empty());
    const auto found = std::find(retentionChoices_.begin(), retentionChoices_.end(), *days);
    retention_->setCurrentIndex(
        found == retentionChoices_.end() ? 0 : 1 + int(found - retentionChoices_.begin()));
}

void SettingsController::toggleLogin() {
    try {
        if (!platform_.loginItem)
            throw std::filesystem::filesystem_error("no login item",
                                                    std::make_error_code(std::errc::not_supported));
        if (login_->isChecked())
            platform_.loginItem->registerItem();
        else
            platform_.loginItem->unregisterItem();
    } catch (const std::exception&) {
        if (platform_.dialogs != nullptr) {
            Alert alert;
            alert.message = localized("Login item could not be changed. Check Login Items Settings.");
            alert.buttons = {localized("OK")};
            platform_.dialogs->runModal(alert);
        }
    }
    refresh();
}

void SettingsController::openLoginSettings() {
    if (!platform_.loginItem || !platform_.open)
        return;
    try {
        files::createOwnerOnlyDirectories(platform_.loginItem->folder());
    } catch (const std::exception&) {
        // The file manager says what is wrong with the folder.
    }
    platform_.open(QUrl::fromLocalFile(QString::fromStdString(platform_.loginItem->folder().string())));
}

void SettingsController::accountAction() {
    if (actions_.isCapturing && actions_.isCapturing())
        return;
    if (actions_.signedIn && actions_.signedIn()) {
        if (actions_.signOut)
            actions_.signOut();
    } else if (actions_.signIn) {
        actions_.signIn();
    }
    refresh();
}

void SettingsController::toggleNotes() {
    preferences_.setAINotesDefault(notes_->isChecked());
}

void SettingsController::toggleDetection() {
    meetings_->setDetectionEnabled(detection_->isChecked());
    if (actions_.meetingSettingsChanged)
        actions_.meetingSettingsChanged(false);
    refresh();
}

void SettingsController::toggleApp(QAbstractButton* sender) {
    if (sender == nullptr)
        return;
    const std::optional<MeetingApp> app = meetingAppFromRawValue(sender->objectName().toStdString());
    if (!app)
        return;
    std::set<MeetingApp> muted = meetings_->mutedApps();
    if (sender->isChecked())
        muted.erase(*app);
    else
        muted.insert(*app);
    meetings_->setMutedApps(muted);
    if (actions_.meetingSettingsChanged)
        actions_.meetingSettingsChanged(false);
    refresh();
}

void SettingsController::toggleCalendar() {
    meetings_->defaults().set(CalendarService::calendarSettingKey, calendar_->isChecked());
    const bool requestAccess =
        meetings_->defaults().boolean(CalendarService::calendarSettingKey).value_or(false);
    if (actions_.meetingSettingsChanged)
        actions_.meetingSettingsChanged(requestAccess);
    refresh();
}

void SettingsController::toggleReminders() {
    meetings_->setRemindersEnabled(reminders_->isChecked());
    if (actions_.meetingSettingsChanged)
        actions_.meetingSettingsChanged(false);
    refresh();
}

void SettingsController::clearCache() {
    if ((actions_.isCapturing && actions_.isCapturing()) || platform_.dialogs == nullptr)
        return;
    Alert alert;
    alert.message = localized("Clear cached cloud meetings?");
    alert.informativeText =
        localized("Downloaded transcripts, notes and unsent correction drafts will be removed "
                  "from this Mac. Local recordings and meetings on Nuvel are preserved.");
    alert.buttons = {localized("Clear cache"), localized("Cancel")};
    // Unsent correction drafts go with it.
    alert.destructive = true;
    if (platform_.dialogs->runModal(alert).button == 0 && actions_.clearCompletedCache)
        actions_.clearCompletedCache();
}

void SettingsController::changeRetention() {
    const int i = retention_->currentIndex() - 1;
    if ((actions_.isCapturing && actions_.isCapturing()) || i < 0 || i >= int(retentionChoices_.size()) ||
        platform_.dialogs == nullptr)
        return;
    const std::int64_t days = retentionChoices_[std::size_t(i)];
    Alert alert;
    alert.message = localized("Change server audio retention?");
    alert.informativeText = localized("Shorter retention may remove server audio sooner. Local recordings "
                                      "and exported files are separate.");
    alert.buttons = {localized("Change"), localized("Cancel")};
    if (platform_.dialogs->runModal(alert).button == 0 && actions_.setServerRetentionDays)
        actions_.setServerRetentionDays(days);
    refresh();
}

void SettingsController::refreshRetention() {
    if (actions_.refreshRetention)
        actions_.refreshRetention();
}

void SettingsController::diagnostics() {
    if (actions_.exportDiagnostics)
        actions_.exportDiagnostics();
}

void SettingsController::checkForUpdates() {
    if (actions_.checkForUpdates)
        actions_.checkForUpdates();
    refresh();
}

void SettingsController::openWebsite() {
    if (platform_.open && platform_.website.isValid())
        platform_.open(platform_.website);
}

} // namespace nuvel
