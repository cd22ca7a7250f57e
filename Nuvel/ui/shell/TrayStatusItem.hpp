#pragma once

#include "Nuvel/ui/shell/StatusItem.hpp"

#include <QIcon>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace nuvel {

// The status item as a tray icon (StatusNotifierItem or XEmbed, whichever the desktop hosts).
// A tray icon shows no text, so the elapsed time goes into its tooltip; the tint is a red
// variant of the symbol. Its context menu is the caller's.
class TrayStatusItem final : public StatusItemView {
public:
    // Whether the desktop hosts tray icons (not under plain GNOME, nor offscreen).
    static bool isAvailable();

    explicit TrayStatusItem(QMenu* contextMenu);
    ~TrayStatusItem() override;

    void render(const StatusItemAppearance& appearance) override;
    QRect buttonGeometry() const override;

    // The tooltip for an appearance: the accessibility label, with the title's time when the
    // label does not carry it.
    static QString toolTip(const StatusItemAppearance& appearance);
    // The symbol's bundled icon, red when tinted.
    static QIcon icon(const QString& symbol, bool tinted);

private:
    std::unique_ptr<QSystemTrayIcon> tray_;
    StatusItemAppearance shown_;
    bool rendered_ = false;
};

} // namespace nuvel
