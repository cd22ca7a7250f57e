#pragma once

#include "Nuvel/model/shell/ShellParts.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/library/AudioImport.hpp"
#include "Nuvel/ui/library/LocalRecordingPane.hpp"
#include "Nuvel/ui/sheets/NewRecordingSheet.hpp"
#include "Nuvel/ui/sheets/SourceCheckController.hpp"
#include "Nuvel/ui/widgets/FocusPlace.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QWidget;

namespace nuvel {

class AppModel;
class AudioDropSplitter;
class CapturePermission;
class DefaultsStore;
class Dialogs;
class MeetingDetailRequests;
class RecordingSources;
class SegmentedControl;
class SidebarListModel;

// The library window's controller: a sidebar (which list, the workspace, the library search,
// the meetings coming up, the list itself, "Load more" and the account row) beside a detail side
// that shows one pane at a time: the opened cloud meeting, the selected local recording, or a
// message. It draws everything from the two models on every render and changes them only
// through their operations. Main thread only; built once and kept while the process runs.
class LibraryController final : public QObject, public ShellLibrary {
    Q_OBJECT
public:
    struct Dependencies {
        MainQueue* queue = nullptr;
        Executor* executor = nullptr;
        Dialogs* dialogs = nullptr;
        DefaultsStore* defaults = nullptr;
        RecordingSources* sources = nullptr;
        CapturePermission* permission = nullptr;
        // The host that serves view-only links; empty: the product's own.
        std::string webHost;
        // Opens the desktop's settings where calendar access is given; unset: nothing.
        std::function<void()> openCalendarSettings;
    };

    // Where the divider is kept between launches.
    static constexpr const char* splitDefaultsKey = "NSSplitView Subview Frames NuvelLibrarySplit";
    static constexpr int firstSidebarWidth = 250;
    static constexpr int rowHeight = 46;

    LibraryController(AppModel& model, Dependencies dependencies);
    ~LibraryController() override;

    // ---- The shell's side ----
    QWidget* view() override;
    void populateToolbar(QToolBar* toolbar) override;
    QWidget* initialFocus() override;
    void render() override;
    void renderUpcoming() override;
    void tick() override;
    void commitScratchpad() override;
    void beginNewRecording(const RecordingSuggestion* suggestion) override;
    void chooseAudioFile() override;
    void setCalendar(ShellCalendar* calendar) override;
    bool cloudVisible() const override { return cloudVisible_; }
    QWidget* searchField() override;
    bool findInScratchpad() override;
    bool findInOpenMeeting() override;

    // ---- Actions of the window's controls ----
    void locationChanged(int segment);
    void searchLibrary(const QString& text);
    void loadMore();
    void refreshCloud();
    void retryCorrection();
    void workspaceChanged(int index);
    void accountAction();
    void signIn();
    void newRecordingAction();
    void importAudio();
    void openCalendarPrivacy();
    void recordUpcoming(const CalendarMeeting& meeting);
    // A file dropped on the window: the import confirmation, once the drag has ended.
    void dropFile(const std::filesystem::path& file);

    // ---- What the window holds, for the shell and tests ----
    SourceCheckController* sourceCheck() const { return sheet_.sourceCheck(); }
    MeetingDetailController& cloudDetail() { return cloudDetail_; }
    LocalRecordingPane& localPane() { return pane_; }
    AudioDropSplitter* splitter() const;
    QListView* table() const { return table_; }
    QVBoxLayout* detail() const { return detail_; }
    bool searchMode() const { return searchMode_; }
    const std::optional<std::string>& selectedCloudID() const { return selectedCloudID_; }

private:
    void buildSidebar();
    void buildDetail();
    // The one detail screen's view, built when the first meeting is shown: parented to the
    // detail side for good and placed by each render.
    QWidget* detailScreen();
    void wireDetailRequests();
    void restoreDivider();
    // Saves the divider's place in the defaults now.
    void saveDivider();

