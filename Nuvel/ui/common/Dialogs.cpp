#include "Nuvel/ui/common/Dialogs.hpp"

#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace nuvel {

AlertAnswer QtDialogs::runModal(const Alert& alert) {
    if (alert.accessory != nullptr)
        return runWithAccessory(alert);
    QMessageBox box;
    box.setWindowModality(Qt::ApplicationModal);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setTextFormat(Qt::PlainText);
    box.setText(alert.message);
    box.setInformativeText(alert.informativeText);
    // The box's text format covers its main text only; the informative text may carry the
    // service's words.
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);

    QList<QAbstractButton*> buttons;
    for (int i = 0; i < alert.buttons.size(); ++i) {
        const QString& title = alert.buttons[i];
        const bool cancels = title == localized("Cancel");
        QPushButton* button =
            box.addButton(title, i == 0 ? QMessageBox::AcceptRole
                                        : (cancels ? QMessageBox::RejectRole : QMessageBox::ActionRole));
        if (alert.destructive ? cancels : i == 0)
            box.setDefaultButton(button);
        if (alert.destructive && i == 0)
            button->setAutoDefault(false);
        if (cancels)
            box.setEscapeButton(button);
        buttons.push_back(button);
    }
    QCheckBox* checkbox = nullptr;
    if (alert.checkbox) {
        checkbox = new QCheckBox(*alert.checkbox);
        checkbox->setChecked(alert.checked);
        box.setCheckBox(checkbox);
        // The question the checkbox asks comes first: it has the focus, Return still presses the
        // default button.
        QTimer::singleShot(0, checkbox, [checkbox] { checkbox->setFocus(Qt::OtherFocusReason); });
    }
    box.exec();

    AlertAnswer answer;
    answer.button = int(buttons.indexOf(box.clickedButton()));
    answer.checked = checkbox != nullptr && checkbox->isChecked();
    return answer;
}

// A message box has no place for an accessory view: such an alert is a dialog of its own, laid
// out as the message box is (icon, bold message, informative text, then the accessory and the
// buttons at the trailing end, the first one default).
AlertAnswer QtDialogs::runWithAccessory(const Alert& alert) {
    QDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setWindowTitle(QApplication::applicationDisplayName());
    dialog.setObjectName(QStringLiteral("alert"));
    dialog.setLayoutDirection(preferredLayoutDirection());

    auto* icon = new QLabel;
    icon->setPixmap(dialog.style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    QLabel* message = makeWrappingLabel(alert.message, 14, QFont::DemiBold);
    message->setObjectName(QStringLiteral("alert-message"));
    QLabel* informative = makeWrappingLabel(alert.informativeText, 12, QFont::Normal);
    informative->setObjectName(QStringLiteral("alert-informative"));
    informative->setMaximumWidth(alert.accessory->width());

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    int clicked = -1;
    // In reverse, so that the first button ends up at the trailing end.
    for (qsizetype i = alert.buttons.size() - 1; i >= 0; --i) {
        auto* button = new QPushButton(alert.buttons[i]);
        button->setObjectName(QStringLiteral("alert-button-%1").arg(i));
        const int index = int(i);
        const bool cancels = alert.buttons[i] == localized("Cancel");
        QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, &clicked, index, cancels] {
            clicked = index;
            if (cancels)
                dialog.reject();
            else
                dialog.accept();
        });
        const bool isDefault = alert.destructive ? cancels : i == 0;
        button->setDefault(isDefault);
        button->setAutoDefault(isDefault);
        buttonRow->addWidget(button);
    }

    auto* texts = new QVBoxLayout;
    texts->setSpacing(10);
    texts->addWidget(message);
    texts->addWidget(informative);
    texts->addWidget(alert.accessory);
    texts->addLayout(buttonRow);
    auto* layout = new QHBoxLayout(&dialog);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(16);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
    dialog.setSizeGripEnabled(false);
    // The accessory's focus proxy, when it has one, is what the user answers first; Return
    // still presses the default button. The proxy is lifted while the dialog runs: kept, it
    // makes the whole accessory one Tab stop, and Tab would never reach its other controls.
    QWidget* accessory = alert.accessory;
    QPointer<QWidget> first = accessory->focusProxy();
    if (first) {
        accessory->setFocusProxy(nullptr);
        QTimer::singleShot(0, first, [first] { first->setFocus(Qt::OtherFocusReason); });
    }
    dialog.exec();

    // The accessory stays the caller's, as it came.
    if (first)
        accessory->setFocusProxy(first);
    alert.accessory->hide();
    alert.accessory->setParent(nullptr);
    AlertAnswer answer;
    answer.button = clicked;
    return answer;
}

QString QtDialogs::startFolder() const {
    if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir())
        return lastFolder_;
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir())
        return music;
    return QDir::homePath();
}

// Shows a file panel application-modal; the chosen file, or none when it was cancelled or
// nothing was chosen. `proposedName`, when there is one, is filled in for the user.
std::optional<std::filesystem::path> QtDialogs::runFilePanel(int fileMode, int acceptMode,
                                                             const QStringList& nameFilters,
                                                             const std::optional<QString>& proposedName) {
    QFileDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setFileMode(QFileDialog::FileMode(fileMode));
    dialog.setAcceptMode(QFileDialog::AcceptMode(acceptMode));
    dialog.setNameFilters(nameFilters);
    dialog.setDirectory(startFolder());
    if (proposedName)
        dialog.selectFile(*proposedName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return std::nullopt;
    lastFolder_ = QFileInfo(files.first()).absolutePath();
    return std::filesystem::path(files.first().toStdString());
}

std::optional<std::filesystem::path> QtDialogs::runOpenPanel(const OpenPanel& panel) {
    return runFilePanel(QFileDialog::ExistingFile, QFileDialog::AcceptOpen, panel.nameFilters, std::nullopt);
}

bool confirmed(Dialogs& dialogs, const char* message, const char* informativeText, const char* action) {
    Alert alert;
    alert.message = localized(message);
    alert.informativeText = localized(informativeText);
    alert.buttons = {localized(action), localized("Cancel")};
    alert.destructive = true;
    return dialogs.runModal(alert).button == 0;
}

std::optional<std::filesystem::path> QtDialogs::runSavePanel(const SavePanel& panel) {
    return runFilePanel(QFileDialog::AnyFile, QFileDialog::AcceptSave, panel.nameFilters, panel.proposedName);
}

void QtDialogs::showAbout() {
    const QString name = QApplication::applicationDisplayName();
    QMessageBox::about(nullptr, localized("About Nuvel"),
                       name + QStringLiteral(" ") + QApplication::applicationVersion());
}

} // namespace nuvel
