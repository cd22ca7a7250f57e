#pragma once

#include "NuvelKit/store/NuvelLink.hpp"
#include "NuvelKit/support/Json.hpp"
#include "tools/standin-service/StandinHttp.hpp"
#include "tools/standin-service/StandinTypes.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The in-memory service behind the stand-in's HTTP surface. Not thread-safe: StandinService calls
// it under its one mutex.
namespace nuvel::standin {

inline constexpr const char* defaultAccountId = "acct_standin";

using Clock = std::chrono::system_clock;
using Time = Clock::time_point;

double unixSeconds(Time time);
std::string isoTime(Time time);

struct Word {
    std::string id;
    std::string text;
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::string speaker;
};

struct Transcript {
    std::vector<Word> words;
    std::map<std::string, std::string> speakers; // id → label
};

struct Share {
    std::string id;
    std::string kind;
    std::optional<std::string> email;
    std::optional<std::string> permission;
    std::optional<std::string> userId;
};

struct Link {
    std::string id;
    double expiresAt = 0;
    double createdAt = 0;
    bool includeAudio = false;
};

struct UploadCommit {
    std::int64_t parts = 0;
    std::string sha256;
    bool accepted = false;
};

struct Meeting {
    std::string id; // "mt_" and 32 lower-case hex digits
    std::string ownerAccountId;
    std::string workspaceId;
    std::string title;
    bool titleAuto = false;
    std::optional<std::string> clientRecordingId;
    bool aiNotes = false;
    double durationSeconds = 0;
    std::optional<double> recordedAt;
    double createdAt = 0;
    double updatedAt = 0;
    std::string state = "uploading"; // until the upload is committed

    // upload
    std::int64_t partBytes = 0;
    std::int64_t maxParts = 0;
    std::map<std::int64_t, std::string> parts;
    Time uploadExpiresAt;
    std::optional<UploadCommit> commit;

    // audio
    std::string audio;
    std::string audioContentType = "audio/mp4";
    bool sampleAudio = false; // made on demand from the duration instead of stored
    bool audioDeleted = false;

    // shared notepad
    std::int64_t notepadRevision = 0;
    json::Ordered notepadLines = json::Ordered::array();

    // library
    std::int64_t revision = 1;
    bool contentReady = false;
    Transcript raw;
    Transcript corrected;
    std::map<std::string, std::int64_t> appliedOperations; // operation_id → revision after it
    std::optional<StandinAccess> access;
    std::vector<Share> shares;
    std::vector<Link> links;
    bool deleted = false;

    bool committed() const { return commit.has_value() && commit->accepted; }
};

struct SignInCode {
    std::string challenge;
    std::string accountId;
    Time expiresAt;
};

struct DeviceToken {
    std::string accountId;
    std::string deviceName;
    bool revoked = false;
};

// Audio kept beside a saved state: one file per distinct content, named by its SHA-256.
struct BlobFolder {
    std::filesystem::path folder;
    std::set<std::string> used; // the names put since this was made

    std::string put(const std::string& bytes); // returns the name
    std::string get(const std::string& name) const;
    void removeUnused() const;
};

class Backend {
public:
    explicit Backend(StandinOptions options);

    // Answers one request; every failure becomes the service's JSON error reply.
    Reply handle(const Request& request, Time now);

    // Knobs (see StandinService).
    void putAccount(StandinAccount account);
    StandinAccount* findAccount(const std::string& id);
    std::string approveSignIn(const std::string& challenge, const std::string& accountId, Time now);
    std::string issueToken(const std::string& accountId, const std::string& deviceName);
    void revokeToken(const std::string& token);
    Meeting* findMeeting(const std::string& id); // not deleted
    std::vector<std::string> meetingIds() const;
    void setProcessingState(Meeting& meeting, const std::string& state);
    std::string audioOf(const Meeting& meeting) const;
    std::vector<std::string> seedMeetings(std::size_t count, const std::string& accountId,
                                          const std::optional<std::string>& workspaceId, Time now);
    // The origin this service's web pages are served on ("http://127.0.0.1:<port>"): view-only
    // links point there, so they open where the service runs.
    void setWebOrigin(std::string origin) { webOrigin_ = std::move(origin); }

    // The whole world but sign-in codes, for keeping between runs; loading replaces it only when
    // the document is whole, and throws otherwise.
    json::Ordered saveState(BlobFolder& blobs) const;
    void loadState(const json::Ordered& state, const BlobFolder& blobs);

private:
    Reply route(const Request& request, Time now);
    Reply routeMeeting(const Request& request, const std::string& method, Time now);

    // Authentication and access.
    StandinAccount& authenticate(const Request& request);
    const StandinWorkspace* workspaceOf(const StandinAccount& account, const std::string& workspaceId) const;
    Meeting& ownMeeting(const StandinAccount& account, const std::string& id);     // device API: owner only
    Meeting& visibleMeeting(const StandinAccount& account, const std::string& id); // library: owner or member
    StandinAccess accessFor(const StandinAccount& account, const Meeting& meeting, Time now) const;
    bool allows(const StandinAccount& account, const Meeting& meeting, const std::string& right,
                Time now) const;
    bool audioGone(const Meeting& meeting, Time now) const;

    // Device and upload API.
    Reply devicePage(const Request& request, Time now);
    Reply approvePage(const Request& request, Time now);
    // The redirect back to the app with a new code for the challenge and the account.
    Reply approved(const std::string& challenge, const std::string& accountId, Time now);
    Reply exchangeToken(const Request& request, Time now);
    Reply revokeDevice(const Request& request);
    Reply bootstrap(const Request& request);
    Reply createMeeting(const Request& request, Time now);
    Reply uploadStatus(const Request& request, Time now);
    Reply heartbeat(const Request& request, Time now);
    Reply uploadPart(const Request& request, Time now);
    Reply commitUpload(const Request& request, Time now);
    Reply saveNotepad(const Request& request, Time now);
    Reply meetingStatus(const Request& request, Time now);

    // Meeting-library API.
    Reply libraryPage(const Request& request, Time now);
    Reply search(const Request& request);
    Reply reconcile(const Request& request, Time now);
    Reply rename(const Request& request, Time now);
    Reply deleteMeeting(const Request& request, Time now);
    Reply transcript(const Request& request, Time now);
    Reply notes(const Request& request, Time now);
    Reply revise(const Request& request, Time now);
    Reply sharing(const Request& request, Time now);
    Reply addShare(const Request& request, Time now);
    Reply removeShare(const Request& request, Time now);
    Reply createLink(const Request& request, Time now);
    Reply revokeLink(const Request& request, Time now);
    Reply settings(const Request& request);
    Reply updateSettings(const Request& request);
    Reply audio(const Request& request, Time now);

    // Documents.
    json::Ordered meetingJson(const StandinAccount& account, const Meeting& meeting, Time now) const;
    json::Ordered accessJson(const StandinAccess& access) const;
    json::Ordered sharingJson(const StandinAccount& account, const Meeting& meeting, Time now) const;
    json::Ordered settingsJson(const std::string& workspaceId) const;
    void finishProcessing(Meeting& meeting);

    StandinOptions options_;
    std::map<std::string, StandinAccount> accounts_;
    std::map<std::string, SignInCode> codes_;
    std::map<std::string, DeviceToken> tokens_;
    std::map<std::string, Meeting> meetings_;
    std::map<std::string, std::int64_t> retentionDays_; // per workspace id; 30 when not set
    std::uint64_t seedCounter_ = 0;
    std::string webOrigin_ = "https://" + std::string(NuvelLink::webHost);
};

} // namespace nuvel::standin
