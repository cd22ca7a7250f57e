#include "Nuvel/ui/settings/SettingsController.hpp"

#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace nuvel {

namespace {

constexpr const char* descriptionIdentifier = "settings-description";
constexpr int contentWidth = 600;

// Icons of the desktop's theme for the six sections, the first of each row the theme has, else a
// style icon; no two sections share one.
QIcon sectionIcon(int index) {
    static const char* const names[][2] = {{"preferences-system", "preferences-other"},
                                           {"avatar-default", "system-users"},
                                           {"audio-input-microphone", "audio-input-microphone-symbolic"},
                                           {"x-office-calendar", "office-calendar"},
                                           {"security-high", "drive-harddisk"},
                                           {"utilities-system-monitor", "computer"}};
    static const QStyle::StandardPixmap fallbacks[] = {
        QStyle::SP_FileDialogDetailedView, QStyle::SP_DirHomeIcon, QStyle::SP_MediaVolume,
        QStyle::SP_FileDialogContentsView, QStyle::SP_DriveHDIcon, QStyle::SP_ComputerIcon};
    for (const char* name : names[index])
        if (QIcon::hasThemeIcon(QString::fromLatin1(name)))
            return QIcon::fromTheme(QString::fromLatin1(name));
    return QApplication::style()->standardIcon(fallbacks[index]);
}

Qt::LayoutDirection direction() {
    return prefersRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
}

// Right to left under an Arabic first language, for the view and everything in it; text
// fields follow with their alignment.
void applyLayoutDirection(QWidget* view) {
    const Qt::LayoutDirection d = direction();
    view->setLayoutDirection(d);
    if (auto* label = qobject_cast<QLabel*>(view))
        label->setAlignment((d == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter |
                            Qt::AlignAbsolute);
    if (auto* field = qobject_cast<QLineEdit*>(view))
        field->setAlignment((d == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute);
    for (QWidget* child : view->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        applyLayoutDirection(child);
}

} // namespace

const QStringList& SettingsController::sections() {
    static const QStringList titles = {QStringLiteral("General"),           QStringLiteral("Account"),
                                       QStringLiteral("Capture"),           QStringLiteral("Meetings"),
                                       QStringLiteral("Privacy & Storage"), QStringLiteral("Diagnostics")};
    return titles;
}

SettingsController::SettingsController(CapturePreferences preferences,
                                       std::shared_ptr<MeetingPreferences> meetings, SettingsActions actions,
                                       Platform platform)
    : preferences_(preferences), meetings_(std::move(meetings)), actions_(std::move(actions)),
      platform_(std::move(platform)) {
    build();
    select(0, false);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window_->move(screen->availableGeometry().center() - window_->rect().center());
    refresh();
}

SettingsController::~SettingsController() {
    delete window_.data();
}

void SettingsController::build() {
    // The window: titled and closable only; closing orders it out.
    window_ = new QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                           Qt::CustomizeWindowHint);
    window_->setObjectName(QStringLiteral("NuvelSettings"));
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    window_->setWindowTitle(localized("Settings"));
    // The pages.
    auto* content = new QWidget;
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(20, 4, 20, 4);
    tabs_ = new QStackedWidget;
    tabs_->setLayoutDirection(direction());
    contentLayout->addWidget(tabs_);
    window_->setCentralWidget(content);
    // The toolbar.
    toolbar_ = new QToolBar;
    toolbar_->setObjectName(QStringLiteral("NuvelSettingsToolbar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar_->toggleViewAction()->setEnabled(false);
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    window_->setContextMenuPolicy(Qt::NoContextMenu);
    sectionActions_ = new QActionGroup(toolbar_);
    sectionActions_->setExclusive(true);
    for (int i = 0; i < sections().size(); ++i) {
        // "&" would mark a shortcut letter in a tool button's text.
        QAction* item = toolbar_->addAction(
            sectionIcon(i), localized(sections()[i]).replace(QLatin1Char('&'), QStringLiteral("&&")));
        item->setObjectName(sections()[i]);
        item->setCheckable(true);
        item->setData(i);
        item->setToolTip(localized(sections()[i]));
        sectionActions_->addAction(item);
        connect(item, &QAction::triggered, this, [this, i] {
            NUVEL_MAIN_ACTOR_ENTRY();
            select(i, true);
        });
        auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(item));
        if (button == nullptr)
            continue;
        // An assistive tool toggles the section's button, which does not trigger its action.
        connect(button, &QAbstractButton::toggled, this, [this, i](bool on) {
            NUVEL_MAIN_ACTOR_ENTRY();
            if (on && tabs_->currentIndex() != i)
                select(i, true);
        });
        button->setAccessibleName(localized(sections()[i]));
        markAsPageTab(button);
        button->installEventFilter(this);
        sectionTabs_.push_back(button);
    }
    markAsPageTabList(toolbar_);
    window_->addToolBar(Qt::TopToolBarArea, toolbar_);
    // The section keys and Escape reach the window from whichever control has the keyboard.
    window_->installEventFilter(this);

    // The six pages.
    login_ = makeCheckbox("login", "Launch Nuvel at login", &SettingsController::toggleLogin);
    loginStatus_ = makeDescriptionLabel("loginStatus", {});
    loginStatus_->setWordWrap(false);
    addSection(sections()[0],
               {{login_, descriptionView(loginStatus_, 22),
                 descriptionView(makeDescriptionLabel(
                                     nullptr, localized("Opening Nuvel never starts recording. Choose "
                                                        "a source and confirm consent for each recording.")),
                                 22)},
                {makeButton("Open Login Items Settings", &SettingsController::openLoginSettings)}});

    account_ = new QLabel;
    account_->setObjectName(QStringLiteral("account"));
    account_->setTextFormat(Qt::PlainText);
    account_->setWordWrap(true);
    account_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    signInButton_ = makeButton("Sign in", &SettingsController::accountAction);
    signInButton_->setObjectName(QStringLiteral("signInButton"));
    addSection(sections()[1],
               {{account_, signInButton_,
                 descriptionView(
                     makeDescriptionLabel(nullptr, localized("Sign-out and removal of unsent recordings are "
                                                             "separate actions. Export or discard pending "
                                                             "recordings explicitly.")),
                     0)}});

    notes_ = makeCheckbox("notes", "Enable AI notes for new recordings", &SettingsController::toggleNotes);
    addSection(sections()[2],
               {{notes_, descriptionView(
                             makeDescriptionLabel(
                                 nullptr, localized("Audio is saved on this Mac until you choose Send. Cloud "
                                                    "transcription still processes audio when AI notes are "
                                                    "off. Automatic recording and automatic upload are "
                                                    "disabled.")),
                             22)}});

    detection_ =
        makeCheckbox("detection", "Ask to record when a call starts", &SettingsController::toggleDetection);
    auto* grid = new QWidget;
    grid->setObjectName(QStringLiteral("appGrid"));
    auto* gridLayout = new QGridLayout(grid);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->setVerticalSpacing(6);
    gridLayout->setHorizontalSpacing(24);
    for (std::size_t i = 0; i < allMeetingApps.size(); ++i) {
        const MeetingApp app = allMeetingApps[i];
        static const char* const titles[] = {"Zoom",  "Microsoft Teams", "Webex",
                                             "Slack", "FaceTime",        nullptr};
        const QString title =
            titles[i] != nullptr ? QString::fromLatin1(titles[i]) : localized("Web browsers");
        auto* box = new QCheckBox(title);
        box->setObjectName(QString::fromLatin1(rawValue(app).data(), qsizetype(rawValue(app).size())));
        // Toggled, not clicked: an assistive tool's toggle runs it too. `refresh` sets the
        // boxes with their signals blocked.
        connect(box, &QCheckBox::toggled, this, [this, box] {
            NUVEL_MAIN_ACTOR_ENTRY();
            toggleApp(box);
        });
        gridLayout->addWidget(box, int(i / 2), int(i % 2));
        appToggles_.emplace_back(app, box);
    }
    grid->setLayoutDirection(direction());
    calendar_ =
        makeCheckbox("calendar", "Show upcoming meetings from Calendar", &SettingsController::toggleCalendar);
    reminders_ = makeCheckbox("reminders", "Remind me a minute before meetings with a video link",
                              &SettingsController::toggleReminders);
    calendarStatus_ = makeDescriptionLabel("calendarStatus", {});
    addSection(sections()[3],
               {{detection_,
                 descriptionView(
                     makeDescriptionLabel(nullptr, localized("When your microphone turns on in Zoom, Teams, "
                                                             "Webex, Slack, FaceTime or a web browser, Nuvel "
                                                             "asks once whether to record. It never starts "
                                                             "recording on its own.")),
                     22),
                 indented(grid, 22)},
                {calendar_,
                 descriptionView(makeDescriptionLabel(
                                     nullptr, localized("Reads the calendars on this Mac, including "
                                                        "Google and Exchange accounts added in System "
                                                        "Settings. Nuvel uses the event's title and "
                                                        "attendees for recordings you start, and nothing "
                                                        "leaves this Mac until you send a recording.")),
                                 22),
                 indented(reminders_, 22), descriptionView(calendarStatus_, 22)}});

    retention_ = new QComboBox;
    retention_->setObjectName(QStringLiteral("retention"));
    nameChoice(retention_, localized("Server audio retention"));
    // Named on screen too: the pop-up shows only a number of days.
    auto* retentionLabel = new QLabel(localized("Server audio retention"));
    retentionLabel->setTextFormat(Qt::PlainText);
    retentionLabel->setBuddy(retention_);
    retention_->addItem(localized("Choose server audio retention…"));
    connect(retention_, qOverload<int>(&QComboBox::activated), this, [this] {
        NUVEL_MAIN_ACTOR_ENTRY();
        changeRetention();
    });
    retentionStatus_ = makeDescriptionLabel("retentionStatus", {});
    retentionStatus_->setWordWrap(false);
    addSection(sections()[4],
               {{makeButton("Clear cached cloud meetings…", &SettingsController::clearCache),
                 descriptionView(
                     makeDescriptionLabel(
                         nullptr, localized("Unsent audio is kept until you export or discard it. Clearing "
                                            "cached cloud meetings removes downloaded transcripts, notes and "
                                            "correction drafts from this Mac. It does not delete meetings on "
                                            "Nuvel, local recordings or independent exports.")),
                     0)},
                {retentionLabel, retention_, descriptionView(retentionStatus_, 0),
                 makeButton("Refresh server retention", &SettingsController::refreshRetention)}});

    updateButton_ = makeButton("Check for Updates…", &SettingsController::checkForUpdates);
    updateButton_->setObjectName(QStringLiteral("updateButton"));
    updateStatus_ = makeDescriptionLabel("updateStatus", {});
    addSection(sections()[5],
               {{makeButton("Preview diagnostics…", &SettingsController::diagnostics),
                 descriptionView(
                     makeDescriptionLabel(nullptr, localized("Preview a support file containing only "
                                                             "recording and queue counters. No conversation "
                                                             "content or identifiers are included.")),
                     0)},
                {updateButton_, descriptionView(updateStatus_, 0)},
                {makeButton("Open Nuvel website", &SettingsController::openWebsite)}});
}

QPushButton* SettingsController::makeButton(const char* title, void (SettingsController::*action)()) {
    auto* button = new QPushButton(localized(title));
    button->setObjectName(QString::fromUtf8(title));
    connect(button, &QPushButton::clicked, this, [this, action] {
        NUVEL_MAIN_ACTOR_ENTRY();
        (this->*action)();
    });
    return button;
}

QCheckBox* SettingsController::makeCheckbox(const char* name, const char* title,
                                            void (SettingsController::*action)()) {
    auto* box = new QCheckBox(localized(title));
    box->setObjectName(QString::fromLatin1(name));
    // Toggled, not clicked: an assistive tool's toggle runs it too.
    connect(box, &QCheckBox::toggled, this, [this, action] {
        NUVEL_MAIN_ACTOR_ENTRY();
        (this->*action)();
    });
    return box;
}

QLabel* SettingsController::makeDescriptionLabel(const char* name, const QString& text) {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    if (name != nullptr)
        label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QWidget* SettingsController::descriptionView(QLabel* field, int inset) {
    QFont font = field->font();
    font.setPointSizeF(11);
    field->setFont(font);
    QPalette palette = field->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    field->setPalette(palette);
    auto* container = new QWidget;
    container->setObjectName(QString::fromLatin1(descriptionIdentifier));
    auto* layout = new QHBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // Spacing first: the box layout puts it on the leading side, mirrored right to left.
    layout->addSpacing(inset);
    layout->addWidget(field, 1);
    descriptionInsets_[container] = inset;
    return container;
}

QWidget* SettingsController::indented(QWidget* view, int inset) {
    auto* container = new QWidget;
    auto* layout = new QHBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addSpacing(inset);
    layout->addWidget(view);
    layout->addStretch(1);
    return container;
}

void SettingsController::addSection(const QString& title, const std::vector<std::vector<QWidget*>>& groups) {
    auto* page = new QWidget;
    page->setObjectName(title);
    // The column is as wide as its widest control, within 340 and 548 points.
    int widest = -1;
    for (const auto& group : groups)
        for (QWidget* view : group)
            if (view->objectName() != QLatin1String(descriptionIdentifier))
                widest = std::max(widest, view->sizeHint().width());
    const int width = widest < 0 ? 340 : std::clamp(widest, 340, 548);
    auto* column = new QWidget;
    column->setObjectName(QStringLiteral("settings-column"));
    column->setFixedWidth(width);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        for (std::size_t i = 0; i < groups[g].size(); ++i) {
            QWidget* view = groups[g][i];
            const bool description = view->objectName() == QLatin1String(descriptionIdentifier);
            if (g > 0 && i == 0)
                columnLayout->addSpacing(16);
            else if (g > 0 || i > 0)
                columnLayout->addSpacing(description ? 4 : 6);
            if (description || view == account_) {
                columnLayout->addWidget(view);
            } else {
                columnLayout->addWidget(view, 0, Qt::AlignLeft);
            }
        }
    }
    // Wrapping labels take the column's width, a description's less its inset (the column's
    // fixed width and the leading spacing give them that).
    for (const auto& group : groups)
        for (QWidget* view : group)
            if (view == account_)
                account_->setMaximumWidth(width);
    // An aligned item gets its size hint's height, not its height for its width: the column
    // takes the height its wrapped descriptions need.
    column->setFixedHeight(columnLayout->totalHeightForWidth(width));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 16, 0, 16);
    pageLayout->addWidget(column, 0, Qt::AlignHCenter | Qt::AlignTop);
    pageLayout->addStretch(1);
    applyLayoutDirection(page);
    tabs_->addWidget(page);
}

void SettingsController::select(int index, bool animate) {
    (void)animate; // the desktop's window manager decides how a resize looks
    if (!window_ || index < 0 || index >= tabs_->count())
        return;
    tabs_->setCurrentIndex(index);
    if (QAction* item = sectionActions_->actions().value(index))
        item->setChecked(true);
    // Tab stops at the selected section's tab only; the arrows go to the others. The keyboard on
    // another section's tab moves with the selection, or Tab would leave the row for good.
    const bool onTabs =
        std::find(sectionTabs_.begin(), sectionTabs_.end(), window_->focusWidget()) != sectionTabs_.end();
    for (std::size_t i = 0; i < sectionTabs_.size(); ++i)
        sectionTabs_[i]->setFocusPolicy(int(i) == index ? Qt::StrongFocus : Qt::ClickFocus);
    if (onTabs && std::size_t(index) < sectionTabs_.size())
        sectionTabs_[std::size_t(index)]->setFocus(Qt::OtherFocusReason);
    window_->setWindowTitle(localized(sections()[index]));
    // The page's height for its column's width: wrapped descriptions take the lines they need.
    QWidget* page = tabs_->widget(index);
    auto* column = page->findChild<QWidget*>(QStringLiteral("settings-column"));
    column->ensurePolished();
    column->setFixedHeight(column->layout()->totalHeightForWidth(column->minimumWidth()));
    const int pageHeight = 16 + column->minimumHeight() + 16;
    // Only the page shown counts for the pages' size.
    for (int i = 0; i < tabs_->count(); ++i)
        tabs_->widget(i)->setSizePolicy(i == index ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                                        i == index ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    const QPoint topLeft = window_->pos();
    const int toolbarHeight = toolbar_->sizeHint().height();
    window_->setFixedSize(contentWidth, toolbarHeight + pageHeight + 8 + 8);
    if (window_->isVisible())
        window_->move(topLeft);
}

void SettingsController::chooseFromKeyboard(int index) {
    const int count = int(sections().size());
    index = (index % count + count) % count;
    select(index, true);
    if (std::size_t(index) < sectionTabs_.size())
        sectionTabs_[std::size_t(index)]->setFocus(Qt::TabFocusReason);
}

bool SettingsController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !window_)
        return QObject::eventFilter(watched, event);
    NUVEL_MAIN_ACTOR_ENTRY();
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    const int current = selectedSection();
    if (watched == window_) {
        // Ctrl+Shift+Tab arrives as Backtab.
        const bool control = modifiers & Qt::ControlModifier;
        if (control && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_PageDown)) {
            chooseFromKeyboard(current + 1);
            return true;
        }
        if (control && (key->key() == Qt::Key_Backtab || key->key() == Qt::Key_PageUp)) {
            chooseFromKeyboard(current - 1);
            return true;
        }
        if (key->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
            window_->close();
            return true;
        }
        return false;
    }
    if (modifiers != Qt::NoModifier)
        return false;
    // On a section's tab: the arrows go to the neighbour on that side of the screen.
    const bool mirrored = static_cast<QWidget*>(watched)->isRightToLeft();
    switch (key->key()) {
    case Qt::Key_Right:
        chooseFromKeyboard(current + (mirrored ? -1 : 1));
        return true;
    case Qt::Key_Left:
        chooseFromKeyboard(current + (mirrored ? 1 : -1));
        return true;
    case Qt::Key_Home:
        chooseFromKeyboard(0);
        return true;
    case Qt::Key_End:
        chooseFromKeyboard(int(sections().size()) - 1);
        return true;
    default:
        return false;
    }
}

int SettingsController::selectedSection() const {
    return tabs_ != nullptr ? tabs_->currentIndex() : -1;
}

void SettingsController::show() {
    NUVEL_MAIN_ACTOR_ENTRY();
    refresh();
    window_->show();
    // Shown, the pages have their final fonts: the height follows them.
    select(selectedSection(), false);
    window_->raise();
    window_->activateWindow();
}

void SettingsController::showSection(int index) {
    show();
    select(index, false);
}

} // namespace nuvel
