#include "Nuvel/ui/ApplicationServices.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/platform/CapturePlatform.hpp"
#include "Nuvel/platform/HostIdentity.hpp"
#include "Nuvel/platform/LibsecretBackend.hpp"
#include "Nuvel/platform/MicrophoneDevices.hpp"
#include "Nuvel/platform/MicrophoneSourceCheck.hpp"
#include "Nuvel/platform/PulseAudioPlayer.hpp"
#include "Nuvel/platform/PulseCaptureFactory.hpp"
#include "Nuvel/platform/PulseDeviceRemovals.hpp"
#include "Nuvel/platform/QtBrowser.hpp"
#include "Nuvel/platform/QtLogind.hpp"
#include "Nuvel/platform/QtNetworkMonitor.hpp"
#include "Nuvel/ui/Localization.hpp"
#include "Nuvel/ui/MinimalLibraryWindow.hpp"
#include "Nuvel/ui/PreferredLanguages.hpp"
#include "Nuvel/ui/ShellStandIns.hpp"
#include "Nuvel/ui/TrayStatusItem.hpp"
#include "NuvelKit/service/CurlTransport.hpp"

#include <QCoreApplication>
#include <QStandardPaths>

#include <vector>

namespace nuvel {

std::shared_ptr<PulseConnection> SoundServer::connection() {
    std::lock_guard guard(lock_);
    if (!connection_ || !connection_->isConnected())
        connection_ = PulseConnection::connect();
    return connection_;
}

std::shared_ptr<PulseConnection> SoundServer::tryConnection() {
    try {
        return connection();
    } catch (const PulseError&) {
        return nullptr;
    }
}

namespace {

// Captures on the sound server, connecting (again) when a recording starts and the server
// is not reached yet or went away. The platforms of earlier connections stay, for the captures
// made on them.
class SoundServerCaptureFactory final : public CaptureFactory {
public:
    SoundServerCaptureFactory(SoundServer& server, MainQueue& queue, Executor& executor)
        : server_(server), queue_(queue), executor_(executor) {}

    Task<std::unique_ptr<CaptureSource>> start(CaptureRequest request) override {
        SoundServerCaptureFactory* self = this;
        auto job = [self] { return self->platform(); };
        CapturePlatform* platform = co_await runOn(executor_, job);
        PulseCaptureFactory factory(*platform);
        co_return co_await factory.start(std::move(request));
    }

private:
    CapturePlatform* platform() {
        std::lock_guard guard(lock_);
        std::shared_ptr<PulseConnection> connection = server_.connection();
        if (platforms_.empty() || connection != connection_) {
            platforms_.push_back(std::make_unique<PulseCapturePlatform>(connection, queue_, executor_));
            connection_ = connection;
        }
        return platforms_.back().get();
    }

