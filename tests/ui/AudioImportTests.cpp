// Importing audio over the real model and store: the gate of both steps, the AI-notes box, the
// open panel's file types, and a drop on the library window that leads to the same question.
#include "Nuvel/ui/library/AudioImport.hpp"
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/ui/SheetFakes.hpp"

#include <QAbstractScrollArea>
#include <QClipboard>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

const char* const question = "Import this recording?";

struct ImportFixture {
    explicit ImportFixture(bool signedIn = true)
        : world(signedIn), import(*world.model, world.dialogs, world.defaults) {
        world.model->start();
        world.queue.drain();
    }
    // A short tone that decodes, made once for the whole program.
    static std::filesystem::path tone() {
        static TempDir folder("import-tone");
        const auto file = folder.path() / "tone.wav";
        if (!std::filesystem::exists(file))
            makeWithFfmpeg("-f lavfi -i sine=frequency=440:duration=1 -c:a pcm_s16le", file);
        return file;
    }
    ShellWorld world;
    AudioImport import;
};

TEST(AudioImport, BothStepsKeepTheGateAndTheConfirmationHandsTheFileOn) {
    struct Case {
        const char* name;
        bool signedIn = true;
        std::function<void(ImportFixture&)> setUp;
        bool panel, question, imported;
        std::string message;
    };
    auto paused = [](ImportFixture& f) {
        f.world.record(1);
        f.world.model->togglePause();
        f.world.queue.drain();
    };
    const std::vector<Case> cases = {
        {"idle", true, {}, true, true, true, "Saved on this Mac. Send to Nuvel when you are ready."},
        {"a paused recording", true, paused, false, false, false, ""},
        {"an update installs", true, [](ImportFixture& f) { f.world.model->setUpdateInProgress(true); },
         false, false, false, ""},
        {"busy", true,
         [](ImportFixture& f) {
             f.world.executor.holding = true;
             f.world.model->importAudio("/nonexistent.wav", false);
         },
         false, false, false, ""},
        {"signed out: sign-in instead (no browser here)",
         false,
         {},
         false,
         false,
         false,
         "Sign-in could not finish. Please try again."},
        {"the model changed while the panel was open", true,
         [](ImportFixture& f) {
             f.world.dialogs.onOpenPanel = [&f] { f.world.model->setUpdateInProgress(true); };
         },
         true, false, false, ""},
        {"the panel cancelled", true, [](ImportFixture& f) { f.world.dialogs.files = {std::nullopt}; }, true,
         false, false, ""},
        {"the question cancelled", true,
         [](ImportFixture& f) {
             f.world.dialogs.answers = {{1, true}};
         },
         true, true, false, ""},
    };
    for (const bool viaPanel : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (viaPanel ? " (open panel)" : " (confirmation alone)"));
            ImportFixture f(c.signedIn);
            const auto file = f.tone();
            f.world.dialogs.files = {file};
            if (c.setUp)
                c.setUp(f);
            const bool panelCase = std::string(c.name).find("panel") != std::string::npos;
            if (!viaPanel && panelCase)
                continue;
            const std::string messageBefore = f.world.model->message();
            const auto before = f.world.model->recordings().size();
            if (viaPanel)
                f.import.chooseAudioFile();
            else
                f.import.confirmImport(file);
            f.world.executor.release();
            f.world.queue.drain();
            EXPECT_EQ(f.world.dialogs.panels.size(), viaPanel && c.panel ? 1u : 0u);
            EXPECT_EQ(f.world.dialogs.asked.size(), c.question ? 1u : 0u);
            if (c.question) {
                const Alert& alert = f.world.dialogs.asked[0];
                EXPECT_EQ(alert.message, question);
                EXPECT_EQ(
                    alert.informativeText,
                    "Confirm you have permission to process this audio. It is copied into Nuvel's encrypted "
                    "local storage. Your original file is unchanged; upload is a separate step.");
                EXPECT_EQ(alert.checkbox, "Generate AI notes when I send this recording");
                EXPECT_EQ(alert.buttons, (QStringList{"Confirm and import", "Cancel"}));
            }
            const bool busyCase = std::string(c.name) == "busy";
            if (!busyCase) {
                EXPECT_EQ(f.world.model->recordings().size(), before + (c.imported ? 1 : 0));
                EXPECT_EQ(f.world.model->message(), c.message.empty() ? messageBefore : c.message);
            }
            if (f.world.model->isRecording()) {
                f.world.model->stopRecording();
                f.world.queue.drain();
            }
        }
    }
}

