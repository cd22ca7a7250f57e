#pragma once

// Fakes and a harness for the application model: a manual main queue with a virtual clock, an
// executor that runs inline unless told to hold its work, and in-memory stand-ins for every
// dependency. Everything runs on the test's own thread.

#include "Nuvel/model/AppModel.hpp"
#include "tests/model/RecordingFakes.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/SecretBackend.hpp"
#include "NuvelKit/support/ManualMainQueue.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nuvel {

// Reaches the model's private state, to put it into the states the windows cannot reach alone
// (a capture running, an upload running) and to look at its tasks.
struct AppModelTestAccess {
    static void setBusy(AppModel& m, bool value) { m.busy_ = value; }
    static void setUploading(AppModel& m, bool value) { m.uploading_ = value; }
    static void setCaptureTransition(AppModel& m, bool value) { m.captureTransition_ = value; }
    static void setActiveID(AppModel& m, std::optional<Uuid> id) { m.activeID_ = id; }
    static void setElapsed(AppModel& m, double seconds) { m.elapsed_ = seconds; }
    static void setSession(AppModel& m, std::optional<DeviceSession> session) {
        m.session_ = std::move(session);
    }
    static void setBootstrap(AppModel& m, std::optional<NativeBootstrap> b) { m.bootstrap_ = std::move(b); }
    static void setStore(AppModel& m, std::shared_ptr<WorkspaceStore> store) { m.store_ = std::move(store); }
    static void setRecordings(AppModel& m, std::vector<LocalRecording> r) { m.recordings_ = std::move(r); }
    static void setSelectedID(AppModel& m, std::optional<Uuid> id) { m.selectedID_ = id; }
    static void setNetworkAvailable(AppModel& m, bool value) { m.networkAvailable_ = value; }
    static void setPlayer(AppModel& m, std::unique_ptr<AudioPlayer> player, Uuid id,
                          std::filesystem::path file) {
        m.player_ = std::move(player);
        m.playbackID_ = id;
        m.playbackURL_ = std::move(file);
    }
    static bool hasPlayer(const AppModel& m) { return m.player_ != nullptr; }
    static bool stopRequested(const AppModel& m) { return m.stopRequested_; }
    static const std::function<void()>& stopCompletion(const AppModel& m) { return m.stopCompletion_; }
    static bool hasAttempt(const AppModel& m) { return m.attempt_.has_value(); }
    static const PKCEAttempt& attempt(const AppModel& m) { return *m.attempt_; }
    static const TaskHandle& queueWakeup(const AppModel& m) { return m.queueWakeup_; }
    static const TaskHandle& annotationTask(const AppModel& m) { return m.annotationTask_; }
    static const std::map<Uuid, TaskHandle>& notepadDebounce(const AppModel& m) { return m.notepadDebounce_; }
    static void scheduleQueueWakeup(AppModel& m) { m.scheduleQueueWakeup(); }
    // The notices as `start` forwards them to the main queue.
    static void willSleep(AppModel& m, std::function<void()> ready) { m.willSleep(std::move(ready)); }
    static void deviceChanged(AppModel& m) { m.deviceChanged(); }
};

namespace test {

// Runs work inline, or, while holding, keeps it until the test runs it.
class HoldingExecutor final : public Executor {
public:
    void execute(std::function<void()> work) override {
        if (holding)
            held.push_back(std::move(work));
        else
            work();
    }
    // Runs the newest held job (so a test sees whether older work was waiting at all).
    void runNewest() {
        auto work = std::move(held.back());
        held.pop_back();
        work();
    }

    bool holding = false;
    std::deque<std::function<void()>> held;
};

class FakeCloud final : public CloudMeetingModel {
public:
    void setOnChange(std::function<void()> f) override { onChange = std::move(f); }
    void setOnPlaybackTick(std::function<void()> f) override { onPlaybackTick = std::move(f); }
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
    void setOnline(bool online) override { calls.push_back(online ? "online" : "offline"); }
    void stopPlayback() override { calls.push_back("stopPlayback"); }
    // The library's own requests: the application model never makes them.
    const CloudMeetingState& state() const override { return shown; }
    bool documentLeaseIsValid() const override { return false; }
    void loadLibrary(bool) override { calls.push_back("loadLibrary"); }
    void search(const std::string&) override { calls.push_back("search"); }
    void openMeeting(const std::string&, bool) override { calls.push_back("openMeeting"); }
    void exportMeeting(MeetingExport::Format, const std::string&) override { calls.push_back("export"); }
    Task<void> refreshServerRetention(Uuid, DeviceSession) override { co_return; }
    void setServerRetentionDays(std::int64_t) override { calls.push_back("setServerRetentionDays"); }
    Task<void> clearCache(Uuid) override { co_return; }

