#include "Nuvel/ui/detail/DetailCorrectionSheet.hpp"

#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/detail/DetailSheetViews.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace nuvel {

using namespace meetingdetail;

DetailCorrectionSheet::DetailCorrectionSheet(MeetingDetailController& owner, const DetailLocale& locale,
                                             std::function<void()> close)
    : owner_(owner), locale_(locale), close_(std::move(close)) {
    ensureControls();
}

// The sheet's three controls live with the controller; should a window take an open sheet down
// with it, they are made again.
void DetailCorrectionSheet::ensureControls() {
    if (field_ == nullptr)
        field_ = new QLineEdit;
    if (status_ == nullptr) {
        status_ = new QLabel;
        status_->setTextFormat(Qt::PlainText); // it quotes another editor's words
        status_->setWordWrap(true);
    }
    if (speakerPicker_ == nullptr) {
        speakerPicker_ = new QComboBox;
        nameChoice(speakerPicker_, localized("Speaker"));
    }
}

void DetailCorrectionSheet::putBackControls() {
    for (QWidget* control : std::initializer_list<QWidget*>{field_, status_, speakerPicker_})
        if (control != nullptr) {
            control->hide();
            control->setParent(nullptr);
        }
}

void DetailCorrectionSheet::deleteViews() {
    putBackControls();
    if (sheet_ != nullptr)
        delete sheet_.data();
    delete field_.data();
    delete status_.data();
    delete speakerPicker_.data();
}

void DetailCorrectionSheet::close() {
    putBackControls();
    closeSheet(sheet_);
    draft_.reset();
    saveButton_ = nullptr;
    reloadButton_ = nullptr;
    rebaseButton_ = nullptr;
    modes_ = nullptr;
}

void DetailCorrectionSheet::clear() {
    draft_.reset();
    ensureControls();
    field_->clear();
    status_->clear();
    speakerPicker_->clear();
}

bool DetailCorrectionSheet::open(const MeetingDetailSnapshot& shown,
                                 const std::vector<MeetingDetailSnapshot::Word>& words, QWidget* root) {
    auto draft = CorrectionDraft::open(shown, words, locale_);
    if (!draft)
        return false;
    draft_ = std::move(draft);
    ensureControls();

    field_->setText(QString::fromStdString(draft_->fieldText()));
    field_->setReadOnly(false);
    field_->setObjectName(QStringLiteral("meeting-correction-draft"));
    field_->setAccessibleName(localized("Correction draft"));
    field_->setFixedWidth(440);
    status_->setObjectName(QStringLiteral("meeting-correction-status"));
    status_->setFixedWidth(440);
    speakerPicker_->clear();
    for (const auto& title : draft_->speakerTitles())
        speakerPicker_->addItem(QString::fromStdString(title));
    speakerPicker_->setCurrentIndex(draft_->speakerIndex());
    speakerPicker_->setObjectName(QStringLiteral("meeting-correction-speaker"));

    MeetingDetailController* owner = &owner_;
    QDialog* sheet =
        makeSheet(root, localized("Correct transcript"), 500, 350, owner, [this](QDialog* closing) {
            if (closing != sheet_)
                return;
            if (draft_ && draft_->saving()) {
                closing->open(); // a save in flight keeps the sheet
                return;
            }
            close_();
        });
    sheet->setObjectName(QStringLiteral("meeting-correction-sheet"));
    auto* stack = new SheetStackView(12);
    modes_ = new SegmentedControl(
        {localized("Word text"), localized("Speaker name"), localized("Assign speaker")});
    modes_->setObjectName(QStringLiteral("meeting-correction-mode"));
    modes_->setAccessibleName(localized("Correction type"));
    modes_->setSelectedSegment(0);
    QObject::connect(modes_, &SegmentedControl::segmentChosen, owner,
                     &MeetingDetailController::changeCorrectionMode);
    auto* cancel = new QPushButton(localized("Cancel"));
    cancel->setObjectName(QStringLiteral("meeting-correction-cancel"));
    QObject::connect(cancel, &QPushButton::clicked, owner, &MeetingDetailController::cancelCorrection);
    saveButton_ = new QPushButton(localized("Save correction"));
    saveButton_->setObjectName(QStringLiteral("meeting-correction-save"));
    saveButton_->setDefault(true);
    QObject::connect(saveButton_, &QPushButton::clicked, owner, &MeetingDetailController::saveCorrection);
    auto* undo = new QPushButton(localized("Undo draft"));
    undo->setObjectName(QStringLiteral("meeting-correction-undo"));
    QObject::connect(undo, &QPushButton::clicked, owner, &MeetingDetailController::undoDraft);
    reloadButton_ = new QPushButton(localized("Reload transcript"));
    reloadButton_->setObjectName(QStringLiteral("meeting-correction-reload"));
    QObject::connect(reloadButton_, &QPushButton::clicked, owner, &MeetingDetailController::reloadCorrection);
    rebaseButton_ = new QPushButton(localized("Use current revision"));
    rebaseButton_->setObjectName(QStringLiteral("meeting-correction-rebase"));
    QObject::connect(rebaseButton_, &QPushButton::clicked, owner,
                     &MeetingDetailController::useCurrentRevision);
    for (QPushButton* button : {cancel, saveButton_.data(), undo, reloadButton_.data(), rebaseButton_.data()})
        if (button != saveButton_)
            button->setAutoDefault(false);
    auto* reloadRow = makeButtonRow({}, {reloadButton_, rebaseButton_});

    stack->add(makeSheetHeading(localized("Correct transcript")));
    stack->add(modes_);
    stack->add(field_);
    stack->add(speakerPicker_);
    stack->add(status_);
    stack->add(reloadRow, 20);
    stack->add(makeButtonRow({cancel, saveButton_}, {undo}));
    field_->show();
    status_->show();
    speakerPicker_->hide();
    applySheetDirection(stack);
    installSheetContent(sheet, stack, 480);
    sheet_ = sheet;
    showDraft();
    if (root != nullptr)
        sheet->open();
    field_->setFocus(Qt::OtherFocusReason);
    return true;
}