TEST(AudioImport, TheAINotesBoxFollowsTheDefaultOnceAndLeavesIt) {
    for (const bool byDefault : {false, true}) {
        SCOPED_TRACE(byDefault ? "default on" : "default off");
        ImportFixture f;
        f.world.defaults.set("capture.aiNotesDefault", byDefault);
        f.world.dialogs.answers = {{0, !byDefault}}; // the user turns the box over for this file
        f.import.confirmImport(f.tone());
        f.world.queue.drain();
        ASSERT_EQ(f.world.dialogs.asked.size(), 1u);
        EXPECT_EQ(f.world.dialogs.asked[0].checked, byDefault);
        ASSERT_EQ(f.world.model->recordings().size(), 1u);
        EXPECT_EQ(f.world.model->recordings()[0].aiNotes, !byDefault);
        EXPECT_EQ(f.world.defaults.boolean("capture.aiNotesDefault"), byDefault) << "never written here";
    }
}

// Only the containers an import reads: a playlist or a format the import refuses is not offered.
TEST(AudioImport, TheOpenPanelOffersAudioAndMovieFilesInOneFilter) {
    const QStringList filters = AudioImport::nameFilters();
    ASSERT_EQ(filters.size(), 1);
    const QString& filter = filters[0];
    EXPECT_TRUE(filter.startsWith("Audio and movie files ("));
    for (const char* pattern :
         {"*.wav", "*.mp3", "*.m4a", "*.ogg", "*.flac", "*.mp4", "*.mkv", "*.webm", "*.mov"})
        EXPECT_TRUE(filter.contains(QString(" ") + pattern + " ") ||
                    filter.contains(QString("(") + pattern + " ") ||
                    filter.contains(QString(" ") + pattern + ")"))
            << pattern;
    for (const char* pattern : {"*.txt", "*.png", "*.pdf", "*.m3u", "*.m3u8", "*.pls", "*.avi", "*.wma"})
        EXPECT_FALSE(filter.contains(QString(" ") + pattern + " ")) << pattern;
}

