// The library window's redraw from the two models: the sidebar's controls and list, the
// account row, the meetings coming up and the one pane of the detail side.
#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/library/AudioDropSplitter.hpp"
#include "Nuvel/ui/library/LibraryController.hpp"
#include "Nuvel/ui/library/LibrarySidebar.hpp"
#include "Nuvel/ui/library/UpcomingMeetingRow.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"
#include "NuvelKit/calendar/CalendarMeetings.hpp"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayoutItem>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace nuvel {

namespace {

// A busy indicator: a small bar that runs without end.
QProgressBar* spinner() {
    auto* bar = new QProgressBar;
    bar->setObjectName(QStringLiteral("library-progress"));
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(80, 6);
    return bar;
}

QColor tertiaryColor() {
    QColor color = QApplication::palette().color(QPalette::PlaceholderText);
    color.setAlphaF(color.alphaF() * 0.6f);
    return color;
}

QLabel* upcomingNote(const char* text) {
    QLabel* label = makeLabel(localized(text), 11, QFont::Normal);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, tertiaryColor());
    label->setPalette(palette);
    return label;
}

// Empties the layout: its views go, but `keep`, which is hidden, and `held`, which stays on
// screen (it holds the keyboard) until it is placed again.
void removeAll(QLayout* layout, QWidget* keep, QWidget* held = nullptr) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget(); widget == keep && keep != nullptr) {
            keep->hide();
        } else if (widget != nullptr && widget != held) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
}

} // namespace

bool LibraryController::notesEditorHasFocus() const {
    QPlainTextEdit* editor = pane_.scratchpad();
    if (cloudVisible_ || editor == nullptr || pane_.renderedID() != model_.selectedID())
        return false;
    // The window's own focus, which it keeps while another application is in front: the user
    // may be typing notes while looking at the call.
    QWidget* window = splitter_->window();
    return window != nullptr && window->focusWidget() == editor;
}

void LibraryController::render() {
    if (!splitter_)
        return;
    // The user is typing notes: the pane is built again around the editor, which stays as it is.
    const bool keepEditor = notesEditorHasFocus() && model_.selectedRecording() != nullptr;
    isRendering_ = true;
    // The detail side is rebuilt below: the keyboard goes back where it was. A redraw before
    // the last one's controls showed finds the keyboard gone already, and keeps the place.
    if (FocusPlace focus = FocusPlace::inside(detailHost_); !focus.empty())
        lostFocus_ = focus;
    renderSidebar();
    validateToolbar();
    renderUpcoming();

    const CloudMeetingState& cloud = model_.cloud().state();
    // The open meeting has closed (deleted, or closed under the user; not reloading, which keeps
    // it selected): a keyboard that was in it goes to the list, where the next one is chosen,
    // rather than to whatever the window finds first.
    const bool meetingGone = cloudVisible_ && lastDocumentID_ && !cloud.document && !cloud.selectedID;
    // The open meeting goes to be loaded again; its screen is away until it has.
    const bool meetingReloads =
        cloudVisible_ && lastDocumentID_ && !cloud.document && cloud.selectedID == lastDocumentID_;
    if (!cloud.document) {
        cloudDetail_.clear();
        lastDocumentID_.reset();
    }
    emptyDetail(keepEditor);
    if (!model_.message().empty()) {
        QLabel* status = makeWrappingLabel(QString::fromStdString(model_.message()), 12, QFont::Normal);
        status->setObjectName(QStringLiteral("library-status"));
        status->setForegroundRole(QPalette::PlaceholderText);
        detail_->addWidget(status);
        if (model_.sessionRefused() && !cloudVisible_) {
            // The sentence asks to sign in again: the way to is beside it.
            QPushButton* signInAgain = signInButton();
            signInAgain->setObjectName(QStringLiteral("library-sign-in-again"));
            detail_->addWidget(signInAgain, 0, Qt::AlignLeading);
        }
        detail_->addSpacing(4);
        auto* line = new QFrame;
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        detail_->addWidget(line);
        detail_->addSpacing(4);
    }
    if (cloudVisible_)
        renderCloud();
    else if (const LocalRecording* recording = model_.selectedRecording())
        renderLocal(*recording);
    else
        renderEmpty();
    if (model_.busy() || model_.uploading())
        detail_->addWidget(spinner());
    if (!cloudVisible_ || !cloud.document)
        detail_->addStretch(1);
    if (!lostFocus_.empty() && meetingGone) {
        lostFocus_ = {};
        focusReturns_ = 0;
        table_->setFocus(Qt::OtherFocusReason);
    }
    holdFocusWhileReloading(meetingReloads);
    // Once the new controls show, which they do on the next turn of the event loop.
    if (!lostFocus_.empty() || !greyedFocus_.empty()) {
        ++focusReturns_;
        QTimer::singleShot(0, detailHost_, [this] {
            --focusReturns_;
            returnFocus();
        });
    }
    isRendering_ = false;
}

