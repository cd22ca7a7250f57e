#include "Nuvel/ui/widgets/TransientWindow.hpp"

#include <QEvent>
#include <QKeySequence>
#include <QMetaObject>
#include <QShortcut>
#include <QWidget>

namespace nuvel {

namespace {

// Activates the window as it shows and closes it as it loses the activation.
class TransientCloser final : public QObject {
public:
    explicit TransientCloser(QWidget* window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_) {
            // Once it is on screen: the show event comes before the window system shows it.
            if (event->type() == QEvent::Show)
                QMetaObject::invokeMethod(window_, &QWidget::activateWindow, Qt::QueuedConnection);
            // Once the window has seen the change of activation itself.
            else if (event->type() == QEvent::WindowDeactivate && window_->isVisible())
                QMetaObject::invokeMethod(window_, &QWidget::close, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget* window_;
};

} // namespace

void makeTransientWindow(QWidget* window) {
    window->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window->installEventFilter(new TransientCloser(window));
    auto* escape = new QShortcut(QKeySequence::Cancel, window);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
}

} // namespace nuvel
