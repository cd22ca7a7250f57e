#include "Nuvel/model/detail/DetailSheetRules.hpp"

#include "NuvelKit/support/Unicode.hpp"

namespace nuvel::meetingdetail {

std::optional<std::string> renamedTitle(std::string_view field) {
    std::string title = unicode::trimWhitespaceAndNewlines(field);
    if (title.empty())
        return std::nullopt;
    return title;
}

std::string shareRowText(const MeetingDetailSnapshot::Share& share, const DetailLocale& locale) {
    std::string text = share.label + " · " + share.expires;
    if (share.audioIncluded)
        text += " · " + locale.text("Audio included");
    return text;
}

std::string linkRowText(const MeetingDetailSnapshot::Link& link, const DetailLocale& locale) {
    return locale.text(link.audioIncluded ? "Notes, transcript and retained audio" : "Notes and transcript") +
           " · " + link.expires;
}

bool linkAudioAllowed(const MeetingDetailSnapshot& shown) {
    return shown.canDownloadAudio && !shown.audioDeleted;
}

LinkRequest linkRequest(int expiryIndex, bool audioAllowed, bool audioTicked) {
    return {expiryIndex == 1 ? 30 : 7, audioAllowed && audioTicked};
}

} // namespace nuvel::meetingdetail
