#pragma once

#include "NuvelKit/capture/AudioFileInfo.hpp"

#include <filesystem>
#include <vector>

namespace nuvel {

// One audio track made of whole tracks of other files laid end to end, without gaps or
// overlaps. Each item lasts the duration given when it was inserted (normally the file's own
// duration): audio beyond it is cut off; an item inserted as a whole file lasts as long as its
// audio. Nothing is opened until the composition is exported.
class AudioComposition {
public:
    struct Item {
        std::filesystem::path path;
        AudioTrackInfo track;
        double duration = 0; // seconds
        // Every frame the track decodes to is taken, however long the container says it is: a
        // chained stream or a damaged header can give a duration that ends early.
        bool whole = false;
    };

    // Inserts `track` of `path` from time zero for `duration` seconds at the current end.
    // A duration that is not finite and above zero, or a track without a rate or channels, is
    // MediaError::invalidArgument.
    void append(const std::filesystem::path& path, const AudioTrackInfo& track, double duration);
    // Inserts the first audio track of `path`, as `info` (loaded from that file) gives it, as a
    // whole: all its audio, with the file's duration as the item's estimate.
    // MediaError::noAudioTrack when it has none.
    void appendWholeFile(const std::filesystem::path& path, const AudioFileInfo& info);

    const std::vector<Item>& items() const { return items_; }
    bool empty() const { return items_.empty(); }
    // The sum of the items' durations, in insertion order.
    double duration() const;

private:
    std::vector<Item> items_;
};

} // namespace nuvel
