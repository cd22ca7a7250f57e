#pragma once

#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace nuvel {

class AppModel;
class LevelIndicator;

// The content of the status item's popover: the recorder's small remote control while the
// library window is closed. It shows whether a recording runs, its time, the microphone and
// the application being captured with a meter each, how many recordings wait for upload and
// the most recent recording; its buttons go straight to the model or to `openLibrary`.
//
// Main thread only. The view is built on first use of `view()`; `render` and `tick` do
// nothing before that.
class CompanionController final : public QObject {
    Q_OBJECT
public:
    // The name of the input device with this unique identifier, none when it is not connected.
    // Blocks (it asks the sound server) and throws when the devices cannot be listed.
    using MicrophoneNameLookup = std::function<std::optional<std::string>(const std::string& uid)>;

    static constexpr int width = 360;

    CompanionController(AppModel& model, std::function<void()> openLibrary, MainQueue& queue,
                        Executor& executor, MicrophoneNameLookup microphoneName);
    ~CompanionController() override;
    CompanionController(const CompanionController&) = delete;
    CompanionController& operator=(const CompanionController&) = delete;

    // The view, built on first use.
    QWidget* view();
    bool isViewLoaded() const { return content_ != nullptr; }

    void render();
    void tick();
    // The size the popover takes: 360 wide, as high as the content.
    QSize preferredContentSize() const { return preferredSize_; }

    // The buttons' actions.
    void open();
    void togglePause();
    void stopRecording();
    void bookmark();

private:
    void buildView();
    void resolveMicrophoneName();
    static Task<void> lookUpMicrophone(QPointer<CompanionController> controller, Executor* executor,
                                       MicrophoneNameLookup lookup, std::string uid, Uuid recordingID);

    AppModel& model_;
    std::function<void()> openLibrary_;
    MainQueue& queue_;
    Executor& executor_;
    MicrophoneNameLookup microphoneLookup_;

    QPointer<QWidget> root_;
    QLabel* timerLabel_ = nullptr;
    QLabel* state_ = nullptr;
    QLabel* microphoneName_ = nullptr;
    QLabel* applicationName_ = nullptr;
    LevelIndicator* microphoneMeter_ = nullptr;
    LevelIndicator* systemMeter_ = nullptr;
    QLabel* queueStatus_ = nullptr;
    QLabel* recentTitle_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* mark_ = nullptr;
    QWidget* sourceGroup_ = nullptr;
    QWidget* applicationGroup_ = nullptr;
    QWidget* content_ = nullptr;
    QFrame* separator_ = nullptr;

    // The active recording's microphone name, looked up once per recording.
    std::optional<Uuid> resolvedRecordingID_;
    std::string resolvedMicrophoneName_;
    TaskHandle lookup_;
    QSize preferredSize_;
};

} // namespace nuvel
