#include "Nuvel/ui/detail/DetailPlaybackBar.hpp"

#include "Nuvel/model/detail/MeetingDetailTables.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/detail/DetailViewMakers.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"

#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <algorithm>
#include <limits>

namespace nuvel {

namespace {
QString qs(const std::string& text) {
    return QString::fromStdString(text);
}
} // namespace

void DetailPlaybackBar::build(MeetingDetailController& owner) {
    MeetingDetailController* self = &owner;
    play_ = new QToolButton;
    play_->setAutoRaise(true);
    play_->setIconSize(QSize(18, 18));
    play_->setObjectName(QStringLiteral("meeting-detail-playback"));
    QObject::connect(play_, &QToolButton::clicked, self, &MeetingDetailController::togglePlayback);
    seek_ = new QSlider(Qt::Horizontal);
    seek_->setRange(0, 1);
    seek_->setAccessibleName(localized("Audio position"));
    seek_->setObjectName(QStringLiteral("meeting-detail-seek"));
    seek_->setLayoutDirection(Qt::LeftToRight);
    QObject::connect(seek_, &QSlider::sliderMoved, self, &MeetingDetailController::seekAudio);
    QObject::connect(seek_, &QSlider::actionTriggered, self, [self](int action) {
        if (action != QAbstractSlider::SliderMove)
            QMetaObject::invokeMethod(self, [self] { self->seekAudio(); });
    });
    speed_ = new QComboBox;
    for (auto title : meetingdetail::speedTitles)
        speed_->addItem(QString::fromUtf8(title.data(), qsizetype(title.size())));
    speed_->setCurrentIndex(meetingdetail::defaultSpeedIndex);
    speed_->setFrame(false);
    nameChoice(speed_, localized("Playback speed"));
    speed_->setObjectName(QStringLiteral("meeting-detail-speed"));
    speed_->setLayoutDirection(Qt::LeftToRight);
    QObject::connect(speed_, &QComboBox::activated, self, &MeetingDetailController::changeSpeed);
    clock_ = plainLabel();
    QFont clockFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    clockFont.setPointSizeF(11);
    clock_->setFont(clockFont);
    clock_->setForegroundRole(QPalette::PlaceholderText);
    clock_->setObjectName(QStringLiteral("meeting-detail-playback-time"));
    bar_ = new QWidget;
    bar_->setLayoutDirection(Qt::LeftToRight);
    auto* barRow = new QHBoxLayout(bar_);
    barRow->setContentsMargins(0, 0, 0, 0);
    barRow->setSpacing(10);
    barRow->addWidget(play_);
    barRow->addWidget(seek_, 1);
    barRow->addWidget(clock_);
    barRow->addWidget(speed_);
    separator_ = new QFrame;
    separator_->setFrameShape(QFrame::HLine);
    separator_->setFrameShadow(QFrame::Sunken);
    audioStatus_ = smallLabel(true);
    markAsReadout(audioStatus_, localized("Audio availability"));
    audioStatus_->setObjectName(QStringLiteral("meeting-detail-audio-status"));
}

void DetailPlaybackBar::forget() {
    play_ = nullptr;
    seek_ = nullptr;
    clock_ = nullptr;
    speed_ = nullptr;
    bar_ = nullptr;
    separator_ = nullptr;
    audioStatus_ = nullptr;
}

void DetailPlaybackBar::show(const meetingdetail::PlaybackBar& state, bool playing) {
    play_->setIcon(
        QApplication::style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    play_->setAccessibleName(qs(state.playTitle));
    play_->setToolTip(qs(state.playTitle));
    play_->setEnabled(state.controlsEnabled);
    seek_->setEnabled(state.controlsEnabled);
    speed_->setEnabled(state.controlsEnabled);
    bar_->setVisible(!state.barHidden);
    separator_->setVisible(!state.separatorHidden);
    constexpr std::int64_t top = std::numeric_limits<int>::max();
    seek_->blockSignals(true);
    seek_->setMaximum(int(std::min(state.sliderMaximum, top)));
    seek_->setValue(int(std::clamp<std::int64_t>(state.sliderValue, 0, top)));
    seek_->blockSignals(false);
    clock_->setText(qs(state.label));
    clock_->setToolTip(qs(state.tooltip));
}

void DetailPlaybackBar::showAudioStatus(const std::optional<std::string>& status) {
    const std::string text = status.value_or("");
    audioStatus_->setText(qs(text));
    audioStatus_->setVisible(!text.empty());
}

int DetailPlaybackBar::position() const {
    return seek_->value();
}

int DetailPlaybackBar::speedIndex() const {
    return speed_->currentIndex();
}

} // namespace nuvel
