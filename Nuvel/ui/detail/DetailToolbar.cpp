#include "Nuvel/ui/detail/DetailToolbar.hpp"

#include "Nuvel/model/detail/MeetingDetailTables.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/detail/DetailViewMakers.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"
#include "Nuvel/ui/widgets/MenuButton.hpp"
#include "Nuvel/ui/widgets/TransientWindow.hpp"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace nuvel {

namespace {

QToolButton* toolbarButton(const QString& id, const QString& tip) {
    auto* button = new QToolButton;
    button->setObjectName(id);
    button->setAutoRaise(true);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    return button;
}

MenuButton* toolbarMenuButton(const QString& id, const QString& tip) {
    auto* button = new MenuButton;
    button->setObjectName(id);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    return button;
}

} // namespace

void DetailToolbar::build(MeetingDetailController& owner, bool pendingLink) {
    MeetingDetailController* self = &owner;
    export_ = toolbarMenuButton(QStringLiteral("meeting-detail-export"), localized("Export…"));
    export_->setAccessibleName(localized("Export meeting"));
    export_->setIcon(themedIcon("document-save-as", QStyle::SP_DialogSaveButton));
    QMenu* exportMenu = export_->menu();
    for (int i = 1; i < int(meetingdetail::exportItems.size()); ++i) {
        const auto title = meetingdetail::exportItems[std::size_t(i)].title;
        QAction* item =
            exportMenu->addAction(localized(QString::fromUtf8(title.data(), qsizetype(title.size()))));
        QObject::connect(item, &QAction::triggered, self, [self, i] { self->exportSelected(i); });
    }
    share_ = toolbarButton(QStringLiteral("meeting-detail-share"), localized("Share…"));
    share_->setIcon(themedIcon("contact-new", QStyle::SP_FileDialogNewFolder));
    QObject::connect(share_, &QToolButton::clicked, self, &MeetingDetailController::showSharing);
    copyLink_ = new QPushButton(localized("Copy new link"));
    copyLink_->setObjectName(QStringLiteral("meeting-sharing-copy-link"));
    copyLink_->setVisible(pendingLink);
    QObject::connect(copyLink_, &QPushButton::clicked, self, &MeetingDetailController::copyCreatedLink);
    more_ = toolbarMenuButton(QStringLiteral("meeting-detail-more"), localized("More"));
    more_->setIcon(themedIcon("view-more", QStyle::SP_TitleBarUnshadeButton));
    buildMoreMenu(owner);
}

void DetailToolbar::forget() {
    export_ = nullptr;
    share_ = nullptr;
    copyLink_ = nullptr;
    more_ = nullptr;
    edit_ = nullptr;
    rename_ = nullptr;
    deleteItem_ = nullptr;
    deleteSeparator_ = nullptr;
}

void DetailToolbar::buildMoreMenu(MeetingDetailController& owner) {
    MeetingDetailController* self = &owner;
    QMenu* menu = more_->menu();
    edit_ = menu->addAction(themedIcon("edit-rename", QStyle::SP_FileDialogDetailedView),
                            localized("Correct selection…"));
    edit_->setObjectName(QStringLiteral("meeting-detail-correction"));
    QObject::connect(edit_, &QAction::triggered, self, &MeetingDetailController::correctSelection);
    rename_ =
        menu->addAction(themedIcon("document-edit", QStyle::SP_FileDialogContentsView), localized("Rename…"));
    rename_->setObjectName(QStringLiteral("meeting-detail-rename"));
    QObject::connect(rename_, &QAction::triggered, self, &MeetingDetailController::showRename);
    QAction* copy = menu->addAction(themedIcon("edit-copy", QStyle::SP_FileIcon), localized("Copy"));
    copy->setObjectName(QStringLiteral("meeting-detail-copy"));
    QObject::connect(copy, &QAction::triggered, self, &MeetingDetailController::copyDocument);
    menu->addSeparator();
    QAction* info =
        menu->addAction(themedIcon("help-about", QStyle::SP_MessageBoxInformation), localized("Show Info"));
    info->setObjectName(QStringLiteral("meeting-detail-info"));
    QObject::connect(info, &QAction::triggered, self, &MeetingDetailController::showInfo);
    QAction* refresh =
        menu->addAction(themedIcon("view-refresh", QStyle::SP_BrowserReload), localized("Refresh"));
    refresh->setObjectName(QStringLiteral("meeting-detail-refresh"));
    QObject::connect(refresh, &QAction::triggered, self, &MeetingDetailController::refreshDocument);
    deleteSeparator_ = menu->addSeparator();
    deleteItem_ =
        menu->addAction(themedIcon("edit-delete", QStyle::SP_TrashIcon), localized("Delete meeting…"));
    deleteItem_->setObjectName(QStringLiteral("meeting-detail-delete"));
    QObject::connect(deleteItem_, &QAction::triggered, self, &MeetingDetailController::deleteMeeting);
    deleteItem_->setVisible(false);
    deleteSeparator_->setVisible(false);
}

void DetailToolbar::showCopyLink(bool shown) {
    if (copyLink_ != nullptr)
        copyLink_->setVisible(shown);
}

void DetailToolbar::showDelete(bool shown) {
    if (deleteItem_ != nullptr) {
        deleteItem_->setVisible(shown);
        deleteSeparator_->setVisible(shown);
    }
}

void DetailToolbar::showInfo(QWidget* root, const QString& provenance) {
    if (infoPopover_ != nullptr)
        infoPopover_->close();
    auto* popover = new QFrame(root);
    makeTransientWindow(popover);
    popover->setAttribute(Qt::WA_DeleteOnClose);
    popover->setObjectName(QStringLiteral("meeting-detail-info-popover"));
    markAsPanel(popover, localized("Notes provenance"));
    auto* layout = new QVBoxLayout(popover);
    layout->setContentsMargins(14, 12, 14, 12);
    auto* text = new QLabel(provenance);
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

} // namespace nuvel
