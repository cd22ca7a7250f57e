// The program's entry: the text direction, one instance per user, the information properties,
// the application services and the delegate, and the one event loop.
#include "Nuvel/app/ApplicationServices.hpp"
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/platform/InfoProperties.hpp"
#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/QtSingleInstance.hpp"
#include "Nuvel/platform/QtTerminationSignals.hpp"
#include "Nuvel/ui/common/EnglishWording.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/shell/AppDelegate.hpp"
#include "Nuvel/ui/widgets/ReturnKey.hpp"
#include "Nuvel/ui/widgets/TextDirectionStyle.hpp"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QSessionManager>
#include <cstdio>
#include <optional>
#include <thread>

#ifndef NUVEL_VERSION
#define NUVEL_VERSION "0"
#endif

namespace nuvel {

namespace {

// The last line behind every handler: an error that one let out would cross the event loop,
// which ends the program and any recording with it. Handlers catch what they expect; what gets
// past them is dropped here with the model's trace, and the event counts as not handled.
class NuvelApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            Failure::current().drop("handling a window-system event");
            return false;
        }
    }
};

// Every request to quit that reaches the application object goes through the delegate; the
// delegate ends the loop itself once quitting may go on.
class QuitRequests final : public QObject {
public:
    explicit QuitRequests(AppDelegate& delegate) : delegate_(delegate) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
            delegate_.requestQuit(QuitCoordinator::Origin::interactive);
            return true;
        }
        return false;
    }

private:
    AppDelegate& delegate_;
};

// The nuvel:// address the desktop started us with, if any.
std::optional<QString> addressArgument(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(QStringLiteral("nuvel:"), Qt::CaseInsensitive))
            return arguments[i];
    }
    return std::nullopt;
}

} // namespace

int AppDelegate::main(int argc, char** argv) {
    NuvelApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nuvel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Nuvel"));
    QApplication::setApplicationVersion(QStringLiteral(NUVEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("nuvel"));
    EnglishWording wording;
    QCoreApplication::installTranslator(&wording);
    useTextDirectionStyle();
    useReturnAsSpace();
    // The window thread never waits on the sound server: a debug build stops where it would.
    PulseConnection::refuseWaitsOn(std::this_thread::get_id());

    const std::optional<QString> address = addressArgument(QApplication::arguments());
    QtSingleInstance instance;
    switch (instance.claim(address ? QStringLiteral("open ") + *address : QStringLiteral("reopen"))) {
    case QtSingleInstance::Role::forwarded:
        return 0;
    case QtSingleInstance::Role::failed: {
        // Started from the desktop, nobody reads the terminal.
        std::fprintf(stderr, "nuvel: %s\n", qPrintable(instance.failure()));
        QtDialogs dialogs;
        Alert alert;
        alert.message = localized("Nuvel cannot start.");
        alert.informativeText = instance.failure();
        alert.buttons = {localized("Quit")};
        dialogs.runModal(alert);
        return 1;
    }
    case QtSingleInstance::Role::primary:
        break;
    }

    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setLayoutDirection(preferredLayoutDirection());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/nuvel.svg")));

    std::optional<InfoProperties> info;
    try {
        info = InfoProperties::load(InfoProperties::executableFolder() / InfoProperties::fileName);
        (void)info->serviceOrigin();
        (void)info->webOrigin();
    } catch (const InfoPropertiesError& error) {
        std::fprintf(stderr, "nuvel: %s\n", error.what());
        QtDialogs dialogs;
        Alert alert;
        alert.message = localized("Nuvel cannot start.");
        alert.informativeText = QString::fromUtf8(error.what());
        alert.buttons = {localized("Quit")};
        dialogs.runModal(alert);
        return 1;
    }

    ApplicationServices services(*info);
    AppDelegate delegate(services.model(), services.factories(), services.environment());
    instance.onMessage = [&delegate](const QString& message) { delegate.handleInstanceMessage(message); };

    QtTerminationSignals terminationSignals;
    terminationSignals.onSignal = [&delegate](int) {
        delegate.requestQuit(QuitCoordinator::Origin::unattended);
    };
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate](QSessionManager& manager) {
                         const bool asks = manager.allowsInteraction();
                         const auto reply = delegate.requestQuit(asks ? QuitCoordinator::Origin::interactive
                                                                      : QuitCoordinator::Origin::unattended);
                         if (asks)
                             manager.release();
                         if (reply == QuitCoordinator::Reply::cancel && asks)
                             manager.cancel();
                     });
    QuitRequests quitRequests(delegate);
    app.installEventFilter(&quitRequests);

    delegate.launch();
    if (address)
        delegate.openURL(*address);
    const int status = QApplication::exec();
    app.removeEventFilter(&quitRequests);
    return status;
}

} // namespace nuvel
