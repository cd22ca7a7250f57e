#include "Nuvel/ui/widgets/LevelIndicator.hpp"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace nuvel {

namespace {

double clamped(double value) {
    if (std::isnan(value))
        return 0.0;
    return std::clamp(value, 0.0, 1.0);
}

} // namespace

LevelIndicator::LevelIndicator(QWidget* parent) : QWidget(parent) {
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelIndicator::setValue(double value) {
    const double next = clamped(value);
    if (next == value_)
        return;
    // The value is fed ten times a second while recording: repaint only when the bar changes
    // visibly (its fill by a whole pixel, or its colour), not for every change of the level.
    const int filledBefore = filledPixels();
    const QColor colourBefore = fillColor();
    value_ = next;
    if (filledPixels() != filledBefore || fillColor() != colourBefore)
        update();
}

int LevelIndicator::filledPixels() const {
    return int(std::lround((width() - 1) * value_));
}

void LevelIndicator::setWarningValue(double value) {
    warning_ = clamped(value);
    update();
}

void LevelIndicator::setCriticalValue(double value) {
    critical_ = clamped(value);
    update();
}

QColor LevelIndicator::fillColor() const {
    if (value_ >= critical_)
        return QColor(0xE5, 0x39, 0x35); // red
    if (value_ >= warning_)
        return QColor(0xF9, 0xA8, 0x25); // amber
    return QColor(0x43, 0xA0, 0x47);     // green
}

QSize LevelIndicator::sizeHint() const {
    return QSize(120, barHeight);
}

QSize LevelIndicator::minimumSizeHint() const {
    return QSize(16, barHeight);
}

void LevelIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = track.height() / 2;

    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(track, radius, radius);

    const double width = track.width() * value_;
    if (width <= 0)
        return;
    // The fill grows from the leading edge: the right one when laid out right to left.
    QRectF fill = track;
    fill.setWidth(width);
    if (isRightToLeft())
        fill.moveRight(track.right());
    // The track's shape cut at the level: through a clip rectangle, which is far cheaper to
    // paint through than a clip path, ten times a second.
    painter.setClipRect(fill);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fillColor());
    painter.drawRoundedRect(track, radius, radius);
}

} // namespace nuvel
