#pragma once

// The detail screen's playback bar: play or pause, the position slider, the clock and the speed,
// with the line under it that says why the audio cannot be played. It shows what the owner
// reports and passes every press to the screen's controller.

#include "Nuvel/model/detail/MeetingDetailHeader.hpp"

#include <optional>
#include <string>

class QComboBox;
class QFrame;
class QLabel;
class QSlider;
class QToolButton;
class QWidget;

namespace nuvel {

class MeetingDetailController;

class DetailPlaybackBar {
public:
    // Makes the bar's views, unparented; the screen lays them out.
    void build(MeetingDetailController& owner);
    // The screen's view tree is gone with the views in it.
    void forget();

    QWidget* bar() const { return bar_; }
    QFrame* separator() const { return separator_; }
    QLabel* audioStatus() const { return audioStatus_; }

    void show(const meetingdetail::PlaybackBar& state, bool playing);
    void showAudioStatus(const std::optional<std::string>& status);

    // The slider's position, in milliseconds, and the chosen item of the speed popup.
    int position() const;
    int speedIndex() const;

private:
    QToolButton* play_ = nullptr;
    QSlider* seek_ = nullptr;
    QLabel* clock_ = nullptr;
    QComboBox* speed_ = nullptr;
    QWidget* bar_ = nullptr;
    QFrame* separator_ = nullptr;
    QLabel* audioStatus_ = nullptr;
};

} // namespace nuvel
