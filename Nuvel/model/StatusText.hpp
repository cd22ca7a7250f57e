#pragma once

#include <span>
#include <string_view>

namespace nuvel {

// The status sentences of the application model, each written once. The model shows them
// only through its `localize` hook: they are the keys of the application's wording tables.
enum class StatusText {
    personalWorkspace,
    signInFailed,
    signOutFailed,
    revokeLater,
    unlockFailed,
    recoveryNeeded,
    workspaceFailed,
    microphoneOff,
    couldNotStart,
    limitReached,
    limitWarning,
    microphoneStopped,
    interrupted,
    saved,
    needsRecovery,
    stoppedBeforeSleep,
    deviceDisconnected,
    noteNotSaved,
    undecodable,
    exported,
    exportFailed,
    playFailed,
    removed,
    removeFailed,
    uploadsNotAllowed,
};

// The sentence as the model writes it (before localisation).
std::string_view sentence(StatusText text);

// Every sentence, in the order of the enumeration.
std::span<const std::string_view> allStatusSentences();

} // namespace nuvel
