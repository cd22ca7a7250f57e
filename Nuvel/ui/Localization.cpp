#include "Nuvel/ui/Localization.hpp"

#include <QCoreApplication>

namespace nuvel {

namespace {

WordingTable& table() {
    static WordingTable current;
    return current;
}

QString translated(const QString& key) {
    if (QCoreApplication::instance() == nullptr)
        return key;
    const QByteArray utf8 = key.toUtf8();
    return QCoreApplication::translate("Nuvel", utf8.constData());
}

} // namespace

void setWordingTable(WordingTable replacement) {
    table() = std::move(replacement);
}

QString localized(const QString& key) {
    QString text = translated(key);
    if (text == key && table()) {
        const QByteArray utf8 = key.toUtf8();
        if (auto wording = table()(std::string_view(utf8.constData(), std::size_t(utf8.size()))))
            return QString::fromStdString(*wording);
    }
    return text;
}

QString localized(const char* key) {
    return localized(QString::fromUtf8(key));
}

std::string localize(std::string_view key) {
    return localized(QString::fromUtf8(key.data(), qsizetype(key.size()))).toStdString();
}

} // namespace nuvel
