// The cloud library's lifecycle: attaching to a workspace, reset, the network state, the open
// meeting's lease and its expiry on the continuous clock, and exporting the open meeting.
#include "Nuvel/model/cloud/ContinuousSleep.hpp"
#include "NuvelKit/meetings/MeetingCacheError.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/model/CloudLibraryHarness.hpp"

#include <cmath>
#include <fstream>
#include <limits>

using namespace nuvel;
using namespace nuvel::test;

namespace {

void writeFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

std::string readFile(const fs::path& file) {
    Bytes bytes = files::readFile(file);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(CloudLibraryLifecycle, ConfigureDerivesTheLeasePreparesItsFoldersAndLoadsTheFirstPage) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        std::optional<double> offlineSeconds;
        double lease;
        bool playbackFiles; // the playback folder holds files from an earlier run
    };
    const Row rows[] = {
        {std::nullopt, 0, false}, {0.0, 0, true},       {-5.0, 0, false},        {inf, 0, false},
        {std::nan(""), 0, false}, {3600.0, 3600, true}, {90000.0, 86400, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.offlineSeconds ? std::to_string(*row.offlineSeconds) : "absent");
        CloudHarness h;
        h.list(3);
        h.service->offlineSeconds = 86400; // the page does not narrow the lease here
        const fs::path playback = h.cacheRoot() / "playback";
        const fs::path outside = h.cacheRoot().parent_path() / "outside";
        if (row.playbackFiles) {
            writeFile(playback / "A.m4a", "old audio");
            writeFile(playback / "nested" / "B.m4a", "old audio");
            // A link to a folder of the user's goes itself; what it points to stays.
            writeFile(outside / "mine.m4a", "the user's");
            fs::create_directory_symlink(outside, playback / "nested" / "linked");
        }
        h.attach(row.offlineSeconds);

        EXPECT_EQ(h.s().offlineLease, row.lease);
        EXPECT_EQ(h.s().session->token, "token-1");
        EXPECT_EQ(h.s().workspaceID, "ws_1");
        EXPECT_EQ(h.s().cacheRoot, h.cacheRoot());
        EXPECT_EQ(joinedIDs(h.s().meetings), "m0,m1,m2");
        EXPECT_EQ(h.service->count("GET /api/meetings"), 1u);
        if (row.playbackFiles) {
            EXPECT_TRUE(fs::is_directory(playback));
            EXPECT_TRUE(fs::is_empty(playback));
            EXPECT_TRUE(fs::exists(outside / "mine.m4a"));
        }
    }
}

