#include "Nuvel/ui/AudioDropSplitter.hpp"

#include "Nuvel/ui/MainActorEntry.hpp"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace nuvel {

AudioDropSplitter::AudioDropSplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
    setAcceptDrops(true);
    setHandleWidth(1);
    setChildrenCollapsible(false);
}

std::optional<std::filesystem::path> AudioDropSplitter::droppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return std::nullopt;
    return std::filesystem::path(urls.first().toLocalFile().toStdString());
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
