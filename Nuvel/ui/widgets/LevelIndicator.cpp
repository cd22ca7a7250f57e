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
    // The meter paints the background it stands on itself (its parent's, by the palette it
    // inherits), so a repaint, up to ten times a second, draws it alone rather than every view
    // under it from the window down.
    setAutoFillBackground(true);
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

void LevelIndicator::renderBars() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    const QColor line = palette().color(QPalette::Mid);
    const QColor base = palette().color(QPalette::Base);
    const QColor colour = fillColor();
    if (track_.size() == pixels && track_.devicePixelRatio() == ratio && trackLine_ == line &&
        trackBase_ == base && barColour_ == colour)
        return;
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = track.height() / 2;
    auto draw = [&](QPixmap& into, const QPen& pen, const QColor& brush) {
        into = QPixmap(pixels);
        into.setDevicePixelRatio(ratio);
        into.fill(Qt::transparent);
        QPainter painter(&into);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(pen);
        painter.setBrush(brush);
        painter.drawRoundedRect(track, radius, radius);
    };
    draw(track_, QPen(line, 1), base);
    draw(bar_, Qt::NoPen, colour);
    trackLine_ = line;
    trackBase_ = base;
    barColour_ = colour;
}

void LevelIndicator::paintEvent(QPaintEvent*) {
    // The meter repaints up to ten times a second while recording: it copies the track and the
    // leading part of the bar, drawn beforehand, rather than drawing their rounded shapes again.
    renderBars();
    QPainter painter(this);
    painter.drawPixmap(0, 0, track_);
    const int filled = filledPixels();
    if (filled <= 0)
        return;
    // The fill grows from the leading edge: the right one when laid out right to left.
    const int x = isRightToLeft() ? width() - filled : 0;
    const qreal ratio = bar_.devicePixelRatio();
    painter.drawPixmap(QRectF(x, 0, filled, height()), bar_,
                       QRectF(x * ratio, 0, filled * ratio, height() * ratio));
}

} // namespace nuvel
