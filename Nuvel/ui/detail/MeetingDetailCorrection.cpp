// The correction sheet: a window-modal sheet over the transcript words the user selected. The
// draft itself and its rules are CorrectionDraft's; this shows it and reports the correction.
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/detail/DetailSheetViews.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace nuvel {

using namespace meetingdetail;

#define ENTRY NUVEL_MAIN_ACTOR_ENTRY()

QDialog* MeetingDetailController::makeSheet(const QString& title, int width, int height) {
    auto* sheet = new QDialog(root_ != nullptr ? root_->window() : nullptr);
    sheet->setWindowTitle(title);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->resize(width, height);
    // Closing the window by other means ends the sheet as Cancel or Done would.
    connect(sheet, &QDialog::rejected, this, [this, sheet] {
        if (sheet == correctionSheet_) {
            if (draft_ && draft_->saving()) {
                sheet->open(); // a save in flight keeps the sheet
                return;
            }
            closeCorrectionSheet();
        } else if (sheet == sharingSheet_) {
            closeSheet(sharingSheet_);
        } else if (sheet == renameSheet_) {
            closeSheet(renameSheet_);
        }
    });
    return sheet;
}

void MeetingDetailController::closeSheet(QPointer<QDialog>& sheet) {
    if (sheet == nullptr)
        return;
    QDialog* closing = sheet;
    sheet = nullptr;
    closing->hide();
    closing->deleteLater();
}

bool MeetingDetailController::windowHasSheet() const {
    if (root_ == nullptr)
        return false;
    for (QDialog* dialog : root_->window()->findChildren<QDialog*>())
        if (dialog->isVisible() && dialog->windowModality() != Qt::NonModal)
            return true;
    return false;
}

void MeetingDetailController::putBackCorrectionControls() {
    for (QWidget* control :
         std::initializer_list<QWidget*>{correctionField_, correctionStatus_, speakerPicker_})
        if (control != nullptr) {
            control->hide();
            control->setParent(nullptr);
        }
}

void MeetingDetailController::closeCorrectionSheet() {
    putBackCorrectionControls();
    closeSheet(correctionSheet_);
    draft_.reset();
    saveButton_ = nullptr;
    reloadButton_ = nullptr;
    rebaseButton_ = nullptr;
    correctionModes_ = nullptr;
    updateEditEnabled();
}

void MeetingDetailController::correctSelection() {
    ENTRY;
    if (!snapshot_ || !snapshot_->canEdit || showingOriginal_ || (draft_ && draft_->saving()) ||
        correctionSheet_ != nullptr)
        return;
    auto draft = CorrectionDraft::open(*snapshot_, selectedWords(), locale_);
    if (!draft) {
        showStatus(locale_.text("Select transcript words to correct them."));
        return;
    }
    draft_ = std::move(draft);
    ensureCorrectionControls();

    correctionField_->setText(QString::fromStdString(draft_->fieldText()));
    correctionField_->setReadOnly(false);
    correctionField_->setObjectName(QStringLiteral("meeting-correction-draft"));
    correctionField_->setAccessibleName(localized("Correction draft"));
    correctionField_->setFixedWidth(440);
    correctionStatus_->setObjectName(QStringLiteral("meeting-correction-status"));
    correctionStatus_->setFixedWidth(440);
    speakerPicker_->clear();
    for (const auto& title : draft_->speakerTitles())
        speakerPicker_->addItem(QString::fromStdString(title));
    speakerPicker_->setCurrentIndex(draft_->speakerIndex());
    speakerPicker_->setObjectName(QStringLiteral("meeting-correction-speaker"));

    QDialog* sheet = makeSheet(localized("Correct transcript"), 500, 350);
    sheet->setObjectName(QStringLiteral("meeting-correction-sheet"));
    auto* stack = new SheetStackView(12);
    correctionModes_ = new SegmentedControl(
        {localized("Word text"), localized("Speaker name"), localized("Assign speaker")});
    correctionModes_->setObjectName(QStringLiteral("meeting-correction-mode"));
    correctionModes_->setSelectedSegment(0);
    connect(correctionModes_, &SegmentedControl::segmentChosen, this,
            &MeetingDetailController::changeCorrectionMode);
    auto* cancel = new QPushButton(localized("Cancel"));
    cancel->setObjectName(QStringLiteral("meeting-correction-cancel"));
    connect(cancel, &QPushButton::clicked, this, &MeetingDetailController::cancelCorrection);
    saveButton_ = new QPushButton(localized("Save correction"));
    saveButton_->setObjectName(QStringLiteral("meeting-correction-save"));
    saveButton_->setDefault(true);
    connect(saveButton_, &QPushButton::clicked, this, &MeetingDetailController::saveCorrection);
    auto* undo = new QPushButton(localized("Undo draft"));
    undo->setObjectName(QStringLiteral("meeting-correction-undo"));
    connect(undo, &QPushButton::clicked, this, &MeetingDetailController::undoDraft);
    reloadButton_ = new QPushButton(localized("Reload transcript"));
    reloadButton_->setObjectName(QStringLiteral("meeting-correction-reload"));
    connect(reloadButton_, &QPushButton::clicked, this, &MeetingDetailController::reloadCorrection);
    rebaseButton_ = new QPushButton(localized("Use current revision"));
    rebaseButton_->setObjectName(QStringLiteral("meeting-correction-rebase"));
    connect(rebaseButton_, &QPushButton::clicked, this, &MeetingDetailController::useCurrentRevision);
    for (QPushButton* button : {cancel, saveButton_.data(), undo, reloadButton_.data(), rebaseButton_.data()})
        if (button != saveButton_)
            button->setAutoDefault(false);
    auto* reloadRow = makeButtonRow({}, {reloadButton_, rebaseButton_});

    stack->add(makeSheetHeading(localized("Correct transcript")));
    stack->add(correctionModes_);
    stack->add(correctionField_);
    stack->add(speakerPicker_);
    stack->add(correctionStatus_);
    stack->add(reloadRow, 20);
    stack->add(makeButtonRow({cancel, saveButton_}, {undo}));
    correctionField_->show();
    correctionStatus_->show();
    speakerPicker_->hide();
    applySheetDirection(stack);
    installSheetContent(sheet, stack, 480);
    correctionSheet_ = sheet;
    showDraft();
    if (root_ != nullptr)
        sheet->open();
    correctionField_->setFocus(Qt::OtherFocusReason);
    updateEditEnabled();
}

// Puts the draft's state on the sheet's controls.
void MeetingDetailController::showDraft() {
    if (!draft_ || correctionSheet_ == nullptr)
        return;
    correctionStatus_->setText(QString::fromStdString(draft_->status()));
    if (saveButton_ != nullptr)
        saveButton_->setEnabled(draft_->saveEnabled());
    if (reloadButton_ != nullptr)
        reloadButton_->setVisible(draft_->reloadVisible());
    if (rebaseButton_ != nullptr)
        rebaseButton_->setVisible(draft_->rebaseVisible());
    correctionSheet_->adjustSize(); // the status may have grown a line
}

void MeetingDetailController::changeCorrectionMode(int mode) {
    ENTRY;
    if (!draft_ || correctionSheet_ == nullptr)
        return;
    const std::string text = draft_->changeMode(mode, snapshot());
    correctionField_->setVisible(mode != CorrectionDraft::assignSpeaker);
    speakerPicker_->setVisible(mode == CorrectionDraft::assignSpeaker);
    correctionField_->setText(QString::fromStdString(text));
}

void MeetingDetailController::undoDraft() {
    ENTRY;
    if (correctionSheet_ != nullptr && correctionField_->isUndoAvailable())
        correctionField_->undo();
}

void MeetingDetailController::reloadCorrection() {
    ENTRY;
    if (!draft_ || correctionSheet_ == nullptr || !draft_->reload(snapshot(), locale_))
        return;
    showDraft();
    if (onReloadCorrection)
        onReloadCorrection();
}

void MeetingDetailController::useCurrentRevision() {
    ENTRY;
    if (draft_ && correctionSheet_ != nullptr && draft_->useCurrentRevision(snapshot(), locale_))
        showDraft();
}

void MeetingDetailController::saveCorrection() {
    ENTRY;
    if (!draft_ || correctionSheet_ == nullptr)
        return;
    const auto correction = draft_->save(snapshot(), correctionField_->text().toStdString(),
                                         speakerPicker_->currentIndex(), bool(onCorrection), locale_);
    if (!correction)
        return;
    showDraft();
    updateEditEnabled();
    // The owner may report the outcome before this call returns; the draft is saving already.
    const std::string revision = draft_->revision();
    onCorrection(*correction, revision);
}

void MeetingDetailController::cancelCorrection() {
    ENTRY;
    if (draft_ && draft_->saving())
        return;
    closeCorrectionSheet();
}

} // namespace nuvel
