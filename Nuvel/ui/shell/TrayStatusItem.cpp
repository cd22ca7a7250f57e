#include "Nuvel/ui/shell/TrayStatusItem.hpp"

#include "Nuvel/ui/common/MainActorEntry.hpp"

#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace nuvel {

bool TrayStatusItem::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

TrayStatusItem::TrayStatusItem(QMenu* contextMenu) : tray_(std::make_unique<QSystemTrayIcon>()) {
    tray_->setContextMenu(contextMenu);
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         NUVEL_MAIN_ACTOR_ENTRY();
                         if (reason == QSystemTrayIcon::Trigger && onActivate)
                             onActivate();
                     });
    tray_->setIcon(icon(QStringLiteral("waveform"), false));
    tray_->setToolTip(QStringLiteral("Nuvel"));
    tray_->show();
}

TrayStatusItem::~TrayStatusItem() = default;

QString TrayStatusItem::toolTip(const StatusItemAppearance& appearance) {
    const QString time = appearance.title.trimmed();
    if (time.isEmpty() || appearance.accessibilityLabel.endsWith(time))
        return appearance.accessibilityLabel;
    return appearance.accessibilityLabel + QStringLiteral(" ") + time;
}

QIcon TrayStatusItem::icon(const QString& symbol, bool tinted) {
    QIcon plain(QStringLiteral(":/icons/") + symbol + QStringLiteral(".svg"));
    if (!tinted)
        return plain;
    QIcon red;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap = plain.pixmap(size, size);
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), QColor(0xFF, 0x3B, 0x30));
        painter.end();
        red.addPixmap(pixmap);
    }
    return red;
}

void TrayStatusItem::render(const StatusItemAppearance& appearance) {
    if (rendered_ && appearance == shown_)
        return;
    if (!rendered_ || appearance.symbol != shown_.symbol || appearance.tinted != shown_.tinted)
        tray_->setIcon(icon(appearance.symbol, appearance.tinted));
    tray_->setToolTip(toolTip(appearance));
    shown_ = appearance;
    rendered_ = true;
}

QRect TrayStatusItem::buttonGeometry() const {
    return tray_->geometry();
}

} // namespace nuvel
