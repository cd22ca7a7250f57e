#include "Nuvel/ui/detail/DetailSharingSheets.hpp"

#include "Nuvel/model/detail/DetailSheetRules.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/detail/DetailSheetViews.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace nuvel {

using namespace meetingdetail;

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

DetailSharingSheets::DetailSharingSheets(MeetingDetailController& owner, const DetailLocale& locale)
    : owner_(owner), locale_(locale) {}

bool DetailSharingSheets::stillShowing(const std::string& id) const {
    const MeetingDetailSnapshot* shown = owner_.snapshot();
    return shown != nullptr && shown->id == id;
}

void DetailSharingSheets::closeSharing() {
    inviting_ = false;
    closeSheet(sharingSheet_);
}

void DetailSharingSheets::finishInvitation(bool invited, const QString& sentence) {
    if (sharingSheet_ == nullptr || !inviting_)
        return;
    inviting_ = false;
    if (invited) {
        closeSharing();
        return;
    }
    auto* status = sharingSheet_->findChild<QLabel*>(QStringLiteral("meeting-sharing-status"));
    auto* invite = sharingSheet_->findChild<QPushButton*>(QStringLiteral("meeting-sharing-invite"));
    auto* address = sharingSheet_->findChild<QLineEdit*>(QStringLiteral("meeting-sharing-address"));
    auto* acknowledge = sharingSheet_->findChild<QCheckBox*>(QStringLiteral("meeting-sharing-acknowledge"));
    if (status != nullptr) {
        status->setText(sentence);
        status->setVisible(!sentence.isEmpty());
        fitSharingSheet(sharingSheet_);
    }
    if (invite != nullptr && acknowledge != nullptr)
        invite->setEnabled(acknowledge->isChecked());
    if (address != nullptr) {
        address->setReadOnly(false);
        address->setFocus(Qt::OtherFocusReason);
    }
}

void DetailSharingSheets::closeRename() {
    closeSheet(renameSheet_);
}

void DetailSharingSheets::deleteViews() {
    for (QPointer<QDialog>* sheet : {&sharingSheet_, &renameSheet_})
        if (*sheet != nullptr)
            delete sheet->data();
}

