#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <optional>

class QWidget;

namespace nuvel {

// One alert: a message, an informative text and buttons, in order; the first button acts and
// is the default, a button titled "Cancel" is the one Escape presses. An optional checkbox
// carries a yes or no that the answer reports. An optional accessory view, which stays the
// caller's, sits below the texts; the caller reads its controls once the alert is answered. The
// accessory's focus proxy, when set, has the focus first.
struct Alert {
    QString message;
    QString informativeText;
    QStringList buttons;
    std::optional<QString> checkbox;
    bool checked = false;
    QWidget* accessory = nullptr;
    // The first button destroys what cannot be brought back: "Cancel" is then the default, and
    // Return never presses the first button, even when it has the focus.
    bool destructive = false;
};

// A panel that opens one existing file (no folders), offering the files that match one of
// the name filters ("Audio and movie files (*.mp3 *.mp4 …)"). Like the save panel, it opens in
// the folder of the file last chosen in either, else the user's Music folder, else the home folder.
struct OpenPanel {
    QStringList nameFilters;
};

// A panel that names a new file to save, proposing `proposedName` in the user's last folder and
// offering the files that match one of the name filters ("MPEG-4 audio (*.m4a)").
struct SavePanel {
    QString proposedName;
    QStringList nameFilters;
};

struct AlertAnswer {
    int button = -1; // the index of the button used; -1 when the alert was closed otherwise
    bool checked = false;

    bool operator==(const AlertAnswer&) const = default;
};

// Every alert of the shell goes through here, so tests can answer them. Main thread only.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows the alert application-modal and returns once it is answered.
    virtual AlertAnswer runModal(const Alert& alert) = 0;
    // Shows the open panel application-modal; the chosen file, or none when it was cancelled.
    virtual std::optional<std::filesystem::path> runOpenPanel(const OpenPanel& panel) = 0;
    // Shows the save panel application-modal; the chosen file, or none when it was cancelled.
    virtual std::optional<std::filesystem::path> runSavePanel(const SavePanel& panel) = 0;
    // The standard "About" panel.
    virtual void showAbout() = 0;
};

// Asks before an action that cannot be undone: the message, the informative text, and the
// buttons `action` and "Cancel" (the default, so Return cancels). True only when the user chose
// `action`. Every text is shown through the wording table.
bool confirmed(Dialogs& dialogs, const char* message, const char* informativeText, const char* action);

// Alerts as QMessageBoxes, panels as file dialogs.
class QtDialogs final : public Dialogs {
public:
    AlertAnswer runModal(const Alert& alert) override;
    std::optional<std::filesystem::path> runOpenPanel(const OpenPanel& panel) override;
    std::optional<std::filesystem::path> runSavePanel(const SavePanel& panel) override;
    void showAbout() override;

private:
    AlertAnswer runWithAccessory(const Alert& alert);
    // Where the next panel opens; never the program's working folder.
    QString startFolder() const;
    std::optional<std::filesystem::path> runFilePanel(int fileMode, int acceptMode,
                                                      const QStringList& nameFilters,
                                                      const std::optional<QString>& proposedName);

    // The folder of the file last chosen in a panel.
    QString lastFolder_;
};

} // namespace nuvel
