#pragma once

// A cloud library that shows what the test puts in `shown` and records each request, lifecycle
// calls included, as "name argument...".

#include "Nuvel/model/CloudMeetingModel.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace nuvel::test {

class FakeCloud final : public CloudMeetingModel {
public:
    void setOnChange(std::function<void()> f) override { onChange = std::move(f); }
    void setOnPlaybackTick(std::function<void()> f) override { onPlaybackTick = std::move(f); }
    void setOnMeetingsGone(std::function<void(const std::vector<std::string>&)> f) override {
        onMeetingsGone = std::move(f);
    }
    Task<void> configure(const DeviceSession& session, const std::string& workspaceID,
                         const std::filesystem::path& cacheRoot, const SymmetricKey&,
                         std::optional<double> offlineSeconds) override {
        calls.push_back("configure");
        if (failConfigure)
            throw std::filesystem::filesystem_error("cache", std::make_error_code(std::errc::io_error));
        configuredAccount = session.account.id;
        configuredWorkspace = workspaceID;
        configuredCacheRoot = cacheRoot;
        configuredOfflineSeconds = offlineSeconds;
        co_return;
    }
    void reset() override { calls.push_back("reset"); }
    void refuseSession() override { calls.push_back("refuseSession"); }
    void setOnline(bool online) override { calls.push_back(online ? "online" : "offline"); }
    void stopPlayback() override { calls.push_back("stopPlayback"); }
    // The library's own requests.
    const CloudMeetingState& state() const override { return shown; }
    bool documentLeaseIsValid() const override { return leaseValid; }
    void loadLibrary(bool more) override { calls.push_back(more ? "loadLibrary more" : "loadLibrary"); }
    void search(const std::string& query) override { calls.push_back("search " + query); }
    void openMeeting(const std::string& id, bool refreshing) override {
        calls.push_back("openMeeting " + id + (refreshing ? " refreshing" : ""));
        if (onOpenMeeting)
            onOpenMeeting(id);
    }
    void exportMeeting(MeetingExport::Format format, const std::string& variant) override {
        calls.push_back("export " + std::to_string(int(format)) + " " + variant);
    }
    Task<void> refreshServerRetention(Uuid, DeviceSession) override { co_return; }
    void setServerRetentionDays(std::int64_t) override { calls.push_back("setServerRetentionDays"); }
    Task<void> clearCache(Uuid) override { co_return; }
    // The detail screen's requests, as "name argument...".
    void submitCorrection(std::vector<MeetingRevisionOperation> operations, std::int64_t revision,
                          CorrectionCompletion completion) override {
        std::string call = "submitCorrection " + std::to_string(revision);
        for (const MeetingRevisionOperation& operation : operations)
            call += " " + operation.type + ":" + operation.word_id.value_or("") + ":" +
                    operation.speaker_id.value_or("") + ":" +
                    operation.text.value_or(operation.label.value_or(""));
        calls.push_back(call);
        completions.push_back(std::move(completion));
    }
    Task<void> retryCorrection(std::string meetingID, MeetingRevisionRequest request,
                               CorrectionCompletion completion, DeviceSession session,
                               Uuid generation) override {
        calls.push_back("retryCorrection " + meetingID + " " + request.operation_id + " " + session.token +
                        (generation == shown.generation ? " current" : " stale"));
        completions.push_back(std::move(completion));
        co_return;
    }
    void play(std::optional<std::int64_t> position) override {
        calls.push_back(position ? "play " + std::to_string(*position) : "play");
    }
    void setSpeed(float speed) override { calls.push_back("setSpeed " + std::to_string(speed).substr(0, 3)); }
    void updateSharing(MeetingShareRequest request, InvitationCompletion completion) override {
        calls.push_back("updateSharing " + request.kind + " " + request.email.value_or(""));
        invitations.push_back(std::move(completion));
    }
    void revokeShare(std::string id) override { calls.push_back("revokeShare " + id); }
    void createLink(int days, bool audio) override {
        calls.push_back("createLink " + std::to_string(days) + (audio ? " audio" : " no-audio"));
    }
    void revokeLink(std::string id) override { calls.push_back("revokeLink " + id); }
    void renameTitle(std::string title) override { calls.push_back("renameTitle " + title); }
    void confirmDelete() override { calls.push_back("confirmDelete"); }

    std::vector<std::string> take() { return std::exchange(calls, {}); }

    CloudMeetingState shown;
    std::vector<CorrectionCompletion> completions;
    std::vector<InvitationCompletion> invitations;
    bool leaseValid = false;

    std::function<void()> onChange, onPlaybackTick;
    std::function<void(const std::vector<std::string>&)> onMeetingsGone;
    // Called after an open is recorded: the test plays the start of the load there.
    std::function<void(const std::string&)> onOpenMeeting;
    std::vector<std::string> calls;
    bool failConfigure = false;
    std::string configuredAccount, configuredWorkspace;
    std::filesystem::path configuredCacheRoot;
    std::optional<double> configuredOfflineSeconds;
};

} // namespace nuvel::test
