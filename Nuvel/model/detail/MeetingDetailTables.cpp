#include "Nuvel/model/detail/MeetingDetailTables.hpp"

namespace nuvel::meetingdetail {

std::string_view exportFormat(int itemIndex) {
    if (itemIndex < 0 || std::size_t(itemIndex) >= exportItems.size())
        return {};
    return exportItems[std::size_t(itemIndex)].format;
}

std::string_view exportVariant(bool showingOriginal) {
    return showingOriginal ? "raw" : "corrected";
}

std::optional<std::pair<std::string, std::string>>
exportRequest(int itemIndex, const MeetingDetailSnapshot* shown, bool showingOriginal) {
    const std::string_view format = exportFormat(itemIndex);
    if (format.empty() || shown == nullptr || !shown->canExport)
        return std::nullopt;
    return std::pair(std::string(format), std::string(exportVariant(showingOriginal)));
}

std::optional<float> playbackSpeed(int itemIndex) {
    if (itemIndex < 0 || std::size_t(itemIndex) >= speedRates.size())
        return std::nullopt;
    return speedRates[std::size_t(itemIndex)];
}

std::string notesStatusText(std::string_view status, const DetailLocale& locale) {
    if (status == "ready" || status == "completed")
        return locale.text("Notes ready. Check sources before sharing.");
    if (status == "disabled")
        return locale.text("AI notes are disabled for this meeting.");
    if (status == "pending" || status == notesRunningStatus)
        return locale.text("Your transcript is ready. Notes are still being generated.");
    if (status == "failed")
        return locale.text("Notes could not be generated. The transcript remains available.");
    if (status == notesLimitStatus)
        return locale.text("The notes generation limit has been reached. The transcript remains available.");
    return locale.text("Notes are not available yet. The transcript remains available.");
}

std::optional<std::string> audioStatusText(const MeetingDetailSnapshot* shown, bool audioAvailable,
                                           const DetailLocale& locale) {
    if (shown == nullptr || audioAvailable)
        return std::nullopt;
    if (shown->audioDeleted)
        return locale.text("Audio has expired. Transcript and notes remain available.");
    if (shown->canDownloadAudio)
        return locale.text("Audio is unavailable. Transcript and notes remain available.");
    return locale.text(
        "Your permission does not include audio playback. Transcript and notes remain available.");
}

std::variant<CopyRefused, CopyDocument> copyDocument(const MeetingDetailSnapshot* shown, bool transcriptTab,
                                                     const DetailText& transcript, const DetailText& notes,
                                                     const DetailLocale& locale) {
    if (shown == nullptr || !shown->canExport)
        return CopyRefused{locale.text("This workspace does not allow exporting this meeting.")};
    return CopyDocument{transcriptTab ? transcript.string : notes.plainTextWithStamps(),
                        locale.text("Copied. Private notes are excluded.")};
}

} // namespace nuvel::meetingdetail
