#include "Nuvel/ui/detail/MeetingDetailController.hpp"

#include "Nuvel/model/detail/DetailStamps.hpp"
#include "Nuvel/model/detail/MeetingDetailHeader.hpp"
#include "Nuvel/model/detail/MeetingDetailTables.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/detail/ReadableTextView.hpp"
#include "Nuvel/ui/widgets/MenuButton.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "NuvelKit/store/NuvelLink.hpp"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QToolButton>
#include <algorithm>
#include <variant>

namespace nuvel {

using namespace meetingdetail;

#define ENTRY NUVEL_MAIN_ACTOR_ENTRY()

namespace {
QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

void setShownText(QLabel* label, const std::string& text) {
    label->setText(qs(text));
    label->setVisible(!text.empty());
}

// The words a correction changed: the word retyped, the words given to a speaker, or the words
// selected when a speaker was renamed.
std::vector<std::string> correctedWordIDs(const CorrectionDraft& draft) {
    if (const auto& pending = draft.pending()) {
        if (const auto* word = std::get_if<MeetingCorrection::Word>(&pending->value))
            return {word->id};
        if (const auto* assigned = std::get_if<MeetingCorrection::AssignSpeaker>(&pending->value))
            return assigned->wordIDs;
    }
    return draft.wordIDs();
}
} // namespace

MeetingDetailController::MeetingDetailController(std::string webHost, QObject* parent)
    : QObject(parent), webHost_(webHost.empty() ? std::string(NuvelLink::webHost) : std::move(webHost)),
      correction_(*this, locale_, [this] { closeCorrectionSheet(); }), sheets_(*this, locale_) {
    locale_.localize = [](std::string_view key) { return localize(key); };
}

MeetingDetailController::~MeetingDetailController() {
    correction_.deleteViews();
    sheets_.deleteViews();
    if (root_ != nullptr && root_->parent() == nullptr)
        delete root_.data();
}

void MeetingDetailController::render(const NativeMeetingDocument& document,
                                     const MeetingSharingDocument* sharing,
                                     const MeetingTranscriptDocument* originalTranscript,
                                     const std::optional<std::string>& pendingLinkURL) {
    ENTRY;
    locale_.preferredLanguages.clear();
    for (const QString& language : preferredLanguages())
        locale_.preferredLanguages.push_back(language.toStdString());
    const auto accepted = acceptedPendingLink(pendingLinkURL, webHost_);
    originalTranscript_ = originalTranscript != nullptr
                              ? std::optional<MeetingTranscriptDocument>(*originalTranscript)
                              : std::nullopt;
    if (!originalTranscript_) {
        showingOriginal_ = false;
    }
    MeetingDetailSnapshot next = MeetingDetailSnapshot::make(document, sharing, locale_);
    const bool sameMeeting = snapshot_ && snapshot_->id == next.id;
    const bool sameRevision = sameMeeting && snapshot_->revision == next.revision;
    snapshot_ = std::move(next);
    if (!sameMeeting) {
        pendingLinkURL_.reset();
        toolbar_.showCopyLink(false);
        closeCorrectionSheet();
        sheets_.closeSharing();
        sheets_.closeRename();
        showingOriginal_ = false;
        find_.clear();
    }
    if (isViewLoaded())
        redraw();
    pendingLinkURL_ = snapshot_->canShare ? accepted : std::nullopt;
    toolbar_.showCopyLink(pendingLinkURL_.has_value());
    // The meeting drawn anew after a saved correction, until it shows the corrected revision (a
    // redraw of the text on screen keeps the selection as it is).
    if (corrected_ && corrected_->meetingID != snapshot_->id) {
        corrected_.reset();
    } else if (corrected_ && !sameRevision) {
        if (isViewLoaded())
            showCorrectedWords(corrected_->wordIDs);
        if (snapshot_->revision != corrected_->revision)
            corrected_.reset();
    }
}

void MeetingDetailController::showCorrectedWords(const std::vector<std::string>& wordIDs) {
    std::optional<TextRange> words;
    for (const std::string& id : wordIDs) {
        const auto range = panes_.wordRanges().find(id);
        if (range == panes_.wordRanges().end())
            continue;
        const std::size_t start =
            words ? std::min(words->location, range->second.location) : range->second.location;
        const std::size_t end = words ? std::max(words->end(), range->second.end()) : range->second.end();
        words = TextRange{start, end - start};
    }
    if (!words)
        return;
    selectTab(1);
    panes_.transcript()->selectRange(int(words->location), int(words->length));
}

void MeetingDetailController::clear() {
    ENTRY;
    snapshot_.reset();
    pendingLinkURL_.reset();
    originalTranscript_.reset();
    showingOriginal_ = false;
    panes_.setDisplayedWords({});
    closeCorrectionSheet();
    sheets_.closeSharing();
    sheets_.closeRename();
    panes_.forgetContent();
    correction_.clear();
    if (!isViewLoaded())
        return;
    toolbar_.showCopyLink(false);
    layerPopup_->hide();
    titleLabel_->setText(localized("Select a meeting"));
    subtitleLabel_->clear();
    subtitleLabel_->hide();
    provenance_.clear();
    staleBanner_->hide();
    statusSaysNoMatches_ = false;
    setShownText(statusLabel_, {});
    panes_.clearDocuments();
    find_.clear();
    tabs_->setSelectedSegment(0);
    updateTabContent();
    toolbar_.correctItem()->setEnabled(false);
    toolbar_.exportButton()->setEnabled(false);
    toolbar_.shareButton()->setEnabled(false);
    toolbar_.renameItem()->setEnabled(false);
    updatePlayback(false, 0, 0, false);
}

void MeetingDetailController::redraw() {
    const MeetingDetailSnapshot display =
        snapshot_->displayCopy(originalTranscript_ ? &*originalTranscript_ : nullptr, showingOriginal_);
    panes_.setDisplayedWords(display.words);
    const auto header = MeetingDetailHeader::make(display, dismissedStaleID_, locale_);
    titleLabel_->setText(qs(header.title));
    provenance_ = qs(header.provenance);
    setShownText(subtitleLabel_, header.subtitle);
    staleBanner_->setVisible(header.staleBanner);
    statusSaysNoMatches_ = false;
    setShownText(statusLabel_, header.status);
    updateLayerControls();

    toolbar_.correctItem()->setEnabled(display.canEdit && !correction_.saving());
    toolbar_.exportButton()->setEnabled(display.canExport);
    toolbar_.renameItem()->setEnabled(snapshot_->canEdit);
    if (!snapshot_->canEdit)
        sheets_.closeRename();
    toolbar_.shareButton()->setEnabled(display.canShare);
    if (!display.canShare) {
        pendingLinkURL_.reset();
        toolbar_.showCopyLink(false);
        sheets_.closeSharing();
    }
    panes_.drawTranscript(display, locale_);
    if (panes_.drawNotes(display, locale_))
        selectTab(1);
    updateAudioStatus();
    correction_.apply(display);
    updateEditEnabled();
}

void MeetingDetailController::updatePlayback(bool playing, std::int64_t positionMS, std::int64_t durationMS,
                                             bool audioAvailable) {
    ENTRY;
    audioAvailable_ = audioAvailable;
    if (!isViewLoaded())
        return;
    playback_.show(PlaybackBar::make(playing, positionMS, durationMS, audioAvailable, snapshot(), locale_),
                   playing);
    updateAudioStatus();
}

void MeetingDetailController::updateAudioStatus() {
    if (!isViewLoaded())
        return;
    playback_.showAudioStatus(audioStatusText(snapshot(), audioAvailable_, locale_));
}

void MeetingDetailController::finishCorrection(bool saved, bool conflict,
                                               const std::optional<std::string>& message) {
    ENTRY;
    if (!snapshot_ || correction_.sheet() == nullptr || !correction_.draft())
        return;
    std::vector<std::string> wordIDs = correctedWordIDs(*correction_.draft());
    if (correction_.finish(saved, conflict, message, snapshot_->canEdit)) {
        corrected_ = CorrectedWords{snapshot_->id, std::move(wordIDs), snapshot_->revision};
        closeCorrectionSheet();
        showStatus(locale_.text("Correction saved. Notes retain their stated source revision."));
        // The keyboard goes back to the words just corrected, not to wherever the window's
        // activation would put it.
        if (isViewLoaded() && panes_.transcript()->isVisibleTo(root_))
            panes_.transcript()->setFocus(Qt::OtherFocusReason);
    }
    updateEditEnabled();
}

void MeetingDetailController::finishInvitation(bool invited, const std::string& message) {
    ENTRY;
    sheets_.finishInvitation(invited, qs(message));
}

void MeetingDetailController::setCanDelete(bool canDelete) {
    canDelete_ = canDelete;
    toolbar_.showDelete(canDelete);
}

void MeetingDetailController::showStatus(const std::string& sentence) {
    statusSaysNoMatches_ = false;
    if (statusLabel_ != nullptr)
        setShownText(statusLabel_, sentence);
}

void MeetingDetailController::selectTab(int segment) {
    if (!isViewLoaded())
        return;
    tabs_->setSelectedSegment(segment);
    updateTabContent();
}

void MeetingDetailController::changeTab() {
    ENTRY;
    if (!isViewLoaded())
        return;
    updateTabContent();
}

void MeetingDetailController::updateTabContent() {
    panes_.showTab(tabs_->selectedSegment() == 1);
    updateLayerControls();
}

void MeetingDetailController::updateLayerControls() {
    if (!isViewLoaded())
        return;
    layerPopup_->setVisible(originalTranscript_.has_value() && tabs_->selectedSegment() == 1);
    layerPopup_->setCurrentIndex(showingOriginal_ ? 1 : 0);
}

void MeetingDetailController::dismissStale() {
    ENTRY;
    dismissedStaleID_ = snapshot_ ? std::optional<std::string>(snapshot_->id) : std::nullopt;
    if (staleBanner_ != nullptr)
        staleBanner_->hide();
}

void MeetingDetailController::togglePlayback() {
    ENTRY;
    if (onTogglePlayback)
        onTogglePlayback();
}

void MeetingDetailController::seekAudio() {
    ENTRY;
    if (isViewLoaded() && onSeek)
        onSeek(playback_.position());
}

void MeetingDetailController::changeSpeed() {
    ENTRY;
    if (!isViewLoaded())
        return;
    if (const auto rate = playbackSpeed(playback_.speedIndex()); rate && onSpeed)
        onSpeed(*rate);
}

void MeetingDetailController::exportSelected(int itemIndex) {
    ENTRY;
    if (const auto request = exportRequest(itemIndex, snapshot(), showingOriginal_); request && onExport)
        onExport(request->first, request->second);
}

void MeetingDetailController::copyDocument() {
    ENTRY;
    const bool transcriptTab = tabs_ != nullptr && tabs_->selectedSegment() == 1;
    const auto outcome = meetingdetail::copyDocument(snapshot(), transcriptTab, panes_.transcriptText(),
                                                     panes_.notesText(), locale_);
    if (const auto* refused = std::get_if<CopyRefused>(&outcome)) {
        showStatus(refused->sentence);
        return;
    }
    const auto& copied = std::get<CopyDocument>(outcome);
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromStdU16String(copied.text));
    showStatus(copied.sentence);
}

