#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"

#include "Nuvel/ui/common/PreferredLanguages.hpp"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QTime>
#include <QWidget>
#include <cmath>
#include <cstdint>
#include <limits>

namespace nuvel {

QString formatDuration(double seconds) {
    std::int64_t whole = 0;
    if (std::isnan(seconds) || seconds <= 0) {
        whole = 0;
    } else if (seconds >= 9223372036854775808.0) { // 2^63: the conversion below would overflow
        whole = std::numeric_limits<std::int64_t>::max();
    } else {
        whole = static_cast<std::int64_t>(seconds); // truncates toward zero
    }
    const long long s = whole;
    if (s >= 3600)
        return QString::asprintf("%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    return QString::asprintf("%02lld:%02lld", s / 60, s % 60);
}

QString hoursAndMinutesFormat(const QString& shortFormat) {
    QString kept;
    bool quoted = false;
    const qsizetype n = shortFormat.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = shortFormat[i];
        if (c == QLatin1Char('\'')) // a quote opens or closes literal text; '' is a quote itself
            quoted = !quoted;
        if (quoted || c != QLatin1Char('s')) {
            kept += c;
            continue;
        }
        while (i + 1 < n && shortFormat[i + 1] == QLatin1Char('s'))
            ++i;
        if (i + 2 < n && shortFormat[i + 1] == QLatin1Char('.') && shortFormat[i + 2] == QLatin1Char('z'))
            ++i;
        while (i + 1 < n && shortFormat[i + 1] == QLatin1Char('z'))
            ++i;
        if (!kept.isEmpty() && !kept.back().isLetterOrNumber() && kept.back() != QLatin1Char('\''))
            kept.chop(1);
    }
    return kept.trimmed();
}

QString shortTimeText(const QLocale& locale, const QTime& time) {
    return locale.toString(time, hoursAndMinutesFormat(locale.timeFormat(QLocale::ShortFormat)));
}

QFont systemFont(double pointSize, QFont::Weight weight) {
    QFont font = QGuiApplication::font();
    if (std::isfinite(pointSize) && pointSize > 0)
        font.setPointSizeF(pointSize);
    font.setWeight(weight);
    return font;
}

QString plainToolTip(const QString& text) {
    if (text.isEmpty())
        return {};
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void setPlainToolTip(QWidget* widget, const QString& text) {
    widget->setToolTip(plainToolTip(text));
    widget->setAccessibleDescription(withoutDirectionMarks(text));
}

QString withoutDirectionMarks(const QString& text) {
    QString plain = text;
    plain.removeIf([](QChar c) {
        const char16_t code = c.unicode();
        return code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
               (code >= 0x2066 && code <= 0x2069);
    });
    return plain;
}

QLabel* makeLabel(const QString& text, double pointSize, QFont::Weight weight) {
    auto* label = new QLabel;
    // Plain text always: a caller's text that looks like markup is shown as written.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(false);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setFont(systemFont(pointSize, weight));
    label->setAlignment(preferredTextAlignment());
    return label;
}

void pinToSuperview(QWidget* view, QWidget* container, double inset) {
    if (view == nullptr || container == nullptr || view == container)
        return;
    const int margin = std::isfinite(inset) && inset > 0 ? static_cast<int>(std::lround(inset)) : 0;
    auto* grid = qobject_cast<QGridLayout*>(container->layout());
    if (grid == nullptr && container->layout() == nullptr) {
        grid = new QGridLayout(container);
        grid->setSpacing(0);
    }
    // Adding to the layout makes the view a child of the container (shown unless it was
    // explicitly hidden).
    if (grid != nullptr) {
        grid->setContentsMargins(margin, margin, margin, margin);
        grid->addWidget(view, 0, 0);
    } else {
        // The container is laid out by a layout of its own: the view joins it.
        container->layout()->addWidget(view);
    }
}

} // namespace nuvel
