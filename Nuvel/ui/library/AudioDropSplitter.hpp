#pragma once

#include <QSplitter>
#include <filesystem>
#include <functional>
#include <optional>

class QMimeData;

namespace nuvel {

// The library window's split between the sidebar and the detail side. A drag that carries
// exactly one local file may be dropped anywhere on it and is handed to `onFile`; two files, or
// an address that is not a local file, are refused. It is always taken as a copy, never a move.
// The file's type is left to the import. A drag that carries local files is the split's wherever
// it goes: a text field or the notes editor under it never takes it (they take text only), so
// no file's path is ever typed into a field. Its divider moves with the arrow keys too.
class AudioDropSplitter final : public QSplitter {
    Q_OBJECT
public:
    explicit AudioDropSplitter(QWidget* parent = nullptr);

    // The one local file a drag carries, when it carries exactly that.
    static std::optional<std::filesystem::path> droppedFile(const QMimeData* data);
    // Whether the data carries a local file among its addresses: then it is no text to type.
    static bool carriesLocalFiles(const QMimeData* data);

    std::function<void(const std::filesystem::path&)> onFile;
    // Once, the first time the splitter is shown.
    std::function<void()> onFirstShow;

protected:
    QSplitterHandle* createHandle() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool shown_ = false;
};

} // namespace nuvel
