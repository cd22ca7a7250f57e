// The detail screen's view tree: every control configured, wired and named, then stacked into
// one column under a header bar.
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/detail/DetailViewMakers.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/detail/ReadableTextView.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"
#include "Nuvel/ui/widgets/MenuButton.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
    markAsReadout(titleLabel_, localized("Meeting title"));
    titleLabel_->setObjectName(QStringLiteral("meeting-detail-title"));
    subtitleLabel_ = smallLabel(true);
    statusLabel_ = smallLabel(true);
    markAsReadout(statusLabel_, localized("Meeting status"));
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
    nameChoice(layerPopup_, localized("Transcript version"));
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

    toolbar_.build(*this, pendingLinkURL_.has_value());
    canDelete_ = false;

    auto* header = new QWidget;
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(0, 0, 0, 0);
    headerRow->setSpacing(6);
    headerRow->addWidget(tabs_);
    headerRow->addSpacing(6);
    headerRow->addWidget(layerPopup_);
    headerRow->addStretch(1);
    headerRow->addWidget(toolbar_.copyLinkButton());
    headerRow->addWidget(search);
    headerRow->addSpacing(4);
    headerRow->addWidget(toolbar_.shareButton());
    headerRow->addWidget(toolbar_.exportButton());
    headerRow->addWidget(toolbar_.moreButton());

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
    toolbar_.forget();
    tabs_ = nullptr;
}

} // namespace nuvel
