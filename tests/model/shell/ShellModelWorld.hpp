#pragma once

// The real application model in a temporary folder, on a manual main queue and an inline
// executor, with the service's device API and the capture played by fakes: what the shell's
// tests drive, headless. Its states are reached only through the model's own entry points.

#include "Nuvel/model/AppModel.hpp"
#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/store/SecretBackend.hpp"
#include "NuvelKit/support/Defaults.hpp"
#include "tests/model/RecordingFakes.hpp"
#include "tests/support/HoldingExecutor.hpp"
#include "tests/support/ManualMainQueue.hpp"
#include "tests/support/TempDir.hpp"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nuvel::test {

class NoTransport final : public HttpTransport {
public:
    HttpResponse send(const HttpRequest&, std::stop_token) override {
        throw TransportError(TransportError::Code::cannotConnect);
    }
};

// The device API with a bootstrap that admits account "acc_1" to its team workspace.
class BootstrapAPI final : public NuvelAPI {
public:
    // `refusal`: the status the service answers instead (401: it no longer knows the session).
    explicit BootstrapAPI(std::optional<int> refusal = std::nullopt)
        : NuvelAPI("https://api.nuvel.test", std::make_shared<NoTransport>()), refusal_(refusal) {}
    NativeBootstrap bootstrap(std::string_view, const std::optional<std::string>&, std::stop_token) override {
        if (refusal_)
            throw APIError(*refusal_, "refused");
        return NativeBootstrap::decode(R"({"contract_version": 1,
            "account": {"id": "acc_1", "email": "ada@example.com"},
            "default_workspace_id": "ws_team", "selected_workspace_id": "ws_team",
            "workspaces": [{"id": "ws_team", "kind": "team", "name": "Field Team", "role": "member", "seat": true}],
            "workspace": {"id": "ws_team", "kind": "team", "name": "Field Team", "role": "member", "seat": true,
                          "can_upload": true, "hard_max_meeting_seconds": 14400},
            "limits": {"part_bytes": 8388608, "max_parts": 512, "max_source_bytes": 4294967296,
                       "upload_expires_seconds": 86400, "heartbeat_seconds": 30, "offline_access_seconds": 3600},
            "capabilities": {"create_idempotency": true, "upload_reconciliation": true, "upload_heartbeat": false,
                             "commit_reconciliation": true, "native_library": true}})");
    }

private:
    std::optional<int> refusal_;
};

struct ShellModelWorld {
    ManualMainQueue queue;
    HoldingExecutor executor;
    TempDir data{"shell"};
    std::shared_ptr<MemorySecretBackend> keyring = std::make_shared<MemorySecretBackend>();
    std::shared_ptr<FakeCaptureFactory> capture = std::make_shared<FakeCaptureFactory>();
    MemoryDefaultsStore defaults;
    std::shared_ptr<AppModel> model;

