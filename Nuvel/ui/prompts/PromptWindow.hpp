#pragma once

#include "NuvelKit/support/MainQueue.hpp"

#include <QPoint>
#include <QWidget>
#include <functional>
#include <optional>

namespace nuvel {

// The window of a meeting prompt: frameless, above other windows, never focused, with rounded
// corners, moved by dragging its background, and faded in and out on the main queue's timers.
class PromptWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr int cornerRadius = 14;

    explicit PromptWindow(MainQueue& queue);
    ~PromptWindow() override;

    // Shows the window at opacity 0 without activating it and fades it in.
    void fadeIn(double seconds);
    // Fades the window out, then hides it and deletes it later.
    void fadeOut(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void animate(double from, double to, double seconds, std::function<void()> then);
    void stopAnimation();

    MainQueue* queue_;
    std::optional<MainQueue::TimerId> frameTimer_;
    std::optional<MainQueue::TimerId> endTimer_;
    std::optional<QPoint> dragOffset_;
    bool fadingOut_ = false;
};

} // namespace nuvel
