#include "Nuvel/ui/Dialogs.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMetaObject>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace nuvel::test {
namespace {

// The real open and save panels, answered while they run: the user picks a file in `folder`,
// or cancels.
TEST(FilePanels, AskForTheRightKindOfFileAndReturnTheChoiceOrNone) {
    application();
    TempDir folder("panels");
    const std::filesystem::path existing = folder.path() / "talk.mp3";
    std::ofstream(existing) << "x";
    const QStringList filters{QStringLiteral("Audio (*.mp3)")};

    struct Row {
        const char* name;
        bool save;
        bool pick;
        std::optional<std::filesystem::path> chosen;
    };
    const Row rows[] = {
        {"open, picked", false, true, existing},
        {"open, cancelled", false, false, std::nullopt},
        {"save, proposed name kept", true, true, folder.path() / "notes.m4a"},
        {"save, cancelled", true, false, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bool answered = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answered = true;
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
        QtDialogs dialogs;
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
    dialogs.runModal(Alert{"Rename <b>Q3</b> failed", "The service said: <b>busy</b>", {"OK"}, std::nullopt, false, nullptr});
    shown.sort();
    EXPECT_EQ(shown.join(" | ").toStdString(), "Rename <b>Q3</b> failed | The service said: <b>busy</b>");
}

} // namespace
} // namespace nuvel::test
