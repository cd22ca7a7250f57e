#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// Every sentence the interface shows, the model's status lines included, passes through here.
// The sentences are written once, in English, as keys; the translation catalogue of the
// running language (QCoreApplication::translate, context "Nuvel") is asked first, then the
// English wording table gives the words shown for this desktop.

// The English wording table: the displayed text for a key, none to show the key itself.
using WordingTable = std::function<std::optional<std::string>(std::string_view key)>;
// Puts a table in place (an empty function removes it). Main thread, before windows exist.
void setWordingTable(WordingTable table);

// The displayed form of a key: for the model's `localize` hook.
std::string localize(std::string_view key);
// The same for the windows' own texts.
QString localized(const char* key);
QString localized(const QString& key);

} // namespace nuvel
