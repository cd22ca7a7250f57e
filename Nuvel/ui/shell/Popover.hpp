#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>

namespace nuvel {

// A transient panel under the status item: it closes when the user clicks elsewhere. It shows
// one content view, which it does not own, at the view's own size.
class Popover final : public QWidget {
    Q_OBJECT
public:
    Popover();
    ~Popover() override;

    // The view shown; taken into the panel the first time the panel shows.
    void setContent(QWidget* content) { content_ = content; }
    QWidget* content() const { return content_; }

    bool isShown() const { return isVisible(); }
    // Shows the panel under `anchor` (global coordinates), kept on the anchor's screen; with
    // an empty anchor, under the mouse pointer.
    void showRelativeTo(const QRect& anchor);
    // Closes the panel when it is shown.
    void performClose();

private:
    QPointer<QWidget> content_;
};

} // namespace nuvel
