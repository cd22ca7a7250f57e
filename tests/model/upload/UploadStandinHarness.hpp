#pragma once

// The whole model over the real service client, the real encrypted store and the stand-in
// service on loopback; only the audio composition is replaced, by a transport file of any size
// made of bytes that follow from the recording's id.

#include "NuvelKit/service/CurlTransport.hpp"
#include "tests/model/ModelHarness.hpp"
#include "tools/standin-service/StandinService.hpp"

#include <fstream>
#include <random>
#include <regex>

namespace nuvel::test {

class SizedTransportMedia final : public MediaAssembler {
public:
    std::filesystem::path assemble(const LocalRecording& recording, WorkspaceStore& store) override {
        ++assembled;
        const std::int64_t size = sizes.contains(recording.id) ? sizes.at(recording.id) : defaultSize;
        std::filesystem::path file = store.workingFileURL(recording.id, Uuid::random(), "m4a", "transport");
        const std::string name = recording.id.lowercase();
        std::seed_seq seed(name.begin(), name.end());
        std::mt19937_64 bytes(seed);
        std::ofstream out(file, std::ios::binary);
        std::vector<char> chunk(1 << 20);
        for (std::int64_t left = size; left > 0;) {
            const auto n = std::size_t(std::min<std::int64_t>(left, std::int64_t(chunk.size())));
            for (std::size_t i = 0; i < n; ++i)
                chunk[i] = char(bytes());
            out.write(chunk.data(), std::streamsize(n));
            left -= std::int64_t(n);
        }
        return file;
    }
    FileDigest fileDigest(const std::filesystem::path& file) override { return inner.fileDigest(file); }
    Bytes readPart(const std::filesystem::path& file, std::int64_t index, std::int64_t partBytes) override {
        return inner.readPart(file, index, partBytes);
    }
    double convertImport(const std::filesystem::path&, const std::filesystem::path&) override {
        throw RecordingError(RecordingError::Code::invalidTransport);
    }

    std::map<Uuid, std::int64_t> sizes;
    std::int64_t defaultSize = 2500;
    int assembled = 0;
    RecordingMediaAssembler inner;
};

// The real client, with a hook called just before a part goes.
class HookedAPI final : public NuvelAPI {
public:
    using NuvelAPI::NuvelAPI;
    void uploadPart(std::string_view meetingID, std::int64_t index, ByteView bytes, std::string_view token,
                    std::stop_token stop) override {
        if (beforePart)
            beforePart(index);
        NuvelAPI::uploadPart(meetingID, index, bytes, token, stop);
    }
    std::function<void(std::int64_t index)> beforePart;
};

// A real store whose saves of an accepted manifest fail while `failures` lasts, as a full disk
// would, and whose manifest saves and working-file removals vanish while `lost` holds, as after
// the process died; every other call goes through. It counts the clear copies decrypted.
class AcceptedSaveFaults final : public WorkspaceStore {
public:
    AcceptedSaveFaults(std::shared_ptr<WorkspaceStore> inner, std::shared_ptr<int> failures,
                       std::shared_ptr<bool> lost, std::shared_ptr<int> clearCopies)
        : inner_(std::move(inner)), failures_(std::move(failures)), lost_(std::move(lost)),
          clearCopies_(std::move(clearCopies)) {}

    const std::filesystem::path& root() const override { return inner_->root(); }
    RecoveryReport recover(const std::string& accountID) override { return inner_->recover(accountID); }
    LocalRecording loadRecording(const Uuid& id) override { return inner_->loadRecording(id); }
    void saveManifest(const LocalRecording& recording) override {
        failWhileDue(recording);
        if (!*lost_)
            inner_->saveManifest(recording);
    }
    void saveManifestKeepingAnnotations(const LocalRecording& recording) override {
        failWhileDue(recording);
        if (!*lost_)
            inner_->saveManifestKeepingAnnotations(recording);
    }
    void saveNotepadSync(const LocalRecording& recording) override { inner_->saveNotepadSync(recording); }
    void saveAnnotations(const Uuid& id, const RecordingStore::Annotations& annotations) override {
        inner_->saveAnnotations(id, annotations);
    }
    LocalRecording setCaptureState(CaptureState state, const Uuid& id) override {
        return inner_->setCaptureState(state, id);
    }
    std::filesystem::path workingFileURL(const Uuid& recordingID, const Uuid& fileID,
                                         std::string_view extension, std::string_view kind) override {
        return inner_->workingFileURL(recordingID, fileID, extension, kind);
    }
    void sealClearMedia(const std::filesystem::path& source, const Uuid& recordingID, const Uuid& assetID,
                        RecordingStore::MediaDigest* digest = nullptr) override {
        inner_->sealClearMedia(source, recordingID, assetID, digest);
    }
    std::filesystem::path sealClearMediaKeepingCopy(const std::filesystem::path& source,
                                                    const Uuid& recordingID, const Uuid& assetID,
                                                    RecordingStore::MediaDigest& digest) override {
        return inner_->sealClearMediaKeepingCopy(source, recordingID, assetID, digest);
    }
    std::filesystem::path openClearCopy(const Uuid& recordingID, const Uuid& assetID,
                                        std::string_view extension,
                                        RecordingStore::MediaDigest* digest = nullptr) override {
        ++*clearCopies_;
        return inner_->openClearCopy(recordingID, assetID, extension, digest);
    }
    void removeWorkingFiles(const std::filesystem::path& file) override {
        if (!*lost_)
            inner_->removeWorkingFiles(file);
    }
    void deleteRecording(const Uuid& id, const std::string& accountID) override {
        inner_->deleteRecording(id, accountID);
    }
    RecordingStore* recordingStore() override { return inner_->recordingStore(); }

private:
    void failWhileDue(const LocalRecording& recording) {
        if (recording.transfer == TransferState::accepted && *failures_ > 0) {
            --*failures_;
            throw std::filesystem::filesystem_error("manifest",
                                                    std::make_error_code(std::errc::no_space_on_device));
        }
    }

