#include "Nuvel/ui/widgets/MenuButton.hpp"

#include <QAccessibleWidget>
#include <QMenu>
#include <QPainter>
#include <QPen>

namespace nuvel {

namespace {

class AccessibleMenuButton : public QAccessibleWidget {
public:
    explicit AccessibleMenuButton(MenuButton* button) : QAccessibleWidget(button, QAccessible::ButtonMenu) {}

    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            text = button()->text().remove(QLatin1Char('&'));
        return text;
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.hasPopup = true;
        state.pressed = button()->isDown() || openMenu() != nullptr;
        return state;
    }

    int childCount() const override { return openMenu() != nullptr ? 1 : 0; }
    QAccessibleInterface* child(int index) const override {
        QMenu* menu = openMenu();
        return index == 0 && menu != nullptr ? QAccessible::queryAccessibleInterface(menu) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() != nullptr && child->object() == openMenu() ? 0 : -1;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (button()->isEnabled() && button()->menu() != nullptr)
            names << showMenuAction() << pressAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& actionName) override {
        if (actionName != showMenuAction() && actionName != pressAction()) {
            QAccessibleWidget::doAction(actionName);
            return;
        }
        if (!button()->isEnabled() || button()->menu() == nullptr)
            return;
        // The menu runs its own event loop; opening it after this call returns lets the bus
        // answer the tool that asked.
        QMetaObject::invokeMethod(button(), &QPushButton::showMenu, Qt::QueuedConnection);
    }

private:
    QPushButton* button() const { return static_cast<QPushButton*>(widget()); }
    QMenu* openMenu() const {
        QMenu* menu = button()->menu();
        return menu != nullptr && menu->isVisible() ? menu : nullptr;
    }
};

QAccessibleInterface* accessibleMenuButton(const QString&, QObject* object) {
    if (auto* button = qobject_cast<MenuButton*>(object))
        return new AccessibleMenuButton(button);
    return nullptr;
}

} // namespace

MenuButton::MenuButton(QWidget* parent) : QPushButton(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleMenuButton);
        return true;
    }();
    (void)installed;
    setFlat(true);
    auto* menu = new QMenu(this);
    // An item triggered by an assistive tool leaves the menu open on its own.
    connect(menu, &QMenu::triggered, menu, &QMenu::hide);
    setMenu(menu);
}

void MenuButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    // A flat button gets no focus frame from the style: the keyboard's place is drawn here.
    if (!hasFocus())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
}

} // namespace nuvel
