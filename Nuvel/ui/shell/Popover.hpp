#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QWidget>

namespace nuvel {

// A transient panel under the status item: it takes the keyboard when it shows and closes when
// the user clicks elsewhere or presses Escape. It shows one content view, which it does not own,
// at the view's own size.
class Popover final : public QWidget {
    Q_OBJECT
public:
    Popover();
    ~Popover() override;

    // The view shown; taken into the panel the first time the panel shows.
    void setContent(QWidget* content) { content_ = content; }
    QWidget* content() const { return content_; }

    bool isShown() const { return isVisible(); }
    // Whether a click elsewhere closed it a moment ago. A click on the status item while the
    // panel is open takes the activation from the panel, which closes it, before the item says
    // it was clicked: that click asks to close the panel, not to open it again.
    bool closedJustNow() const;
    // Shows the panel under `anchor` (global coordinates), kept on the anchor's screen; with
    // an empty anchor, under the mouse pointer.
    void showRelativeTo(const QRect& anchor);
    // Closes the panel when it is shown.
    void performClose();

protected:
    void changeEvent(QEvent* event) override;

private:
    QPointer<QWidget> content_;
    QElapsedTimer deactivated_;
};

} // namespace nuvel
