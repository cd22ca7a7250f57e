// The two meeting prompts over the real model and panel: their texts, when they may show, what
// their buttons do (the delegate's part included) and how long they stay; and the desktop entries
// that name and show running applications in them.
#include "Nuvel/ui/prompts/DesktopApplications.hpp"
#include "Nuvel/ui/prompts/MeetingPrompts.hpp"
#include "tests/ui/ShellFakes.hpp"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

const QString fsi = QString(QChar(0x2068));
const QString pdi = QString(QChar(0x2069));
QString unmarked(QString text) {
    return text.remove(fsi).remove(pdi);
}

CalendarMeeting meeting(std::string title, std::vector<std::string> attendees,
                        std::optional<CalendarMeeting::Provider> provider) {
    CalendarMeeting m;
    m.id = "evt-2";
    m.title = std::move(title);
    m.attendees = std::move(attendees);
    if (provider) {
        m.provider = provider;
        m.videoURL = Url::parse("https://meet.google.com/abc-defg-hij");
    }
    return m;
}

// Built by a call rather than braces in a case table: GCC 12 at -O2 warns that a braced
// optional<string> in a table's unwinding path "may be used uninitialized".
MeetingMonitorPrompt prompt(MeetingApp app, std::string bundleID) {
    return {app, std::move(bundleID)};
}

struct PromptsFixture {
    explicit PromptsFixture(bool signedIn = true) : world(signedIn) {
        world.model->start();
        world.queue.drain();
        MeetingPrompts::Applications apps;
        apps.running = [this](const std::string& id) -> std::optional<MeetingPrompts::Running> {
            ++scans;
            if (id == "us.zoom.Zoom")
                return MeetingPrompts::Running{QStringLiteral("Zoom Workplace"), "Zoom"};
            return std::nullopt;
        };
        apps.icon = [this](const std::string& id) {
            iconsAsked.push_back(id);
            return QIcon();
        };
        prompts =
            std::make_unique<MeetingPrompts>(*world.model, world.queue, preferences, apps, &world.executor);
        prompts->panel().continuousNow = [this] { return world.queue.now(); };
        prompts->onRecord = [this](const RecordingSuggestion& s) { suggestions.push_back(s); };
        prompts->onSettingsChanged = [this] { log.push_back("settingsChanged"); };
        prompts->onOpenSettings = [this] { log.push_back("openSettings"); };
        prompts->currentMeeting = [this] { return current; };
    }
    ~PromptsFixture() {
        world.queue.advance(1);
        prompts.reset();
        flushDeferredDeletes();
    }
    QWidget* panel() { return prompts->panel().panel(); }

    ShellWorld world;
    std::shared_ptr<MeetingPreferences> preferences = std::make_shared<MeetingPreferences>(
        std::shared_ptr<DefaultsStore>(std::shared_ptr<void>(), &world.defaults));
    std::unique_ptr<MeetingPrompts> prompts;
    std::optional<CalendarMeeting> current;
    std::vector<RecordingSuggestion> suggestions;
    std::vector<std::string> log;
    std::vector<std::string> iconsAsked;
    int scans = 0;
};

