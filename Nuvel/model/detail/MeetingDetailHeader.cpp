#include "Nuvel/model/detail/MeetingDetailHeader.hpp"

#include "Nuvel/model/detail/MeetingDetailTables.hpp"
#include "Nuvel/model/detail/MeetingDetailTranscript.hpp"

#include <cstdio>
#include <vector>

namespace nuvel::meetingdetail {

namespace {

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty())
            out += " · ";
        out += part;
    }
    return out;
}

std::string durationText(std::int64_t ms) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>((ms / 1000) % 60));
    return buffer;
}

} // namespace

MeetingDetailHeader MeetingDetailHeader::make(const MeetingDetailSnapshot& display,
                                              const std::optional<std::string>& dismissedStaleID,
                                              const DetailLocale& locale) {
    MeetingDetailHeader header;
    header.title = display.title.empty() ? locale.text("Untitled meeting") : display.title;

    const auto& layer = display.notesSourceLayer;
    std::string source = locale.text("Notes source");
    if (layer == "raw" || layer == "original")
        source = locale.text("Notes use the original transcript");
    else if (layer == "corrected")
        source = locale.text("Notes use the corrected transcript");
    const std::string notesRevision =
        display.notesSourceRevision.value_or(locale.text("Original transcript"));
    const bool original = display.transcriptLayer == "original" || display.transcriptLayer == "raw";
    header.provenance = source + " · " + locale.text("Source revision") + ": " + notesRevision + "\n" +
                        locale.text(original ? "Original transcript" : "Corrected transcript") + " · " +
                        locale.text("Revision") + ": " + display.revision;

    std::vector<std::string> parts;
    if (display.recordedAt && *display.recordedAt > 0)
        parts.push_back(locale.date(*display.recordedAt, DateStyle::long_, DateStyle::short_));
    if (display.durationMS > 0)
        parts.push_back(durationText(display.durationMS));
    header.subtitle = joined(parts);

    header.staleBanner = display.notesStale && dismissedStaleID != display.id;
    if (display.notesStatus != "ready" && display.notesStatus != "completed" && !display.notes.empty())
        header.status = notesStatusText(display.notesStatus, locale);
    return header;
}

PlaybackBar PlaybackBar::make(bool playing, std::int64_t positionMS, std::int64_t durationMS,
                              bool audioAvailable, const MeetingDetailSnapshot* shown,
                              const DetailLocale& locale) {
    PlaybackBar bar;
    bar.playing = playing;
    bar.playTitle = locale.text(playing ? "Pause" : "Play");
    bar.controlsEnabled = audioAvailable;
    bar.barHidden = !audioAvailable;
    bar.separatorHidden = !audioAvailable && shown == nullptr;
    bar.sliderMaximum = durationMS >= 2 ? durationMS : 1;
    bar.sliderValue = positionMS;
    bar.label = minuteClock(positionMS) + " / " + minuteClock(durationMS);
    if (!audioAvailable)
        bar.tooltip =
            locale.text("Audio is unavailable or has expired. Transcript evidence remains available.");
    bar.audioStatus = audioStatusText(shown, audioAvailable, locale);
    return bar;
}

} // namespace nuvel::meetingdetail
