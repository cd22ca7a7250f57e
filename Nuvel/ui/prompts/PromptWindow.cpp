#include "Nuvel/ui/prompts/PromptWindow.hpp"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <algorithm>

namespace nuvel {

namespace {
constexpr double frameInterval = 1.0 / 60.0;
}

PromptWindow::PromptWindow(MainQueue& queue)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      queue_(&queue) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

PromptWindow::~PromptWindow() {
    stopAnimation();
}

void PromptWindow::fadeIn(double seconds) {
    setWindowOpacity(0.0);
    QWidget::show();
    raise();
    animate(0.0, 1.0, seconds, {});
}

void PromptWindow::fadeOut(double seconds) {
    if (fadingOut_)
        return;
    fadingOut_ = true;
    animate(windowOpacity(), 0.0, seconds, [this] {
        hide();
        deleteLater();
    });
}

void PromptWindow::animate(double from, double to, double seconds, std::function<void()> then) {
    stopAnimation();
    const double start = queue_->now();
    const double length = seconds > 0 ? seconds : 0.0;
    QPointer<PromptWindow> self(this);
    frameTimer_ = queue_->startRepeatingTimer(frameInterval, [self, from, to, start, length] {
        if (!self || length <= 0)
            return;
        const double progress = std::clamp((self->queue_->now() - start) / length, 0.0, 1.0);
        self->setWindowOpacity(from + (to - from) * progress);
    });
    // The last step lands exactly at the end, whatever the frame rate.
    endTimer_ = queue_->startTimer(length, [self, to, then = std::move(then)] {
        if (!self)
            return;
        self->endTimer_.reset();
        self->stopAnimation();
        self->setWindowOpacity(to);
        if (then)
            then();
    });
}

void PromptWindow::stopAnimation() {
    if (frameTimer_)
        queue_->cancelTimer(*frameTimer_);
    frameTimer_.reset();
    if (endTimer_)
        queue_->cancelTimer(*endTimer_);
    endTimer_.reset();
}

void PromptWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.12);
    painter.setPen(border);
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawPath(shape);
}

void PromptWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        dragOffset_ = event->globalPosition().toPoint() - pos();
    event->accept();
}

void PromptWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - *dragOffset_);
    event->accept();
}

void PromptWindow::mouseReleaseEvent(QMouseEvent* event) {
    dragOffset_.reset();
    event->accept();
}

} // namespace nuvel
