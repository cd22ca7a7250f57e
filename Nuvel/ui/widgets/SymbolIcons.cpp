#include "Nuvel/ui/widgets/SymbolIcons.hpp"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace nuvel {

QPixmap symbolPixmap(Symbol symbol, int size, const QColor& color, qreal devicePixelRatio) {
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int extent = std::max(1, size);
    QPixmap pixmap(QSize(extent, extent) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);

    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = extent;
    const qreal line = std::max<qreal>(1.0, s / 12.0);
    QPen pen(color, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);

    switch (symbol) {
    case Symbol::video:
    case Symbol::videoFill: {
        const QRectF body(s * 0.06, s * 0.26, s * 0.6, s * 0.48);
        QPainterPath lens;
        lens.moveTo(s * 0.7, s * 0.44);
        lens.lineTo(s * 0.94, s * 0.3);
        lens.lineTo(s * 0.94, s * 0.7);
        lens.lineTo(s * 0.7, s * 0.56);
        lens.closeSubpath();
        if (symbol == Symbol::videoFill)
            p.setBrush(color);
        p.drawRoundedRect(body, s * 0.1, s * 0.1);
        p.drawPath(lens);
        break;
    }
    case Symbol::calendar: {
        const QRectF page(s * 0.1, s * 0.16, s * 0.8, s * 0.74);
        p.drawRoundedRect(page, s * 0.1, s * 0.1);
        p.drawLine(QPointF(page.left(), s * 0.38), QPointF(page.right(), s * 0.38));
        p.drawLine(QPointF(s * 0.32, s * 0.06), QPointF(s * 0.32, s * 0.24));
        p.drawLine(QPointF(s * 0.68, s * 0.06), QPointF(s * 0.68, s * 0.24));
        p.setBrush(color);
        p.setPen(Qt::NoPen);
        const qreal dot = s * 0.1;
        for (qreal x : {0.3, 0.5, 0.7})
            for (qreal y : {0.54, 0.74})
                p.drawEllipse(QPointF(s * x, s * y), dot / 2, dot / 2);
        break;
    }
    case Symbol::ellipsisCircle: {
        p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
        p.setBrush(color);
        p.setPen(Qt::NoPen);
        for (qreal x : {0.3, 0.5, 0.7})
            p.drawEllipse(QPointF(s * x, s * 0.5), s * 0.055, s * 0.055);
        break;
    }
    }
    return pixmap;
}

QIcon symbolIcon(Symbol symbol, const QColor& color) {
    QIcon icon;
    for (int size : {12, 16, 24, 32, 36, 48, 64})
        for (qreal ratio : {1.0, 2.0})
            icon.addPixmap(symbolPixmap(symbol, size, color, ratio));
    return icon;
}

} // namespace nuvel
