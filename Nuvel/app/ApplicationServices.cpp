#include "Nuvel/app/ApplicationServices.hpp"

#include "Nuvel/app/CaptureLossLog.hpp"
#include "Nuvel/app/SettingsAndUpdates.hpp"
#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/CalendarService.hpp"
#include "Nuvel/model/MeetingMonitor.hpp"
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/model/shell/ShellServices.hpp"
#include "Nuvel/platform/CalendarModule.hpp"
#include "Nuvel/platform/CaptureApplications.hpp"
#include "Nuvel/platform/CapturePlatform.hpp"
#include "Nuvel/platform/HostIdentity.hpp"
#include "Nuvel/platform/KeyringModule.hpp"
#include "Nuvel/platform/MicrophoneDevices.hpp"
#include "Nuvel/platform/MicrophoneSourceCheck.hpp"
#include "Nuvel/platform/PulseAudioPlayer.hpp"
#include "Nuvel/platform/PulseCaptureFactory.hpp"
#include "Nuvel/platform/PulseDeviceRemovals.hpp"
#include "Nuvel/platform/QtBrowser.hpp"
#include "Nuvel/platform/QtLogind.hpp"
#include "Nuvel/platform/QtNetworkMonitor.hpp"
#include "Nuvel/platform/RunningApplications.hpp"
#include "Nuvel/platform/SystemAudioCapture.hpp"
#include "Nuvel/platform/SystemMeetingSignals.hpp"
#include "Nuvel/platform/TransportModule.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/library/CloudLibraryDialogs.hpp"
#include "Nuvel/ui/library/LibraryController.hpp"
#include "Nuvel/ui/prompts/DesktopApplications.hpp"
#include "Nuvel/ui/prompts/MeetingPrompts.hpp"
#include "Nuvel/ui/sheets/RecordingSources.hpp"
#include "Nuvel/ui/shell/TrayStatusItem.hpp"

#include <QCoreApplication>
#include <QProcess>
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
        CapturePlatform* platform = co_await currentPlatform();
        PulseCaptureFactory factory(*platform);
        co_return withCaptureLossLog(co_await factory.start(std::move(request)));
    }

    // The platform over the current connection, connecting off the main thread when needed.
    Task<CapturePlatform*> currentPlatform() {
        SoundServerCaptureFactory* self = this;
        auto job = [self] { return self->platform(); };
        co_return co_await runOn(executor_, job);
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
    SoundServerDeviceRemovals(SoundServer& server, Executor& executor)
        : server_(server), executor_(executor) {}
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

// The microphones, the capturable applications and the source checks over the sound server.
// A capturable application is known by the identifier detection gives its process, so that
// the application a prompt names can be chosen first.
class SoundServerRecordingSources final : public RecordingSources {
public:
    SoundServerRecordingSources(SoundServer& server, std::shared_ptr<SoundServerCaptureFactory> capture,
                                Executor& executor)
        : server_(server), capture_(std::move(capture)), executor_(executor) {}

    std::vector<MicrophoneChoice> inputDevices() override {
        std::vector<MicrophoneDevices::Device> devices =
            MicrophoneDevices::inputDevices(*server_.connection());
        std::vector<MicrophoneChoice> choices;
        choices.reserve(devices.size());
        for (MicrophoneDevices::Device& device : devices)
            choices.push_back({device.id, std::move(device.name), std::move(device.uid)});
        return choices;
    }

    Task<std::vector<ApplicationChoice>> availableApplications() override {
        return listApplications(capture_);
    }

    SourceChecks checks() override {
        SourceChecks checks;
        Executor* executor = &executor_;
        checks.microphone = [executor](std::optional<std::uint32_t> deviceID,
                                       std::weak_ptr<SourceCheckMeters> meters) {
            return microphoneSourceCheck(executor, {}, deviceID, std::move(meters));
        };
        std::shared_ptr<SoundServerCaptureFactory> capture = capture_;
        checks.system = [capture](SystemAudioSelection selection, bool includesMicrophone,
                                  std::optional<std::uint32_t> deviceID,
                                  std::weak_ptr<SourceCheckMeters> meters) {
            return systemCheck(capture, selection, includesMicrophone, deviceID, std::move(meters));
        };
        return checks;
    }

private:
    static Task<std::vector<ApplicationChoice>>
    listApplications(std::shared_ptr<SoundServerCaptureFactory> capture) {
        CapturePlatform* platform = co_await capture->currentPlatform();
        std::vector<SystemAudioCapture::Application> applications =
            co_await SystemAudioCapture::availableApplications(*platform);
        useDetectionIdentifiers(applications, ProcessScanner());
        std::vector<ApplicationChoice> choices;
        choices.reserve(applications.size());
        for (SystemAudioCapture::Application& application : applications)
            choices.push_back(
                {application.id, std::move(application.name), std::move(application.bundleIdentifier)});
        co_return choices;
    }

    static Task<void> systemCheck(std::shared_ptr<SoundServerCaptureFactory> capture,
                                  SystemAudioSelection selection, bool includesMicrophone,
                                  std::optional<std::uint32_t> deviceID,
                                  std::weak_ptr<SourceCheckMeters> meters) {
        CapturePlatform* platform = co_await capture->currentPlatform();
        co_await SystemAudioCapture::sourceCheck(selection, includesMicrophone, deviceID, std::move(meters),
                                                 *platform);
    }

    SoundServer& server_;
    std::shared_ptr<SoundServerCaptureFactory> capture_;
    Executor& executor_;
};

} // namespace

