#include "Nuvel/ui/detail/MeetingDetailController.hpp"

#include "Nuvel/model/detail/MeetingDetailHeader.hpp"
#include "Nuvel/model/detail/MeetingDetailNotes.hpp"
#include "Nuvel/model/detail/MeetingDetailTables.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/detail/DetailTextDocument.hpp"
#include "Nuvel/ui/detail/ReadableTextView.hpp"
#include "Nuvel/ui/widgets/MenuButton.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "NuvelKit/store/NuvelLink.hpp"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <limits>
#include <memory>

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
} // namespace

MeetingDetailController::MeetingDetailController(std::string webHost, QObject* parent)
    : QObject(parent), webHost_(webHost.empty() ? std::string(NuvelLink::webHost) : std::move(webHost)) {
    locale_.localize = [](std::string_view key) { return localize(key); };
    ensureCorrectionControls();
}

// The sheet's three controls live with the controller; should a window take an open sheet down
// with it, they are made again.
void MeetingDetailController::ensureCorrectionControls() {
    if (correctionField_ == nullptr)
        correctionField_ = new QLineEdit;
    if (correctionStatus_ == nullptr) {
        correctionStatus_ = new QLabel;
        correctionStatus_->setTextFormat(Qt::PlainText); // it quotes another editor's words
        correctionStatus_->setWordWrap(true);
    }
    if (speakerPicker_ == nullptr)
        speakerPicker_ = new QComboBox;
}

MeetingDetailController::~MeetingDetailController() {
    putBackCorrectionControls();
    for (QPointer<QDialog>* sheet : {&correctionSheet_, &sharingSheet_, &renameSheet_})
        if (*sheet != nullptr)
            delete sheet->data();
    delete correctionField_.data();
    delete correctionStatus_.data();
    delete speakerPicker_.data();
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
    snapshot_ = std::move(next);
    if (!sameMeeting) {
        pendingLinkURL_.reset();
        if (copyLinkButton_ != nullptr)
            copyLinkButton_->hide();
        closeCorrectionSheet();
        closeSheet(sharingSheet_);
        closeSheet(renameSheet_);
        showingOriginal_ = false;
        if (search_ != nullptr)
            search_->clear();
    }
    if (isViewLoaded())
        redraw();
    pendingLinkURL_ = snapshot_->canShare ? accepted : std::nullopt;
    if (copyLinkButton_ != nullptr)
        copyLinkButton_->setVisible(pendingLinkURL_.has_value());
}

void MeetingDetailController::clear() {
    ENTRY;
    snapshot_.reset();
    pendingLinkURL_.reset();
    originalTranscript_.reset();
    showingOriginal_ = false;
    displayedWords_.clear();
    closeCorrectionSheet();
    closeSheet(sharingSheet_);
    closeSheet(renameSheet_);
    wordRanges_.clear();
    evidenceRanges_.clear();
    draft_.reset();
    ensureCorrectionControls();
    correctionField_->clear();
    correctionStatus_->clear();
    speakerPicker_->clear();
    transcriptText_ = {};
    notesText_ = {};
    if (!isViewLoaded())
        return;
    copyLinkButton_->hide();
    layerPopup_->hide();
    titleLabel_->setText(localized("Select a meeting"));
    subtitleLabel_->clear();
    subtitleLabel_->hide();
    provenance_.clear();
    staleBanner_->hide();
    setShownText(statusLabel_, {});
    notes_->replaceDocument(std::make_unique<QTextDocument>());
    transcript_->replaceDocument(std::make_unique<QTextDocument>());
    search_->clear();
    tabs_->setSelectedSegment(0);
    updateTabContent();
    edit_->setEnabled(false);
    export_->setEnabled(false);
    share_->setEnabled(false);
    rename_->setEnabled(false);
    updatePlayback(false, 0, 0, false);
}

void MeetingDetailController::redraw() {
    const MeetingDetailSnapshot display =
        snapshot_->displayCopy(originalTranscript_ ? &*originalTranscript_ : nullptr, showingOriginal_);
    displayedWords_ = display.words;
    const auto header = MeetingDetailHeader::make(display, dismissedStaleID_, locale_);
    titleLabel_->setText(qs(header.title));
    provenance_ = qs(header.provenance);
    setShownText(subtitleLabel_, header.subtitle);
    staleBanner_->setVisible(header.staleBanner);
    setShownText(statusLabel_, header.status);
    updateLayerControls();

    edit_->setEnabled(display.canEdit && !(draft_ && draft_->saving()));
    export_->setEnabled(display.canExport);
    rename_->setEnabled(snapshot_->canEdit);
    if (!snapshot_->canEdit)
        closeSheet(renameSheet_);
    share_->setEnabled(display.canShare);
    if (!display.canShare) {
        pendingLinkURL_.reset();
        copyLinkButton_->hide();
        closeSheet(sharingSheet_);
    }
    drawTranscript(display);
    drawNotes(display);
    updateAudioStatus();
    if (correctionSheet_ != nullptr && draft_) {
        draft_->apply(display, locale_);
        showDraft();
    }
    updateEditEnabled();
}

