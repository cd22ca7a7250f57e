#pragma once

// Fakes and harnesses for the application model: a manual main queue with a virtual clock, an
// executor that runs inline unless told to hold its work, and in-memory stand-ins for every
// dependency. Everything runs on the test's own thread.
//
// `PartsHarness` makes the model's parts alone, for the tests of one part through its own
// interface; `AppHarness` makes the whole model, which its tests reach only through its entry
// points and the fakes.

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/ModelParts.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/SecretBackend.hpp"
#include "tests/model/FakeCloud.hpp"
#include "tests/model/RecordingFakes.hpp"
#include "tests/support/HoldingExecutor.hpp"
#include "tests/support/ManualMainQueue.hpp"
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

namespace nuvel::test {

// A store in memory that records what it was asked and fails where a test says.
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
    void saveManifest(const LocalRecording& recording) override {
        if (int(manifests.size()) + 1 == failManifestSave)
            throw std::filesystem::filesystem_error("manifest",
                                                    std::make_error_code(std::errc::no_space_on_device));
        manifests.push_back(recording);
    }
    // Holds no annotations apart from the manifests it records.
    void saveManifestKeepingAnnotations(const LocalRecording& recording) override { saveManifest(recording); }
    void saveNotepadSync(const LocalRecording& recording) override { saveManifest(recording); }
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
    std::filesystem::path workingFileURL(const Uuid& recordingID, const Uuid&, std::string_view,
                                         std::string_view kind) override {
        if (!stages)
            throw RecordingError(RecordingError::Code::unsafePath);
        return root_ / recordingID.uppercase() / (std::string(kind) + ".m4a");
    }
    void sealClearMedia(const std::filesystem::path&, const Uuid&, const Uuid&,
                        RecordingStore::MediaDigest* = nullptr) override {
        if (failSeal)
            throw RecordingError(RecordingError::Code::invalidTransport);
    }
    std::filesystem::path sealClearMediaKeepingCopy(const std::filesystem::path& source, const Uuid&,
                                                    const Uuid&, RecordingStore::MediaDigest&) override {
        if (failSeal)
            throw RecordingError(RecordingError::Code::invalidTransport);
        return source;
    }
    std::filesystem::path openClearCopy(const Uuid&, const Uuid&, std::string_view,
                                        RecordingStore::MediaDigest* = nullptr) override {
        throw RecordingError(RecordingError::Code::missingMedia);
    }
    void removeWorkingFiles(const std::filesystem::path& file) override { removedFiles.push_back(file); }
    void deleteRecording(const Uuid& id, const std::string& accountID) override {
        deleted.push_back(id.uppercase() + " " + accountID);
        if (failDelete)
            throw RecordingError(RecordingError::Code::accountMismatch);
    }

    struct AnnotationSave {
        Uuid id;
        RecordingStore::Annotations annotations;
    };

    RecoveryReport report;
    bool failRecover = false;
    bool failAnnotations = false;
    int failManifestSave = 0; // the save (1 = the first) that fails; 0: none
    bool stages = false;      // whether working files can be made
    bool failSeal = false;
    bool failDelete = false;
    std::vector<std::string> calls;
    std::vector<LocalRecording> manifests;
    std::vector<AnnotationSave> annotationSaves;
    std::vector<std::filesystem::path> removedFiles;
    std::vector<std::string> deleted; // "<ID> <account>"

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

inline const std::string noCloudCapabilities =
    R"({"create_idempotency": false, "upload_reconciliation": false,
    "upload_heartbeat": false, "commit_reconciliation": false, "native_library": false})";

// Made `age` seconds before 700000000 (later ones are listed first by a store's recovery).
inline LocalRecording sampleRecording(const std::string& title = "Standup",
                                      const std::string& account = "acc_1", double age = 0) {
    return LocalRecording::make(account, std::nullopt, title, false, Date{700000000 - age}, Uuid::random());
}

// `count` recordings, newest first.
inline std::vector<LocalRecording> sampleRecordings(std::size_t count) {
    std::vector<LocalRecording> list;
    for (std::size_t i = 0; i < count; ++i)
        list.push_back(sampleRecording("Recording " + std::to_string(i), "acc_1", double(i)));
    return list;
}