// Puts the draft's state on the sheet's controls.
void DetailCorrectionSheet::showDraft() {
    if (!draft_ || sheet_ == nullptr)
        return;
    status_->setText(QString::fromStdString(draft_->status()));
    if (saveButton_ != nullptr)
        saveButton_->setEnabled(draft_->saveEnabled());
    if (reloadButton_ != nullptr)
        reloadButton_->setVisible(draft_->reloadVisible());
    if (rebaseButton_ != nullptr)
        rebaseButton_->setVisible(draft_->rebaseVisible());
    sheet_->adjustSize(); // the status may have grown a line
}

void DetailCorrectionSheet::apply(const MeetingDetailSnapshot& display) {
    if (sheet_ == nullptr || !draft_)
        return;
    draft_->apply(display, locale_);
    showDraft();
}

bool DetailCorrectionSheet::finish(bool saved, bool conflict, const std::optional<std::string>& message,
                                   bool canEdit) {
    if (draft_->finish(saved, conflict, message, canEdit, locale_))
        return true;
    showDraft();
    return false;
}

void DetailCorrectionSheet::changeMode(int mode, const MeetingDetailSnapshot* shown) {
    if (!draft_ || sheet_ == nullptr)
        return;
    const std::string text = draft_->changeMode(mode, shown);
    field_->setVisible(mode != CorrectionDraft::assignSpeaker);
    speakerPicker_->setVisible(mode == CorrectionDraft::assignSpeaker);
    field_->setText(QString::fromStdString(text));
}

void DetailCorrectionSheet::undo() {
    if (sheet_ != nullptr && field_->isUndoAvailable())
        field_->undo();
}

bool DetailCorrectionSheet::reload(const MeetingDetailSnapshot* shown) {
    if (!draft_ || sheet_ == nullptr || !draft_->reload(shown, locale_))
        return false;
    showDraft();
    return true;
}

void DetailCorrectionSheet::useCurrentRevision(const MeetingDetailSnapshot* shown) {
    if (draft_ && sheet_ != nullptr && draft_->useCurrentRevision(shown, locale_))
        showDraft();
}

std::optional<std::pair<MeetingCorrection, std::string>>
DetailCorrectionSheet::save(const MeetingDetailSnapshot* shown, bool canReport) {
    if (!draft_ || sheet_ == nullptr)
        return std::nullopt;
    auto correction =
        draft_->save(shown, field_->text().toStdString(), speakerPicker_->currentIndex(), canReport, locale_);
    if (!correction)
        return std::nullopt;
    showDraft();
    return std::pair(std::move(*correction), draft_->revision());
}

} // namespace nuvel
