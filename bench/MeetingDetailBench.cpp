// The meeting detail screen's content for a three-hour meeting (30,000 words, 40 note sections
// with citations): building the snapshot, assembling the transcript and notes texts, and one
// find keystroke over the transcript. Each figure is printed beside the cost of decoding the same
// meeting's JSON, measured in the same iterations, as a ratio ("x_decode").
#include "Nuvel/model/detail/DetailFind.hpp"
#include "Nuvel/model/detail/MeetingDetailNotes.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"
#include "Nuvel/model/detail/MeetingDetailTranscript.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace nuvel;
using namespace nuvel::meetingdetail;

constexpr int wordCount = 30000;
constexpr std::int64_t meetingMS = 3 * 3600 * 1000;

const std::vector<std::string> latinWords = {"the",    "budget", "plan",   "we",      "should", "ship",  "in",
                                             "May",    "café",   "review", "numbers", "and",    "agree", "on",
                                             "résumé", "team",   "next",   "quarter", "risk",   "today"};
const std::vector<std::string> arabicWords = {"الميزانية", "الخطة", "نحن",     "يجب",   "أن",      "نطلق",
                                              "في",        "مايو",  "مـحـمّـد", "نراجع", "الأرقام", "و",
                                              "نتفق",      "على",   "الفريق",  "القادم"};

// The JSON of a meeting of `wordCount` words in four speakers' turns, every 50th word corrected,
// with 40 note blocks: 10 summary lines with a stamp and 30 items, half citing a word and half a
// moment.
std::string meetingJson(bool arabic) {
    const auto& vocabulary = arabic ? arabicWords : latinWords;
    const MeetingAccess access{
        "owner", "workspace", {{"edit", true}, {"export", true}, {"share", true}, {"audio", true}}};
    MeetingTranscript transcript;
    transcript.version = 1;
    for (int s = 1; s <= 4; ++s)
        transcript.speakers["S" + std::to_string(s)] = MeetingSpeaker{"Speaker " + std::to_string(s)};
    MeetingJSON::Array corrections;
    const std::int64_t step = meetingMS / wordCount;
    for (int i = 0; i < wordCount; ++i) {
        const std::string id = "w" + std::to_string(i);
        transcript.words.push_back(
            MeetingWord{id, vocabulary[std::size_t(i * 7 + i / 13) % vocabulary.size()], i * step,
                        i * step + step - 40, "S" + std::to_string(1 + (i / 40) % 4), std::nullopt});
        if (i % 50 == 0)
            corrections.push_back(MeetingJSON::object(
                {{"id", MeetingJSON::string(id)}, {"from", MeetingJSON::string("before")}}));
    }
    NativeMeetingDocument document;
    document.summary = MeetingSummary{"mt_bench", "Three hours", "ready", std::nullopt, 7,           access,
                                      "",         10800.0,       false,   1772445600,   std::nullopt};
    document.transcript =
        MeetingTranscriptDocument::make("corrected", 7, meetingMS, std::move(transcript), access);
    document.transcript.corrections = MeetingJSON::array(std::move(corrections));

    std::string markdown;
    for (int line = 0; line < 10; ++line) {
        const int minutes = line * 17;
        markdown += "Point " + std::to_string(line) + " was raised [" + std::to_string(minutes / 60) + ":" +
                    (minutes % 60 < 10 ? "0" : "") + std::to_string(minutes % 60) + ":05]\n";
    }
    MeetingJSON::Array items;
    std::vector<MeetingNoteEvidence> evidence;
    for (int item = 0; item < 30; ++item) {
        const std::int64_t at = (item + 1) * (meetingMS / 31);
        items.push_back(
            MeetingJSON::object({{"text", MeetingJSON::string("Topic " + std::to_string(item))}}));
        const int cited = int(at / step);
        evidence.push_back(MeetingNoteEvidence{"meeting", "/output/also_discussed/" + std::to_string(item),
                                               at, item % 2 == 0 ? "w" + std::to_string(cited) : "missing",
                                               "corrected"});
    }
    MeetingNotesDocument notes;
    notes.ai_notes = true;
    notes.run = MeetingJSON::object({{"state", MeetingJSON::string("completed")}});
    notes.notes = MeetingJSON::object(
        {{"meeting", MeetingJSON::object({{"status", MeetingJSON::string("ready")},
                                          {"output", MeetingJSON::object({
                                                         {"markdown", MeetingJSON::string(markdown)},
                                                         {"also_discussed", MeetingJSON::array(items)},
                                                     })}})}});
    notes.provenance = MeetingNotesProvenance{"raw", 3, 7, true};
    notes.evidence = std::move(evidence);
    document.notes = std::move(notes);
    return document.encode();
}

using Clock = std::chrono::steady_clock;
double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Times `work` on the decoded document and the decode of the same JSON in every iteration.
template <class Work> void besideDecode(benchmark::State& state, const std::string& json, Work work) {
    double decodeMS = 0, workMS = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        NativeMeetingDocument document = NativeMeetingDocument::decode(json);
        decodeMS += millisecondsSince(start);
        workMS += work(document);
    }
    const double n = double(state.iterations());
    state.counters["decode_ms"] = decodeMS / n;
    state.counters["work_ms"] = workMS / n;
    state.counters["x_decode"] = workMS / decodeMS;
    state.SetLabel(state.range(0) != 0 ? "arabic" : "latin");
}

void Snapshot(benchmark::State& state) {
    besideDecode(state, meetingJson(state.range(0) != 0), [](const NativeMeetingDocument& document) {
        const auto start = Clock::now();
        MeetingDetailSnapshot snapshot = MeetingDetailSnapshot::make(document, nullptr);
        benchmark::DoNotOptimize(snapshot.words.data());
        return millisecondsSince(start);
    });
}
BENCHMARK(Snapshot)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The snapshot and both texts, as one render of a newly opened meeting builds them.
void SnapshotAndTexts(benchmark::State& state) {
    besideDecode(state, meetingJson(state.range(0) != 0), [](const NativeMeetingDocument& document) {
        const auto start = Clock::now();
        const MeetingDetailSnapshot snapshot = MeetingDetailSnapshot::make(document, nullptr);
        TranscriptContent transcript = transcriptContent(snapshot);
        NotesContent notes = notesContent(snapshot);
        benchmark::DoNotOptimize(transcript.text.string.data());
        benchmark::DoNotOptimize(notes.text.string.data());
        return millisecondsSince(start);
    });
}
BENCHMARK(SnapshotAndTexts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One find keystroke: the folded search over the whole transcript text.
void FindKeystroke(benchmark::State& state) {
    const std::u16string query = unicode::toUtf16(state.range(0) != 0 ? "محمد" : "Cafe");
    const std::string json = meetingJson(state.range(0) != 0);
    const std::u16string text =
        transcriptContent(MeetingDetailSnapshot::make(NativeMeetingDocument::decode(json), nullptr))
            .text.string;
    besideDecode(state, json, [&](const NativeMeetingDocument&) {
        const auto start = Clock::now();
        const auto ranges = findRanges(query, text);
        benchmark::DoNotOptimize(ranges.data());
        return millisecondsSince(start);
    });
}
BENCHMARK(FindKeystroke)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