// A drop on the library window leads to the same question as a chosen file, wherever on the
// window it lands, and so does a file pasted into the notes editor; the editor takes text only.
TEST(AudioImport, AFileDroppedOnTheLibraryIsConfirmedLikeAChosenOne) {
    struct Case {
        const char* name;
        bool signedIn;
        std::function<void(ImportFixture&)> setUp;
        int urls;
        bool asked;
        std::string message;
        const char* onto = nullptr; // the widget under the drop; the window when none
        QString text = {};          // what the drag carries besides its files
        bool cloudSide = false;     // the window shows the Nuvel library
        bool pasted = false;        // copied, then pasted into the notes editor with Ctrl+V
    };
    const auto saved = [](ImportFixture& f) {
        f.world.record(1, "Standup");
        f.world.model->stopRecording();
        f.world.queue.drain();
    };
    const std::vector<Case> cases = {
        {"one file", true, {}, 1, true, "Saved on this Mac. Send to Nuvel when you are ready."},
        {"two files: not taken", true, {}, 2, false, ""},
        {"while a recording is paused", true,
         [](ImportFixture& f) {
             f.world.record(1);
             f.world.model->togglePause();
             f.world.queue.drain();
         },
         1, false, ""},
        {"signed out: sign-in, the file is not kept",
         false,
         {},
         1,
         false,
         "Sign-in could not finish. Please try again."},
        {"on the notes editor of a saved recording", true, saved, 1, true,
         "Saved on this Mac. Send to Nuvel when you are ready.", "local-notes-editor", "file path"},
        {"two files on the notes editor: not taken, nothing written", true, saved, 2, false, "",
         "local-notes-editor"},
        {"on the library's search field",
         true,
         {},
         1,
         true,
         "Saved on this Mac. Send to Nuvel when you are ready.",
         "library-search",
         "file path",
         true},
        {"text on the notes editor: written there", true, saved, 0, false, "", "local-notes-editor",
         "Agenda"},
        {"a copied file pasted into the notes editor", true, saved, 1, true,
         "Saved on this Mac. Send to Nuvel when you are ready.", "local-notes-editor", "", false, true},
        {"two copied files pasted into the notes editor: not taken, nothing written", true, saved, 2, false,
         "", "local-notes-editor", "", false, true},
        {"copied text pasted into the notes editor: written there", true, saved, 0, false, "",
         "local-notes-editor", "Agenda", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImportFixture f(c.signedIn);
        if (c.setUp)
            c.setUp(f);
        SheetWorld sheet;
        LibraryController library(*f.world.model, sheet.dependencies(f.world));
        QMimeData data;
        QList<QUrl> urls;
        for (int i = 0; i < c.urls; ++i)
            urls.push_back(QUrl::fromLocalFile(QString::fromStdString(f.tone().string())));
        if (!urls.isEmpty())
            data.setUrls(urls);
        if (!c.text.isEmpty())
            data.setText(c.text);
        QWidget* view = library.view();
        if (c.cloudSide)
            library.locationChanged(1);
        auto* notes = view->findChild<QPlainTextEdit*>("local-notes-editor");
        QWidget* onto = view;
        if (c.onto != nullptr) {
            onto = view->findChild<QWidget*>(c.onto);
            ASSERT_NE(onto, nullptr) << c.onto;
            if (auto* scrolled = qobject_cast<QAbstractScrollArea*>(onto))
                onto = scrolled->viewport(); // where a drop on a text view lands
        }
        const QString notesBefore = notes != nullptr ? notes->toPlainText() : QString();
        if (c.pasted) {
            // As a file manager's copy puts it: the files' addresses, no text.
            auto* copied = new QMimeData;
            copied->setUrls(data.urls());
            if (data.hasFormat(QStringLiteral("text/plain")))
                copied->setText(data.text());
            QGuiApplication::clipboard()->setMimeData(copied);
            ASSERT_NE(notes, nullptr);
            QTest::keyClick(notes, Qt::Key_V, Qt::ControlModifier);
        } else {
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(onto, &enter);
            EXPECT_EQ(enter.isAccepted(), c.urls == 1 || (c.urls == 0 && !c.text.isEmpty()));
            QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(onto, &drop);
        }
        if (notes != nullptr) {
            EXPECT_EQ(notes->toPlainText(), c.urls == 0 ? notesBefore + c.text : notesBefore)
                << "the notes editor takes text only";
        }
        if (auto* field = qobject_cast<QLineEdit*>(onto)) {
            EXPECT_EQ(field->text(), "") << "no path typed into a field";
        }
        EXPECT_TRUE(f.world.dialogs.asked.empty()) << "nothing is asked inside the drop or the key press";
        QCoreApplication::sendPostedEvents();
        f.world.queue.drain();
        ASSERT_EQ(f.world.dialogs.asked.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(f.world.dialogs.asked[0].message, question);
        }
        if (!c.message.empty()) {
            EXPECT_EQ(f.world.model->message(), c.message);
        }
        if (f.world.model->isRecording()) {
            f.world.model->stopRecording();
            f.world.queue.drain();
        }
    }
}

} // namespace
