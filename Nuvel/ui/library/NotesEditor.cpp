#include "Nuvel/ui/library/NotesEditor.hpp"

#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/library/AudioDropSplitter.hpp"

#include <QMimeData>

namespace nuvel {

NotesEditor::NotesEditor(QWidget* parent) : QPlainTextEdit(parent) {}

bool NotesEditor::canInsertFromMimeData(const QMimeData* source) const {
    if (AudioDropSplitter::carriesLocalFiles(source))
        return AudioDropSplitter::droppedFile(source).has_value();
    return QPlainTextEdit::canInsertFromMimeData(source);
}

void NotesEditor::insertFromMimeData(const QMimeData* source) {
    NUVEL_MAIN_ACTOR_ENTRY();
    // Qt reads a list of addresses as text, one per line: files go to the import instead.
    if (!AudioDropSplitter::carriesLocalFiles(source)) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    if (const std::optional<std::filesystem::path> file = AudioDropSplitter::droppedFile(source);
        file && onFile)
        onFile(*file);
}

} // namespace nuvel
