// The library window's structure: the sidebar, the detail side, the toolbar, the list's
// selection and the actions of the window's controls.
#include "Nuvel/ui/library/LibraryController.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/cloud/MeetingDetailRequests.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/library/AudioDropSplitter.hpp"
#include "Nuvel/ui/library/LibrarySidebar.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"
#include "Nuvel/ui/widgets/ElidingLabel.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"
#include "NuvelKit/support/Defaults.hpp"

#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace nuvel {

namespace {

NewRecordingSheet::Environment sheetEnvironment(AppModel& model, const LibraryController::Dependencies& d,
                                                LibraryController* library) {
    NewRecordingSheet::Environment e;
    e.commitScratchpad = [library] { library->commitScratchpad(); };
    e.window = [library]() -> QWidget* { return library->view(); };
    e.model = &model;
    e.queue = d.queue;
    e.executor = d.executor;
    e.dialogs = d.dialogs;
    e.defaults = d.defaults;
    e.sources = d.sources;
    e.permission = d.permission;
    return e;
}

// The account row: the symbol, the account's address and its button on one line while the
// address fits there whole; otherwise the button goes under the address, which keeps the line's
// width to itself. Only a sidebar too narrow for the address alone cuts it, in the middle.
class AccountRowArranger final : public QObject {
public:
    AccountRowArranger(QWidget* row, QGridLayout* grid, QLabel* symbol, ElidingLabel* address,
                       QPushButton* button)
        : QObject(row), row_(row), grid_(grid), symbol_(symbol), address_(address), button_(button) {
        row->installEventFilter(this);
        arrange();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        // A new address asks the row for a new layout; so does a new width.
        if (watched == row_ && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
            arrange();
        return false;
    }

private:
    void arrange() {
        const QMargins margins = grid_->contentsMargins();
        int room = row_->width() - margins.left() - margins.right() - buttonGap -
                   button_->sizeHint().width() - grid_->horizontalSpacing();
        if (!symbol_->isHidden())
            room -= symbol_->sizeHint().width() + grid_->horizontalSpacing();
        const bool beside = address_->fontMetrics().horizontalAdvance(address_->text()) <= room;
        const int buttonColumn = button_->sizeHint().width() + buttonGap;
        if (placed_ && beside == beside_ && (!beside || buttonColumn == grid_->columnMinimumWidth(2)))
            return;
        placed_ = true;
        beside_ = beside;
        grid_->removeWidget(button_);
        grid_->removeWidget(address_);
        if (beside) {
            // The button at the end of its column, a little apart from the address.
            grid_->setColumnMinimumWidth(2, buttonColumn);
            grid_->addWidget(address_, 0, 1);
            grid_->addWidget(button_, 0, 2, Qt::AlignTrailing | Qt::AlignVCenter);
        } else {
            grid_->setColumnMinimumWidth(2, 0);
            grid_->addWidget(address_, 0, 1, 1, 2);
            grid_->addWidget(button_, 1, 1, 1, 2, Qt::AlignLeading);
        }
    }

    static constexpr int buttonGap = 4; // after the address, beside the spacing
    QWidget* row_;
    QGridLayout* grid_;
    QLabel* symbol_;
    ElidingLabel* address_;
    QPushButton* button_;
    bool placed_ = false;
    bool beside_ = false;
};

QFrame* separatorLine() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

LibraryController::LibraryController(AppModel& model, Dependencies dependencies)
    : model_(model), deps_(std::move(dependencies)), sheet_(sheetEnvironment(model, deps_, this)),
      import_(model, *deps_.dialogs, *deps_.defaults), cloudDetail_(deps_.webHost),
      pane_(model, LocalRecordingPane::Dependencies{deps_.dialogs}) {
    splitter_ = new AudioDropSplitter;
    splitter_->setObjectName(QStringLiteral("library"));
    splitter_->setLayoutDirection(preferredLayoutDirection());
    QPointer<LibraryController> self(this);
    splitter_->onFile = [self](const std::filesystem::path& path) {
        if (self)
            self->dropFile(path);
    };
    pane_.onFile = splitter_->onFile;
    splitter_->onFirstShow = [self] {
        if (self)
            self->restoreDivider();
    };
    dividerSave_.setSingleShot(true);
    dividerSave_.setInterval(500);
    connect(&dividerSave_, &QTimer::timeout, this, [this] { saveDivider(); });
    connect(splitter_.data(), &QSplitter::splitterMoved, this, [this] {
        if (dividerPlaced_)
            dividerSave_.start();
    });
    pane_.onOpenResult = [self](const std::optional<std::string>& remoteID) {
        if (!self)
            return;
        self->cloudVisible_ = true;
        self->location_->setSelectedSegment(1);
        self->model_.showingCloudLibrary();
        if (remoteID) {
            self->listingAwaited_ = remoteID;
            self->model_.cloud().openMeeting(*remoteID, false);
        }
        self->render();
    };
    buildSidebar();
    buildDetail();
    splitter_->setMinimumSize(820, 540);
    render();
}

LibraryController::~LibraryController() {
    if (dividerSave_.isActive())
        saveDivider();
    requests_.reset();
    // The detail screen's view lives in the detail side; it goes with the screen.
    if (cloudDetail_.isViewLoaded())
        cloudDetail_.view()->setParent(nullptr);
    delete splitter_.data();
}

AudioDropSplitter* LibraryController::splitter() const {
    return splitter_;
}

QWidget* LibraryController::view() {
    return splitter_;
}

QWidget* LibraryController::initialFocus() {
    return table_;
}

QWidget* LibraryController::searchField() {
    return librarySearch_;
}

bool LibraryController::findInOpenMeeting() {
    return cloudVisible_ && cloudDetail_.findFromFocus();
}

bool LibraryController::findInScratchpad() {
    QPlainTextEdit* editor = pane_.scratchpad();
    if (editor == nullptr)
        return false;
    editor->setFocus(Qt::ShortcutFocusReason);
    return true;
}

void LibraryController::buildSidebar() {
    sidebar_ = new QWidget;
    sidebar_->setObjectName(QStringLiteral("library-sidebar"));
    sidebar_->setMinimumWidth(210);
    sidebar_->setMaximumWidth(340);

    location_ = new SegmentedControl({localized("On this Mac"), localized("Nuvel library")});
    location_->setObjectName(QStringLiteral("library-location"));
    location_->setAccessibleName(localized("Library"));
    location_->setSelectedSegment(cloudVisible_ ? 1 : 0);
    connect(location_, &SegmentedControl::segmentChosen, this, &LibraryController::locationChanged);
    // The two segments share the sidebar's width equally.
    for (QToolButton* segment : location_->findChildren<QToolButton*>())
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    workspacePicker_ = new QComboBox;
    workspacePicker_->setObjectName(QStringLiteral("library-workspace"));
    nameChoice(workspacePicker_, localized("Workspace"));
    connect(workspacePicker_, &QComboBox::activated, this, &LibraryController::workspaceChanged);

    librarySearch_ = new QLineEdit;
    librarySearch_->setObjectName(QStringLiteral("library-search"));
    librarySearch_->setPlaceholderText(localized("Search Nuvel library"));
    // A screen reader does not read the placeholder as the field's name.
    librarySearch_->setAccessibleName(librarySearch_->placeholderText());
    librarySearch_->setClearButtonEnabled(true);
    nameClearButton(librarySearch_, localized("Clear search"));
    connect(librarySearch_, &QLineEdit::textChanged, this, &LibraryController::searchLibrary);

    upcoming_ = new QWidget;
    upcoming_->setObjectName(QStringLiteral("library-upcoming"));
    auto* upcomingLayout = new QVBoxLayout(upcoming_);
    upcomingLayout->setContentsMargins(0, 8, 0, 0);
    upcomingLayout->setSpacing(2);
    upcoming_->setLayoutDirection(preferredLayoutDirection());
    upcoming_->setVisible(false);

    QWidget* top = makeStack({location_, workspacePicker_, librarySearch_, upcoming_}, 8);

    listModel_ = new SidebarListModel([this] { return rowCount(); },
                                      [this](int row) -> SidebarRow {
                                          if (!cloudVisible_) {
                                              const auto& recordings = model_.recordings();
                                              if (std::size_t(row) >= recordings.size())
                                                  return {};
                                              return localRow(recordings[std::size_t(row)], model_.activeID(),
                                                              model_.isPaused());
                                          }
                                          const CloudMeetingState& cloud = model_.cloud().state();
                                          if (searchMode_) {
                                              if (std::size_t(row) >= cloud.searchResults.size())
                                                  return {};
                                              return searchRow(cloud.searchResults[std::size_t(row)]);
                                          }
                                          if (std::size_t(row) >= cloud.meetings.size())
                                              return {};
                                          return cloudRow(cloud.meetings[std::size_t(row)]);
                                      },
                                      this);
    listModel_->reload();
    table_ = new SidebarList;
    table_->setObjectName(QStringLiteral("library-list"));
    table_->setAccessibleName(localized("Recordings"));
    table_->setModel(listModel_);
    table_->setItemDelegate(new SidebarRowDelegate(table_));
    table_->setUniformItemSizes(true);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setFrameShape(QFrame::NoFrame);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LibraryController::selectionChanged);

