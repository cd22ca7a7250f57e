#include "Nuvel/ui/widgets/ViewFactories.hpp"

#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <cmath>
#include <utility>

namespace nuvel {

namespace {

int whole(double spacing) {
    return std::isfinite(spacing) && spacing > 0 ? static_cast<int>(std::lround(spacing)) : 0;
}

// The interface's symbol names and the freedesktop icon-theme names that stand for them.
struct SymbolName {
    std::string_view symbol;
    const char* themeName;
};
constexpr SymbolName symbolNames[] = {
    {"play.fill", "media-playback-start"},
    {"pause.fill", "media-playback-pause"},
    {"stop.fill", "media-playback-stop"},
    {"bookmark", "bookmark-new"},
    {"arrow.up.circle", "go-up"},
    {"arrow.clockwise", "view-refresh"},
    {"arrow.up.right.square", "document-open"},
    {"square.and.arrow.up", "document-save-as"},
    {"square.and.arrow.down", "document-open"},
    {"trash", "user-trash"},
    {"record.circle", "media-record"},
    {"waveform", "audio-x-generic"},
    {"person.crop.circle", "avatar-default"},
    {"calendar", "x-office-calendar"},
    {"exclamationmark.triangle", "dialog-warning"},
    {"icloud.slash", "network-offline"},
    {"doc.text.magnifyingglass", "edit-find"},
    {"text.bubble", "dialog-information"},
};

} // namespace

QIcon symbolNamed(std::string_view symbol) {
    for (const SymbolName& name : symbolNames)
        if (name.symbol == symbol)
            return QIcon::fromTheme(QString::fromLatin1(name.themeName));
    return {};
}

QPushButton* makeActionButton(const QString& title, std::optional<std::string_view> symbol,
                              std::function<void()> action) {
    auto* button = new QPushButton(localized(title));
    button->setLayoutDirection(preferredLayoutDirection());
    if (symbol) {
        const QIcon icon = symbolNamed(*symbol);
        if (!icon.isNull())
            button->setIcon(icon);
    }
    if (action)
        QObject::connect(button, &QPushButton::clicked, button, [action = std::move(action)] { action(); });
    return button;
}

QWidget* makeRow(const QList<QWidget*>& views, double spacing) {
    auto* row = new QWidget;
    row->setLayoutDirection(preferredLayoutDirection());
    row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(whole(spacing));
    for (QWidget* view : views)
        if (view != nullptr)
            layout->addWidget(view);
    layout->addStretch(1);
    return row;
}

QWidget* makeStack(const QList<QWidget*>& views, double spacing) {
    auto* stack = new QWidget;
    stack->setLayoutDirection(preferredLayoutDirection());
    auto* layout = new QVBoxLayout(stack);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(whole(spacing));
    for (QWidget* view : views) {
        if (view == nullptr)
            continue;
        // As wide as the stack: the layout stretches the view across, so it must be able to
        // grow and shrink horizontally.
        QSizePolicy policy = view->sizePolicy();
        if (policy.horizontalPolicy() == QSizePolicy::Fixed ||
            policy.horizontalPolicy() == QSizePolicy::Maximum)
            policy.setHorizontalPolicy(QSizePolicy::Preferred);
        view->setSizePolicy(policy);
        view->setMaximumWidth(QWIDGETSIZE_MAX);
        layout->addWidget(view);
    }
    return stack;
}

QLabel* makeWrappingLabel(const QString& text, double pointSize, QFont::Weight weight) {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setFont(systemFont(pointSize, weight));
    label->setAlignment(preferredTextAlignment());
    // Low resistance to compression: a minimum width of its own below the longest word.
    label->setMinimumWidth(1);
    return label;
}

} // namespace nuvel
