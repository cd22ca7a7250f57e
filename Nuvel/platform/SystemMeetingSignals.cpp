#include "Nuvel/platform/SystemMeetingSignals.hpp"

namespace nuvel {

SystemMeetingSignals::SystemMeetingSignals() : SystemMeetingSignals(Options{}) {}

SystemMeetingSignals::SystemMeetingSignals(Options options)
    : options_(std::move(options)), processes_(options_.procRoot),
      sound_(std::make_unique<PulseInputActivity>(options_.sound)) {}

MeetingSignals SystemMeetingSignals::currentSignals() {
    MeetingSignals signals;
    InputActivity activity = sound_->snapshot();
    signals.microphoneActive = activity.defaultSourceRunning;
    // With the microphone idle no call can be inferred and no prompt named, whatever runs: the
    // processes are looked at only while it is in use, so an idle poll reads memory alone.
    if (!signals.microphoneActive)
        return signals;
    signals.inputBundleIDs = inputBundleIDs(activity, processes_, options_.ownProcessID);
    // What runs counts only where the input names no process, or to name the application of a
    // call the input shows: while no meeting application records (this program's own recording
    // above all) a poll reads the recording processes alone, not all of /proc.
    if (signals.inputBundleIDs && !signals.meetingApp())
        return signals;
    for (auto& application : runningApplications())
        signals.runningBundleIDs.push_back(std::move(application.bundleID));
    return signals;
}

bool SystemMeetingSignals::microphoneInUse() const {
    return sound_->snapshot().defaultSourceRunning;
}

std::optional<std::vector<std::string>> SystemMeetingSignals::inputBundleIDs() const {
    return inputBundleIDs(sound_->snapshot(), processes_, options_.ownProcessID);
}

std::vector<RunningApplication> SystemMeetingSignals::runningApplications() {
    return processes_.runningApplications(options_.user);
}

std::optional<std::vector<std::string>> SystemMeetingSignals::inputBundleIDs(const InputActivity& activity,
                                                                             const ProcessScanner& processes,
                                                                             std::int32_t ownProcessID) {
    std::vector<std::string> ids;
    bool sawSelf = false;
    for (const auto& client : activity.clients) {
        if (client.processID == ownProcessID) {
            sawSelf = true;
            continue;
        }
        // A declared id may come from another process namespace (a sandbox, another host):
        // the process behind it must run the executable the client declared.
        std::optional<ApplicationIdentity> identity;
        if (client.processID) {
            identity = processes.identity(*client.processID);
            if (identity && !client.processBinary.empty() && identity->executable != client.processBinary)
                identity.reset();
        }
        if (!identity)
            identity = ApplicationIdentity{std::nullopt, std::nullopt, client.processBinary};
        if (auto id = bundleIDFor(*identity))
            ids.push_back(std::move(*id));
    }
    if (ids.empty() && !sawSelf)
        return std::nullopt;
    return ids;
}

} // namespace nuvel
