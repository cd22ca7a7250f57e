#include "Nuvel/ui/widgets/FocusPlace.hpp"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QList>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <algorithm>

namespace nuvel {

namespace {

// The area's controls that Tab reaches, in tab order; with `greyed`, those it would reach if
// they were enabled.
QList<QWidget*> controls(QWidget* area, bool greyed = false) {
    QList<QWidget*> found;
    for (QWidget* widget = area->nextInFocusChain(); widget != nullptr && widget != area;
         widget = widget->nextInFocusChain()) {
        if (found.contains(widget))
            break;
        if (area->isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) &&
            widget->isEnabled() != greyed && widget->isVisibleTo(area))
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

// The `occurrence`th of `all` with `key`.
QWidget* withKey(const QList<QWidget*>& all, const QString& key, int occurrence) {
    int seen = 0;
    for (QWidget* widget : all)
        if (keyOf(widget) == key && seen++ == occurrence)
            return widget;
    return nullptr;
}

// A field that takes typing (read-only for now or not).
bool takesTyping(const QWidget* widget) {
    if (const auto* box = qobject_cast<const QComboBox*>(widget))
        return box->isEditable();
    return qobject_cast<const QLineEdit*>(widget) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(widget) != nullptr ||
           qobject_cast<const QTextEdit*>(widget) != nullptr ||
           qobject_cast<const QAbstractSpinBox*>(widget) != nullptr;
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
    place.typing_ = takesTyping(focused);
    const QList<QWidget*> all = controls(area);
    place.index_ = std::max<qsizetype>(0, all.indexOf(focused));
    for (QWidget* widget : all) {
        if (widget == focused)
            break;
        place.occurrence_ += keyOf(widget) == place.key_;
    }
    return place;
}

FocusPlace::Restored FocusPlace::restore() const {
    if (area_.isNull())
        return Restored::nowhere;
    // Still inside: the control survived, or the user has moved on within the area.
    if (QWidget* now = area_->window()->focusWidget(); now != nullptr && area_->isAncestorOf(now))
        return Restored::given;
    const QList<QWidget*> all = controls(area_);
    QWidget* target = nullptr;
    if (!widget_.isNull() && all.contains(widget_.data())) {
        target = widget_.data();
    } else {
        target = withKey(all, key_, occurrence_);
        if (target == nullptr && withKey(controls(area_, true), key_, occurrence_) != nullptr)
            return Restored::greyed;
        if (target == nullptr) {
            QList<QWidget*> places = all;
            if (!typing_)
                places.removeIf([](const QWidget* widget) { return takesTyping(widget); });
            // The one now in its place, else the last before it.
            if (!places.isEmpty()) {
                const auto at = std::find_if(places.begin(), places.end(),
                                             [&](QWidget* widget) { return all.indexOf(widget) >= index_; });
                target = at != places.end() ? *at : places.back();
            }
        }
    }
    if (target == nullptr)
        return Restored::nowhere;
    if (!target->hasFocus())
        target->setFocus(Qt::OtherFocusReason);
    return Restored::given;
}

} // namespace nuvel