// A saved recording of `seconds` of a tone in one live segment of `store`.
inline LocalRecording savedRecording(WorkspaceStore& store, double seconds,
                                     const std::string& title = "Saved", double age = 0) {
    LocalRecording recording = sampleRecording(title, "acc_1", age);
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

inline std::string hexOf(const std::string& text) {
    return hexString(Sha256::hash(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
}

// The world around the model: the fakes with their knobs, and the dependencies over them.
class World {
public:
    explicit World(std::function<void(AppModelDependencies&)> adjust = {}) : adjust_(std::move(adjust)) {}
    virtual ~World() = default;

    AppModelDependencies dependencies() {
        AppModelDependencies d;
        d.mainQueue = &queue;
        d.actorExecutor = &executor;
        d.keyring = keyring;
        d.api = api;
        auto fakeCloud = std::make_unique<FakeCloud>();
        cloud = fakeCloud.get();
        d.cloud = std::move(fakeCloud);
        d.openStore = [this](const std::filesystem::path& root,
                             const SymmetricKey& key) -> std::shared_ptr<WorkspaceStore> {
            openedRoots.push_back(root);
            if (failOpenStore)
                throw std::filesystem::filesystem_error("store",
                                                        std::make_error_code(std::errc::permission_denied));
            if (realStores)
                return RecordingWorkspaceStore::open(root, key);
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
        d.now = [this] { return Date{wallClockAtStart + queue.now() + suspended}; };
        d.continuousNow = [this] {
            if (continuousClockFails)
                throw std::runtime_error("the clock could not be read");
            return queue.now() + suspended;
        };
        d.deviceName = [this] { return hostName; };
        d.randomFill = [this](std::uint8_t* out, std::size_t n) {
            if (failRandom)
                throw std::runtime_error("no entropy");
            for (std::size_t i = 0; i < n; ++i)
                out[i] = std::uint8_t(i * 7 + 1);
        };
        if (adjust_)
            adjust_(d);
        return d;
    }

    void storeSession(const DeviceSession& session) {
        std::string text = session.encode();
        keyring->add(AppModel::keychainService, KeychainVault::deviceSessionAccount,
                     ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    std::filesystem::path accountFolder(const std::string& account = "acc_1") const {
        return data.path() / "share" / "Nuvel" / "production" / hexOf(account);
    }
    // The folder of the contract's workspace store.
    std::filesystem::path
    workspaceFolder(const std::optional<NativeBootstrap>& contract = std::nullopt) const {
        if (!contract || contract->workspace.kind == "personal")
            return accountFolder() / "personal";
        return accountFolder() / ("workspace-" + hexOf(contract->workspace.id));
    }
    // The account's media key (made on first use, as the model makes it).
    SymmetricKey accountKey() {
        return KeychainVault(AppModel::keychainService, keyring).mediaKey("acc_1", false);
    }
    // Lets the executor run again and runs what it held, oldest first, draining after each.
    void releaseHeld() {
        executor.holding = false;
        queue.drain();
        while (!executor.held.empty()) {
            auto work = std::move(executor.held.front());
            executor.held.pop_front();
            work();
            queue.drain();
        }
    }
    // A real store over the contract's workspace folder, holding `list` as it is given.
    std::shared_ptr<WorkspaceStore> realStore(const std::vector<LocalRecording>& list = {},
                                              const std::optional<NativeBootstrap>& contract = std::nullopt) {
        realStores = true;
        auto store = RecordingWorkspaceStore::open(workspaceFolder(contract), accountKey());
        for (const auto& recording : list)
            store->saveManifest(recording);
        return store;
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
    std::vector<std::string> playerLog;
    FakeCloud* cloud = nullptr;
    std::map<std::filesystem::path, std::shared_ptr<FakeStore>> stores;
    std::vector<std::filesystem::path> openedRoots;
    RecoveryReport nextReport;
    bool realStores = false;
    bool failOpenStore = false;
    bool failRecover = false;
    bool failRandom = false;
    std::optional<std::string> hostName;
    std::string localizePrefix;
    double wallClockAtStart = 700000000 - 1000; // the queue's clock starts at 1000
    // Seconds the computer has slept: the wall and continuous clocks count them, the queue's
    // timers do not.
    double suspended = 0;
    bool continuousClockFails = false;
    int changes = 0;
    int ticks = 0;

private:
    std::function<void(AppModelDependencies&)> adjust_;
};

// The model's parts alone. Tests open the workspace as the model's start-up does, and may set
// up the shared state the parts read. The parts' tasks hold them as a model's tasks hold it.
class PartsHarness : public World {
public:
    explicit PartsHarness(std::function<void(AppModelDependencies&)> adjust = {})
        : World(std::move(adjust)), parts(std::make_shared<ModelParts>(dependencies())) {
        parts->context.setOwner(std::weak_ptr<const void>(parts));
        parts->context.setObservers([this] { ++changes; }, [this] { ++ticks; });
    }
    ~PartsHarness() override {
        releaseHeld();
        if (parts) {
            parts->context.tasks.cancelAll();
            parts->context.setObservers({}, {});
        }
        parts.reset();
        queue.drain();
    }

    ModelContext& context() { return parts->context; }
    ModelState& state() { return parts->context.state; }

    // Opens the contract's workspace as start-up does, signed in as "acc_1".
    void signIn(std::optional<NativeBootstrap> contract = std::nullopt) {
        runToCompletion(queue,
                        parts->workspaces.openWorkspace(sampleSession(), std::move(contract), std::nullopt));
        queue.drain();
        changes = 0;
    }
    // Signed in over a fake store whose recovery lists `list` (or `count` samples).
    std::shared_ptr<FakeStore> signedInWith(std::vector<LocalRecording> list,
                                            std::optional<NativeBootstrap> contract = std::nullopt) {
        nextReport.recordings = std::move(list);
        signIn(contract);
        return std::dynamic_pointer_cast<FakeStore>(state().store);
    }
    std::shared_ptr<FakeStore> signedInWith(std::size_t count,
                                            std::optional<NativeBootstrap> contract = std::nullopt) {
        return signedInWith(sampleRecordings(count), std::move(contract));
    }
    // Signed in over a real encrypted store that holds `list` before it opens.
    std::shared_ptr<WorkspaceStore>
    signedInWithRealStore(const std::vector<LocalRecording>& list = {},
                          std::optional<NativeBootstrap> contract = std::nullopt) {
        realStore(list, contract);
        signIn(contract);
        return state().store;
    }

    std::shared_ptr<ModelParts> parts;
};

// Everything the model shows, and what it has started, for "nothing changed" checks.
struct Snapshot {
    std::vector<LocalRecording> recordings;
    std::optional<Uuid> selected, active, playbackID;
    std::string message, session, bootstrap;
    const void* store = nullptr;
    bool busy = false, uploading = false, transition = false, signingIn = false, network = false,
         update = false;
    double elapsed = 0;
    std::size_t timers = 0, posted = 0, storeCalls = 0, cloudCalls = 0, heldJobs = 0, browserOpens = 0,
                playerCalls = 0;
    bool operator==(const Snapshot&) const = default;
};

// The whole model, reached through its entry points and the fakes.
class AppHarness : public World {
public:
    explicit AppHarness(std::function<void(AppModelDependencies&)> adjust = {}) : World(std::move(adjust)) {
        build();
    }
    ~AppHarness() override {
        releaseHeld();
        model.reset();
        queue.drain();
    }

    void build() {
        model = AppModel::make(dependencies());
        model->onChange = [this] { ++changes; };
        model->onTick = [this] { ++ticks; };
    }
    // Starts the model and runs its start-up; the busy flag the windows saw at each change.
    std::vector<bool> startUp() {
        std::vector<bool> busy;
        model->onChange = [this, &busy] { busy.push_back(model->busy()); };
        model->start();
        queue.drain();
        model->onChange = [this] { ++changes; };
        changes = 0;
        return busy;
    }
    // The application quits and starts again over the same folders and keyring.
    void restart() {
        model.reset();
        queue.drain();
        build();
        startUp();
    }

    // Started with a stored session; the service answers `contract`, or cannot be reached.
    void signIn(std::optional<NativeBootstrap> contract) {
        storeSession(sampleSession());
        if (contract)
            api->answerBootstrap = [contract] { return *contract; };
        startUp();
    }
    // Signed in over a fake store whose recovery lists `list` (or `count` samples).
    std::shared_ptr<FakeStore> signedInWith(std::vector<LocalRecording> list,
                                            std::optional<NativeBootstrap> contract = std::nullopt) {
        nextReport.recordings = std::move(list);
        signIn(std::move(contract));
        return std::dynamic_pointer_cast<FakeStore>(model->store());
    }
    std::shared_ptr<FakeStore> signedInWith(std::size_t count,
                                            std::optional<NativeBootstrap> contract = std::nullopt) {
        return signedInWith(sampleRecordings(count), std::move(contract));
    }
    // Signed in over a real encrypted store that holds `list` before it opens.
    std::shared_ptr<WorkspaceStore>
    signedInWithRealStore(const std::vector<LocalRecording>& list = {},
                          std::optional<NativeBootstrap> contract = std::nullopt) {
        realStore(list, contract);
        signIn(std::move(contract));
        return model->store();
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
        s.signingIn = model->isSigningIn();
        s.network = model->networkAvailable();
        s.update = model->updateInProgress();
        s.elapsed = model->elapsed();
        s.timers = queue.pendingTimers();
        s.posted = queue.pendingWork();
        for (auto& [root, store] : stores)
            s.storeCalls += store->calls.size() + store->manifests.size() + store->removedFiles.size() +
                            store->deleted.size();
        s.cloudCalls = cloud->calls.size();
        s.heldJobs = executor.held.size();
        s.browserOpens = browser->opened.size();
        s.playerCalls = playerLog.size();
        return s;
    }

    // Calls `request` and checks that it changed nothing, started nothing and told no observer.
    void expectRefused(const std::function<void()>& request, const std::string& what) {
        Snapshot before = snapshot();
        int changesBefore = changes;
        request();
        EXPECT_TRUE(snapshot() == before) << what << ": the model changed";
        EXPECT_EQ(changes, changesBefore) << what << ": onChange was called";
    }

    std::shared_ptr<AppModel> model;
};

} // namespace nuvel::test
