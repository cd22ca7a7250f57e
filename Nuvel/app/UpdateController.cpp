#include "Nuvel/app/UpdateController.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/UpdateSafety.hpp"

namespace nuvel {

namespace {

constexpr const char* notConfigured = "Signed updates are not configured for this build.";
constexpr const char* ready = "Signed updates are ready. Automatic checks require your permission; "
                              "installation always requires confirmation.";
constexpr const char* installing = "Installing the verified update…";
constexpr const char* busyChecking = "Finish recording and uploading before checking for updates.";
constexpr const char* waiting = "Update installation is waiting for recording and uploading to finish.";
constexpr const char* failed = "Update check could not finish. Try again later.";
constexpr const char* finished = "Update check finished.";

UpdateSafety::Configuration configurationOf(const InfoProperties& bundle) {
    UpdateSafety::Configuration c;
    c.feedURL = bundle.string("SUFeedURL");
    c.publicEDKey = bundle.string("SUPublicEDKey");
    c.requireSignedFeed = bundle.boolean("SURequireSignedFeed").value_or(false);
    c.verifyBeforeExtraction = bundle.boolean("SUVerifyUpdateBeforeExtraction").value_or(false);
    c.automaticallyUpdate = bundle.boolean("SUAutomaticallyUpdate").value_or(true);
    c.updatesEnabled = bundle.string("NuvelEnableUpdates") == std::optional<std::string>("YES");
    c.allowsAutomaticUpdates = bundle.boolean("SUAllowsAutomaticUpdates").value_or(true);
    return c;
}

} // namespace

UpdateController::UpdateController(const InfoProperties& bundle, std::function<bool()> isBusy,
                                   std::function<void()> onChange, MakeUpdater makeUpdater,
                                   const MainQueue& queue,
                                   std::function<std::string(std::string_view)> localize)
    : isBusy_(std::move(isBusy)), onChange_(std::move(onChange)), queue_(queue),
      localize_(std::move(localize)) {
    setStatus(notConfigured);
    const UpdateSafety::Configuration configuration = configurationOf(bundle);
    if (!UpdateSafety::validate(configuration) || !makeUpdater)
        return;
    UpdaterSettings settings{*configuration.feedURL, *base64Decode(*configuration.publicEDKey)};
    updater_ = makeUpdater(settings, *this);
    if (updater_)
        setStatus(ready);
}

UpdateController::~UpdateController() = default;

void UpdateController::setStatus(std::string_view english) {
    status_ = localize_ ? localize_(english) : std::string(english);
}

void UpdateController::changed() {
    if (onChange_)
        onChange_();
}

void UpdateController::startIfReady() {
    queue_.requireCurrent("UpdateController::startIfReady");
    if (isBusy_ && isBusy_())
        return;
    if (startupRestorationBegan_ && !updaterStarted_ && updater_) {
        updaterStarted_ = true;
        updater_->start();
        changed();
    }
    if (deferredRelaunch_) {
        std::function<bool()> relaunch = std::move(deferredRelaunch_);
        deferredRelaunch_ = nullptr;
        setStatus(installing);
        changed();
        if (!relaunch()) {
            // The held install or relaunch failed: the running build goes on and the cycle is over.
            isUpdating_ = false;
            setStatus(failed);
            changed();
        }
    }
}

void UpdateController::checkForUpdates() {
    queue_.requireCurrent("UpdateController::checkForUpdates");
    if (!updater_) {
        changed();
        return;
    }
    if (isBusy_ && isBusy_()) {
        setStatus(busyChecking);
        changed();
        return;
    }
    if (!updater_->canCheckForUpdates())
        return;
    isUpdating_ = true;
    changed();
    updater_->checkForUpdates();
}

bool UpdateController::canCheckForUpdates() const {
    return updater_ && updater_->canCheckForUpdates() && !(isBusy_ && isBusy_()) && !deferredRelaunch_;
}

std::optional<std::string> UpdateController::mayPerformUpdateCheck() {
    queue_.requireCurrent("UpdateController::mayPerformUpdateCheck");
    if (isBusy_ && isBusy_())
        return localize_ ? localize_(busyError) : std::string(busyError);
    isUpdating_ = true;
    changed();
    return std::nullopt;
}

std::optional<std::string> UpdateController::shouldProceedWithUpdate(const UpdateItem&) {
    queue_.requireCurrent("UpdateController::shouldProceedWithUpdate");
    if (isBusy_ && isBusy_())
        return localize_ ? localize_(busyError) : std::string(busyError);
    return std::nullopt;
}

bool UpdateController::shouldPostponeRelaunch(std::function<bool()> relaunch) {
    queue_.requireCurrent("UpdateController::shouldPostponeRelaunch");
    if (!(isBusy_ && isBusy_()))
        return false;
    deferredRelaunch_ = std::move(relaunch);
    setStatus(waiting);
    changed();
    return true;
}

void UpdateController::didFinishUpdateCycle(const std::optional<std::string>& error) {
    queue_.requireCurrent("UpdateController::didFinishUpdateCycle");
    isUpdating_ = static_cast<bool>(deferredRelaunch_);
    if (!deferredRelaunch_)
        setStatus(error ? failed : finished);
    changed();
}

} // namespace nuvel
