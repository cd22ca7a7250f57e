// The detail screen's view tree: every control configured, wired and named, then stacked into
// one column under a header bar.
#include "Nuvel/model/detail/MeetingDetailTables.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
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

QIcon themedIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

// Every label of this screen shows its text as typed: titles, statuses and the service's words
// are never read as markup.
QLabel* plainLabel(QWidget* parent = nullptr) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* smallLabel(bool secondary) {
    auto* label = plainLabel();
    QFont font = label->font();
    font.setPointSizeF(12);
    label->setFont(font);
    label->setWordWrap(true);
    if (secondary)
        label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

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

    search_ = new QLineEdit;
    search_->setPlaceholderText(localized("Find in this meeting"));
    search_->setAccessibleName(localized("Find in this meeting"));
    search_->setObjectName(QStringLiteral("meeting-detail-search"));
    search_->setClearButtonEnabled(true);
    search_->setMinimumWidth(120);
    search_->setMaximumWidth(220);
    connect(search_, &QLineEdit::returnPressed, this, &MeetingDetailController::findNext);

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

    notes_ = new ReadableTextView;
    transcript_ = new ReadableTextView;
    configureReadingView(notes_, localized("Meeting notes"));
    configureReadingView(transcript_, localized("Meeting transcript"));
    notes_->setObjectName(QStringLiteral("meeting-detail-notes"));
    transcript_->setObjectName(QStringLiteral("meeting-detail-transcript"));
    connect(notes_, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& url) { openLink(url.toString()); });
    connect(transcript_, &QTextBrowser::anchorClicked, this, [] {}); // consumed: nothing to open there
    connect(transcript_, &QTextEdit::selectionChanged, this, &MeetingDetailController::updateEditEnabled);
    connect(transcript_, &QTextEdit::cursorPositionChanged, this,
            &MeetingDetailController::updateEditEnabled);
    transcript_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(transcript_, &QWidget::customContextMenuRequested, this,
            &MeetingDetailController::showTranscriptMenu);
    auto* content = new QWidget;
    auto* contentRow = new QHBoxLayout(content);
    contentRow->setContentsMargins(0, 0, 0, 0);
    contentRow->addWidget(notes_);
    contentRow->addWidget(transcript_);
    transcript_->hide();
    content->setMinimumHeight(180);
    content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

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

    play_ = new QToolButton;
    play_->setAutoRaise(true);
    play_->setIconSize(QSize(18, 18));
    play_->setObjectName(QStringLiteral("meeting-detail-playback"));
    connect(play_, &QToolButton::clicked, this, &MeetingDetailController::togglePlayback);
    seek_ = new QSlider(Qt::Horizontal);
    seek_->setRange(0, 1);
    seek_->setAccessibleName(localized("Audio position"));
    seek_->setObjectName(QStringLiteral("meeting-detail-seek"));
    seek_->setLayoutDirection(Qt::LeftToRight);
    connect(seek_, &QSlider::sliderMoved, this, &MeetingDetailController::seekAudio);
    connect(seek_, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove)
            QMetaObject::invokeMethod(this, [this] { seekAudio(); });
    });
    speed_ = new QComboBox;
    for (auto title : meetingdetail::speedTitles)
        speed_->addItem(QString::fromUtf8(title.data(), qsizetype(title.size())));
    speed_->setCurrentIndex(meetingdetail::defaultSpeedIndex);
    speed_->setFrame(false);
    speed_->setAccessibleName(localized("Playback speed"));
    speed_->setObjectName(QStringLiteral("meeting-detail-speed"));
    speed_->setLayoutDirection(Qt::LeftToRight);
    connect(speed_, &QComboBox::activated, this, &MeetingDetailController::changeSpeed);
    playbackLabel_ = plainLabel();
    QFont clockFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    clockFont.setPointSizeF(11);
    playbackLabel_->setFont(clockFont);
    playbackLabel_->setForegroundRole(QPalette::PlaceholderText);
    playbackLabel_->setObjectName(QStringLiteral("meeting-detail-playback-time"));
    playbackBar_ = new QWidget;
    playbackBar_->setLayoutDirection(Qt::LeftToRight);
    auto* barRow = new QHBoxLayout(playbackBar_);
    barRow->setContentsMargins(0, 0, 0, 0);
    barRow->setSpacing(10);
    barRow->addWidget(play_);
    barRow->addWidget(seek_, 1);
    barRow->addWidget(playbackLabel_);
    barRow->addWidget(speed_);
    playbackSeparator_ = new QFrame;
    playbackSeparator_->setFrameShape(QFrame::HLine);
    playbackSeparator_->setFrameShadow(QFrame::Sunken);
    audioStatusLabel_ = smallLabel(true);
    audioStatusLabel_->setAccessibleName(localized("Audio availability"));
    audioStatusLabel_->setObjectName(QStringLiteral("meeting-detail-audio-status"));

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
    headerRow->addWidget(search_);
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
    add(playbackSeparator_, -1);
    add(playbackBar_, -1);
    add(audioStatusLabel_, -1);
    root_->setLayoutDirection(preferredLayoutDirection());
    for (QLabel* label : {titleLabel_, subtitleLabel_, statusLabel_, audioStatusLabel_, bannerText})
        label->setAlignment(preferredTextAlignment() | Qt::AlignVCenter);
    // The playback bar keeps its left-to-right order under a right-to-left interface.
    playbackBar_->setLayoutDirection(Qt::LeftToRight);

    updatePlayback(false, 0, 0, false);
    if (snapshot_)
        redraw();
    else
        clear();
}

void MeetingDetailController::forgetView() {
    root_ = nullptr;
    titleLabel_ = statusLabel_ = subtitleLabel_ = playbackLabel_ = audioStatusLabel_ = nullptr;
    transcript_ = notes_ = nullptr;
    layerPopup_ = speed_ = nullptr;
    staleBanner_ = playbackBar_ = nullptr;
    playbackSeparator_ = nullptr;
    deleteItem_ = deleteSeparator_ = edit_ = rename_ = nullptr;
    search_ = nullptr;
    tabs_ = nullptr;
    play_ = share_ = nullptr;
    export_ = more_ = nullptr;
    seek_ = nullptr;
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
