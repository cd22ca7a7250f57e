#include "Nuvel/ui/common/Localization.hpp"

#include <QCoreApplication>

namespace nuvel {

namespace {

QString translated(const QString& key) {
    if (QCoreApplication::instance() == nullptr)
        return key;
    const QByteArray utf8 = key.toUtf8();
    return QCoreApplication::translate("Nuvel", utf8.constData());
}

} // namespace

QString localized(const QString& key) {
    return translated(key);
}

QString localized(const char* key) {
    return localized(QString::fromUtf8(key));
}

std::string localize(std::string_view key) {
    return localized(QString::fromUtf8(key.data(), qsizetype(key.size()))).toStdString();
}

} // namespace nuvel
