#include "NuvelKit/meetings/MeetingCacheDocuments.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Json.hpp"

namespace nuvel {
namespace {

Bytes payloadOf(const json::Reader& reader) {
    std::string text = reader.string("payload");
    std::optional<Bytes> decoded = base64Decode(text);
    if (!decoded)
        throw json::JsonError(json::JsonError::Code::invalidValue, reader.childPath("payload"),
                              "not padded standard Base64");
    return std::move(*decoded);
}

} // namespace

std::string MeetingCacheEntry::encode() const {
    json::Ordered out = json::Ordered::object();
    out["scope"] = scope.toJson();
    out["validatedAt"] = validatedAt.sinceReferenceDate;
    out["expiresAt"] = expiresAt.sinceReferenceDate;
    out["payload"] = base64Encode(payload);
    return json::dump(out);
}

MeetingCacheEntry MeetingCacheEntry::decode(ByteView document) {
    json::Value value = json::parse(document);
    json::Reader reader(value);
    MeetingCacheEntry entry;
    entry.scope = MeetingCacheScope::fromJson(reader.value("scope"), reader.childPath("scope"));
    entry.validatedAt = Date{reader.number("validatedAt")};
    entry.expiresAt = Date{reader.number("expiresAt")};
    entry.payload = payloadOf(reader);
    return entry;
}

std::string MeetingCacheDraft::encode() const {
    json::Ordered out = json::Ordered::object();
    out["scope"] = scope.toJson();
    out["payload"] = base64Encode(payload);
    return json::dump(out);
}

MeetingCacheDraft MeetingCacheDraft::decode(ByteView document) {
    json::Value value = json::parse(document);
    json::Reader reader(value);
    MeetingCacheDraft draft;
    draft.scope = MeetingCacheScope::fromJson(reader.value("scope"), reader.childPath("scope"));
    draft.payload = payloadOf(reader);
    return draft;
}

std::string MeetingCacheRevocations::encode() const {
    json::Ordered out = json::Ordered::object();
    out["ids"] = json::Ordered::array();
    for (const std::string& id : ids)
        out["ids"].push_back(id);
    return json::dump(out);
}

MeetingCacheRevocations MeetingCacheRevocations::decode(ByteView document) {
    json::Value value = json::parse(document);
    json::Reader reader(value);
    MeetingCacheRevocations revocations;
    for (std::string& id : reader.stringList("ids"))
        revocations.ids.insert(std::move(id));
    return revocations;
}

} // namespace nuvel
