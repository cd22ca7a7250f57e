#pragma once

#include "NuvelKit/service/CreateMeetingRequest.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/service/HttpTransport.hpp"
#include "NuvelKit/service/MeetingUploadDocuments.hpp"
#include "NuvelKit/service/NativeBootstrap.hpp"
#include "NuvelKit/service/NativeUploadStatus.hpp"
#include "NuvelKit/service/ServiceAddress.hpp"
#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Url.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuvel {

// The client of the service's device and upload API.
//
// Every operation is synchronous and may block for as long as the exchange takes, so it is
// called from a worker thread, never the main thread. The client holds no mutable state, so
// several operations may run at once from different threads (a heartbeat beside a part
// upload); the transport must allow that, as CurlTransport does.
//
// Failures, whatever the operation:
//  - an identifier that may not enter a URL path: RecordingError::unsafePath, nothing sent;
//  - a token with CR, LF or NUL: RecordingError::invalidTransport, nothing sent;
//  - no answer: the transport's TransportError, or Cancelled when `stop` was requested;
//  - an answer outside 200...299 (redirects are never followed): APIError with the status, the
//    service's error code ("unknown" unless it is safe) and its "Retry-After" in seconds;
//  - an answer body over 64 MiB, error bodies included: RecordingError::invalidTransport;
//  - a 2xx body that is not the expected document: json::JsonError.
class NuvelAPI {
public:
    using QueryItems = std::vector<std::pair<std::string, std::string>>;

    // The limits of every exchange. A request fails as timed out when nothing moves for
    // `idleTimeoutSeconds`, and when the whole exchange takes longer than `totalTimeoutSeconds`.
    static constexpr double idleTimeoutSeconds = 60;
    static constexpr double totalTimeoutSeconds = 1800;
    static constexpr std::size_t maximumBodyBytes = 67108864;
    // The largest part size the service may ask for: 64 MiB.
    static constexpr std::int64_t maximumPartBytes = 67108864;

    // `origin` is the service's origin: "https", or "http" for a loopback host only (127.0.0.1,
    // [::1], localhost); a host, an optional port, no path
    // (a lone "/" is allowed), user, query or fragment. Anything else is a programming error
    // and throws std::invalid_argument.
    NuvelAPI(const Url& origin, std::shared_ptr<HttpTransport> transport);
    NuvelAPI(std::string_view origin, std::shared_ptr<HttpTransport> transport);
    virtual ~NuvelAPI() = default;
    NuvelAPI(const NuvelAPI&) = delete;
    NuvelAPI& operator=(const NuvelAPI&) = delete;

    const Url& origin() const { return origin_; }

    // POST device/token without a token; {"code", "verifier", "name"}.
    virtual DeviceSession exchangeCode(std::string_view code, std::string_view verifier,
                                       std::string_view deviceName, std::stop_token stop = {});
    // GET bootstrap, with the one query item "workspace_id" when a workspace is given.
    virtual NativeBootstrap bootstrap(std::string_view token, const std::optional<std::string>& workspaceID,
                                      std::stop_token stop = {});
    // GET meetings/{id}/upload.
    virtual NativeUploadStatus uploadStatus(std::string_view meetingID, std::string_view token,
                                            std::stop_token stop = {});
    // POST meetings/{id}/heartbeat with the body "{}".
    virtual NativeHeartbeat heartbeat(std::string_view meetingID, std::string_view token,
                                      std::stop_token stop = {});
    // POST device/revoke without a body; any 2xx succeeds.
    virtual void revokeDevice(std::string_view token, std::stop_token stop = {});
    // POST meetings. The answer must have a part size of 1...64 MiB and at least one part,
    // else RecordingError::invalidTransport.
    virtual CreatedMeeting createMeeting(const CreateMeetingRequest& request, std::string_view token,
                                         std::stop_token stop = {});
    // PUT meetings/{id}/audio/{index} with the bytes as "audio/mp4"; any 2xx succeeds. A
    // negative index or no bytes fail with RecordingError::invalidTransport before the
    // identifier is looked at.
    virtual void uploadPart(std::string_view meetingID, std::int64_t index, ByteView bytes,
                            std::string_view token, std::stop_token stop = {});
    // POST meetings/{id}/commit with {"parts", "sha256"}; any 2xx succeeds.
    virtual void commitUpload(std::string_view meetingID, std::int64_t parts, std::string_view sha256,
                              std::string_view token, std::stop_token stop = {});
    // PUT meetings/{id}/notepad with {"base", "lines"}. A revision conflict is a result, not
    // an error; a 409 whose body is not the conflict envelope stays an APIError.
    virtual NotepadSaveResult saveNotepad(std::string_view meetingID, std::int64_t base,
                                          const std::vector<NotepadLine>& lines, std::string_view token,
                                          std::stop_token stop = {});
    // GET meetings/{id}.
    virtual RemoteMeeting meeting(std::string_view meetingID, std::string_view token,
                                  std::stop_token stop = {});

    // The one request routine. `path` is relative to the API root ("meetings/m1/upload"); the
    // request goes to origin + "/api/" + path, with a query only when `query` has items (names
    // and values percent-encoded outside the unreserved set). It carries
    // "Authorization: Bearer <token>" only with a token, and "Content-Type" ("audio/mp4" with
    // `audio`, else "application/json") and "Content-Length" only with a body, in that order,
    // and no other header of its own. Returns the body of a 2xx answer (possibly empty).
    // A 409 on a path ending in "/notepad" whose body is the conflict envelope throws
    // NotepadConflict; everything else fails as described above.
    Bytes send(std::string_view path, std::string_view method, std::optional<std::string_view> token,
               std::optional<ByteView> body, bool audio, const QueryItems& query = {},
               std::stop_token stop = {});

private:
    std::string baseURL_; // the origin without a trailing slash
    Url origin_;
    std::shared_ptr<HttpTransport> transport_;
};

} // namespace nuvel