    // `signedIn`: a device session of the account with that e-mail address waits in the keyring,
    // so the model's start opens its store.
    explicit ShellModelWorld(bool signedIn = true, const std::string& email = "ada@example.com") {
        if (signedIn) {
            const DeviceSession session{"token-1", DeviceAccount{"acc_1", email, std::string("Ada")}};
            const std::string text = session.encode();
            keyring->add(AppModel::keychainService, KeychainVault::deviceSessionAccount,
                         ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        }
        model = makeModel();
    }

    // A cloud library that holds no meetings: the shell's tests never reach the service.
    class EmptyCloudLibrary final : public CloudMeetingModel {
    public:
        void setOnChange(std::function<void()>) override {}
        void setOnPlaybackTick(std::function<void()>) override {}
        void setOnMeetingsGone(std::function<void(const std::vector<std::string>&)>) override {}
        const CloudMeetingState& state() const override { return state_; }
        bool documentLeaseIsValid() const override { return false; }
        Task<void> configure(const DeviceSession&, const std::string&, const std::filesystem::path&,
                             const SymmetricKey&, std::optional<double>) override {
            co_return;
        }
        void reset() override {}
        void refuseSession() override {}
        void stopPlayback() override {}
        void setOnline(bool) override {}
        void loadLibrary(bool) override {}
        void search(const std::string&) override {}
        void openMeeting(const std::string&, bool) override {}
        void exportMeeting(MeetingExport::Format, const std::string&) override {}
        Task<void> refreshServerRetention(Uuid, DeviceSession) override { co_return; }
        void setServerRetentionDays(std::int64_t) override {}
        Task<void> clearCache(Uuid) override { co_return; }
        void submitCorrection(std::vector<MeetingRevisionOperation>, std::int64_t,
                              CorrectionCompletion completion) override {
            completion(false, false);
        }
        Task<void> retryCorrection(std::string, MeetingRevisionRequest, CorrectionCompletion, DeviceSession,
                                   Uuid) override {
            co_return;
        }
        void play(std::optional<std::int64_t>) override {}
        void setSpeed(float) override {}
        void updateSharing(MeetingShareRequest, InvitationCompletion completion) override {
            completion(false);
        }
        void revokeShare(std::string) override {}
        void createLink(int, bool) override {}
        void revokeLink(std::string) override {}
        void renameTitle(std::string) override {}
        void confirmDelete() override {}

    private:
        CloudMeetingState state_;
    };

    // The network as the next model finds it: reported once at its start.
    class SteadyNetwork final : public NetworkMonitor {
    public:
        explicit SteadyNetwork(bool usable) : usable_(usable) {}
        void start(std::function<void(bool)> pathChanged) override { pathChanged(usable_); }
        void stop() override {}

    private:
        bool usable_;
    };
    bool online = true;
    // What the service answers the next model's contract request instead of the contract.
    std::optional<int> bootstrapRefusal;
    // The cloud library the next model gets; unset: one that holds no meetings.
    std::function<std::unique_ptr<CloudMeetingModel>()> makeCloud;

    std::shared_ptr<AppModel> makeModel() {
        AppModelDependencies d;
        d.network = std::make_shared<SteadyNetwork>(online);
        d.mainQueue = &queue;
        d.actorExecutor = &executor;
        d.keyring = keyring;
        d.api = std::make_shared<BootstrapAPI>(bootstrapRefusal);
        d.cloud = makeCloud ? makeCloud() : std::make_unique<EmptyCloudLibrary>();
        d.openStore = &RecordingWorkspaceStore::open;
        d.capture = capture;
        d.media = std::make_shared<RecordingMediaAssembler>();
        d.freeSpace = [](const std::filesystem::path&) {
            return std::optional<std::int64_t>(std::int64_t(1) << 40);
        };
        d.dataRoot = data.path();
        d.continuousNow = [this] { return queue.now(); };
        return AppModel::make(std::move(d));
    }
    ~ShellModelWorld() {
        if (model)
            model->onChange = nullptr;
        model.reset();
        queue.drain();
    }

    // The open workspace's store, once the model has started.
    WorkspaceStore& store() { return *model->store(); }

    // Saved recordings (`seconds` of silence each, with their transfer state and queue mark)
    // in the workspace's store, found by the next model's start: the store is opened by a first
    // start of the model, filled, and the model made anew.
    void seed(const std::vector<LocalRecording>& recordings, double seconds = 2) {
        model->start();
        queue.drain();
        WorkspaceStore& store = *model->store();
        for (LocalRecording r : recordings) {
            store.saveManifest(r);
            std::vector<float> samples(std::size_t(seconds * 48000), 0.0f);
            for (std::size_t at = 0; at < samples.size(); at += RecordingStore::maxLiveSamples) {
                const std::size_t n = std::min(samples.size() - at, RecordingStore::maxLiveSamples);
                store.recordingStore()->appendLiveAudio(std::span<const float>(samples.data() + at, n), 48000,
                                                        r.id);
            }
            store.recordingStore()->finishLiveSegment(r.id);
            LocalRecording saved = store.setCaptureState(CaptureState::saved, r.id);
            saved.transfer = r.transfer;
            saved.uploadQueued = r.uploadQueued;
            store.saveManifest(saved);
        }
        model.reset();
        queue.drain();
        model = makeModel();
    }

    static LocalRecording recording(const std::string& title, TransferState transfer = TransferState::local,
                                    std::optional<bool> queued = std::nullopt) {
        LocalRecording r = LocalRecording::make("acc_1", std::string("ws_team"), title, false,
                                                Date{700000000}, Uuid::random());
        r.transfer = transfer;
        r.uploadQueued = queued;
        return r;
    }

    // Starts a room recording and lets it run for `seconds` (virtual time).
    void record(double seconds = 0, std::string title = "Standup") {
        AppModel::NewRecording request;
        request.title = std::move(title);
        request.sourceName = "Microphone";
        model->startNewRecording(request);
        queue.drain();
        capture->control->duration = seconds;
        queue.advance(0.1);
    }
};

} // namespace nuvel::test
