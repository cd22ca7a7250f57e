#include "Nuvel/ui/common/PreferredLanguages.hpp"

#include <QLocale>

namespace nuvel {

namespace {

std::function<QStringList()>& source() {
    static std::function<QStringList()> current;
    return current;
}

} // namespace

void setPreferredLanguagesSource(std::function<QStringList()> replacement) {
    source() = std::move(replacement);
}

QStringList preferredLanguages() {
    if (source())
        return source()();
    return QLocale::system().uiLanguages();
}

bool prefersRightToLeft() {
    const QStringList languages = preferredLanguages();
    return !languages.isEmpty() && languages.first().startsWith(QStringLiteral("ar"));
}

Qt::LayoutDirection preferredLayoutDirection() {
    return prefersRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
}

Qt::Alignment preferredTextAlignment() {
    // Absolute: "right" must stay right whatever direction the label itself is laid out in.
    return (prefersRightToLeft() ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute | Qt::AlignVCenter;
}

} // namespace nuvel
