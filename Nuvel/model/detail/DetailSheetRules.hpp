#pragma once

// The rename and sharing sheets' rules: the title sent, the row texts of shares and links, and
// the view-only link asked for.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace nuvel::meetingdetail {

// The title to send: the field trimmed of white space and line breaks; nothing when empty.
std::optional<std::string> renamedTitle(std::string_view field);

// "label · expires", with " · Audio included" for a share that includes audio.
std::string shareRowText(const MeetingDetailSnapshot::Share& share, const DetailLocale& locale = {});
// What the link gives, " · " and its expiry.
std::string linkRowText(const MeetingDetailSnapshot::Link& link, const DetailLocale& locale = {});

// Whether a link may include audio: the user's permission covers audio and it was not deleted.
bool linkAudioAllowed(const MeetingDetailSnapshot& shown);

struct LinkRequest {
    int days = 7;
    bool includeAudio = false;
    friend bool operator==(const LinkRequest&, const LinkRequest&) = default;
};
// 30 days for the second expiry item, 7 for any other; audio only when allowed and ticked.
LinkRequest linkRequest(int expiryIndex, bool audioAllowed, bool audioTicked);

} // namespace nuvel::meetingdetail
