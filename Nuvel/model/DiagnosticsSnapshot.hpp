#pragma once

#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Bytes.hpp"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace nuvel {

// The support file "Nuvel-diagnostics.json": counters about the local recordings and the
// model's activity at one moment. Never names, titles, identifiers, tokens, audio or text.
struct DiagnosticsSnapshot {
    static constexpr const char* fileName = "Nuvel-diagnostics.json";

    std::int64_t schemaVersion = 1;
    std::int64_t totalRecordings = 0;
    std::int64_t pendingRecordings = 0; // transfer anything but accepted
    std::int64_t acceptedRecordings = 0;
    std::int64_t interruptedRecordings = 0; // also counted in one of the two above
    std::int64_t acknowledgedParts = 0;     // summed over the recordings
    bool captureActive = false;
    bool uploadActive = false;

    DiagnosticsSnapshot() = default;
    DiagnosticsSnapshot(const std::vector<LocalRecording>& recordings, bool captureActive, bool uploadActive);

    // The file's bytes: one pretty-printed object with the keys in byte order, two-space
    // indentation, `"key" : value`, and no final newline.
    Bytes encoded() const;

    bool operator==(const DiagnosticsSnapshot&) const = default;
};

} // namespace nuvel
