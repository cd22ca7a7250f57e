#include "NuvelKit/meetings/NativeMeetingClient.hpp"

#include "NuvelKit/service/ServiceAddress.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Unicode.hpp"
#include "NuvelKit/support/Url.hpp"

#include <algorithm>
#include <future>
#include <stdexcept>

namespace nuvel {
namespace {

[[noreturn]] void invalidTransport() {
    throw RecordingError(RecordingError::Code::invalidTransport);
}

std::string_view textOf(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

Bytes jsonBody(const std::string& text) {
    return bytesOf(text);
}

template <class T> T decodeBody(const Bytes& body) {
    return T::decode(textOf(body));
}

std::string meetingPath(std::string_view id) {
    return "meetings/" + std::string(id);
}

} // namespace

NativeMeetingClient::NativeMeetingClient(std::string origin, std::shared_ptr<HttpTransport> transport)
    : origin_(std::move(origin)), transport_(std::move(transport)) {
    if (!transport_)
        throw std::invalid_argument("NativeMeetingClient needs a transport");
    std::optional<Url> url = Url::parse(origin_);
    if (!url || !isServiceOrigin(*url))
        throw std::invalid_argument("not a service origin: " + origin_);
    std::string_view base = origin_;
    while (!base.empty() && base.back() == '/')
        base.remove_suffix(1);
    apiRoot_ = std::string(base) + "/api/";
}

void NativeMeetingClient::requireSafeID(std::string_view id) {
    requireSafePathIdentifier(id);
}

std::string NativeMeetingClient::authorization(std::string_view token) {
    // A line break or NUL in a header value would let the token write headers of its own.
    if (isUnsafeHeaderText(token))
        invalidTransport();
    return "Bearer " + std::string(token);
}

Bytes NativeMeetingClient::send(std::string_view path, std::string_view method, const QueryItems& query,
                                std::optional<Bytes> body, std::string_view token,
                                std::stop_token stop) const {
    HttpRequest request;
    request.method = std::string(method);
    // Names and values are percent-encoded over the unreserved set: a "+" or "/" in a search
    // text or cursor reaches the service as written.
    request.url = apiRoot_ + std::string(path);
    if (!query.empty())
        request.url += "?" + encodeQuery(query);
    request.headers = {{"Authorization", authorization(token)}, {"Accept", "application/json"}};
    if (body) {
        request.headers.emplace_back("Content-Type", "application/json");
        request.headers.emplace_back("Content-Length", std::to_string(body->size()));
    }
    request.body = std::move(body);
    request.idleTimeoutSeconds = idleTimeoutSeconds;
    // Error bodies are held to the same cap: the code and revision are read from them.
    request.maxBodyBytes = maxBodyBytes;

    HttpResponse response = transport_->send(request, stop);

    if (response.status < 100 || response.status > 999)
        invalidTransport();
    if (response.bodyTooLarge)
        invalidTransport();
    if (response.status >= 200 && response.status <= 299)
        return std::move(response.body);
    std::optional<std::string> retryAfter = response.header("Retry-After");
    throw MeetingClientError::fromResponse(response.status, response.body,
                                           retryAfter ? std::optional<std::string_view>(*retryAfter)
                                                      : std::nullopt);
}

MeetingLibraryPage NativeMeetingClient::libraryPage(std::string_view workspaceID,
                                                    const std::optional<std::string>& cursor,
                                                    std::int64_t limit, std::string_view token,
                                                    std::stop_token stop) const {
    QueryItems query{{"workspace_id", std::string(workspaceID)},
                     {"limit", std::to_string(std::clamp<std::int64_t>(limit, 1, 100))}};
    if (cursor)
        query.emplace_back("cursor", *cursor);
    return decodeBody<MeetingLibraryPage>(send("meetings", "GET", query, std::nullopt, token, stop));
}

MeetingSearchPage NativeMeetingClient::search(std::string_view text,
                                              const std::optional<std::string>& workspaceID,
                                              std::string_view token, std::stop_token stop) const {
    QueryItems query{{"q", unicode::graphemePrefix(text, 200)}};
    if (workspaceID)
        query.emplace_back("workspace_id", *workspaceID);
    return decodeBody<MeetingSearchPage>(send("search", "GET", query, std::nullopt, token, stop));
}

MeetingSummary NativeMeetingClient::meeting(std::string_view meetingID, std::string_view token,
                                            std::stop_token stop) const {
    requireSafeID(meetingID);
    return decodeBody<MeetingSummary>(send(meetingPath(meetingID), "GET", {}, std::nullopt, token, stop));
}

MeetingTranscriptDocument NativeMeetingClient::transcript(std::string_view meetingID, std::string_view layer,
                                                          std::string_view token,
                                                          std::stop_token stop) const {
    if (layer != "raw" && layer != "corrected")
        invalidTransport();
    requireSafeID(meetingID);
    return decodeBody<MeetingTranscriptDocument>(send(meetingPath(meetingID) + "/transcript", "GET",
                                                      {{"layer", std::string(layer)}}, std::nullopt, token,
                                                      stop));
}

MeetingNotesDocument NativeMeetingClient::notes(std::string_view meetingID, std::string_view token,
                                                std::stop_token stop) const {
    requireSafeID(meetingID);
    return decodeBody<MeetingNotesDocument>(
        send(meetingPath(meetingID) + "/notes", "GET", {}, std::nullopt, token, stop));
}

NativeMeetingDocument NativeMeetingClient::document(const MeetingSummary& summary, std::string_view token,
                                                    std::stop_token stop) const {
    // Checked here as well, so that a bad id or token starts no second thread.
    requireSafeID(summary.id);
    authorization(token);

    // One stop source for both requests: the caller's stop reaches both, and a failed transcript
    // stops the notes request that is still in flight.
    std::stop_source both;
    std::stop_callback forward(stop, [&both] { both.request_stop(); });
    const std::string id = summary.id;
    const std::string bearer(token);
    std::future<MeetingNotesDocument> notesTask =
        std::async(std::launch::async, [this, &id, &bearer, notesStop = both.get_token()] {
            return notes(id, bearer, notesStop);
        });

    std::optional<MeetingTranscriptDocument> corrected;
    try {
        corrected = transcript(id, "corrected", bearer, both.get_token());
    } catch (...) {
        both.request_stop();
        notesTask.wait();
        throw;
    }
    MeetingNotesDocument notesDocument = notesTask.get();
    return NativeMeetingDocument{summary, std::move(*corrected), std::move(notesDocument), std::nullopt};
}

MeetingRevisionResult NativeMeetingClient::revise(std::string_view meetingID,
                                                  const MeetingRevisionRequest& request,
                                                  std::string_view token, std::stop_token stop) const {
    requireSafeID(meetingID);
    return decodeBody<MeetingRevisionResult>(
        send(meetingPath(meetingID) + "/revision", "PATCH", {}, jsonBody(request.encode()), token, stop));
}

void NativeMeetingClient::rename(std::string_view meetingID, std::string_view title, std::string_view token,
                                 std::stop_token stop) const {
    requireSafeID(meetingID);
    json::Ordered body = json::Ordered::object();
    body["title"] = std::string(title);
    send(meetingPath(meetingID), "PATCH", {}, jsonBody(json::dump(body)), token, stop);
}

void NativeMeetingClient::deleteMeeting(std::string_view meetingID, std::string_view token,
                                        std::stop_token stop) const {
    requireSafeID(meetingID);
    send(meetingPath(meetingID), "DELETE", {}, std::nullopt, token, stop);
}

MeetingReconciliation NativeMeetingClient::reconcile(const std::vector<std::string>& meetingIDs,
                                                     std::string_view token, std::stop_token stop) const {
    if (meetingIDs.size() > 100)
        invalidTransport();
    std::string joined;
    for (const std::string& id : meetingIDs) {
        requireSafeID(id);
        if (!joined.empty())
            joined.push_back(',');
        joined += id;
    }
    return decodeBody<MeetingReconciliation>(
        send("meetings/reconcile", "GET", {{"ids", joined}}, std::nullopt, token, stop));
}

MeetingSharingDocument NativeMeetingClient::sharing(std::string_view meetingID, std::string_view token,
                                                    std::stop_token stop) const {
    requireSafeID(meetingID);
    return decodeBody<MeetingSharingDocument>(
        send(meetingPath(meetingID) + "/sharing", "GET", {}, std::nullopt, token, stop));
}

void NativeMeetingClient::addShare(std::string_view meetingID, const MeetingShareRequest& request,
                                   std::string_view token, std::stop_token stop) const {
    requireSafeID(meetingID);
    send(meetingPath(meetingID) + "/shares", "POST", {}, jsonBody(request.encode()), token, stop);
}

void NativeMeetingClient::removeShare(std::string_view meetingID, std::string_view shareID,
                                      std::string_view token, std::stop_token stop) const {
    requireSafeID(meetingID);
    requireSafeID(shareID);
    send(meetingPath(meetingID) + "/shares/" + std::string(shareID), "DELETE", {}, std::nullopt, token, stop);
}

MeetingJSON NativeMeetingClient::createLink(std::string_view meetingID, int days, bool includeAudio,
                                            std::string_view token, std::stop_token stop) const {
    if (days != 1 && days != 7 && days != 30)
        invalidTransport();
    requireSafeID(meetingID);
    MeetingJSON body = MeetingJSON::object({{"expires_days", MeetingJSON::number(double(days))},
                                            {"include_audio", MeetingJSON::boolean(includeAudio)}});
    return decodeBody<MeetingJSON>(
        send(meetingPath(meetingID) + "/links", "POST", {}, jsonBody(body.encode()), token, stop));
}

void NativeMeetingClient::revokeLink(std::string_view meetingID, std::string_view linkID,
                                     std::string_view token, std::stop_token stop) const {
    requireSafeID(meetingID);
    requireSafeID(linkID);
    send(meetingPath(meetingID) + "/links/" + std::string(linkID), "DELETE", {}, std::nullopt, token, stop);
}

MeetingJSON NativeMeetingClient::settings(std::string_view token, std::stop_token stop) const {
    return decodeBody<MeetingJSON>(send("settings", "GET", {}, std::nullopt, token, stop));
}

void NativeMeetingClient::updateSettings(int retentionDays, std::string_view token,
                                         std::stop_token stop) const {
    if (retentionDays != 7 && retentionDays != 30 && retentionDays != 90 && retentionDays != 365)
        invalidTransport();
    json::Ordered body = json::Ordered::object();
    body["retention_days"] = retentionDays;
    send("settings", "PUT", {}, jsonBody(json::dump(body)), token, stop);
}

} // namespace nuvel
