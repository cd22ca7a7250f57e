#include "Nuvel/ui/widgets/FocusPlace.hpp"

#include <QAbstractButton>
#include <QList>
#include <algorithm>

namespace nuvel {

namespace {

// The area's controls that Tab reaches, in tab order.
QList<QWidget*> controls(QWidget* area) {
    QList<QWidget*> found;
    for (QWidget* widget = area->nextInFocusChain(); widget != nullptr && widget != area;
         widget = widget->nextInFocusChain()) {
        if (found.contains(widget))
            break;
        if (area->isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() &&
            widget->isVisibleTo(area))
            found.push_back(widget);
    }
    return found;
}

QString keyOf(const QWidget* widget) {
    QString key = QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char('\n') +
                  widget->objectName() + QLatin1Char('\n') + widget->accessibleName();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        key += QLatin1Char('\n') + button->text();
    return key;
}

} // namespace

FocusPlace FocusPlace::inside(QWidget* area) {
    FocusPlace place;
    QWidget* window = area != nullptr ? area->window() : nullptr;
    QWidget* focused = window != nullptr ? window->focusWidget() : nullptr;
    if (focused == nullptr || !area->isAncestorOf(focused))
        return place;
    place.area_ = area;
    place.widget_ = focused;
    place.key_ = keyOf(focused);
    const QList<QWidget*> all = controls(area);
    place.index_ = std::max<qsizetype>(0, all.indexOf(focused));
    for (QWidget* widget : all) {
        if (widget == focused)
            break;
        place.occurrence_ += keyOf(widget) == place.key_;
    }
    return place;
}

bool FocusPlace::restore() const {
    if (area_.isNull())
        return false;
    // Still inside: the control survived, or the user has moved on within the area.
    if (QWidget* now = area_->window()->focusWidget(); now != nullptr && area_->isAncestorOf(now))
        return true;
    const QList<QWidget*> all = controls(area_);
    QWidget* target = nullptr;
    if (!widget_.isNull() && all.contains(widget_.data())) {
        target = widget_.data();
    } else {
        int seen = 0;
        for (QWidget* widget : all)
            if (keyOf(widget) == key_ && seen++ == occurrence_) {
                target = widget;
                break;
            }
        if (target == nullptr && !all.isEmpty())
            target = all.at(std::min<qsizetype>(index_, all.size() - 1));
    }
    if (target == nullptr)
        return false;
    if (!target->hasFocus())
        target->setFocus(Qt::OtherFocusReason);
    return true;
}

} // namespace nuvel
