#pragma once

// The meeting detail screen: one opened cloud meeting inside the library window's detail pane.
// It never talks to the service or the cloud model. The owner hands it the opened meeting
// through render, clear, updatePlayback and finishCorrection, and receives every intent of the
// user through the closure properties below.

#include "Nuvel/model/detail/CorrectionDraft.hpp"
#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/DetailText.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"
#include "Nuvel/model/detail/MeetingDetailTranscript.hpp"
#include "NuvelKit/meetings/MeetingCorrection.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QToolButton;
class QWidget;

namespace nuvel {

class MenuButton;
class ReadableTextView;
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
    // Set by the owner after each render from the meeting's "delete" permission.
    void setCanDelete(bool canDelete);

    // Actions of the screen's controls.
    void findNext();
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
    const meetingdetail::WordRanges& wordRanges() const { return wordRanges_; }
    const std::optional<meetingdetail::CorrectionDraft>& correctionDraft() const { return draft_; }
    QDialog* correctionSheet() const { return correctionSheet_; }
    QDialog* sharingSheet() const { return sharingSheet_; }
    QDialog* renameSheet() const { return renameSheet_; }
    bool canDelete() const { return canDelete_; }

private:
    void loadView();
    void forgetView();
    void buildMoreMenu();
    void redraw();
    void drawTranscript(const MeetingDetailSnapshot& display);
    void drawNotes(const MeetingDetailSnapshot& display);
    void updateTabContent();
    void updateLayerControls();
    void updateEditEnabled();
    void updateAudioStatus();
    void showStatus(const std::string& sentence);
    void selectTab(int segment);
    void jumpToTime(std::int64_t ms);
    void selectEvidence(const MeetingDetailSnapshot::Evidence& evidence);
    void switchLayer(bool original);
    std::vector<MeetingDetailSnapshot::Word> selectedWords() const;
    void showTranscriptMenu(const QPoint& at);
    QDialog* makeSheet(const QString& title, int width, int height);
    void closeSheet(QPointer<QDialog>& sheet);
    void closeCorrectionSheet();
    void showDraft();
    void putBackCorrectionControls();
    void ensureCorrectionControls();
    QWidget* sharingContent(const MeetingDetailSnapshot& opened);
    bool stillShowing(const std::string& id) const;
    bool windowHasSheet() const;

    meetingdetail::DetailLocale locale_;
    std::string webHost_;

    std::optional<MeetingDetailSnapshot> snapshot_;
    meetingdetail::WordRanges wordRanges_;
    std::optional<MeetingTranscriptDocument> originalTranscript_;
    bool showingOriginal_ = false;
    std::vector<MeetingDetailSnapshot::Word> displayedWords_;
    std::map<std::string, MeetingDetailSnapshot::Evidence> evidenceRanges_;
    std::optional<std::string> dismissedStaleID_;
    bool canDelete_ = false;
    std::optional<std::string> pendingLinkURL_;
    meetingdetail::DetailText transcriptText_;
    meetingdetail::DetailText notesText_;
    bool playing_ = false;
    bool audioAvailable_ = false;

    // The correction draft; the sheet's three controls are made once and moved into each sheet.
    std::optional<meetingdetail::CorrectionDraft> draft_;
    QPointer<QDialog> correctionSheet_;
    QPointer<QDialog> sharingSheet_;
    QPointer<QDialog> renameSheet_;
    QPointer<QLineEdit> correctionField_;
    QPointer<QLabel> correctionStatus_;
    QPointer<QComboBox> speakerPicker_;
    QPointer<SegmentedControl> correctionModes_;
    QPointer<QPushButton> saveButton_;
    QPointer<QPushButton> reloadButton_;
    QPointer<QPushButton> rebaseButton_;

    // Where the shown notes came from; the info popover says it.
    QString provenance_;

    // The view tree, once loaded.
    QPointer<QWidget> root_;
    QLabel* titleLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    ReadableTextView* transcript_ = nullptr;
    ReadableTextView* notes_ = nullptr;
    QLabel* subtitleLabel_ = nullptr;
    QComboBox* layerPopup_ = nullptr;
    QWidget* staleBanner_ = nullptr;
    QWidget* playbackBar_ = nullptr;
    QFrame* playbackSeparator_ = nullptr;
    QPointer<QWidget> infoPopover_;
    QAction* deleteItem_ = nullptr;
    QAction* deleteSeparator_ = nullptr;
    QLineEdit* search_ = nullptr;
    SegmentedControl* tabs_ = nullptr;
    QToolButton* play_ = nullptr;
    QSlider* seek_ = nullptr;
    QLabel* playbackLabel_ = nullptr;
    QLabel* audioStatusLabel_ = nullptr;
    QComboBox* speed_ = nullptr;
    QAction* edit_ = nullptr;
    MenuButton* export_ = nullptr;
    QToolButton* share_ = nullptr;
    QPushButton* copyLinkButton_ = nullptr;
    QAction* rename_ = nullptr;
    MenuButton* more_ = nullptr;
};

} // namespace nuvel
