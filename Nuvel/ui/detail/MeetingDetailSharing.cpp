// The rename and sharing sheets. Each action button acts only while the screen still shows the
// meeting the sheet was opened on; Cancel and Done always close.
#include "Nuvel/model/detail/DetailSheetRules.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/detail/DetailSheetViews.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cmath>

namespace nuvel {

using namespace meetingdetail;

#define ENTRY NUVEL_MAIN_ACTOR_ENTRY()

namespace {
QLabel* notice(const QString& text, int width) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText); // rows carry the service's words as sent
    label->setWordWrap(true);
    label->setFixedWidth(width);
    return label;
}
QWidget* row(const QList<QWidget*>& views) {
    auto* line = new QWidget;
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (QWidget* view : views)
        layout->addWidget(view);
    layout->addStretch(1);
    return line;
}
} // namespace

bool MeetingDetailController::stillShowing(const std::string& id) const {
    return snapshot_ && snapshot_->id == id;
}

void MeetingDetailController::showRename() {
    ENTRY;
    if (!snapshot_ || !snapshot_->canEdit || !isViewLoaded() || windowHasSheet())
        return;
    QDialog* sheet = makeSheet(localized("Rename meeting"), 500, 190);
    sheet->setObjectName(QStringLiteral("meeting-rename-sheet"));
    auto* stack = new SheetStackView(12);
    auto* field = new QLineEdit(QString::fromStdString(snapshot_->title));
    field->setAccessibleName(localized("Meeting title"));
    field->setObjectName(QStringLiteral("meeting-rename-title"));
    field->setFixedWidth(440);
    QPointer<MeetingDetailController> self(this);
    const std::string openedID = snapshot_->id;
    auto* cancel = new ClosureButton(localized("Cancel"), [self] {
        if (self)
            self->closeSheet(self->renameSheet_);
    });
    cancel->setObjectName(QStringLiteral("meeting-rename-cancel"));
    auto* save = new ClosureButton(localized("Save title"), [self, field, openedID] {
        const auto title = renamedTitle(field->text().toStdString());
        if (!title || !self || !self->stillShowing(openedID) || !self->snapshot_->canEdit)
            return;
        if (self->onRename)
            self->onRename(*title);
        self->closeSheet(self->renameSheet_);
    });
    save->setObjectName(QStringLiteral("meeting-rename-save"));
    save->setDefault(true);
    stack->add(makeSheetHeading(localized("Rename meeting")));
    stack->add(field, 20);
    stack->add(makeButtonRow({cancel, save}, {}));
    applySheetDirection(stack);
    installSheetContent(sheet, stack, 480);
    renameSheet_ = sheet;
    sheet->open();
    field->setFocus(Qt::OtherFocusReason);
}

void MeetingDetailController::showSharing() {
    ENTRY;
    if (!snapshot_ || !snapshot_->canShare || sharingSheet_ != nullptr || !isViewLoaded())
        return;
    QDialog* sheet = makeSheet(localized("Sharing"), 540, 620);
    sheet->setObjectName(QStringLiteral("meeting-sharing-sheet"));
    QWidget* content = sharingContent(*snapshot_);
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(20, 0, 20, 0);
    layout->addWidget(scroll);
    content->adjustSize();
    const int height = std::min(620, int(std::ceil(content->sizeHint().height())));
    sheet->resize(470, height);
    sharingSheet_ = sheet;
    sheet->open();
    if (auto* address = sheet->findChild<QLineEdit*>(QStringLiteral("meeting-sharing-address")))
        address->setFocus(Qt::OtherFocusReason);
}