    CloudMeetingState shown;

    std::function<void()> onChange, onPlaybackTick;
    std::vector<std::string> calls;
    bool failConfigure = false;
    std::string configuredAccount, configuredWorkspace;
    std::filesystem::path configuredCacheRoot;
    std::optional<double> configuredOfflineSeconds;
};

class FakeStore final : public WorkspaceStore {
public:
    explicit FakeStore(std::filesystem::path root) : root_(std::move(root)) {}

    const std::filesystem::path& root() const override { return root_; }
    RecoveryReport recover(const std::string& accountID) override {
        calls.push_back("recover " + accountID);
        if (failRecover)
            throw RecordingError(RecordingError::Code::invalidManifest);
        return report;
    }
    LocalRecording loadRecording(const Uuid&) override {
        throw RecordingError(RecordingError::Code::missingMedia);
    }
    void saveManifest(const LocalRecording& recording) override { manifests.push_back(recording); }
    void saveAnnotations(const Uuid& id, const RecordingStore::Annotations& annotations) override {
        calls.push_back("saveAnnotations");
        if (failAnnotations)
            throw std::filesystem::filesystem_error("save",
                                                    std::make_error_code(std::errc::no_space_on_device));
        annotationSaves.push_back({id, annotations});
    }
    LocalRecording setCaptureState(CaptureState, const Uuid&) override {
        throw RecordingError(RecordingError::Code::missingMedia);
    }
    std::filesystem::path workingFileURL(const Uuid&, const Uuid&, std::string_view,
                                         std::string_view) override {
        throw RecordingError(RecordingError::Code::unsafePath);
    }
    void sealClearMedia(const std::filesystem::path&, const Uuid&, const Uuid&) override {}
    std::filesystem::path openClearCopy(const Uuid&, const Uuid&, std::string_view) override {
        throw RecordingError(RecordingError::Code::missingMedia);
    }
    void removeWorkingFiles(const std::filesystem::path& file) override { removedFiles.push_back(file); }
    void deleteRecording(const Uuid&, const std::string&) override {}

    struct AnnotationSave {
        Uuid id;
        RecordingStore::Annotations annotations;
    };

    RecoveryReport report;
    bool failRecover = false;
    bool failAnnotations = false;
    std::vector<std::string> calls;
    std::vector<LocalRecording> manifests;
    std::vector<AnnotationSave> annotationSaves;
    std::vector<std::filesystem::path> removedFiles;

private:
    std::filesystem::path root_;
};

// Every exchange fails: the fake client below answers instead.
class NoTransport final : public HttpTransport {
public:
    HttpResponse send(const HttpRequest&, std::stop_token) override {
        throw TransportError(TransportError::Code::cannotConnect);
    }
};

class FakeAPI final : public NuvelAPI {
public:
    FakeAPI() : NuvelAPI("https://api.nuvel.test", std::make_shared<NoTransport>()) {}

    NativeBootstrap bootstrap(std::string_view token, const std::optional<std::string>& workspaceID,
                              std::stop_token) override {
        bootstrapCalls.push_back(std::string(token) + "|" + workspaceID.value_or("-"));
        if (!answerBootstrap)
            throw TransportError(TransportError::Code::cannotConnect);
        return answerBootstrap();
    }

