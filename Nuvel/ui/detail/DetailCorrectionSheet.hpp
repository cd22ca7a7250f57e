#pragma once

// The correction sheet: a window-modal sheet over the transcript words the user selected. The
// draft itself and its rules are CorrectionDraft's; this shows it on the sheet's controls and
// hands out the correction to save. Its buttons go to the screen's controller.

#include "Nuvel/model/detail/CorrectionDraft.hpp"
#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"
#include "NuvelKit/meetings/MeetingCorrection.hpp"

#include <QPointer>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace nuvel {

class MeetingDetailController;
class SegmentedControl;

class DetailCorrectionSheet {
public:
    // `close` is how the screen closes the sheet when its window is closed by other means.
    DetailCorrectionSheet(MeetingDetailController& owner, const meetingdetail::DetailLocale& locale,
                          std::function<void()> close);

    const std::optional<meetingdetail::CorrectionDraft>& draft() const { return draft_; }
    QDialog* sheet() const { return sheet_; }
    bool saving() const { return draft_ && draft_->saving(); }

    // Opens the sheet over `words` of `shown`, on the window of `root` when there is one; false
    // when the words are no selection to correct.
    bool open(const MeetingDetailSnapshot& shown, const std::vector<MeetingDetailSnapshot::Word>& words,
              QWidget* root);
    // Takes the sheet down with its draft; its controls stay for the next one.
    void close();
    // Forgets the draft and empties the controls.
    void clear();
    // A snapshot drawn while the sheet is open.
    void apply(const MeetingDetailSnapshot& display);
    // The outcome of a save; true when the sheet is to close. Otherwise the sheet shows it.
    bool finish(bool saved, bool conflict, const std::optional<std::string>& message, bool canEdit);

    void changeMode(int mode, const MeetingDetailSnapshot* shown);
    void undo();
    // True when the draft asks for the meeting to be reloaded.
    bool reload(const MeetingDetailSnapshot* shown);
    void useCurrentRevision(const MeetingDetailSnapshot* shown);
    // The correction and the revision it was made on, once the draft is saving; none when the
    // draft refuses it.
    std::optional<std::pair<MeetingCorrection, std::string>> save(const MeetingDetailSnapshot* shown,
                                                                  bool canReport);

    // The screen is going: the sheet and the controls with it.
    void deleteViews();

private:
    void ensureControls();
    void putBackControls();
    void showDraft();

    MeetingDetailController& owner_;
    const meetingdetail::DetailLocale& locale_;
    std::function<void()> close_;
    // The draft; the sheet's three controls are made once and moved into each sheet.
    std::optional<meetingdetail::CorrectionDraft> draft_;
    QPointer<QDialog> sheet_;
    QPointer<QLineEdit> field_;
    QPointer<QLabel> status_;
    QPointer<QComboBox> speakerPicker_;
    QPointer<SegmentedControl> modes_;
    QPointer<QPushButton> saveButton_;
    QPointer<QPushButton> reloadButton_;
    QPointer<QPushButton> rebaseButton_;
};

} // namespace nuvel
