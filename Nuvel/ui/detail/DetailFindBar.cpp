#include "Nuvel/ui/detail/DetailFindBar.hpp"

#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"

#include <QLineEdit>

namespace nuvel {

QLineEdit* DetailFindBar::build(MeetingDetailController& owner) {
    field_ = new QLineEdit;
    field_->setPlaceholderText(localized("Find in this meeting"));
    field_->setAccessibleName(localized("Find in this meeting"));
    field_->setObjectName(QStringLiteral("meeting-detail-search"));
    field_->setClearButtonEnabled(true);
    nameClearButton(field_, localized("Clear search"));
    field_->setMinimumWidth(120);
    field_->setMaximumWidth(220);
    QObject::connect(field_, &QLineEdit::returnPressed, &owner, &MeetingDetailController::findNext);
    QObject::connect(field_, &QLineEdit::textChanged, &owner, &MeetingDetailController::findChanged);
    return field_;
}

std::u16string DetailFindBar::query() const {
    return field_->text().toStdU16String();
}

void DetailFindBar::clear() {
    if (field_ != nullptr)
        field_->clear();
}

bool DetailFindBar::takeFocusWithin(QWidget* root) {
    if (root == nullptr || field_ == nullptr || root->isHidden())
        return false;
    QWidget* focus = root->window()->focusWidget();
    if (focus == nullptr || !root->isAncestorOf(focus))
        return false;
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
    return true;
}

} // namespace nuvel
