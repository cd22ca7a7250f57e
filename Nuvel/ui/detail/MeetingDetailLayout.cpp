// The detail screen's view tree: every control configured, wired and named, then stacked into
// one column under a header bar.
#include "Nuvel/model/detail/MeetingDetailTables.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/detail/DetailViewMakers.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/detail/ReadableTextView.hpp"
#include "Nuvel/ui/widgets/MenuButton.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>

namespace nuvel {

namespace {

// The screen's root. The owner's window may take the screen down with it; before its children go,
// the controller forgets them, and builds the screen again when asked.
class DetailRoot : public QWidget {
public:
    explicit DetailRoot(std::function<void()> gone) : gone_(std::move(gone)) {}
    ~DetailRoot() override {
        if (gone_)
            gone_();
    }

private:
    std::function<void()> gone_;
};

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

QWidget* MeetingDetailController::view() {
    if (root_ == nullptr)
        loadView();
    return root_;
}

void MeetingDetailController::loadView() {
    NUVEL_MAIN_ACTOR_ENTRY();
    root_ = new DetailRoot([self = QPointer<MeetingDetailController>(this)] {
        if (self)
            self->forgetView();
    });
    root_->setObjectName(QStringLiteral("meeting-detail"));

    titleLabel_ = plainLabel(root_);
    QFont titleFont = titleLabel_->font();
    titleFont.setPointSizeF(22);
    titleFont.setWeight(QFont::DemiBold);
    titleLabel_->setFont(titleFont);
    titleLabel_->setWordWrap(true);
    titleLabel_->setAccessibleName(localized("Meeting title"));
    titleLabel_->setObjectName(QStringLiteral("meeting-detail-title"));
    subtitleLabel_ = smallLabel(true);
    statusLabel_ = smallLabel(true);
    statusLabel_->setAccessibleName(localized("Meeting status"));
    statusLabel_->setObjectName(QStringLiteral("meeting-detail-status"));

    QLineEdit* search = find_.build(*this);

    tabs_ = new SegmentedControl({localized("Notes"), localized("Transcript")});
    tabs_->setAccessibleName(localized("Meeting content"));
    tabs_->setObjectName(QStringLiteral("meeting-detail-tabs"));
    tabs_->setSelectedSegment(0);
    connect(tabs_, &SegmentedControl::segmentChosen, this, &MeetingDetailController::changeTab);
    layerPopup_ = new QComboBox;
    layerPopup_->addItems({localized("Corrected transcript"), localized("Original transcript")});
    layerPopup_->setFrame(false);
    layerPopup_->setAccessibleName(localized("Transcript version"));
    layerPopup_->setObjectName(QStringLiteral("meeting-detail-layer-popup"));
    layerPopup_->hide();
    connect(layerPopup_, &QComboBox::activated, this, &MeetingDetailController::chooseTranscriptLayer);

    QWidget* content = panes_.build(*this);
    // The edit command follows the transcript's selection.
    connect(panes_.transcript(), &QTextEdit::selectionChanged, this,
            &MeetingDetailController::updateEditEnabled);
    connect(panes_.transcript(), &QTextEdit::cursorPositionChanged, this,
            &MeetingDetailController::updateEditEnabled);

    staleBanner_ = new QFrame;
    staleBanner_->setObjectName(QStringLiteral("meeting-detail-stale-notes"));
    staleBanner_->setAutoFillBackground(true);
    staleBanner_->setBackgroundRole(QPalette::AlternateBase);
    auto* bannerRow = new QHBoxLayout(staleBanner_);
    bannerRow->setContentsMargins(10, 7, 10, 7);
    bannerRow->setSpacing(8);
    auto* clock = new QLabel;
    clock->setPixmap(themedIcon("view-refresh", QStyle::SP_BrowserReload).pixmap(14, 14));
    auto* bannerText = smallLabel(true);
    bannerText->setText(
        localized("Notes are from an earlier transcript version. Corrections do not update them."));
    auto* dismiss = new QToolButton;
    dismiss->setAutoRaise(true);
    dismiss->setIcon(themedIcon("window-close", QStyle::SP_TitleBarCloseButton));
    dismiss->setAccessibleName(localized("Dismiss"));
    dismiss->setObjectName(QStringLiteral("meeting-detail-stale-dismiss"));
    connect(dismiss, &QToolButton::clicked, this, &MeetingDetailController::dismissStale);
    bannerRow->addWidget(clock);
    bannerRow->addWidget(bannerText, 1);
    bannerRow->addWidget(dismiss);
    staleBanner_->hide();

    playback_.build(*this);

    export_ = toolbarMenuButton(QStringLiteral("meeting-detail-export"), localized("Export…"));
    export_->setAccessibleName(localized("Export meeting"));
    export_->setIcon(themedIcon("document-save-as", QStyle::SP_DialogSaveButton));
    QMenu* exportMenu = export_->menu();
    for (int i = 1; i < int(meetingdetail::exportItems.size()); ++i) {
        const auto title = meetingdetail::exportItems[std::size_t(i)].title;
        QAction* item =
            exportMenu->addAction(localized(QString::fromUtf8(title.data(), qsizetype(title.size()))));
        connect(item, &QAction::triggered, this, [this, i] { exportSelected(i); });
    }
    share_ = toolbarButton(QStringLiteral("meeting-detail-share"), localized("Share…"));
    share_->setIcon(themedIcon("contact-new", QStyle::SP_FileDialogNewFolder));
    connect(share_, &QToolButton::clicked, this, &MeetingDetailController::showSharing);
    copyLinkButton_ = new QPushButton(localized("Copy new link"));
    copyLinkButton_->setObjectName(QStringLiteral("meeting-sharing-copy-link"));
    copyLinkButton_->setVisible(pendingLinkURL_.has_value());
    connect(copyLinkButton_, &QPushButton::clicked, this, &MeetingDetailController::copyCreatedLink);
    more_ = toolbarMenuButton(QStringLiteral("meeting-detail-more"), localized("More"));
    more_->setIcon(themedIcon("view-more", QStyle::SP_TitleBarUnshadeButton));
    buildMoreMenu();

    auto* header = new QWidget;
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(0, 0, 0, 0);
    headerRow->setSpacing(6);
    headerRow->addWidget(tabs_);
    headerRow->addSpacing(6);
    headerRow->addWidget(layerPopup_);
    headerRow->addStretch(1);
    headerRow->addWidget(copyLinkButton_);
    headerRow->addWidget(search);
    headerRow->addSpacing(4);
    headerRow->addWidget(share_);
    headerRow->addWidget(export_);
    headerRow->addWidget(more_);

    auto* column = new QVBoxLayout(root_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    const auto add = [column](QWidget* view, int after, int stretch = 0) {
        column->addWidget(view, stretch);
        if (after >= 0)
            column->addSpacing(after - 8);
    };
    add(titleLabel_, 2);
    add(subtitleLabel_, 16);
    add(staleBanner_, 12);
    add(statusLabel_, 12);
    add(header, 4);
    add(content, 8, 1);
    add(playback_.separator(), -1);
    add(playback_.bar(), -1);
    add(playback_.audioStatus(), -1);
    root_->setLayoutDirection(preferredLayoutDirection());
    for (QLabel* label : {titleLabel_, subtitleLabel_, statusLabel_, playback_.audioStatus(), bannerText})
        label->setAlignment(preferredTextAlignment() | Qt::AlignVCenter);
    // The playback bar keeps its left-to-right order under a right-to-left interface.
    playback_.bar()->setLayoutDirection(Qt::LeftToRight);

    updatePlayback(false, 0, 0, false);
    if (snapshot_)
        redraw();
    else
        clear();
}

void MeetingDetailController::forgetView() {
    root_ = nullptr;
    titleLabel_ = statusLabel_ = subtitleLabel_ = nullptr;
    panes_.forget();
    find_.forget();
    playback_.forget();
    layerPopup_ = nullptr;
    staleBanner_ = nullptr;
    deleteItem_ = deleteSeparator_ = edit_ = rename_ = nullptr;
    tabs_ = nullptr;
    share_ = nullptr;
    export_ = more_ = nullptr;
    copyLinkButton_ = nullptr;
}

void MeetingDetailController::buildMoreMenu() {
    QMenu* menu = more_->menu();
    edit_ = menu->addAction(themedIcon("edit-rename", QStyle::SP_FileDialogDetailedView),
                            localized("Correct selection…"));
    edit_->setObjectName(QStringLiteral("meeting-detail-correction"));
    connect(edit_, &QAction::triggered, this, &MeetingDetailController::correctSelection);
    rename_ =
        menu->addAction(themedIcon("document-edit", QStyle::SP_FileDialogContentsView), localized("Rename…"));
    rename_->setObjectName(QStringLiteral("meeting-detail-rename"));
    connect(rename_, &QAction::triggered, this, &MeetingDetailController::showRename);
    QAction* copy = menu->addAction(themedIcon("edit-copy", QStyle::SP_FileIcon), localized("Copy"));
    copy->setObjectName(QStringLiteral("meeting-detail-copy"));
    connect(copy, &QAction::triggered, this, &MeetingDetailController::copyDocument);
    menu->addSeparator();
    QAction* info =
        menu->addAction(themedIcon("help-about", QStyle::SP_MessageBoxInformation), localized("Show Info"));
    info->setObjectName(QStringLiteral("meeting-detail-info"));
    connect(info, &QAction::triggered, this, &MeetingDetailController::showInfo);
    QAction* refresh =
        menu->addAction(themedIcon("view-refresh", QStyle::SP_BrowserReload), localized("Refresh"));
    refresh->setObjectName(QStringLiteral("meeting-detail-refresh"));
    connect(refresh, &QAction::triggered, this, &MeetingDetailController::refreshDocument);
    deleteSeparator_ = menu->addSeparator();
    deleteItem_ =
        menu->addAction(themedIcon("edit-delete", QStyle::SP_TrashIcon), localized("Delete meeting…"));
    deleteItem_->setObjectName(QStringLiteral("meeting-detail-delete"));
    connect(deleteItem_, &QAction::triggered, this, &MeetingDetailController::deleteMeeting);
    canDelete_ = false;
    deleteItem_->setVisible(false);
    deleteSeparator_->setVisible(false);
}

} // namespace nuvel