TEST(MeetingPrompts, TheMicrophonePromptNamesTheApplicationAndTheMeetingOnNow) {
    struct Case {
        const char* name;
        MeetingMonitorPrompt prompt;
        std::optional<CalendarMeeting> current;
        QString detail;
        QString mute;
    };
    const std::vector<Case> cases = {
        {"a running application: its own name; the mute item the display name",
         prompt(MeetingApp::zoom, "us.zoom.Zoom"), std::nullopt, "Zoom Workplace is using your microphone.",
         "Don't ask for Zoom"},
        {"not running any more: the display name", prompt(MeetingApp::teams, "com.microsoft.teams2"),
         std::nullopt, "Microsoft Teams is using your microphone.", "Don't ask for Microsoft Teams"},
        {"a browser",
         {MeetingApp::browser, std::nullopt},
         std::nullopt,
         "A web browser is using your microphone.",
         "Don't ask for web browsers"},
        {"with a meeting on now, its title isolated first", prompt(MeetingApp::zoom, "us.zoom.Zoom"),
         meeting("اجتماع الفريق", {"Ada"}, std::nullopt),
         fsi + "اجتماع الفريق" + pdi + "\nZoom Workplace is using your microphone.", "Don't ask for Zoom"},
        {"an untitled meeting",
         {MeetingApp::webex, std::nullopt},
         meeting("", {}, std::nullopt),
         fsi + "Untitled meeting" + pdi + "\nWebex is using your microphone.",
         "Don't ask for Webex"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PromptsFixture f;
        f.current = c.current;
        // The running application is looked for on the executor, never on the window thread.
        f.world.executor.holding = true;
        ASSERT_TRUE(f.prompts->showMicrophonePrompt(c.prompt));
        EXPECT_EQ(f.scans, 0);
        EXPECT_EQ(f.panel() == nullptr, c.prompt.bundleID.has_value()) << "shown once the look-up is in";
        f.world.executor.release();
        f.world.queue.drain();
        EXPECT_EQ(f.scans, c.prompt.bundleID ? 1 : 0);
        const auto* detail = f.panel() ? f.panel()->findChild<QLabel*>("meeting-prompt-detail") : nullptr;
        ASSERT_NE(detail, nullptr);
        // A screen reader gets the sentence without the marks that set its direction as drawn.
        EXPECT_EQ(nameAsRead(detail), unmarked(c.detail));
        EXPECT_EQ(descriptionAsRead(f.panel()), unmarked(c.detail));
        EXPECT_EQ(f.iconsAsked.empty() ? std::string() : f.iconsAsked.back(),
                  c.detail.contains("Zoom Workplace") ? "Zoom" : c.prompt.bundleID.value_or(""))
            << "the running application's own icon";
        const std::optional<MeetingPrompts::Running> running =
            c.detail.contains("Zoom Workplace")
                ? std::optional<MeetingPrompts::Running>({"Zoom Workplace", "Zoom"})
                : std::nullopt;
        const MeetingPromptPanel::Content content =
            f.prompts->microphoneContent(c.prompt, c.current, running);
        EXPECT_EQ(content.title, "Record this meeting?");
        EXPECT_EQ(content.detail, c.detail);
        EXPECT_EQ(content.muteTitle, c.mute);
        EXPECT_FALSE(content.joinURL);
        EXPECT_FALSE(content.icon.isNull()) << "the camera symbol when the application has no icon";
        ASSERT_NE(f.panel(), nullptr);
        f.prompts->panel().record();
        ASSERT_EQ(f.suggestions.size(), 1u);
        EXPECT_EQ(f.suggestions[0], (RecordingSuggestion{c.prompt.app, c.prompt.bundleID, c.current}));
    }
}

TEST(MeetingPrompts, TheReminderTellsWhenWithWhatAndWithWhom) {
    using P = CalendarMeeting::Provider;
    struct Case {
        const char* name;
        CalendarMeeting meeting;
        QString title, detail;
        std::optional<MeetingApp> suggested;
    };
    const std::vector<Case> cases = {
        {"untitled, no provider, no attendees", meeting("", {}, std::nullopt), fsi + "Untitled meeting" + pdi,
         "Starts in a minute\nRecord it with Nuvel?", std::nullopt},
        {"Google Meet with attendees: a browser is suggested",
         meeting("Design review", {"A", "B", "C"}, P::meet), fsi + "Design review" + pdi,
         "Starts in a minute · Google Meet · 3 attendees\nRecord it with Nuvel?", MeetingApp::browser},
        {"Teams", meeting("Sync", {}, P::teams), fsi + "Sync" + pdi,
         "Starts in a minute · Microsoft Teams\nRecord it with Nuvel?", MeetingApp::teams},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PromptsFixture f;
        ASSERT_TRUE(f.prompts->showReminderPrompt(c.meeting));
        const MeetingPromptPanel::Content content = f.prompts->reminderContent(c.meeting);
        EXPECT_EQ(content.title, c.title);
        // Drawn isolated; read without the marks.
        EXPECT_EQ(f.panel()->findChild<QLabel*>("meeting-prompt-title")->text(), c.title);
        EXPECT_EQ(nameAsRead(f.panel()->findChild<QLabel*>("meeting-prompt-title")), unmarked(c.title));
        EXPECT_EQ(nameAsRead(f.panel()), unmarked(c.title));
        EXPECT_EQ(content.detail, c.detail);
        EXPECT_EQ(content.muteTitle, "Turn off meeting reminders");
        EXPECT_EQ(content.joinURL.has_value(), c.meeting.videoURL.has_value());
        EXPECT_EQ(f.iconsAsked.back(), MeetingPrompts::calendarApplicationID);
        f.prompts->panel().record();
        ASSERT_EQ(f.suggestions.size(), 1u);
        EXPECT_EQ(f.suggestions[0], (RecordingSuggestion{c.suggested, std::nullopt, c.meeting}));
    }
}

TEST(MeetingPrompts, PromptsShowOnlyWhileSignedInIdleAndNotUpdating) {
    struct Case {
        const char* name;
        bool signedIn;
        std::function<void(PromptsFixture&)> setUp;
        bool microphone, reminder;
    };
    const std::vector<Case> cases = {
        {"idle", true, {}, true, true},
        {"signed out", false, {}, false, false},
        {"recording", true, [](PromptsFixture& f) { f.world.record(1); }, false, false},
        {"an update installs", true, [](PromptsFixture& f) { f.world.model->setUpdateInProgress(true); },
         false, false},
        {"busy: the reminder still shows", true,
         [](PromptsFixture& f) {
             f.world.executor.holding = true;
             f.world.model->importAudio("/nonexistent.wav", false);
         },
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PromptsFixture f(c.signedIn);
        if (c.setUp)
            c.setUp(f);
        EXPECT_EQ(f.prompts->showMicrophonePrompt({MeetingApp::zoom, std::nullopt}), c.microphone);
        EXPECT_EQ(f.panel() != nullptr, c.microphone);
        f.prompts->dismiss();
        EXPECT_EQ(f.prompts->showReminderPrompt(meeting("Sync", {}, std::nullopt)), c.reminder);
        EXPECT_EQ(f.panel() != nullptr, c.reminder);
        f.world.executor.release();
        f.world.queue.drain();
        if (f.world.model->isRecording()) {
            f.world.model->stopRecording();
            f.world.queue.drain();
        }
    }
}

TEST(MeetingPrompts, ALookUpThatReturnsAfterADismissalOrAnotherPromptShowsNothing) {
    const struct {
        const char* name;
        std::function<void(PromptsFixture&)> meanwhile;
        bool reminderShown;
    } cases[] = {
        {"dismissed", [](PromptsFixture& f) { f.prompts->dismiss(); }, false},
        {"a reminder came",
         [](PromptsFixture& f) { f.prompts->showReminderPrompt(meeting("Sync", {}, std::nullopt)); }, true},
        {"the prompts went away", [](PromptsFixture& f) { f.prompts.reset(); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PromptsFixture f;
        f.world.executor.holding = true;
        ASSERT_TRUE(f.prompts->showMicrophonePrompt({MeetingApp::zoom, std::string("us.zoom.Zoom")}));
        c.meanwhile(f);
        f.world.executor.release();
        f.world.queue.drain();
        if (!f.prompts)
            continue;
        ASSERT_EQ(f.panel() != nullptr, c.reminderShown);
        if (c.reminderShown) {
            EXPECT_EQ(f.panel()->findChild<QLabel*>("meeting-prompt-detail")->accessibleName(),
                      "Starts in a minute\nRecord it with Nuvel?");
        }
    }
}

TEST(MeetingPrompts, MutingWritesTheSettingsAndEachPromptGoesByItselfInTime) {
    PromptsFixture f;
    // Muting the microphone prompt adds its application; the stored list stays sorted.
    f.prompts->showMicrophonePrompt({MeetingApp::zoom, std::nullopt});
    f.prompts->panel().mute();
    f.prompts->showMicrophonePrompt({MeetingApp::browser, std::nullopt});
    f.prompts->panel().mute();
    EXPECT_EQ(f.world.defaults.stringList("meetings.mutedApps"),
              (std::vector<std::string>{"browser", "zoom"}));
    EXPECT_EQ(f.log, (std::vector<std::string>{"settingsChanged", "settingsChanged"}));
    // Muting the reminder turns reminders off.
    f.prompts->showReminderPrompt(meeting("Sync", {}, std::nullopt));
    f.prompts->panel().mute();
    EXPECT_EQ(f.world.defaults.boolean("meetings.reminders"), false);
    f.prompts->showReminderPrompt(meeting("Sync", {}, std::nullopt));
    f.prompts->panel().settings();
    EXPECT_EQ(f.log.back(), "openSettings");
    EXPECT_EQ(f.panel(), nullptr);

    struct Timing {
        const char* name;
        std::function<void()> show;
        double seconds;
    };
    const Timing timings[] = {
        {"microphone",
         [&f] {
             f.prompts->showMicrophonePrompt({MeetingApp::zoom, std::nullopt});
         },
         60},
        {"reminder", [&f] { f.prompts->showReminderPrompt(meeting("Sync", {}, std::nullopt)); }, 90},
    };
    for (const Timing& t : timings) {
        SCOPED_TRACE(t.name);
        t.show();
        f.world.queue.advance(t.seconds - 0.5);
        EXPECT_NE(f.panel(), nullptr);
        f.world.queue.advance(1);
        EXPECT_EQ(f.panel(), nullptr);
    }
}

// The delegate's part: "Record…" takes the prompt kind back and opens the sheet with the
// suggestion; the settings item opens the meetings section; muting refreshes the settings.
TEST(MeetingPrompts, TheDelegateLeadsTheButtonsToTheLibraryAndTheSettings) {
    DelegateFixture f;
    ShellFactories factories = f.factories();
    MeetingPrompts* prompts = nullptr;
    auto preferences = std::make_shared<MeetingPreferences>(
        std::shared_ptr<DefaultsStore>(std::shared_ptr<void>(), &f.world.defaults));
    factories.makePrompts = [&]() -> std::unique_ptr<ShellPrompts> {
        auto made = std::make_unique<MeetingPrompts>(*f.world.model, f.world.queue, preferences,
                                                     MeetingPrompts::Applications{}, &f.world.executor);
        prompts = made.get();
        return made;
    };
    f.delegate = std::make_unique<AppDelegate>(f.world.model, factories, f.environment());
    AppDelegate& delegate = *f.delegate;
    delegate.launch();
    f.world.queue.drain();
    ASSERT_NE(prompts, nullptr);

    const CalendarMeeting meet = meeting("Design review", {"Ada"}, CalendarMeeting::Provider::meet);
    delegate.calendarReminder(meet);
    EXPECT_EQ(delegate.promptKind(), AppDelegate::PromptKind::reminder);
    f.log.clear();
    prompts->panel().record();
    EXPECT_FALSE(delegate.promptKind().has_value());
    EXPECT_EQ(f.log, (CallLog{"activate", "library.beginNewRecording(suggestion)"}));
    ASSERT_EQ(f.library->suggestions.size(), 1u);
    EXPECT_EQ(f.library->suggestions[0], (RecordingSuggestion{MeetingApp::browser, std::nullopt, meet}));

    delegate.monitorPrompt({MeetingApp::zoom, std::nullopt});
    EXPECT_EQ(delegate.promptKind(), AppDelegate::PromptKind::call);
    f.log.clear();
    prompts->panel().settings();
    EXPECT_EQ(f.log, (CallLog{"settings.make", "settings.show", "settings.meetings"}));
    EXPECT_EQ(delegate.promptKind(), AppDelegate::PromptKind::call) << "the settings item leaves the kind";
    delegate.monitorPrompt({MeetingApp::zoom, std::nullopt});
    f.log.clear();
    prompts->panel().mute();
    EXPECT_EQ(f.log, (CallLog{"settings.refresh"}));
    f.world.queue.advance(1);
}

TEST(MeetingPrompts, ScreenshotsLeftToRightAndArabic) {
    for (const auto& [suffix, languages] : {std::pair{std::string("ltr"), QStringList{"en-US"}},
                                            std::pair{std::string("ar"), QStringList{"ar-EG"}}}) {
        PreferredLanguagesScope scope(languages);
        PromptsFixture f;
        f.current = meeting(suffix == "ar" ? "مراجعة التصميم" : "Design review", {"Ada"}, std::nullopt);
        f.prompts->showMicrophonePrompt({MeetingApp::zoom, std::string("us.zoom.Zoom")});
        f.world.queue.drain(); // the look-up for the running application is in
        ASSERT_NE(f.panel(), nullptr);
        EXPECT_EQ(f.panel()->layoutDirection(), suffix == "ar" ? Qt::RightToLeft : Qt::LeftToRight);
        const auto folder = artifactsFolder();
        EXPECT_TRUE(f.panel()->grab().save(
            QString::fromStdString((folder / ("meeting-prompt-microphone-" + suffix + ".png")).string())));
        f.prompts->showReminderPrompt(meeting(suffix == "ar" ? "اجتماع أسبوعي" : "Weekly sync",
                                              {"Ada", "Grace"}, CalendarMeeting::Provider::meet));
        ASSERT_NE(f.panel(), nullptr);
        EXPECT_TRUE(f.panel()->grab().save(
            QString::fromStdString((folder / ("meeting-prompt-reminder-" + suffix + ".png")).string())));
    }
}

TEST(DesktopApplications, TheEntrysNameInTheUsersLanguageAndItsIcon) {
    struct Case {
        const char* name;
        QString text, language;
        std::optional<DesktopEntry> expected;
    };
    const QString zoom =
        "# a comment\n[Desktop Entry]\nType=Application\nName=Zoom Workplace\nName[ar]=زوم\n"
        "Name[pt_BR]=Zoom BR\nIcon=Zoom\n[Desktop Action New]\nName=New meeting\nIcon=other\n";
    const std::vector<Case> cases = {
        {"the plain name", zoom, "en_US", DesktopEntry{"Zoom Workplace", "Zoom"}},
        {"the language alone", zoom, "ar_EG", DesktopEntry{"زوم", "Zoom"}},
        {"language and country first", zoom, "pt_BR", DesktopEntry{"Zoom BR", "Zoom"}},
        {"an action group does not count", "[Desktop Action New]\nName=New\n", "en_US", std::nullopt},
        {"no name", "[Desktop Entry]\nIcon=x\n", "en_US", std::nullopt},
        {"an absolute icon path", "[Desktop Entry]\nName=Tool\nIcon=/opt/tool/tool.png\n", "en_US",
         DesktopEntry{"Tool", "/opt/tool/tool.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseDesktopEntry(c.text, c.language), c.expected);
    }
    EXPECT_FALSE(findDesktopEntry("../etc/passwd"));
    EXPECT_FALSE(findDesktopEntry(""));
}

} // namespace
