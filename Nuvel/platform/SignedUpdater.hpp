#pragma once

#include "Nuvel/platform/UpdateFeed.hpp"
#include "Nuvel/platform/UpdateInstaller.hpp"
#include "NuvelKit/service/HttpTransport.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace nuvel {

// What the updater asks its owner at each step. A refusal is the sentence of the error that
// ends the cycle. Main thread.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    virtual std::optional<std::string> mayPerformUpdateCheck() = 0;
    virtual std::optional<std::string> shouldProceedWithUpdate(const UpdateItem& item) = 0;
    // `relaunch` installs the staged build and relaunches; it answers false when either failed
    // (the running build then goes on). True: the owner holds it and runs it later.
    virtual bool shouldPostponeRelaunch(std::function<bool()> relaunch) = 0;
    // Every started cycle ends here, exactly once.
    virtual void didFinishUpdateCycle(const std::optional<std::string>& error) = 0;
};

// The updater as its controller sees it.
class Updater {
public:
    virtual ~Updater() = default;
    virtual void start() = 0;
    virtual bool canCheckForUpdates() const = 0;
    virtual void checkForUpdates() = 0;
};

// Our updater: fetches the signed feed, asks the user, downloads the archive, checks its
// length and signature before unpacking it beside the installed build, then hands the install
// and relaunch to the delegate, which may hold them while work runs. Checks only when asked.
class SignedUpdater final : public Updater {
public:
    struct Dependencies {
        MainQueue* queue = nullptr;
        Executor* executor = nullptr;
        std::shared_ptr<HttpTransport> transport;
        std::string feedURL;
        Bytes publicKey; // raw 32 bytes
        std::string currentVersion;
        std::filesystem::path installedTree;
        // Unpacks the archive once its signature holds (UpdateArchive::Unpack).
        UpdateArchive::Unpack unpack = nullptr;
        // The user's consent to install this release; installation always asks.
        std::function<bool(const UpdateItem& item)> confirmInstall;
        // Starts the new build after this process ends and ends this process in order; false
        // when the new build could not be started (this process then goes on).
        std::function<bool(const std::filesystem::path& program)> relaunch;
    };

    SignedUpdater(Dependencies dependencies, UpdaterDelegate& delegate);
    ~SignedUpdater() override;

    void start() override { started_ = true; }
    // Not while a staged build waits for its install.
    bool canCheckForUpdates() const override { return started_ && !cycle_ && !installer_->staged(); }
    void checkForUpdates() override;

private:
    struct Found {
        std::optional<UpdateItem> item;
        std::optional<std::string> error;
    };
    static Found fetchFeed(const Dependencies& d);
    static std::optional<std::string> download(const Dependencies& d, const UpdateItem& item,
                                               UpdateInstaller& installer);
    void found(Found result);
    void staged(const std::optional<std::string>& error);
    void finish(const std::optional<std::string>& error);
    template <class Work, class Then> void offMain(Work work, Then then);

    Dependencies d_;
    UpdaterDelegate& delegate_;
    std::shared_ptr<UpdateInstaller> installer_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool started_ = false;
    bool cycle_ = false;
};

} // namespace nuvel