void LibraryController::holdFocusWhileReloading(bool meetingReloads) {
    const CloudMeetingState& cloud = model_.cloud().state();
    QWidget* window = splitter_->window();
    if (meetingReloads && !lostFocus_.empty()) {
        // Left on the screen that is away, the keyboard would go to the window's first control
        // (the toolbar's) as soon as the window is activated, which it is as the sheet over it
        // closes.
        reloadFocus_ = std::exchange(lostFocus_, {});
        focusReturns_ = 0;
        reloadFocusFor_ = cloud.selectedID;
        const bool onList =
            table_->isVisible() && table_->isEnabled() && table_->selectionModel()->hasSelection();
        reloadFocusWait_ = onList ? static_cast<QWidget*>(table_) : window;
        reloadFocusWait_->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!reloadFocusFor_)
        return;
    if (cloudVisible_ && cloud.selectedID == reloadFocusFor_ && !cloud.document)
        return; // still loading
    // The meeting shows again, or another one was chosen meanwhile.
    QWidget* now = window->focusWidget();
    if (cloudVisible_ && cloud.selectedID == reloadFocusFor_ &&
        (now == nullptr || now == reloadFocusWait_ || !now->isVisible()))
        lostFocus_ = reloadFocus_;
    reloadFocus_ = {};
    reloadFocusFor_.reset();
    reloadFocusWait_ = nullptr;
}

void LibraryController::returnFocus() {
    // A later redraw whose controls have not shown yet answers for itself.
    const bool last = focusReturns_ <= 0;
    switch (lostFocus_.restore()) {
    case FocusPlace::Restored::given:
        lostFocus_ = {};
        focusReturns_ = 0;
        break;
    case FocusPlace::Restored::greyed:
        // The control the keyboard was on stands greyed while its task runs, and Qt has sent
        // the keyboard on along the tab order, often into the notes editor, where the next key
        // would be typed into notes sent with the recording. It waits on the recording's row
        // instead (with the sidebar hidden, on the window itself, where a key does nothing),
        // and goes back to the control once the control is enabled again.
        greyedFocus_ = std::exchange(lostFocus_, {});
        greyedFocusFor_ = model_.selectedID();
        focusWaitsOnList_ =
            table_->isVisible() && table_->isEnabled() && table_->selectionModel()->hasSelection();
        if (focusWaitsOnList_)
            table_->setFocus(Qt::OtherFocusReason);
        else if (QWidget* focused = splitter_->window()->focusWidget())
            focused->clearFocus();
        return;
    case FocusPlace::Restored::nowhere:
        if (last) {
            lostFocus_ = {};
            focusReturns_ = 0;
        }
        break;
    }
    if (greyedFocus_.empty() || !last)
        return;
    // The user has moved the keyboard, or chosen another recording, meanwhile: it stays there.
    if (splitter_->window()->focusWidget() != (focusWaitsOnList_ ? table_ : nullptr) || cloudVisible_ ||
        model_.selectedID() != greyedFocusFor_ || greyedFocus_.restore() != FocusPlace::Restored::greyed)
        greyedFocus_ = {};
}

