#include "NuvelKit/meetings/MeetingExport.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace nuvel {
namespace {

using MeetingExport::ExportError;
using MeetingExport::Format;
using MeetingExport::subtitles;
using MeetingExport::subtitleTimestamp;

const MeetingAccess access{"owner", "workspace", {}};

MeetingTranscriptDocument goldenTranscript() {
    return MeetingTranscriptDocument::decode(test::golden("export/subtitles-transcript.json"));
}

MeetingTranscriptDocument transcriptOf(std::int64_t duration, std::vector<MeetingWord> words,
                                       std::map<std::string, MeetingSpeaker> speakers = {}) {
    return MeetingTranscriptDocument::make(
        "corrected", 1, duration, MeetingTranscript{1, std::move(words), std::move(speakers)}, access);
}

MeetingWord word(std::string text, std::int64_t start, std::int64_t end,
                 std::optional<std::string> speaker = std::nullopt) {
    return MeetingWord{text, text, start, end, std::move(speaker), std::nullopt};
}

bool failsWithoutTiming(const MeetingTranscriptDocument& transcript) {
    for (Format format : {Format::srt, Format::vtt}) {
        try {
            subtitles(transcript, format);
            return false;
        } catch (const ExportError& e) {
            if (e.code() != ExportError::Code::noValidTiming)
                return false;
        }
    }
    return true;
}

struct CommandResult {
    int status = -1;
    std::string output; // standard output and standard error together
};

CommandResult run(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// FFmpeg reads the subtitle file, decodes every cue and writes them again as SubRip. (Its null
// muxer takes no subtitle stream, so the cues go through the SubRip encoder instead.)
CommandResult ffmpegToSubRip(const std::filesystem::path& input, const std::filesystem::path& output) {
    return run("ffmpeg -nostdin -v error -i '" + input.string() + "' -map 0:s -c:s srt -f srt -y '" +
               output.string() + "'");
}

std::vector<std::string> timingLines(const std::string& srt) {
    std::vector<std::string> lines;
    std::istringstream in(srt);
    for (std::string line; std::getline(in, line);)
        if (line.find(" --> ") != std::string::npos && !line.empty() && line[0] >= '0' && line[0] <= '9')
            lines.push_back(line);
    return lines;
}

TEST(MeetingSubtitles, GoldenSubRipAndWebVTT) {
    const MeetingTranscriptDocument transcript = goldenTranscript();
    EXPECT_EQ(subtitles(transcript, Format::srt), test::golden("export/subtitles.srt"));
    EXPECT_EQ(subtitles(transcript, Format::vtt), test::golden("export/subtitles.vtt"));
    // The export entry hands the document's transcript to the subtitle writer.
    NativeMeetingDocument meeting{
        MeetingSummary{"m", "t", "ready", std::nullopt, 1, access, "", 1, false, 0, std::nullopt}, transcript,
        std::nullopt, std::nullopt};
    EXPECT_EQ(MeetingExport::export_(meeting, Format::vtt), test::golden("export/subtitles.vtt"));
}

TEST(MeetingSubtitles, FFmpegReadsEveryCue) {
    const MeetingTranscriptDocument transcript = goldenTranscript();
    const std::string srt = subtitles(transcript, Format::srt);
    const std::string vtt = subtitles(transcript, Format::vtt);
    test::TempDir dir("subtitles");
    writeFile(dir / "out.srt", srt);
    writeFile(dir / "out.vtt", vtt);

    CommandResult fromSrt = ffmpegToSubRip(dir / "out.srt", dir / "from-srt.srt");
    EXPECT_EQ(fromSrt.status, 0);
    EXPECT_EQ(fromSrt.output, "");
    EXPECT_EQ(timingLines(readFile(dir / "from-srt.srt")), timingLines(srt));
    ASSERT_EQ(timingLines(srt).size(), 8u);

    // Decoding the WebVTT undoes its escaping: FFmpeg's SubRip of it is exactly our SubRip.
    CommandResult fromVtt = ffmpegToSubRip(dir / "out.vtt", dir / "from-vtt.srt");
    EXPECT_EQ(fromVtt.status, 0);
    EXPECT_EQ(fromVtt.output, "");
    EXPECT_EQ(readFile(dir / "from-vtt.srt"), srt);

    // The check itself catches a broken file.
    writeFile(dir / "broken.srt", "not subtitles\n");
    EXPECT_NE(ffmpegToSubRip(dir / "broken.srt", dir / "broken-out.srt").status, 0);
}

TEST(MeetingSubtitles, SelectionAndStableOrder) {
    auto t = transcriptOf(5000,
                          {word("a", 1000, 1500), word("b", 0, 400, "S1"), word("c", 4800, 5200),
                           word("late", 1000, 4000), word("early", 1000, 1001), word("end", 4000, 5000),
                           word("zero", 2000, 2000), word("negative", -1, 10)},
                          {{"S1", MeetingSpeaker{"S1"}}});
    EXPECT_EQ(subtitles(t, Format::srt), "1\n00:00:00,000 --> 00:00:00,400\nS1: b\n\n"
                                         "2\n00:00:01,000 --> 00:00:01,500\na\n\n"
                                         "3\n00:00:01,000 --> 00:00:04,000\nlate\n\n"
                                         "4\n00:00:01,000 --> 00:00:01,001\nearly\n\n"
                                         "5\n00:00:04,000 --> 00:00:05,000\nend\n\n");
    EXPECT_EQ(
        subtitles(transcriptOf(5000, {word("b", 0, 400, "S1")}, {{"S1", MeetingSpeaker{"S1"}}}), Format::vtt),
        "WEBVTT\n\n1\n00:00:00.000 --> 00:00:00.400\nS1: b\n\n");
}

TEST(MeetingSubtitles, NoUsableWordFailsWithoutWriting) {
    EXPECT_TRUE(failsWithoutTiming(transcriptOf(5000, {})));
    EXPECT_TRUE(failsWithoutTiming(transcriptOf(0, {word("a", 0, 1)})));
    EXPECT_TRUE(failsWithoutTiming(transcriptOf(-5, {word("a", 0, 1)})));
    EXPECT_TRUE(
        failsWithoutTiming(transcriptOf(5000, {word("same", 10, 10), word("negative", -20, 100),
                                               word("past", 4000, 5001), word("reversed", 300, 200),
                                               word("extremes", std::numeric_limits<std::int64_t>::min(),
                                                    std::numeric_limits<std::int64_t>::max())})));
    EXPECT_FALSE(failsWithoutTiming(transcriptOf(5000, {word("fits", 4999, 5000)})));

    NativeMeetingDocument meeting{
        MeetingSummary{"m", "t", "ready", std::nullopt, 1, access, "", 1, false, 0, std::nullopt},
        transcriptOf(5000, {word("same", 10, 10)}), std::nullopt, std::nullopt};
    EXPECT_THROW(MeetingExport::export_(meeting, Format::srt), ExportError);
    // Markdown of the same meeting does not depend on timings.
    EXPECT_EQ(MeetingExport::export_(meeting, Format::plainText),
              "t\n\nCorrected transcript \u00B7 Revision: 1\n\nsame\n");
}

TEST(MeetingSubtitles, TimestampsOnTheirBounds) {
    EXPECT_EQ(subtitleTimestamp(0, Format::srt), "00:00:00,000");
    EXPECT_EQ(subtitleTimestamp(400, Format::vtt), "00:00:00.400");
    EXPECT_EQ(subtitleTimestamp(3723004, Format::srt), "01:02:03,004");
    EXPECT_EQ(subtitleTimestamp(359999999, Format::vtt), "99:59:59.999");
    EXPECT_EQ(subtitleTimestamp(360000000, Format::srt), "100:00:00,000");
    EXPECT_EQ(subtitleTimestamp(std::numeric_limits<std::int64_t>::max(), Format::srt),
              "2562047788015:12:55,807");
    // Never written for a cue; a negative position reads as zero rather than as negative fields.
    EXPECT_EQ(subtitleTimestamp(-1, Format::srt), "00:00:00,000");
    EXPECT_EQ(subtitleTimestamp(std::numeric_limits<std::int64_t>::min(), Format::vtt), "00:00:00.000");

    EXPECT_THROW(subtitleTimestamp(0, Format::markdown), std::invalid_argument);
    EXPECT_THROW(subtitles(transcriptOf(10, {word("a", 0, 1)}), Format::plainText), std::invalid_argument);
}

TEST(MeetingSubtitles, CleaningAndEscaping) {
    std::map<std::string, MeetingSpeaker> speakers{
        {"L", MeetingSpeaker{"A-->B & <i>"}}, {"E", MeetingSpeaker{""}}, {"N", MeetingSpeaker{"two\nlines"}}};
    auto t = transcriptOf(100,
                          {word("<b>x</b> &amp; y", 0, 10, "L"), word("one\r\ntwo-->three", 10, 20, "E"),
                           word("-- >-->>", 20, 30, "N"), word("", 30, 40, "missing")},
                          speakers);
    EXPECT_EQ(subtitles(t, Format::srt), "1\n00:00:00,000 --> 00:00:00,010\nA-->B & <i>: <b>x</b> &amp; y\n\n"
                                         "2\n00:00:00,010 --> 00:00:00,020\none  two\u2192three\n\n"
                                         "3\n00:00:00,020 --> 00:00:00,030\ntwo lines: -- >\u2192>\n\n"
                                         "4\n00:00:00,030 --> 00:00:00,040\n\n\n");
    EXPECT_EQ(
        subtitles(t, Format::vtt),
        "WEBVTT\n\n"
        "1\n00:00:00.000 --> 00:00:00.010\nA--&gt;B &amp; &lt;i&gt;: &lt;b&gt;x&lt;/b&gt; &amp;amp; y\n\n"
        "2\n00:00:00.010 --> 00:00:00.020\none  two\u2192three\n\n"
        "3\n00:00:00.020 --> 00:00:00.030\ntwo lines: -- &gt;\u2192&gt;\n\n"
        "4\n00:00:00.030 --> 00:00:00.040\n\n\n");
}

} // namespace
} // namespace nuvel