    // render's parts.
    void renderSidebar();
    void restoreSelection();
    void readListForOpenedMeeting();
    void renderWorkspaces();
    void renderAccount();
    void validateToolbar();
    // Empties the detail side; with `keepEditor` the local pane holds its notes editor for the
    // pane that is built next.
    void emptyDetail(bool keepEditor);
    void renderCloud();
    void renderEmpty();
    void renderLocal(const LocalRecording& recording);
    void showMessage(const char* symbol, const QString& title, const QStringList& lines, QPushButton* button,
                     bool isDefault);
    // "Sign in to Nuvel", greyed while the model would not start a sign-in (its start-up, a
    // recording, an upload): a press then would do nothing.
    QPushButton* signInButton();
    bool notesEditorHasFocus() const;
    // After a redraw, once its controls show: the keyboard back where it was in the detail side.
    void returnFocus();
    // Keeps the keyboard's place on the open meeting's screen while the meeting loads again.
    void holdFocusWhileReloading(bool meetingReloads);

    void selectionChanged();
    int rowCount() const;

    AppModel& model_;
    Dependencies deps_;
    NewRecordingSheet sheet_;
    AudioImport import_;
    MeetingDetailController cloudDetail_;
    std::unique_ptr<MeetingDetailRequests> requests_;
    LocalRecordingPane pane_;

    QPointer<AudioDropSplitter> splitter_;
    QWidget* sidebar_ = nullptr;
    SegmentedControl* location_ = nullptr;
    QComboBox* workspacePicker_ = nullptr;
    QLineEdit* librarySearch_ = nullptr;
    QWidget* upcoming_ = nullptr;
    QListView* table_ = nullptr;
    SidebarListModel* listModel_ = nullptr;
    QLabel* emptyList_ = nullptr;
    QPushButton* more_ = nullptr;
    QLabel* account_ = nullptr;
    QPushButton* accountButton_ = nullptr;
    QScrollArea* detailScroll_ = nullptr;
    QWidget* detailHost_ = nullptr;
    QVBoxLayout* detail_ = nullptr;
    QPointer<QAction> toggleSidebar_;
    QPointer<QAction> newRecording_;
    QPointer<QAction> importAudio_;

    ShellCalendar* calendar_ = nullptr;
    bool cloudVisible_ = false;
    bool searchMode_ = false;
    bool isRendering_ = false;
    // Where the keyboard was in the detail side before the redraws whose controls have not shown
    // yet, and how many of those redraws are still to give it back.
    FocusPlace lostFocus_;
    int focusReturns_ = 0;
    // A control that stands greyed while its task runs, which has the keyboard back once it is
    // enabled again; meanwhile the keyboard waits on the list's row of `greyedFocusFor_` (or on
    // the window, with the list hidden), for as long as the user leaves it there and that
    // recording stays chosen.
    FocusPlace greyedFocus_;
    std::optional<Uuid> greyedFocusFor_;
    bool focusWaitsOnList_ = false;
    // The open meeting is loaded again (a saved correction reopens it with the new revision):
    // while its screen is away, the keyboard that was on it waits on the meeting's row (or on
    // the window), where the window's activation finds it too, and goes back once the meeting
    // `reloadFocusFor_` shows again, unless the user has moved it meanwhile.
    FocusPlace reloadFocus_;
    std::optional<std::string> reloadFocusFor_;
    QPointer<QWidget> reloadFocusWait_;
    bool dividerPlaced_ = false;
    // A drag moves the divider many times a second: its place is saved once the drag settles.
    QTimer dividerSave_;
    std::optional<std::string> selectedCloudID_;
    // A sent recording's meeting, opened from its pane: the list, read before the meeting was
    // made, is read again once the meeting has loaded, unless it has the meeting by then.
    std::optional<std::string> listingAwaited_;
    // The id of the meeting last handed to the detail screen.
    std::optional<std::string> lastDocumentID_;
};

} // namespace nuvel
