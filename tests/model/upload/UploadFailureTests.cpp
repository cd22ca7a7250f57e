// How a failed run leaves its recording: the state, the code, the one sentence and the retry
// time, for every kind of failure and every step a run can fail in.
#include "Nuvel/model/upload/UploadFailure.hpp"
#include "Nuvel/model/upload/UploadSentences.hpp"
#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/model/ModelHarness.hpp"

#include <cmath>
#include <limits>

using namespace nuvel;
using namespace nuvel::test;

namespace {

Failure failureOf(std::function<void()> thrower) {
    return attemptNow(thrower);
}
Failure api(int status, std::string code = "unknown", std::optional<double> retryAfter = std::nullopt) {
    return failureOf([=] { throw APIError(status, code, retryAfter); });
}
Failure transport(TransportError::Code code) {
    return failureOf([=] { throw TransportError(code); });
}
Failure recordingError(RecordingError::Code code) {
    return failureOf([=] { throw RecordingError(code); });
}
Failure cancelled() {
    return failureOf([] { throw Cancelled(); });
}

// A draw that gives the spread factor exactly: 0 → 0.8, 2^53 → 1.2, 2^52 → about 1.0.
RetryJitter fixedJitter(std::uint64_t draw) {
    return RetryJitter([draw] { return draw; });
}

constexpr double now = 700000000;

} // namespace

TEST(UploadFailure, StateCodeSentenceAndRetryFollowTheErrorAndTheStepReached) {
    namespace says = upload_sentences;
    const std::string withKey = "with key", withoutKey = "without key";
    struct Case {
        std::string what;
        Failure error;
        TransferState reached;
        bool clientKey;
        bool commitReconciliation;
        TransferState state;
        std::string code;
        std::string_view sentence;
        std::optional<std::pair<double, double>> retryIn; // the due time's bounds, from now
    };
    const std::pair<double, double> first{8, 12};
    const std::vector<Case> cases = {
        {"timed out while creating, no key", transport(TransportError::Code::timedOut),
         TransferState::creating, false, true, TransferState::needsReview, "ambiguous_request",
         says::ambiguous, std::nullopt},
        {"timed out while creating, with key", transport(TransportError::Code::timedOut),
         TransferState::creating, true, true, TransferState::failed, "transfer_failed", says::paused, first},
        {"422 while creating, no key", api(422, "too_long"), TransferState::creating, false, true,
         TransferState::failed, "too_long", says::tooLarge, std::nullopt},
        {"503 while creating, no key", api(503, "busy"), TransferState::creating, false, true,
         TransferState::needsReview, "ambiguous_request", says::ambiguous, std::nullopt},
        {"cancelled while creating, no key", cancelled(), TransferState::creating, false, true,
         TransferState::needsReview, "ambiguous_request", says::ambiguous, std::nullopt},
        {"401 while committing, no commit reconciliation", api(401, "unauthorized"),
         TransferState::committing, true, false, TransferState::needsReview, "ambiguous_request",
         says::ambiguous, std::nullopt},
        {"lost while committing, no commit reconciliation", transport(TransportError::Code::connectionLost),
         TransferState::committing, true, false, TransferState::needsReview, "ambiguous_request",
         says::ambiguous, std::nullopt},
        {"401 while committing, with commit reconciliation", api(401, "unauthorized"),
         TransferState::committing, true, true, TransferState::failed, "unauthorized", says::signIn,
         std::nullopt},
        {"another file accepted", recordingError(RecordingError::Code::ambiguousRequest),
         TransferState::uploading, true, true, TransferState::needsReview, "ambiguous_request",
         says::ambiguous, std::nullopt},
        {"connection lost while uploading", transport(TransportError::Code::connectionLost),
         TransferState::uploading, true, true, TransferState::failed, "transfer_failed", says::paused, first},
        {"other transport failure", transport(TransportError::Code::other), TransferState::uploading, true,
         true, TransferState::failed, "transfer_failed", says::paused, std::nullopt},
        {"cancelled while uploading", cancelled(), TransferState::uploading, true, true,
         TransferState::failed, "transfer_failed", says::paused, std::nullopt},
        {"account mismatch", recordingError(RecordingError::Code::accountMismatch), TransferState::local,
         false, true, TransferState::failed, "transfer_failed", says::paused, std::nullopt},
        {"invalid transport", recordingError(RecordingError::Code::invalidTransport), TransferState::local,
         false, true, TransferState::failed, "transfer_failed", says::paused, std::nullopt},
        {"402", api(402, "allowance_exhausted"), TransferState::uploading, true, true, TransferState::failed,
         "allowance_exhausted", says::allowance, std::nullopt},
        {"403", api(403, "upload_forbidden"), TransferState::uploading, true, true, TransferState::failed,
         "upload_forbidden", says::noPermission, std::nullopt},
        {"404", api(404, "not_found"), TransferState::uploading, true, true, TransferState::failed,
         "not_found", says::paused, std::nullopt},
        {"413 too large, before any request", api(413, "too_large"), TransferState::local, false, false,
         TransferState::failed, "too_large", says::tooLarge, std::nullopt},
        {"409 capture in progress, no delay", api(409, "capture_in_progress"), TransferState::uploading, true,
         true, TransferState::failed, "capture_in_progress", says::anotherDevice, std::pair{48.0, 72.0}},
        {"409 capture in progress, 100 s", api(409, "capture_in_progress", 100), TransferState::uploading,
         true, true, TransferState::failed, "capture_in_progress", says::anotherDevice,
         std::pair{100.0, 120.0}},
        {"409 other", api(409, "upload_unavailable"), TransferState::uploading, true, true,
         TransferState::failed, "upload_unavailable", says::paused, std::nullopt},
        {"429, 300 s", api(429, "rate_limited", 300), TransferState::uploading, true, true,
         TransferState::failed, "rate_limited", says::tooManyRequests, std::pair{300.0, 360.0}},
        {"503, Retry-After 20", api(503, "busy", 20), TransferState::uploading, true, true,
         TransferState::failed, "busy", says::paused, std::pair{20.0, 24.0}},
        {"408", api(408, "timeout"), TransferState::uploading, true, true, TransferState::failed, "timeout",
         says::paused, first},
        {"418", api(418), TransferState::uploading, true, true, TransferState::failed, "unknown",
         says::paused, std::nullopt},
    };
    for (const Case& c : cases) {
        LocalRecording r = sampleRecording();
        r.transfer = c.reached;
        if (c.clientKey) {
            r.creationRequest = CreateMeetingRequest{};
            r.creationRequest->client_recording_id = r.id.lowercase();
        }
        NativeCapabilities capabilities;
        capabilities.commitReconciliation = c.commitReconciliation;
        for (std::uint64_t draw : {std::uint64_t(0), RetryJitter::drawSpan / 2, RetryJitter::drawSpan}) {
            LocalRecording failed = r;
            applyUploadFailure(failed, c.error, capabilities, Date{now}, fixedJitter(draw));
            EXPECT_EQ(failed.transfer, c.state) << c.what;
            EXPECT_EQ(failed.errorCode, c.code) << c.what;
            EXPECT_EQ(uploadFailureMessage(c.error, failed), c.sentence) << c.what;
            EXPECT_EQ(failed.retryAttempts, 1) << c.what << ": every failure counts, review too";
            EXPECT_EQ(failed.uploadQueued, c.retryIn.has_value()) << c.what;
            ASSERT_EQ(failed.retryAt.has_value(), c.retryIn.has_value()) << c.what;
            if (c.retryIn) {
                const double in = failed.retryAt->sinceReferenceDate - now;
                EXPECT_GE(in, c.retryIn->first - 1e-6) << c.what << " draw " << draw;
                EXPECT_LE(in, c.retryIn->second + 1e-6) << c.what << " draw " << draw;
            }
        }
    }
    // Absent capabilities count as all false: a failed commit always needs review.
    LocalRecording committing = sampleRecording();
    committing.transfer = TransferState::committing;
    EXPECT_EQ(classifyUploadFailure(api(500), committing, std::nullopt), TransferState::needsReview);
}

