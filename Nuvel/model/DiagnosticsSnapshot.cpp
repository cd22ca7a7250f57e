#include "Nuvel/model/DiagnosticsSnapshot.hpp"

#include <algorithm>
#include <string>
#include <utility>

namespace nuvel {

DiagnosticsSnapshot::DiagnosticsSnapshot(const std::vector<LocalRecording>& recordings, bool capture,
                                         bool upload)
    : totalRecordings(static_cast<std::int64_t>(recordings.size())), captureActive(capture),
      uploadActive(upload) {
    const auto accepted = [](const LocalRecording& r) { return r.transfer == TransferState::accepted; };
    pendingRecordings =
        std::count_if(recordings.begin(), recordings.end(), [&](const auto& r) { return !accepted(r); });
    acceptedRecordings = std::count_if(recordings.begin(), recordings.end(), accepted);
    interruptedRecordings = std::count_if(recordings.begin(), recordings.end(), [](const auto& r) {
        return r.capture == CaptureState::interrupted;
    });
    for (const LocalRecording& r : recordings)
        acknowledgedParts += static_cast<std::int64_t>(r.acknowledgedParts.size());
}

Bytes DiagnosticsSnapshot::encoded() const {
    const auto flag = [](bool value) { return std::string(value ? "true" : "false"); };
    // Already in byte order of the keys.
    const std::pair<const char*, std::string> members[] = {
        {"acceptedRecordings", std::to_string(acceptedRecordings)},
        {"acknowledgedParts", std::to_string(acknowledgedParts)},
        {"captureActive", flag(captureActive)},
        {"interruptedRecordings", std::to_string(interruptedRecordings)},
        {"pendingRecordings", std::to_string(pendingRecordings)},
        {"schemaVersion", std::to_string(schemaVersion)},
        {"totalRecordings", std::to_string(totalRecordings)},
        {"uploadActive", flag(uploadActive)},
    };
    std::string text = "{\n";
    for (std::size_t i = 0; i < std::size(members); ++i) {
        text += "  \"";
        text += members[i].first;
        text += "\" : ";
        text += members[i].second;
        text += i + 1 < std::size(members) ? ",\n" : "\n";
    }
    text += "}";
    return bytesOf(text);
}

} // namespace nuvel
