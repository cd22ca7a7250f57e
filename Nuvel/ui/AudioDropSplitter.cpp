#include "Nuvel/ui/AudioDropSplitter.hpp"

#include "Nuvel/ui/MainActorEntry.hpp"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace nuvel {

namespace {
constexpr const char* file = "Nuvel/AudioDropSplitter";
} // namespace

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

void AudioDropSplitter::dragEnterEvent(QDragEnterEvent* event) {
    NUVEL_MAIN_ACTOR_ENTRY(file);
    if (droppedFile(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void AudioDropSplitter::dragMoveEvent(QDragMoveEvent* event) {
    if (droppedFile(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void AudioDropSplitter::dropEvent(QDropEvent* event) {
    NUVEL_MAIN_ACTOR_ENTRY(file);
    const std::optional<std::filesystem::path> dropped = droppedFile(event->mimeData());
    if (!dropped) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
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
