#pragma once

#include "Nuvel/model/shell/ShellParts.hpp"
#include "Nuvel/platform/InfoProperties.hpp"
#include "Nuvel/platform/SignedUpdater.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// Owns the updater when this build's properties ask for a locked-down one (UpdateSafety), keeps
// the one status sentence of the settings window, refuses checks and installs while audio work
// runs, and holds the relaunch after an install until that work is over. Main thread only.
class UpdateController final : public ShellUpdates, public UpdaterDelegate {
public:
    // The sentence of the error that refuses a step while work runs.
    static constexpr const char* busyError = "Finish recording and uploading before updating Nuvel.";

    struct UpdaterSettings {
        std::string feedURL;
        Bytes publicKey; // raw 32 bytes
    };
    using MakeUpdater =
        std::function<std::unique_ptr<Updater>(const UpdaterSettings& settings, UpdaterDelegate& delegate)>;

    UpdateController(const InfoProperties& bundle, std::function<bool()> isBusy,
                     std::function<void()> onChange, MakeUpdater makeUpdater, const MainQueue& queue,
                     std::function<std::string(std::string_view)> localize);
    ~UpdateController() override;

    // ---- ShellUpdates ----
    bool isUpdating() const override { return isUpdating_; }
    bool hasDeferredRelaunch() const override { return static_cast<bool>(deferredRelaunch_); }
    void setStartupRestorationBegan(bool began) override { startupRestorationBegan_ = began; }
    void startIfReady() override;
    void checkForUpdates() override;
    std::string status() const override { return status_; }
    bool canCheckForUpdates() const override;

    bool configured() const { return static_cast<bool>(updater_); }

    // ---- UpdaterDelegate ----
    std::optional<std::string> mayPerformUpdateCheck() override;
    std::optional<std::string> shouldProceedWithUpdate(const UpdateItem& item) override;
    bool shouldPostponeRelaunch(std::function<bool()> relaunch) override;
    void didFinishUpdateCycle(const std::optional<std::string>& error) override;

private:
    void setStatus(std::string_view english);
    void changed();

    std::function<bool()> isBusy_;
    std::function<void()> onChange_;
    const MainQueue& queue_;
    std::function<std::string(std::string_view)> localize_;
    std::unique_ptr<Updater> updater_;
    bool startupRestorationBegan_ = false;
    bool updaterStarted_ = false;
    bool isUpdating_ = false;
    std::function<bool()> deferredRelaunch_;
    std::string status_;
};

} // namespace nuvel