TEST(CloudLibraryLifecycle, ConfigureFailuresPassTheErrorOnAndLeaveNoCache) {
    struct Row {
        const char* what;
        std::function<void(CloudHarness&)> arrange;
        bool fileSystemError;
    };
    const Row rows[] = {
        {"playback is a file", [](CloudHarness& h) { writeFile(h.cacheRoot() / "playback", "x"); }, true},
        {"playback is a link to a folder of the user's",
         [](CloudHarness& h) {
             const fs::path outside = h.cacheRoot().parent_path() / "outside";
             writeFile(outside / "mine.m4a", "the user's");
             fs::create_directories(h.cacheRoot());
             fs::create_directory_symlink(outside, h.cacheRoot() / "playback");
         },
         true},
        {"empty account", [](CloudHarness& h) { h.session.account.id = ""; }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloudHarness h;
        h.list(2);
        row.arrange(h);
        bool fileError = false, cacheError = false;
        try {
            h.attach();
        } catch (const fs::filesystem_error&) {
            fileError = true;
        } catch (const MeetingCacheError& error) {
            cacheError = error.code() == MeetingCacheError::Code::invalidScope;
        }
        EXPECT_EQ(fileError, row.fileSystemError);
        EXPECT_EQ(cacheError, !row.fileSystemError);
        const fs::path outside = h.cacheRoot().parent_path() / "outside";
        if (fs::exists(outside)) {
            EXPECT_TRUE(fs::exists(outside / "mine.m4a")) << "nothing is removed through a link";
        }
        // Session, workspace and lease stay; nothing that needs the cache runs.
        EXPECT_TRUE(h.s().session);
        EXPECT_EQ(h.s().workspaceID, "ws_1");
        EXPECT_EQ(h.s().offlineLease, 3600);
        h.model->loadLibrary(false);
        h.model->openMeeting("m0", false);
        h.queue.drain();
        EXPECT_TRUE(h.service->seen().empty());
        EXPECT_FALSE(h.s().selectedID);
    }
}

TEST(CloudLibraryLifecycle, AWorkspaceSwitchDropsEveryLateResultOfTheOldOne) {
    CloudHarness h;
    h.list(3);
    h.service->searchAnswers["plan"].results = {
        MeetingSearchPage::Hit{1, "m1", "Plan", "corrected", "text", 0, {}}};
    h.attach();
    h.executor.holding = true;
    h.model->openMeeting("m1", false);
    h.model->search("plan");
    h.queue.drain();
    ASSERT_EQ(h.executor.held.size(), 2u); // the meeting's cached copy and the search

    h.executor.holding = false;
    h.workspace = "ws_2";
    h.list(1);
    h.attach();
    h.executor.runAll();
    h.queue.drain();

    EXPECT_EQ(h.s().workspaceID, "ws_2");
    EXPECT_EQ(joinedIDs(h.s().meetings), "m0");
    EXPECT_FALSE(h.s().document);
    EXPECT_FALSE(h.s().selectedID);
    EXPECT_TRUE(h.s().searchResults.empty());
    EXPECT_FALSE(h.s().loading);
    EXPECT_EQ(h.service->count("GET /api/meetings/m1"), 0u);
}

TEST(CloudLibraryLifecycle, ResetForgetsTheAttachmentButNotTheWorkspaceLeaseOrNetwork) {
    CloudHarness h;
    h.listAndOpen(3, "m1");
    runToCompletion(h.queue, h.model->refreshServerRetention(h.s().generation, h.session));
    h.model->setOnline(false); // the meeting holds its lease offline
    ASSERT_TRUE(h.s().document);
    ASSERT_TRUE(h.s().retentionDays);

    const Uuid before = h.s().generation;
    const std::size_t changes = h.shown.size();
    h.model->reset();
    const Uuid first = h.s().generation;
    h.model->reset();
    EXPECT_EQ(h.shown.size(), changes + 2);
    EXPECT_NE(first, before);
    EXPECT_NE(h.s().generation, first);

    const CloudMeetingState& s = h.s();
    EXPECT_FALSE(s.session || s.cacheRoot || s.document || s.originalTranscript || s.sharing ||
                 s.selectedID || s.nextCursor || s.retentionDays || s.documentValidatedAt ||
                 s.documentExpiresAt);
    EXPECT_TRUE(s.meetings.empty() && s.retentionChoices.empty());
    EXPECT_FALSE(s.loading || s.hasMore || s.offline);
    EXPECT_EQ(s.message, "");
    EXPECT_EQ(s.workspaceID, "ws_1");
    EXPECT_EQ(s.offlineLease, 3600);
    EXPECT_FALSE(s.online);
    // No file is deleted: the copy is still there for the next attachment.
    EXPECT_NO_THROW(h.diskCache()->load<NativeMeetingDocument>("m1", h.wallNow()));
    // Detached: nothing runs.
    h.service->clearSeen();
    h.model->loadLibrary(false);
    h.model->search("x");
    h.model->openMeeting("m1", false);
    h.queue.drain();
    EXPECT_TRUE(h.service->seen().empty());
    EXPECT_EQ(h.shown.size(), changes + 2);

    // A session the service no longer knows: detached the same way, saying so and offering the
    // sign-in until the next attachment.
    h.attach();
    h.model->refuseSession();
    EXPECT_FALSE(h.s().session || h.s().document);
    EXPECT_EQ(h.s().message, cloud_sentences::librarySignIn);
    EXPECT_TRUE(h.s().signInNeeded);
    EXPECT_EQ(h.shown.back().message, cloud_sentences::librarySignIn);
    h.attach();
    EXPECT_FALSE(h.s().signInNeeded);
}

TEST(CloudLibraryLifecycle, TheLeaseHoldsFromValidationUpToItsEndAndGoingOfflineClosesOutsideIt) {
    struct Row {
        const char* what;
        double lease;      // the workspace's offline seconds (0: no lease dates)
        double clockShift; // the wall clock moved without the timers noticing
        bool online;       // then reported by the network monitor
        bool valid;
        bool stays;
    };
    const Row rows[] = {
        {"at validation", 100, 0, true, true, true},
        {"just before the end", 100, 99.999, true, true, true},
        {"at the end, online", 100, 100, true, false, true},
        {"before validation", 100, -0.001, true, false, true},
        {"offline inside the lease", 100, 50, false, true, true},
        {"offline past the lease", 100, 101, false, false, false},
        {"undated, online", 0, 0, true, true, true},
        {"undated, a day later", 0, 86400, true, true, true},
        {"undated, offline", 0, 0, false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloudHarness h;
        h.list(2);
        h.service->offlineSeconds = row.lease > 0 ? std::optional<double>(row.lease) : std::nullopt;
        h.attach(row.lease);
        h.open("m1");
        ASSERT_TRUE(h.s().document);
        EXPECT_EQ(h.s().documentValidatedAt.has_value(), row.lease > 0);
        if (row.lease > 0) {
            EXPECT_EQ(h.s().documentExpiresAt->sinceReferenceDate -
                          h.s().documentValidatedAt->sinceReferenceDate,
                      row.lease);
        }
        h.clockShift = row.clockShift;
        const std::size_t changes = h.shown.size();
        h.model->setOnline(row.online);
        EXPECT_EQ(h.model->documentLeaseIsValid(), row.valid);
        EXPECT_EQ(h.s().document.has_value(), row.stays);
        EXPECT_EQ(h.s().selectedID.has_value(), row.stays);
        EXPECT_EQ(h.s().message, row.stays ? "" : cloud_sentences::leaseExpired);
        EXPECT_EQ(h.shown.size(), changes + (row.stays ? 0 : 1));
        EXPECT_EQ(joinedIDs(h.s().meetings), "m0,m1"); // the list is not the meeting's lease
    }
}

TEST(CloudLibraryLifecycle, TheOpenMeetingExpiresAtItsLeaseEndCountingSleep) {
    CloudHarness h;
    h.list(3);
    h.service->offlineSeconds = 100;
    h.attach();

    // A: the lease ends at 100 s; B opened at 50 s ends at 150 s. A's expiry does nothing.
    h.open("m0");
    h.queue.advance(50);
    h.open("m1");
    h.queue.advance(50);
    EXPECT_EQ(h.s().selectedID, "m1");
    EXPECT_EQ(h.s().message, "");
    h.queue.advance(49.9);
    EXPECT_TRUE(h.s().document);
    h.queue.advance(0.2);
    EXPECT_FALSE(h.s().document);
    EXPECT_FALSE(h.s().selectedID);
    EXPECT_EQ(h.s().message, cloud_sentences::leaseExpired);

    // The computer sleeps past the lease: the expiry follows within one step after waking.
    h.open("m2");
    h.queue.advance(10);
    h.suspended += 500;
    EXPECT_FALSE(h.model->documentLeaseIsValid());
    h.queue.advance(continuousSleepStep);
    EXPECT_FALSE(h.s().document);
    EXPECT_EQ(h.s().message, cloud_sentences::leaseExpired);

    // After a reset nothing expires.
    h.open("m0");
    h.model->reset();
    h.queue.advance(1000);
    EXPECT_EQ(h.s().message, "");
}

TEST(CloudLibraryLifecycle, ExportWritesTheChosenLayerOnlyWhileTheLeaseHolds) {
    struct Row {
        const char* what;
        MeetingExport::Format format;
        std::string variant;
        std::function<void(CloudHarness&)> arrange; // before opening
        std::function<void(CloudHarness&)> panel;   // while the panel is open
        bool cancel;
        bool panelShown;
        bool written;
        bool missingFolder;
        std::string message;
    };
    auto none = [](CloudHarness&) {};
    const std::string unavailable(cloud_sentences::exportUnavailable);
    const Row rows[] = {
        {"markdown", MeetingExport::Format::markdown, "corrected", none, none, false, true, true, false, ""},
        {"raw text", MeetingExport::Format::plainText, "raw", none, none, false, true, true, false, ""},
        {"raw without the layer", MeetingExport::Format::markdown, "raw",
         [](CloudHarness& h) { h.service->fail("GET /api/meetings/m1/transcript?layer=raw", 500); }, none,
         false, false, false, false, std::string(cloud_sentences::notesUnavailable)},
        {"subtitles without timings", MeetingExport::Format::srt, "corrected",
         [](CloudHarness& h) { h.service->untimed = true; }, none, false, false, false, false, unavailable},
        {"no export right", MeetingExport::Format::vtt, "corrected",
         [](CloudHarness& h) {
             h.service->library[1].access = rights({"edit", "share"});
         },
         none, false, false, false, false, ""},
        {"cancelled", MeetingExport::Format::vtt, "corrected", none, none, true, true, false, false, ""},
        {"lease ends while choosing", MeetingExport::Format::markdown, "corrected", none,
         [](CloudHarness& h) { h.clockShift = 3600; }, false, true, false, false, ""},
        {"another meeting opened while choosing", MeetingExport::Format::markdown, "corrected", none,
         [](CloudHarness& h) { h.model->openMeeting("m0", false); }, false, true, false, false, ""},
        {"write fails", MeetingExport::Format::markdown, "corrected", none, none, false, true, false, true,
         unavailable},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloudHarness h;
        h.list(2);
        h.attach();
        row.arrange(h);
        h.open("m1");
        const fs::path target = row.missingFolder ? h.dir / "missing" / "out" : h.dir / "out";
        h.exportChoice = row.cancel ? std::nullopt : std::optional<fs::path>(target);
        h.whilePanelOpen = [&] { row.panel(h); };
        const std::size_t changes = h.shown.size();
        h.model->exportMeeting(row.format, row.variant);
        h.queue.drain();

        EXPECT_EQ(h.proposedNames.size(), row.panelShown ? 1u : 0u);
        if (row.panelShown) {
            EXPECT_EQ(h.proposedNames[0], "Nuvel." + std::string(MeetingExport::rawValue(row.format)));
        }
        EXPECT_EQ(fs::exists(target), row.written);
        if (row.written) {
            NativeMeetingDocument expected = h.service->document("m1");
            if (row.variant == "raw")
                expected.transcript = *expected.originalTranscript;
            EXPECT_EQ(readFile(target), MeetingExport::export_(expected, row.format));
            EXPECT_EQ(h.shown.size(), changes); // a success shows nothing
        }
        EXPECT_EQ(h.s().message, row.message);
    }
}
