#pragma once

#include "Nuvel/model/MeetingPreferences.hpp"
#include "Nuvel/model/NonThrowingDefaultsStore.hpp"
#include "Nuvel/model/shell/ShellParts.hpp"
#include "Nuvel/platform/CapturePermission.hpp"
#include "Nuvel/platform/InfoProperties.hpp"
#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/QtMainQueue.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/shell/AppDelegate.hpp"
#include "NuvelKit/support/Defaults.hpp"
#include "NuvelKit/support/Executor.hpp"

#include <memory>
#include <mutex>

namespace nuvel {

class AppModel;
class RecordingSources;

// The sound server as the application reaches it: one connection, made again when the server
// went away. Thread-safe.
class SoundServer {
public:
    // The connection; throws PulseError when no server answers.
    std::shared_ptr<PulseConnection> connection();
    // The same, or null when no server answers.
    std::shared_ptr<PulseConnection> tryConnection();

private:
    std::mutex lock_;
    std::shared_ptr<PulseConnection> connection_;
};

// Everything the running application is made of below its windows: the main queue, the
// actor executor, the sound server, the defaults, the dialogs, and the application model
// over the platform layers. Made on the GUI thread of a running QApplication.
class ApplicationServices {
public:
    explicit ApplicationServices(const InfoProperties& info);
    ~ApplicationServices();
    ApplicationServices(const ApplicationServices&) = delete;
    ApplicationServices& operator=(const ApplicationServices&) = delete;

    std::shared_ptr<AppModel> model() const { return model_; }
    // The pieces of the shell.
    ShellFactories factories();
    AppDelegate::Environment environment();

private:
    InfoProperties info_;
    QtMainQueue queue_;
    ThreadPoolExecutor executor_{4};
    SoundServer soundServer_;
    std::unique_ptr<FileDefaultsStore> storedDefaults_;
    // What everything else reads and writes: a refused write never throws into a window's handler.
    std::unique_ptr<NonThrowingDefaultsStore> defaults_;
    std::shared_ptr<MeetingPreferences> meetingPreferences_;
    QtDialogs dialogs_;
    CapturePermission capturePermission_;
    std::unique_ptr<RecordingSources> recordingSources_;
    std::shared_ptr<AppModel> model_;
};

} // namespace nuvel
