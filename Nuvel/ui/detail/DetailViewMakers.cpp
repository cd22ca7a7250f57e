#include "Nuvel/ui/detail/DetailViewMakers.hpp"

#include <QApplication>
#include <QLabel>

namespace nuvel {

QIcon themedIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

QLabel* plainLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* smallLabel(bool secondary) {
    auto* label = plainLabel();
    QFont font = label->font();
    font.setPointSizeF(12);
    label->setFont(font);
    label->setWordWrap(true);
    if (secondary)
        label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace nuvel