TEST(UploadFailure, ASeriesDoublesItsWaitUpToTheSeventhRetryAndStopsAtTheEighthFailure) {
    LocalRecording r = sampleRecording();
    r.transfer = TransferState::uploading;
    const Failure timedOut = transport(TransportError::Code::timedOut);
    double expected = 10;
    for (int failure = 1; failure <= 8; ++failure) {
        for (auto [draw, factor] : {std::pair{std::uint64_t(0), 0.8}, {RetryJitter::drawSpan, 1.2}}) {
            LocalRecording failed = r;
            failed.retryAttempts = failure - 1;
            applyUploadFailure(failed, timedOut, std::nullopt, Date{now}, fixedJitter(draw));
            EXPECT_EQ(failed.retryAttempts, failure);
            if (failure == 8) {
                EXPECT_FALSE(failed.retryAt) << "exhausted";
                EXPECT_EQ(failed.uploadQueued, false);
                EXPECT_EQ(uploadFailureMessage(timedOut, failed), upload_sentences::paused);
            } else {
                ASSERT_TRUE(failed.retryAt) << failure;
                EXPECT_NEAR(failed.retryAt->sinceReferenceDate - now, expected * factor, 1e-6) << failure;
            }
        }
        expected *= 2;
    }
}

TEST(UploadFailure, NoDueTimeIsEverNaNOrInfiniteWhateverTheDelaysSay) {
    for (double raw : {std::nan(""), -5.0, -0.0, 0.0, 3.5, std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity(), 1e300}) {
        const double clamped = clampedDelaySeconds(raw);
        EXPECT_TRUE(std::isfinite(clamped)) << raw;
        EXPECT_GE(clamped, 0) << raw;
        EXPECT_LE(clamped, 86400) << raw;
        if (raw >= 0 && raw < 86400) {
            EXPECT_EQ(clamped, raw);
        }
        LocalRecording failed = sampleRecording();
        failed.transfer = TransferState::uploading;
        applyUploadFailure(failed, api(503, "busy", raw), std::nullopt, Date{now}, RetryJitter());
        ASSERT_TRUE(failed.retryAt) << raw;
        const double in = failed.retryAt->sinceReferenceDate - now;
        EXPECT_TRUE(std::isfinite(in)) << raw;
        EXPECT_GE(in, 8) << raw << ": a delay the server cannot give is no delay";
    }
}
