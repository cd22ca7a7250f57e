#include "Nuvel/ui/settings/DiagnosticsExport.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QWidget>
#include <fstream>
#include <gtest/gtest.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Panels final : DiagnosticsPanels {
    bool save = true;
    std::optional<fs::path> destination;
    QString shown;
    QString proposed;
    int failures = 0;
    bool preview(const QString& text) override {
        shown = text;
        return save;
    }
    std::optional<fs::path> chooseDestination(const QString& fileName) override {
        proposed = fileName;
        return destination;
    }
    void showFailure() override { ++failures; }
};

TEST(DiagnosticsExport, savesExactlyThePreviewedBytesAndNothingOnCancelOrFailure) {
    test::application();
    TempDir dir("diagnostics");
    const DiagnosticsSnapshot snapshot({}, true, false);
    const std::string bytes = stringOf(snapshot.encoded());
    const fs::path target = dir / "Nuvel-diagnostics.json";
    struct Case {
        const char* name;
        bool save;
        std::optional<fs::path> destination;
        std::string expectedFile;
        int failures;
    };
    const std::vector<Case> cases = {
        {"cancel in the preview", false, target, "old", 0},
        {"cancel in the save panel", true, std::nullopt, "old", 0},
        {"a folder that does not exist", true, dir / "missing" / "x.json", "old", 1},
        {"an existing file, replaced whole", true, target, bytes, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(target, std::ios::trunc) << "old";
        Panels panels;
        panels.save = c.save;
        panels.destination = c.destination;
        exportDiagnostics(snapshot, panels);
        EXPECT_EQ(panels.shown.toStdString(), bytes);
        EXPECT_EQ(stringOf(files::readFile(target)), c.expectedFile);
        EXPECT_EQ(panels.failures, c.failures);
        if (c.save) {
            EXPECT_EQ(panels.proposed, QStringLiteral("Nuvel-diagnostics.json"));
        }
    }
    std::unique_ptr<QWidget> preview(QtDiagnosticsPanels::makePreview(QString::fromStdString(bytes)));
    preview->show();
    EXPECT_TRUE(preview->grab().save(
        QString::fromStdString((test::artifactsFolder() / "diagnostics-preview.png").string()), "PNG"));
}

} // namespace
} // namespace nuvel
