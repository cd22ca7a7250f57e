#include "Nuvel/ui/library/AudioDropSplitter.hpp"

#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <algorithm>

namespace nuvel {

namespace {
// The divider: dragged with the mouse as any splitter's, and moved with the arrow keys (Shift for
// longer steps) once it has the keyboard, from a click or an assistive tool's focus. Tab passes
// it by: a one-pixel line is no place to leave the keyboard. While it has the keyboard it widens
// and takes the highlight colour.
class Divider final : public QSplitterHandle {
public:
    Divider(Qt::Orientation orientation, QSplitter* parent) : QSplitterHandle(orientation, parent) {
        setFocusPolicy(Qt::ClickFocus);
        setAccessibleName(localized("Divider"));
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const int step = event->modifiers() & Qt::ShiftModifier ? 50 : 10;
        const int by = event->key() == Qt::Key_Left ? -step : event->key() == Qt::Key_Right ? step : 0;
        if (by == 0 || orientation() != Qt::Horizontal) {
            QSplitterHandle::keyPressEvent(event);
            return;
        }
        // moveSplitter takes the left edge on screen and mirrors it for right-to-left itself,
        // where the handle's position is its right edge.
        moveSplitter(x() + by + (splitter()->isRightToLeft() ? width() : 0));
        event->accept();
    }
    void focusInEvent(QFocusEvent* event) override {
        QSplitterHandle::focusInEvent(event);
        splitter()->setHandleWidth(4);
        update();
    }
    void focusOutEvent(QFocusEvent* event) override {
        QSplitterHandle::focusOutEvent(event);
        splitter()->setHandleWidth(1);
        update();
    }
    void paintEvent(QPaintEvent* event) override {
        if (!hasFocus()) {
            QSplitterHandle::paintEvent(event);
            return;
        }
        QPainter(this).fillRect(rect(), palette().color(QPalette::Highlight));
    }
};

} // namespace

AudioDropSplitter::AudioDropSplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
    setAcceptDrops(true);
    setHandleWidth(1);
    setChildrenCollapsible(false);
    // A drag reaches the widget under it first: the split sees it there, before any field does.
    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

QSplitterHandle* AudioDropSplitter::createHandle() {
    return new Divider(orientation(), this);
}

std::optional<std::filesystem::path> AudioDropSplitter::droppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return std::nullopt;
    return std::filesystem::path(urls.first().toLocalFile().toStdString());
}

bool AudioDropSplitter::carriesLocalFiles(const QMimeData* data) {
    const QList<QUrl> urls = data != nullptr ? data->urls() : QList<QUrl>();
    return std::any_of(urls.cbegin(), urls.cend(), [](const QUrl& url) { return url.isLocalFile(); });
}

namespace {

// The import keeps its own copy of the file: the drag is taken as a copy, whatever its source
// proposes, so that no file manager removes the user's original after a "move". A source that
// offers no copy is refused.
bool takeAsCopy(QDropEvent* event, const QMimeData* data) {
    if (!AudioDropSplitter::droppedFile(data) || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

} // namespace

bool AudioDropSplitter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget == this || !isAncestorOf(widget))
        return false;
    auto* drag = static_cast<QDropEvent*>(event);
    const QMimeData* data = drag->mimeData();
    if (!carriesLocalFiles(data))
        return false; // text goes to whatever takes text
    // Taken here, or refused: a refusal travels on to the parents and ends at the split.
    if (type == QEvent::Drop)
        dropEvent(drag);
    else
        takeAsCopy(drag, data);
    return true;
}

void AudioDropSplitter::dragEnterEvent(QDragEnterEvent* event) {
    NUVEL_MAIN_ACTOR_ENTRY();
    takeAsCopy(event, event->mimeData());
}

void AudioDropSplitter::dragMoveEvent(QDragMoveEvent* event) {
    takeAsCopy(event, event->mimeData());
}

void AudioDropSplitter::dropEvent(QDropEvent* event) {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (!takeAsCopy(event, event->mimeData()))
        return;
    const std::optional<std::filesystem::path> dropped = droppedFile(event->mimeData());
    if (onFile)
        onFile(*dropped);
}

void AudioDropSplitter::showEvent(QShowEvent* event) {
    QSplitter::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    if (onFirstShow)
        onFirstShow();
}

} // namespace nuvel
