#include "Nuvel/ui/settings/DiagnosticsExport.hpp"

#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "NuvelKit/support/Files.hpp"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

namespace nuvel {

QWidget* QtDiagnosticsPanels::makePreview(const QString& text) {
    auto* dialog = new QDialog;
    dialog->setObjectName(QStringLiteral("diagnostics-preview"));
    dialog->setWindowTitle(localized("Preview diagnostics"));
    auto* layout = new QVBoxLayout(dialog);
    auto* message = new QLabel(localized("Preview diagnostics"));
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    auto* informative = new QLabel(localized(
        "Only the counters shown below are included. Audio, transcript, notes, names, tokens, and device "
        "identifiers are excluded. Save the file only if you want to share it with support."));
    informative->setWordWrap(true);
    auto* view = new QPlainTextEdit;
    view->setObjectName(QStringLiteral("diagnostics-text"));
    view->setReadOnly(true);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(12);
    view->setFont(mono);
    view->setPlainText(text);
    view->setFixedSize(460, 230);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* buttons = new QDialogButtonBox;
    QPushButton* save = buttons->addButton(localized("Save…"), QDialogButtonBox::AcceptRole);
    buttons->addButton(localized("Cancel"), QDialogButtonBox::RejectRole);
    save->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(message);
    layout->addWidget(informative);
    layout->addWidget(view);
    layout->addWidget(buttons);
    return dialog;
}

bool QtDiagnosticsPanels::preview(const QString& text) {
    std::unique_ptr<QWidget> widget(makePreview(text));
    auto* dialog = static_cast<QDialog*>(widget.get());
    dialog->setWindowModality(Qt::ApplicationModal);
    return dialog->exec() == QDialog::Accepted;
}

std::optional<std::filesystem::path> QtDiagnosticsPanels::chooseDestination(const QString& fileName) {
    const QString chosen = QFileDialog::getSaveFileName(nullptr, localized("Preview diagnostics"),
                                                        QDir::home().filePath(fileName));
    if (chosen.isEmpty())
        return std::nullopt;
    return std::filesystem::path(chosen.toStdString());
}

void QtDiagnosticsPanels::showFailure() {
    Alert alert;
    alert.message = localized("Diagnostics could not be saved.");
    alert.buttons = {localized("OK")};
    dialogs_.runModal(alert);
}

void exportDiagnostics(const DiagnosticsSnapshot& snapshot, DiagnosticsPanels& panels) {
    Bytes bytes;
    try {
        bytes = snapshot.encoded();
    } catch (const std::exception&) {
        panels.showFailure();
        return;
    }
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    if (!panels.preview(text))
        return;
    const std::optional<std::filesystem::path> destination =
        panels.chooseDestination(QString::fromUtf8(DiagnosticsSnapshot::fileName));
    if (!destination)
        return;
    try {
        files::atomicWrite(*destination, bytes);
    } catch (const std::exception&) {
        panels.showFailure();
    }
}

} // namespace nuvel
