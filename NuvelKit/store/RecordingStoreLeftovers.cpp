// Live and staged files left in a recording's folder by an interruption, as the recovery scan
// finds them: each becomes a segment when its audio and name allow, otherwise a recovery asset.
// Its audio is sealed either way, so nothing that reached the disk is lost.
#include "NuvelKit/capture/AudioFileInfo.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace nuvel {
namespace {

namespace fs = std::filesystem;

// "live-" + 20 characters of frame start + "-" + 36 of UUID + ".caf"
constexpr std::size_t liveNameLength = 66;

// A signed decimal integer, with an optional sign, nothing else.
std::optional<std::int64_t> parseInt64(std::string_view text) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The part after the last dot.
std::string_view extensionOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

bool isSegment(const std::vector<RecordingSegment>& segments, const Uuid& id) {
    return std::any_of(segments.begin(), segments.end(),
                       [&](const RecordingSegment& s) { return s.id == id; });
}

[[noreturn]] void unusable() {
    throw RecordingError(RecordingError::Code::invalidTransport);
}

} // namespace

void RecordingStore::convertLiveFile(LocalRecording& recording, std::vector<RecordingSegment>& segments,
                                     const fs::path& file) const {
    const std::string name = file.filename().string();
    if (extensionOf(name) != "caf" || name.size() != liveNameLength)
        return;
    const std::optional<std::int64_t> frameStart = parseInt64(std::string_view(name).substr(5, 20));
    const std::optional<Uuid> assetID = Uuid::parse(std::string_view(name).substr(26, 36));
    if (!frameStart || !assetID || isSegment(segments, *assetID))
        return;

    std::optional<RecordingSegment> segment;
    std::int64_t end = 0;
    try {
        const CafReader reader = CafReader::open(file);
        const double rate = reader.format().sampleRate;
        const std::int64_t length = reader.format().frames;
        // Only a file that continues the frames already counted may join the timeline.
        if (*frameStart != recording.capturedFrames.value_or(0))
            unusable();
        if (!std::isfinite(rate) || !(rate > 0))
            unusable();
        if (length < 1)
            unusable();
        if (__builtin_add_overflow(*frameStart, length, &end))
            unusable();
        segment = RecordingSegment::make(*assetID, recording.createdAt.adding(double(*frameStart) / rate),
                                         "caf", *frameStart, "live", double(length) / rate);
    } catch (const std::exception&) {
        segment.reset();
    }
    if (segment) {
        segments.push_back(*segment);
        recording.segments = segments;
        recording.capturedFrames = end;
    } else {
        recording.addRecoveryAsset(*assetID);
    }
    sealLeftover(recording, file, *assetID);
}

void RecordingStore::convertStagedFile(LocalRecording& recording, std::vector<RecordingSegment>& segments,
                                       const fs::path& file) const {
    const std::string name = file.filename().string();
    const std::string_view extension = extensionOf(name);
    if (extension != "m4a" && extension != "caf")
        return;
    const std::string_view stem = std::string_view(name).substr(0, name.size() - extension.size() - 1);
    const std::optional<Uuid> assetID = Uuid::parse(stem.substr(std::min<std::size_t>(6, stem.size())));
    if (!assetID || isSegment(segments, *assetID))
        return;

    std::optional<RecordingSegment> segment;
    try {
        const double duration = AudioFileInfo::load(file).duration;
        const Date startedAt = files::creationDate(file).value_or(recording.createdAt);
        segment = RecordingSegment::make(*assetID, startedAt, std::string(extension), std::nullopt,
                                         std::nullopt, duration);
    } catch (const std::exception&) {
        segment.reset();
    }
    if (segment) {
        segments.push_back(*segment);
        recording.segments = segments;
    } else {
        recording.addRecoveryAsset(*assetID);
    }
    sealLeftover(recording, file, *assetID);
}

void RecordingStore::sealLeftover(LocalRecording& recording, const fs::path& file,
                                  const Uuid& assetID) const {
    // Listed first, sealed second: the same order as the live writer's.
    saveManifestUnlocked(recording);
    sealClearMediaUnlocked(file, recording.id, assetID);
    recording.capture = CaptureState::interrupted;
}

} // namespace nuvel
