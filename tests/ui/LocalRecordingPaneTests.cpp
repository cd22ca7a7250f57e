// The library window's pane of one local recording over the real model: its status texts, what
// it shows in each state of the recording and the model, what its controls ask of the model,
// and a notes editor that keeps the user's typing while the recording runs.
#include "Nuvel/ui/common/EnglishWording.hpp"
#include "Nuvel/ui/library/LocalRecordingPane.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/LevelIndicator.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "tests/ui/ShellWorld.hpp"

#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <tuple>

using namespace nuvel;
using namespace nuvel::test;

namespace {

const char* const buttonNames[] = {"local-send",  "local-refresh",  "local-open-result",
                                   "local-play",  "local-export",   "local-remove",
                                   "local-pause", "local-bookmark", "local-stop"};

LocalRecording withTransfer(TransferState transfer, CaptureState capture = CaptureState::saved,
                            std::optional<std::string> remoteState = std::nullopt) {
    LocalRecording r = ShellWorld::recording("Call", transfer);
    r.capture = capture;
    r.remoteState = std::move(remoteState);
    return r;
}

// The English wording the application installs, for as long as it lives.
struct Wording {
    Wording() {
        application();
        QCoreApplication::installTranslator(&wording);
    }
    ~Wording() { QCoreApplication::removeTranslator(&wording); }
    EnglishWording wording;
};

} // namespace

