#include "Nuvel/ui/common/Dialogs.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace nuvel::test {
namespace {

// Puts an environment variable in place for as long as it lives.
class EnvironmentScope {
public:
    EnvironmentScope(const char* name, const std::string& value) : name_(name) {
        if (const char* before = std::getenv(name))
            before_ = before;
        setenv(name, value.c_str(), 1);
    }
    ~EnvironmentScope() {
        if (before_)
            setenv(name_, before_->c_str(), 1);
        else
            unsetenv(name_);
    }
    EnvironmentScope(const EnvironmentScope&) = delete;
    EnvironmentScope& operator=(const EnvironmentScope&) = delete;

private:
    const char* name_;
    std::optional<std::string> before_;
};

// The real open and save panels, answered while they run: the user picks a file in `folder`,
// or cancels. A panel opens in the user's Music folder, or home without one, until a file is
// chosen; then in that file's folder. Never in the program's working folder.
TEST(FilePanels, AskForTheRightKindOfFileAndReturnTheChoiceOrNone) {
    application();
    TempDir folder("panels");
    TempDir home("panels-home");
    const EnvironmentScope homeScope("HOME", home.path().string());
    const EnvironmentScope configScope("XDG_CONFIG_HOME", (home.path() / ".config").string());
    const std::filesystem::path existing = folder.path() / "talk.mp3";
    std::ofstream(existing) << "x";
    const QStringList filters{QStringLiteral("Audio (*.mp3)")};

    struct Row {
        const char* name;
        bool save;
        bool pick;
        std::optional<std::filesystem::path> chosen;
        std::filesystem::path opensIn;
        bool musicFolder = true;
    };
    const Row rows[] = {
        {"save, cancelled, without a Music folder", true, false, std::nullopt, home.path(), false},
        {"open, picked", false, true, existing, home.path() / "Music"},
        {"open, cancelled", false, false, std::nullopt, folder.path()},
        {"save, proposed name kept", true, true, folder.path() / "notes.m4a", folder.path()},
        {"save, cancelled", true, false, std::nullopt, folder.path()},
    };
    QtDialogs dialogs;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.musicFolder)
            std::filesystem::create_directories(home.path() / "Music");
        bool answered = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answered = true;
            EXPECT_EQ(std::filesystem::path(dialog->directory().canonicalPath().toStdString()),
                      std::filesystem::canonical(row.opensIn));
            EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
            EXPECT_EQ(dialog->acceptMode(), row.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
            EXPECT_EQ(dialog->fileMode(), row.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
            EXPECT_EQ(dialog->nameFilters(), filters);
            if (!row.pick) {
                dialog->reject();
                return;
            }
            dialog->setDirectory(QString::fromStdString(folder.path().string()));
            if (!row.save)
                dialog->selectFile(QString::fromStdString(existing.string()));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        const std::optional<std::filesystem::path> result =
            row.save ? dialogs.runSavePanel(SavePanel{QStringLiteral("notes.m4a"), filters})
                     : dialogs.runOpenPanel(OpenPanel{filters});
        EXPECT_TRUE(answered);
        EXPECT_EQ(result, row.chosen);
    }
}

// An alert's two texts may quote the service or the user: both are shown as typed.
TEST(FilePanels, AlertsShowTheirTextsAsTyped) {
    application();
    QStringList shown;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        for (QLabel* label : box->findChildren<QLabel*>())
            if (label->text().contains("<b>"))
                shown << label->text() + (label->textFormat() == Qt::PlainText ? "" : " (markup)");
        QMetaObject::invokeMethod(box, "reject");
    });
    QtDialogs dialogs;
    dialogs.runModal(Alert{
        "Rename <b>Q3</b> failed", "The service said: <b>busy</b>", {"OK"}, std::nullopt, false, nullptr});
    shown.sort();
    EXPECT_EQ(shown.join(" | ").toStdString(), "Rename <b>Q3</b> failed | The service said: <b>busy</b>");
}

// The real alerts, answered with the Return key as a user would: Return never takes an action
// that cannot be undone, not even with the focus on its button, and still takes any other.
TEST(Alerts, ReturnNeverConfirmsWhatCannotBeUndone) {
    application();
    struct Row {
        const char* name;
        bool destructive;
        bool withAccessory;
        bool focusOnAction;
        int answer;
    };
    const Row rows[] = {
        {"a confirmation", true, false, false, 1},
        {"a confirmation with the focus on its action", true, false, true, 1},
        {"a confirmation with an accessory", true, true, true, 1},
        {"an ordinary question", false, false, false, 0},
        {"an ordinary question with an accessory", false, true, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bool answered = false;
        QTimer::singleShot(0, [&] {
            QWidget* alert = QApplication::activeModalWidget();
            ASSERT_NE(alert, nullptr);
            answered = true;
            QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : alert;
            if (row.focusOnAction)
                for (QPushButton* button : alert->findChildren<QPushButton*>())
                    if (button->text() == "Act") {
                        button->setFocus(Qt::TabFocusReason);
                        target = button;
                    }
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(target, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(target, &release);
        });
        QLabel accessory(QStringLiteral("detail"));
        Alert alert;
        alert.message = QStringLiteral("Question?");
        alert.buttons = {QStringLiteral("Act"), QStringLiteral("Cancel")};
        alert.destructive = row.destructive;
        alert.accessory = row.withAccessory ? &accessory : nullptr;
        QtDialogs dialogs;
        EXPECT_EQ(dialogs.runModal(alert).button, row.answer);
        EXPECT_TRUE(answered);
    }
    // Sign-out, removing a local copy and deleting a meeting all ask through this one question.
    QTimer::singleShot(0, [] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(QApplication::activeModalWidget(), &press);
    });
    QtDialogs dialogs;
    EXPECT_FALSE(confirmed(dialogs, "Delete this meeting from Nuvel?", "", "Delete meeting"));
}

} // namespace
} // namespace nuvel::test
