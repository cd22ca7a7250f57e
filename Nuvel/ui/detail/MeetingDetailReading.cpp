// Reading the detail screen: links in the notes, the transcript selection and its menu, the
// transcript layers, and find.
#include "Nuvel/model/detail/DetailFind.hpp"
#include "Nuvel/model/detail/DetailStamps.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/detail/ReadableTextView.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTextCursor>

namespace nuvel {

using namespace meetingdetail;

#define ENTRY NUVEL_MAIN_ACTOR_ENTRY()

namespace {
TextRange selectionOf(const ReadableTextView* view) {
    const QTextCursor cursor = view->textCursor();
    return {std::size_t(cursor.selectionStart()),
            std::size_t(cursor.selectionEnd() - cursor.selectionStart())};
}
} // namespace

void MeetingDetailController::openLink(const QString& link) {
    ENTRY;
    const DetailLink parsed = parseDetailLink(link.toStdString());
    if (const auto* time = std::get_if<TimeLink>(&parsed)) {
        jumpToTime(time->milliseconds);
    } else if (const auto* evidence = std::get_if<EvidenceLink>(&parsed)) {
        if (const auto found = evidenceRanges_.find(evidence->key); found != evidenceRanges_.end())
            selectEvidence(MeetingDetailSnapshot::Evidence(found->second));
    }
}

void MeetingDetailController::jumpToTime(std::int64_t ms) {
    const TimeJump jump = meetingdetail::jumpToTime(displayedWords_, wordRanges_, ms);
    if (jump.selection && isViewLoaded()) {
        selectTab(1);
        transcript_->selectRange(int(jump.selection->location), int(jump.selection->length));
    }
    if (onPlay)
        onPlay(jump.playFrom);
}

void MeetingDetailController::selectEvidence(const MeetingDetailSnapshot::Evidence& evidence) {
    if (!isViewLoaded())
        return;
    const auto layer =
        evidenceLayer(evidence, snapshot_.has_value(), originalTranscript_.has_value(), locale_);
    if (const auto* refused = std::get_if<EvidenceRefused>(&layer)) {
        showStatus(refused->sentence);
        return;
    }
    const auto choice = std::get<EvidenceLayer>(layer);
    if (choice == EvidenceLayer::original)
        switchLayer(true);
    if (choice == EvidenceLayer::corrected)
        switchLayer(false);
    const auto selection = evidenceSelection(evidence, displayedWords_, wordRanges_, locale_);
    if (const auto* refused = std::get_if<EvidenceRefused>(&selection)) {
        showStatus(refused->sentence);
        return;
    }
    const auto& chosen = std::get<EvidenceSelection>(selection);
    selectTab(1);
    transcript_->selectRange(int(chosen.selection.location), int(chosen.selection.length));
    transcript_->setFocus(Qt::OtherFocusReason);
    if (chosen.playFrom && onPlay)
        onPlay(*chosen.playFrom);
}

void MeetingDetailController::switchLayer(bool original) {
    showingOriginal_ = original;
    updateLayerControls();
    if (isViewLoaded())
        redraw();
}

void MeetingDetailController::chooseTranscriptLayer() {
    ENTRY;
    if (!snapshot_ || !isViewLoaded())
        return;
    switchLayer(layerPopup_->currentIndex() == 1 && originalTranscript_.has_value());
}

std::vector<MeetingDetailSnapshot::Word> MeetingDetailController::selectedWords() const {
    std::vector<MeetingDetailSnapshot::Word> out;
    if (!isViewLoaded())
        return out;
    for (std::size_t index :
         meetingdetail::selectedWords(displayedWords_, wordRanges_, selectionOf(transcript_)))
        out.push_back(displayedWords_[index]);
    return out;
}

void MeetingDetailController::updateEditEnabled() {
    if (!isViewLoaded())
        return;
    const bool saving = draft_ && draft_->saving();
    edit_->setEnabled(correctionAllowed(snapshot(), showingOriginal_, selectedWords().size(), saving));
}

void MeetingDetailController::playSelection() {
    ENTRY;
    const auto words = selectedWords();
    std::vector<std::size_t> indexes;
    for (std::size_t i = 0; i < words.size(); ++i)
        indexes.push_back(i);
    if (const auto from = selectionPlayPosition(words, indexes); from && onPlay)
        onPlay(*from);
}

void MeetingDetailController::showTranscriptMenu(const QPoint& at) {
    QMenu menu(transcript_);
    QAction* copy = menu.addAction(localized("Copy"));
    copy->setEnabled(transcript_->textCursor().hasSelection());
    connect(copy, &QAction::triggered, transcript_, &QTextEdit::copy);
    connect(menu.addAction(localized("Play selection")), &QAction::triggered, this,
            &MeetingDetailController::playSelection);
    connect(menu.addAction(localized("Correct selection…")), &QAction::triggered, this,
            &MeetingDetailController::correctSelection);
    menu.exec(transcript_->viewport()->mapToGlobal(at));
}

bool MeetingDetailController::findFromFocus() {
    ENTRY;
    if (!isViewLoaded() || root_->isHidden())
        return false;
    QWidget* focus = root_->window()->focusWidget();
    if (focus == nullptr || !root_->isAncestorOf(focus))
        return false;
    search_->setFocus(Qt::ShortcutFocusReason);
    search_->selectAll();
    return true;
}

void MeetingDetailController::findNext() {
    ENTRY;
    if (!isViewLoaded())
        return;
    const bool transcriptTab = tabs_->selectedSegment() == 1;
    ReadableTextView* target = transcriptTab ? transcript_ : notes_;
    const DetailText& text = transcriptTab ? transcriptText_ : notesText_;
    const std::u16string query = search_->text().toStdU16String();
    const FindResult result = meetingdetail::findNext(query, text.string, selectionOf(target), locale_);
    if (const auto* none = std::get_if<FindNoMatches>(&result))
        showStatus(none->sentence);
    else if (const auto* range = std::get_if<TextRange>(&result))
        target->selectRange(int(range->location), int(range->length));
}

} // namespace nuvel
