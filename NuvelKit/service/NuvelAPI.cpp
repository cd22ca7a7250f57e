#include "NuvelKit/service/NuvelAPI.hpp"

#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/NotepadConflict.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Json.hpp"

#include <stdexcept>

namespace nuvel {
namespace {

[[noreturn]] void fail(RecordingError::Code code) {
    throw RecordingError(code);
}

void requireSafeIdentifier(std::string_view identifier) {
    requireSafePathIdentifier(identifier);
}

Url requireOrigin(std::optional<Url> url) {
    if (!url || !isServiceOrigin(*url))
        throw std::invalid_argument("the service origin must be https, or http on a loopback host");
    return *url;
}

std::string jsonText(const json::Ordered& value) {
    return json::dump(value);
}

json::Value parseBody(const Bytes& body) {
    return json::parse(ByteView(body));
}

// The service's error code from an error body: "error"."code" when "error" is an object,
// else "error" itself when it is a string; "unknown" for anything else or an unsafe code.
std::string errorCodeOf(const Bytes& body) {
    json::Value document;
    try {
        document = json::parse(ByteView(body));
    } catch (const json::JsonError&) {
        return "unknown";
    }
    if (!document.is_object())
        return "unknown";
    auto error = document.find("error");
    if (error == document.end())
        return "unknown";
    if (error->is_object()) {
        auto code = error->find("code");
        if (code != error->end() && code->is_string())
            return APIError::normalizedCode(code->get<std::string>());
        return "unknown";
    }
    if (error->is_string())
        return APIError::normalizedCode(error->get<std::string>());
    return "unknown";
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

NuvelAPI::NuvelAPI(const Url& origin, std::shared_ptr<HttpTransport> transport)
    : origin_(requireOrigin(origin)), transport_(std::move(transport)) {
    if (!transport_)
        throw std::invalid_argument("NuvelAPI needs a transport");
    baseURL_ = origin_.string();
    if (!baseURL_.empty() && baseURL_.back() == '/')
        baseURL_.pop_back();
}

NuvelAPI::NuvelAPI(std::string_view origin, std::shared_ptr<HttpTransport> transport)
    : NuvelAPI(requireOrigin(Url::parse(origin)), std::move(transport)) {}

Bytes NuvelAPI::send(std::string_view path, std::string_view method, std::optional<std::string_view> token,
                     std::optional<ByteView> body, bool audio, const QueryItems& query,
                     std::stop_token stop) {
    HttpRequest request;
    request.method = std::string(method);
    request.url = baseURL_ + "/api/" + std::string(path);
    if (!query.empty())
        request.url += "?" + encodeQuery(query);
    // The path is built by the operations from checked identifiers; anything that does not
    // form a URL is a mistake in the calling code.
    if (!Url::parse(request.url))
        throw std::invalid_argument("request path does not form a URL");
    request.idleTimeoutSeconds = idleTimeoutSeconds;
    request.totalTimeoutSeconds = totalTimeoutSeconds;
    request.maxBodyBytes = maximumBodyBytes;

    if (token) {
        // A token with a line break would let its holder add headers of their own.
        if (isUnsafeHeaderText(*token))
            fail(RecordingError::Code::invalidTransport);
        request.headers.emplace_back("Authorization", "Bearer " + std::string(*token));
    }
    if (body) {
        request.headers.emplace_back("Content-Type", audio ? "audio/mp4" : "application/json");
        request.headers.emplace_back("Content-Length", std::to_string(body->size()));
        // A part is sent from the caller's bytes; the small documents are copied.
        if (audio)
            request.borrowedBody = *body;
        else
            request.body = Bytes(body->begin(), body->end());
    }

    HttpResponse response = transport_->send(request, stop);

    if (response.status < 100 || response.status > 999)
        fail(RecordingError::Code::invalidTransport);
    // Error bodies are held to the same cap as answers: a service that streams without end
    // must not fill the memory either way.
    if (response.bodyTooLarge)
        fail(RecordingError::Code::invalidTransport);

    if (response.status == 409 && endsWith(path, "/notepad")) {
        std::optional<NotepadConflict> conflict;
        try {
            conflict.emplace(NotepadConflict::fromEnvelope(ByteView(response.body)));
        } catch (const json::JsonError&) {
            // Not the conflict envelope: an ordinary 409.
        }
        if (conflict)
            throw *conflict;
    }
    if (response.status >= 200 && response.status <= 299)
        return std::move(response.body);

    std::optional<double> retryAfter;
    if (auto header = response.header("Retry-After"))
        retryAfter = APIError::parseRetryAfter(*header);
    throw APIError(response.status, errorCodeOf(response.body), retryAfter);
}

DeviceSession NuvelAPI::exchangeCode(std::string_view code, std::string_view verifier,
                                     std::string_view deviceName, std::stop_token stop) {
    json::Ordered document = json::Ordered::object();
    document["code"] = std::string(code);
    document["verifier"] = std::string(verifier);
    document["name"] = std::string(deviceName);
    const std::string text = jsonText(document);
    Bytes answer = send("device/token", "POST", std::nullopt, viewOf(text), false, {}, stop);
    return DeviceSession::fromJson(parseBody(answer));
}

NativeBootstrap NuvelAPI::bootstrap(std::string_view token, const std::optional<std::string>& workspaceID,
                                    std::stop_token stop) {
    QueryItems query;
    if (workspaceID)
        query.emplace_back("workspace_id", *workspaceID);
    Bytes answer = send("bootstrap", "GET", token, std::nullopt, false, query, stop);
    return NativeBootstrap::fromJson(parseBody(answer));
}

NativeUploadStatus NuvelAPI::uploadStatus(std::string_view meetingID, std::string_view token,
                                          std::stop_token stop) {
    requireSafeIdentifier(meetingID);
    Bytes answer =
        send("meetings/" + std::string(meetingID) + "/upload", "GET", token, std::nullopt, false, {}, stop);
    return NativeUploadStatus::fromJson(parseBody(answer));
}

NativeHeartbeat NuvelAPI::heartbeat(std::string_view meetingID, std::string_view token,
                                    std::stop_token stop) {
    requireSafeIdentifier(meetingID);
    Bytes answer = send("meetings/" + std::string(meetingID) + "/heartbeat", "POST", token, viewOf("{}"),
                        false, {}, stop);
    return NativeHeartbeat::fromJson(parseBody(answer));
}

void NuvelAPI::revokeDevice(std::string_view token, std::stop_token stop) {
    send("device/revoke", "POST", token, std::nullopt, false, {}, stop);
}

CreatedMeeting NuvelAPI::createMeeting(const CreateMeetingRequest& request, std::string_view token,
                                       std::stop_token stop) {
    const std::string text = jsonText(request.toJson());
    Bytes answer = send("meetings", "POST", token, viewOf(text), false, {}, stop);
    CreatedMeeting created = CreatedMeeting::fromJson(parseBody(answer));
    if (created.partBytes < 1 || created.partBytes > maximumPartBytes || created.maxParts <= 0)
        fail(RecordingError::Code::invalidTransport);
    return created;
}

void NuvelAPI::uploadPart(std::string_view meetingID, std::int64_t index, ByteView bytes,
                          std::string_view token, std::stop_token stop) {
    if (index < 0)
        fail(RecordingError::Code::invalidTransport);
    if (bytes.empty())
        fail(RecordingError::Code::invalidTransport);
    requireSafeIdentifier(meetingID);
    send("meetings/" + std::string(meetingID) + "/audio/" + std::to_string(index), "PUT", token, bytes, true,
         {}, stop);
}

void NuvelAPI::commitUpload(std::string_view meetingID, std::int64_t parts, std::string_view sha256,
                            std::string_view token, std::stop_token stop) {
    requireSafeIdentifier(meetingID);
    json::Ordered document = json::Ordered::object();
    document["parts"] = parts;
    document["sha256"] = std::string(sha256);
    const std::string text = jsonText(document);
    send("meetings/" + std::string(meetingID) + "/commit", "POST", token, viewOf(text), false, {}, stop);
}

NotepadSaveResult NuvelAPI::saveNotepad(std::string_view meetingID, std::int64_t base,
                                        const std::vector<NotepadLine>& lines, std::string_view token,
                                        std::stop_token stop) {
    try {
        requireSafeIdentifier(meetingID);
        json::Ordered document = json::Ordered::object();
        document["base"] = base;
        json::Ordered list = json::Ordered::array();
        for (const NotepadLine& line : lines)
            list.push_back(line.toJson());
        document["lines"] = std::move(list);
        const std::string text = jsonText(document);
        Bytes answer = send("meetings/" + std::string(meetingID) + "/notepad", "PUT", token, viewOf(text),
                            false, {}, stop);
        json::Value saved = parseBody(answer);
        return NotepadSaved{json::Reader(saved).int64("revision")};
    } catch (const NotepadConflict& conflict) {
        return NotepadConflicted{conflict.revision(), conflict.lines()};
    }
}

RemoteMeeting NuvelAPI::meeting(std::string_view meetingID, std::string_view token, std::stop_token stop) {
    requireSafeIdentifier(meetingID);
    Bytes answer = send("meetings/" + std::string(meetingID), "GET", token, std::nullopt, false, {}, stop);
    return RemoteMeeting::fromJson(parseBody(answer));
}

} // namespace nuvel
