#pragma once

#include "NuvelKit/support/MainQueue.hpp"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

class QMenu;

namespace nuvel {

class PromptWindow;

// The small floating panel that asks whether to record a meeting: one prompt at a time in the
// top corner of the primary screen (top right; top left when the interface reads right to
// left), without taking the focus from the application in front. It offers "Record…",
// "Dismiss", an options menu and, with a meeting link, "Join"; it closes itself after the time
// the caller gives, and every choice but "Join" takes it down before its callback runs.
//
// It is a tool window without a frame that does not accept focus. Under Wayland, where and
// above what it appears is the compositor's decision.
//
// Main thread only: every entry point checks it.
class MeetingPromptPanel final : public QObject {
    Q_OBJECT
public:
    // One prompt, as the caller builds it.
    struct Content {
        QIcon icon;                       // the meeting application's or the calendar's
        QString title;                    // first line, bold, cut to one line
        QString detail;                   // up to three lines
        std::optional<QString> muteTitle; // the options menu's mute item; none without it
        std::optional<QUrl> joinURL;      // a "Join" button only with it
    };

    static constexpr int width = 360;
    static constexpr int screenMargin = 12;
    static constexpr double fadeInSeconds = 0.18;
    static constexpr double fadeOutSeconds = 0.15;

    explicit MeetingPromptPanel(MainQueue& queue, QObject* parent = nullptr);
    ~MeetingPromptPanel() override;

    // The user's choices. Each runs after the panel has begun to go.
    std::function<void()> onRecord;
    std::function<void()> onMute;
    std::function<void()> onSettings;
    // Opens the join link. Default: the desktop's URL handler.
    std::function<void(const QUrl&)> openURL;
    // Seconds on a clock that keeps counting while the computer sleeps: the time a prompt stays
    // counts on it. Default: continuousTimeSeconds.
    std::function<double()> continuousNow;

    // Replaces any prompt on screen with this one; it goes by itself after `dismissAfter`
    // seconds unless it goes earlier.
    void show(const Content& content, double dismissAfter);
    // Cancels the timed dismissal and fades out the prompt on screen; nothing when none is.
    void dismiss();

    // The controls' actions.
    void record();
    void dismissPrompt();
    void mute();
    void settings();
    void openJoin();

    // The panel on screen; null when none is shown or it is fading out.
    QWidget* panel() const;
    const std::optional<QUrl>& joinURL() const { return joinURL_; }
    bool dismissalPending() const { return dismissal_.has_value(); }

private:
    void requireMain(const char* where) const;
    PromptWindow* build(const Content& content);
    void place(PromptWindow* window) const;
    // Dismisses the prompt once `continuousNow` reaches `deadline`, waking at least every
    // continuousSleepStep seconds: the queue's timers stop while the computer sleeps.
    void dismissAt(double deadline);

    MainQueue* queue_;
    QPointer<PromptWindow> panel_;
    std::optional<MainQueue::TimerId> dismissal_;
    std::optional<QUrl> joinURL_;
};

} // namespace nuvel
