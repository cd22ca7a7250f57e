#include "NuvelKit/capture/AudioComposition.hpp"

#include "NuvelKit/capture/AudioMediaError.hpp"

#include <cmath>

namespace nuvel {

void AudioComposition::append(const std::filesystem::path& path, const AudioTrackInfo& track,
                              double duration) {
    if (!std::isfinite(duration) || duration <= 0)
        throw MediaError(MediaError::Code::invalidArgument, "no time range to insert from " + path.string());
    if (track.streamIndex < 0 || track.sampleRate <= 0 || track.channels <= 0)
        throw MediaError(MediaError::Code::invalidArgument, "not an audio track of " + path.string());
    items_.push_back(Item{path, track, duration, false});
}

void AudioComposition::appendWholeFile(const std::filesystem::path& path, const AudioFileInfo& info) {
    const AudioTrackInfo* track = info.firstAudioTrack();
    if (track == nullptr)
        throw MediaError(MediaError::Code::noAudioTrack, "no audio track in " + path.string());
    append(path, *track, info.duration);
    items_.back().whole = true;
}

double AudioComposition::duration() const {
    double total = 0;
    for (const Item& item : items_)
        total += item.duration;
    return total;
}

} // namespace nuvel
