#pragma once

// Fakes for the pieces the application delegate builds, each writing what it is asked into
// one shared call log, and a fixture that builds the delegate over the real model.

#include "Nuvel/ui/shell/AppDelegate.hpp"
#include "tests/ui/ShellWorld.hpp"

#include <QLineEdit>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nuvel::test {

using CallLog = std::vector<std::string>;

class FakeLibrary final : public ShellLibrary {
public:
    explicit FakeLibrary(CallLog& log) : log_(log), view_(new QWidget), search_(new QLineEdit(view_)) {
        view_->setObjectName("fake-library");
    }
    ~FakeLibrary() override { delete view_.data(); }
    QWidget* view() override { return view_; }
    void populateToolbar(QToolBar*) override { log_.push_back("library.toolbar"); }
    QWidget* initialFocus() override { return search_; }
    void render() override { log_.push_back("library.render"); }
    void renderUpcoming() override { log_.push_back("library.renderUpcoming"); }
    void tick() override { log_.push_back("library.tick"); }
    void commitScratchpad() override { log_.push_back("library.commitScratchpad"); }
    void beginNewRecording(const RecordingSuggestion* suggestion) override {
        log_.push_back(suggestion ? "library.beginNewRecording(suggestion)" : "library.beginNewRecording");
        if (suggestion)
            suggestions.push_back(*suggestion);
    }
    void chooseAudioFile() override { log_.push_back("library.chooseAudioFile"); }
    void setCalendar(ShellCalendar* given) override { calendar = given; }
    bool cloudVisible() const override { return cloud; }
    QWidget* searchField() override { return search_; }
    bool findInScratchpad() override {
        log_.push_back("library.findInScratchpad");
        return true;
    }

    bool cloud = false;
    ShellCalendar* calendar = nullptr;
    std::vector<RecordingSuggestion> suggestions; // every suggestion the sheet was opened with
    QLineEdit* search() const { return search_; }

private:
    CallLog& log_;
    QPointer<QWidget> view_;
    QLineEdit* search_;
};

class FakeUpdates final : public ShellUpdates {
public:
    FakeUpdates(CallLog& log, std::function<bool()> isBusy, std::function<void()> onChange)
        : isBusy(std::move(isBusy)), onChange(std::move(onChange)), log_(log) {}
    bool isUpdating() const override { return updating; }
    bool hasDeferredRelaunch() const override { return relaunch; }
    void setStartupRestorationBegan(bool began) override {
        log_.push_back(began ? "updates.restorationBegan" : "updates.restorationNotBegun");
    }
    void startIfReady() override { log_.push_back("updates.startIfReady"); }
    void checkForUpdates() override { log_.push_back("updates.check"); }

    bool updating = false;
    bool relaunch = false;
    std::function<bool()> isBusy;
    std::function<void()> onChange;
    std::function<void()> quit; // what a relaunch after an install calls

private:
    CallLog& log_;
};

class FakeCalendar final : public ShellCalendar {
public:
    explicit FakeCalendar(CallLog& log) : log_(log) {}
    void refresh(bool requestAccess) override {
        log_.push_back(requestAccess ? "calendar.refresh(true)" : "calendar.refresh(false)");
        if (onChange)
            onChange();
    }
    std::optional<CalendarMeeting> currentMeeting() const override { return current; }
    std::optional<CalendarMeeting> current;

private:
    CallLog& log_;
};

class FakeMonitor final : public ShellMeetingMonitor {
public:
    explicit FakeMonitor(CallLog& log) : log_(log) {}
    void refresh() override { log_.push_back("monitor.refresh"); }

private:
    CallLog& log_;
};

class FakePrompts final : public ShellPrompts {
public:
    explicit FakePrompts(CallLog& log) : log_(log) {}
    bool showMicrophonePrompt(const MeetingMonitorPrompt&) override {
        log_.push_back("prompts.microphone");
        return true;
    }
    bool showReminderPrompt(const CalendarMeeting&) override {
        log_.push_back("prompts.reminder");
        return true;
    }
    void dismiss() override { log_.push_back("prompts.dismiss"); }

private:
    CallLog& log_;
};

