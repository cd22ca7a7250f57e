#include "Nuvel/ui/detail/ReadableTextView.hpp"

#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFrame>
#include <QToolTip>
#include <algorithm>

namespace nuvel {

ReadableTextView::ReadableTextView(QWidget* parent) : QTextBrowser(parent) {
    NUVEL_MAIN_ACTOR_ENTRY();
    setOpenLinks(false);
    setOpenExternalLinks(false);
    applyColumn();
}

void ReadableTextView::setAlignsTrailing(bool trailing) {
    if (trailing == alignsTrailing_)
        return;
    alignsTrailing_ = trailing;
    applyColumn();
    viewport()->update();
}

int ReadableTextView::columnWidth() const {
    const int width = viewport()->width();
    return std::max(80, std::min(maximumLineWidth, width));
}

int ReadableTextView::columnOrigin() const {
    return alignsTrailing_ ? viewport()->width() - columnWidth() : 0;
}

void ReadableTextView::replaceDocument(std::unique_ptr<QTextDocument> document) {
    // Qt deletes a replaced document only when its text control made it; the ones handed in
    // here are this view's children and go when the next one takes their place.
    QTextDocument* previous = this->document();
    const bool ownsPrevious = previous != nullptr && previous->parent() == this;
    document->setParent(this);
    setDocument(document.release());
    if (ownsPrevious)
        delete previous;
    applyColumn();
}

void ReadableTextView::selectRange(int location, int length) {
    QTextCursor cursor(document());
    const int end = document()->characterCount() - 1;
    cursor.setPosition(std::clamp(location, 0, end));
    cursor.setPosition(std::clamp(location + length, 0, end), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void ReadableTextView::resizeEvent(QResizeEvent* event) {
    QTextBrowser::resizeEvent(event);
    applyColumn();
}

// The column is laid with the root frame's side margins, so the view keeps its own width and
// the scroll bar stays at the edge.
void ReadableTextView::applyColumn() {
    QTextDocument* doc = document();
    if (doc == nullptr)
        return;
    doc->setDocumentMargin(0);
    QTextFrameFormat format = doc->rootFrame()->frameFormat();
    const int column = columnWidth();
    const int rest = std::max(0, viewport()->width() - column);
    format.setLeftMargin(alignsTrailing_ ? rest : 0);
    format.setRightMargin(alignsTrailing_ ? 0 : rest);
    format.setTopMargin(verticalInset);
    format.setBottomMargin(verticalInset);
    if (format != doc->rootFrame()->frameFormat())
        doc->rootFrame()->setFrameFormat(format);
}

bool ReadableTextView::event(QEvent* event) {
    // Some window systems make a menu request of the Menu key besides passing the key on, at the
    // pointer; the key's own handling below opens the menu once, at the caret.
    if (event->type() == QEvent::ContextMenu && event->spontaneous() &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        event->accept();
        return true;
    }
    return QTextBrowser::event(event);
}

bool ReadableTextView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = cursorForPosition(help->pos()).charFormat().toolTip();
        // The character under the pointer: the cursor stands before it, so look one further too.
        QTextCursor after = cursorForPosition(help->pos());
        after.movePosition(QTextCursor::NextCharacter);
        const QString tipAfter = after.charFormat().toolTip();
        const QString shown = !tipAfter.isEmpty() ? tipAfter : tip;
        if (shown.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), shown, this);
        return true;
    }
    return QTextBrowser::viewportEvent(event);
}

void ReadableTextView::keyPressEvent(QKeyEvent* event) {
    const bool menuKey = event->key() == Qt::Key_Menu && event->modifiers() == Qt::NoModifier;
    const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
    if (menuKey || shiftF10) {
        // At the caret in the viewport's coordinates, as a click's request is; mid-view when the
        // caret is scrolled away.
        QPoint at = cursorRect().center();
        if (!viewport()->rect().contains(at))
            at = viewport()->rect().center();
        QContextMenuEvent request(QContextMenuEvent::Keyboard, at, viewport()->mapToGlobal(at),
                                  event->modifiers());
        QCoreApplication::sendEvent(this, &request);
        event->accept();
        return;
    }
    QTextBrowser::keyPressEvent(event);
}

void configureReadingView(ReadableTextView* view, const QString& accessibleName, bool links) {
    view->setReadOnly(true);
    view->setTextInteractionFlags(links ? Qt::TextBrowserInteraction | Qt::TextSelectableByKeyboard
                                        : Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont font = view->font();
    font.setPointSizeF(14);
    view->setFont(font);
    view->setFrameShape(QFrame::NoFrame);
    view->viewport()->setAutoFillBackground(false);
    view->setLineWrapMode(QTextEdit::WidgetWidth);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setAccessibleName(accessibleName);
    markAsReadingText(view);
}

} // namespace nuvel
