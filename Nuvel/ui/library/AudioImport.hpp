#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>

namespace nuvel {

class AppModel;
class DefaultsStore;
class Dialogs;

// Bringing an audio or movie file into the encrypted local store: the open panel, and the
// confirmation that the user may have the file processed, with the AI-notes choice. A file
// dropped on the library window goes straight to the confirmation, so it is confirmed exactly
// as a chosen one. Copying and decoding are the model's.
//
// Both steps begin with the same gate: nothing while a recording exists, the model is busy or
// an update installs; sign-in while signed out (the file is not remembered).
//
// Main thread only.
class AudioImport {
public:
    AudioImport(AppModel& model, Dialogs& dialogs, DefaultsStore& defaults);

    // The open panel for one audio or movie file, then its confirmation.
    void chooseAudioFile();
    // Asks for the confirmation and hands the file to the model's import.
    void confirmImport(const std::filesystem::path& file);

    // The open panel's one filter: every file type of the MIME database that is an audio or a
    // video type or inherits one.
    static QStringList nameFilters();

private:
    bool passesGate();

    AppModel& model_;
    Dialogs& dialogs_;
    DefaultsStore& defaults_;
};

} // namespace nuvel
