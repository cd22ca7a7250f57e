#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/library/LocalRecordingPane.hpp"
#include "NuvelKit/support/Time.hpp"

#include <array>

namespace nuvel {

namespace {

// The service's processing states the interface knows a word for.
constexpr std::array<std::string_view, 6> processingStates = {"uploading", "queued", "running",
                                                              "completed", "failed", "expired"};

const QString separator = QStringLiteral(" \u00B7 ");

} // namespace

QString remoteStateSuffix(std::string_view state) {
    for (std::string_view known : processingStates)
        if (state == known)
            return separator + localized(QString::fromUtf8(known.data(), qsizetype(known.size())));
    return separator + localized("Status unavailable");
}

QString transferStatusText(const LocalRecording& recording) {
    switch (recording.transfer) {
    case TransferState::creating:
    case TransferState::uploading:
    case TransferState::committing:
        return localized("Uploading audio…");
    case TransferState::accepted: {
        QString text = localized("Sent to Nuvel");
        if (recording.remoteState)
            text += remoteStateSuffix(*recording.remoteState);
        return text;
    }
    case TransferState::needsReview:
        return localized("Check the meeting on Nuvel before retrying. A server response was interrupted, so "
                         "automatic creation is paused to avoid duplicates.");
    case TransferState::local:
    case TransferState::failed:
        break;
    }
    if (recording.capture == CaptureState::interrupted)
        return localized(
            "Recovered after an interruption. Sealed audio is safe; export it or send it to Nuvel.");
    return localized("Saved locally. Nothing is uploaded until you choose Send to Nuvel.");
}

QString notesCaption(const LocalRecording& recording, const NotesCaptionContext& context) {
    if (context.editorIsPrivate)
        return localized("Only on this Mac. These notes are not sent to Nuvel or included in audio exports.");
    if (recording.transfer != TransferState::accepted)
        return context.active ? localized("Sent with this recording to guide its notes. Each line is stamped "
                                          "with the recording time.")
                              : localized("Sent with this recording when you choose Send to Nuvel.");
    if (!context.notepadSync)
        return localized("Saved on this Mac. Nuvel can't receive meeting notes from this Mac yet.");
    return context.notepadNeedsSync ? localized("Saving to this meeting's notepad on Nuvel…")
                                    : localized("Saved to this meeting's notepad on Nuvel.");
}

QString exportFileName(Date createdAt) {
    return QStringLiteral("Nuvel-") + QString::fromStdString(isoCalendarDate(createdAt)) +
           QStringLiteral(".m4a");
}

} // namespace nuvel
