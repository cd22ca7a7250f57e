#pragma once

#include "Nuvel/model/DiagnosticsSnapshot.hpp"

#include <QString>
#include <filesystem>
#include <optional>

class QWidget;

namespace nuvel {

class Dialogs;

// The three modal steps of saving the diagnostics file, so tests can answer them.
class DiagnosticsPanels {
public:
    virtual ~DiagnosticsPanels() = default;
    // The preview alert showing `text` exactly; true when "Save…" was chosen.
    virtual bool preview(const QString& text) = 0;
    // The save panel proposing `fileName`; none when cancelled.
    virtual std::optional<std::filesystem::path> chooseDestination(const QString& fileName) = 0;
    // "Diagnostics could not be saved."
    virtual void showFailure() = 0;
};

// The preview as a dialog with the file's text in a read-only monospaced view, the save
// panel as the desktop's file dialog, the failure through the shell's alerts.
class QtDiagnosticsPanels final : public DiagnosticsPanels {
public:
    explicit QtDiagnosticsPanels(Dialogs& dialogs) : dialogs_(dialogs) {}
    bool preview(const QString& text) override;
    std::optional<std::filesystem::path> chooseDestination(const QString& fileName) override;
    void showFailure() override;

    // The preview dialog, unshown (for its screenshot).
    static QWidget* makePreview(const QString& text);

private:
    Dialogs& dialogs_;
};

// Preview, save panel and atomic write, in that order; any failure ends in the failure alert
// and leaves an existing file at the destination as it was. Main thread.
void exportDiagnostics(const DiagnosticsSnapshot& snapshot, DiagnosticsPanels& panels);

} // namespace nuvel
