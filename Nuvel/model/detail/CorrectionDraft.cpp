#include "Nuvel/model/detail/CorrectionDraft.hpp"

#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>

namespace nuvel::meetingdetail {

std::optional<CorrectionDraft> CorrectionDraft::open(const MeetingDetailSnapshot& shown,
                                                     const std::vector<MeetingDetailSnapshot::Word>& selected,
                                                     const DetailLocale& locale) {
    if (selected.empty())
        return std::nullopt;
    CorrectionDraft draft;
    for (const auto& w : selected)
        draft.wordIDs_.push_back(w.id);
    draft.word_ = selected.front();
    draft.revision_ = shown.revision;
    draft.fieldText_ = draft.word_.text;
    draft.status_ = locale.text(
        "The original transcript is preserved. Corrections do not automatically update generated notes.");
    for (const auto& [id, name] : shown.speakers)
        draft.speakerIDs_.push_back(id); // a map: ascending
    if (std::find(draft.speakerIDs_.begin(), draft.speakerIDs_.end(), draft.word_.speakerID) ==
        draft.speakerIDs_.end())
        draft.speakerIDs_.push_back(draft.word_.speakerID);
    for (std::size_t i = 0; i < draft.speakerIDs_.size(); ++i) {
        const auto found = shown.speakers.find(draft.speakerIDs_[i]);
        draft.speakerTitles_.push_back(found != shown.speakers.end() ? found->second
                                                                     : locale.text("Unnamed speaker"));
        if (draft.speakerIDs_[i] == draft.word_.speakerID)
            draft.speakerIndex_ = int(i);
    }
    return draft;
}

std::string CorrectionDraft::changeMode(int mode, const MeetingDetailSnapshot* shown) {
    mode_ = mode;
    if (mode == speakerName) {
        fieldText_.clear();
        if (shown != nullptr)
            if (const auto found = shown->speakers.find(word_.speakerID); found != shown->speakers.end())
                fieldText_ = found->second;
    } else {
        fieldText_ = word_.text;
    }
    return fieldText_;
}

std::optional<MeetingCorrection> CorrectionDraft::save(const MeetingDetailSnapshot* shown,
                                                       std::string_view fieldText, int pickerIndex,
                                                       bool ownerListening, const DetailLocale& locale) {
    if (shown == nullptr || !shown->canEdit || saving_ || conflict_ || !ownerListening)
        return std::nullopt;
    const std::string text = unicode::trimWhitespaceAndNewlines(fieldText);
    std::optional<MeetingCorrection> correction;
    if (mode_ == assignSpeaker) {
        if (pickerIndex < 0 || std::size_t(pickerIndex) >= speakerIDs_.size())
            return std::nullopt;
        correction = MeetingCorrection::assignSpeaker(wordIDs_, speakerIDs_[std::size_t(pickerIndex)]);
    } else if (text.empty()) {
        return std::nullopt;
    } else if (mode_ == speakerName) {
        correction = MeetingCorrection::renameSpeaker(word_.speakerID, text);
    } else {
        correction = MeetingCorrection::word(word_.id, text);
    }
    pending_ = correction;
    saving_ = true;
    saveEnabled_ = false;
    status_ = locale.text("Saving correction…");
    return correction;
}

bool CorrectionDraft::reload(const MeetingDetailSnapshot* shown, const DetailLocale& locale) {
    if (saving_ || shown == nullptr || !shown->canEdit)
        return false;
    status_ = locale.text("Reloading the transcript. Your draft is kept.");
    return true;
}

bool CorrectionDraft::useCurrentRevision(const MeetingDetailSnapshot* shown, const DetailLocale& locale) {
    if (shown == nullptr || !shown->canEdit || saving_ || revision_ == shown->revision)
        return false;
    revision_ = shown->revision;
    conflict_ = false;
    rebaseVisible_ = false;
    saveEnabled_ = true;
    status_ = locale.text("Your draft will be saved against the current revision. Generated notes keep their "
                          "stated source version.");
    return true;
}

bool CorrectionDraft::finish(bool saved, bool conflict, const std::optional<std::string>& message,
                             bool canEdit, const DetailLocale& locale) {
    saving_ = false;
    conflict_ = conflict;
    saveEnabled_ = canEdit && !conflict;
    if (saved)
        return true;
    if (message && !unicode::trimWhitespaceAndNewlines(*message).empty())
        status_ = *message;
    else if (conflict)
        status_ =
            locale.text("Another editor changed this transcript. Your draft is kept. Reload, compare, then "
                        "choose Use current revision.");
    else
        status_ = locale.text("The correction could not be saved. Your draft is kept; try again.");
    reloadVisible_ = conflict;
    return false;
}

void CorrectionDraft::apply(const MeetingDetailSnapshot& display, const DetailLocale& locale) {
    saveEnabled_ = display.canEdit && !saving_ && !conflict_;
    if (!display.canEdit)
        status_ = locale.text("Editing permission has changed. Your draft is kept, but it cannot be saved.");
    if (revision_ != display.revision && !saving_ && display.canEdit) {
        conflict_ = true;
        saveEnabled_ = false;
        rebaseVisible_ = true;
        status_ = locale.text("The transcript changed. Your draft is kept. Compare it with the current text, "
                              "then choose Use current "
                              "revision.");
        const auto current = std::find_if(display.words.begin(), display.words.end(),
                                          [&](const auto& w) { return w.id == word_.id; });
        if (current != display.words.end())
            status_ += "\n" + locale.text("Current text") + ": " + current->text;
    }
}

} // namespace nuvel::meetingdetail
