#include "NuvelKit/meetings/MeetingSharing.hpp"

#include "NuvelKit/meetings/MeetingCoding.hpp"
#include "NuvelKit/support/Unicode.hpp"

namespace nuvel {
using namespace meetingcoding;

// MeetingShareRequest

MeetingShareRequest MeetingShareRequest::guest(std::string email, std::string permission) {
    MeetingShareRequest request;
    request.kind = "guest";
    request.email = std::move(email);
    request.permission = std::move(permission);
    return request;
}

MeetingShareRequest MeetingShareRequest::members(std::vector<std::string> userIDs) {
    MeetingShareRequest request;
    request.kind = "member";
    request.user_ids = std::move(userIDs);
    return request;
}

std::variant<MeetingShareRequest, GuestInvitationRefusal>
MeetingShareRequest::guestInvitation(std::string_view address, bool audioAcknowledged) {
    if (!audioAcknowledged)
        return GuestInvitationRefusal::acknowledgementMissing;
    std::string trimmed = unicode::trimWhitespaceAndNewlines(address);
    if (trimmed.find('@') == std::string::npos || trimmed.find('\n') != std::string::npos)
        return GuestInvitationRefusal::invalidAddress;
    return guest(std::move(trimmed), "viewer");
}

MeetingShareRequest MeetingShareRequest::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingShareRequest request;
    request.kind = r.string("kind");
    request.email = r.optString("email");
    request.permission = r.optString("permission");
    request.user_ids = r.optStringList("user_ids");
    return request;
}

MeetingShareRequest MeetingShareRequest::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingShareRequest::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["kind"] = kind;
    json::putOptional(o, "email", email);
    json::putOptional(o, "permission", permission);
    json::putOptional(o, "user_ids", user_ids);
    return o;
}

std::string MeetingShareRequest::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingShareRequest& a, const MeetingShareRequest& b) {
    return sameText(a.kind, b.kind) && sameOptionalText(a.email, b.email) &&
           sameOptionalText(a.permission, b.permission) &&
           sameOptional(a.user_ids, b.user_ids, [](const auto& x, const auto& y) {
               return sameList(x, y,
                               [](const std::string& s, const std::string& t) { return sameText(s, t); });
           });
}

// MeetingSharingDocument

MeetingSharingDocument::Share MeetingSharingDocument::Share::fromJson(const json::Value& value,
                                                                      const std::string& path) {
    json::Reader r(value, path);
    Share share;
    share.id = r.string("id");
    share.kind = r.string("kind");
    share.email = r.optString("email");
    share.permission = r.optString("permission");
    return share;
}

json::Ordered MeetingSharingDocument::Share::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["id"] = id;
    o["kind"] = kind;
    json::putOptional(o, "email", email);
    json::putOptional(o, "permission", permission);
    return o;
}

MeetingSharingDocument MeetingSharingDocument::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingSharingDocument d;
    d.can = readBoolMap(r, "can");
    d.workspace_id = r.string("workspace_id");
    d.plan_required = r.boolean("plan_required");
    d.shares = readList<Share>(r, "shares");
    d.links = readList<MeetingJSON>(r, "links");
    return d;
}

MeetingSharingDocument MeetingSharingDocument::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingSharingDocument::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["can"] = writeBoolMap(can);
    o["workspace_id"] = workspace_id;
    o["plan_required"] = plan_required;
    o["shares"] = writeList(shares);
    o["links"] = writeList(links);
    return o;
}

std::string MeetingSharingDocument::encode() const {
    return json::dump(toJson());
}

} // namespace nuvel
