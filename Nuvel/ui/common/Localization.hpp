#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace nuvel {

// Every sentence the interface shows, the model's status lines included, passes through here.
// The sentences are written once, in English, as keys, and shown through the application's
// installed translators in context "Nuvel": the English wording (EnglishWording, installed at
// start-up) gives the words of this desktop.

// The displayed form of a key: for the model's `localize` hook.
std::string localize(std::string_view key);
// The same for the windows' own texts.
QString localized(const char* key);
QString localized(const QString& key);

} // namespace nuvel