void MeetingDetailController::drawTranscript(const MeetingDetailSnapshot& display) {
    const int keptAnchor = transcript_->textCursor().anchor();
    const int keptPosition = transcript_->textCursor().position();
    TranscriptContent content = transcriptContent(display, locale_);
    wordRanges_ = std::move(content.wordRanges);
    transcriptText_ = std::move(content.text);
    transcript_->setAlignsTrailing(transcriptText_.rightToLeft);
    transcript_->replaceDocument(makeDetailTextDocument(transcriptText_, transcript_->palette()));
    const int end = transcript_->document()->characterCount() - 1;
    if (std::max(keptAnchor, keptPosition) <= end) {
        QTextCursor cursor(transcript_->document());
        cursor.setPosition(keptAnchor);
        cursor.setPosition(keptPosition, QTextCursor::KeepAnchor);
        transcript_->setTextCursor(cursor);
    }
}

void MeetingDetailController::drawNotes(const MeetingDetailSnapshot& display) {
    NotesContent content = notesContent(display, locale_);
    evidenceRanges_ = std::move(content.evidenceRanges);
    notesText_ = std::move(content.text);
    notes_->setAlignsTrailing(notesText_.rightToLeft);
    notes_->replaceDocument(makeDetailTextDocument(notesText_, notes_->palette()));
    if (content.showTranscript)
        selectTab(1);
}

void MeetingDetailController::updatePlayback(bool playing, std::int64_t positionMS, std::int64_t durationMS,
                                             bool audioAvailable) {
    ENTRY;
    playing_ = playing;
    audioAvailable_ = audioAvailable;
    if (!isViewLoaded())
        return;
    const auto bar = PlaybackBar::make(playing, positionMS, durationMS, audioAvailable, snapshot(), locale_);
    play_->setIcon(
        QApplication::style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    play_->setAccessibleName(qs(bar.playTitle));
    play_->setToolTip(qs(bar.playTitle));
    play_->setEnabled(bar.controlsEnabled);
    seek_->setEnabled(bar.controlsEnabled);
    speed_->setEnabled(bar.controlsEnabled);
    playbackBar_->setVisible(!bar.barHidden);
    playbackSeparator_->setVisible(!bar.separatorHidden);
    constexpr std::int64_t top = std::numeric_limits<int>::max();
    seek_->blockSignals(true);
    seek_->setMaximum(int(std::min(bar.sliderMaximum, top)));
    seek_->setValue(int(std::clamp<std::int64_t>(bar.sliderValue, 0, top)));
    seek_->blockSignals(false);
    playbackLabel_->setText(qs(bar.label));
    playbackLabel_->setToolTip(qs(bar.tooltip));
    updateAudioStatus();
}

void MeetingDetailController::updateAudioStatus() {
    if (!isViewLoaded())
        return;
    const auto status = audioStatusText(snapshot(), audioAvailable_, locale_);
    setShownText(audioStatusLabel_, status.value_or(""));
}

void MeetingDetailController::finishCorrection(bool saved, bool conflict,
                                               const std::optional<std::string>& message) {
    ENTRY;
    if (!snapshot_ || correctionSheet_ == nullptr || !draft_)
        return;
    if (draft_->finish(saved, conflict, message, snapshot_->canEdit, locale_)) {
        closeCorrectionSheet();
        showStatus(locale_.text("Correction saved. Notes retain their stated source revision."));
        updateEditEnabled();
        return;
    }
    showDraft();
    updateEditEnabled();
}

void MeetingDetailController::setCanDelete(bool canDelete) {
    canDelete_ = canDelete;
    if (deleteItem_ != nullptr) {
        deleteItem_->setVisible(canDelete);
        deleteSeparator_->setVisible(canDelete);
    }
}

void MeetingDetailController::showStatus(const std::string& sentence) {
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
    const bool transcriptTab = tabs_->selectedSegment() == 1;
    notes_->setVisible(!transcriptTab);
    transcript_->setVisible(transcriptTab);
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
        onSeek(seek_->value());
}

void MeetingDetailController::changeSpeed() {
    ENTRY;
    if (!isViewLoaded())
        return;
    if (const auto rate = playbackSpeed(speed_->currentIndex()); rate && onSpeed)
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
    const auto outcome =
        meetingdetail::copyDocument(snapshot(), transcriptTab, transcriptText_, notesText_, locale_);
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
    if (infoPopover_ != nullptr)
        infoPopover_->close();
    auto* popover = new QFrame(root_, Qt::Popup);
    popover->setAttribute(Qt::WA_DeleteOnClose);
    popover->setObjectName(QStringLiteral("meeting-detail-info-popover"));
    auto* layout = new QVBoxLayout(popover);
    layout->setContentsMargins(14, 12, 14, 12);
    auto* text = new QLabel(provenance_);
    text->setTextFormat(Qt::PlainText);
    QFont font = text->font();
    font.setPointSizeF(12);
    text->setFont(font);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setMaximumWidth(300);
    layout->addWidget(text);
    popover->adjustSize();
    popover->move(more_->mapToGlobal(QPoint(0, more_->height())));
    popover->show();
    infoPopover_ = popover;
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

} // namespace nuvel
