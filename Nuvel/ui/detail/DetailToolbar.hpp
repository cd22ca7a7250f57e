#pragma once

// The commands at the end of the detail screen's header row: share, export, the button that
// copies a link just created, and the More menu (correct, rename, copy, info, refresh, delete)
// with the info popover it opens. Every command goes to the screen's controller.

#include <QPointer>
#include <QString>

class QAction;
class QPushButton;
class QToolButton;
class QWidget;

namespace nuvel {

class MenuButton;
class MeetingDetailController;

class DetailToolbar {
public:
    // Makes the buttons, unparented, the copy button shown when a created link is waiting and the
    // delete command hidden; the screen lays them out.
    void build(MeetingDetailController& owner, bool pendingLink);
    // The screen's view tree is gone with the buttons in it.
    void forget();

    MenuButton* exportButton() const { return export_; }
    QToolButton* shareButton() const { return share_; }
    QPushButton* copyLinkButton() const { return copyLink_; }
    MenuButton* moreButton() const { return more_; }
    QAction* correctItem() const { return edit_; }
    QAction* renameItem() const { return rename_; }

    // Each does nothing while the buttons are not made.
    void showCopyLink(bool shown);
    void showDelete(bool shown);
    // Where the shown notes came from, in a popover under the More button over `root`.
    void showInfo(QWidget* root, const QString& provenance);

private:
    void buildMoreMenu(MeetingDetailController& owner);

    MenuButton* export_ = nullptr;
    QToolButton* share_ = nullptr;
    QPushButton* copyLink_ = nullptr;
    MenuButton* more_ = nullptr;
    QAction* edit_ = nullptr;
    QAction* rename_ = nullptr;
    QAction* deleteItem_ = nullptr;
    QAction* deleteSeparator_ = nullptr;
    QPointer<QWidget> infoPopover_;
};

} // namespace nuvel
