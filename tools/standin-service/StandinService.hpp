#pragma once

#include "tools/standin-service/StandinTypes.hpp"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// A local stand-in for the Nuvel cloud service: the device, upload and meeting-library HTTP APIs
// held in memory, on 127.0.0.1. Tests drive it over real HTTP and steer it through the knobs below;
// every public operation is thread-safe (one mutex over the whole state).
class StandinService {
public:
    static constexpr const char* defaultAccountId = "acct_standin";

    explicit StandinService(StandinOptions options = {});
    ~StandinService(); // stops
    StandinService(const StandinService&) = delete;
    StandinService& operator=(const StandinService&) = delete;

    // Binds 127.0.0.1 (the options' port, or a free one) and starts answering. Throws
    // std::runtime_error when the port cannot be bound or the service was started before.
    void start();
    // Ends delayed answers at once, closes open connections and waits for the server's threads.
    // Safe to call more than once.
    void stop();
    int port() const;
    std::string origin() const; // "http://127.0.0.1:<port>"

    // --- request log ---
    std::vector<StandinLoggedRequest> requests() const;
    void clearRequests();
    // Waits until at least `count` requests have been logged since the last clear; false on time-out.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

    // --- fault injection ---
    // `method` empty matches every method; `pathPattern` is an ECMAScript regular expression that
    // must match the whole request path as sent (without the query), e.g. "/api/meetings/[^/]+/audio/\\d+".
    // Faults are tried in the order added; a fault whose `remaining` count reaches 0 is removed.
    // Returns an id for removeFault. Throws std::regex_error for a bad pattern.
    int addFault(std::string method, std::string pathPattern, StandinFault fault);
    void removeFault(int id);
    void clearFaults();

    // --- accounts and sign-in ---
    // Adds or replaces an account (the default account exists from the start).
    void putAccount(StandinAccount account);
    std::optional<StandinAccount> account(const std::string& accountId) const;
    void setCapabilities(const std::string& accountId, StandinCapabilities capabilities);
    void setLimits(const std::string& accountId, StandinLimits limits);
    void setWorkspaces(const std::string& accountId, std::vector<StandinWorkspace> workspaces,
                       std::string defaultWorkspaceId);
    // What the device page does for the default account (and /device/approve?account= for another):
    // a one-time code for the challenge, valid 10 minutes.
    // Throws std::invalid_argument for a malformed challenge or an unknown account.
    std::string approveSignIn(const std::string& challenge, const std::string& accountId = defaultAccountId);
    // A signed-in device session without the browser round trip; returns its bearer token.
    std::string issueToken(const std::string& accountId = defaultAccountId,
                           const std::string& deviceName = "Test device");
    // Revokes a token as the website would; later requests with it get 401.
    void revokeToken(const std::string& token);

    // --- meetings ---
    std::vector<std::string> meetingIds() const; // every meeting not deleted, newest first
    std::optional<std::string> processingState(const std::string& meetingId) const;
    // Sets the state word; "completed" also produces the transcript and notes. Throws
    // std::invalid_argument for an unknown meeting.
    void setProcessingState(const std::string& meetingId, const std::string& state);
    // The audio the service holds for the meeting (uploaded parts after commit, or the sample audio).
    std::optional<std::string> storedAudio(const std::string& meetingId) const;
    // Marks the meeting's audio as removed by retention (downloads then get 410).
    void setAudioDeleted(const std::string& meetingId, bool deleted);
    // Replaces the rights that every account gets on the meeting.
    void setMeetingAccess(const std::string& meetingId, StandinAccess access);
    std::optional<StandinNotepad> notepad(const std::string& meetingId) const;
    // Throws std::invalid_argument for an unknown meeting or lines that are not a JSON array.
    void setNotepad(const std::string& meetingId, StandinNotepad notepad);
    // Adds `count` processed sample meetings (transcript, notes, audio) to the account's workspace
    // (its default one when none is given); returns their ids, newest first.
    std::vector<std::string> seedMeetings(std::size_t count, const std::string& accountId = defaultAccountId,
                                          const std::optional<std::string>& workspaceId = std::nullopt);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace nuvel