void LibraryController::renderSidebar() {
    // A running recording shows this computer's side first, so that nothing below shows the cloud's.
    location_->setEnabled(!model_.isRecording());
    if (model_.isRecording())
        cloudVisible_ = false;
    librarySearch_->setVisible(cloudVisible_);
    more_->setVisible(cloudVisible_ && model_.cloud().state().hasMore && !searchMode_);
    location_->setSelectedSegment(cloudVisible_ ? 1 : 0);
    listModel_->reload();
    restoreSelection();
    readListForOpenedMeeting();

    const bool signedIn = model_.session().has_value();
    const CloudMeetingState& cloud = model_.cloud().state();
    QString empty;
    if (cloudVisible_ && signedIn && cloud.loading)
        empty = localized("Loading your meetings…");
    else if (cloudVisible_ && signedIn && searchMode_)
        empty = localized("No results");
    emptyList_->setText(empty);
    emptyList_->setVisible(rowCount() == 0);
    renderWorkspaces();
    renderAccount();
}

void LibraryController::restoreSelection() {
    // The highlighted row is the open meeting or the selected recording, or no row is: the view
    // keeps its selection by the row's place, which after a removal, a reload or a change of side
    // holds another meeting.
    QItemSelectionModel* selection = table_->selectionModel();
    std::optional<int> row;
    if (cloudVisible_) {
        const CloudMeetingState& cloud = model_.cloud().state();
        if (cloud.selectedID && searchMode_) {
            // A hit the user chose stays chosen while its meeting is the open one.
            const QModelIndexList chosen = selection->selectedRows();
            const int at = chosen.isEmpty() ? -1 : chosen.first().row();
            if (at >= 0 && std::size_t(at) < cloud.searchResults.size() &&
                cloud.searchResults[std::size_t(at)].meeting_id == *cloud.selectedID)
                row = at;
        } else if (cloud.selectedID) {
            for (std::size_t i = 0; i < cloud.meetings.size(); ++i)
                if (cloud.meetings[i].id == *cloud.selectedID) {
                    row = int(i);
                    break;
                }
        }
    } else if (const std::optional<Uuid>& selected = model_.selectedID()) {
        const auto& recordings = model_.recordings();
        for (std::size_t i = 0; i < recordings.size(); ++i)
            if (recordings[i].id == *selected) {
                row = int(i);
                break;
            }
    }
    if (!row) {
        if (selection->hasSelection())
            selection->clearSelection();
        return;
    }
    const QModelIndex index = listModel_->index(*row, 0);
    if (selection->isSelected(index))
        return;
    selection->select(index, QItemSelectionModel::ClearAndSelect);
    selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void LibraryController::readListForOpenedMeeting() {
    if (!listingAwaited_)
        return;
    const CloudMeetingState& cloud = model_.cloud().state();
    // Another meeting chosen, or this one gone: nothing is awaited any more.
    if (!cloudVisible_ || cloud.selectedID != listingAwaited_) {
        listingAwaited_.reset();
        return;
    }
    if (cloud.loading)
        return;
    const std::string id = *std::exchange(listingAwaited_, std::nullopt);
    if (std::any_of(cloud.meetings.begin(), cloud.meetings.end(),
                    [&](const MeetingSummary& meeting) { return meeting.id == id; }))
        return;
    // Once this redraw has ended: the load tells of its start with a redraw of its own.
    QTimer::singleShot(0, this, [this] {
        if (cloudVisible_)
            model_.cloud().loadLibrary(false);
    });
}

void LibraryController::renderWorkspaces() {
    workspacePicker_->clear();
    const std::optional<NativeBootstrap>& bootstrap = model_.bootstrap();
    if (!bootstrap) {
        workspacePicker_->addItem(localized("Personal workspace"));
    } else {
        for (const NativeWorkspace& workspace : bootstrap->workspaces) {
            const QString title = workspace.kind == "personal" ? localized("Personal workspace")
                                                               : QString::fromStdString(workspace.name);
            workspacePicker_->addItem(title, QString::fromStdString(workspace.id));
            if (workspace.id == bootstrap->selectedWorkspaceID)
                workspacePicker_->setCurrentIndex(workspacePicker_->count() - 1);
        }
    }
    workspacePicker_->setEnabled(!model_.isRecording() && !model_.uploading() && !model_.busy() && bootstrap);
    workspacePicker_->setVisible(model_.session().has_value());
}

void LibraryController::renderAccount() {
    const bool signedIn = model_.signedIn();
    const QString text =
        signedIn ? QString::fromStdString(model_.session()->account.email) : localized("Not signed in");
    account_->setText(text);
    setPlainToolTip(account_, text);
    accountButton_->setText(localized(signedIn ? "Sign out…" : "Sign in"));
    accountButton_->setEnabled(!model_.recordingOrSending());
}

void LibraryController::renderUpcoming() {
    auto* layout = static_cast<QVBoxLayout*>(upcoming_->layout());
    removeAll(layout, nullptr);
    if (calendar_ == nullptr || calendar_->access() == SettingsActions::CalendarAccess::off) {
        upcoming_->setVisible(false);
        return;
    }
    upcoming_->setVisible(true);
    QLabel* header = makeLabel(localized("Coming up"), 11, QFont::DemiBold);
    header->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(header);
    layout->addSpacing(2);
    switch (calendar_->access()) {
    case SettingsActions::CalendarAccess::off:
        break;
    case SettingsActions::CalendarAccess::needsPermission:
        layout->addWidget(upcomingNote("Waiting for Calendar access."));
        break;
    case SettingsActions::CalendarAccess::denied: {
        auto* allow = new QPushButton(localized("Allow Calendar access…"));
        allow->setObjectName(QStringLiteral("library-calendar-access"));
        connect(allow, &QPushButton::clicked, this, &LibraryController::openCalendarPrivacy);
        layout->addWidget(allow, 0, Qt::AlignLeading);
        break;
    }
    case SettingsActions::CalendarAccess::granted: {
        const Date now = calendar_->now();
        const std::vector<CalendarMeeting> meetings =
            CalendarMeetings::upcoming(calendar_->meetings(), now, 3, 43200);
        if (meetings.empty())
            layout->addWidget(upcomingNote("No more meetings in the next 12 hours"));
        QPointer<LibraryController> self(this);
        for (const CalendarMeeting& meeting : meetings)
            layout->addWidget(new UpcomingMeetingRow(meeting, now, [self, meeting] {
                if (self)
                    self->recordUpcoming(meeting);
            }));
        break;
    }
    }
}

void LibraryController::emptyDetail(bool keepEditor) {
    QWidget* held = nullptr;
    if (keepEditor)
        held = pane_.holdEditor();
    else
        pane_.detach();
    removeAll(detail_, cloudDetail_.isViewLoaded() ? cloudDetail_.view() : nullptr, held);
    pane_.setRenderedID(model_.selectedID());
}

void LibraryController::renderCloud() {
    const CloudMeetingState& cloud = model_.cloud().state();
    if (!cloud.message.empty()) {
        QLabel* status = makeWrappingLabel(QString::fromStdString(cloud.message), 12, QFont::Normal);
        status->setObjectName(QStringLiteral("library-cloud-status"));
        status->setForegroundRole(QPalette::PlaceholderText);
        detail_->addWidget(status);
    }
    if (!cloud.document) {
        cloudDetail_.clear();
        lastDocumentID_.reset();
        // A session the service no longer knows reads nothing until the user signs in again.
        if (!model_.session() || cloud.signInNeeded) {
            showMessage("person.crop.circle", localized("Sign in to read your Nuvel meetings."), {},
                        signInButton(), true);
        } else if (cloud.loading) {
            showMessage(nullptr, localized("Loading your meetings…"), {}, nullptr, false);
        } else {
            showMessage("text.bubble",
                        localized("Choose a meeting to review its notes, transcript and evidence."), {},
                        makeActionButton(QStringLiteral("Refresh library"), "arrow.clockwise",
                                         [this] { refreshCloud(); }),
                        false);
        }
        return;
    }
    const NativeMeetingDocument& document = *cloud.document;
    QWidget* screen = detailScreen();
    cloudDetail_.render(document, cloud.sharing ? &*cloud.sharing : nullptr,
                        cloud.originalTranscript ? &*cloud.originalTranscript : nullptr,
                        cloud.pendingLinkURL);
    lastDocumentID_ = document.summary.id;
    cloudDetail_.updatePlayback(cloud.isPlaying, cloud.playbackMilliseconds, cloud.durationMilliseconds,
                                cloud.audioAvailable && !model_.isRecording());
    detail_->addWidget(screen, 1);
    screen->show();
    cloudDetail_.setCanDelete(document.summary.access.canDelete());
    if (cloud.pendingCorrection) {
        QLabel* draft = makeWrappingLabel(
            localized(
                "A correction draft is saved on this Mac. Review the current revision before retrying."),
            12, QFont::Normal);
        draft->setObjectName(QStringLiteral("library-correction-draft"));
        detail_->addWidget(draft);
        QPushButton* retry = makeActionButton(QStringLiteral("Retry saved correction"), "arrow.clockwise",
                                              [this] { retryCorrection(); });
        retry->setObjectName(QStringLiteral("library-retry-correction"));
        detail_->addWidget(retry, 0, Qt::AlignLeading);
    }
}

void LibraryController::renderLocal(const LocalRecording& recording) {
    pane_.render(detail_, recording);
}

void LibraryController::renderEmpty() {
    const bool signedIn = model_.session().has_value();
    QPushButton* button = signedIn ? makeActionButton(QStringLiteral("New recording"), std::nullopt,
                                                      [this] { newRecordingAction(); })
                                   : signInButton();
    showMessage(
        "waveform", localized("No recordings"),
        {localized("Start a recording or import an audio file."),
         localized("For an online meeting, select the meeting app and your microphone. For a room recording, "
                   "use your microphone."),
         localized(
             "Audio is saved on this Mac. Send a recording to Nuvel to create a transcript and optional "
             "AI notes.")},
        button, true);
}

QPushButton* LibraryController::signInButton() {
    QPushButton* button =
        makeActionButton(QStringLiteral("Sign in to Nuvel"), std::nullopt, [this] { signIn(); });
    button->setEnabled(!model_.busy() && !model_.isRecording() && !model_.uploading());
    return button;
}

void LibraryController::showMessage(const char* symbol, const QString& title, const QStringList& lines,
                                    QPushButton* button, bool isDefault) {
    // A centred column at most 400 wide; what is left of the width goes to both sides equally.
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("library-message"));
    auto* row = new QHBoxLayout(pane);
    row->setContentsMargins(0, 0, 0, 0);
    auto* column = new QWidget;
    column->setMaximumWidth(400);
    row->addStretch(1);
    row->addWidget(column, 100);
    row->addStretch(1);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    const auto centred = [](QLabel* label) {
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        return label;
    };
    bool leadingImage = false;
    if (button == nullptr && symbol == nullptr && model_.cloud().state().loading)
        stack->addWidget(spinner(), 0, Qt::AlignHCenter);
    if (symbol != nullptr) {
        const QIcon icon = symbolNamed(symbol);
        if (!icon.isNull()) {
            auto* image = new QLabel;
            image->setObjectName(QStringLiteral("library-message-symbol"));
            image->setPixmap(icon.pixmap(40, 40, QIcon::Disabled));
            stack->addWidget(image, 0, Qt::AlignHCenter);
            leadingImage = true;
        }
    }
    if (leadingImage)
        stack->addSpacing(4);
    QLabel* heading = centred(makeWrappingLabel(title, 17, QFont::DemiBold));
    heading->setObjectName(QStringLiteral("library-message-title"));
    stack->addWidget(heading);
    for (int i = 0; i < lines.size(); ++i) {
        QLabel* line = centred(makeWrappingLabel(lines[i], i == 0 ? 13 : 12, QFont::Normal));
        line->setObjectName(QStringLiteral("library-message-line"));
        if (i > 0)
            line->setForegroundRole(QPalette::PlaceholderText);
        stack->addWidget(line);
    }
    if (button != nullptr) {
        if (stack->count() >= 1)
            stack->addSpacing(8);
        button->setObjectName(QStringLiteral("library-message-button"));
        button->setDefault(isDefault);
        button->setAutoDefault(isDefault);
        stack->addWidget(button, 0, Qt::AlignHCenter);
        // The window has no dialog's default button: Return presses this one while the pane shows.
        if (isDefault)
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter})
                new QShortcut(
                    QKeySequence(key), pane, [button] { button->click(); }, Qt::WindowShortcut);
    }
    detail_->addStretch(1);
    detail_->addWidget(pane);
}

} // namespace nuvel
