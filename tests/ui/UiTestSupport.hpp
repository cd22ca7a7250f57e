#pragma once

// Shared by the interface tests: one QApplication per test program on the offscreen platform,
// with the application's style, a fixed list of preferred languages, and the folder screenshots
// go to.

#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/widgets/ReturnKey.hpp"
#include "Nuvel/ui/widgets/TextDirectionStyle.hpp"

#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QString>
#include <QStringList>
#include <QTextDocument>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace nuvel::test {

namespace detail {
inline QtMessageHandler previousMessageHandler = nullptr;
// The offscreen platform reports every fixed-size window as unsupported; nothing to see.
inline void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QStringLiteral("does not support propagateSizeHints")))
        return;
    // Nor can it fade or raise a window.
    if (message.contains(QStringLiteral("does not support setting window opacity")) ||
        message.contains(QStringLiteral("does not support raise()")))
        return;
    if (previousMessageHandler != nullptr)
        previousMessageHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}
} // namespace detail

inline QApplication& application() {
    static QApplication* app = [] {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "nuvel-ui-tests";
        static char* argv[] = {name, nullptr};
        detail::previousMessageHandler = qInstallMessageHandler(detail::quietMessages);
        auto* made = new QApplication(argc, argv); // lives until the process ends
        useTextDirectionStyle();                   // as the application does
        useReturnAsSpace();
        return made;
    }();
    return *app;
}

// Deletes the objects whose deleteLater has been called.
inline void flushDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Puts a list of preferred languages in place for as long as it lives.
class PreferredLanguagesScope {
public:
    explicit PreferredLanguagesScope(QStringList languages) {
        setPreferredLanguagesSource([languages] { return languages; });
    }
    ~PreferredLanguagesScope() { setPreferredLanguagesSource({}); }
    PreferredLanguagesScope(const PreferredLanguagesScope&) = delete;
    PreferredLanguagesScope& operator=(const PreferredLanguagesScope&) = delete;
};

// Puts a locale and a time zone in place for the dates the windows write, for as long as it
// lives (the process's defaults, taken from the environment, otherwise).
class DateLocaleScope {
public:
    DateLocaleScope(const char* locale, const char* zone)
        : locale_(icu::Locale::getDefault()), zone_(icu::TimeZone::createDefault()) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone)));
    }
    ~DateLocaleScope() {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(locale_, status);
        icu::TimeZone::adoptDefault(zone_.release());
    }
    DateLocaleScope(const DateLocaleScope&) = delete;
    DateLocaleScope& operator=(const DateLocaleScope&) = delete;

private:
    icu::Locale locale_;
    std::unique_ptr<icu::TimeZone> zone_;
};

// A tooltip as the user reads it. Qt renders a tooltip that looks like markup as rich text, so
// what shows is that document's text, where an image stands as U+FFFC.
inline QString toolTipAsRead(const QString& tip) {
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

// What a screen reader reads of a widget: its accessible name, and after it its description.
inline QString nameAsRead(const QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget));
    return accessible != nullptr ? accessible->text(QAccessible::Name) : QString();
}
inline QString descriptionAsRead(const QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget));
    return accessible != nullptr ? accessible->text(QAccessible::Description) : QString();
}

// $NUVEL_TEST_ARTIFACTS when set, else the build folder.
inline std::filesystem::path artifactsFolder() {
    if (const char* folder = std::getenv("NUVEL_TEST_ARTIFACTS"); folder != nullptr && *folder != '\0') {
        std::filesystem::create_directories(folder);
        return folder;
    }
    return NUVEL_BINARY_DIR;
}

} // namespace nuvel::test
