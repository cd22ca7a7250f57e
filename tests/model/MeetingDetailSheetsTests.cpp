// The detail screen's header and playback bar texts, the correction draft through saving,
// conflict, reload and lost permission, and the sharing and rename sheets' rules.
#include "Nuvel/model/detail/CorrectionDraft.hpp"
#include "Nuvel/model/detail/DetailSheetRules.hpp"
#include "Nuvel/model/detail/MeetingDetailHeader.hpp"
#include "tests/model/MeetingDetailFixtures.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

using namespace nuvel::test;
using namespace nuvel::meetingdetail;
using Word = MeetingDetailSnapshot::Word;

MeetingDetailSnapshot shownMeeting() {
    MeetingDetailSnapshot s;
    s.id = "m1";
    s.title = "Planning";
    s.revision = "4";
    s.words = {{"w1", "Hello", "Hello", "S1", 0, 400},
               {"w2", "budget", "budget", "S9", 500, 900},
               {"w3", "plan", "plan", "S2", 1000, 1400}};
    s.speakers = {{"S2", "Ben"}, {"S1", "Ada"}};
    s.canEdit = true;
    s.notesStatus = "ready";
    return s;
}

std::string correctionText(const MeetingCorrection& c) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, MeetingCorrection::Word>)
                return "word " + v.id + "=" + v.text;
            else if constexpr (std::is_same_v<T, MeetingCorrection::RenameSpeaker>)
                return "speaker " + v.id + "=" + v.name;
            else {
                std::string out = "assign " + v.speakerID + ":";
                for (const auto& id : v.wordIDs)
                    out += " " + id;
                return out;
            }
        },
        c.value);
}

TEST(MeetingDetailHeader, TitleSubtitleProvenanceBannerAndStatus) {
    DetailLocale locale;
    locale.formatDate = [](double s, DateStyle, DateStyle) { return "at " + std::to_string(long(s)); };
    const struct {
        const char* name;
        void (*change)(MeetingDetailSnapshot&);
        std::optional<std::string> dismissed;
        MeetingDetailHeader expected;
    } cases[] = {
        {"all parts",
         [](MeetingDetailSnapshot& s) {
             s.recordedAt = 100;
             s.durationMS = 75 * 60000;
             s.notesSourceLayer = "raw";
             s.notesSourceRevision = "2";
         },
         std::nullopt,
         {"Planning",
          "Notes use the original transcript · Source revision: 2\nCorrected transcript · Revision: 4",
          "at 100 · 75:00", false, ""}},
        {"empty title, no time, no duration, original layer, notes pending",
         [](MeetingDetailSnapshot& s) {
             s.title = "";
             s.recordedAt = 0;
             s.transcriptLayer = "raw";
             s.notesSourceLayer = "corrected";
             s.notesStatus = "pending";
             s.notes = {{"Summary", "x", "generated", {}}};
         },
         std::nullopt,
         {"Untitled meeting",
          "Notes use the corrected transcript · Source revision: Original transcript\nOriginal transcript · "
          "Revision: 4",
          "", false, "Your transcript is ready. Notes are still being generated."}},
        {"stale notes, another meeting dismissed; failed without notes shows no status",
         [](MeetingDetailSnapshot& s) {
             s.notesStale = true;
             s.notesStatus = "failed";
             s.durationMS = 61000;
         },
         "m0",
         {"Planning",
          "Notes source · Source revision: Original transcript\nCorrected transcript · Revision: 4", "1:01",
          true, ""}},
        {"stale notes of this meeting dismissed",
         [](MeetingDetailSnapshot& s) { s.notesStale = true; },
         "m1",
         {"Planning",
          "Notes source · Source revision: Original transcript\nCorrected transcript · Revision: 4", "",
          false, ""}},
    };
    for (const auto& c : cases) {
        MeetingDetailSnapshot s = shownMeeting();
        c.change(s);
        const auto header = MeetingDetailHeader::make(s, c.dismissed, locale);
        EXPECT_EQ(header.title, c.expected.title) << c.name;
        EXPECT_EQ(header.provenance, c.expected.provenance) << c.name;
        EXPECT_EQ(header.subtitle, c.expected.subtitle) << c.name;
        EXPECT_EQ(header.staleBanner, c.expected.staleBanner) << c.name;
        EXPECT_EQ(header.status, c.expected.status) << c.name;
    }
}

