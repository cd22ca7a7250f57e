#pragma once

// The library window over the real application model, with a cloud library whose state the test
// writes and whose requests it records, a calendar the test scripts, and the new-recording
// sheet's surroundings faked.

#include "Nuvel/ui/common/EnglishWording.hpp"
#include "Nuvel/ui/library/LibraryController.hpp"
#include "tests/model/FakeCloud.hpp"
#include "tests/ui/MeetingDetailWorld.hpp"
#include "tests/ui/SheetFakes.hpp"
#include "tests/ui/ShellWorld.hpp"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <memory>
#include <string>
#include <vector>

namespace nuvel::test {

// A calendar at a fixed time with the access and meetings the test gives it.
class ScriptedCalendar final : public ShellCalendar {
public:
    void refresh(bool) override {}
    std::optional<CalendarMeeting> currentMeeting() const override { return std::nullopt; }
    SettingsActions::CalendarAccess access() const override { return state; }
    std::vector<CalendarMeeting> meetings() const override { return held; }
    Date now() const override { return clock; }

    SettingsActions::CalendarAccess state = SettingsActions::CalendarAccess::off;
    std::vector<CalendarMeeting> held;
    Date clock{800000000};
};

inline MeetingSummary summary(std::string id, std::string title, double seconds = 65,
                              std::string state = "ready") {
    return MeetingSummary{std::move(id),
                          std::move(title),
                          std::move(state),
                          std::nullopt,
                          1,
                          accessAllowing({{"delete", true}}),
                          "",
                          seconds,
                          false,
                          1700000000,
                          std::nullopt};
}

inline MeetingSearchPage::Hit hit(std::string meetingID, std::string title, std::vector<std::string> pieces) {
    MeetingSearchPage::Hit h;
    h.meeting_id = std::move(meetingID);
    h.title = std::move(title);
    for (std::string& piece : pieces)
        h.snippet.push_back({std::move(piece), false});
    return h;
}

struct LibraryWorld {
    ShellWorld world;
    SheetWorld sheet;
    FakeCloud* cloud = nullptr;
    ScriptedCalendar calendar;
    int calendarSettingsOpened = 0;
    std::unique_ptr<LibraryController> library;

    // `seeded`: recordings saved in the store before the model starts.
    // `bootstrapRefusal`: the service refuses the stored session's contract with that status.
    // `email`: the signed-in account's address.
    explicit LibraryWorld(bool signedIn = true, const std::vector<LocalRecording>& seeded = {},
                          std::optional<int> bootstrapRefusal = std::nullopt,
                          const std::string& email = "ada@example.com")
        : world(signedIn, email) {
        world.bootstrapRefusal = bootstrapRefusal;
        // This desktop's words, as the application shows them.
        static EnglishWording* wording = [] {
            auto* made = new EnglishWording;
            QCoreApplication::installTranslator(made);
            return made;
        }();
        (void)wording;
        world.makeCloud = [this] {
            auto made = std::make_unique<FakeCloud>();
            cloud = made.get();
            return made;
        };
        world.model.reset();
        world.model = world.makeModel();
        if (!seeded.empty())
            world.seed(seeded);
        world.model->start();
        world.queue.drain();
        LibraryController::Dependencies d = sheet.dependencies(world);
        d.openCalendarSettings = [this] { ++calendarSettingsOpened; };
        library = std::make_unique<LibraryController>(*world.model, d);
        cloud->take();
    }
    ~LibraryWorld() {
        if (world.model && world.model->isRecording()) {
            world.model->stopRecording();
            world.queue.drain();
        }
        library.reset();
        flushDeferredDeletes();
    }

    AppModel& model() { return *world.model; }
    // Every change of the model redraws the window, as the shell has it.
    void redrawOnChange() {
        world.model->onChange = [this] {
            if (library)
                library->render();
        };
    }
    // The window on screen with the keyboard, as after a click on it.
    void showActive() {
        QWidget* view = library->view();
        view->resize(1080, 720);
        view->show();
        view->activateWindow();
        QApplication::setActiveWindow(view);
    }
    // Lets the event loop run what the last step posted, and the views it let go be deleted.
    static void settle() {
        QCoreApplication::processEvents();
        flushDeferredDeletes();
    }
    template <class T> T* find(const char* name) const {
        return library->view()->findChild<T*>(QLatin1String(name));
    }
    // The texts of the detail side's labels and buttons ("[title]" for a button), in order.
    QStringList detailTexts() const {
        QStringList texts;
        QVBoxLayout* detail = library->detail();
        for (int i = 0; i < detail->count(); ++i) {
            QWidget* widget = detail->itemAt(i)->widget();
            if (widget == nullptr || widget->isHidden())
                continue;
            QList<QWidget*> parts = widget->findChildren<QWidget*>();
            parts.prepend(widget);
            for (QWidget* part : parts) {
                if (auto* label = qobject_cast<QLabel*>(part); label && !label->text().isEmpty())
                    texts.push_back(label->text());
                else if (auto* button = qobject_cast<QPushButton*>(part))
                    texts.push_back("[" + button->text() + "]");
            }
        }
        return texts;
    }
    // Whether the detail side shows a busy indicator.
    bool detailSpins() const {
        return library->detail()->parentWidget()->findChild<QWidget*>("library-progress") != nullptr;
    }
};

} // namespace nuvel::test
