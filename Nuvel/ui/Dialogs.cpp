#include "Nuvel/ui/Dialogs.hpp"

#include "Nuvel/ui/Localization.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace nuvel {

AlertAnswer QtDialogs::runModal(const Alert& alert) {
    QMessageBox box;
    box.setWindowModality(Qt::ApplicationModal);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setTextFormat(Qt::PlainText);
    box.setText(alert.message);
    box.setInformativeText(alert.informativeText);

    QList<QAbstractButton*> buttons;
    for (int i = 0; i < alert.buttons.size(); ++i) {
        const QString& title = alert.buttons[i];
        const bool cancels = title == localized("Cancel");
        QPushButton* button = box.addButton(title, i == 0 ? QMessageBox::AcceptRole
                                                          : (cancels ? QMessageBox::RejectRole : QMessageBox::ActionRole));
        if (i == 0)
            box.setDefaultButton(button);
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

void QtDialogs::showAbout() {
    const QString name = QApplication::applicationDisplayName();
    QMessageBox::about(nullptr, localized("About Nuvel"),
                       name + QStringLiteral(" ") + QApplication::applicationVersion());
}

} // namespace nuvel