TEST(MeetingDetailHeader, PlaybackBar) {
    MeetingDetailSnapshot expired = shownMeeting();
    expired.audioDeleted = true;
    MeetingDetailSnapshot downloadable = shownMeeting();
    downloadable.canDownloadAudio = true;
    const MeetingDetailSnapshot noAudioRight = shownMeeting();
    const struct {
        bool playing;
        std::int64_t position, duration;
        bool available;
        const MeetingDetailSnapshot* shown;
        std::int64_t maximum;
        const char *label, *playTitle;
        bool barHidden, separatorHidden;
        std::optional<std::string> audio;
    } cases[] = {
        {true, 3725000, 0, true, &downloadable, 1, "62:05 / 0:00", "Pause", false, false, std::nullopt},
        {false, -500, 1, true, &downloadable, 1, "0:00 / 0:00", "Play", false, false, std::nullopt},
        {false, 0, 2, true, &downloadable, 2, "0:00 / 0:00", "Play", false, false, std::nullopt},
        {false, 0, 0, false, nullptr, 1, "0:00 / 0:00", "Play", true, true, std::nullopt},
        {false, 0, 90500, false, &expired, 90500, "0:00 / 1:30", "Play", true, false,
         "Audio has expired. Transcript and notes remain available."},
        {false, 0, 0, false, &downloadable, 1, "0:00 / 0:00", "Play", true, false,
         "Audio is unavailable. Transcript and notes remain available."},
        {false, 0, 0, false, &noAudioRight, 1, "0:00 / 0:00", "Play", true, false,
         "Your permission does not include audio playback. Transcript and notes remain available."},
    };
    for (const auto& c : cases) {
        const auto bar = PlaybackBar::make(c.playing, c.position, c.duration, c.available, c.shown);
        EXPECT_EQ(bar.sliderMaximum, c.maximum) << c.label;
        EXPECT_EQ(bar.sliderValue, c.position) << c.label;
        EXPECT_EQ(bar.label, c.label);
        EXPECT_EQ(bar.playTitle, c.playTitle) << c.label;
        EXPECT_EQ(bar.controlsEnabled, c.available) << c.label;
        EXPECT_EQ(bar.barHidden, c.barHidden) << c.label;
        EXPECT_EQ(bar.separatorHidden, c.separatorHidden) << c.label;
        EXPECT_EQ(bar.audioStatus, c.audio) << c.label;
        EXPECT_EQ(bar.tooltip.empty(), c.available) << c.label;
    }
}

TEST(CorrectionDraft, OpensOnTheFirstWordWithTheSpeakersSortedAndTheUnnamedOneLast) {
    const MeetingDetailSnapshot s = shownMeeting();
    EXPECT_FALSE(CorrectionDraft::open(s, {}).has_value());
    auto draft = CorrectionDraft::open(s, {s.words[1], s.words[2], s.words[0]});
    ASSERT_TRUE(draft);
    EXPECT_EQ(draft->fieldText(), "budget");
    EXPECT_EQ(draft->revision(), "4");
    EXPECT_EQ(draft->speakerIDs(), (std::vector<std::string>{"S1", "S2", "S9"}));
    EXPECT_EQ(draft->speakerTitles(), (std::vector<std::string>{"Ada", "Ben", "Unnamed speaker"}));
    EXPECT_EQ(draft->speakerIndex(), 2);
    EXPECT_EQ(
        draft->status(),
        "The original transcript is preserved. Corrections do not automatically update generated notes.");
    EXPECT_TRUE(draft->saveEnabled());
    EXPECT_FALSE(draft->reloadVisible() || draft->rebaseVisible());
}

