#include "Nuvel/ui/ViewFactories.hpp"

#include "Nuvel/ui/InterfaceHelpers.hpp"
#include "Nuvel/ui/PreferredLanguages.hpp"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>

namespace nuvel {

QWidget* makeStack(const QList<QWidget*>& views, double spacing) {
    auto* stack = new QWidget;
    stack->setLayoutDirection(preferredLayoutDirection());
    auto* layout = new QVBoxLayout(stack);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(std::isfinite(spacing) && spacing > 0 ? static_cast<int>(std::lround(spacing)) : 0);
    for (QWidget* view : views) {
        if (view == nullptr)
            continue;
        // As wide as the stack: the layout stretches the view across, so it must be able to
        // grow and shrink horizontally.
        QSizePolicy policy = view->sizePolicy();
        if (policy.horizontalPolicy() == QSizePolicy::Fixed || policy.horizontalPolicy() == QSizePolicy::Maximum)
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