QWidget* MeetingDetailController::sharingContent(const MeetingDetailSnapshot& opened) {
    auto* stack = new SheetStackView(10);
    stack->column()->setContentsMargins(0, 20, 0, 20);
    QPointer<MeetingDetailController> self(this);
    const std::string openedID = opened.id;
    // An action of the sheet: only while the same meeting is shown and may still be shared.
    const auto acting = [self, openedID](auto body) {
        return [self, openedID, body] {
            if (!self || !self->stillShowing(openedID) || !self->snapshot_->canShare)
                return;
            body(*self);
        };
    };

    auto* address = new QLineEdit;
    address->setPlaceholderText(localized("Guest email address"));
    address->setAccessibleName(localized("Guest email address"));
    address->setObjectName(QStringLiteral("meeting-sharing-address"));
    address->setFixedWidth(430);
    auto* acknowledge = new QCheckBox(localized("I understand the guest can play retained audio"));
    acknowledge->setObjectName(QStringLiteral("meeting-sharing-acknowledge"));
    stack->add(makeSheetHeading(localized("Invite a guest")));
    stack->add(notice(
        localized("This guest can read notes and transcript and play retained audio. Private notes stay "
                  "private. Review generated notes before sharing."),
        430));
    stack->add(address);
    stack->add(acknowledge);
    for (const auto& share : opened.shares) {
        auto* label = new QLabel(QString::fromStdString(shareRowText(share, locale_)));
        label->setTextFormat(Qt::PlainText);
        auto* revoke =
            new ClosureButton(localized("Revoke"), acting([id = share.id](MeetingDetailController& c) {
                                  if (c.onRevokeShare)
                                      c.onRevokeShare(id);
                                  c.closeSheet(c.sharingSheet_);
                              }));
        revoke->setObjectName(QString::fromStdString("meeting-sharing-revoke-" + share.id));
        stack->add(row({label, revoke}));
    }
    auto* invite = new ClosureButton(
        localized("Invite guest"), acting([address, acknowledge](MeetingDetailController& c) {
            const auto invitation =
                MeetingShareRequest::guestInvitation(address->text().toStdString(), acknowledge->isChecked());
            if (const auto* refusal = std::get_if<GuestInvitationRefusal>(&invitation)) {
                if (*refusal == GuestInvitationRefusal::acknowledgementMissing)
                    acknowledge->setFocus(Qt::OtherFocusReason);
                else
                    address->setFocus(Qt::OtherFocusReason);
                return;
            }
            if (c.onCreateShare)
                c.onCreateShare(std::get<MeetingShareRequest>(invitation));
            c.closeSheet(c.sharingSheet_);
        }));
    invite->setObjectName(QStringLiteral("meeting-sharing-invite"));
    // A press before the acknowledgement would send nothing and say nothing: the button waits for it.
    invite->setEnabled(acknowledge->isChecked());
    QObject::connect(acknowledge, &QCheckBox::toggled, invite, &QWidget::setEnabled);
    stack->add(row({invite}), 16);
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFixedWidth(430);
    stack->add(line, 16);

    stack->add(makeSheetHeading(localized("Create a view-only link")));
    stack->add(notice(
        localized("Anyone with the link can read notes and transcript until it expires or you revoke it. "
                  "Include audio only when you intend to share it. Private notes stay private."),
        430));
    auto* expiry = new QComboBox;
    expiry->addItems({localized("Expires in 7 days"), localized("Expires in 30 days")});
    expiry->setAccessibleName(localized("Share link expiry"));
    expiry->setObjectName(QStringLiteral("meeting-sharing-link-expiry"));
    auto* audio = new QCheckBox(localized("Include retained audio in this link"));
    audio->setObjectName(QStringLiteral("meeting-sharing-link-audio"));
    audio->setEnabled(linkAudioAllowed(opened));
    auto* create =
        new ClosureButton(localized("Create link"), acting([expiry, audio](MeetingDetailController& c) {
                              const LinkRequest request =
                                  linkRequest(expiry->currentIndex(), audio->isEnabled(), audio->isChecked());
                              if (c.onCreateLink)
                                  c.onCreateLink(request.days, request.includeAudio);
                              c.closeSheet(c.sharingSheet_);
                          }));
    create->setObjectName(QStringLiteral("meeting-sharing-create-link"));
    stack->add(expiry);
    stack->add(audio);
    stack->add(row({create}));
    if (pendingLinkURL_) {
        auto* link = notice(QString::fromStdString(*pendingLinkURL_), 430);
        link->setTextInteractionFlags(Qt::TextSelectableByMouse);
        link->setObjectName(QStringLiteral("meeting-sharing-new-link"));
        auto* copy = new ClosureButton(localized("Copy new link"), [self] {
            if (self)
                self->copyCreatedLink();
        });
        stack->add(link);
        stack->add(row({copy}));
    }
    for (const auto& entry : opened.links) {
        auto* label = notice(QString::fromStdString(linkRowText(entry, locale_)), 320);
        auto* revoke =
            new ClosureButton(localized("Revoke link"), acting([id = entry.id](MeetingDetailController& c) {
                                  if (c.onRevokeLink)
                                      c.onRevokeLink(id);
                                  c.closeSheet(c.sharingSheet_);
                              }));
        revoke->setObjectName(QString::fromStdString("meeting-sharing-revoke-link-" + entry.id));
        stack->add(row({label, revoke}));
    }
    auto* done = new ClosureButton(localized("Done"), [self] {
        if (self)
            self->closeSheet(self->sharingSheet_);
    });
    done->setObjectName(QStringLiteral("meeting-sharing-done"));
    stack->column()->addSpacing(10);
    auto* doneRow = makeButtonRow({done}, {});
    doneRow->setFixedWidth(430);
    stack->add(doneRow);
    applySheetDirection(stack);
    // An e-mail address reads left to right in every interface.
    address->setLayoutDirection(Qt::LeftToRight);
    address->setAlignment(Qt::AlignLeft | Qt::AlignAbsolute | Qt::AlignVCenter);
    return stack;
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
