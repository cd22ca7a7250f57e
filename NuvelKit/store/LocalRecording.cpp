#include "NuvelKit/store/LocalRecording.hpp"

#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/StoreJson.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>
#include <cmath>

namespace nuvel {
namespace {

using json::JsonError;

template <class State>
State decodeState(const json::Reader& r, std::string_view key,
                  std::optional<State> (*fromRaw)(std::string_view)) {
    std::string raw = r.string(key);
    auto state = fromRaw(raw);
    if (!state)
        throw JsonError(JsonError::Code::invalidValue, r.childPath(key), "unknown state \"" + raw + "\"");
    return *state;
}

std::optional<CaptureState> captureFromRaw(std::string_view raw) {
    return captureStateFromRawValue(raw);
}
std::optional<TransferState> transferFromRaw(std::string_view raw) {
    return transferStateFromRawValue(raw);
}

template <class T> json::Ordered array(const std::vector<T>& items) {
    json::Ordered a = json::Ordered::array();
    for (const T& item : items)
        a.push_back(item.toJson());
    return a;
}

json::Ordered uuidArray(const std::vector<Uuid>& ids) {
    json::Ordered a = json::Ordered::array();
    for (const Uuid& id : ids)
        a.push_back(storejson::encode(id));
    return a;
}

} // namespace

LocalRecording LocalRecording::make(std::string accountID, std::optional<std::string> workspaceID,
                                    std::string_view title, bool aiNotes, Date createdAt, Uuid id) {
    if (accountID.empty())
        throw RecordingError(RecordingError::Code::missingAccount);
    LocalRecording r;
    r.version = 1;
    r.id = id;
    r.accountID = std::move(accountID);
    r.workspaceID = std::move(workspaceID);
    r.createdAt = createdAt;
    r.aiNotes = aiNotes;
    r.title = unicode::trimWhitespaceAndNewlines(title);
    r.consentAt = createdAt;
    r.capture = CaptureState::recording;
    r.transfer = TransferState::local;
    return r;
}

double LocalRecording::totalDuration() const {
    double total = 0.0;
    for (const RecordingSegment& s : segments)
        total += s.duration;
    return total;
}

void LocalRecording::addRecoveryAsset(const Uuid& assetID) {
    std::vector<Uuid> ids;
    for (const Uuid& id : recoveryAssetIDs.value_or(std::vector<Uuid>{}))
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    if (std::find(ids.begin(), ids.end(), assetID) == ids.end())
        ids.push_back(assetID);
    recoveryAssetIDs = std::move(ids);
}

void LocalRecording::requireAccount(std::string_view account) const {
    if (account != accountID)
        throw RecordingError(RecordingError::Code::accountMismatch);
}

void LocalRecording::markInterrupted() {
    switch (capture) {
    case CaptureState::recording:
    case CaptureState::paused:
    case CaptureState::finalizing:
        capture = CaptureState::interrupted;
        break;
    case CaptureState::interrupted:
    case CaptureState::saved:
        break;
    }
    if (transfer == TransferState::creating || transfer == TransferState::committing) {
        transfer = TransferState::needsReview;
        errorCode = "ambiguous_request";
    }
}

void LocalRecording::validate(const Uuid& folderID) const {
    bool valid = version == 1 && id == folderID;
    for (const RecordingSegment& s : segments)
        valid = valid && std::isfinite(s.duration) && s.duration > 0;
    if (!valid)
        throw RecordingError(RecordingError::Code::invalidManifest);
}

json::Ordered LocalRecording::toJson() const {
    json::Ordered o = toJsonWithoutSegments();
    o["segments"] = array(segments);
    return o;
}

json::Ordered LocalRecording::toJsonWithoutSegments() const {
    json::Ordered o = json::Ordered::object();
    o["version"] = version;
    o["id"] = storejson::encode(id);
    o["accountID"] = accountID;
    json::putOptional(o, "workspaceID", workspaceID);
    o["createdAt"] = storejson::encode(createdAt);
    o["title"] = title;
    o["aiNotes"] = aiNotes;
    o["consentAt"] = storejson::encode(consentAt);
    o["capture"] = std::string(rawValue(capture));
    o["transfer"] = std::string(rawValue(transfer));
    o["segments"] = json::Ordered::array(); // in its place; toJson fills it
    if (recoveryAssetIDs)
        o["recoveryAssetIDs"] = uuidArray(*recoveryAssetIDs);
    if (captureAssetID)
        o["captureAssetID"] = storejson::encode(*captureAssetID);
    json::putOptional(o, "capturedFrames", capturedFrames);
    if (sourceTimeline)
        o["sourceTimeline"] = sourceTimeline->toJson();
    json::putOptional(o, "captureMode", captureMode);
    json::putOptional(o, "captureSourceName", captureSourceName);
    json::putOptional(o, "microphoneUID", microphoneUID);
    o["bookmarks"] = array(bookmarks);
    o["scratchpad"] = scratchpad;
    if (creationRequest)
        o["creationRequest"] = creationRequest->toJson();
    json::putOptional(o, "remoteID", remoteID);
    json::putOptional(o, "partBytes", partBytes);
    o["acknowledgedParts"] = acknowledgedParts;
    if (transportAssetID)
        o["transportAssetID"] = storejson::encode(*transportAssetID);
    json::putOptional(o, "transportSHA256", transportSHA256);
    json::putOptional(o, "transportBytes", transportBytes);
    json::putOptional(o, "errorCode", errorCode);
    json::putOptional(o, "remoteState", remoteState);
    json::putOptional(o, "uploadQueued", uploadQueued);
    if (retryAt)
        o["retryAt"] = storejson::encode(*retryAt);
    json::putOptional(o, "retryAttempts", retryAttempts);
    if (resultURL)
        o["resultURL"] = resultURL->string();
    json::putOptional(o, "attendees", attendees);
    json::putOptional(o, "attendeeEmails", attendeeEmails);
    json::putOptional(o, "location", location);
    if (notepad)
        o["notepad"] = array(*notepad);
    json::putOptional(o, "notepadRevision", notepadRevision);
    if (notepadBase)
        o["notepadBase"] = array(*notepadBase);
    return o;
}

LocalRecording LocalRecording::fromJson(const json::Value& document) {
    const json::Reader r(document);
    auto uuidElement = [](const json::Value& v, const std::string& path) {
        return storejson::asUuid(v, path);
    };

    LocalRecording m;
    m.version = r.int64("version");
    m.id = storejson::uuid(r, "id");
    m.accountID = r.string("accountID");
    m.workspaceID = r.optString("workspaceID");
    m.createdAt = storejson::date(r, "createdAt");
    m.title = r.string("title");
    m.aiNotes = r.boolean("aiNotes");
    m.consentAt = storejson::date(r, "consentAt");
    m.capture = decodeState(r, "capture", &captureFromRaw);
    m.transfer = decodeState(r, "transfer", &transferFromRaw);
    m.segments = r.objectList<RecordingSegment>("segments", &RecordingSegment::fromJson);
    m.recoveryAssetIDs = r.optList<Uuid>("recoveryAssetIDs", uuidElement);
    m.captureAssetID = storejson::optUuid(r, "captureAssetID");
    m.capturedFrames = r.optInt64("capturedFrames");
    if (auto timeline = r.optObject("sourceTimeline"))
        m.sourceTimeline = CaptureTimeline::fromJson(*timeline);
    m.captureMode = r.optString("captureMode");
    m.captureSourceName = r.optString("captureSourceName");
    m.microphoneUID = r.optString("microphoneUID");
    m.bookmarks = r.objectList<Bookmark>("bookmarks", &Bookmark::fromJson);
    m.scratchpad = r.string("scratchpad");
    if (auto request = r.optObject("creationRequest"))
        m.creationRequest = CreateMeetingRequest::fromJson(*request);
    m.remoteID = r.optString("remoteID");
    m.partBytes = r.optInt64("partBytes");
    for (std::int64_t part : r.list<std::int64_t>("acknowledgedParts", &json::asInt64))
        m.acknowledgedParts.insert(part);
    m.transportAssetID = storejson::optUuid(r, "transportAssetID");
    m.transportSHA256 = r.optString("transportSHA256");
    m.transportBytes = r.optInt64("transportBytes");
    m.errorCode = r.optString("errorCode");
    m.remoteState = r.optString("remoteState");
    m.uploadQueued = r.optBoolean("uploadQueued");
    m.retryAt = storejson::optDate(r, "retryAt");
    m.retryAttempts = r.optInt64("retryAttempts");
    m.resultURL = storejson::optUrl(r, "resultURL");
    m.attendees = r.optStringList("attendees");
    m.attendeeEmails = r.optStringList("attendeeEmails");
    m.location = r.optString("location");
    m.notepad = r.optObjectList<NotepadLine>("notepad", &NotepadLine::fromJson);
    m.notepadRevision = r.optInt64("notepadRevision");
    m.notepadBase = r.optObjectList<NotepadLine>("notepadBase", &NotepadLine::fromJson);
    return m;
}

std::string LocalRecording::encoded() const {
    // The text json::dump(toJson()) gives, with the segments written one at a time: a long
    // recording's segment list as one tree would take many times the size of its text.
    const json::Ordered fields = toJsonWithoutSegments();
    std::string text = "{";
    for (auto field = fields.begin(); field != fields.end(); ++field) {
        if (field != fields.begin())
            text += ',';
        text += json::dump(json::Ordered(field.key()));
        text += ':';
        if (field.key() != "segments") {
            text += json::dump(field.value());
            continue;
        }
        text += '[';
        for (std::size_t i = 0; i < segments.size(); ++i) {
            if (i > 0)
                text += ',';
            text += json::dump(segments[i].toJson());
        }
        text += ']';
    }
    text += '}';
    return text;
}

LocalRecording LocalRecording::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

} // namespace nuvel
