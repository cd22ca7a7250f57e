#pragma once

#include <QPlainTextEdit>
#include <filesystem>
#include <functional>

namespace nuvel {

// The notes editor of a local recording: plain text only. What is pasted into it is taken as a
// drop on the library window is: a local file is handed to `onFile` (offered for import) when it
// is the only one, and refused otherwise; no file's path is ever written into the notes. Text,
// a web address among it, goes in as typed.
class NotesEditor final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit NotesEditor(QWidget* parent = nullptr);

    std::function<void(const std::filesystem::path&)> onFile;

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
};

} // namespace nuvel