    std::function<NativeBootstrap()> answerBootstrap;
    std::vector<std::string> bootstrapCalls;
};

class FakeNetwork final : public NetworkMonitor {
public:
    void start(std::function<void(bool)> handler) override { report = std::move(handler); }
    void stop() override { stopped = true; }
    std::function<void(bool)> report;
    bool stopped = false;
};

class FakeSleepNotices final : public SleepNotices {
public:
    void start(std::function<void(std::function<void()>)> handler) override {
        willSleep = std::move(handler);
    }
    void stop() override { willSleep = {}; }
    std::function<void(std::function<void()>)> willSleep;
};

class FakeDeviceRemovals final : public DeviceRemovalNotices {
public:
    void start(std::function<void()> handler) override { removed = std::move(handler); }
    void stop() override { removed = {}; }
    std::function<void()> removed;
};

class FakeBrowser final : public Browser {
public:
    bool open(const std::string& url) override {
        opened.push_back(url);
        return accepts;
    }
    bool accepts = true;
    std::vector<std::string> opened;
};

class FakePlayer final : public AudioPlayer {
public:
    explicit FakePlayer(std::vector<std::string>* log, bool refusesToPlay = false)
        : log_(log), refuses_(refusesToPlay) {}
    bool prepareToPlay() override { return true; }
    bool play() override {
        log_->push_back("play");
        if (refuses_)
            return false;
        playing_ = true;
        return true;
    }
    void pause() override {
        log_->push_back("pause");
        playing_ = false;
    }
    void stop() override {
        log_->push_back("stop");
        playing_ = false;
    }
    bool isPlaying() const override { return playing_; }
    double currentTime() const override { return time_; }
    void setCurrentTime(double seconds) override {
        log_->push_back("seek " + std::to_string(seconds));
        time_ = seconds;
    }
    double duration() const override { return 60; }
    double rate() const override { return rate_; }
    void setRate(double rate) override { rate_ = rate; }
    bool reachedEnd() const override { return false; }

private:
    double rate_ = 1;
    std::vector<std::string>* log_;
    bool refuses_ = false;
    bool playing_ = false;
    double time_ = 0;
};

inline DeviceSession sampleSession(const std::string& account = "acc_1") {
    return DeviceSession{"token-1", DeviceAccount{account, "ada@example.com", std::string("Ada")}};
}

// A contract that passes validation for "acc_1"; `kind` and the capabilities vary.
inline NativeBootstrap
sampleContract(const std::string& kind = "team", const std::string& workspaceID = "ws_team",
               const std::string& capabilities =
                   R"({"create_idempotency": true, "upload_reconciliation": true,
                                              "upload_heartbeat": false, "commit_reconciliation": true,
                                              "native_library": true})",
               const std::string& limitsExtra = R"(, "offline_access_seconds": 3600)") {
    std::string text = R"({"contract_version": 1,
        "account": {"id": "acc_1", "email": "ada@example.com"},
        "default_workspace_id": ")" +
                       workspaceID + R"(", "selected_workspace_id": ")" + workspaceID + R"(",
        "workspaces": [{"id": ")" +
                       workspaceID + R"(", "kind": ")" + kind + R"(", "name": "Field Team",
                        "role": "member", "seat": true}],
        "workspace": {"id": ")" +
                       workspaceID + R"(", "kind": ")" + kind + R"(", "name": "Field Team",
                      "role": "member", "seat": true, "can_upload": true, "hard_max_meeting_seconds": 14400},
        "limits": {"part_bytes": 8388608, "max_parts": 512, "max_source_bytes": 4294967296,
                   "upload_expires_seconds": 86400, "heartbeat_seconds": 30)" +
                       limitsExtra + R"(},
        "capabilities": )" +
                       capabilities + "}";
    return NativeBootstrap::decode(text);
}

inline LocalRecording sampleRecording(const std::string& title = "Standup",
                                      const std::string& account = "acc_1") {
    return LocalRecording::make(account, std::nullopt, title, false, Date{700000000}, Uuid::random());
}

// Everything the model sees of the world, for "nothing changed" checks.
struct Snapshot {
    std::vector<LocalRecording> recordings;
    std::optional<Uuid> selected, active, playbackID;
    std::string message, session, bootstrap;
    const void* store = nullptr;
    bool busy = false, uploading = false, transition = false, stopRequested = false, signingIn = false,
         attempt = false, network = false, player = false, update = false;
    double elapsed = 0;
    std::size_t timers = 0, storeCalls = 0, cloudCalls = 0, heldJobs = 0, browserOpens = 0, playerCalls = 0;
    bool operator==(const Snapshot&) const = default;
};

class Harness {
public:
    // `adjust` may replace dependencies before the model is made (the real capture, say).
    explicit Harness(std::function<void(AppModelDependencies&)> adjust = {}) : adjust_(std::move(adjust)) { build(); }
    ~Harness() {
        model.reset();
        queue.drain();
    }

