#pragma once

// The draft of the correction sheet: what the user is correcting, against which transcript
// revision, and the sheet's state through saving, a conflict, a reload and a lost permission.
// The sheet's widgets show it; every rule about the draft lives here. The draft is never thrown
// away by a failure: only closing the sheet ends it.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"
#include "NuvelKit/meetings/MeetingCorrection.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::meetingdetail {

class CorrectionDraft {
public:
    enum Mode { wordText = 0, speakerName = 1, assignSpeaker = 2 };

    // The draft over the selected words (display order) of a snapshot shown on the corrected
    // layer; nothing without a selected word.
    static std::optional<CorrectionDraft> open(const MeetingDetailSnapshot& shown,
                                               const std::vector<MeetingDetailSnapshot::Word>& selected,
                                               const DetailLocale& locale = {});

    // Switches the mode and answers the field's new text: the speaker's name in speakerName mode
    // (empty when the speaker has none), else the word's text.
    std::string changeMode(int mode, const MeetingDetailSnapshot* shown);

    // The correction to hand to the owner, with the draft then saving; nothing when the press
    // does nothing: no snapshot or no edit permission, saving or in conflict, no owner, an
    // empty trimmed text (word and speaker name) or a picker choice out of range.
    std::optional<MeetingCorrection> save(const MeetingDetailSnapshot* shown, std::string_view fieldText,
                                          int pickerIndex, bool ownerListening,
                                          const DetailLocale& locale = {});
    // Whether to ask the owner to reload the transcript; the draft stays as it is.
    bool reload(const MeetingDetailSnapshot* shown, const DetailLocale& locale = {});
    // Moves the draft onto the shown revision; false when there is nothing to move.
    bool useCurrentRevision(const MeetingDetailSnapshot* shown, const DetailLocale& locale = {});
    // The outcome of a save; true when the sheet is to close (saved).
    bool finish(bool saved, bool conflict, const std::optional<std::string>& message, bool canEdit,
                const DetailLocale& locale = {});
    // A snapshot drawn while the sheet is open (the display copy).
    void apply(const MeetingDetailSnapshot& display, const DetailLocale& locale = {});

    int mode() const { return mode_; }
    const std::vector<std::string>& wordIDs() const { return wordIDs_; }
    const MeetingDetailSnapshot::Word& word() const { return word_; }
    const std::string& revision() const { return revision_; }
    const std::optional<MeetingCorrection>& pending() const { return pending_; }
    bool saving() const { return saving_; }
    bool conflict() const { return conflict_; }
    // The picker's speakers: the snapshot's ids in ascending order, the word's own speaker last
    // when the snapshot does not name it; with their titles and the word's speaker chosen.
    const std::vector<std::string>& speakerIDs() const { return speakerIDs_; }
    const std::vector<std::string>& speakerTitles() const { return speakerTitles_; }
    int speakerIndex() const { return speakerIndex_; }

    // The sheet's controls.
    const std::string& fieldText() const { return fieldText_; } // when opened or the mode changed
    const std::string& status() const { return status_; }
    bool saveEnabled() const { return saveEnabled_; }
    bool reloadVisible() const { return reloadVisible_; }
    bool rebaseVisible() const { return rebaseVisible_; }

private:
    int mode_ = wordText;
    std::vector<std::string> wordIDs_;
    MeetingDetailSnapshot::Word word_;
    std::string revision_;
    std::optional<MeetingCorrection> pending_;
    bool saving_ = false;
    bool conflict_ = false;
    std::vector<std::string> speakerIDs_;
    std::vector<std::string> speakerTitles_;
    int speakerIndex_ = -1;
    std::string fieldText_;
    std::string status_;
    bool saveEnabled_ = true;
    bool reloadVisible_ = false;
    bool rebaseVisible_ = false;
};

} // namespace nuvel::meetingdetail
