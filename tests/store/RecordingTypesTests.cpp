#include "NuvelKit/store/Bookmark.hpp"
#include "NuvelKit/store/NuvelLink.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingSegment.hpp"
#include "NuvelKit/store/RecordingStates.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <optional>

namespace nuvel {
namespace {

const Uuid segmentID = *Uuid::parse("3f2504e0-4f89-41d3-9a0c-0305e82c3301");
const std::string segmentUUID = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";

template <class F> std::optional<RecordingError::Code> recordingErrorOf(F&& f) {
    try {
        f();
    } catch (const RecordingError& e) {
        return e.code();
    }
    return std::nullopt;
}

TEST(RecordingStates, RawValuesMatchExactlyAndRoundTrip) {
    for (auto s : {CaptureState::recording, CaptureState::paused, CaptureState::interrupted,
                   CaptureState::finalizing, CaptureState::saved})
        EXPECT_EQ(captureStateFromRawValue(rawValue(s)), s);
    for (auto s :
         {TransferState::local, TransferState::creating, TransferState::uploading, TransferState::committing,
          TransferState::accepted, TransferState::needsReview, TransferState::failed})
        EXPECT_EQ(transferStateFromRawValue(rawValue(s)), s);
    EXPECT_EQ(rawValue(TransferState::needsReview), "needsReview");
    for (const char* raw : {"Recording", "SAVED", "saved ", "", "needsreview"}) {
        EXPECT_FALSE(captureStateFromRawValue(raw)) << raw;
        EXPECT_FALSE(transferStateFromRawValue(raw)) << raw;
    }
    EXPECT_FALSE(transferStateFromRawValue("Local"));
}

TEST(RecordingSegment, ChecksTheExtensionBeforeTheDuration) {
    auto make = [](std::string ext, double duration) {
        return recordingErrorOf(
            [&] { RecordingSegment::make(segmentID, Date{1}, ext, std::nullopt, std::nullopt, duration); });
    };
    EXPECT_EQ(make("M4A", 1), RecordingError::Code::unsafePath);
    EXPECT_EQ(make(".caf", 1), RecordingError::Code::unsafePath);
    EXPECT_EQ(make("wav", 1), RecordingError::Code::unsafePath);
    EXPECT_EQ(make("wav", 0), RecordingError::Code::unsafePath); // both wrong: the extension is reported
    EXPECT_EQ(make("caf", 0.0), RecordingError::Code::invalidDuration);
    EXPECT_EQ(make("caf", -0.0), RecordingError::Code::invalidDuration);
    EXPECT_EQ(make("m4a", -1), RecordingError::Code::invalidDuration);
    EXPECT_EQ(make("m4a", std::numeric_limits<double>::infinity()), RecordingError::Code::invalidDuration);
    EXPECT_EQ(make("m4a", std::numeric_limits<double>::quiet_NaN()), RecordingError::Code::invalidDuration);
    EXPECT_EQ(make("m4a", std::numeric_limits<double>::denorm_min()), std::nullopt);

    auto s = RecordingSegment::make(segmentID, Date{7}, "caf", 48000, std::string("live"), 5.0);
    EXPECT_EQ(s, (RecordingSegment{segmentID, 5.0, Date{7}, "caf", 48000, "live"}));
}

TEST(RecordingSegment, WorkingFileNames) {
    RecordingSegment s{segmentID, 1.0, Date{0}, "m4a", std::nullopt, std::nullopt};
    EXPECT_EQ(s.fileName(), "stage-" + segmentUUID + ".m4a");

    s.captureFileKind = "live"; // live without a frame start is still a staged file
    EXPECT_EQ(s.fileName(), "stage-" + segmentUUID + ".m4a");

    s = {segmentID, 1.0, Date{0}, std::nullopt, 0, std::nullopt};
    EXPECT_EQ(s.fileName(), "checkpoint-" + segmentUUID + ".m4a");
    s.fileExtension = "caf";
    s.captureFileKind = "Live"; // only exactly "live" names a live file
    EXPECT_EQ(s.fileName(), "checkpoint-" + segmentUUID + ".caf");

    s = {segmentID, 1.0, Date{0}, "m4a", 0, "live"}; // live files are CAF whatever the extension says
    EXPECT_EQ(s.fileName(), "live-00000000000000000000-" + segmentUUID + ".caf");
    s.capturedFrameStart = 48000;
    EXPECT_EQ(s.fileName(), "live-00000000000000048000-" + segmentUUID + ".caf");
    EXPECT_EQ(s.fileName().substr(5, 21), "00000000000000048000-");
    s.capturedFrameStart = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(s.fileName(), "live-09223372036854775807-" + segmentUUID + ".caf");
}

TEST(RecordingSegment, JsonOmitsAbsentFieldsAndReadsNullAsAbsent) {
    RecordingSegment s{segmentID, 2.5, Date{100.25}, std::nullopt, std::nullopt, std::nullopt};
    EXPECT_EQ(json::dump(s.toJson()), R"({"id":")" + segmentUUID + R"(","duration":2.5,"startedAt":100.25})");

    auto doc =
        json::parse(R"({"id":"3f2504e0-4f89-41d3-9a0c-0305e82c3301","duration":2.5,"startedAt":100.25,)"
                    R"("fileExtension":null,"capturedFrameStart":96000.0,"captureFileKind":"live","x":1})");
    auto read = RecordingSegment::fromJson(json::Reader(doc));
    EXPECT_EQ(read, (RecordingSegment{segmentID, 2.5, Date{100.25}, std::nullopt, 96000, "live"}));
    // Decoding checks no ranges: a zero duration is the store's business.
    auto zero = json::parse(R"({"id":")" + segmentUUID + R"(","duration":0,"startedAt":0})");
    EXPECT_EQ(RecordingSegment::fromJson(json::Reader(zero)).duration, 0.0);
}

TEST(Bookmark, MakeClampsNegativePositionsAndDrawsFreshIds) {
    auto a = Bookmark::make(-5, "", Date{3});
    auto b = Bookmark::make(1500, "intro", Date{4});
    EXPECT_EQ(a.mediaMilliseconds, 0);
    EXPECT_EQ(b.mediaMilliseconds, 1500);
    EXPECT_EQ(b.label, "intro");
    EXPECT_NE(a.id, b.id);

    auto doc = json::parse(json::dump(b.toJson()));
    EXPECT_EQ(Bookmark::fromJson(json::Reader(doc)), b);
    auto missingLabel = json::parse(R"({"id":")" + segmentUUID + R"(","mediaMilliseconds":1,"createdAt":0})");
    EXPECT_THROW(Bookmark::fromJson(json::Reader(missingLabel)), json::JsonError);
}

TEST(Bookmark, WholeMillisecondsNeverLeavesTheRange) {
    EXPECT_EQ(Bookmark::wholeMilliseconds(1.2345), 1234);
    EXPECT_EQ(Bookmark::wholeMilliseconds(0), 0);
    EXPECT_EQ(Bookmark::wholeMilliseconds(-3), 0);
    EXPECT_EQ(Bookmark::wholeMilliseconds(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(Bookmark::wholeMilliseconds(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(Bookmark::wholeMilliseconds(1e300), 0);
    EXPECT_EQ(Bookmark::wholeMilliseconds(9.2e15), 9'200'000'000'000'000'000);
}

TEST(NuvelLink, AcceptsOnlyAMeetingPathOnTheWebHost) {
    const std::string hex = "0123456789abcdef0123456789abcdef";
    const std::string good = "https://" + std::string(NuvelLink::webHost) + "/m/mt_" + hex;
    auto check = [](const std::string& text) {
        auto url = Url::parse(text);
        return url && NuvelLink::isMeetingLink(*url) == url;
    };
    EXPECT_TRUE(check(good));

    const std::string host(NuvelLink::webHost);
    for (const std::string& bad : {
             "http://" + host + "/m/mt_" + hex,
             "HTTPS://" + host + "/m/mt_" + hex,
             "https://" + host + ":443/m/mt_" + hex,
             "https://" + host + ":/m/mt_" + hex,
             "https://ann@" + host + "/m/mt_" + hex,
             "https://ann:pw@" + host + "/m/mt_" + hex,
             good + "?a=1",
             good + "?",
             good + "#top",
             good + "/",
             "https://" + host + "/m/mt_0123456789ABCDEF0123456789abcdef",
             "https://" + host + "/m/mt_" + hex.substr(1),
             "https://" + host + "/m/mt_" + hex + "0",
             "https://" + host + "/m/mt_%30123456789abcdef0123456789abcdef",
             "https://" + host + "/x/m/mt_" + hex,
             "https://evil.example/m/mt_" + hex,
             "https://APP.GETNUVEL.COM/m/mt_" + hex,
             "https://" + host + ".evil.example/m/mt_" + hex,
         })
        EXPECT_FALSE(check(bad)) << bad;
}

TEST(RecordingError, ComparesByCase) {
    EXPECT_EQ(RecordingError(RecordingError::Code::unsafePath),
              RecordingError(RecordingError::Code::unsafePath));
    EXPECT_FALSE(RecordingError(RecordingError::Code::unsafePath) ==
                 RecordingError(RecordingError::Code::missingMedia));
    EXPECT_EQ(int(RecordingError::Code::ambiguousRequest), 7);
    EXPECT_STREQ(RecordingError::name(RecordingError::Code::invalidTransport), "invalidTransport");
}

} // namespace
} // namespace nuvel