    void build() {
        AppModelDependencies d;
        d.mainQueue = &queue;
        d.actorExecutor = &executor;
        d.keyring = keyring;
        d.api = api;
        auto fakeCloud = std::make_unique<FakeCloud>();
        cloud = fakeCloud.get();
        d.cloud = std::move(fakeCloud);
        d.openStore = [this](const std::filesystem::path& root,
                             const SymmetricKey&) -> std::shared_ptr<WorkspaceStore> {
            openedRoots.push_back(root);
            if (failOpenStore)
                throw std::filesystem::filesystem_error("store",
                                                        std::make_error_code(std::errc::permission_denied));
            auto store = std::make_shared<FakeStore>(root);
            store->report = nextReport;
            store->failRecover = failRecover;
            stores[root] = store;
            return store;
        };
        d.network = network;
        d.sleepNotices = sleepNotices;
        d.deviceRemovals = deviceRemovals;
        d.browser = browser;
        d.capture = capture;
        d.keepAwake = keepAwake;
        d.media = media;
        d.makePlayer = [this](const std::filesystem::path& file) -> std::unique_ptr<AudioPlayer> {
            playerFiles.push_back(file);
            if (failPlayer)
                throw std::runtime_error("not audio");
            return std::make_unique<FakePlayer>(&playerLog, playerRefusesToPlay);
        };
        d.freeSpace = [this](const std::filesystem::path&) {
            ++freeSpaceChecks;
            return freeBytes;
        };
        d.requestMicrophoneAccess = [this]() -> Task<bool> { co_return microphoneGranted; };
        d.webOrigin = "https://nuvel.test";
        d.localize = [this](std::string_view text) { return localizePrefix + std::string(text); };
        d.dataRoot = data.path() / "share";
        d.now = [this] { return Date{wallClockAtStart + queue.now()}; };
        d.randomFill = [this](std::uint8_t* out, std::size_t n) {
            if (failRandom)
                throw std::runtime_error("no entropy");
            for (std::size_t i = 0; i < n; ++i)
                out[i] = std::uint8_t(i * 7 + 1);
        };
        if (adjust_)
            adjust_(d);
        model = AppModel::make(std::move(d));
        model->onChange = [this] { ++changes; };
        model->onTick = [this] { ++ticks; };
    }

    // Signed in, with a fake store holding `count` recordings and the first selected, as the
    // windows see the model after start-up.
    std::shared_ptr<FakeStore> signedInWith(std::size_t count,
                                            std::optional<NativeBootstrap> contract = std::nullopt) {
        auto store = std::make_shared<FakeStore>(data.path() / "store");
        std::vector<LocalRecording> list;
        for (std::size_t i = 0; i < count; ++i)
            list.push_back(sampleRecording("Recording " + std::to_string(i)));
        signIn(store, list, std::move(contract));
        return store;
    }

    // Signed in, with a real encrypted store in a temporary folder holding `list` (saved as they
    // are) and the first selected.
    std::shared_ptr<WorkspaceStore> signedInWithRealStore(std::vector<LocalRecording> list = {},
                                                          std::optional<NativeBootstrap> contract = std::nullopt) {
        auto store = RecordingWorkspaceStore::open(workspaceFolder(), mediaKey);
        for (const auto& recording : list)
            store->saveManifest(recording);
        signIn(store, list, std::move(contract));
        return store;
    }

    std::filesystem::path workspaceFolder() const { return data.path() / "workspace"; }

    // A saved recording of `seconds` of a tone in one live segment of `store`.
    static LocalRecording savedRecording(WorkspaceStore& store, double seconds, const std::string& title = "Saved") {
        LocalRecording recording = sampleRecording(title);
        store.saveManifest(recording);
        // The live writer takes at most maxLiveSamples per call.
        std::vector<float> samples(RecordingStore::maxLiveSamples, 0.25f);
        for (auto left = std::size_t(seconds * 48000); left > 0;) {
            std::size_t n = std::min(left, samples.size());
            store.recordingStore()->appendLiveAudio(std::span<const float>(samples.data(), n), 48000,
                                                    recording.id);
            left -= n;
        }
        store.recordingStore()->finishLiveSegment(recording.id);
        return store.setCaptureState(CaptureState::saved, recording.id);
    }

