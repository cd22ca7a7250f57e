#pragma once

#include "Nuvel/model/AppModelDependencies.hpp"
#include "Nuvel/model/ModelState.hpp"
#include "Nuvel/model/ModelTasks.hpp"
#include "Nuvel/model/StatusText.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "NuvelKit/support/Time.hpp"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace nuvel {

// What the parts of the application model share: its dependencies (defaults filled in), the one
// state, the keyring vault, the cloud library, the tasks and the observers. The model owns it
// and every part holds a reference to it. Main queue only.
class ModelContext {
public:
    static constexpr const char* keychainService = "com.getnuvel.mac.production";

    // What a running task holds to keep the model (and with it every part) alive.
    using Hold = std::shared_ptr<const void>;

    // Throws std::invalid_argument when a required dependency is missing.
    explicit ModelContext(AppModelDependencies dependencies);
    ModelContext(const ModelContext&) = delete;
    ModelContext& operator=(const ModelContext&) = delete;

    // The model that owns this context: tasks that run for it hold it.
    void setOwner(std::weak_ptr<const void> owner) { owner_ = std::move(owner); }
    Hold hold() const { return owner_.lock(); }
    std::weak_ptr<const void> weakOwner() const { return owner_; }

    // The windows' observers, as the model forwards them.
    void setObservers(std::function<void()> changed, std::function<void()> ticked);
    void notifyChange() const;
    void notifyTick() const;

    MainQueue& queue() const { return *deps.mainQueue; }
    Executor& actors() const { return *deps.actorExecutor; }
    void requireMain(const char* where) const { deps.mainQueue->requireCurrent(where); }
    Date now() const { return deps.now(); }
    // Sleeps `seconds` on the continuous clock; see sleepUnlessCancelled.
    Task<bool> sleepUnlessCancelled(double seconds) const {
        return nuvel::sleepUnlessCancelled(seconds, deps.continuousNow);
    }
    std::string localized(std::string_view text) const { return deps.localize(text); }
    std::string localized(StatusText text) const { return localized(sentence(text)); }

    // The status line: `setMessage` also tells the windows; `writeMessage` leaves that to the
    // caller's own notification.
    void setMessage(StatusText text);
    void writeMessage(StatusText text) { state.writeMessage(localized(text)); }
    // The same for a sentence about one recording, or about the pane shown when it is written
    // (none: the empty pane): it goes once the windows show something else.
    void setMessageAbout(StatusText text, std::optional<Uuid> recording);
    void writeMessageAbout(std::string_view text, std::optional<Uuid> recording) {
        state.writeMessageAbout(localized(text), recording);
    }
    void writeMessageAbout(StatusText text, std::optional<Uuid> recording) {
        writeMessageAbout(sentence(text), recording);
    }

    AppModelDependencies deps;
    std::unique_ptr<CloudMeetingModel> cloud;
    KeychainVault vault;
    ModelState state;
    ModelTasks tasks;

private:
    std::weak_ptr<const void> owner_;
    std::function<void()> changed_;
    std::function<void()> ticked_;
};

} // namespace nuvel
