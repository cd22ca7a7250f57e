#pragma once

// The detail screen's two reading panes, notes and transcript, with what was drawn in them: the
// shown words, where each word and each cited passage sits in the text, and the text itself for
// find and copy. Clicked links and the transcript's menu go to the screen's controller.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/DetailText.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"
#include "Nuvel/model/detail/MeetingDetailTranscript.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

class QPoint;
class QWidget;

namespace nuvel {

class MeetingDetailController;
class ReadableTextView;

class DetailReadingPanes {
public:
    // Makes both panes side by side in one unparented view, the transcript hidden.
    QWidget* build(MeetingDetailController& owner);
    // The screen's view tree is gone with the panes in it.
    void forget();

    ReadableTextView* notes() const { return notes_; }
    ReadableTextView* transcript() const { return transcript_; }

    // The words of the shown transcript layer, set before it is drawn.
    const meetingdetail::Words& displayedWords() const { return displayedWords_; }
    void setDisplayedWords(meetingdetail::Words words) { displayedWords_ = std::move(words); }
    const meetingdetail::WordRanges& wordRanges() const { return wordRanges_; }
    const meetingdetail::DetailText& transcriptText() const { return transcriptText_; }
    const meetingdetail::DetailText& notesText() const { return notesText_; }
    // The passage a notes link cites, by its key.
    std::optional<MeetingDetailSnapshot::Evidence> evidence(const std::string& key) const;

    // Draws the transcript, keeping its selection where the new text still holds it.
    void drawTranscript(const MeetingDetailSnapshot& display, const meetingdetail::DetailLocale& locale);
    // Draws the notes; true when they ask for the transcript tab instead.
    bool drawNotes(const MeetingDetailSnapshot& display, const meetingdetail::DetailLocale& locale);
    // Forgets what was drawn: the ranges and the texts.
    void forgetContent();
    // Empties both panes' documents.
    void clearDocuments();
    void showTab(bool transcriptTab);

    // The shown words the transcript's selection touches; none while the panes are not made.
    std::vector<MeetingDetailSnapshot::Word> selectedWords() const;
    // Selects the next match of `query` in the shown pane; the sentence to show when none.
    std::optional<std::string> findNext(const std::u16string& query, bool transcriptTab,
                                        const meetingdetail::DetailLocale& locale);

private:
    void showTranscriptMenu(MeetingDetailController& owner, const QPoint& at);

    ReadableTextView* notes_ = nullptr;
    ReadableTextView* transcript_ = nullptr;
    meetingdetail::Words displayedWords_;
    meetingdetail::WordRanges wordRanges_;
    std::map<std::string, MeetingDetailSnapshot::Evidence> evidenceRanges_;
    meetingdetail::DetailText transcriptText_;
    meetingdetail::DetailText notesText_;
};

} // namespace nuvel
