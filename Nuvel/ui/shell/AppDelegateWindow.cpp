// The main menu and the library window of the application delegate.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/library/LibraryWindowFrame.hpp"
#include "Nuvel/ui/shell/AppDelegate.hpp"
#include "NuvelKit/support/Defaults.hpp"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMoveEvent>
#include <QScreen>
#include <QToolBar>

namespace nuvel {

namespace {

// The library window: closing it only hides it, so it is reused every time the library is
// shown. It reports moves and resizes so its frame can be saved.
class LibraryWindow final : public QMainWindow {
public:
    std::function<void()> onFrameChanged;

protected:
    void moveEvent(QMoveEvent* event) override {
        QMainWindow::moveEvent(event);
        if (onFrameChanged)
            onFrameChanged();
    }
    void resizeEvent(QResizeEvent* event) override {
        QMainWindow::resizeEvent(event);
        if (onFrameChanged)
            onFrameChanged();
    }
};

// Wayland clients learn nothing of their position and cannot choose it.
bool placesWindows() {
    return !QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

} // namespace

void AppDelegate::buildMainMenu() {
    struct Item {
        const char* menu;
        const char* title; // null: a separator
        const char* action;
        QKeySequence key;
    };
    const Item items[] = {
        {"Nuvel", "About Nuvel", "orderFrontStandardAboutPanel", {}},
        {"Nuvel", "Check for Updates…", "checkForUpdates", {}},
        {"Nuvel", "Settings…", "showSettings", QKeySequence(Qt::CTRL | Qt::Key_Comma)},
        {"Nuvel", nullptr, nullptr, {}},
        {"Nuvel", "Hide Nuvel", "hide", QKeySequence(Qt::CTRL | Qt::Key_H)},
        {"Nuvel", "Quit Nuvel", "terminate", QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {"File", "New recording", "newRecording", QKeySequence(Qt::CTRL | Qt::Key_N)},
        {"File", "Import audio…", "importAudio", QKeySequence(Qt::CTRL | Qt::Key_O)},
        {"Edit", "Undo", "undo", QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {"Edit", "Redo", "redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
        {"Edit", nullptr, nullptr, {}},
        {"Edit", "Cut", "cut", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"Edit", "Copy", "copy", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {"Edit", "Paste", "paste", QKeySequence(Qt::CTRL | Qt::Key_V)},
        {"Edit", "Select all", "selectAll", QKeySequence(Qt::CTRL | Qt::Key_A)},
        {"Edit", "Find…", "findMeeting", QKeySequence(Qt::CTRL | Qt::Key_F)},
        {"Window", "Open library", "showLibrary", QKeySequence(Qt::CTRL | Qt::Key_1)},
    };
    const std::map<std::string_view, std::function<void()>> handlers = {
        {"orderFrontStandardAboutPanel", [this] { environment_.dialogs->showAbout(); }},
        {"checkForUpdates", [this] { checkForUpdates(); }},
        {"showSettings", [this] { showSettings(); }},
        {"hide", [this] { hideApplication(); }},
        {"terminate", [this] { requestQuit(QuitCoordinator::Origin::interactive); }},
        {"newRecording", [this] { newRecording(); }},
        {"importAudio", [this] { importAudio(); }},
        {"undo", [this] { sendToFocus("undo"); }},
        {"redo", [this] { sendToFocus("redo"); }},
        {"cut", [this] { sendToFocus("cut"); }},
        {"copy", [this] { sendToFocus("copy"); }},
        {"paste", [this] { sendToFocus("paste"); }},
        {"selectAll", [this] { sendToFocus("selectAll"); }},
        {"findMeeting", [this] { findMeeting(); }},
        {"showLibrary", [this] { showLibrary(); }},
    };

    menuBar_ = new QMenuBar;
    menuBar_->setObjectName(QStringLiteral("main-menu"));
    std::map<std::string_view, QMenu*> menus;
    for (const char* name : {"Nuvel", "File", "Edit", "Window"}) {
        // The application menu's title is the product name, as it is.
        const QString title = std::string_view(name) == "Nuvel" ? QStringLiteral("Nuvel") : localized(name);
        QMenu* menu = menuBar_->addMenu(title);
        menu->setObjectName(QStringLiteral("menu-") + QString::fromLatin1(name).toLower());
        menus[name] = menu;
    }
    for (const Item& item : items) {
        QMenu* menu = menus[item.menu];
        if (item.title == nullptr) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(localized(item.title));
        action->setObjectName(QString::fromLatin1(item.action));
        action->setShortcut(item.key);
        connect(action, &QAction::triggered, this, [handler = handlers.at(item.action)] {
            NUVEL_MAIN_ACTOR_ENTRY();
            handler();
        });
        actions_[item.action] = action;
    }
    if (!factories_.makeSettings)
        action("showSettings")->setEnabled(false);
    windowMenu_ = menus["Window"];
    connect(windowMenu_.data(), &QMenu::aboutToShow, this, [this] { fillWindowMenu(); });
}

// The Window menu lists the application's open windows after its own item.
void AppDelegate::fillWindowMenu() {
    for (QAction* listed : windowMenu_->actions()) {
        if (listed->property("nuvelWindowItem").toBool()) {
            windowMenu_->removeAction(listed);
            listed->deleteLater();
        }
    }
    QList<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = widget->windowType();
        if (widget->isVisible() && !widget->windowTitle().isEmpty() &&
            (type == Qt::Window || type == Qt::Dialog))
            windows.push_back(widget);
    }
    if (windows.isEmpty())
        return;
    QAction* separator = windowMenu_->addSeparator();
    separator->setProperty("nuvelWindowItem", true);
    for (QWidget* window : windows) {
        QAction* item = windowMenu_->addAction(window->windowTitle());
        item->setProperty("nuvelWindowItem", true);
        item->setCheckable(true);
        item->setChecked(window->isActiveWindow());
        QPointer<QWidget> target(window);
        connect(item, &QAction::triggered, this, [target] {
            if (!target)
                return;
            target->showNormal();
            target->raise();
            target->activateWindow();
        });
    }
}

void AppDelegate::sendToFocus(const char* slot) {
    // As the responder chain would: the widget with the keyboard focus acts when it can; a
    // control that cannot (a button has the focus) lets the command pass.
    QWidget* focus = QApplication::focusWidget();
    const QByteArray signature = QByteArray(slot) + "()";
    if (focus != nullptr && focus->metaObject()->indexOfMethod(signature.constData()) >= 0)
        QMetaObject::invokeMethod(focus, slot, Qt::DirectConnection);
}

void AppDelegate::hideApplication() {
    popover_->performClose();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowType() == Qt::Window)
            widget->showMinimized();
    }
}

QMainWindow* AppDelegate::makeLibraryWindow() {
    auto* window = new LibraryWindow;
    window->setObjectName(QStringLiteral("library-window"));
    // The product's name in Arabic script under an Arabic interface.
    window->setWindowTitle(prefersRightToLeft() ? QStringLiteral("نوفل") : QStringLiteral("Nuvel"));
    window->setLayoutDirection(preferredLayoutDirection());
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setMenuBar(menuBar_);
    window->setContextMenuPolicy(Qt::PreventContextMenu); // no toolbar customisation

    auto* toolbar = new QToolBar(window);
    toolbar->setObjectName(QStringLiteral("NuvelLibraryToolbar"));
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    window->addToolBar(toolbar);
    library_->populateToolbar(toolbar);

    QWidget* content = library_->view();
    content->setMinimumSize(LibraryWindowFrame::minimumWidth, LibraryWindowFrame::minimumHeight);
    window->setCentralWidget(content);
    placeLibraryWindow(window);
    if (QWidget* first = library_->initialFocus())
        first->setFocus(Qt::OtherFocusReason);

    QPointer<AppDelegate> weak(this);
    window->onFrameChanged = [weak] {
        if (weak && weak->launched_)
            weak->frameSave_.start();
    };
    return window;
}

void AppDelegate::placeLibraryWindow(QMainWindow* window) {
    QRect usable(0, 0, LibraryWindowFrame::defaultWidth, LibraryWindowFrame::defaultHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        usable = screen->availableGeometry();
    else if (!QGuiApplication::screens().isEmpty())
        usable = QGuiApplication::screens().first()->availableGeometry();

    DefaultsStore& defaults = *environment_.defaults;
    const std::optional<std::string> text = defaults.string(LibraryWindowFrame::defaultsKey);
    std::optional<std::string_view> saved;
    if (text)
        saved = *text;
    const std::optional<QRect> parsed = LibraryWindowFrame::restored(saved);
    const QRect frame = LibraryWindowFrame::clamped(usable, parsed);
    if (parsed && frame != *parsed)
        defaults.remove(LibraryWindowFrame::defaultsKey);
    if (placesWindows())
        window->setGeometry(frame);
    else
        window->resize(frame.size());
}

std::optional<std::string> AppDelegate::frameToSave() const {
    if (!window_ || !environment_.defaults)
        return std::nullopt;
    QRect frame = window_->geometry();
    if (!placesWindows())
        frame.moveTo(0, 0);
    std::string text = LibraryWindowFrame::text(frame);
    if (environment_.defaults->string(LibraryWindowFrame::defaultsKey) == text)
        return std::nullopt;
    return text;
}

void AppDelegate::writePendingFrame(PendingFrame& pending, DefaultsStore* defaults) {
    std::lock_guard writing(pending.writing);
    std::optional<std::string> text;
    {
        std::lock_guard guard(pending.lock);
        text.swap(pending.text);
    }
    if (text)
        attemptNow([&] {
            defaults->set(LibraryWindowFrame::defaultsKey, json::Value(*text));
        }).drop("saving the window frame");
}

void AppDelegate::saveLibraryWindowFrame() {
    frameSave_.stop();
    {
        // What the window shows now wins over any older frame still waiting.
        std::optional<std::string> text = frameToSave();
        std::lock_guard guard(pendingFrame_->lock);
        pendingFrame_->text = std::move(text);
    }
    if (environment_.defaults)
        writePendingFrame(*pendingFrame_, environment_.defaults);
}

void AppDelegate::saveLibraryWindowFrameLater() {
    if (environment_.executor == nullptr || !environment_.defaults) {
        saveLibraryWindowFrame();
        return;
    }
    {
        std::optional<std::string> text = frameToSave();
        std::lock_guard guard(pendingFrame_->lock);
        pendingFrame_->text = std::move(text);
        if (!pendingFrame_->text)
            return;
    }
    // The delegate writes what is still pending as it goes, so work that runs after it finds
    // nothing to write and never reaches the defaults.
    environment_.executor->execute([pending = pendingFrame_, defaults = environment_.defaults] {
        writePendingFrame(*pending, defaults);
    });
}

} // namespace nuvel
