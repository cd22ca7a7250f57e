#include "Nuvel/ui/prompts/MeetingPromptPanel.hpp"

#include "Nuvel/model/cloud/ContinuousSleep.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/prompts/PromptWindow.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"
#include "Nuvel/ui/widgets/ElidingLabel.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/MenuButton.hpp"
#include "Nuvel/ui/widgets/SymbolIcons.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"
#include "NuvelKit/support/Time.hpp"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace nuvel {

namespace {

constexpr int margin = 14;
constexpr int iconSize = 36;
constexpr int iconGap = 12;
constexpr int detailWidth = 284;
constexpr int detailLines = 3;
constexpr int initialHeight = 96;

QString text(const char* key) {
    return QCoreApplication::translate("MeetingPromptPanel", key);
}

void useSecondaryTextColour(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    widget->setPalette(palette);
}

// The text as it fits in `lines` lines of `width`: whole when it does, else the lines that fit
// and a last line cut with an ellipsis.
QString clampedToLines(const QString& original, const QFont& font, int width, int lines) {
    QString text = original;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QList<int> starts;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        starts.push_back(line.textStart());
    }
    layout.endLayout();
    if (starts.size() <= lines)
        return original;
    QString kept = original.left(starts[lines - 1]);
    QString last = original.mid(starts[lines - 1]);
    last.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return kept + QFontMetrics(font).elidedText(last, Qt::ElideRight, width);
}

