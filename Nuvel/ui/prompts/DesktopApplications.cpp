#include "Nuvel/ui/prompts/DesktopApplications.hpp"

#include "Nuvel/platform/RunningApplications.hpp"
#include "Nuvel/platform/WindowThreadRefusal.hpp"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QStringList>
#include <unistd.h>

namespace nuvel {

namespace {

std::optional<RunningApplication> runningApplication(const std::string& bundleID) {
    checkBlockingWorkAllowed("the scan for a running application", "scan the processes");
    ProcessScanner scanner;
    for (RunningApplication& application : scanner.runningApplications(::getuid()))
        if (application.bundleID == bundleID)
            return std::move(application);
    return std::nullopt;
}

std::optional<DesktopEntry> entryFor(const std::string& bundleID,
                                     const std::optional<RunningApplication>& running) {
    if (running && running->desktopID)
        if (auto entry = findDesktopEntry(QString::fromStdString(*running->desktopID)))
            return entry;
    return findDesktopEntry(QString::fromStdString(bundleID));
}

QIcon iconOf(const DesktopEntry& entry) {
    if (entry.icon.isEmpty())
        return {};
    if (QFileInfo(entry.icon).isAbsolute())
        return QFileInfo::exists(entry.icon) ? QIcon(entry.icon) : QIcon();
    return QIcon::fromTheme(entry.icon);
}

} // namespace

std::optional<QIcon> applicationIcon(const std::optional<std::string>& bundleID) {
    if (!bundleID || bundleID->empty())
        return std::nullopt;
    QString id = QString::fromStdString(*bundleID);
    if (id.endsWith(QStringLiteral(".desktop")))
        id.chop(8);
    const std::optional<DesktopEntry> entry = findDesktopEntry(id);
    if (!entry)
        return std::nullopt;
    QIcon icon = iconOf(*entry);
    if (icon.isNull())
        return std::nullopt;
    return icon;
}

std::optional<DesktopEntry> parseDesktopEntry(const QString& text, const QString& language) {
    const QString shortLanguage = language.section(QLatin1Char('_'), 0, 0);
    bool inGroup = false;
    bool found = false;
    QString name, localizedName, shortName, icon;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            if (inGroup)
                break;
            inGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inGroup || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QStringLiteral("Name")) {
            name = value;
            found = true;
        } else if (!language.isEmpty() && key == QStringLiteral("Name[%1]").arg(language)) {
            localizedName = value;
        } else if (!shortLanguage.isEmpty() && key == QStringLiteral("Name[%1]").arg(shortLanguage)) {
            shortName = value;
        } else if (key == QStringLiteral("Icon")) {
            icon = value;
        }
    }
    if (!found || name.isEmpty())
        return std::nullopt;
    const QString shown =
        !localizedName.isEmpty() ? localizedName : (!shortName.isEmpty() ? shortName : name);
    return DesktopEntry{shown, icon};
}

std::optional<DesktopEntry> findDesktopEntry(const QString& desktopID) {
    if (desktopID.isEmpty() || desktopID.contains(QLatin1Char('/')))
        return std::nullopt;
    const QString path =
        QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopID + QStringLiteral(".desktop"));
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseDesktopEntry(QString::fromUtf8(file.read(1 << 20)), QLocale().name());
}

MeetingPrompts::Applications desktopApplications() {
    MeetingPrompts::Applications applications;
    applications.running = [](const std::string& bundleID) -> std::optional<MeetingPrompts::Running> {
        const std::optional<RunningApplication> running = runningApplication(bundleID);
        if (!running)
            return std::nullopt;
        MeetingPrompts::Running shown;
        shown.iconID = bundleID;
        if (running->desktopID && findDesktopEntry(QString::fromStdString(*running->desktopID)))
            shown.iconID = *running->desktopID;
        if (auto entry = entryFor(bundleID, running))
            shown.name = entry->name;
        return shown;
    };
    applications.icon = [](const std::string& id) -> QIcon {
        const std::optional<DesktopEntry> entry = findDesktopEntry(QString::fromStdString(id));
        return entry ? iconOf(*entry) : QIcon();
    };
    return applications;
}

} // namespace nuvel
