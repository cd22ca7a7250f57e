#pragma once

#include "Nuvel/model/MeetingSignalSource.hpp"
#include "Nuvel/platform/PulseInputActivity.hpp"
#include "Nuvel/platform/RunningApplications.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace nuvel {

// The meeting signals of this computer: which processes record from an input device and
// whether the default one runs (from the sound server, kept current in the background), and
// the running applications (from /proc). A poll never waits for the sound server. While the
// microphone is idle it reads memory alone and gives no running applications (nothing could
// be inferred from them); while it is in use it scans /proc, unless the recording processes
// are known and none is a meeting application. Wayland names no frontmost application, so
// none is given.
//
// Called from one thread (the main queue): the process scan remembers what it has read.
class SystemMeetingSignals final : public MeetingSignalSource {
public:
    struct Options {
        PulseInputActivity::Options sound;
        std::filesystem::path procRoot = "/proc";
        // This process: its own recording is never another application's.
        std::int32_t ownProcessID = static_cast<std::int32_t>(::getpid());
        // Whose processes are the running applications.
        uid_t user = ::getuid();
    };

    SystemMeetingSignals();
    explicit SystemMeetingSignals(Options options);

    MeetingSignals currentSignals() override;

    // The default input device is running for some process.
    bool microphoneInUse() const;
    // The bundle identifiers of the processes recording from input devices; absent when the
    // server attributes the recording to no process that names an application, nor to this one.
    std::optional<std::vector<std::string>> inputBundleIDs() const;
    // The user's running applications, for naming one in a prompt.
    std::vector<RunningApplication> runningApplications();

    // How the recording clients map to bundle identifiers: by the process's own identity when
    // its id is one of ours running the declared executable, otherwise by the declared
    // executable; this process counts as seen and adds nothing. Absent when the list is empty
    // and this process was not seen.
    static std::optional<std::vector<std::string>>
    inputBundleIDs(const InputActivity& activity, const ProcessScanner& processes, std::int32_t ownProcessID);

private:
    Options options_;
    ProcessScanner processes_;
    std::unique_ptr<PulseInputActivity> sound_;
};

} // namespace nuvel
