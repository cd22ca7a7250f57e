#include "Nuvel/ui/shell/Popover.hpp"

#include "Nuvel/ui/widgets/AccessibleRoles.hpp"
#include "Nuvel/ui/widgets/TransientWindow.hpp"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace nuvel {

Popover::Popover() {
    setObjectName(QStringLiteral("status-popover"));
    makeTransientWindow(this);
    // Named as its header reads: the product's name, as it is.
    markAsPanel(this, QStringLiteral("Nuvel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

Popover::~Popover() {
    // The content belongs to its controller: hand it back rather than delete it with the panel.
    if (content_ && content_->parent() == this)
        content_->setParent(nullptr);
}

void Popover::showRelativeTo(const QRect& anchor) {
    if (content_ && content_->parentWidget() != this)
        layout()->addWidget(content_);
    adjustSize();
    const QPoint below = anchor.isEmpty() ? QCursor::pos() : QPoint(anchor.center().x(), anchor.bottom() + 1);
    QScreen* screen = QGuiApplication::screenAt(below);
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    QPoint origin(below.x() - width() / 2, below.y());
    if (screen != nullptr) {
        const QRect area = screen->availableGeometry();
        // Under the item, or above it when a panel at the bottom leaves no room below.
        if (origin.y() + height() > area.bottom() && !anchor.isEmpty())
            origin.setY(anchor.top() - height());
        origin.setX(std::clamp(origin.x(), area.left(), std::max(area.left(), area.right() - width())));
        origin.setY(std::clamp(origin.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    }
    move(origin);
    show();
    raise();
}

bool Popover::closedJustNow() const {
    return deactivated_.isValid() && deactivated_.elapsed() < 500;
}

void Popover::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow())
        deactivated_.start();
    QWidget::changeEvent(event);
}

void Popover::performClose() {
    if (isVisible())
        close();
}

} // namespace nuvel
