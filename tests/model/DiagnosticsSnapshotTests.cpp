#include "Nuvel/model/DiagnosticsSnapshot.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

LocalRecording recording(CaptureState capture, TransferState transfer, std::set<std::int64_t> parts = {}) {
    LocalRecording r;
    r.capture = capture;
    r.transfer = transfer;
    r.acknowledgedParts = std::move(parts);
    return r;
}

TEST(DiagnosticsSnapshot, countsTheRecordingsAndCopiesTheFlags) {
    using C = CaptureState;
    using T = TransferState;
    struct Case {
        const char* name;
        std::vector<LocalRecording> recordings;
        bool capture, upload;
        DiagnosticsSnapshot expected;
    };
    auto expect = [](std::int64_t total, std::int64_t pending, std::int64_t accepted,
                     std::int64_t interrupted, std::int64_t parts, bool capture, bool upload) {
        DiagnosticsSnapshot s;
        s.totalRecordings = total;
        s.pendingRecordings = pending;
        s.acceptedRecordings = accepted;
        s.interruptedRecordings = interrupted;
        s.acknowledgedParts = parts;
        s.captureActive = capture;
        s.uploadActive = upload;
        return s;
    };
    const std::vector<Case> cases = {
        {"none", {}, false, true, expect(0, 0, 0, 0, 0, false, true)},
        {"a paused capture",
         {recording(C::paused, T::local)},
         true,
         false,
         expect(1, 1, 0, 0, 0, true, false)},
        {"every pending state",
         {recording(C::saved, T::local), recording(C::saved, T::creating), recording(C::saved, T::uploading),
          recording(C::saved, T::committing), recording(C::saved, T::needsReview),
          recording(C::saved, T::failed), recording(C::saved, T::accepted)},
         false,
         false,
         expect(7, 6, 1, 0, 0, false, false)},
        {"interrupted in both counts, parts summed",
         {recording(C::interrupted, T::accepted, {1, 2, 3}),
          recording(C::interrupted, T::failed, {1, 2, 3, 4, 5})},
         false,
         true,
         expect(2, 1, 1, 2, 8, false, true)},
    };
    for (const Case& c : cases) {
        const DiagnosticsSnapshot s(c.recordings, c.capture, c.upload);
        EXPECT_EQ(s, c.expected) << c.name;
        EXPECT_EQ(s.schemaVersion, 1) << c.name;
        EXPECT_EQ(s.pendingRecordings + s.acceptedRecordings, s.totalRecordings) << c.name;
    }
}

TEST(DiagnosticsSnapshot, encodesPrettyPrintedSortedKeysWithoutAFinalNewline) {
    // Exactly the eight keys.
    const DiagnosticsSnapshot s({recording(CaptureState::interrupted, TransferState::accepted, {1, 2}),
                                 recording(CaptureState::saved, TransferState::local, {7})},
                                true, false);
    EXPECT_EQ(stringOf(s.encoded()), "{\n"
                                     "  \"acceptedRecordings\" : 1,\n"
                                     "  \"acknowledgedParts\" : 3,\n"
                                     "  \"captureActive\" : true,\n"
                                     "  \"interruptedRecordings\" : 1,\n"
                                     "  \"pendingRecordings\" : 1,\n"
                                     "  \"schemaVersion\" : 1,\n"
                                     "  \"totalRecordings\" : 2,\n"
                                     "  \"uploadActive\" : false\n"
                                     "}");
}

} // namespace
} // namespace nuvel
