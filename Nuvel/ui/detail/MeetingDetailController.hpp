#pragma once

// The meeting detail screen: one opened cloud meeting inside the library window's detail pane.
// It never talks to the service or the cloud model. The owner hands it the opened meeting
// through render, clear, updatePlayback and finishCorrection, and receives every intent of the
// user through the closure properties below. The screen's parts with a job of their own (the
// reading panes, the find field, the playback bar, the toolbar, the correction sheet and the
// rename and sharing sheets) are classes it owns; this one holds the opened meeting, draws its
// header and passes each part what it shows.

#include "Nuvel/model/detail/CorrectionDraft.hpp"
#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"
#include "Nuvel/model/detail/MeetingDetailTranscript.hpp"
#include "Nuvel/ui/detail/DetailCorrectionSheet.hpp"
#include "Nuvel/ui/detail/DetailFindBar.hpp"
#include "Nuvel/ui/detail/DetailPlaybackBar.hpp"
#include "Nuvel/ui/detail/DetailReadingPanes.hpp"
#include "Nuvel/ui/detail/DetailSharingSheets.hpp"
#include "Nuvel/ui/detail/DetailToolbar.hpp"
#include "NuvelKit/meetings/MeetingCorrection.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QWidget;

namespace nuvel {

class SegmentedControl;

class MeetingDetailController : public QObject {
    Q_OBJECT
public:
    // `webHost` is the host that serves shared-link pages; a created link elsewhere is dropped.
    explicit MeetingDetailController(std::string webHost = {}, QObject* parent = nullptr);
    ~MeetingDetailController() override;

    // The user's intents, in the owner's hands.
    std::function<void(std::int64_t positionMS)> onPlay;
    std::function<void()> onTogglePlayback;
    std::function<void(std::int64_t positionMS)> onSeek;
    std::function<void(float rate)> onSpeed;
    std::function<void(const MeetingCorrection&, const std::string& revision)> onCorrection;
    std::function<void(const std::string& format, const std::string& variant)> onExport;
    std::function<void(const MeetingShareRequest&)> onCreateShare;
    std::function<void(const std::string& shareID)> onRevokeShare;
    std::function<void()> onRefresh;
    std::function<void()> onReloadCorrection;
    std::function<void(const std::string& title)> onRename;
    std::function<void(int days, bool includeAudio)> onCreateLink;
    std::function<void(const std::string& linkID)> onRevokeLink;
    std::function<void()> onDelete;

    // The screen's widget, built on first use.
    QWidget* view();
    bool isViewLoaded() const { return root_ != nullptr; }

    // Entry points of the owner.
    void render(const NativeMeetingDocument& document, const MeetingSharingDocument* sharing,
                const MeetingTranscriptDocument* originalTranscript,
                const std::optional<std::string>& pendingLinkURL);
    void clear();
    void updatePlayback(bool playing, std::int64_t positionMS, std::int64_t durationMS, bool audioAvailable);
    void finishCorrection(bool saved, bool conflict, const std::optional<std::string>& message);
    // How the guest invitation of the sharing sheet ended: invited closes the sheet; otherwise
    // the sheet stays with the address as typed and shows `message`.
    void finishInvitation(bool invited, const std::string& message);
    // Set by the owner after each render from the meeting's "delete" permission.
    void setCanDelete(bool canDelete);

    // Actions of the screen's controls.
    void findNext();
    // The find field's text changed: a sentence about the earlier query goes.
    void findChanged();
    // The find command (the window's find key): when the window's focus is inside this screen,
    // the find field takes it with its text selected. False when the focus is elsewhere.
    bool findFromFocus();
    void changeTab();
    void chooseTranscriptLayer();
    void dismissStale();
    void togglePlayback();
    void seekAudio();
    void changeSpeed();
    void correctSelection();
    void exportSelected(int itemIndex);
    void showSharing();
    void showRename();
    void copyDocument();
    void showInfo();
    void refreshDocument();
    void deleteMeeting();
    void copyCreatedLink();
    void playSelection();
    // A clicked link of the notes view ("nuvel-time:…", "nuvel-evidence:…").
    void openLink(const QString& link);

    // Actions of the correction sheet.
    void changeCorrectionMode(int mode);
    void undoDraft();
    void reloadCorrection();
    void useCurrentRevision();
    void saveCorrection();
    void cancelCorrection();

    // What the screen holds, for the owner and for tests.
    const MeetingDetailSnapshot* snapshot() const { return snapshot_ ? &*snapshot_ : nullptr; }
    bool showingOriginal() const { return showingOriginal_; }
    const std::optional<std::string>& pendingLinkURL() const { return pendingLinkURL_; }
    const meetingdetail::WordRanges& wordRanges() const { return panes_.wordRanges(); }
    const std::optional<meetingdetail::CorrectionDraft>& correctionDraft() const {
        return correction_.draft();
    }
    QDialog* correctionSheet() const { return correction_.sheet(); }
    QDialog* sharingSheet() const { return sheets_.sharingSheet(); }
    QDialog* renameSheet() const { return sheets_.renameSheet(); }
    bool canDelete() const { return canDelete_; }

private:
    void loadView();
    void forgetView();
    void redraw();
    void updateTabContent();
    void updateLayerControls();
    void updateEditEnabled();
    void updateAudioStatus();
    void showStatus(const std::string& sentence);
    void selectTab(int segment);
    void jumpToTime(std::int64_t ms);
    void selectEvidence(const MeetingDetailSnapshot::Evidence& evidence);
    void switchLayer(bool original);
    void closeCorrectionSheet();
    // The transcript shown with the words of the last saved correction selected.
    void showCorrectedWords(const std::vector<std::string>& wordIDs);

    meetingdetail::DetailLocale locale_;
    std::string webHost_;

    std::optional<MeetingDetailSnapshot> snapshot_;
    std::optional<MeetingTranscriptDocument> originalTranscript_;
    bool showingOriginal_ = false;
    std::optional<std::string> dismissedStaleID_;
    bool canDelete_ = false;
    std::optional<std::string> pendingLinkURL_;
    bool audioAvailable_ = false;
    // The status line says that the find field's query has no match.
    bool statusSaysNoMatches_ = false;
    // A saved correction's meeting, words and the revision it was made on: the meeting is
    // cleared and loaded again (from this computer's copy first, then with the new revision from
    // the service), and each time it is drawn anew its transcript shows those words selected.
    struct CorrectedWords {
        std::string meetingID;
        std::vector<std::string> wordIDs;
        std::string revision;
    };
    std::optional<CorrectedWords> corrected_;

    // Where the shown notes came from; the info popover says it.
    QString provenance_;

    // The parts of the screen with a job of their own.
    DetailReadingPanes panes_;
    DetailFindBar find_;
    DetailPlaybackBar playback_;
    DetailCorrectionSheet correction_;
    DetailSharingSheets sheets_;
    DetailToolbar toolbar_;

    // The view tree, once loaded.
    QPointer<QWidget> root_;
    QLabel* titleLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* subtitleLabel_ = nullptr;
    QComboBox* layerPopup_ = nullptr;
    QWidget* staleBanner_ = nullptr;
    SegmentedControl* tabs_ = nullptr;
};

} // namespace nuvel
