#pragma once

#include "NuvelKit/capture/SourceCheck.hpp"
#include "NuvelKit/capture/SystemAudioSelection.hpp"
#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QWidget;

namespace nuvel {

class LevelIndicator;

// The checks the sheet can run. Each returns normally when the check passed and throws when it
// failed or was cancelled; each writes its meters through the weak sink it is given, on the
// main thread, and never keeps the sheet alive.
struct SourceChecks {
    // The microphone alone (the chosen device, or the default when none).
    using Microphone = std::function<Task<void>(std::optional<std::uint32_t> microphoneDeviceID,
                                                std::weak_ptr<SourceCheckMeters> meters)>;
    // An application's or all system audio, together with the microphone when
    // `includesMicrophone`; sets both meters on every pass.
    using System = std::function<Task<void>(SystemAudioSelection selection, bool includesMicrophone,
                                            std::optional<std::uint32_t> microphoneDeviceID,
                                            std::weak_ptr<SourceCheckMeters> meters)>;

    Microphone microphone;
    System system; // a check with a source fails while this is empty
};

// The three-second check of the chosen sources before a recording, as a window-modal sheet.
//
// The sheet meters each source, keeps nothing of the audio, and enables "Start recording" only
// after the check has passed. A failed check is not repeated: the user cancels and opens the
// sheet again. "Start recording" (or Return, once the check has passed) closes the sheet first
// and then runs `onStart`; "Cancel" (or Escape, or the window's close) stops the check and
// closes the sheet without it.
//
// Lifetime: once presented, the sheet owns itself and deletes itself (deleteLater) when it is
// dismissed; create it with new and do not delete it while it is on screen. A sheet that is
// never presented belongs to its creator.
//
// Main thread only: every entry point checks it.
class SourceCheckController final : public QDialog {
    Q_OBJECT
public:
    // `source`: the application or all-system audio to check with the microphone; none for
    // the microphone alone. `heading`: the caller's text, shown as it is.
    // `microphoneDeviceID`: the chosen input device; none for the system default.
    SourceCheckController(MainQueue& queue, SourceChecks checks, std::optional<SystemAudioSelection> source,
                          const QString& heading, std::optional<std::uint32_t> microphoneDeviceID);
    ~SourceCheckController() override;

    // What "Start recording" runs, after the sheet has closed. Set it before presenting.
    std::function<void()> onStart;

    // Shows the sheet (window-modal on `parent`'s window, or as a window of its own when there
    // is no parent) and starts the check. Presenting again does nothing.
    void present(QWidget* parent = nullptr);

    // The "Cancel" action: dismisses the sheet.
    void cancelCheck();
    // The "Start recording" action: nothing unless the check has passed; otherwise takes
    // `onStart`, dismisses the sheet and then calls it (at most once).
    void startRecording();
    // Cancels a running check, ends the sheet and closes it, and lets go of its self-ownership.
    void dismiss();

    bool sourceChecked() const { return sourceChecked_; }
    bool isChecking() const { return check_.isValid() && !check_.isFinished(); }
    const std::optional<SystemAudioSelection>& source() const { return source_; }
    std::optional<std::uint32_t> microphoneDeviceID() const { return microphoneDeviceID_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    static Task<void> runCheck(QPointer<SourceCheckController> controller, SourceChecks checks,
                               std::optional<SystemAudioSelection> source,
                               std::optional<std::uint32_t> microphoneDeviceID,
                               std::weak_ptr<SourceCheckMeters> meters);
    void finishCheck(bool passed);
    void dismissWith(int result);
    void setStatus(const QString& text);
    void fitToContent();

    MainQueue* queue_;
    SourceChecks checks_;
    std::optional<SystemAudioSelection> source_;
    std::optional<std::uint32_t> microphoneDeviceID_;
    LevelIndicator* microphone_ = nullptr;
    LevelIndicator* system_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* start_ = nullptr;
    TaskHandle check_;
    bool sourceChecked_ = false;
    bool retainedSelf_ = false;
    bool presented_ = false;
    bool dismissed_ = false;
    std::shared_ptr<SourceCheckMeters> meters_;
};

} // namespace nuvel
