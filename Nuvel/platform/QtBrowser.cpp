#include "Nuvel/platform/QtBrowser.hpp"

#include <QDesktopServices>
#include <QUrl>

namespace nuvel {

bool QtBrowser::open(const std::string& url) {
    QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    if (!address.isValid() ||
        (address.scheme() != QStringLiteral("https") && address.scheme() != QStringLiteral("http")))
        return false;
    return QDesktopServices::openUrl(address);
}

} // namespace nuvel
