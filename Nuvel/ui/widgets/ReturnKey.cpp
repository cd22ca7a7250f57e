#include "Nuvel/ui/widgets/ReturnKey.hpp"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>

namespace nuvel {

namespace {

bool isReturn(const QKeyEvent* key) {
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// A push button, or a list whose focused row Space chooses.
bool pressedBySpace(const QWidget* widget) {
    return qobject_cast<const QPushButton*>(widget) != nullptr ||
           qobject_cast<const QToolButton*>(widget) != nullptr ||
           qobject_cast<const QAbstractItemView*>(widget) != nullptr;
}

// Return is the key of a default button on screen in the window (a dialog's, or the library's
// message button), wherever the focus is.
bool returnBelongsToDefault(const QWidget* window) {
    const QList<QPushButton*> buttons = window->findChildren<QPushButton*>();
    return std::any_of(buttons.begin(), buttons.end(),
                       [](const QPushButton* button) { return button->isDefault() && button->isVisible(); });
}

// Hands the focused control a Space for each Return, press and release alike: a button is
// pressed as Return goes down and clicked as it comes up, as with Space.
class ReturnAsSpace final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || !isReturn(key))
            return false;
        if (type == QEvent::KeyRelease) {
            if (widget != pressed_)
                return false;
            if (!key->isAutoRepeat())
                pressed_ = nullptr;
        } else {
            // Only the control with the focus, not a parent the key is passed on to; never in a
            // pop-up (a combo box's list), whose Return picks.
            if (widget != QApplication::focusWidget() || !pressedBySpace(widget) ||
                widget->window()->windowType() == Qt::Popup || returnBelongsToDefault(widget->window()))
                return false;
            pressed_ = widget;
        }
        QKeyEvent space(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), key->isAutoRepeat());
        QCoreApplication::sendEvent(widget, &space);
        return true;
    }

private:
    QPointer<QWidget> pressed_;
};

} // namespace

void useReturnAsSpace() {
    static ReturnAsSpace* filter = [] {
        auto* made = new ReturnAsSpace(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(made);
        return made;
    }();
    (void)filter;
}

} // namespace nuvel
