// The new-recording sheet over the real model: every refusal on the road to a recording, the
// preselections a suggestion makes, the calendar attendees, the checks made again at "Start
// recording" and what reaches the model's start.
#include "Nuvel/ui/sheets/NewRecordingSheet.hpp"
#include "Nuvel/ui/sheets/SourceCheckController.hpp"
#include "tests/ui/SheetFakes.hpp"

#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

class FixedCalendar final : public ShellCalendar {
public:
    void refresh(bool) override {}
    std::optional<CalendarMeeting> currentMeeting() const override { return current; }
    std::optional<CalendarMeeting> current;
};

CalendarMeeting meeting(std::string title, std::vector<std::string> attendees,
                        std::optional<CalendarMeeting::Provider> provider) {
    CalendarMeeting m;
    m.id = "evt-1";
    m.title = std::move(title);
    m.start = Date{700000000};
    m.end = Date{700003600};
    m.attendees = std::move(attendees);
    for (const auto& name : m.attendees)
        m.attendeeEmails.push_back(QString::fromStdString(name).toLower().toStdString() + "@example.com");
    m.location = "Room 4";
    if (provider) {
        m.provider = provider;
        m.videoURL = Url::parse("https://meet.example.com/abc");
    }
    return m;
}

const std::vector<ApplicationChoice> applications = {
    {101, "Music", "org.gnome.Rhythmbox3"},
    {102, "Firefox", "org.mozilla.firefox"},
    {103, "Zoom", "us.zoom.Zoom"},
    {104, "Zoom helper", "us.zoom.Zoom.helper"},
};

// The sheet over a started model, with its alerts answered by the test.
struct SheetFixture {
    explicit SheetFixture(bool signedIn = true, Dialogs* dialogs = nullptr) : world(signedIn) {
        world.model->start();
        world.queue.drain();
        fakes.sources.devices = {{7, "USB Microphone", "usb-mic"}, {9, "Headset", "headset-mic"}};
        fakes.sources.applications = applications;
        NewRecordingSheet::Environment e;
        e.model = world.model.get();
        e.queue = &world.queue;
        e.executor = &world.executor;
        e.dialogs = dialogs != nullptr ? dialogs : &world.dialogs;
        e.defaults = &world.defaults;
        e.sources = &fakes.sources;
        e.permission = &fakes.permission;
        e.commitScratchpad = [this] { ++commits; };
        sheet = std::make_unique<NewRecordingSheet>(e);
        sheet->calendar = &calendar;
        world.dialogs.onAlert = [this](const Alert& alert) {
            SheetControls controls(alert.accessory);
            if (controls.consent) {
                seenTooltip =
                    controls.attendees ? toolTipAsRead(controls.attendees->toolTip()).toStdString() : "";
                seenDescription =
                    controls.attendees ? descriptionAsRead(controls.attendees).toStdString() : "";
                seenAttendees = controls.attendees ? std::optional(controls.attendees->text().toStdString())
                                                   : std::nullopt;
                seenTitle = controls.title->text().toStdString();
                seenMode = controls.mode->currentIndex();
                seenMicrophones = controls.microphone->count();
                controls.consent->setChecked(true);
                if (onSheet)
                    onSheet(controls);
            }
            if (controls.application) {
                seenApplication = controls.application->currentIndex();
                if (onChooser)
                    onChooser(controls);
            }
        };
    }
    ~SheetFixture() {
        sheet.reset();
        flushDeferredDeletes();
    }

    // Opens the sheet, lets the road run, and presses "Start recording" when the check is shown.
    void run(const std::optional<RecordingSuggestion>& suggestion = std::nullopt, bool start = true) {
        sheet->beginNewRecording(suggestion ? &*suggestion : nullptr);
        world.queue.drain();
        if (SourceCheckController* check = sheet->sourceCheck()) {
            checkShown = true;
            if (beforeStart)
                beforeStart();
            if (start)
                check->startRecording();
        }
        world.queue.drain();
        flushDeferredDeletes();
    }

    std::vector<std::string> alertMessages() const {
        std::vector<std::string> messages;
        for (const Alert& alert : world.dialogs.asked)
            messages.push_back(alert.message.toStdString());
        return messages;
    }

    ShellWorld world;
    SheetWorld fakes;
    FixedCalendar calendar;
    std::unique_ptr<NewRecordingSheet> sheet;
    std::function<void(SheetControls&)> onSheet;
    std::function<void(SheetControls&)> onChooser;
    std::function<void()> beforeStart;
    std::string seenTooltip;     // the attendees box's
    std::string seenDescription; // and what a screen reader reads of it
    std::optional<std::string> seenAttendees;
    std::string seenTitle;
    int seenMode = -1;
    int seenMicrophones = 0;
    int seenApplication = -1;
    bool checkShown = false;
    int commits = 0;
};