QPushButton* makeButton(const QString& title, const char* name) {
    auto* button = new QPushButton(title);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

MeetingPromptPanel::MeetingPromptPanel(MainQueue& queue, QObject* parent) : QObject(parent), queue_(&queue) {
    openURL = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    continuousNow = [] { return continuousTimeSeconds(); };
}

MeetingPromptPanel::~MeetingPromptPanel() {
    if (dismissal_)
        queue_->cancelTimer(*dismissal_);
    delete panel_.data();
}

void MeetingPromptPanel::requireMain(const char* where) const {
    queue_->requireCurrent(where);
}

QWidget* MeetingPromptPanel::panel() const {
    return panel_.data();
}

void MeetingPromptPanel::show(const Content& content, double dismissAfter) {
    requireMain("MeetingPromptPanel::show");
    dismiss();
    PromptWindow* window = build(content);
    place(window);
    panel_ = window;
    // Shown, the window tells a screen reader that a notification came, which it reads out: its
    // name is the prompt's title and its description the whole detail, though it shows cut.
    window->fadeIn(fadeInSeconds);

    dismissAt(continuousNow() + dismissAfter);
}

void MeetingPromptPanel::dismissAt(double deadline) {
    const double left = deadline - continuousNow();
    if (!(left > 0)) {
        dismiss();
        return;
    }
    QPointer<MeetingPromptPanel> self(this);
    dismissal_ = queue_->startTimer(std::min(left, continuousSleepStep), [self, deadline] {
        if (!self)
            return;
        self->dismissal_.reset();
        self->dismissAt(deadline);
    });
}

void MeetingPromptPanel::dismiss() {
    requireMain("MeetingPromptPanel::dismiss");
    if (dismissal_)
        queue_->cancelTimer(*dismissal_);
    dismissal_.reset();
    if (!panel_)
        return;
    PromptWindow* window = panel_.data();
    panel_.clear();
    window->fadeOut(fadeOutSeconds);
}

void MeetingPromptPanel::record() {
    requireMain("MeetingPromptPanel::record");
    auto callback = onRecord;
    dismiss();
    if (callback)
        callback();
}

void MeetingPromptPanel::dismissPrompt() {
    requireMain("MeetingPromptPanel::dismissPrompt");
    dismiss();
}

void MeetingPromptPanel::mute() {
    requireMain("MeetingPromptPanel::mute");
    auto callback = onMute;
    dismiss();
    if (callback)
        callback();
}

void MeetingPromptPanel::settings() {
    requireMain("MeetingPromptPanel::settings");
    auto callback = onSettings;
    dismiss();
    if (callback)
        callback();
}

void MeetingPromptPanel::openJoin() {
    requireMain("MeetingPromptPanel::openJoin");
    if (joinURL_ && openURL)
        openURL(*joinURL_);
}

PromptWindow* MeetingPromptPanel::build(const Content& content) {
    const Qt::LayoutDirection direction = preferredLayoutDirection();
    auto* window = new PromptWindow(*queue_);
    window->setObjectName(QStringLiteral("meeting-prompt"));
    // The texts keep their direction marks where they are drawn; a screen reader gets them without.
    window->setAccessibleName(withoutDirectionMarks(content.title));
    window->setAccessibleDescription(withoutDirectionMarks(content.detail));
    markAsNotification(window);
    window->setLayoutDirection(direction);
    window->resize(width, initialHeight);

    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("meeting-prompt-icon"));
    icon->setFixedSize(iconSize, iconSize);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(content.icon.pixmap(QSize(iconSize, iconSize), window->devicePixelRatioF()));

    auto* title = new ElidingLabel(content.title, 13, QFont::DemiBold);
    title->setObjectName(QStringLiteral("meeting-prompt-title"));
    title->setAccessibleName(withoutDirectionMarks(content.title));
    QLabel* detail = makeWrappingLabel(QString(), 12, QFont::Normal);
    detail->setObjectName(QStringLiteral("meeting-prompt-detail"));
    detail->setTextInteractionFlags(Qt::NoTextInteraction);
    detail->setText(clampedToLines(content.detail, detail->font(), detailWidth, detailLines));
    detail->setAccessibleName(withoutDirectionMarks(content.detail));
    useSecondaryTextColour(detail);
    for (QLabel* label : {static_cast<QLabel*>(title), detail})
        label->setLayoutDirection(direction);

    QWidget* texts = makeStack({title, detail}, 2);
    texts->setContentsMargins(0, 1, 0, 0);
    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("meeting-prompt-header"));
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(iconGap);
    headerLayout->addWidget(icon, 0, Qt::AlignTop);
    headerLayout->addWidget(texts, 1, Qt::AlignTop);

    auto* options = new MenuButton;
    options->setObjectName(QStringLiteral("meeting-prompt-options"));
    options->setFocusPolicy(Qt::NoFocus);
    options->setStyleSheet(QStringLiteral("QPushButton::menu-indicator { image: none; width: 0px; }"));
    options->setIcon(symbolIcon(Symbol::ellipsisCircle, options->palette().color(QPalette::ButtonText)));
    options->setToolTip(text("Options"));
    options->setAccessibleName(text("Options"));
    QMenu* menu = options->menu();
    menu->setObjectName(QStringLiteral("meeting-prompt-options-menu"));
    if (content.muteTitle) {
        QAction* muteItem = menu->addAction(*content.muteTitle);
        muteItem->setObjectName(QStringLiteral("meeting-prompt-mute"));
        connect(muteItem, &QAction::triggered, this, &MeetingPromptPanel::mute);
    }
    QAction* settingsItem = menu->addAction(text("Meeting detection settings…"));
    settingsItem->setObjectName(QStringLiteral("meeting-prompt-settings"));
    connect(settingsItem, &QAction::triggered, this, &MeetingPromptPanel::settings);

    auto* buttons = new QWidget;
    buttons->setObjectName(QStringLiteral("meeting-prompt-buttons"));
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(options);
    row->addStretch(1);
    joinURL_ = content.joinURL;
    if (content.joinURL) {
        QPushButton* join = makeButton(text("Join"), "meeting-prompt-join");
        setPlainToolTip(join, content.joinURL->host());
        connect(join, &QPushButton::clicked, this, &MeetingPromptPanel::openJoin);
        row->addWidget(join);
    }
    QPushButton* dismissButton = makeButton(text("Dismiss"), "meeting-prompt-dismiss");
    connect(dismissButton, &QPushButton::clicked, this, &MeetingPromptPanel::dismissPrompt);
    row->addWidget(dismissButton);
    QPushButton* recordButton = makeButton(text("Record…"), "meeting-prompt-record");
    connect(recordButton, &QPushButton::clicked, this, &MeetingPromptPanel::record);
    row->addWidget(recordButton);

    auto* column = new QVBoxLayout(window);
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(12);
    column->addWidget(header);
    column->addWidget(buttons);

    // As tall as its content at the fixed width.
    window->setFixedWidth(width);
    column->activate();
    const int height =
        column->hasHeightForWidth() ? column->totalHeightForWidth(width) : column->totalSizeHint().height();
    window->setFixedSize(width, height);
    return window;
}

void MeetingPromptPanel::place(PromptWindow* window) const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect visible = screen->availableGeometry();
    const int x = prefersRightToLeft() ? visible.left() + screenMargin
                                       : visible.left() + visible.width() - screenMargin - window->width();
    window->move(x, visible.top() + screenMargin);
}

} // namespace nuvel
