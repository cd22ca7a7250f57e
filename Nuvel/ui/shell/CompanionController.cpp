#include "Nuvel/ui/shell/CompanionController.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/LevelIndicator.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <utility>

namespace nuvel {

namespace {

constexpr int inset = 16;
const QColor systemRed(0xFF, 0x3B, 0x30);

QColor secondaryLabelColor() {
    return QApplication::palette().color(QPalette::PlaceholderText);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

// Shows `text` cut in the middle when it is wider than the popover's content.
void setMiddleTruncated(QLabel* label, const QString& text) {
    const int room = CompanionController::width - 2 * inset;
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
    setPlainToolTip(label, text);
}

QWidget* makeRow(const QList<QWidget*>& views, int spacing) {
    auto* row = new QWidget;
    row->setLayoutDirection(preferredLayoutDirection());
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* view : views)
        layout->addWidget(view);
    layout->addStretch(1);
    return row;
}

// A gap of fixed height that follows a view: hidden with it, so a hidden view takes no room.
QWidget* makeGap(int height) {
    auto* gap = new QWidget;
    gap->setFixedHeight(height);
    gap->setProperty("nuvelGap", true);
    return gap;
}

} // namespace

CompanionController::CompanionController(AppModel& model, std::function<void()> openLibrary, MainQueue& queue,
                                         Executor& executor, MicrophoneNameLookup microphoneName)
    : model_(model), openLibrary_(std::move(openLibrary)), queue_(queue), executor_(executor),
      microphoneLookup_(std::move(microphoneName)) {
    root_ = new QWidget;
    root_->setObjectName(QStringLiteral("companion"));
    timerLabel_ = makeLabel(QStringLiteral("00:00"), 32, QFont::Normal);
    state_ = makeLabel(QString(), 13, QFont::Normal);
    microphoneName_ = makeLabel(QString(), 12, QFont::Normal);
    applicationName_ = makeLabel(QString(), 12, QFont::Normal);
    microphoneMeter_ = new LevelIndicator;
    systemMeter_ = new LevelIndicator;
    queueStatus_ = makeWrappingLabel(QString(), 12, QFont::Normal);
    recentTitle_ = makeLabel(QString(), 12, QFont::Normal);
    pause_ = new QPushButton;
    stop_ = new QPushButton;
    mark_ = new QPushButton;
    // Until the view is built they belong to its root.
    for (QWidget* control : std::initializer_list<QWidget*>{timerLabel_, state_, microphoneName_,
                                                            applicationName_, microphoneMeter_, systemMeter_,
                                                            queueStatus_, recentTitle_, pause_, stop_, mark_})
        control->setParent(root_);
}

CompanionController::~CompanionController() {
    lookup_.cancel();
    delete root_.data();
}

QWidget* CompanionController::view() {
    if (!isViewLoaded())
        buildView();
    return root_;
}

void CompanionController::buildView() {
    root_->setLayoutDirection(preferredLayoutDirection());
    root_->resize(width, 200);

    auto* openButton = new QPushButton(localized("Open library"));
    openButton->setObjectName(QStringLiteral("companion-open-library"));
    connect(openButton, &QPushButton::clicked, this, [this] { open(); });
    pause_->setObjectName(QStringLiteral("companion-pause"));
    connect(pause_, &QPushButton::clicked, this, [this] { togglePause(); });
    stop_->setObjectName(QStringLiteral("companion-stop"));
    stop_->setText(localized("Stop and save"));
    connect(stop_, &QPushButton::clicked, this, [this] { stopRecording(); });
    mark_->setObjectName(QStringLiteral("companion-mark"));
    mark_->setText(localized("Mark moment"));
    connect(mark_, &QPushButton::clicked, this, [this] { bookmark(); });

    QFont timerFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    timerFont.setPointSize(32);
    timerFont.setWeight(QFont::Light);
    timerLabel_->setFont(timerFont);
    timerLabel_->setObjectName(QStringLiteral("companion-timer"));

    for (LevelIndicator* meter : {microphoneMeter_, systemMeter_}) {
        meter->setWarningValue(0.8);
        meter->setCriticalValue(0.95);
    }
    microphoneMeter_->setAccessibleName(localized("Microphone level"));
    microphoneMeter_->setObjectName(QStringLiteral("companion-microphone-meter"));
    systemMeter_->setAccessibleName(localized("Application audio level"));
    systemMeter_->setObjectName(QStringLiteral("companion-system-meter"));

    for (QLabel* label : {microphoneName_, applicationName_, queueStatus_, recentTitle_})
        setTextColor(label, secondaryLabelColor());
    microphoneName_->setObjectName(QStringLiteral("companion-microphone"));
    applicationName_->setObjectName(QStringLiteral("companion-application"));
    queueStatus_->setObjectName(QStringLiteral("companion-queue"));
    recentTitle_->setObjectName(QStringLiteral("companion-recent"));
    state_->setFont(systemFont(11, QFont::DemiBold));
    state_->setObjectName(QStringLiteral("companion-state"));

    QWidget* microphoneGroup = makeStack({microphoneName_, microphoneMeter_}, 4);
    applicationGroup_ = makeStack({applicationName_, systemMeter_}, 4);
    applicationGroup_->setObjectName(QStringLiteral("companion-application-group"));
    sourceGroup_ = makeStack({microphoneGroup, applicationGroup_}, 10);
    sourceGroup_->setObjectName(QStringLiteral("companion-sources"));

    QWidget* buttonRow = makeRow({pause_, mark_, stop_}, 8);
    buttonRow->setObjectName(QStringLiteral("companion-buttons"));
    QLabel* header = makeLabel(QStringLiteral("Nuvel"), 13, QFont::DemiBold);
    header->setObjectName(QStringLiteral("companion-header"));
    QWidget* openRow = makeRow({openButton}, 8);
    separator_ = new QFrame;
    separator_->setFrameShape(QFrame::HLine);
    separator_->setFrameShadow(QFrame::Sunken);
    separator_->setObjectName(QStringLiteral("companion-separator"));

    const std::pair<QWidget*, int> items[] = {
        {header, 2},      {state_, 8},       {timerLabel_, 8},   {sourceGroup_, 12}, {buttonRow, 12},
        {separator_, 12}, {queueStatus_, 8}, {recentTitle_, 12}, {openRow, 0},
    };
    QList<QWidget*> stacked;
    for (const auto& [item, gap] : items) {
        stacked.push_back(item);
        if (item != openRow)
            stacked.push_back(makeGap(gap));
    }
    content_ = makeStack(stacked, 0);
    content_->setObjectName(QStringLiteral("companion-content"));
    pinToSuperview(content_, root_, inset);
    root_->setFixedWidth(width);
    render();
}

void CompanionController::render() {
    if (!isViewLoaded())
        return;
    const bool recording = model_.isRecording();
    const bool paused = model_.isPaused();
    const LocalRecording* active = model_.activeRecording();
    const std::optional<Uuid>& activeID = model_.activeID();

    state_->setText(paused ? localized("Paused — audio is not retained")
                           : (recording ? localized("Recording") : localized("Not recording")));
    setTextColor(state_, recording && !paused ? systemRed : secondaryLabelColor());

    pause_->setText(paused ? localized("Resume") : localized("Pause"));
    const bool controls = activeID.has_value() && !model_.busy();
    for (QPushButton* button : {pause_, stop_, mark_}) {
        button->setEnabled(controls);
        button->setVisible(recording);
    }

    sourceGroup_->setVisible(recording);
    applicationGroup_->setVisible(active != nullptr && active->captureMode && *active->captureMode != "room");

    resolveMicrophoneName();
    setMiddleTruncated(microphoneName_, QString::fromStdString(resolvedMicrophoneName_));
    const bool named = active != nullptr && active->captureSourceName && !active->captureSourceName->empty();
    setMiddleTruncated(applicationName_, named ? QString::fromStdString(*active->captureSourceName)
                                               : localized("Application audio"));

    int queued = 0;
    for (const LocalRecording& r : model_.recordings()) {
        const bool moving = r.transfer == TransferState::creating || r.transfer == TransferState::uploading ||
                            r.transfer == TransferState::committing || r.transfer == TransferState::accepted;
        if (r.uploadQueued.value_or(false) && !moving)
            ++queued;
    }
    const QString count =
        queued > 0 ? localized("%d uploads queued").replace(QStringLiteral("%d"), QString::number(queued))
                   : localized("No uploads queued");
    queueStatus_->setText(model_.uploading() ? localized("Uploading audio…") + QStringLiteral("\n") + count
                                             : count);

    const LocalRecording* recent = nullptr;
    for (const LocalRecording& r : model_.recordings()) {
        if (!activeID || r.id != *activeID) {
            recent = &r;
            break;
        }
    }
    recentTitle_->setVisible(recent != nullptr);
    if (recent != nullptr) {
        const QString title =
            recent->title.empty() ? localized("Untitled meeting") : QString::fromStdString(recent->title);
        setMiddleTruncated(recentTitle_, localized("Recent") + QStringLiteral(": ") + title);
    }
    separator_->setVisible(recording);

    tick();

    // Gaps follow the view before them.
    QLayout* layout = content_->layout();
    for (int i = 1; i < layout->count(); ++i) {
        QWidget* gap = layout->itemAt(i)->widget();
        QWidget* before = layout->itemAt(i - 1)->widget();
        if (gap != nullptr && before != nullptr && gap->property("nuvelGap").toBool())
            gap->setVisible(!before->isHidden());
    }
    root_->setMinimumHeight(0);
    root_->setMaximumHeight(QWIDGETSIZE_MAX);
    // The content's own layout answers for the wrapping line: its height at the inner width,
    // never less than what its rows need.
    QLayout* contentLayout = content_->layout();
    contentLayout->invalidate();
    const int inner = width - 2 * inset;
    int height = contentLayout->totalSizeHint().height();
    if (contentLayout->hasHeightForWidth())
        height = std::max(height, contentLayout->totalHeightForWidth(inner));
    height = std::max(height, contentLayout->totalMinimumSize().height());
    preferredSize_ = QSize(width, height + 2 * inset);
    root_->setFixedSize(preferredSize_);
    if (QWidget* window = root_->window(); window != root_ && window->isVisible())
        window->adjustSize();
}

void CompanionController::tick() {
    if (!isViewLoaded())
        return;
    timerLabel_->setText(formatDuration(model_.elapsed()));
    timerLabel_->setVisible(model_.isRecording());
    microphoneMeter_->setValue(model_.microphoneLevel());
    systemMeter_->setValue(model_.systemLevel());
}

void CompanionController::resolveMicrophoneName() {
    const LocalRecording* active = model_.activeRecording();
    const std::optional<Uuid> activeID = active ? std::optional<Uuid>(active->id) : std::nullopt;
    if (resolvedRecordingID_ == activeID && !resolvedMicrophoneName_.empty())
        return;
    const bool lookingUp = lookup_.isValid() && !lookup_.isFinished();
    if (resolvedRecordingID_ == activeID && lookingUp)
        return;
    resolvedRecordingID_ = activeID;
    lookup_.cancel();
    lookup_ = {};
    if (active == nullptr || !active->microphoneUID) {
        resolvedMicrophoneName_ = localized("System default microphone").toStdString();
        return;
    }
    resolvedMicrophoneName_.clear();
    if (!microphoneLookup_) {
        resolvedMicrophoneName_ = localized("Selected microphone unavailable").toStdString();
        return;
    }
    lookup_ = spawn(
        queue_, lookUpMicrophone(this, &executor_, microphoneLookup_, *active->microphoneUID, active->id));
}

Task<void> CompanionController::lookUpMicrophone(QPointer<CompanionController> controller, Executor* executor,
                                                 MicrophoneNameLookup lookup, std::string uid,
                                                 Uuid recordingID) {
    auto job = [lookup, uid] { return lookup(uid); };
    Outcome<std::optional<std::string>> looked = co_await attemptOn(*executor, job);
    if (looked.cancelled())
        std::rethrow_exception(looked.error());
    // The devices could not be listed: shown as unavailable.
    looked.drop("naming the recording's microphone");
    const std::optional<std::string> name = looked.ok() ? looked.value() : std::nullopt;
    if (!controller || controller->resolvedRecordingID_ != recordingID)
        co_return;
    controller->resolvedMicrophoneName_ =
        name && !name->empty() ? *name : localized("Selected microphone unavailable").toStdString();
    controller->render();
}

void CompanionController::open() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (openLibrary_)
        openLibrary_();
}

void CompanionController::togglePause() {
    NUVEL_MAIN_ACTOR_ENTRY();
    model_.togglePause();
}

void CompanionController::stopRecording() {
    NUVEL_MAIN_ACTOR_ENTRY();
    model_.stopRecording();
}

void CompanionController::bookmark() {
    NUVEL_MAIN_ACTOR_ENTRY();
    model_.addBookmark();
}

} // namespace nuvel
