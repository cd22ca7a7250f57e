#include "Nuvel/model/AppModel.hpp"

#include "NuvelKit/store/Bookmark.hpp"
#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/support/Files.hpp"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

namespace nuvel {

namespace {
constexpr std::string_view signInFailedText = "Sign-in could not finish. Please try again.";
// The browser never reports that the user gave up: an attempt without a callback ends then.
constexpr double signInAttemptSeconds = 600;

bool sameLines(const std::optional<std::vector<NotepadLine>>& a, const std::vector<NotepadLine>& b) {
    return a ? *a == b : b.empty();
}
} // namespace

bool notepadNeedsSync(const LocalRecording& recording) {
    if (!recording.remoteID)
        return false;
    auto local = Notepad::normalize(recording.notepad.value_or(std::vector<NotepadLine>{}));
    return local != recording.notepadBase.value_or(std::vector<NotepadLine>{});
}

// ---- Construction ----

void AppModel::fillDefaults(AppModelDependencies& d) {
    if (!d.freeSpace)
        d.freeSpace = [](const std::filesystem::path& path) -> std::optional<std::int64_t> {
            try {
                std::uint64_t bytes = files::availableCapacity(path);
                constexpr auto largest = std::uint64_t(std::numeric_limits<std::int64_t>::max());
                return std::int64_t(bytes > largest ? largest : bytes);
            } catch (...) {
                return std::nullopt;
            }
        };
    if (!d.preferredLanguage) d.preferredLanguage = [] { return std::optional<std::string>(); };
    if (!d.timeZone) d.timeZone = [] { return systemTimeZoneName(); };
    if (!d.deviceName) d.deviceName = [] { return std::optional<std::string>(); };
    if (!d.localize) d.localize = [](std::string_view text) { return std::string(text); };
    if (!d.now) d.now = [] { return Date::now(); };
    if (!d.randomFill) d.randomFill = [](std::uint8_t* out, std::size_t count) { fillRandom(out, count); };
}

std::shared_ptr<AppModel> AppModel::make(AppModelDependencies dependencies) {
    if (!dependencies.mainQueue)
        throw std::invalid_argument("AppModel needs a main queue");
    if (!dependencies.actorExecutor)
        throw std::invalid_argument("AppModel needs an actor executor");
    if (!dependencies.keyring)
        throw std::invalid_argument("AppModel needs a keyring");
    if (!dependencies.api)
        throw std::invalid_argument("AppModel needs the service client");
    if (!dependencies.cloud)
        throw std::invalid_argument("AppModel needs the cloud meeting model");
    if (!dependencies.openStore)
        throw std::invalid_argument("AppModel needs a store factory");
    dependencies.mainQueue->requireCurrent("AppModel::make");
    fillDefaults(dependencies);
    std::shared_ptr<AppModel> model(new AppModel(std::move(dependencies)));
    model->install();
    return model;
}

AppModel::AppModel(AppModelDependencies dependencies)
    : deps_(std::move(dependencies)), cloud_(std::move(deps_.cloud)), vault_(keychainService, deps_.keyring),
      api_(deps_.api), media_(deps_.media), network_(deps_.network) {}

void AppModel::install() {
    std::weak_ptr<AppModel> weak = weak_from_this();
    cloud_->setOnChange([weak] {
        auto self = weak.lock();
        if (self && self->onChange)
            self->onChange();
    });
    cloud_->setOnPlaybackTick([weak] {
        auto self = weak.lock();
        if (self && self->onTick)
            self->onTick();
    });
    if (network_) {
        MainQueue* main = deps_.mainQueue;
        network_->start([weak, main](bool satisfied) {
            main->post([weak, satisfied] {
                if (auto self = weak.lock())
                    self->pathUpdated(satisfied);
            });
        });
    }
}

AppModel::~AppModel() {
    // The reporters hold the main queue and a weak reference to the model: silence them first.
    if (network_)
        network_->stop();
    if (deps_.sleepNotices)
        deps_.sleepNotices->stop();
    if (deps_.deviceRemovals)
        deps_.deviceRemovals->stop();
    if (authSession_)
        queue().cancelTimer(*authSession_);
    if (timer_)
        queue().cancelTimer(*timer_);
    // Whoever waits for these must not wait for ever.
    if (auto completion = std::exchange(stopCompletion_, {}))
        completion();
    for (auto& ready : std::exchange(sleepReady_, {}))
        ready();
}

void AppModel::requireMain(const char* where) const {
    queue().requireCurrent(where);
}

void AppModel::notifyChange() {
    auto observer = onChange;
    if (observer)
        observer();
}

std::string AppModel::localized(std::string_view text) const {
    return deps_.localize ? deps_.localize(text) : std::string(text);
}

Date AppModel::now() const {
    return deps_.now ? deps_.now() : Date::now();
}

void AppModel::setUpdateInProgress(bool inProgress) {
    requireMain("AppModel::setUpdateInProgress");
    updateInProgress_ = inProgress;
}

// ---- Queries ----

const LocalRecording* AppModel::recordingMatching(const std::optional<Uuid>& id) const {
    if (!id)
        return nullptr;
    for (const auto& recording : recordings_)
        if (recording.id == *id)
            return &recording;
    return nullptr;
}

LocalRecording* AppModel::findRecording(const Uuid& id) {
    for (auto& recording : recordings_)
        if (recording.id == id)
            return &recording;
    return nullptr;
}

bool AppModel::isCapturing() const {
    const LocalRecording* active = activeRecording();
    return active && active->capture == CaptureState::recording;
}

bool AppModel::isPaused() const {
    const LocalRecording* active = activeRecording();
    return active && active->capture == CaptureState::paused;
}

std::string AppModel::workspaceTitle() const {
    if (bootstrap_ && bootstrap_->workspace.kind != "personal")
        return bootstrap_->workspace.name;
    return localized("Personal workspace");
}

bool AppModel::canSend(const LocalRecording& recording) const {
    if (recording.transfer != TransferState::needsReview)
        return true;
    // A recording that needs review goes again only when the service can recognise the earlier
    // attempt: by the meeting it already made, or by the client's own recording id.
    if (recording.remoteID)
        return bootstrap_ && bootstrap_->capabilities.uploadReconciliation;
    if (recording.creationRequest && recording.creationRequest->client_recording_id)
        return bootstrap_ && bootstrap_->capabilities.createIdempotency;
    return false;
}

// ---- Status line and selection ----

void AppModel::setMessage(std::string_view text) {
    requireMain("AppModel::setMessage");
    message_ = localized(text);
    notifyChange();
}

void AppModel::select(std::optional<Uuid> id) {
    requireMain("AppModel::select");
    if (id == selectedID_)
        return;
    selectedID_ = id;
    notifyChange();
}

// ---- Network path ----

void AppModel::pathUpdated(bool satisfied) {
    // Every report is handled, also one that repeats the last state.
    networkAvailable_ = satisfied;
    cloud_->setOnline(satisfied);
    scheduleQueueWakeup();
}

// ---- Sign-in and sign-out ----

void AppModel::signIn() {
    requireMain("AppModel::signIn");
    if (authSession_ || busy_ || isRecording() || uploading_)
        return;
    std::optional<PKCEAttempt> made;
    try {
        made = PKCEAttempt::make(deps_.randomFill);
    } catch (...) {
        setMessage(signInFailedText);
        return;
    }
    attempt_ = std::move(made); // replaces any earlier attempt
    bool opened = false;
    try {
        opened = deps_.browser && deps_.browser->open(attempt_->authorizationURL(deps_.webOrigin));
    } catch (...) {
        opened = false;
    }
    if (!opened) {
        attempt_.reset();
        setMessage(signInFailedText);
        return;
    }
    std::weak_ptr<AppModel> weak = weak_from_this();
    authSession_ = queue().startTimer(signInAttemptSeconds, [weak] {
        if (auto self = weak.lock())
            self->signInExpired();
    });
}

void AppModel::signInExpired() {
    // As a sign-in the user cancelled: the attempt is dropped, nothing is said.
    authSession_.reset();
    attempt_.reset();
}

void AppModel::signOut() {
    requireMain("AppModel::signOut");
    if (!session_ || isRecording() || uploading_ || busy_)
        return;
    stopPlayback();
    queueWakeup_.cancel();
    queueWakeup_ = {};
    busy_ = true;
    notifyChange();
    spawn(queue(), finishSignOut(shared_from_this(), *session_));
}

// ---- Capture ----

void AppModel::stopRecording(std::function<void()> completion) {
    requireMain("AppModel::stopRecording");
    if (!activeID_) {
        if (completion)
            completion();
        return;
    }
    if (!captureTransition_ && !busy_) {
        busy_ = true;
        captureTransition_ = true;
        if (timer_)
            queue().cancelTimer(*timer_);
        timer_.reset();
        std::unique_ptr<CaptureSource> source = std::move(recorder_);
        spawn(queue(), finishRecording(shared_from_this(), std::move(completion), std::move(source)));
        return;
    }
    // Held until the running work ends. Every completion is kept: the caller of each waits on it.
    stopRequested_ = true;
    if (completion) {
        if (stopCompletion_)
            stopCompletion_ = [earlier = std::move(stopCompletion_), later = std::move(completion)] {
                earlier();
                later();
            };
        else
            stopCompletion_ = std::move(completion);
    }
}

void AppModel::togglePause() {
    requireMain("AppModel::togglePause");
    if (!activeID_ || captureTransition_ || busy_)
        return;
    captureTransition_ = true;
    spawn(queue(), setPaused(shared_from_this()));
}

void AppModel::addBookmark() {
    requireMain("AppModel::addBookmark");
    if (!activeID_)
        return;
    LocalRecording* active = findRecording(*activeID_);
    if (!active)
        return;
    LocalRecording copy = *active;
    copy.bookmarks.push_back(Bookmark::make(Bookmark::wholeMilliseconds(elapsed_), "", now()));
    *active = copy;
    startAnnotationTask(copy);
    notifyChange();
}

// ---- Playback and the local copy ----

Task<void> AppModel::removeWorkingFile(Executor* executor, std::shared_ptr<WorkspaceStore> store,
                                       std::filesystem::path file) {
    try {
        auto job = [store, file] { store->removeWorkingFiles(file); };
        co_await runOn(*executor, job);
    } catch (...) {
        // A working file left behind is removed with its recording's folder.
    }
}

void AppModel::stopPlayback() {
    requireMain("AppModel::stopPlayback");
    if (player_)
        player_->stop();
    player_.reset();
    playbackID_.reset();
    if (playbackURL_ && store_)
        spawn(queue(), removeWorkingFile(deps_.actorExecutor, store_, *playbackURL_));
    playbackURL_.reset();
}

void AppModel::togglePlayback(std::optional<double> at) {
    requireMain("AppModel::togglePlayback");
    const LocalRecording* recording = selectedRecording();
    if (!recording || !store_ || busy_ || isRecording())
        return;
    if (playbackID_ == recording->id && player_) {
        if (!at) {
            if (player_->isPlaying())
                player_->pause();
            else
                player_->play();
        } else {
            player_->setCurrentTime(*at);
            player_->play();
        }
        notifyChange();
        return;
    }
    LocalRecording copy = *recording;
    stopPlayback();
    busy_ = true;
    notifyChange();
    spawn(queue(), startPlayback(shared_from_this(), store_, std::move(copy), at));
}

void AppModel::discardRecording() {
    requireMain("AppModel::discardRecording");
    const LocalRecording* recording = selectedRecording();
    if (!recording || !store_ || !session_ || busy_ || isRecording() || uploading_)
        return;
    LocalRecording copy = *recording;
    stopPlayback();
    busy_ = true;
    notifyChange();
    spawn(queue(), removeLocalCopy(shared_from_this(), store_, *session_, std::move(copy)));
}

// ---- Annotations ----

void AppModel::setScratchpad(std::string text, const Uuid& id) {
    requireMain("AppModel::setScratchpad");
    LocalRecording* recording = findRecording(id);
    if (!recording)
        return;
    recording->scratchpad = std::move(text);
    startAnnotationTask(*recording);
}

void AppModel::setNotepad(std::string_view text, const Uuid& id) {
    requireMain("AppModel::setNotepad");
    LocalRecording* recording = findRecording(id);
    if (!recording)
        return;
    std::optional<std::int64_t> stamp;
    if (activeID_ == id)
        stamp = Bookmark::wholeMilliseconds(elapsed_);
    const std::vector<NotepadLine> current = recording->notepad.value_or(std::vector<NotepadLine>{});
    std::vector<NotepadLine> lines = Notepad::lines(text, current, stamp, Notepad::makeLineID);
    if (sameLines(recording->notepad, lines))
        return;
    recording->notepad = std::move(lines);
    startAnnotationTask(*recording);
    if (recording->transfer == TransferState::accepted) {
        auto pending = notepadDebounce_.find(id);
        if (pending != notepadDebounce_.end())
            pending->second.cancel();
        notepadDebounce_[id] = spawn(queue(), debounceNotepad(weak_from_this(), id));
    }
}

// ---- Import, export, workspaces ----

void AppModel::importAudio(std::filesystem::path file, bool aiNotes) {
    requireMain("AppModel::importAudio");
    if (!session_ || !store_ || busy_ || isRecording())
        return;
    busy_ = true;
    notifyChange();
    spawn(queue(), importFile(shared_from_this(), std::move(file), *session_, aiNotes, store_));
}

void AppModel::exportAudio(std::filesystem::path destination) {
    requireMain("AppModel::exportAudio");
    const LocalRecording* recording = selectedRecording();
    if (!recording || !store_ || busy_ || isRecording())
        return;
    LocalRecording copy = *recording;
    busy_ = true;
    notifyChange();
    spawn(queue(), exportFile(shared_from_this(), store_, std::move(copy), std::move(destination)));
}

void AppModel::selectWorkspace(std::string workspaceID) {
    requireMain("AppModel::selectWorkspace");
    if (!session_ || isRecording() || busy_ || uploading_)
        return;
    stopPlayback();
    busy_ = true;
    notifyChange();
    spawn(queue(), switchWorkspace(shared_from_this(), *session_, std::move(workspaceID)));
}

} // namespace nuvel
