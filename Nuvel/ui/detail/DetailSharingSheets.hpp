#pragma once

// The rename and sharing sheets of the detail screen. Each action button acts only while the
// screen still shows the meeting the sheet was opened on; Cancel and Done always close. What the
// user asks for goes out through the controller's closures.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"

#include <QPointer>
#include <QString>
#include <optional>
#include <string>

class QDialog;
class QWidget;

namespace nuvel {

class MeetingDetailController;

class DetailSharingSheets {
public:
    DetailSharingSheets(MeetingDetailController& owner, const meetingdetail::DetailLocale& locale);

    QDialog* sharingSheet() const { return sharingSheet_; }
    QDialog* renameSheet() const { return renameSheet_; }

    // Each opens over the window of `root`, the screen's loaded view, unless the shown meeting
    // refuses it or a sheet is already open.
    void showRename(QWidget* root);
    // `pendingLinkURL` is the link created last, offered for copying.
    void showSharing(QWidget* root, const std::optional<std::string>& pendingLinkURL);
    void closeSharing();
    void closeRename();
    // The sharing sheet's invitation ended. Invited: the sheet closes. Not: it stays with the
    // address as typed, says `sentence` and may be sent again.
    void finishInvitation(bool invited, const QString& sentence);

    // The screen is going: the sheets with it.
    void deleteViews();

private:
    // Sizes the sharing sheet to its content, at most 620 tall; once it scrolls, the sheet is
    // wider by the scroll bar, which would otherwise cover the right edge of every control.
    static void fitSharingSheet(QDialog* sheet);
    QWidget* sharingContent(const MeetingDetailSnapshot& opened,
                            const std::optional<std::string>& pendingLinkURL);
    bool stillShowing(const std::string& id) const;

    MeetingDetailController& owner_;
    const meetingdetail::DetailLocale& locale_;
    QPointer<QDialog> sharingSheet_;
    // The sharing sheet's invitation is on its way.
    bool inviting_ = false;
    QPointer<QDialog> renameSheet_;
};

} // namespace nuvel