TEST(LocalRecordingTexts, StatusLineCaptionAndExportName) {
    Wording wording;
    const QString saved = "Saved locally. Nothing is uploaded until you choose Send to Nuvel.";
    const QString recovered =
        "Recovered after an interruption. Sealed audio is safe; export it or send it to Nuvel.";
    const struct {
        LocalRecording recording;
        QString status;
    } statuses[] = {
        {withTransfer(TransferState::local), saved},
        {withTransfer(TransferState::failed), saved},
        {withTransfer(TransferState::local, CaptureState::interrupted), recovered},
        {withTransfer(TransferState::failed, CaptureState::interrupted), recovered},
        {withTransfer(TransferState::creating), "Uploading audio…"},
        {withTransfer(TransferState::uploading), "Uploading audio…"},
        {withTransfer(TransferState::committing, CaptureState::interrupted), "Uploading audio…"},
        {withTransfer(TransferState::accepted), "Sent to Nuvel"},
        {withTransfer(TransferState::accepted, CaptureState::saved, "running"), "Sent to Nuvel · Processing"},
        {withTransfer(TransferState::accepted, CaptureState::saved, "completed"),
         "Sent to Nuvel · Completed"},
        {withTransfer(TransferState::accepted, CaptureState::saved, "Running"),
         "Sent to Nuvel · Status unavailable"},
        {withTransfer(TransferState::accepted, CaptureState::saved, ""),
         "Sent to Nuvel · Status unavailable"},
        {withTransfer(TransferState::needsReview), "Check the meeting on Nuvel before retrying. A server "
                                                   "response was interrupted, so automatic creation is "
                                                   "paused to avoid duplicates."},
    };
    for (const auto& c : statuses)
        EXPECT_EQ(transferStatusText(c.recording), c.status)
            << rawValue(c.recording.transfer) << " " << c.recording.remoteState.value_or("-");

    const std::map<std::string, QString> suffixes = {
        {"uploading", " · Uploading"},
        {"queued", " · Queued"},
        {"running", " · Processing"},
        {"completed", " · Completed"},
        {"failed", " · Failed"},
        {"expired", " · Expired"},
        {"paused", " · Status unavailable"},
        {"running ", " · Status unavailable"},
    };
    for (const auto& [state, suffix] : suffixes)
        EXPECT_EQ(remoteStateSuffix(state), suffix) << state;

    const LocalRecording local = withTransfer(TransferState::local);
    const LocalRecording sent = withTransfer(TransferState::accepted);
    const QString privateLine =
        "Only on this computer. These notes are not sent to Nuvel or included in audio exports.";
    const struct {
        const LocalRecording& recording;
        NotesCaptionContext context;
        QString caption;
    } captions[] = {
        {local, {true, false, false, false}, privateLine},
        {sent, {true, true, true, true}, privateLine},
        {local,
         {false, true, false, false},
         "Sent with this recording to guide its notes. Each line is stamped with the recording time."},
        {local, {false, false, true, false}, "Sent with this recording when you choose Send to Nuvel."},
        {sent, {false, false, true, true}, "Saving to this meeting's notepad on Nuvel…"},
        {sent, {false, false, true, false}, "Saved to this meeting's notepad on Nuvel."},
        {sent,
         {false, false, false, true},
         "Saved on this computer. Nuvel can't receive meeting notes from this computer yet."},
    };
    for (const auto& c : captions)
        EXPECT_EQ(notesCaption(c.recording, c.context), c.caption)
            << c.context.editorIsPrivate << c.context.active << c.context.notepadSync
            << c.context.notepadNeedsSync;

    // The UTC calendar date, wherever the user is: just after midnight east of UTC is still the
    // day before.
    const char* zone = std::getenv("TZ");
    const std::string previousZone = zone ? zone : "";
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    const struct {
        const char* createdAt;
        QString name;
    } names[] = {
        {"2026-03-01T00:30:00+09:00", "Nuvel-2026-02-28.m4a"},
        {"2026-03-01T09:00:00+09:00", "Nuvel-2026-03-01.m4a"},
        {"2025-12-31T23:59:59Z", "Nuvel-2025-12-31.m4a"},
        {"2026-01-01T00:00:00-05:00", "Nuvel-2026-01-01.m4a"},
    };
    for (const auto& c : names)
        EXPECT_EQ(exportFileName(*parseIso8601(c.createdAt)), c.name) << c.createdAt;
    if (zone)
        setenv("TZ", previousZone.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

namespace {

// The pane in a detail stack, over a started model holding two saved recordings of two seconds,
// the first selected.
struct PaneFixture {
    explicit PaneFixture(std::function<void(std::vector<LocalRecording>&)> adjust = {}) {
        std::vector<LocalRecording> seeded = {ShellWorld::recording("Design review"),
                                              ShellWorld::recording("Standup")};
        seeded[0].createdAt = *parseIso8601("2026-03-01T00:30:00+09:00");
        if (adjust)
            adjust(seeded);
        world.seed(seeded);
        world.model->start();
        world.queue.drain();
        first = world.model->recordings().at(0).id;
        second = world.model->recordings().at(1).id;
        world.model->select(first);
        host.resize(640, 900);
        detail = new QVBoxLayout(&host);
        detail->setSpacing(8);
        detail->setContentsMargins(20, 20, 20, 20);
        pane = std::make_unique<LocalRecordingPane>(*world.model,
                                                    LocalRecordingPane::Dependencies{&world.dialogs});
    }
    ~PaneFixture() {
        pane->detach();
        pane.reset();
        flushDeferredDeletes();
    }

    const LocalRecording& listed(const Uuid& id) const {
        for (const LocalRecording& r : world.model->recordings())
            if (r.id == id)
                return r;
        throw std::logic_error("no such recording");
    }

    // The owner's redraw: the pane lets go, the stack is emptied, the pane is built anew.
    void show(const LocalRecording& recording) {
        pane->detach();
        while (QLayoutItem* item = detail->takeAt(0)) {
            if (QWidget* widget = item->widget()) {
                // Later: the redraw may come from a control of the pane itself.
                widget->setParent(nullptr);
                widget->deleteLater();
            }
            delete item;
        }
        pane->render(detail, recording);
        detail->addStretch(1);
    }

    template <typename T = QWidget> T* find(const QString& name) const { return host.findChild<T*>(name); }
    QPushButton* button(const QString& name) const { return find<QPushButton>(name); }
    QString text(const char* name) const {
        QLabel* label = find<QLabel>(name);
        return label ? label->text() : QStringLiteral("<none>");
    }
    void click(const QString& name) {
        QPushButton* b = button(name);
        ASSERT_NE(b, nullptr) << name.toStdString();
        b->click();
    }
    void chooseNotes(int segment) {
        auto* mode = find<SegmentedControl>("local-notes-mode");
        ASSERT_NE(mode, nullptr);
        mode->findChildren<QToolButton*>().at(segment)->click();
        flushDeferredDeletes();
    }

    Wording wording;
    ShellWorld world;
    Uuid first;
    Uuid second;
    QWidget host;
    QVBoxLayout* detail = nullptr;
    std::unique_ptr<LocalRecordingPane> pane;
};

Bookmark mark(std::int64_t ms) {
    return Bookmark::make(ms, "", Date{700000000});
}

} // namespace

TEST(LocalRecordingPane, ShowsWhatFitsTheRecordingAndTheModel) {
    const QString running = "Microphone is recording. Keep Nuvel open; you can close this window.";
    const QString paused = "Paused. No audio is being retained.";
    const QString saved = "Saved locally. Nothing is uploaded until you choose Send to Nuvel.";
    const QString review =
        "Check the meeting on Nuvel before retrying. A server response was interrupted, so "
        "automatic creation is paused to avoid duplicates.";
    const QString recovered =
        "Recovered after an interruption. Sealed audio is safe; export it or send it to Nuvel.";
    using Enter = std::function<LocalRecording(PaneFixture&)>;
    // A capture of that mode and source, running or paused.
    const auto active = [](std::optional<std::string> mode, std::optional<std::string> source,
                           bool pause) -> Enter {
        return [=](PaneFixture& f) {
            f.world.record(3);
            if (pause) {
                f.world.model->togglePause();
                f.world.queue.drain();
            }
            LocalRecording r = *f.world.model->activeRecording();
            r.captureMode = mode;
            r.captureSourceName = source;
            return r;
        };
    };
    // The first recording as listed, changed, after `model` set the model's state.
    const auto listed = [](std::function<void(LocalRecording&)> change,
                           std::function<void(PaneFixture&)> model = {}) -> Enter {
        return [=](PaneFixture& f) {
            if (model)
                model(f);
            LocalRecording r = f.listed(f.first);
            change(r);
            return r;
        };
    };
    const auto same = [](LocalRecording&) {};
    const auto marks = [](std::vector<std::int64_t> at) {
        return [=](LocalRecording& r) {
            for (std::int64_t ms : at)
                r.bookmarks.push_back(mark(ms));
        };
    };
    const auto accepted = [](std::optional<std::string> state, bool result) {
        return [=](LocalRecording& r) {
            r.transfer = TransferState::accepted;
            r.remoteState = state;
            r.remoteID = "mtg_1";
            if (result)
                r.resultURL = Url::parse("https://app.nuvel.test/meetings/mtg_1");
        };
    };
    const struct {
        const char* name;
        Enter enter;
        QString heading; // "Recording" in red, anything else in the secondary colour
        QString status;
        // Row buttons: name and + (enabled) or - (disabled); any other is absent. Then the
        // marked moments' titles the same way, the second meter's caption, the editor's height.
        const char* buttons;
        const char* bookmarks;
        QString systemCaption;
        int editorHeight;
        bool readOnly = false;
        bool recovery = false;
    } cases[] = {
        {"running room capture", active("room", {}, false), "Recording", running, "pause+ bookmark+ stop+",
         "", "", 220},
        {"paused application capture", active("application_and_microphone", "Zoom", true), "Paused", paused,
         "pause+ bookmark+ stop+", "", "Zoom", 220},
        {"unnamed application capture", active("application_and_microphone", {}, false), "Recording",
         "\u2068Application audio\u2069 and the microphone are recording. Keep Nuvel open; you can close "
         "this window.",
         "pause+ bookmark+ stop+", "", "Application audio", 220},
        {"running application capture", active("application_and_microphone", "Zoom", false), "Recording",
         "\u2068Zoom\u2069 and the microphone are recording. Keep Nuvel open; you can close this window.",
         "pause+ bookmark+ stop+", "", "Zoom", 220},
        {"running capture of all system audio",
         active("application_and_microphone", "All system audio", false), "Recording",
         "\u2068All system audio\u2069 and the microphone are recording. Keep Nuvel open; you can close this "
         "window.",
         "pause+ bookmark+ stop+", "", "All system audio", 220},
        {"saved, idle", listed(same), "Saved on this computer", saved, "send+ play+ export+ remove+", "", "",
         160},
        {"saved without audio", listed([](LocalRecording& r) { r.segments.clear(); }),
         "Saved on this computer", saved, "remove+", "", "", 160},
        {"another recording runs", listed(marks({5000, 3723000}), [](PaneFixture& f) { f.world.record(1); }),
         "Saved on this computer", saved, "send+ play+ export+ remove+", "00:05- 1:02:03-", "", 160},
        {"uploading another",
         listed(marks({61000}), [](PaneFixture& f) { f.world.model->startUploadIfAllowed(f.second, false); }),
         "Saved on this computer", saved, "send- play- export-", "01:01+", "", 160, true},
        {"busy exporting",
         listed(marks({0}),
                [](PaneFixture& f) {
                    f.world.executor.holding = true;
                    f.world.model->exportAudio(f.world.data.path() / "held.m4a");
                    f.world.queue.drain();
                }),
         "Saved on this computer", saved, "send- play- export-", "00:00-", "", 160},
        {"accepted and processing", listed(accepted("running", true)), "Saved on this computer",
         "Sent to Nuvel · Processing", "refresh+ open-result+ play+ export+ remove+", "", "", 160},
        {"accepted, unknown state", listed(accepted("archived", false)), "Saved on this computer",
         "Sent to Nuvel · Status unavailable", "refresh+ play+ export+ remove+", "", "", 160},
        {"interrupted, failed upload, with a recovery tail", listed([](LocalRecording& r) {
             r.transfer = TransferState::failed;
             r.capture = CaptureState::interrupted;
             r.recoveryAssetIDs = std::vector<Uuid>{Uuid::random()};
         }),
         "Saved on this computer", recovered, "send+ play+ export+ remove+", "", "", 160, false, true},
        {"needs review, nothing to recognise it by", listed([](LocalRecording& r) {
             r.transfer = TransferState::needsReview;
             r.recoveryAssetIDs = std::vector<Uuid>{};
         }),
         "Saved on this computer", review, "play+ export+ remove+", "", "", 160},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PaneFixture f;
        const LocalRecording shown = c.enter(f);
        f.show(shown);
        const bool isActive = f.world.model->activeID() == shown.id;

        QLabel* heading = f.find<QLabel>("local-heading");
        ASSERT_NE(heading, nullptr);
        EXPECT_EQ(heading->text(), c.heading);
        EXPECT_EQ(heading->palette().color(heading->foregroundRole()) == QColor(255, 59, 48),
                  c.heading == "Recording");
        EXPECT_EQ(f.text("local-status"), c.status);
        EXPECT_EQ(f.text("local-title"), QString::fromStdString(shown.title));
        const QString details = f.text("local-details");
        EXPECT_EQ(details.section('\n', 0, 0).endsWith(" · " + formatDuration(shown.totalDuration())),
                  !isActive)
            << details.toStdString();
        EXPECT_EQ(details.section('\n', 1), "Field Team · AI notes off");

        const QStringList expected = QString(c.buttons).split(' ', Qt::SkipEmptyParts);
        for (const char* name : buttonNames) {
            QPushButton* b = f.button(name);
            const QString bare = QString(name).mid(6);
            const QString state = expected.contains(bare + "+")   ? "+"
                                  : expected.contains(bare + "-") ? "-"
                                                                  : "";
            EXPECT_EQ(b ? (b->isEnabled() ? "+" : "-") : "", state) << name;
        }
        if (QPushButton* pause = f.button("local-pause")) {
            EXPECT_EQ(pause->text(), f.world.model->isPaused() ? "Resume" : "Pause");
        }
        QStringList marks;
        for (const Bookmark& b : shown.bookmarks)
            if (QPushButton* button = f.button(QStringLiteral("local-bookmark-%1").arg(b.mediaMilliseconds)))
                marks << button->text() + (button->isEnabled() ? "+" : "-");
        EXPECT_EQ(marks.join(' '), c.bookmarks);
        EXPECT_EQ(f.find<QLabel>("local-bookmarks-heading") != nullptr, !shown.bookmarks.empty());

        // The timer and meters are the pane's own, shown only while the recording runs.
        EXPECT_EQ(f.find<QLabel>("local-timer") != nullptr, isActive);
        EXPECT_EQ(f.find<LevelIndicator>("local-meter") != nullptr, isActive);
        LevelIndicator* system = f.find<LevelIndicator>("local-system-meter");
        EXPECT_EQ(system ? system->parentWidget()->findChild<QLabel*>()->text() : "", c.systemCaption);
        if (isActive) {
            EXPECT_EQ(f.pane->timerLabel()->text(), "00:03");
            EXPECT_EQ(f.pane->meter()->accessibleName(), "Microphone level");
            EXPECT_EQ(f.pane->meter()->height(), 8);
            EXPECT_EQ(f.pane->meter()->parentWidget()->width(), 320);
        }
        if (system) {
            EXPECT_EQ(system->accessibleName(), "Application audio level");
            // The caption's tooltip, as a screen reader reads it: the text, not its markup.
            EXPECT_EQ(descriptionAsRead(system->parentWidget()->findChild<QLabel*>()), c.systemCaption);
        }
        // Read without the marks that set the source's direction where it is drawn.
        EXPECT_EQ(nameAsRead(f.find<QLabel>("local-status")),
                  QString(c.status).remove(QChar(0x2068)).remove(QChar(0x2069)));
        EXPECT_EQ(f.find<QLabel>("local-recovery") != nullptr, c.recovery);

        QPlainTextEdit* editor = f.pane->scratchpad();
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(f.find<QPlainTextEdit>("local-notes-editor"), editor);
        EXPECT_EQ(editor->height(), c.editorHeight);
        EXPECT_EQ(editor->isReadOnly(), c.readOnly);
        EXPECT_EQ(editor->accessibleName(), "Meeting notes");
        EXPECT_EQ(f.find<SegmentedControl>("local-notes-mode")->selectedSegment(), 0);
        EXPECT_EQ(f.pane->renderedID(), shown.id);
        f.world.executor.release();
    }

    // The details line dates the recording in the locale's long date and short time, as the
    // cloud side dates a meeting.
    for (const auto& [locale, zone, date] :
         {std::tuple{"en_US", "UTC", "February 28, 2026 at 3:30\u202fPM · "},
          std::tuple{"en_GB", "Asia/Tokyo", "1 March 2026 at 00:30 · "}}) {
        DateLocaleScope scope(locale, zone);
        PaneFixture f;
        f.show(f.listed(f.first));
        EXPECT_TRUE(f.text("local-details").startsWith(QString::fromUtf8(date)))
            << f.text("local-details").toStdString();
    }
}

TEST(LocalRecordingPane, ControlsAskTheModel) {
    // Send: the selected recording starts uploading.
    {
        PaneFixture f;
        f.show(f.listed(f.first));
        f.click("local-send");
        EXPECT_TRUE(f.world.model->uploading());
    }
    // Export: the save panel proposes the UTC date; the chosen file is written, a cancel writes none.
    for (const bool chosen : {true, false}) {
        PaneFixture f;
        const std::filesystem::path out = f.world.data.path() / "out.m4a";
        if (chosen)
            f.world.dialogs.saveFiles.push_back(out);
        f.show(f.listed(f.first));
        f.click("local-export");
        f.world.queue.drain();
        ASSERT_EQ(f.world.dialogs.savePanels.size(), 1u);
        EXPECT_EQ(f.world.dialogs.savePanels[0].proposedName, "Nuvel-2026-02-28.m4a");
        EXPECT_EQ(f.world.dialogs.savePanels[0].nameFilters, QStringList{"MPEG-4 audio (*.m4a)"});
        EXPECT_EQ(std::filesystem::exists(out), chosen);
        EXPECT_FALSE(f.world.model->busy());
    }
    // Removal: only the first button of the alert removes the recording.
    const struct {
        int answer;
        bool removed;
    } removals[] = {{0, true}, {1, false}, {-1, false}};
    for (const auto& c : removals) {
        PaneFixture f;
        f.world.dialogs.answers.push_back(AlertAnswer{c.answer, false});
        f.show(f.listed(f.first));
        f.click("local-remove");
        f.world.queue.drain();
        ASSERT_EQ(f.world.dialogs.asked.size(), 1u);
        const Alert& alert = f.world.dialogs.asked[0];
        EXPECT_EQ(alert.message, "Remove this local recording?");
        EXPECT_EQ(alert.informativeText,
                  "This deletes the audio and private notes saved on this computer. Export any "
                  "unsent recording first. It does not delete a meeting on Nuvel.");
        EXPECT_EQ(alert.buttons, (QStringList{"Remove local copy", "Cancel"}));
        EXPECT_EQ(f.world.model->recordings().size(), c.removed ? 1u : 2u) << c.answer;
    }
    // Open result: the owner is told the selected recording's meeting.
    {
        PaneFixture f([](std::vector<LocalRecording>& seeded) {
            seeded[0].transfer = TransferState::accepted;
            seeded[0].remoteID = "mtg_1";
            seeded[0].resultURL = Url::parse("https://app.nuvel.test/meetings/mtg_1");
        });
        std::vector<std::optional<std::string>> opened;
        f.pane->onOpenResult = [&](const std::optional<std::string>& id) { opened.push_back(id); };
        f.show(f.listed(f.first));
        EXPECT_EQ(f.button("local-send"), nullptr);
        f.click("local-open-result");
        EXPECT_EQ(opened, (std::vector<std::optional<std::string>>{std::string("mtg_1")}));
    }
    // Play and a marked moment: the model loads the player (busy until it has).
    for (const char* name : {"local-play", "local-bookmark-1500"}) {
        PaneFixture f;
        LocalRecording r = f.listed(f.first);
        r.bookmarks = {mark(1500)};
        f.show(r);
        f.click(name);
        EXPECT_TRUE(f.world.model->busy()) << name;
        f.world.queue.drain();
    }
    // While recording: pause, mark a moment, stop.
    {
        PaneFixture f;
        f.world.record(2);
        f.show(*f.world.model->activeRecording());
        f.click("local-bookmark");
        EXPECT_EQ(f.world.model->activeRecording()->bookmarks.size(), 1u);
        f.click("local-pause");
        f.world.queue.drain();
        EXPECT_TRUE(f.world.model->isPaused());
        f.show(*f.world.model->activeRecording());
        f.click("local-stop");
        f.world.queue.drain();
        EXPECT_FALSE(f.world.model->isRecording());
    }
}

TEST(LocalRecordingPane, NotesEditorKeepsTypingWhileTheRecordingRuns) {
    PaneFixture f;
    f.world.model->onTick = [&] { f.pane->tick(); };
    f.world.record(1);
    const Uuid id = *f.world.model->activeID();
    f.show(*f.world.model->activeRecording());
    QPlainTextEdit* editor = f.pane->scratchpad();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(f.text("local-notes-caption"),
              "Sent with this recording to guide its notes. Each line is stamped with the recording time.");

    editor->textCursor().insertText("Agenda\nBudget");
    QTextCursor caret = editor->textCursor();
    caret.setPosition(3);
    editor->setTextCursor(caret);
    f.world.capture->control->duration = 75;
    f.world.queue.advance(1.0);
    EXPECT_EQ(f.pane->scratchpad(), editor);
    EXPECT_EQ(editor->toPlainText(), "Agenda\nBudget");
    EXPECT_EQ(editor->textCursor().position(), 3);
    EXPECT_EQ(f.pane->timerLabel()->text(), "01:15");
    ASSERT_TRUE(f.listed(id).notepad);
    EXPECT_EQ(Notepad::text(*f.listed(id).notepad), "Agenda\nBudget");

    // Private notes: the mode switch commits, rebuilds and shows the private notes, and the mode
    // stays chosen for the next recording shown.
    f.chooseNotes(1);
    editor = f.pane->scratchpad();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(f.pane->editorIsPrivate());
    EXPECT_EQ(editor->accessibleName(), "Private notes");
    EXPECT_EQ(editor->height(), 160);
    EXPECT_EQ(editor->toPlainText(), "");
    EXPECT_EQ(f.host.findChildren<QPlainTextEdit*>().size(), 1);
    EXPECT_EQ(f.text("local-notes-caption"),
              "Only on this computer. These notes are not sent to Nuvel or included in audio exports.");
    editor->textCursor().insertText("call the bank");
    EXPECT_EQ(f.listed(id).scratchpad, "call the bank");
    EXPECT_EQ(Notepad::text(*f.listed(id).notepad), "Agenda\nBudget");

    f.show(f.listed(f.second));
    EXPECT_EQ(f.find<SegmentedControl>("local-notes-mode")->selectedSegment(), 1);
    f.pane->scratchpad()->setPlainText("second's own");
    EXPECT_EQ(f.listed(f.second).scratchpad, "second's own");
    EXPECT_EQ(f.listed(id).scratchpad, "call the bank");

    // Back to meeting notes, through the owner's redraw when it has one; after the pane lets go
    // nothing is written.
    int redraws = 0;
    f.pane->onRenderNeeded = [&] {
        ++redraws;
        f.show(f.listed(id));
    };
    f.chooseNotes(0);
    EXPECT_EQ(redraws, 1);
    EXPECT_EQ(f.pane->scratchpad()->toPlainText(), "Agenda\nBudget");
    EXPECT_EQ(f.pane->scratchpad()->height(), 220);
    QPlainTextEdit* last = f.pane->scratchpad();
    f.pane->detach();
    EXPECT_EQ(f.pane->scratchpad(), nullptr);
    last->setPlainText("lost");
    f.pane->commitScratchpad();
    EXPECT_EQ(Notepad::text(*f.listed(id).notepad), "Agenda\nBudget");
}

// Ten times a second while recording: what a tick changes, the timer and the meter, repaints
// itself alone, not the pane and the window under it.
TEST(LocalRecordingPane, ATickRepaintsTheTimerAndTheMeterAlone) {
    PaneFixture f;
    f.world.model->onTick = [&] { f.pane->tick(); };
    f.world.record(1);
    f.show(*f.world.model->activeRecording());
    struct Painted : QObject {
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                views.insert(watched);
            return false;
        }
        std::set<QObject*> views;
    } painted;
    f.host.installEventFilter(&painted);
    for (QWidget* view : f.host.findChildren<QWidget*>())
        view->installEventFilter(&painted);
    // On screen, with the paints of its first moments done: those of showing it and laying it
    // out, and of the first new second and level it shows.
    f.host.show();
    for (int round = 0; round < 100 && painted.views.empty(); ++round)
        QCoreApplication::processEvents();
    f.world.capture->control->microphoneLevel = 0.3;
    f.world.queue.advance(0.1);
    QCoreApplication::processEvents();
    f.world.capture->control->duration = 2;
    f.world.queue.advance(0.1);
    for (int round = 0; round < 10 && !painted.views.empty(); ++round) {
        painted.views.clear();
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(painted.views.empty());

    f.world.capture->control->duration = 3;
    f.world.capture->control->microphoneLevel = 0.5;
    f.world.queue.advance(0.1);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.pane->timerLabel()->text(), "00:03");
    EXPECT_EQ(painted.views, (std::set<QObject*>{f.pane->timerLabel(), f.pane->meter()}));
}

TEST(LocalRecordingPane, Screenshots) {
    PaneFixture f;
    LocalRecording saved = f.listed(f.first);
    saved.bookmarks = {mark(12000), mark(95000)};
    saved.scratchpad = "Follow up with finance";
    f.show(saved);
    f.host.show();
    QCoreApplication::processEvents();
    const std::filesystem::path folder = artifactsFolder();
    EXPECT_TRUE(
        f.host.grab().save(QString::fromStdString((folder / "local-pane-saved.png").string()), "PNG"));

    f.world.record(42);
    LocalRecording active = *f.world.model->activeRecording();
    active.captureMode = "application_and_microphone";
    active.captureSourceName = "Zoom";
    f.show(active);
    QCoreApplication::processEvents();
    EXPECT_TRUE(
        f.host.grab().save(QString::fromStdString((folder / "local-pane-active.png").string()), "PNG"));
    // Nothing of the pane reaches past the window's width.
    for (QWidget* child : f.host.findChildren<QWidget*>())
        if (child->isVisible() && child->parentWidget() == f.find("local-pane")) {
            EXPECT_LE(child->geometry().right(), f.find("local-pane")->width())
                << child->objectName().toStdString();
        }
}
