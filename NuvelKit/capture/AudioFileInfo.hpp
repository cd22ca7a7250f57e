#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

struct AudioTrackInfo {
    int streamIndex = -1; // the track's stream within its file
    int sampleRate = 0;   // Hz
    int channels = 0;
    std::string codecName; // FFmpeg's short name: "pcm_f32be", "aac", "mp3" ...
    double duration = 0;   // seconds; NaN when the container does not say
};

// The file names of the containers a media file is read from, as an open panel offers them: WAV,
// CAF, MP3, MP4/M4A/MOV/3GP, Ogg/Opus, FLAC, Matroska/WebM, AAC and AIFF (the demuxers
// AudioFfmpeg.cpp allows). A file in any other container, a playlist above all, is refused.
inline constexpr std::array<std::string_view, 24> readableContainerPatterns = {
    "*.3gp", "*.aac", "*.adts", "*.aif",  "*.aifc", "*.aiff", "*.caf",  "*.flac",
    "*.m4a", "*.m4b", "*.m4v",  "*.mka",  "*.mkv",  "*.mov",  "*.mp3",  "*.mp4",
    "*.oga", "*.ogg", "*.ogv",  "*.opus", "*.qt",   "*.wav",  "*.wave", "*.webm"};

// What a media file holds, as FFmpeg reads it from the container: the time it lasts and its
// decodable audio tracks in file order. Any of the containers above will do.
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