void MeetingDetailController::showInfo() {
    ENTRY;
    if (!snapshot_ || !isViewLoaded())
        return;
    toolbar_.showInfo(root_, provenance_);
}

void MeetingDetailController::refreshDocument() {
    ENTRY;
    if (onRefresh)
        onRefresh();
}

void MeetingDetailController::deleteMeeting() {
    ENTRY;
    if (onDelete)
        onDelete();
}

void MeetingDetailController::openLink(const QString& link) {
    ENTRY;
    const DetailLink parsed = parseDetailLink(link.toStdString());
    if (const auto* time = std::get_if<TimeLink>(&parsed)) {
        jumpToTime(time->milliseconds);
    } else if (const auto* evidence = std::get_if<EvidenceLink>(&parsed)) {
        if (const auto found = panes_.evidence(evidence->key))
            selectEvidence(*found);
    }
}

void MeetingDetailController::jumpToTime(std::int64_t ms) {
    const TimeJump jump = meetingdetail::jumpToTime(panes_.displayedWords(), panes_.wordRanges(), ms);
    if (jump.selection && isViewLoaded()) {
        selectTab(1);
        panes_.transcript()->selectRange(int(jump.selection->location), int(jump.selection->length));
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
    const auto selection = evidenceSelection(evidence, panes_.displayedWords(), panes_.wordRanges(), locale_);
    if (const auto* refused = std::get_if<EvidenceRefused>(&selection)) {
        showStatus(refused->sentence);
        return;
    }
    const auto& chosen = std::get<EvidenceSelection>(selection);
    selectTab(1);
    panes_.transcript()->selectRange(int(chosen.selection.location), int(chosen.selection.length));
    panes_.transcript()->setFocus(Qt::OtherFocusReason);
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

void MeetingDetailController::updateEditEnabled() {
    if (!isViewLoaded())
        return;
    toolbar_.correctItem()->setEnabled(
        correctionAllowed(snapshot(), showingOriginal_, panes_.selectedWords().size(), correction_.saving()));
}

void MeetingDetailController::playSelection() {
    ENTRY;
    const auto words = panes_.selectedWords();
    std::vector<std::size_t> indexes;
    for (std::size_t i = 0; i < words.size(); ++i)
        indexes.push_back(i);
    if (const auto from = selectionPlayPosition(words, indexes); from && onPlay)
        onPlay(*from);
}

bool MeetingDetailController::findFromFocus() {
    ENTRY;
    return find_.takeFocusWithin(root_);
}

void MeetingDetailController::findNext() {
    ENTRY;
    if (!isViewLoaded())
        return;
    if (const auto none = panes_.findNext(find_.query(), tabs_->selectedSegment() == 1, locale_)) {
        showStatus(*none);
        statusSaysNoMatches_ = true;
    }
}

void MeetingDetailController::findChanged() {
    ENTRY;
    if (statusSaysNoMatches_)
        showStatus({});
}

// The correction sheet's flow: the sheet keeps the draft, the screen its edit command and status.
void MeetingDetailController::closeCorrectionSheet() {
    correction_.close();
    updateEditEnabled();
}

void MeetingDetailController::correctSelection() {
    ENTRY;
    if (!snapshot_ || !snapshot_->canEdit || showingOriginal_ || correction_.saving() ||
        correction_.sheet() != nullptr)
        return;
    if (!correction_.open(*snapshot_, panes_.selectedWords(), root_)) {
        showStatus(locale_.text("Select transcript words to correct them."));
        return;
    }
    updateEditEnabled();
}

void MeetingDetailController::changeCorrectionMode(int mode) {
    ENTRY;
    correction_.changeMode(mode, snapshot());
}

void MeetingDetailController::undoDraft() {
    ENTRY;
    correction_.undo();
}

void MeetingDetailController::reloadCorrection() {
    ENTRY;
    if (correction_.reload(snapshot()) && onReloadCorrection)
        onReloadCorrection();
}

void MeetingDetailController::useCurrentRevision() {
    ENTRY;
    correction_.useCurrentRevision(snapshot());
}

void MeetingDetailController::saveCorrection() {
    ENTRY;
    const auto saving = correction_.save(snapshot(), bool(onCorrection));
    if (!saving)
        return;
    updateEditEnabled();
    // The owner may report the outcome before this call returns; the draft is saving already.
    onCorrection(saving->first, saving->second);
}

void MeetingDetailController::cancelCorrection() {
    ENTRY;
    if (correction_.saving())
        return;
    closeCorrectionSheet();
}

void MeetingDetailController::showRename() {
    ENTRY;
    sheets_.showRename(root_);
}

void MeetingDetailController::showSharing() {
    ENTRY;
    sheets_.showSharing(root_, pendingLinkURL_);
}

void MeetingDetailController::copyCreatedLink() {
    ENTRY;
    if (!snapshot_ || !snapshot_->canShare || !pendingLinkURL_)
        return;
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromStdString(*pendingLinkURL_));
    showStatus(locale_.text("Share link copied. Anyone with this link has the access you chose."));
}

} // namespace nuvel
