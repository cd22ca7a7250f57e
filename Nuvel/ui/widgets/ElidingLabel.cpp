#include "Nuvel/ui/widgets/ElidingLabel.hpp"

#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"

#include <QPainter>
#include <QStyle>

namespace nuvel {

ElidingLabel::ElidingLabel(const QString& text, double pointSize, QFont::Weight weight, QWidget* parent)
    : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setText(text);
    setWordWrap(false);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setFont(systemFont(pointSize, weight));
    setAlignment(preferredTextAlignment());
}

QString ElidingLabel::displayedText() const {
    return fontMetrics().elidedText(text(), mode_, contentsRect().width());
}

QSize ElidingLabel::minimumSizeHint() const {
    return QSize(0, QLabel::minimumSizeHint().height());
}

void ElidingLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Qt::Alignment aligned = QStyle::visualAlignment(layoutDirection(), alignment());
    style()->drawItemText(&painter, contentsRect(), int(aligned), palette(), isEnabled(), displayedText(),
                          foregroundRole());
}

} // namespace nuvel