    emptyList_ = makeLabel(QString(), 12, QFont::Normal);
    emptyList_->setObjectName(QStringLiteral("library-empty-list"));
    emptyList_->setAlignment(Qt::AlignCenter);
    emptyList_->setWordWrap(true);
    emptyList_->setForegroundRole(QPalette::PlaceholderText);
    // Over the list, centred on it.
    auto* listArea = new QWidget;
    auto* listGrid = new QGridLayout(listArea);
    listGrid->setContentsMargins(0, 0, 0, 0);
    listGrid->addWidget(table_, 0, 0);
    listGrid->addWidget(emptyList_, 0, 0, Qt::AlignCenter);
    emptyList_->setContentsMargins(20, 0, 20, 0);

    more_ = new QPushButton(localized("Load more"));
    more_->setObjectName(QStringLiteral("library-more"));
    connect(more_, &QPushButton::clicked, this, &LibraryController::loadMore);

    auto* person = new QLabel;
    const QIcon personIcon = symbolNamed("person.crop.circle");
    if (!personIcon.isNull())
        person->setPixmap(personIcon.pixmap(15, 15));
    else
        person->hide(); // no room is kept for a symbol the desktop does not have
    auto* account = new ElidingLabel(QString(), 12, QFont::Normal);
    account->setElideMode(Qt::ElideMiddle);
    account_ = account;
    account_->setObjectName(QStringLiteral("library-account"));
    account_->setForegroundRole(QPalette::PlaceholderText);
    account_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    accountButton_ = new QPushButton;
    accountButton_->setObjectName(QStringLiteral("library-account-button"));
    accountButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(accountButton_, &QPushButton::clicked, this, &LibraryController::accountAction);
    auto* accountRow = new QWidget;
    accountRow->setObjectName(QStringLiteral("library-account-row"));
    auto* accountLayout = new QGridLayout(accountRow);
    accountLayout->setContentsMargins(14, 0, 10, 0);
    accountLayout->setHorizontalSpacing(6);
    accountLayout->setVerticalSpacing(6);
    accountLayout->setColumnStretch(1, 1);
    accountLayout->addWidget(person, 0, 0);
    accountRow->setLayoutDirection(preferredLayoutDirection());
    new AccountRowArranger(accountRow, accountLayout, person, account, accountButton_);

