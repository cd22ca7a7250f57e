#pragma once

#include "NuvelKit/capture/AudioComposition.hpp"

#include <filesystem>

namespace nuvel {

// The AAC stream an export writes.
struct M4aOutputFormat {
    int sampleRate = 0;
    int channels = 0;
};

// The highest rate among the items, raised to the next rate AAC has and capped at 48000 Hz;
// stereo when any item has two or more channels, else mono.
M4aOutputFormat m4aOutputFormatFor(const AudioComposition& composition);

struct M4aExportOptions {
    // Replace a file already at the destination (atomically: the new file is written beside it
    // and renamed over it when complete). Otherwise an existing destination fails with EEXIST
    // before anything is encoded.
    bool replaceExisting = false;
};

// Encodes `composition` as AAC-LC at 128 kbit/s into an M4A file (FFmpeg's native "aac" encoder
// and "ipod" muxer, with the encoder delay hidden so the file lasts what the composition lasts).
// The file is created with mode 0600, written through our own descriptor, and synced before
// the call returns. On failure nothing is left at the destination (a replaced file stays as it
// was). Throws MediaError::invalidArgument for an empty composition, MediaError for decoding and
// encoding failures, and std::filesystem::filesystem_error for the file system's (EEXIST,
// ENOSPC, a missing source).
void exportM4a(const AudioComposition& composition, const std::filesystem::path& destination,
               const M4aExportOptions& options = {});

} // namespace nuvel