ApplicationServices::ApplicationServices(const InfoProperties& info)
    : info_(info),
      storedDefaults_(std::make_unique<FileDefaultsStore>(FileDefaultsStore::standardLocation())),
      defaults_(std::make_unique<NonThrowingDefaultsStore>(*storedDefaults_)),
      meetingPreferences_(std::make_shared<MeetingPreferences>(
          std::shared_ptr<DefaultsStore>(std::shared_ptr<void>(), defaults_.get()))) {
    AppModelDependencies d;
    d.mainQueue = &queue_;
    d.actorExecutor = &executor_;
    d.keyring = makeProgramSecretBackend();
    d.api = std::make_shared<NuvelAPI>(info.serviceOrigin(), makeProgramHttpTransport());
    CloudLibraryDependencies cloud;
    cloud.mainQueue = &queue_;
    cloud.actorExecutor = &executor_;
    cloud.client = std::make_shared<NativeMeetingClient>(info.serviceOrigin(), makeProgramHttpTransport());
    cloud.localize = [](std::string_view text) { return localize(text); };
    cloud.webHost = webHostOf(info.webOrigin());
    QtDialogs* dialogs = &dialogs_;
    cloud.chooseExportFile = [dialogs](std::string proposedName) {
        return chooseExportFile(dialogs, std::move(proposedName));
    };
    cloud.confirmDelete = [dialogs] { return confirmMeetingDelete(dialogs); };
    SoundServer* server = &soundServer_;
    // The cloud library makes and drives its player on the executor only.
    cloud.makePlayer = [server](const std::filesystem::path& file) -> std::unique_ptr<AudioPlayer> {
        return std::make_unique<PulseAudioPlayer>(server->connection(), file);
    };
    d.cloud = makeCloudMeetingModel(std::move(cloud));
    d.openStore = &RecordingWorkspaceStore::open;
    auto capture = std::make_shared<SoundServerCaptureFactory>(soundServer_, queue_, executor_);
    recordingSources_ = std::make_unique<SoundServerRecordingSources>(soundServer_, capture, executor_);
    d.capture = capture;
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
    MainQueue* queue = &queue_;
    Executor* executor = &executor_;
    Dialogs* dialogs = &dialogs_;
    DefaultsStore* defaults = defaults_.get();
    const InfoProperties* info = &info_;
    f.makeUpdates = [info, queue, executor, dialogs](std::function<bool()> isBusy,
                                                     std::function<void()> onChange,
                                                     std::function<void()> quit) {
        return makeApplicationUpdates(*info, *queue, *executor, *dialogs, std::move(isBusy),
                                      std::move(onChange), std::move(quit));
    };
    f.makeSettings = [info, dialogs, defaults](SettingsActions actions) {
        // The defaults live as long as these services; the window only borrows them.
        return makeApplicationSettings(std::move(actions),
                                       std::shared_ptr<DefaultsStore>(std::shared_ptr<void>(), defaults),
                                       *dialogs, *info);
    };
    LibraryController::Dependencies library;
    library.webHost = webHostOf(info_.webOrigin());
    library.openCalendarSettings = [] {
        // The desktop's calendars come from its online accounts.
        QProcess::startDetached(QStringLiteral("gnome-control-center"), {QStringLiteral("online-accounts")});
    };
    library.queue = queue;
    library.executor = executor;
    library.dialogs = dialogs;
    library.defaults = defaults;
    library.sources = recordingSources_.get();
    library.permission = &capturePermission_;
    f.makeLibrary = [library](AppModel& model) -> std::unique_ptr<ShellLibrary> {
        return std::make_unique<LibraryController>(model, library);
    };
    std::shared_ptr<MeetingPreferences> preferences = meetingPreferences_;
    f.makeCalendar = [queue, executor, preferences]() -> std::unique_ptr<ShellCalendar> {
        CalendarService::Dependencies d;
        d.mainQueue = queue;
        d.storeExecutor = executor;
        d.makeStore = [] { return makeProgramCalendarStore(); };
        d.defaults = std::shared_ptr<DefaultsStore>(std::shared_ptr<void>(), &preferences->defaults());
        d.remindersEnabled = [preferences] { return preferences->remindersEnabled(); };
        return std::make_unique<ServiceCalendar>(CalendarService::make(std::move(d)));
    };
    f.makeMonitor = [queue, preferences]() -> std::unique_ptr<ShellMeetingMonitor> {
        return std::make_unique<DetectionMonitor>(
            std::make_unique<MeetingMonitor>(*queue, preferences, std::make_shared<SystemMeetingSignals>()));
    };
    std::shared_ptr<AppModel> model = model_;
    f.makePrompts = [model, queue, executor, preferences]() -> std::unique_ptr<ShellPrompts> {
        return std::make_unique<MeetingPrompts>(*model, *queue, preferences, desktopApplications(), executor);
    };
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
