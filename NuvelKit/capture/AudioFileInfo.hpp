#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

struct AudioTrackInfo {
    int streamIndex = -1; // the track's stream within its file
    int sampleRate = 0;   // Hz
    int channels = 0;
    std::string codecName; // FFmpeg's short name: "pcm_f32be", "aac", "mp3" ...
    double duration = 0;   // seconds; NaN when the container does not say
};

// What a media file holds, as FFmpeg reads it from the container: the time it lasts and its
// decodable audio tracks in file order. Any audio or movie format FFmpeg opens will do.
struct AudioFileInfo {
    double duration = 0; // seconds of the whole file (its longest track); NaN when unknown
    std::vector<AudioTrackInfo> audioTracks;

    // Throws std::filesystem::filesystem_error for a missing or unreadable file and
    // MediaError::unreadable for one that is not a media file (or is damaged beyond reading).
    // A file without audio loads fine with no tracks.
    static AudioFileInfo load(const std::filesystem::path& path);

    // Finite and above zero.
    bool hasUsableDuration() const;
    const AudioTrackInfo* firstAudioTrack() const {
        return audioTracks.empty() ? nullptr : &audioTracks.front();
    }
};

} // namespace nuvel