const char* const sheetTitle = "Choose recording sources";
const char* const chooserTitle = "Choose the meeting application";

TEST(NewRecordingSheet, EveryRefusalOnTheWayHasItsSentenceAndChangesNothing) {
    struct Case {
        const char* name;
        bool signedIn = true;
        std::function<void(SheetFixture&)> setUp;
        int mode = NewRecordingSheet::room;
        std::vector<std::string> alerts;
        std::optional<std::string> message;   // none: the status line as it was
        std::vector<std::string> permissions; // what was asked, in order
        bool checkShown = false;
        std::function<void(SheetFixture&)> beforeStart = {};
        bool starts = false;
    };
    // The model busy with an import that waits for the executor.
    auto makeBusy = [](SheetFixture& f) {
        f.world.executor.holding = true;
        f.world.model->importAudio("/nonexistent.wav", false);
        ASSERT_TRUE(f.world.model->busy());
    };
    const std::vector<Case> cases = {
        {"a paused recording",
         true,
         [](SheetFixture& f) {
             f.world.record(2);
             f.world.model->togglePause();
             f.world.queue.drain();
         },
         0,
         {},
         std::nullopt,
         {}},
        {"busy", true, makeBusy, 0, {}, std::nullopt, {}},
        {"an update installs",
         true,
         [](SheetFixture& f) { f.world.model->setUpdateInProgress(true); },
         0,
         {},
         "",
         {}},
        {"signed out: sign-in starts (no browser here)",
         false,
         {},
         0,
         {},
         "Sign-in could not finish. Please try again.",
         {}},
        {"the sheet cancelled",
         true,
         [](SheetFixture& f) {
             f.world.dialogs.answers.push_back({1, false});
         },
         0,
         {sheetTitle},
         "",
         {}},
        {"the permission box left off",
         true,
         [](SheetFixture& f) { f.onSheet = [](SheetControls& c) { c.consent->setChecked(false); }; },
         0,
         {sheetTitle},
         "Confirm permission before starting a recording.",
         {}},
        {"screen capture refused, online meeting",
         true,
         [](SheetFixture& f) { f.fakes.permission.preflight = f.fakes.permission.request = false; },
         NewRecordingSheet::application,
         {sheetTitle},
         "Allow Screen & System Audio Recording in System Settings to capture an online meeting. Room "
         "recording and "
         "import are still available.",
         {"preflight", "request"}},
        {"screen capture refused, all system audio: the microphone is never asked",
         true,
         [](SheetFixture& f) { f.fakes.permission.preflight = f.fakes.permission.request = false; },
         NewRecordingSheet::allSystem,
         {sheetTitle},
         "Allow Screen & System Audio Recording in System Settings to capture an online meeting. Room "
         "recording and "
         "import are still available.",
         {"preflight", "request"}},
        {"screen capture granted when asked",
         true,
         [](SheetFixture& f) { f.fakes.permission.preflight = false; },
         NewRecordingSheet::allSystem,
         {sheetTitle},
         "",
         {"preflight", "request", "microphone"},
         true,
         {},
         true},
        {"the application list fails",
         true,
         [](SheetFixture& f) { f.fakes.sources.listFails = true; },
         NewRecordingSheet::application,
         {sheetTitle},
         "Meeting applications could not be listed. Check audio-capture permission and try again.",
         {"preflight"}},
        {"no application to capture",
         true,
         [](SheetFixture& f) { f.fakes.sources.applications.clear(); },
         NewRecordingSheet::application,
         {sheetTitle},
         "No application is available for audio capture. Open the meeting app and try again.",
         {"preflight"}},
        {"the chooser cancelled",
         true,
         [](SheetFixture& f) {
             f.world.dialogs.answers = {{0, false}, {1, false}};
         },
         NewRecordingSheet::application,
         {sheetTitle, chooserTitle},
         "",
         {"preflight"}},
        {"microphone refused",
         true,
         [](SheetFixture& f) { f.fakes.permission.microphone = false; },
         NewRecordingSheet::room,
         {sheetTitle},
         "Microphone access is off. Enable Nuvel in System Settings, or import a recording.",
         {"microphone"}},
        {"at Start recording: an update began",
         true,
         {},
         0,
         {sheetTitle},
         "",
         {"microphone"},
         true,
         [](SheetFixture& f) { f.world.model->setUpdateInProgress(true); }},
        {"at Start recording: busy", true, {}, 0, {sheetTitle}, std::nullopt, {"microphone"}, true, makeBusy},
        {"at Start recording: signed out meanwhile",
         true,
         {},
         0,
         {sheetTitle},
         std::nullopt,
         {"microphone"},
         true,
         [](SheetFixture& f) {
             f.world.model->signOut();
             f.world.queue.drain();
             ASSERT_FALSE(f.world.model->session());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SheetFixture f(c.signedIn);
        if (c.setUp)
            c.setUp(f);
        const auto recordingsBefore = f.world.model->recordings().size();
        const std::string messageBefore = f.world.model->message();
        const int mode = c.mode;
        auto previous = f.onSheet;
        f.onSheet = [mode, previous](SheetControls& controls) {
            controls.mode->setCurrentIndex(mode);
            if (previous)
                previous(controls);
        };
        if (c.beforeStart)
            f.beforeStart = [&f, &c] { c.beforeStart(f); };
        f.run();
        EXPECT_EQ(f.alertMessages(), c.alerts);
        if (!c.beforeStart || c.message) {
            EXPECT_EQ(f.world.model->message(), c.message.value_or(messageBefore));
        }
        EXPECT_EQ(f.fakes.permission.asked, c.permissions);
        EXPECT_EQ(f.checkShown, c.checkShown);
        if (!c.starts && c.name != std::string("a paused recording")) {
            EXPECT_FALSE(f.world.model->isRecording()) << "no recording started";
            EXPECT_EQ(f.world.model->recordings().size(), recordingsBefore);
        }
        EXPECT_EQ(f.world.model->isCapturing(), c.starts);
        if (c.mode == NewRecordingSheet::room) {
            EXPECT_EQ(f.fakes.sources.applicationListings, 0) << "room mode never lists applications";
        }
        f.world.executor.release();
        f.world.queue.drain();
        if (f.world.model->isRecording()) {
            f.world.model->stopRecording();
            f.world.queue.drain();
        }
    }
}

TEST(NewRecordingSheet, AFailedMicrophoneListOffersTheDefaultAloneAndARecordingStarts) {
    SheetFixture f;
    f.fakes.sources.devicesFail = true;
    f.run();
    EXPECT_EQ(f.seenMicrophones, 1);
    ASSERT_TRUE(f.world.model->isRecording());
    EXPECT_EQ(f.world.model->activeRecording()->microphoneUID, std::nullopt);
    EXPECT_EQ(f.commits, 1) << "the notes editor's text is saved before the sheet opens";
    f.world.model->stopRecording();
    f.world.queue.drain();
}

TEST(NewRecordingSheet, ASuggestionPreselectsModeAndApplicationAndTheAttendeesRideAlong) {
    using P = CalendarMeeting::Provider;
    struct Case {
        const char* name;
        std::optional<RecordingSuggestion> suggestion;
        std::optional<CalendarMeeting> calendarNow;
        bool attendeesOn = true;
        int mode;
        std::optional<std::string> attendeesBox;
        std::string title;
        int application; // -1: no chooser
        bool attached;
    };
    const CalendarMeeting meet = meeting("Weekly sync", {"Ada", "Grace"}, P::meet);
    const CalendarMeeting plain = meeting("Standup", {}, std::nullopt);
    const std::vector<Case> cases = {
        {"the microphone prompt's exact identifier beats an earlier entry of the same app",
         RecordingSuggestion{MeetingApp::zoom, std::string("us.zoom.Zoom.helper"), std::nullopt},
         std::nullopt, true, 1, std::nullopt, "", 3, false},
        {"the suggested app without a listed identifier",
         RecordingSuggestion{MeetingApp::zoom, std::string("x"), {}}, std::nullopt, true, 1, std::nullopt, "",
         2, false},
        {"a Meet reminder: online mode, the first browser",
         RecordingSuggestion{std::nullopt, std::nullopt, meet}, std::nullopt, true, 1,
         "Add 2 attendees from Calendar", "Weekly sync", 1, true},
        {"the same with the attendees box off: no meeting, the first application",
         RecordingSuggestion{std::nullopt, std::nullopt, meet}, std::nullopt, false, 1,
         "Add 2 attendees from Calendar", "Weekly sync", 0, false},
        {"a meeting without attendees: no box, nothing attached",
         RecordingSuggestion{std::nullopt, std::nullopt, plain}, std::nullopt, true, 0, std::nullopt,
         "Standup", -1, false},
        {"no suggestion: the calendar fills title and attendees, the mode stays room", std::nullopt, meet,
         true, 0, "Add 2 attendees from Calendar", "Weekly sync", -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SheetFixture f;
        f.calendar.current = c.calendarNow;
        const bool on = c.attendeesOn;
        f.onSheet = [on](SheetControls& controls) {
            if (controls.attendees)
                controls.attendees->setChecked(on);
        };
        f.run(c.suggestion);
        EXPECT_EQ(f.seenMode, c.mode);
        EXPECT_EQ(f.seenAttendees, c.attendeesBox);
        EXPECT_EQ(f.seenTooltip, c.attendeesBox ? "Ada, Grace" : "");
        EXPECT_EQ(f.seenDescription, c.attendeesBox ? "Ada, Grace" : "");
        EXPECT_EQ(f.seenTitle, c.title);
        EXPECT_EQ(f.seenApplication, c.application);
        ASSERT_TRUE(f.world.model->isRecording());
        const LocalRecording& r = *f.world.model->activeRecording();
        EXPECT_EQ(r.attendees.has_value(), c.attached);
        if (c.attached) {
            EXPECT_EQ(r.attendees, (std::vector<std::string>{"Ada", "Grace"}));
            EXPECT_EQ(r.attendeeEmails, (std::vector<std::string>{"ada@example.com", "grace@example.com"}));
            EXPECT_EQ(r.location, "Room 4");
        }
        f.world.model->stopRecording();
        f.world.queue.drain();
    }
}

TEST(NewRecordingSheet, TheConfirmedChoicesReachTheModelsStartUnchanged) {
    struct Case {
        const char* name;
        int mode;
        int microphone;
        QString title;
        bool aiNotes;
        std::optional<SystemAudioSelection> source;
        std::string sourceName, captureMode, storedTitle;
        std::optional<std::string> microphoneUID;
        std::optional<std::uint32_t> deviceID;
    };
    const std::vector<Case> cases = {
        {"room, default microphone, a title of spaces", 0, 0, "   ", false, std::nullopt, "Microphone",
         "room", "", std::nullopt, std::nullopt},
        {"the chosen application with the second microphone", 1, 2, " Design review ", true,
         SystemAudioSelection::application(102), "Firefox", "application_and_microphone", "Design review",
         "headset-mic", 9},
        {"all system audio", 2, 1, "Call", true, SystemAudioSelection::allSystem(), "All system audio",
         "application_and_microphone", "Call", "usb-mic", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SheetFixture f;
        f.onSheet = [&c](SheetControls& controls) {
            controls.mode->setCurrentIndex(c.mode);
            controls.microphone->setCurrentIndex(c.microphone);
            controls.title->setText(c.title);
            controls.aiNotes->setChecked(c.aiNotes);
        };
        f.onChooser = [](SheetControls& controls) { controls.application->setCurrentIndex(1); };
        f.run();
        ASSERT_EQ(f.fakes.sources.checked.size(), 1u);
        EXPECT_EQ(f.fakes.sources.checked[0].first, c.source) << "the check ran on the chosen source";
        EXPECT_EQ(f.fakes.sources.checked[0].second, c.deviceID);
        ASSERT_TRUE(f.world.model->isRecording());
        const LocalRecording& r = *f.world.model->activeRecording();
        EXPECT_EQ(r.title, c.storedTitle) << "the model trims what the sheet passed on as typed";
        EXPECT_EQ(r.aiNotes, c.aiNotes);
        EXPECT_EQ(r.captureMode, c.captureMode);
        EXPECT_EQ(r.captureSourceName, c.sourceName);
        EXPECT_EQ(r.microphoneUID, c.microphoneUID);
        ASSERT_EQ(f.world.capture->requests.size(), 1u);
        EXPECT_EQ(f.world.capture->requests[0].systemAudio, c.source);
        EXPECT_EQ(f.world.capture->requests[0].microphoneDeviceID, c.deviceID);
        EXPECT_EQ(f.world.model->selectedSource(), c.source);
        f.world.model->stopRecording();
        f.world.queue.drain();
    }
}

TEST(NewRecordingSheet, TheAINotesDefaultIsReadAndNeverWrittenAndASecondOpeningWaits) {
    SheetFixture f;
    f.world.defaults.set("capture.aiNotesDefault", true);
    bool offered = false;
    f.onSheet = [&offered](SheetControls& controls) {
        offered = controls.aiNotes->isChecked();
        controls.aiNotes->setChecked(false);
    };
    f.sheet->beginNewRecording(nullptr);
    f.sheet->beginNewRecording(nullptr); // while the first opening lists the microphones
    f.world.queue.drain();
    EXPECT_EQ(f.world.dialogs.asked.size(), 1u);
    EXPECT_TRUE(offered);
    ASSERT_NE(f.sheet->sourceCheck(), nullptr);
    f.sheet->beginNewRecording(nullptr); // while the source check is shown
    f.world.queue.drain();
    EXPECT_EQ(f.world.dialogs.asked.size(), 1u);
    f.sheet->sourceCheck()->cancelCheck();
    f.world.queue.drain();
    flushDeferredDeletes();
    EXPECT_FALSE(f.world.model->isRecording()) << "cancelling the check starts nothing";
    EXPECT_EQ(f.world.defaults.boolean("capture.aiNotesDefault"), true);
}

TEST(NewRecordingSheet, ASheetClosedAtAnyStepOfItsOpeningIsNeverTouchedAgain) {
    struct Case {
        const char* name;
        std::function<void(SheetFixture&)> arrange; // sets up where the sheet goes away
        std::vector<std::string> alerts;
    };
    const std::vector<Case> cases = {
        {"before the opening's first step",
         [](SheetFixture& f) {
             f.sheet->beginNewRecording(nullptr);
             f.sheet.reset();
         },
         {}},
        {"while the microphones are listed",
         [](SheetFixture& f) {
             f.world.executor.holding = true;
             f.sheet->beginNewRecording(nullptr);
             f.world.queue.drain();
             f.sheet.reset();
             f.world.executor.release();
         },
         {}},
        {"while its alert is shown",
         [](SheetFixture& f) {
             f.onSheet = [&f](SheetControls&) { f.sheet.reset(); };
             f.sheet->beginNewRecording(nullptr);
         },
         {sheetTitle}},
        {"while the application chooser is shown",
         [](SheetFixture& f) {
             f.onSheet = [](SheetControls& c) { c.mode->setCurrentIndex(NewRecordingSheet::application); };
             f.onChooser = [&f](SheetControls&) { f.sheet.reset(); };
             f.sheet->beginNewRecording(nullptr);
         },
         {sheetTitle, chooserTitle}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SheetFixture f;
        c.arrange(f);
        f.world.queue.drain();
        flushDeferredDeletes();
        EXPECT_EQ(f.sheet, nullptr);
        EXPECT_EQ(f.alertMessages(), c.alerts);
        EXPECT_TRUE(std::find(f.fakes.permission.asked.begin(), f.fakes.permission.asked.end(),
                              "microphone") == f.fakes.permission.asked.end())
            << "nothing after the sheet went";
        EXPECT_FALSE(f.world.model->isRecording());
    }
}

// The real alerts, photographed while they run and then cancelled.
class PhotographedDialogs final : public Dialogs {
public:
    AlertAnswer runModal(const Alert& alert) override {
        QTimer::singleShot(50, [this] {
            QWidget* shown = QApplication::activeModalWidget();
            if (shown == nullptr)
                return;
            shots.push_back(shown->grab().toImage());
            if (auto* cancel = shown->findChild<QPushButton*>(QStringLiteral("alert-button-1")))
                cancel->click();
        });
        return real.runModal(alert);
    }
    std::optional<std::filesystem::path> runOpenPanel(const OpenPanel&) override { return std::nullopt; }
    std::optional<std::filesystem::path> runSavePanel(const SavePanel&) override { return std::nullopt; }
    void showAbout() override {}

    QtDialogs real;
    std::vector<QImage> shots;
};

TEST(NewRecordingSheet, ScreenshotsLeftToRightAndArabic) {
    for (const auto& [suffix, languages] : {std::pair{std::string("ltr"), QStringList{"en-US"}},
                                            std::pair{std::string("ar"), QStringList{"ar-EG"}}}) {
        PreferredLanguagesScope scope(languages);
        PhotographedDialogs dialogs;
        SheetFixture f(true, &dialogs);
        f.calendar.current =
            meeting("Quarterly planning", {"Ada", "Grace", "Linus"}, CalendarMeeting::Provider::zoom);
        f.run();
        ASSERT_EQ(dialogs.shots.size(), 1u);
        EXPECT_GE(dialogs.shots[0].width(), 510);
        EXPECT_FALSE(f.world.model->isRecording()) << "the photographed sheet was cancelled";
        const auto file = artifactsFolder() / ("new-recording-sheet-" + suffix + ".png");
        ASSERT_TRUE(dialogs.shots[0].save(QString::fromStdString(file.string()), "PNG"));
    }
}

} // namespace