class FakeSettings final : public ShellSettings {
public:
    explicit FakeSettings(CallLog& log) : log_(log) {}
    void show() override { log_.push_back("settings.show"); }
    void showMeetingsSection() override { log_.push_back("settings.meetings"); }
    void refresh() override { log_.push_back("settings.refresh"); }

private:
    CallLog& log_;
};

class FakeStatusItem final : public StatusItemView {
public:
    void render(const StatusItemAppearance& appearance) override {
        shown = appearance;
        ++renders;
    }
    QRect buttonGeometry() const override { return QRect(600, 0, 24, 24); }
    StatusItemAppearance shown;
    int renders = 0;
};

// The delegate over the real model, with every piece faked and logging.
struct DelegateFixture {
    explicit DelegateFixture(bool signedIn = true, bool withTray = true) : world(signedIn), tray(withTray) {}
    ~DelegateFixture() {
        delegate.reset();
        flushDeferredDeletes();
    }

    ShellFactories factories() {
        ShellFactories f;
        f.makeUpdates = [this](std::function<bool()> isBusy, std::function<void()> onChange,
                               std::function<void()> quit) {
            log.push_back("updates.make");
            auto made = std::make_unique<FakeUpdates>(log, std::move(isBusy), std::move(onChange));
            made->quit = std::move(quit);
            updates = made.get();
            return made;
        };
        f.makeLibrary = [this](AppModel&) {
            log.push_back(std::string("library.make") + (delegate->mainMenu() ? " after the menu" : ""));
            auto made = std::make_unique<FakeLibrary>(log);
            library = made.get();
            return made;
        };
        f.makeCalendar = [this] {
            log.push_back("calendar.make");
            return std::make_unique<FakeCalendar>(log);
        };
        f.makeMonitor = [this] {
            log.push_back("monitor.make");
            auto made = std::make_unique<FakeMonitor>(log);
            monitor = made.get();
            return made;
        };
        f.makePrompts = [this] { return std::make_unique<FakePrompts>(log); };
        if (!withSettings)
            return f;
        f.makeSettings = [this](SettingsActions actions) {
            log.push_back("settings.make");
            settingsActions = std::move(actions);
            return std::make_unique<FakeSettings>(log);
        };
        return f;
    }

    AppDelegate::Environment environment() {
        AppDelegate::Environment e;
        e.queue = &world.queue;
        e.executor = &world.executor;
        e.dialogs = &world.dialogs;
        e.defaults = &world.defaults;
        e.makeStatusItem = [this](QMenu*) -> std::unique_ptr<StatusItemView> {
            log.push_back(std::string("statusItem.make") + (delegate->libraryWindow() && delegate->companion()
                                                                ? " after the window and popover"
                                                                : ""));
            if (!tray)
                return nullptr;
            auto made = std::make_unique<FakeStatusItem>();
            statusItem = made.get();
            return made;
        };
        e.microphoneName = [](const std::string& uid) -> std::optional<std::string> {
            if (uid == "usb-mic")
                return std::string("USB Microphone");
            return std::nullopt;
        };
        e.terminate = [this] { ++terminations; };
        e.activate = [this] { log.push_back("activate"); };
        return e;
    }

    // Builds the delegate (not launched yet).
    AppDelegate& make() {
        delegate = std::make_unique<AppDelegate>(world.model, factories(), environment());
        return *delegate;
    }
    // Builds and launches it, and lets the model's start finish.
    AppDelegate& launched() {
        make().launch();
        world.queue.drain();
        return *delegate;
    }

    ShellWorld world;
    bool tray = true;
    bool withSettings = true;
    CallLog log;
    std::unique_ptr<AppDelegate> delegate;
    FakeUpdates* updates = nullptr;
    FakeLibrary* library = nullptr;
    FakeMonitor* monitor = nullptr;
    FakeStatusItem* statusItem = nullptr;
    // What the settings window was given, once it was made.
    std::optional<SettingsActions> settingsActions;
    int terminations = 0;
};

} // namespace nuvel::test
