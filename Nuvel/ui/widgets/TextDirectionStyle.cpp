#include "Nuvel/ui/widgets/TextDirectionStyle.hpp"

#include <QApplication>
#include <QPainter>

namespace nuvel {

void TextDirectionStyle::drawItemText(QPainter* painter, const QRect& rect, int flags,
                                      const QPalette& palette, bool enabled, const QString& text,
                                      QPalette::ColorRole textRole) const {
    constexpr int forced = Qt::TextForceLeftToRight | Qt::TextForceRightToLeft;
    if ((flags & forced) == 0 && painter != nullptr) {
        // The place first, as the painter's direction gives it; then the text's own direction.
        constexpr int placing = Qt::AlignHorizontal_Mask | Qt::AlignAbsolute;
        const Qt::Alignment placed =
            QStyle::visualAlignment(painter->layoutDirection(), Qt::Alignment(flags & placing));
        flags = (flags & ~placing) | int(placed) |
                (text.isRightToLeft() ? Qt::TextForceRightToLeft : Qt::TextForceLeftToRight);
    }
    QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
}

void useTextDirectionStyle() {
    if (qobject_cast<TextDirectionStyle*>(QApplication::style()) == nullptr)
        QApplication::setStyle(new TextDirectionStyle); // the application owns it
}

} // namespace nuvel