TEST(CorrectionDraft, SaveByModeAndTheChecksThatMakeAPressDoNothing) {
    const MeetingDetailSnapshot s = shownMeeting();
    MeetingDetailSnapshot readOnly = s;
    readOnly.canEdit = false;
    const struct {
        const char* name;
        int mode;
        const char* field;
        int picker;
        const MeetingDetailSnapshot* shown;
        bool owner;
        std::optional<std::string> expected;
    } cases[] = {
        {"word text trimmed", 0, " \n budgets\t\n", 0, &s, true, "word w2=budgets"},
        {"unchanged word text is sent", 0, "budget", 0, &s, true, "word w2=budget"},
        {"empty word text", 0, " \n ", 0, &s, true, std::nullopt},
        {"speaker name", 1, " Bea ", 0, &s, true, "speaker S9=Bea"},
        {"empty speaker name", 1, "", 0, &s, true, std::nullopt},
        {"assign three words in display order", 2, "", 1, &s, true, "assign S2: w2 w3 w1"},
        {"picker out of range", 2, "", 3, &s, true, std::nullopt},
        {"picker unset", 2, "", -1, &s, true, std::nullopt},
        {"no snapshot", 0, "x", 0, nullptr, true, std::nullopt},
        {"edit permission gone", 0, "x", 0, &readOnly, true, std::nullopt},
        {"no owner listening", 0, "x", 0, &s, false, std::nullopt},
    };
    for (const auto& c : cases) {
        auto draft = *CorrectionDraft::open(s, {s.words[1], s.words[2], s.words[0]});
        draft.changeMode(c.mode, &s);
        const auto correction = draft.save(c.shown, c.field, c.picker, c.owner);
        ASSERT_EQ(correction.has_value(), c.expected.has_value()) << c.name;
        EXPECT_EQ(draft.saving(), c.expected.has_value()) << c.name;
        if (!correction) {
            EXPECT_TRUE(draft.saveEnabled()) << c.name;
            continue;
        }
        EXPECT_EQ(correctionText(*correction), *c.expected) << c.name;
        EXPECT_EQ(correctionText(*draft.pending()), *c.expected) << c.name;
        EXPECT_EQ(draft.status(), "Saving correction…") << c.name;
        EXPECT_FALSE(draft.saveEnabled()) << c.name;
        EXPECT_FALSE(draft.save(&s, "again", 0, true)) << c.name << ": a second press while saving";
    }
}

TEST(CorrectionDraft, ModeChangesReplaceTheFieldText) {
    const MeetingDetailSnapshot s = shownMeeting();
    auto draft = *CorrectionDraft::open(s, {s.words[0]});
    EXPECT_EQ(draft.changeMode(1, &s), "Ada");
    EXPECT_EQ(draft.changeMode(2, &s), "Hello");
    EXPECT_EQ(draft.changeMode(1, nullptr), "");
    auto unnamed = *CorrectionDraft::open(s, {s.words[1]});
    EXPECT_EQ(unnamed.changeMode(1, &s), "");
    EXPECT_FALSE(unnamed.save(&s, unnamed.fieldText(), 0, true))
        << "an unnamed speaker's empty name is not sent";
}

// The path of a save that another editor overtook: conflict outcome, reload, the newer snapshot,
// moving onto it, and saving again; the typed text is never touched.
TEST(CorrectionDraft, ConflictReloadAndRebase) {
    MeetingDetailSnapshot s = shownMeeting();
    auto draft = *CorrectionDraft::open(s, {s.words[0]});
    ASSERT_TRUE(draft.save(&s, "Hallo", 0, true));
    draft.apply(s); // a redraw while saving changes nothing
    EXPECT_TRUE(draft.saving());

    EXPECT_FALSE(draft.finish(false, true, std::string(" \n "), true));
    EXPECT_EQ(draft.status(),
              "Another editor changed this transcript. Your draft is kept. Reload, compare, then "
              "choose Use current revision.");
    EXPECT_TRUE(draft.conflict() && draft.reloadVisible());
    EXPECT_FALSE(draft.rebaseVisible() || draft.saveEnabled() || draft.saving());
    EXPECT_FALSE(draft.save(&s, "Hallo", 0, true)) << "saving stays blocked in a conflict";
    EXPECT_FALSE(draft.useCurrentRevision(&s)) << "nothing to move onto before the reload";

    EXPECT_TRUE(draft.reload(&s));
    EXPECT_EQ(draft.status(), "Reloading the transcript. Your draft is kept.");
    s.revision = "5";
    s.words[0].text = "Hullo";
    draft.apply(s);
    EXPECT_EQ(draft.status(),
              "The transcript changed. Your draft is kept. Compare it with the current text, then "
              "choose Use current revision.\nCurrent text: Hullo");
    EXPECT_TRUE(draft.rebaseVisible() && draft.reloadVisible() && draft.conflict());

    EXPECT_TRUE(draft.useCurrentRevision(&s));
    EXPECT_EQ(draft.revision(), "5");
    EXPECT_FALSE(draft.conflict() || draft.rebaseVisible());
    EXPECT_TRUE(draft.saveEnabled() && draft.reloadVisible());
    EXPECT_EQ(draft.status(),
              "Your draft will be saved against the current revision. Generated notes keep their "
              "stated source version.");
    EXPECT_FALSE(draft.useCurrentRevision(&s)) << "already on the shown revision";
    const auto again = draft.save(&s, "Hallo", 0, true);
    ASSERT_TRUE(again);
    EXPECT_EQ(correctionText(*again), "word w1=Hallo");
    EXPECT_TRUE(draft.finish(true, false, std::nullopt, true));
}