    std::shared_ptr<WorkspaceStore> inner_;
    std::shared_ptr<int> failures_;
    std::shared_ptr<bool> lost_;
    std::shared_ptr<int> clearCopies_;
};

class StandinUploads {
public:
    static constexpr const char* account = StandinService::defaultAccountId;

    explicit StandinUploads(StandinCapabilities capabilities = {}, StandinLimits limits = smallParts()) {
        service.start();
        service.setCapabilities(account, capabilities);
        service.setLimits(account, limits);
        session = DeviceSession{service.issueToken(), DeviceAccount{account, "you@nuvel.test", std::nullopt}};
        app = std::make_unique<AppHarness>([this](AppModelDependencies& d) {
            d.api = api = std::make_shared<HookedAPI>(service.origin(), std::make_shared<CurlTransport>());
            d.media = media;
            d.openStore = [open = d.openStore, failures = acceptedSaveFailures, lost = savesLost,
                           copies = clearCopies](const std::filesystem::path& root, const SymmetricKey& key) {
                return std::make_shared<AcceptedSaveFaults>(open(root, key), failures, lost, copies);
            };
        });
        app->realStores = true;
    }

    static StandinLimits smallParts() {
        StandinLimits limits;
        limits.partBytes = 1000;
        return limits;
    }

    // A saved recording of a minute, in the account's personal workspace.
    LocalRecording recording(const std::string& title = "Standup") {
        LocalRecording r =
            LocalRecording::make(account, "ws_personal", title, false, Date{700000000}, Uuid::random());
        r.capture = CaptureState::saved;
        r.segments = {
            RecordingSegment::make(Uuid::random(), r.createdAt, "m4a", std::nullopt, std::nullopt, 60)};
        return r;
    }
    // Writes the recordings into the personal store, then starts the model signed in.
    void startWith(const std::vector<LocalRecording>& list) {
        const auto folder = app->data.path() / "share" / "Nuvel" / "production" / hexOf(account) / "personal";
        auto store = RecordingWorkspaceStore::open(
            folder, KeychainVault(AppModel::keychainService, app->keyring).mediaKey(account, false));
        for (const auto& r : list)
            store->saveManifest(r);
        app->storeSession(session);
        app->startUp();
        service.clearRequests();
    }

    void send(const Uuid& id) {
        app->model->startUploadIfAllowed(id, false);
        app->queue.drain();
    }
    const LocalRecording& listed(const Uuid& id) const {
        for (const auto& r : app->model->recordings())
            if (r.id == id)
                return r;
        throw std::out_of_range("no such recording");
    }
    LocalRecording stored(const Uuid& id) const { return app->model->store()->loadRecording(id); }

    // "POST meetings", "PUT audio/2", ...: the requests since the last clear, without the ids.
    std::vector<std::string> calls() const {
        static const std::regex meeting("^/api/meetings/[^/]+/?");
        std::vector<std::string> out;
        for (const StandinLoggedRequest& request : service.requests()) {
            std::string path =
                request.path == "/api/meetings" ? "meetings" : std::regex_replace(request.path, meeting, "");
            if (path.empty())
                path = "meeting";
            out.push_back(request.method + " " + path);
        }
        return out;
    }
    int count(const std::string& call) const {
        const auto all = calls();
        return int(std::count(all.begin(), all.end(), call));
    }

    StandinService service;
    std::shared_ptr<SizedTransportMedia> media = std::make_shared<SizedTransportMedia>();
    std::shared_ptr<HookedAPI> api;
    // How many saves of an accepted manifest are still to fail.
    std::shared_ptr<int> acceptedSaveFailures = std::make_shared<int>(0);
    // While true, manifest saves and working-file removals reach no disk.
    std::shared_ptr<bool> savesLost = std::make_shared<bool>(false);
    // Clear copies of sealed transports decrypted so far.
    std::shared_ptr<int> clearCopies = std::make_shared<int>(0);
    DeviceSession session;
    std::unique_ptr<AppHarness> app;
};

} // namespace nuvel::test
