#include "Nuvel/app/SettingsAndUpdates.hpp"

#include "Nuvel/app/UpdateController.hpp"
#include "Nuvel/platform/ArchiveModule.hpp"
#include "Nuvel/platform/SignedUpdater.hpp"
#include "Nuvel/platform/TransportModule.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/settings/SettingsController.hpp"

#include <QDesktopServices>

#ifndef NUVEL_VERSION
#define NUVEL_VERSION "0"
#endif

namespace nuvel {

namespace {

bool confirmInstall(Dialogs& dialogs, const UpdateItem& item) {
    Alert alert;
    alert.message = localized("A new version of Nuvel is ready to install.");
    alert.informativeText = localized("Nuvel %1 quits and opens again once it is installed.")
                                .replace(QStringLiteral("%1"), QString::fromStdString(item.version));
    alert.buttons = {localized("Install Update"), localized("Cancel")};
    return dialogs.runModal(alert).button == 0;
}

// Starts the new build once this process has ended, then asks for the end through the quit
// path (after the caller's step has returned).
bool relaunchInto(const std::filesystem::path& program, MainQueue& queue, const std::function<void()>& quit) {
    try {
        files::FileDescriptor holder;
        relaunchAfterExit(program, holder);
        // Held open until the process ends: its closing starts the new build.
        (void)holder.release();
    } catch (const UpdateError&) {
        return false;
    }
    queue.post([quit] {
        if (quit)
            quit();
    });
    return true;
}

} // namespace

std::unique_ptr<ShellUpdates> makeApplicationUpdates(const InfoProperties& info, MainQueue& queue,
                                                     Executor& executor, Dialogs& dialogs,
                                                     std::function<bool()> isBusy,
                                                     std::function<void()> onChange,
                                                     std::function<void()> quit) {
    MainQueue* q = &queue;
    Executor* e = &executor;
    Dialogs* d = &dialogs;
    auto makeUpdater = [q, e, d, quit](const UpdateController::UpdaterSettings& settings,
                                       UpdaterDelegate& delegate) -> std::unique_ptr<Updater> {
        SignedUpdater::Dependencies deps;
        deps.queue = q;
        deps.executor = e;
        deps.transport = makeProgramHttpTransport();
        deps.feedURL = settings.feedURL;
        deps.publicKey = settings.publicKey;
        deps.currentVersion = NUVEL_VERSION;
        deps.installedTree = InfoProperties::executableFolder();
        deps.unpack = &unpackWithArchiveModule;
        deps.confirmInstall = [d](const UpdateItem& item) { return confirmInstall(*d, item); };
        deps.relaunch = [q, quit](const std::filesystem::path& program) {
            return relaunchInto(program, *q, quit);
        };
        return std::make_unique<SignedUpdater>(std::move(deps), delegate);
    };
    return std::make_unique<UpdateController>(info, std::move(isBusy), std::move(onChange),
                                              std::move(makeUpdater), queue,
                                              [](std::string_view text) { return localize(text); });
}

std::unique_ptr<ShellSettings> makeApplicationSettings(SettingsActions actions,
                                                       std::shared_ptr<DefaultsStore> defaults,
                                                       Dialogs& dialogs, const InfoProperties& info) {
    SettingsController::Platform platform;
    platform.dialogs = &dialogs;
    platform.loginItem = std::make_shared<LoginItem>(
        LoginItem::standardFolder(), InfoProperties::executableFolder() / UpdateInstaller::programName);
    platform.open = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    try {
        platform.website = QUrl(QString::fromStdString(info.webOrigin()));
    } catch (const InfoPropertiesError&) {
    }
    auto meetings = std::make_shared<MeetingPreferences>(defaults);
    return std::make_unique<SettingsController>(CapturePreferences(*defaults), std::move(meetings),
                                                std::move(actions), std::move(platform));
}

} // namespace nuvel