TEST(CorrectionDraft, OutcomesAndLostPermission) {
    const struct {
        bool saved, conflict;
        std::optional<std::string> message;
        bool closes;
        const char* status;
    } outcomes[] = {
        {true, false, std::nullopt, true, "Saving correction…"},
        {false, false, std::nullopt, false,
         "The correction could not be saved. Your draft is kept; try again."},
        {false, false, std::string("\t"), false,
         "The correction could not be saved. Your draft is kept; try again."},
        {false, false, std::string(" Offline. "), false, " Offline. "},
        {false, true, std::string("Taken over."), false, "Taken over."},
    };
    for (const auto& o : outcomes) {
        MeetingDetailSnapshot s = shownMeeting();
        auto draft = *CorrectionDraft::open(s, {s.words[0]});
        ASSERT_TRUE(draft.save(&s, "x", 0, true));
        EXPECT_EQ(draft.finish(o.saved, o.conflict, o.message, true), o.closes) << o.status;
        EXPECT_EQ(draft.status(), o.status);
        EXPECT_EQ(draft.saveEnabled(), !o.conflict) << o.status;
        EXPECT_EQ(draft.reloadVisible(), !o.saved && o.conflict) << o.status;
    }

    // The edit permission is withdrawn under an open sheet on a newer revision: the draft stays,
    // saving is off, no conflict is raised, and neither reload nor rebase act.
    MeetingDetailSnapshot s = shownMeeting();
    auto draft = *CorrectionDraft::open(s, {s.words[0]});
    s.canEdit = false;
    s.revision = "9";
    draft.apply(s);
    EXPECT_EQ(draft.status(), "Editing permission has changed. Your draft is kept, but it cannot be saved.");
    EXPECT_FALSE(draft.saveEnabled() || draft.conflict() || draft.rebaseVisible());
    EXPECT_FALSE(draft.reload(&s) || draft.useCurrentRevision(&s) || draft.save(&s, "x", 0, true));
    EXPECT_EQ(draft.revision(), "4");
}

TEST(DetailSheetRules, RenameSharesLinks) {
    EXPECT_EQ(renamedTitle("  Quarterly plan \n"), "Quarterly plan");
    EXPECT_EQ(renamedTitle(" \n\t"), std::nullopt);

    EXPECT_EQ(shareRowText({"s1", "Workspace member", "View only", true}),
              "Workspace member · View only · Audio included");
    EXPECT_EQ(shareRowText({"s2", "ada@example.com", "viewer", false}), "ada@example.com · viewer");
    EXPECT_EQ(linkRowText({"l1", "No expiry", false}), "Notes and transcript · No expiry");
    EXPECT_EQ(linkRowText({"l2", "2030-01-01", true}), "Notes, transcript and retained audio · 2030-01-01");

    const struct {
        int expiry;
        bool allowed, ticked;
        LinkRequest expected;
    } links[] = {{0, true, true, {7, true}},
                 {1, true, false, {30, false}},
                 {1, false, true, {30, false}},
                 {2, true, true, {7, true}},
                 {-1, false, false, {7, false}}};
    for (const auto& l : links)
        EXPECT_EQ(linkRequest(l.expiry, l.allowed, l.ticked), l.expected) << l.expiry;

    MeetingDetailSnapshot s = shownMeeting();
    EXPECT_FALSE(linkAudioAllowed(s));
    s.canDownloadAudio = true;
    EXPECT_TRUE(linkAudioAllowed(s));
    s.audioDeleted = true;
    EXPECT_FALSE(linkAudioAllowed(s));
}

} // namespace
} // namespace nuvel
