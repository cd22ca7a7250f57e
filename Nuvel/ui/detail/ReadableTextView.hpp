#pragma once

#include <QTextBrowser>
#include <memory>

namespace nuvel {

// A read-only, selectable rich-text view for the detail screen's notes and transcript. Its text
// column is at most `maximumLineWidth` wide (at least 80) and sits at the left, or at the right
// when `alignsTrailing` (a right-to-left meeting). Links are reported through anchorClicked and
// never opened; a character's tooltip is shown under the pointer. Shift+F10 and the Menu key ask
// for the view's context menu at the caret, as a right click does under the pointer.
class ReadableTextView : public QTextBrowser {
    Q_OBJECT
public:
    explicit ReadableTextView(QWidget* parent = nullptr);

    static constexpr int verticalInset = 8;

    static constexpr int maximumLineWidth = 720;
    bool alignsTrailing() const { return alignsTrailing_; }
    void setAlignsTrailing(bool trailing);

    // The column for the present width, and where it starts.
    int columnWidth() const;
    int columnOrigin() const;
    // Puts a new document in place and lays the column over it. The view owns the document it
    // shows and deletes the one it replaces.
    void replaceDocument(std::unique_ptr<QTextDocument> document);
    // Selects a range of characters and scrolls it into view.
    void selectRange(int location, int length);

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void applyColumn();

    bool alignsTrailing_ = false;
};

// The setup the notes and transcript views share, with their accessible name. A view without
// links (`links` false) leaves Tab to move the focus on: the text control's link walk would
// otherwise replace the selection with the caret on its way out.
void configureReadingView(ReadableTextView* view, const QString& accessibleName, bool links = true);

} // namespace nuvel