void DetailSharingSheets::showRename(QWidget* root) {
    const MeetingDetailSnapshot* shown = owner_.snapshot();
    if (shown == nullptr || !shown->canEdit || root == nullptr || windowHasSheet(root))
        return;
    QDialog* sheet =
        makeSheet(root, localized("Rename meeting"), 500, 190, &owner_, [this](QDialog* closing) {
            if (closing == renameSheet_)
                closeRename();
        });
    sheet->setObjectName(QStringLiteral("meeting-rename-sheet"));
    auto* stack = new SheetStackView(12);
    auto* field = new QLineEdit(QString::fromStdString(shown->title));
    field->setAccessibleName(localized("Meeting title"));
    field->setObjectName(QStringLiteral("meeting-rename-title"));
    field->setFixedWidth(440);
    QPointer<MeetingDetailController> self(&owner_);
    const std::string openedID = shown->id;
    auto* cancel = new ClosureButton(localized("Cancel"), [self, this] {
        if (self)
            closeRename();
    });
    cancel->setObjectName(QStringLiteral("meeting-rename-cancel"));
    auto* save = new ClosureButton(localized("Save title"), [self, this, field, openedID] {
        const auto title = renamedTitle(field->text().toStdString());
        if (!title || !self || !stillShowing(openedID) || !self->snapshot()->canEdit)
            return;
        if (self->onRename)
            self->onRename(*title);
        closeRename();
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

void DetailSharingSheets::showSharing(QWidget* root, const std::optional<std::string>& pendingLinkURL) {
    const MeetingDetailSnapshot* shown = owner_.snapshot();
    if (shown == nullptr || !shown->canShare || sharingSheet_ != nullptr || root == nullptr)
        return;
    QDialog* sheet = makeSheet(root, localized("Sharing"), 540, 620, &owner_, [this](QDialog* closing) {
        if (closing == sharingSheet_)
            closeSharing();
    });
    sheet->setObjectName(QStringLiteral("meeting-sharing-sheet"));
    QWidget* content = sharingContent(*shown, pendingLinkURL);
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    // The sheet's controls take the keyboard, and the area scrolls to the one that has it; the
    // area itself is no Tab stop.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(20, 0, 20, 0);
    layout->addWidget(scroll);
    fitSharingSheet(sheet);
    sharingSheet_ = sheet;
    sheet->open();
    if (auto* address = sheet->findChild<QLineEdit*>(QStringLiteral("meeting-sharing-address")))
        address->setFocus(Qt::OtherFocusReason);
}

void DetailSharingSheets::fitSharingSheet(QDialog* sheet) {
    auto* scroll = sheet != nullptr ? sheet->findChild<QScrollArea*>() : nullptr;
    if (scroll == nullptr || scroll->widget() == nullptr)
        return;
    QWidget* content = scroll->widget();
    content->adjustSize();
    const int wanted = content->sizeHint().height();
    const int height = std::min(620, wanted);
    int width = 470;
    if (wanted > height)
        width +=
            scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll->verticalScrollBar());
    sheet->resize(width, height);
}

QWidget* DetailSharingSheets::sharingContent(const MeetingDetailSnapshot& opened,
                                             const std::optional<std::string>& pendingLinkURL) {
    auto* stack = new SheetStackView(10);
    stack->column()->setContentsMargins(0, 20, 0, 20);
    QPointer<MeetingDetailController> self(&owner_);
    const std::string openedID = opened.id;
    // An action of the sheet: only while the same meeting is shown and may still be shared. The
    // sheets live as long as their controller.
    const auto acting = [self, this, openedID](auto body) {
        return [self, this, openedID, body] {
            if (!self || !stillShowing(openedID) || !self->snapshot()->canShare)
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
            new ClosureButton(localized("Revoke"), acting([this, id = share.id](MeetingDetailController& c) {
                                  if (c.onRevokeShare)
                                      c.onRevokeShare(id);
                                  closeSharing();
                              }));
        revoke->setObjectName(QString::fromStdString("meeting-sharing-revoke-" + share.id));
        // Each row's button says whose access it takes away.
        revoke->setAccessibleName(localized("Revoke access for %@")
                                      .replace(QStringLiteral("%@"), QString::fromStdString(share.label)));
        stack->add(row({label, revoke}));
    }
    // How an invitation that did not go through ended: the sheet keeps what was typed.
    auto* status = notice({}, 430);
    status->setObjectName(QStringLiteral("meeting-sharing-status"));
    status->setVisible(false);
    auto* invite = new ClosureButton(localized("Invite guest"), {});
    invite->handler = acting([this, address, acknowledge, invite, status](MeetingDetailController& c) {
        if (inviting_)
            return;
        const auto invitation =
            MeetingShareRequest::guestInvitation(address->text().toStdString(), acknowledge->isChecked());
        if (const auto* refusal = std::get_if<GuestInvitationRefusal>(&invitation)) {
            if (*refusal == GuestInvitationRefusal::acknowledgementMissing)
                acknowledge->setFocus(Qt::OtherFocusReason);
            else
                address->setFocus(Qt::OtherFocusReason);
            return;
        }
        // The sheet waits for the outcome, with the address kept as typed.
        inviting_ = true;
        status->setVisible(false);
        invite->setEnabled(false);
        address->setReadOnly(true);
        if (c.onCreateShare)
            c.onCreateShare(std::get<MeetingShareRequest>(invitation));
    });
    invite->setObjectName(QStringLiteral("meeting-sharing-invite"));
    // A press before the acknowledgement would send nothing and say nothing: the button waits for it.
    invite->setEnabled(acknowledge->isChecked());
    QObject::connect(acknowledge, &QCheckBox::toggled, invite,
                     [this, invite](bool on) { invite->setEnabled(on && !inviting_); });
    stack->add(row({invite}), 16);
    stack->add(status);
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
    nameChoice(expiry, localized("Share link expiry"));
    expiry->setObjectName(QStringLiteral("meeting-sharing-link-expiry"));
    auto* audio = new QCheckBox(localized("Include retained audio in this link"));
    audio->setObjectName(QStringLiteral("meeting-sharing-link-audio"));
    audio->setEnabled(linkAudioAllowed(opened));
    auto* create =
        new ClosureButton(localized("Create link"), acting([this, expiry, audio](MeetingDetailController& c) {
                              const LinkRequest request =
                                  linkRequest(expiry->currentIndex(), audio->isEnabled(), audio->isChecked());
                              if (c.onCreateLink)
                                  c.onCreateLink(request.days, request.includeAudio);
                              closeSharing();
                          }));
    create->setObjectName(QStringLiteral("meeting-sharing-create-link"));
    stack->add(expiry);
    stack->add(audio);
    stack->add(row({create}));
    if (pendingLinkURL) {
        auto* link = notice(QString::fromStdString(*pendingLinkURL), 430);
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
        auto* revoke = new ClosureButton(localized("Revoke link"),
                                         acting([this, id = entry.id](MeetingDetailController& c) {
                                             if (c.onRevokeLink)
                                                 c.onRevokeLink(id);
                                             closeSharing();
                                         }));
        revoke->setObjectName(QString::fromStdString("meeting-sharing-revoke-link-" + entry.id));
        stack->add(row({label, revoke}));
    }
    auto* done = new ClosureButton(localized("Done"), [self, this] {
        if (self)
            closeSharing();
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

} // namespace nuvel
