#pragma once

// Sharing a cloud meeting: invitations (a guest by e-mail address, or workspace members by user
// id) and the sharing state of one meeting with its shares and view-only links.

#include "NuvelKit/meetings/MeetingJSON.hpp"
#include "NuvelKit/support/Json.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nuvel {

struct MeetingShareRequest;

// Why the sharing sheet's "Invite guest" sends nothing; the sheet focuses the control concerned.
enum class GuestInvitationRefusal {
    acknowledgementMissing, // the audio acknowledgement is not ticked
    invalidAddress,         // no "@", or a line feed inside the address
};

struct MeetingShareRequest {
    std::string kind; // "guest" or "member"
    std::optional<std::string> email;
    std::optional<std::string> permission;
    std::optional<std::vector<std::string>> user_ids;

    static MeetingShareRequest guest(std::string email, std::string permission);
    static MeetingShareRequest members(std::vector<std::string> userIDs);

    // The invitation the sharing sheet sends: the address trimmed of white space and line breaks at
    // both ends, permission "viewer". Refused while the acknowledgement that the guest can play
    // retained audio is not given (checked first), or when the trimmed address holds no "@" or
    // holds a line feed. No other check of the address is made.
    static std::variant<MeetingShareRequest, GuestInvitationRefusal> guestInvitation(std::string_view address,
                                                                                     bool audioAcknowledged);

    static MeetingShareRequest fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingShareRequest decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingShareRequest& a, const MeetingShareRequest& b);
};

// The sharing state of one meeting. No equality.
struct MeetingSharingDocument {
    struct Share {
        std::string id; // used to revoke the share
        std::string kind;
        std::optional<std::string> email;
        std::optional<std::string> permission;

        static Share fromJson(const json::Value& value, const std::string& path = "$");
        json::Ordered toJson() const;
    };

    std::map<std::string, bool> can;
    std::string workspace_id;
    bool plan_required = false;
    std::vector<Share> shares;
    // View-only links, each normally an object with "id", "expires_at" and "include_audio"; any
    // JSON value is carried, null included.
    std::vector<MeetingJSON> links;

    static MeetingSharingDocument fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingSharingDocument decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;
};

} // namespace nuvel
