#pragma once

#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace nuvel {

// One stored piece of a recording's audio. The store keeps its audio as the asset `id`.
struct RecordingSegment {
    Uuid id;
    double duration = 0; // seconds; finite and above zero in every valid manifest
    Date startedAt;
    std::optional<std::string> fileExtension;       // "m4a" or "caf"
    std::optional<std::int64_t> capturedFrameStart; // first frame in the recording's captured-frame count
    std::optional<std::string> captureFileKind;     // "live" for segments of the live writer

    // The validating initialiser (used for imported audio). The extension is checked before the
    // duration: RecordingError::unsafePath for an extension other than exactly "m4a" or "caf",
    // RecordingError::invalidDuration for a duration that is not finite or not above zero.
    static RecordingSegment make(Uuid id, Date startedAt, std::string fileExtension,
                                 std::optional<std::int64_t> capturedFrameStart,
                                 std::optional<std::string> captureFileKind, double duration);

    // Name of the segment's working file in the recording's folder, which the recovery scan looks
    // for: "live-<frame start, 20 digits>-<UUID>.caf" for a live segment, "stage-<UUID>.<ext>" without
    // a frame start, otherwise "checkpoint-<UUID>.<ext>" (ext "m4a" when absent).
    std::string fileName() const;

    json::Ordered toJson() const;
    static RecordingSegment fromJson(const json::Reader& reader);

    bool operator==(const RecordingSegment&) const = default;
};

} // namespace nuvel