    auto* layout = new QVBoxLayout(sidebar_);
    layout->setContentsMargins(0, 8, 0, 8);
    layout->setSpacing(0);
    auto* topMargin = new QVBoxLayout;
    topMargin->setContentsMargins(10, 0, 10, 0);
    topMargin->addWidget(top);
    layout->addLayout(topMargin);
    layout->addSpacing(10);
    layout->addWidget(listArea, 1);
    layout->addSpacing(6);
    layout->addWidget(more_, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(separatorLine());
    layout->addSpacing(8);
    layout->addWidget(accountRow);
    splitter_->addWidget(sidebar_);
}

void LibraryController::buildDetail() {
    detailScroll_ = new QScrollArea;
    detailScroll_->setObjectName(QStringLiteral("library-detail"));
    detailScroll_->setWidgetResizable(true);
    detailScroll_->setFrameShape(QFrame::NoFrame);
    // The controls inside take the keyboard; the scrolling frame around them is no Tab stop.
    detailScroll_->setFocusPolicy(Qt::NoFocus);
    detailScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    detailScroll_->setMinimumWidth(480);
    detailScroll_->setLayoutDirection(preferredLayoutDirection());
    detailHost_ = new QWidget;
    detailHost_->setObjectName(QStringLiteral("library-detail-stack"));
    detail_ = new QVBoxLayout(detailHost_);
    detail_->setContentsMargins(20, 20, 20, 20);
    detail_->setSpacing(8);
    detailScroll_->setWidget(detailHost_);
    splitter_->addWidget(detailScroll_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    wireDetailRequests();
}

QWidget* LibraryController::detailScreen() {
    if (cloudDetail_.isViewLoaded())
        return cloudDetail_.view();
    QWidget* screen = cloudDetail_.view();
    screen->setParent(detailHost_);
    screen->setMinimumHeight(440);
    screen->hide();
    return screen;
}

void LibraryController::restoreDivider() {
    const std::optional<json::Value> saved = deps_.defaults->value(splitDefaultsKey);
    if (saved) {
        if (const std::optional<std::string> text = deps_.defaults->string(splitDefaultsKey))
            splitter_->restoreState(QByteArray::fromBase64(QByteArray::fromStdString(*text)));
    } else {
        // Sizes follow the layout direction: the sidebar is 250 wide on its own side.
        const int rest = std::max(0, splitter_->width() - firstSidebarWidth - splitter_->handleWidth());
        splitter_->setSizes({firstSidebarWidth, rest});
    }
    dividerPlaced_ = true;
}

void LibraryController::saveDivider() {
    dividerSave_.stop();
    if (splitter_)
        deps_.defaults->set(splitDefaultsKey, json::Value(splitter_->saveState().toBase64().toStdString()));
}

void LibraryController::populateToolbar(QToolBar* toolbar) {
    toggleSidebar_ = toolbar->addAction(localized("Toggle sidebar"));
    toggleSidebar_->setObjectName(QStringLiteral("toggle-sidebar"));
    toggleSidebar_->setIcon(QIcon(QStringLiteral(":/icons/sidebar.left.svg")));
    toggleSidebar_->setToolTip(localized("Toggle sidebar"));
    // No menu command does what it does: the keyboard reaches the button itself.
    if (QWidget* button = toolbar->widgetForAction(toggleSidebar_))
        button->setFocusPolicy(Qt::TabFocus);
    connect(toggleSidebar_.data(), &QAction::triggered, this, [this] {
        NUVEL_MAIN_ACTOR_ENTRY();
        sidebar_->setVisible(!sidebar_->isVisible());
    });
    toolbar->addSeparator();
    auto* space = new QWidget;
    space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(space);
    importAudio_ = toolbar->addAction(QIcon(QStringLiteral(":/icons/square.and.arrow.down.svg")),
                                      localized("Import audio…"));
    importAudio_->setObjectName(QStringLiteral("import-audio"));
    importAudio_->setToolTip(localized("Import audio…"));
    connect(importAudio_.data(), &QAction::triggered, this, &LibraryController::importAudio);
    newRecording_ =
        toolbar->addAction(QIcon(QStringLiteral(":/icons/record.circle.svg")), localized("New recording"));
    newRecording_->setObjectName(QStringLiteral("new-recording"));
    newRecording_->setToolTip(localized("New recording"));
    connect(newRecording_.data(), &QAction::triggered, this, &LibraryController::newRecordingAction);
    validateToolbar();
}

void LibraryController::validateToolbar() {
    const bool enabled = !model_.activeID() && !model_.busy() && !model_.updateInProgress();
    for (QAction* item : {newRecording_.data(), importAudio_.data()})
        if (item != nullptr)
            item->setEnabled(enabled);
}

} // namespace nuvel