    SoundServer& server_;
    MainQueue& queue_;
    Executor& executor_;
    std::mutex lock_;
    std::shared_ptr<PulseConnection> connection_;
    std::vector<std::unique_ptr<PulseCapturePlatform>> platforms_;
};

// Device removals on the sound server, watched from a connection made on the executor: the
// window thread never waits for the server. A stop before the connection is made wins.
class SoundServerDeviceRemovals final : public DeviceRemovalNotices,
                                        public std::enable_shared_from_this<SoundServerDeviceRemovals> {
public:
    SoundServerDeviceRemovals(SoundServer& server, Executor& executor) : server_(server), executor_(executor) {}
    ~SoundServerDeviceRemovals() override { stop(); }

    void start(std::function<void()> removed) override {
        std::uint64_t generation = 0;
        {
            std::lock_guard guard(lock_);
            generation = ++generation_;
            watcher_.reset();
        }
        executor_.execute([weak = weak_from_this(), generation, removed = std::move(removed)]() mutable {
            auto self = weak.lock();
            if (!self)
                return;
            auto connection = self->server_.tryConnection();
            if (!connection)
                return;
            auto watcher = std::make_unique<PulseDeviceRemovals>(std::move(connection));
            std::lock_guard guard(self->lock_);
            if (generation != self->generation_)
                return;
            watcher->start(std::move(removed));
            self->watcher_ = std::move(watcher);
        });
    }

    void stop() override {
        std::lock_guard guard(lock_);
        ++generation_;
        watcher_.reset();
    }

private:
    SoundServer& server_;
    Executor& executor_;
    std::mutex lock_;
    std::uint64_t generation_ = 0;
    std::unique_ptr<PulseDeviceRemovals> watcher_;
};

} // namespace

ApplicationServices::ApplicationServices(const InfoProperties& info)
    : defaults_(std::make_unique<FileDefaultsStore>(FileDefaultsStore::standardLocation())) {
    AppModelDependencies d;
    d.mainQueue = &queue_;
    d.actorExecutor = &executor_;
    d.keyring = makeSystemSecretBackend();
    d.api = std::make_shared<NuvelAPI>(info.serviceOrigin(), std::make_shared<CurlTransport>());
    CloudLibraryDependencies cloud;
    cloud.mainQueue = &queue_;
    cloud.actorExecutor = &executor_;
    cloud.client = std::make_shared<NativeMeetingClient>(info.serviceOrigin(), std::make_shared<CurlTransport>());
    cloud.localize = [](std::string_view text) { return localize(text); };
    SoundServer* server = &soundServer_;
    // The cloud library makes and drives its player on the executor only.
    cloud.makePlayer = [server](const std::filesystem::path& file) -> std::unique_ptr<AudioPlayer> {
        return std::make_unique<PulseAudioPlayer>(server->connection(), file);
    };
    d.cloud = makeCloudMeetingModel(std::move(cloud));
    d.openStore = &RecordingWorkspaceStore::open;
    d.capture = std::make_shared<SoundServerCaptureFactory>(soundServer_, queue_, executor_);
    d.media = std::make_shared<RecordingMediaAssembler>();
    d.makePlayer = [server](const std::filesystem::path& file) -> std::unique_ptr<AudioPlayer> {
        return std::make_unique<PulseAudioPlayer>(server->connection(), file);
    };
    d.network = std::make_shared<QtNetworkMonitor>();
    d.sleepNotices = std::make_shared<QtLogindSleepNotices>();
    d.keepAwake = std::make_shared<QtLogindKeepAwake>();
    d.deviceRemovals = std::make_shared<SoundServerDeviceRemovals>(soundServer_, executor_);
    d.browser = std::make_shared<QtBrowser>();
    d.webOrigin = info.webOrigin();
    d.preferredLanguage = []() -> std::optional<std::string> {
        const QStringList languages = preferredLanguages();
        if (languages.isEmpty())
            return std::nullopt;
        return languages.first().toStdString();
    };
    d.deviceName = [] { return HostIdentity::deviceName(); };
    d.localize = [](std::string_view text) { return localize(text); };
    d.dataRoot = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString();
    model_ = AppModel::make(std::move(d));
}

ApplicationServices::~ApplicationServices() {
    model_.reset();
}

ShellFactories ApplicationServices::factories() {
    ShellFactories f;
    f.makeUpdates = [](std::function<bool()>, std::function<void()> onChange) -> std::unique_ptr<ShellUpdates> {
        return std::make_unique<UnconfiguredUpdates>(std::move(onChange));
    };
    MainQueue* queue = &queue_;
    Executor* executor = &executor_;
    Dialogs* dialogs = &dialogs_;
    DefaultsStore* defaults = defaults_.get();
    f.makeLibrary = [queue, executor, dialogs, defaults](AppModel& model) -> std::unique_ptr<ShellLibrary> {
        SourceChecks checks;
        checks.microphone = [executor](std::optional<std::uint32_t> deviceID,
                                       std::weak_ptr<SourceCheckMeters> meters) {
            return microphoneSourceCheck(executor, {}, deviceID, std::move(meters));
        };
        return std::make_unique<MinimalLibraryWindow>(model, *queue, std::move(checks), *dialogs, *defaults);
    };
    f.makeCalendar = [] { return std::make_unique<CalendarOff>(); };
    f.makeMonitor = [] { return std::make_unique<NoMeetingMonitor>(); };
    f.makePrompts = [] { return std::make_unique<NoMeetingPrompts>(); };
    return f;
}

AppDelegate::Environment ApplicationServices::environment() {
    AppDelegate::Environment e;
    e.queue = &queue_;
    e.executor = &executor_;
    e.dialogs = &dialogs_;
    e.defaults = defaults_.get();
    e.makeStatusItem = [](QMenu* menu) -> std::unique_ptr<StatusItemView> {
        if (!TrayStatusItem::isAvailable())
            return nullptr;
        return std::make_unique<TrayStatusItem>(menu);
    };
    SoundServer* server = &soundServer_;
    e.microphoneName = [server](const std::string& uid) -> std::optional<std::string> {
        auto device = MicrophoneDevices::device(*server->connection(), uid);
        if (!device)
            return std::nullopt;
        return device->name;
    };
    e.terminate = [] { QCoreApplication::exit(0); };
    return e;
}

} // namespace nuvel
