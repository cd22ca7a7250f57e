#pragma once

#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"

#include <functional>
#include <memory>

namespace nuvel {

class AppModel;

// Decides every request to quit: the menu's and the tray's, a termination signal and the end
// of the desktop session. Quitting never loses audio, never interrupts an upload without the
// user's consent and never drops notes still being saved:
//
//  1. an installed update waits to relaunch while work runs: refused, no alert;
//  2. a recording exists: "Stop and save before quitting?"; confirmed, the editor's text is
//     committed, the recording is stopped and saved, and the application ends after that;
//  3. the model is busy: refused, no alert;
//  4. an upload runs: "Pause this upload and quit?"; confirmed, go on;
//  5. the editor's text is committed and the application ends once the notes save in
//     flight has finished.
//
// A request that nobody can answer (a signal, a session that ends without interaction) takes
// the alerts' first answer, and one refused because work runs is kept and tried again after
// each model change until it goes through. A request while a quit is already on its way
// changes nothing. Main thread only.
class QuitCoordinator {
public:
    enum class Reply { cancel, later };
    enum class Origin { interactive, unattended };
    // The alerts a quit may put up: steps 2 and 4 above.
    enum class Question { stopAndSave, pauseUpload };

    struct Hooks {
        // An installed update holds its relaunch until running work ends.
        std::function<bool()> relaunchWaiting;
        // Writes the open notes editor's text into its recording.
        std::function<void()> commitScratchpad;
        // Ends the application; called once.
        std::function<void()> terminate;
        // Puts up the alert and returns once it is answered: true for its first answer, which
        // quits. Only interactive requests ask.
        std::function<bool(Question)> ask;
    };

    QuitCoordinator(AppModel& model, MainQueue& queue, Hooks hooks);
    ~QuitCoordinator();
    QuitCoordinator(const QuitCoordinator&) = delete;
    QuitCoordinator& operator=(const QuitCoordinator&) = delete;

    Reply confirmTermination(Origin origin);

    // True from a "later" reply on: the application is on its way out.
    bool isTerminating() const { return terminating_; }
    // Whether an unattended request waits for running work to end.
    bool hasHeldRequest() const { return heldUnattended_; }

    // Called after every model change: retries a held request, and ends a quit whose stop has
    // ended without calling back.
    void modelChanged();

private:
    struct Shared;

    bool refusedWhileWorkRuns() const;
    bool confirmed(Question question) const;
    void beginTerminating();
    void stopThenReply();
    void replyAfterNotesSaved();
    static Task<void> replyTask(std::weak_ptr<Shared> shared, TaskHandle notes);

    AppModel& model_;
    MainQueue& queue_;
    std::shared_ptr<Shared> shared_;
    bool terminating_ = false;
    bool waitingForStop_ = false;
    bool replyStarted_ = false;
    bool heldUnattended_ = false;
    TaskHandle reply_;
};

} // namespace nuvel