    void storeSession(const DeviceSession& session) {
        std::string text = session.encode();
        keyring->add(AppModel::keychainService, KeychainVault::deviceSessionAccount,
                     ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }

    std::filesystem::path accountFolder(const std::string& account = "acc_1") const {
        return data.path() / "share" / "Nuvel" / "production" /
               hexString(Sha256::hash(
                   ByteView(reinterpret_cast<const std::uint8_t*>(account.data()), account.size())));
    }

    Snapshot snapshot() {
        Snapshot s;
        s.recordings = model->recordings();
        s.selected = model->selectedID();
        s.active = model->activeID();
        s.playbackID = model->playbackID();
        s.message = model->message();
        s.session = model->session() ? model->session()->encode() : "";
        s.bootstrap = model->bootstrap() ? model->bootstrap()->encode() : "";
        s.store = model->store().get();
        s.busy = model->busy();
        s.uploading = model->uploading();
        s.transition = model->captureTransition();
        s.stopRequested = AppModelTestAccess::stopRequested(*model);
        s.signingIn = model->isSigningIn();
        s.attempt = AppModelTestAccess::hasAttempt(*model);
        s.network = model->networkAvailable();
        s.player = AppModelTestAccess::hasPlayer(*model);
        s.update = model->updateInProgress();
        s.elapsed = model->elapsed();
        s.timers = queue.pendingTimers();
        for (auto& [root, store] : stores)
            s.storeCalls += store->calls.size() + store->manifests.size();
        if (auto fake = std::dynamic_pointer_cast<FakeStore>(model->store()))
            s.storeCalls += fake->calls.size() + fake->manifests.size() + fake->removedFiles.size();
        s.cloudCalls = cloud->calls.size();
        s.heldJobs = executor.held.size();
        s.browserOpens = browser->opened.size();
        s.playerCalls = playerLog.size();
        return s;
    }

    // Calls `request` and checks that it changed nothing and told no observer.
    void expectRefused(const std::function<void()>& request, const std::string& what) {
        queue.drain();
        Snapshot before = snapshot();
        int changesBefore = changes;
        request();
        queue.drain();
        EXPECT_TRUE(snapshot() == before) << what << ": the model changed";
        EXPECT_EQ(changes, changesBefore) << what << ": onChange was called";
    }

    ManualMainQueue queue;
    HoldingExecutor executor;
    TempDir data{"model"};
    std::shared_ptr<MemorySecretBackend> keyring = std::make_shared<MemorySecretBackend>();
    std::shared_ptr<FakeAPI> api = std::make_shared<FakeAPI>();
    std::shared_ptr<FakeNetwork> network = std::make_shared<FakeNetwork>();
    std::shared_ptr<FakeSleepNotices> sleepNotices = std::make_shared<FakeSleepNotices>();
    std::shared_ptr<FakeDeviceRemovals> deviceRemovals = std::make_shared<FakeDeviceRemovals>();
    std::shared_ptr<FakeBrowser> browser = std::make_shared<FakeBrowser>();
    std::shared_ptr<FakeCaptureFactory> capture = std::make_shared<FakeCaptureFactory>();
    std::shared_ptr<FakeKeepAwake> keepAwake = std::make_shared<FakeKeepAwake>();
    std::shared_ptr<MediaAssembler> media = std::make_shared<RecordingMediaAssembler>();
    std::optional<std::int64_t> freeBytes = std::int64_t(1) << 40;
    int freeSpaceChecks = 0;
    bool microphoneGranted = true;
    bool failPlayer = false;
    bool playerRefusesToPlay = false;
    std::vector<std::filesystem::path> playerFiles;
    FakeCloud* cloud = nullptr;
    std::map<std::filesystem::path, std::shared_ptr<FakeStore>> stores;
    std::vector<std::filesystem::path> openedRoots;
    RecoveryReport nextReport;
    bool failOpenStore = false;
    bool failRecover = false;
    bool failRandom = false;
    std::string localizePrefix;
    std::vector<std::string> playerLog;
    double wallClockAtStart = 700000000 - 1000; // the queue's clock starts at 1000
    int changes = 0;
    int ticks = 0;
    SymmetricKey mediaKey = SymmetricKey::random();
    std::shared_ptr<AppModel> model;

private:
    void signIn(std::shared_ptr<WorkspaceStore> store, const std::vector<LocalRecording>& list,
                std::optional<NativeBootstrap> contract) {
        AppModelTestAccess::setSession(*model, sampleSession());
        AppModelTestAccess::setBootstrap(*model, std::move(contract));
        AppModelTestAccess::setStore(*model, std::move(store));
        AppModelTestAccess::setRecordings(*model, list);
        AppModelTestAccess::setSelectedID(*model, list.empty() ? std::nullopt : std::optional<Uuid>(list[0].id));
    }

    std::function<void(AppModelDependencies&)> adjust_;
};

} // namespace test
} // namespace nuvel
